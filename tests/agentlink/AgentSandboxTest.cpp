// Connecting to agents at "/var/run/<bundle identifier>.socket": listeners made by
// the test, and the real RInstallerAgent; inside tests/sandbox (a private /var/run).
#include "AgentProcess.h"
#include "LinkTestSupport.h"

#include "agentlink/PHClientProtocolHandler.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <poll.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace {

using namespace std::chrono_literals;

std::string socketPath(const std::string& identifier) {
    return "/var/run/" + identifier + ".socket";
}

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    return address;
}

int connectTo(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = addressOf(path);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}

void sendRaw(int fd, const std::string& bytes) {
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

/// A stand-in agent at the socket of \p identifier, serving one connection on a
/// thread: reads one frame, answers \p reply after \p delay (none: closes at
/// once), waits for the client to close. Yields the frame it read.
std::future<std::string> fakeAgent(const std::string& identifier, const std::string& reply,
                                   std::chrono::milliseconds delay = 0ms) {
    const std::string path = socketPath(identifier);
    ::unlink(path.c_str());
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = addressOf(path);
    EXPECT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path;
    EXPECT_EQ(::listen(listener, 1), 0);
    return std::async(std::launch::async, [=] {
        pollfd ready{listener, POLLIN, 0};
        const int fd = ::poll(&ready, 1, 10000) == 1 ? ::accept(listener, nullptr, nullptr) : -1;
        timeval timeout{10, 0}; // no client keeps it waiting longer
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        std::string frame(kFrameHeaderSize, '\0');
        ::recv(fd, frame.data(), frame.size(), MSG_WAITALL);
        frame.resize(kFrameHeaderSize + readFrameHeader(frame).bodyLength);
        ::recv(fd, frame.data() + kFrameHeaderSize, frame.size() - kFrameHeaderSize, MSG_WAITALL);
        std::this_thread::sleep_for(delay);
        sendRaw(fd, reply);
        for (char byte; !reply.empty() && ::recv(fd, &byte, 1, 0) > 0;) {
        }
        ::close(fd);
        ::close(listener);
        ::unlink(path.c_str());
        return frame;
    });
}

/// A client protocol handler with a recorder of its reports, inside the sandbox.
class ConnectPrivilegedAgent : public testing::Test {
protected:
    void SetUp() override {
        const char* sandbox = std::getenv("QVT_SANDBOX");
        if (!sandbox || std::string(sandbox) != "1")
            GTEST_SKIP() << "needs the test sandbox (tests/sandbox), which gives a private /var/run";
        handler.setDelegate(delegate);
    }

    std::shared_ptr<DelegateRecorder> delegate = std::make_shared<DelegateRecorder>();
    PHClientProtocolHandler handler{-1, false};
};

TEST_F(ConnectPrivilegedAgent, OnlyATextVersionWithinTwoSecondsIsAnAnswerAndAConnectionKeptHasNoTimeOut) {
    const std::string fits = "com." + std::string(83, 'a'); // 87 bytes: the longest identifier that fits
    const std::string tooLong = fits + "a", replies = "com.quorvantis.tests.replies";
    const std::string notConnected = "Can't send message, not connected, error: -102";
    const std::string noName = "IOException: Bundle name too long for Unix domain socket name, error: 104";
    const std::string late = "Failed to read message header, error: 11";
    // The reply to the version request: none, no agent listens; empty, the agent closes.
    const struct {
        std::string identifier;
        std::optional<std::string> reply;
        std::chrono::milliseconds delay;
        std::optional<std::string> version;
        bool connected;
        std::string report, log; // "": none
    } cases[] = {
        {fits, writeFrame(R"({"version":"1.2.3"})"), 0ms, "1.2.3", true, "", ""},
        {"com.quorvantis.tests.absent", std::nullopt, 0ms, std::nullopt, false, notConnected,
         "IOException: Failed to connect Unix domain socket, error: 2"},
        {tooLong, std::nullopt, 0ms, std::nullopt, false, notConnected, noName},
        {replies, "", 0ms, std::nullopt, false, "closed", "PHProtocolhandler Read failed: 32"},
        {replies, writeFrame(R"({"status":0})"), 0ms, std::nullopt, true, "", ""},
        {replies, writeFrame(R"({"version":3})"), 0ms, std::nullopt, true, "", ""},
        {replies, writeFrame(R"({"version":"1.2.3"})"), 3s, std::nullopt, false, late,
         "PHProtocolhandler Read failed: 11"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.identifier + " " + c.reply.value_or("(no agent)"));
        auto recorder = std::make_shared<DelegateRecorder>();
        PHClientProtocolHandler client(-1, false);
        client.setDelegate(recorder);
        std::future<std::string> agent;
        if (c.reply)
            agent = fakeAgent(c.identifier, *c.reply, c.delay);
        const auto log = logLines([&] { EXPECT_EQ(client.connectPrivilegedAgent(c.identifier), c.version); });
        EXPECT_EQ(log, c.log.empty() ? std::vector<std::string>{} : std::vector{c.log});
        ASSERT_EQ(client.isConnected(), c.connected);
        if (c.connected) {
            timeval timeout{1, 1};
            socklen_t size = sizeof timeout;
            ASSERT_EQ(::getsockopt(client.conFd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, &size), 0);
            EXPECT_TRUE(timeout.tv_sec == 0 && timeout.tv_usec == 0);
            EXPECT_EQ(::fcntl(client.conFd(), F_GETFL) & O_NONBLOCK, 0);
        }
        client.closeConnection();
        if (c.reply) {
            EXPECT_EQ(agent.get(), R"(F7100015{"Ctrl":"getVersion"})");
        }
        const auto reports = recorder->reports();
        ASSERT_EQ(reports.size(), c.report.empty() ? 0u : 1u);
        if (!reports.empty()) {
            EXPECT_EQ(reports[0].closed ? "closed" : reports[0].error->reason(), c.report);
        }
    }
}

/// The real installer agent, a process of its own with its console log in a file.
class RealAgent : public ConnectPrivilegedAgent {
protected:
    static constexpr const char* kIdentifier = "com.quorvantis.remote.RInstallerAgent";

    void TearDown() override {
        if (m_agent.running())
            m_agent.stop();
        // A sanitizer build of the agent reports into its log.
        EXPECT_EQ(m_agent.log().find("Sanitizer"), std::string::npos) << m_agent.log();
    }

    void startAgent() {
        ASSERT_TRUE(m_agent.start(QVT_AGENT_PATH, "qvt-test-agent"));
        ASSERT_TRUE(waitFor([&] {
            const int fd = connectTo(socketPath(kIdentifier));
            return fd >= 0 && ::close(fd) == 0;
        })) << m_agent.log();
    }

    testsupport::AgentProcess m_agent;
};

TEST_F(RealAgent, ReplacesAStaleSocketFileAnswersItsVersionLogsRequestsAndRemovesTheSocketWhenStopped) {
    ::mkdir("/var/run", 0755);
    std::ofstream(socketPath(kIdentifier)) << "stale";
    startAgent();
    ASSERT_EQ(handler.connectPrivilegedAgent(kIdentifier), QVT_PROJECT_VERSION);
    struct stat status {};
    ASSERT_EQ(::lstat(socketPath(kIdentifier).c_str(), &status), 0);
    EXPECT_TRUE(S_ISSOCK(status.st_mode));
    for (const AgentMessage& request :
         {AgentMessage{{"Ctrl", "bye"}}, AgentMessage{{"Cmd", "Frobnicate"}}, AgentMessage{{"what", 1}}})
        ASSERT_TRUE(handler.sendMessage(request));
    sendRaw(handler.conFd(), writeFrame("{\"a\":\"\xff\"}")); // no text: an empty request
    // The first reply after them answers the version request: the others got none.
    EXPECT_EQ(handler.getAgentVersion(), QVT_PROJECT_VERSION);
    EXPECT_TRUE(delegate->reports().empty());
    handler.closeConnection();
    // Connection 1 was startAgent's probe.
    ASSERT_TRUE(waitFor([&] { return m_agent.logHas("Connection 2: ended"); }));
    EXPECT_EQ(m_agent.stop(), 0);
    EXPECT_NE(::lstat(socketPath(kIdentifier).c_str(), &status), 0) << "socket file left behind";
    const std::string log = m_agent.log();
    for (const char* line :
         {R"(Connection 2: request {"Ctrl":"getVersion"})", R"(Connection 2: request {"Ctrl":"bye"})",
          R"(Connection 2: request {"Cmd":"Frobnicate"})",
          "Connection 2: command not supported, ignored: Frobnicate", R"(Connection 2: request {"what":1})",
          "Connection 2: unknown request ignored", "Connection 2: request {}"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

TEST_F(RealAgent, MalformedInputClosesOnlyThatConnection) {
    startAgent();
    for (const std::string& bad : {std::string("F7100258") + std::string(600, 'x'), std::string("F7100000"),
                                   writeFrame(R"({"Ctrl"})")}) {
        const int fd = connectTo(socketPath(kIdentifier));
        ASSERT_GE(fd, 0);
        sendRaw(fd, bad);
        char byte;
        timeval timeout{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        // End of stream, or a reset when the agent closed with input unread.
        const ssize_t n = ::recv(fd, &byte, 1, 0);
        EXPECT_TRUE(n == 0 || (n < 0 && errno == ECONNRESET))
            << "the agent kept a connection that sent: " << bad;
        ::close(fd);
    }
    // Clients that send nothing or stop inside a header block no one: the hostile-client tests.
    EXPECT_EQ(handler.connectPrivilegedAgent(kIdentifier), QVT_PROJECT_VERSION);
}

} // namespace
