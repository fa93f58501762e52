// The real installer agent as root inside the test sandbox, against local users that hold connections
// open, stay silent, connect and close in a loop, or send control characters: root and the installer an
// administrator authorized are still served, and the agent's log stays bounded and one line per event.
#include "AgentProcess.h"
#include "TestSupport.h"

#include "agent/AgentServer.h"
#include "agent/CommandGrant.h"
#include "agent/package/InstallResult.h"
#include "agentlink/AgentCodec.h"
#include "agentlink/PHClientProtocolHandler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kIdentifier = "com.quorvantis.remote.RInstallerAgent";
constexpr const char* kSocket = "/var/run/com.quorvantis.remote.RInstallerAgent.socket";
constexpr const char* kLogFolder = "/var/log/com.quorvantis.remote";

template <class Predicate>
bool waitFor(Predicate done, std::chrono::milliseconds timeout = 10s) {
    for (const auto deadline = Clock::now() + timeout; !done(); std::this_thread::sleep_for(5ms))
        if (Clock::now() > deadline)
            return false;
    return true;
}

/// A plain connection to the agent's socket; -1 when it could not be made.
int connectToAgent() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", kSocket);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

/// Sends \p body as one frame on \p fd.
bool sendFrame(int fd, std::string_view body) {
    const std::string frame = writeFrame(body);
    return ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
}

/// True when the agent answers "getVersion" on \p fd within 5 s (false when it closed the connection).
bool answersVersion(int fd) {
    if (!sendFrame(fd, "{\"Ctrl\":\"getVersion\"}"))
        return false;
    pollfd ready{fd, POLLIN, 0};
    char buffer[kFrameHeaderSize + kMaxFrameBodySize];
    return ::poll(&ready, 1, 5000) == 1 && ::recv(fd, buffer, sizeof buffer, 0) > 0;
}

/// A client as the installer application is one.
class Client {
public:
    bool connect() {
        timeval timeout{20, 0};
        return m_handler.connectPrivilegedAgent(kIdentifier) &&
               ::setsockopt(m_handler.conFd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0;
    }
    std::optional<std::string> version() { return m_handler.getAgentVersion(); }
    /// The status of \p command's completion; -1000 without one.
    int64_t status(const AgentMessage& command) {
        if (!m_handler.sendMessage(command))
            return -1000;
        while (const auto event = m_handler.readMessage())
            if (event->text("Event") == "CommandCompleted")
                return event->integer("status").value_or(-1001);
        return -1000;
    }

private:
    PHClientProtocolHandler m_handler{-1, false};
};

const AgentMessage kUninstall{{"Cmd", "Uninstall"}, {"LoggedInUser", int64_t{0}}, {"RemoveBackups", 0}};

/// A process of a user that opens connections and keeps those the agent serves until it is released.
class ConnectionHolder {
public:
    /// Opens \p connections connections as \p user.
    ConnectionHolder(const std::string& user, int connections) {
        if (::pipe2(m_report, O_CLOEXEC) != 0 || ::pipe2(m_release, O_CLOEXEC) != 0)
            return;
        m_process.emplace(user, [this, connections] {
            // Only the test holds the ends that tell this process to go on.
            ::close(m_release[1]);
            ::close(m_report[0]);
            std::vector<int> open;
            for (int i = 0; i < connections; ++i)
                if (const int fd = connectToAgent(); fd >= 0)
                    open.push_back(fd);
            // The agent answers on the connections it serves and closes the others at once.
            const char served = static_cast<char>(std::count_if(open.begin(), open.end(), answersVersion));
            if (::write(m_report[1], &served, 1) != 1)
                return 1;
            char byte = 0;
            return ::read(m_release[0], &byte, 1) == 1 ? 0 : 2;
        });
        m_process->go();
        ::close(m_report[1]);
        ::close(m_release[0]);
    }
    ConnectionHolder(const ConnectionHolder&) = delete;
    ConnectionHolder& operator=(const ConnectionHolder&) = delete;
    ~ConnectionHolder() { release(); }

    /// How many of its connections the agent serves; -1 when the process failed.
    int served() {
        char count = -1;
        if (m_served < 0 && ::read(m_report[0], &count, 1) == 1)
            m_served = count;
        return m_served;
    }
    /// Closes the connections; the process's exit status.
    int release() {
        // Other processes forked meanwhile hold this end too: the byte, not the end of the pipe, tells.
        if (m_release[1] >= 0 && ::write(m_release[1], "r", 1) == 1)
            ::close(m_release[1]);
        m_release[1] = -1;
        if (m_report[0] >= 0)
            ::close(m_report[0]);
        m_report[0] = -1;
        return m_process ? m_process->wait() : -1;
    }

private:
    int m_report[2] = {-1, -1};
    int m_release[2] = {-1, -1};
    int m_served = -1;
    std::optional<testsupport::UserProcess> m_process;
};

/// The real agent as root (see AgentProcess).
class HostileClients : public testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::rootInSandbox())
            GTEST_SKIP()
                << "needs root inside the test sandbox (tests/sandbox): the agent runs on system paths "
                   "and its clients take other users' identities";
        fs::remove_all("/var/lib/com.quorvantis.remote");
        fs::remove_all(kLogFolder);
        ASSERT_TRUE(m_agent.start(QVT_AGENT_PATH, "qvt-hostile-test"));
        ASSERT_TRUE(waitFor([&] { return logHas("Listening at "); })) << agentLog();
    }
    void TearDown() override {
        if (m_agent.running())
            m_agent.stop();
        EXPECT_EQ(agentLog().find("Sanitizer"), std::string::npos) << agentLog();
    }

    std::string agentLog() const { return m_agent.log(); }
    bool logHas(const std::string& part) const { return m_agent.logHas(part); }
    /// Everything the agent has logged: its standard error and its log files.
    uintmax_t logSize() const {
        uintmax_t size = agentLog().size();
        std::error_code none;
        for (const auto& file : fs::recursive_directory_iterator(kLogFolder, none))
            if (file.is_regular_file())
                size += file.file_size();
        return size;
    }
    /// Waits until the agent has logged nothing new for half a second.
    void waitForQuiet() const {
        for (uintmax_t before = logSize() + 1; before != logSize();) {
            before = logSize();
            std::this_thread::sleep_for(500ms);
        }
    }

    testsupport::AgentProcess m_agent;
};

TEST_F(HostileClients, UsersHoldingEveryConnectionTheyMayDoNotLockOutRootOrTheAuthorizedInstaller) {
    // Eight users try nine connections each: each gets at most eight, and all of them together leave room.
    std::vector<std::unique_ptr<ConnectionHolder>> holders;
    int served = 0;
    for (int i = 0; i < 8; ++i) {
        const std::string user = "qvthold" + std::to_string(i);
        ASSERT_NE(testsupport::makeSandboxUser(user), static_cast<uid_t>(-1));
        holders.push_back(std::make_unique<ConnectionHolder>(user, 9));
        const int count = holders.back()->served();
        EXPECT_TRUE(count >= 0 && count <= 8) << user << " is served on " << count << " connections";
        served += count;
    }
    EXPECT_GE(served, 48) << "users were refused while there was room";
    EXPECT_LE(served, 64 - 8) << "users other than root took the room kept for root and the installer";

    Client root;
    ASSERT_TRUE(root.connect()) << agentLog();
    EXPECT_EQ(root.version(), QVT_PROJECT_VERSION);
    EXPECT_EQ(root.status(kUninstall), InstallResult::NotInstalled) << agentLog();

    // The installer an administrator authorized belongs to a user who holds all the connections it may,
    // and the users hold all they may together.
    const size_t ended = testsupport::count(agentLog(), ": ended");
    EXPECT_EQ(holders.front()->release(), 0);
    EXPECT_TRUE(waitFor([&] { return testsupport::count(agentLog(), ": ended") >= ended + 8; }))
        << agentLog();
    ASSERT_NE(testsupport::makeSandboxUser("qvtinstaller"), static_cast<uid_t>(-1));
    ConnectionHolder sameUser("qvtinstaller", 9);
    EXPECT_EQ(sameUser.served(), 8) << agentLog();
    testsupport::UserProcess installer("qvtinstaller", [] {
        Client client;
        return client.connect() && client.status(kUninstall) == InstallResult::NotInstalled ? 0 : 1;
    });
    const auto grant = CommandGrant::forProcess(testsupport::userId("qvtinstaller"), installer.pid());
    ASSERT_TRUE(grant);
    ASSERT_TRUE(CommandGrant::record(kIdentifier, *grant));
    EXPECT_EQ(installer.wait(), 0) << agentLog();

    for (size_t i = 1; i < holders.size(); ++i)
        EXPECT_EQ(holders[i]->release(), 0);
    EXPECT_EQ(sameUser.release(), 0);
    EXPECT_TRUE(m_agent.running());
}

TEST_F(HostileClients, AClientSilentOrNotReadingForThirtySecondsIsDroppedWithOneLogLine) {
    ASSERT_NE(testsupport::makeSandboxUser("qvtsilent"), static_cast<uid_t>(-1));
    enum class Kind { Silent, HalfAFrame, NotReading };
    const struct {
        const char* name;
        Kind kind;
    } cases[] = {{"nothing sent", Kind::Silent},
                 {"half a frame sent", Kind::HalfAFrame},
                 {"requests sent, no answer read", Kind::NotReading}};
    // All clients at once, each a process of the user: its exit status is the number of seconds the agent
    // kept its connection (255: the client failed).
    std::vector<std::unique_ptr<testsupport::UserProcess>> clients;
    for (const auto& c : cases)
        clients.push_back(std::make_unique<testsupport::UserProcess>("qvtsilent", [kind = c.kind] {
            const int fd = connectToAgent();
            if (fd < 0)
                return 255;
            if (kind == Kind::HalfAFrame && ::send(fd, "F710001", 7, MSG_NOSIGNAL) != 7)
                return 255;
            auto start = Clock::now();
            if (kind == Kind::NotReading) {
                // Until the agent stops reading, as its answers fill what the socket holds: then the last
                // request sent is the last it can answer.
                ::fcntl(fd, F_SETFL, O_NONBLOCK);
                const std::string frame = writeFrame("{\"Ctrl\":\"getVersion\"}");
                for (pollfd writable{fd, POLLOUT, 0}; ::poll(&writable, 1, 2000) == 1;)
                    if (::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) > 0)
                        start = Clock::now();
                    else if (errno != EAGAIN)
                        return 255;
            }
            pollfd closed{fd, POLLRDHUP, 0};
            if (::poll(&closed, 1, 60000) != 1)
                return 255;
            return static_cast<int>(
                std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count());
        }));
    for (auto& client : clients)
        client->go();
    for (size_t i = 0; i < std::size(cases); ++i) {
        const int seconds = clients[i]->wait();
        EXPECT_GE(seconds, 29) << cases[i].name;
        EXPECT_LE(seconds, 40) << cases[i].name;
    }
    // The agent closes a connection first and logs it after: the lines may come a moment later.
    waitFor([&] { return testsupport::count(agentLog(), "no request for 30 s: dropped") >= 2; });
    const std::string log = agentLog();
    EXPECT_EQ(testsupport::count(log, "no request for 30 s: dropped"), 2u) << log;
    EXPECT_EQ(testsupport::count(log, "closed after failure: "), 1u) << log;
    EXPECT_EQ(testsupport::count(log, "further requests are not logged"), 1u) << log;
}

TEST_F(HostileClients, TwentyThousandConnectAndCloseCyclesOfAUserGrowTheLogByABoundedAmount) {
    const struct {
        const char* name;
        int held;         ///< connections the user keeps open meanwhile
        const char* body; ///< what each connection sends before it closes, if anything
    } cases[] = {{"each connection served", 0, nullptr},
                 {"each connection over the user's limit", 8, nullptr},
                 {"each connection sending a body that does not parse", 0, "{\"a\nFORGED\"}"}};
    for (const auto& c : cases) {
        // A user of its own for each case: the log counts a user's connections, once there are many.
        const std::string user = "qvtcycler" + std::to_string(&c - cases);
        ASSERT_NE(testsupport::makeSandboxUser(user), static_cast<uid_t>(-1));
        ConnectionHolder holder(user, c.held);
        ASSERT_EQ(holder.served(), c.held) << c.name;
        waitForQuiet();
        const uintmax_t before = logSize();
        const auto start = Clock::now();
        const int failed = testsupport::runAsUser(user, [&c] {
            int failures = 0;
            for (int i = 0; i < 20000; ++i) {
                const int fd = connectToAgent();
                if (fd < 0 && failures++ == 0)
                    std::printf("connection %d failed: %s\n", i, std::strerror(errno));
                // A send may fail: while the user's earlier connections are still ending, the agent
                // may refuse this one at once.
                if (fd >= 0 && c.body)
                    (void)sendFrame(fd, c.body);
                if (fd >= 0)
                    ::close(fd);
            }
            return std::min(failures, 100);
        });
        EXPECT_EQ(failed, 0) << c.name;
        waitForQuiet();
        const uintmax_t growth = logSize() - before;
        std::printf("%s: 20,000 cycles in %.1f s grew the log by %ju bytes\n", c.name,
                    std::chrono::duration<double>(Clock::now() - start).count(), growth);
        EXPECT_LT(growth, 64u * 1024) << c.name;
        EXPECT_FALSE(logHas("\nFORGED")) << c.name << ": a rejected body was logged unescaped";
        EXPECT_EQ(holder.release(), 0);
    }
    Client root;
    ASSERT_TRUE(root.connect()) << agentLog();
    EXPECT_EQ(root.version(), QVT_PROJECT_VERSION);
}

TEST_F(HostileClients, ControlCharactersOfARequestAreLoggedEscapedInOneLine) {
    const struct {
        const char* name;
        std::string body;
        std::string logged; ///< the value as the log shows it
    } cases[] = {
        {"unknown control", "{\"Ctrl\":\"a\nforged line\"}", "a\\nforged line"},
        {"unknown command", "{\"Cmd\":\"b\r\x1b[2Kforged\"}", "b\\r\\x1b[2Kforged"},
        {"package path", "{\"Cmd\":\"Update\",\"InstallerPackage\":\"/c\n\t\\d\x7f\"}", "/c\\n\\t\\\\d\\x7f"},
    };
    for (const auto& c : cases) {
        const int fd = connectToAgent();
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(sendFrame(fd, c.body)) << c.name;
        EXPECT_TRUE(answersVersion(fd)) << c.name << "\n" << agentLog();
        ::close(fd);
    }
    waitForQuiet();
    const std::string log = agentLog();
    for (const auto& c : cases) {
        EXPECT_EQ(log.find(c.body.substr(c.body.find_first_of("\n\r"))), std::string::npos) << c.name << log;
        size_t lines = 0;
        for (size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos; start = end + 1)
            if (const std::string line = log.substr(start, end - start);
                line.find(c.logged) != std::string::npos)
                lines += line.find(": request {") != std::string::npos;
        EXPECT_EQ(lines, 1u) << c.name << "\n" << log;
    }
    EXPECT_FALSE(logHas("\nforged")) << log;
}

// The limits themselves, without an agent.
TEST(ConnectionSlots, UsersAreLimitedAloneAndTogetherAndRoomIsKeptForRootAndTheAuthorizedInstaller) {
    using Holder = AgentServer::ConnectionSlots::Holder;
    AgentServer::ConnectionSlots slots;
    for (int i = 0; i < AgentServer::kMaxConnectionsPerUser; ++i)
        EXPECT_EQ(slots.take(1000, false), Holder::User) << i;
    EXPECT_EQ(slots.take(1000, false), Holder::RefusedForUser);
    EXPECT_EQ(slots.take(1000, true), Holder::Privileged) << "the authorized installer of the same user";
    EXPECT_EQ(slots.take(std::nullopt, false), Holder::User) << "unknown clients have a limit of their own";
    const int userRoom = AgentServer::kMaxConnections - AgentServer::kReservedConnections;
    for (int taken = AgentServer::kMaxConnectionsPerUser + 1; taken < userRoom; ++taken)
        ASSERT_EQ(slots.take(2000 + taken / AgentServer::kMaxConnectionsPerUser, false), Holder::User)
            << taken;
    EXPECT_EQ(slots.take(1007, false), Holder::RefusedForUsers) << "no room is left for users";
    slots.give(std::nullopt, Holder::User);
    EXPECT_EQ(slots.take(1007, false), Holder::User) << "a slot given back serves another user";
    // The users' slots and the installer's are taken: the rest is root's.
    for (int i = userRoom + 1; i < AgentServer::kMaxConnections; ++i)
        EXPECT_EQ(slots.take(0, false), Holder::Privileged) << i;
    EXPECT_EQ(slots.take(0, false), Holder::Refused) << "the agent is full";
    slots.give(0, Holder::Privileged);
    EXPECT_EQ(slots.take(1008, false), Holder::RefusedForUsers) << "room kept for root is not given to users";
    EXPECT_EQ(slots.take(1000, true), Holder::Privileged);
}

TEST(ClientLog, AUserWithManyConnectionsIsCountedUntilItStopsForAMinuteWhileRootIsAlwaysLogged) {
    using namespace std::chrono;
    AgentServer::ClientLog log;
    const auto start = steady_clock::now();
    const auto at = [&](double seconds) {
        return start + duration_cast<steady_clock::duration>(duration<double>(seconds));
    };
    for (int i = 0; i < AgentServer::ClientLog::kLinesPerMinute; ++i)
        EXPECT_TRUE(log.note(1000, false, at(i * 0.1))) << i;
    const struct {
        double second;
        std::optional<uid_t> uid;
        bool logged;
    } steps[] = {
        {2, 1000, false}, // one more within the minute
        {3, 0, true},     // root
        {4, 1001, true},  // another user
        {4, std::nullopt, true},
        {50, 1000, false},
        {70, 1000, false}, // a new minute, but the connections went on
        {120, 1000, false},
        {200, 1000, true}, // none for more than a minute
    };
    for (const auto& step : steps)
        EXPECT_EQ(log.note(step.uid, true, at(step.second)), step.logged) << step.second;
}

} // namespace
