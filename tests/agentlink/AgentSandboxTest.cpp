// Connecting to agents at "/var/run/<bundle identifier>.socket": listeners made
// by the test, and the real RInstallerAgent started as a process. Runs inside
// the test sandbox (tests/sandbox), which gives it a private /var/run.
#include "AgentProcess.h"
#include "LinkTestSupport.h"
#include "LogCapture.h"

#include "agentlink/PHClientProtocolHandler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <signal.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

namespace {

using namespace std::chrono_literals;

bool inSandbox() {
    return std::getenv("QVT_SANDBOX") && std::string(std::getenv("QVT_SANDBOX")) == "1";
}

#define REQUIRE_SANDBOX()                                                                                    \
    if (!inSandbox())                                                                                        \
    GTEST_SKIP() << "needs the test sandbox (tests/sandbox), which gives a private /var/run"

std::string socketPath(const std::string& identifier) {
    return "/var/run/" + identifier + ".socket";
}

int connectTo(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

/// A stand-in agent made by the test: listens at the agent socket and serves
/// each connection with the given behaviour on its own thread.
class FakeAgent {
public:
    using Behaviour = std::function<void(int fd)>;

    FakeAgent(const std::string& identifier, Behaviour behaviour)
        : m_path(socketPath(identifier)), m_behaviour(std::move(behaviour)) {
        ::unlink(m_path.c_str());
        m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", m_path.c_str());
        m_ok = ::bind(m_listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
               ::listen(m_listener, 4) == 0;
        m_thread = std::thread([this] {
            for (;;) {
                const int fd = ::accept(m_listener, nullptr, nullptr);
                if (fd < 0)
                    return;
                m_behaviour(fd);
                ::close(fd);
            }
        });
    }
    FakeAgent(const FakeAgent&) = delete;
    FakeAgent& operator=(const FakeAgent&) = delete;
    ~FakeAgent() {
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
        ::unlink(m_path.c_str());
    }
    bool ok() const { return m_ok; }

private:
    std::string m_path;
    Behaviour m_behaviour;
    int m_listener = -1;
    bool m_ok = false;
    std::thread m_thread;
};

std::string readRequest(int fd) {
    char buffer[64] = {};
    const ssize_t n = ::recv(fd, buffer, 29, MSG_WAITALL);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

void sendRaw(int fd, const std::string& bytes) {
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

/// Waits until the peer closes (or 10 seconds pass).
void waitForClose(int fd) {
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char byte;
    while (::recv(fd, &byte, 1, 0) > 0) {
    }
}

struct Client {
    std::shared_ptr<DelegateRecorder> delegate = std::make_shared<DelegateRecorder>();
    PHClientProtocolHandler handler{-1, false};
    Client() { handler.setDelegate(delegate); }
};

TEST(ConnectPrivilegedAgent, WithNoListenerYieldsNothingAndLogsTheConnectFailure) {
    REQUIRE_SANDBOX();
    Client client;
    LogCapture log;
    EXPECT_FALSE(client.handler.connectPrivilegedAgent("com.quorvantis.tests.absent"));
    log.restore();
    EXPECT_EQ(log.lines(),
              std::vector<std::string>{"IOException: Failed to connect Unix domain socket, error: 2"});
    EXPECT_FALSE(client.handler.isConnected());
    const auto reports = client.delegate->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].error->reason(), "Can't send message, not connected, error: -102");
}

TEST(ConnectPrivilegedAgent, AgentAnsweringItsVersionLeavesTheHandlerConnectedWithoutTimeOut) {
    REQUIRE_SANDBOX();
    std::string request;
    FakeAgent agent("com.quorvantis.tests.answering", [&](int fd) {
        request = readRequest(fd);
        sendRaw(fd, writeFrame(R"({"version":"1.2.3"})"));
        waitForClose(fd);
    });
    ASSERT_TRUE(agent.ok());
    Client client;
    EXPECT_EQ(client.handler.connectPrivilegedAgent("com.quorvantis.tests.answering"), "1.2.3");
    EXPECT_TRUE(client.handler.isConnected());
    timeval timeout{1, 1};
    socklen_t size = sizeof timeout;
    ASSERT_EQ(::getsockopt(client.handler.conFd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, &size), 0);
    EXPECT_EQ(timeout.tv_sec, 0);
    EXPECT_EQ(timeout.tv_usec, 0);
    EXPECT_EQ(::fcntl(client.handler.conFd(), F_GETFL) & O_NONBLOCK, 0);
    client.handler.closeConnection();
    EXPECT_EQ(request, R"(F7100015{"Ctrl":"getVersion"})");
    EXPECT_TRUE(client.delegate->reports().empty());
}

TEST(ConnectPrivilegedAgent, AgentAnsweringAfterThreeSecondsYieldsNothingAndCloses) {
    REQUIRE_SANDBOX();
    FakeAgent agent("com.quorvantis.tests.slow", [&](int fd) {
        readRequest(fd);
        std::this_thread::sleep_for(3s);
        sendRaw(fd, writeFrame(R"({"version":"1.2.3"})"));
    });
    ASSERT_TRUE(agent.ok());
    Client client;
    LogCapture log;
    EXPECT_FALSE(client.handler.connectPrivilegedAgent("com.quorvantis.tests.slow"));
    log.restore();
    EXPECT_FALSE(client.handler.isConnected());
    EXPECT_EQ(log.lines(), std::vector<std::string>{"PHProtocolhandler Read failed: 11"});
    const auto reports = client.delegate->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].error->reason(), "Failed to read message header, error: 11");
}

struct ReplyCase {
    const char* name;
    std::string reply; // empty: the agent closes without answering
    bool connected;
    bool closeReported;
};

class Replies : public testing::TestWithParam<ReplyCase> {};

TEST_P(Replies, WithoutATextVersionYieldNothing) {
    REQUIRE_SANDBOX();
    const std::string identifier = std::string("com.quorvantis.tests.") + GetParam().name;
    FakeAgent agent(identifier, [&](int fd) {
        readRequest(fd);
        if (GetParam().reply.empty())
            return;
        sendRaw(fd, GetParam().reply);
        waitForClose(fd);
    });
    ASSERT_TRUE(agent.ok());
    Client client;
    LogCapture quiet;
    EXPECT_FALSE(client.handler.connectPrivilegedAgent(identifier));
    EXPECT_EQ(client.handler.isConnected(), GetParam().connected);
    client.handler.closeConnection();
    const auto reports = client.delegate->reports();
    EXPECT_EQ(reports.size(), GetParam().closeReported ? 1u : 0u);
    if (GetParam().closeReported && !reports.empty()) {
        EXPECT_TRUE(reports[0].closed);
    }
}

INSTANTIATE_TEST_SUITE_P(
    ConnectPrivilegedAgent, Replies,
    testing::Values(ReplyCase{"closing", "", false, true},
                    ReplyCase{"noVersionKey", writeFrame(R"({"status":0})"), true, false},
                    ReplyCase{"numericVersion", writeFrame(R"({"version":3})"), true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConnectPrivilegedAgent, BundleIdentifiersUpTo87BytesFitTheSocketAddress) {
    REQUIRE_SANDBOX();
    const std::string fits = "com." + std::string(83, 'a');
    ASSERT_EQ(fits.size(), 87u);
    FakeAgent agent(fits, [&](int fd) {
        readRequest(fd);
        sendRaw(fd, writeFrame(R"({"version":"2.0"})"));
        waitForClose(fd);
    });
    ASSERT_TRUE(agent.ok());
    Client client;
    EXPECT_EQ(client.handler.connectPrivilegedAgent(fits), "2.0");
    client.handler.closeConnection();

    Client tooLong;
    LogCapture log;
    EXPECT_FALSE(tooLong.handler.connectPrivilegedAgent(fits + "a"));
    log.restore();
    EXPECT_EQ(log.lines(), std::vector<std::string>{
                               "IOException: Bundle name too long for Unix domain socket name, error: 104"});
    EXPECT_FALSE(tooLong.handler.isConnected());
}

TEST(ConnectPrivilegedAgent, UninstallRequestReturnsTheStatusAsReceived) {
    REQUIRE_SANDBOX();
    std::string request;
    FakeAgent agent("com.quorvantis.tests.uninstall", [&](int fd) {
        readRequest(fd);
        sendRaw(fd, writeFrame(R"({"version":"1.0"})"));
        char buffer[64] = {};
        request = std::string(buffer, static_cast<size_t>(::recv(fd, buffer, 41, MSG_WAITALL)));
        sendRaw(fd, writeFrame(R"({"status":0})"));
        waitForClose(fd);
    });
    ASSERT_TRUE(agent.ok());
    Client client;
    ASSERT_EQ(client.handler.connectPrivilegedAgent("com.quorvantis.tests.uninstall"), "1.0");
    EXPECT_EQ(client.handler.uninstallAgent(), AgentValue(0));
    client.handler.closeConnection();
    EXPECT_EQ(request, R"(F7100021{"Cmd":"UninstallInstallerAgent"})");
}

/// The real installer agent, started as its own process with its console log
/// in a file.
class RealAgent : public testing::Test {
protected:
    static constexpr const char* kIdentifier = "com.quorvantis.remote.RInstallerAgent";

    void SetUp() override {
        if (!inSandbox())
            GTEST_SKIP() << "needs the test sandbox (tests/sandbox), which gives a private /var/run";
    }

    void TearDown() override {
        if (m_agent.running())
            stopAgent();
        // A sanitizer build of the agent reports into its log.
        EXPECT_EQ(agentLog().find("Sanitizer"), std::string::npos) << agentLog();
    }

    void startAgent() {
        ASSERT_TRUE(m_agent.start(QVT_AGENT_PATH, "qvt-test-agent"));
        ASSERT_TRUE(waitFor([&] {
            const int fd = connectTo(socketPath(kIdentifier));
            if (fd >= 0)
                ::close(fd);
            return fd >= 0;
        })) << agentLog();
    }

    /// Stops the agent with SIGTERM; its exit status.
    int stopAgent() { return m_agent.stop(); }

    std::string agentLog() const { return m_agent.log(); }

    testsupport::AgentProcess m_agent;
};

TEST_F(RealAgent, AnswersConnectWithItsEmbeddedVersion) {
    startAgent();
    Client client;
    EXPECT_EQ(client.handler.connectPrivilegedAgent(kIdentifier), QVT_PROJECT_VERSION);
    EXPECT_TRUE(client.handler.isConnected());
    EXPECT_TRUE(client.delegate->reports().empty());
    client.handler.closeConnection();
    EXPECT_EQ(stopAgent(), 0);
    struct stat status {};
    EXPECT_NE(::lstat(socketPath(kIdentifier).c_str(), &status), 0) << "socket file left behind";
    EXPECT_NE(agentLog().find(R"(Connection 2: request {"Ctrl":"getVersion"})"), std::string::npos)
        << agentLog();
}

TEST_F(RealAgent, RemovesAStaleSocketFileBeforeListening) {
    ::mkdir("/var/run", 0755);
    std::ofstream(socketPath(kIdentifier)) << "stale";
    startAgent();
    Client client;
    EXPECT_EQ(client.handler.connectPrivilegedAgent(kIdentifier), QVT_PROJECT_VERSION);
    struct stat status {};
    ASSERT_EQ(::lstat(socketPath(kIdentifier).c_str(), &status), 0);
    EXPECT_TRUE(S_ISSOCK(status.st_mode));
}

TEST_F(RealAgent, SendsNothingForByeLogsAndIgnoresUnknownRequests) {
    startAgent();
    Client client;
    ASSERT_EQ(client.handler.connectPrivilegedAgent(kIdentifier), QVT_PROJECT_VERSION);
    ASSERT_TRUE(client.handler.sendMessage({{"Ctrl", "bye"}}));
    ASSERT_TRUE(client.handler.sendMessage({{"Cmd", "Frobnicate"}}));
    ASSERT_TRUE(client.handler.sendMessage({{"what", 1}}));
    // The first reply after them answers the version request: the others got none.
    EXPECT_EQ(client.handler.getAgentVersion(), QVT_PROJECT_VERSION);
    client.handler.closeConnection();
    // Connection 1 was startAgent's probe.
    ASSERT_TRUE(waitFor([&] { return agentLog().find("Connection 2: ended") != std::string::npos; }));
    const std::string log = agentLog();
    for (const char* line :
         {R"(Connection 2: request {"Ctrl":"bye"})", R"(Connection 2: request {"Cmd":"Frobnicate"})",
          "Connection 2: command not supported, ignored: Frobnicate", R"(Connection 2: request {"what":1})",
          "Connection 2: unknown request ignored"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

TEST_F(RealAgent, MalformedInputClosesOnlyThatConnection) {
    startAgent();
    for (const std::string& bad : {std::string("F7100258") + std::string(600, 'x'), std::string("F7100000"),
                                   writeFrame(R"({"Ctrl"})"), writeFrame("{\"a\":\"\xff\"}")}) {
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
    Client client;
    EXPECT_EQ(client.handler.connectPrivilegedAgent(kIdentifier), QVT_PROJECT_VERSION);
    EXPECT_TRUE(m_agent.running()) << "agent died";
}

TEST_F(RealAgent, ASilentClientDoesNotBlockOthers) {
    startAgent();
    const int silent = connectTo(socketPath(kIdentifier));
    ASSERT_GE(silent, 0);
    const int halfFrame = connectTo(socketPath(kIdentifier));
    sendRaw(halfFrame, "F71000");
    Client client;
    EXPECT_EQ(client.handler.connectPrivilegedAgent(kIdentifier), QVT_PROJECT_VERSION);
    ::close(silent);
    ::close(halfFrame);
}

} // namespace
