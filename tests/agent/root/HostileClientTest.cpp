// The real installer agent as root inside the test sandbox, against local users that hold connections
// open, stay silent, connect and close in a loop, or send control characters: root and the installer an
// administrator authorized are still served, and the agent's log stays bounded and one line per event.
#include "../RealAgent.h"
#include "TestSupport.h"

#include "agent/AgentServer.h"
#include "agent/CommandGrant.h"
#include "agent/package/InstallResult.h"
#include "agentlink/AgentCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
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

constexpr const char* kLogFolder = "/var/log/com.quorvantis.remote";

/// A plain connection to the agent's socket; -1 when it could not be made.
int connectToAgent() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", kAgentSocket);
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

const AgentMessage kUninstall{{"Cmd", "Uninstall"}, {"LoggedInUser", int64_t{0}}, {"RemoveBackups", 0}};

/// A process of a user that opens connections and holds those the agent serves until it is killed.
class ConnectionHolder {
public:
    /// Opens \p connections connections as \p user.
    ConnectionHolder(const std::string& user, int connections) {
        int report[2];
        if (::pipe2(report, O_CLOEXEC) != 0)
            return;
        m_process.emplace(user, [report, connections] {
            std::vector<int> open;
            for (int i = 0; i < connections; ++i)
                if (const int fd = connectToAgent(); fd >= 0)
                    open.push_back(fd);
            // The agent answers on the connections it serves and closes the others at once.
            const char served = static_cast<char>(std::count_if(open.begin(), open.end(), answersVersion));
            if (::write(report[1], &served, 1) == 1)
                ::pause();
            return 1;
        });
        m_process->go();
        ::close(report[1]);
        char served = -1;
        m_served = ::read(report[0], &served, 1) == 1 ? served : -1;
        ::close(report[0]);
    }
    ~ConnectionHolder() { release(); }

    /// How many of its connections the agent serves; -1 when the process failed.
    int served() const { return m_served; }
    /// Kills the process, which closes its connections.
    void release() {
        if (m_process && m_process->pid() > 0)
            ::kill(m_process->pid(), SIGKILL);
        m_process.reset();
    }

private:
    int m_served = -1;
    std::optional<testsupport::UserProcess> m_process;
};

class HostileClients : public RealAgentTest {
protected:
    void SetUp() override { startAgent("qvt-hostile-test", {"/var/lib/com.quorvantis.remote", kLogFolder}); }
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
    holders.front()->release();
    EXPECT_TRUE(waitFor([&] { return testsupport::count(agentLog(), ": ended") >= ended + 8; }))
        << agentLog();
    const uid_t installerUser = testsupport::makeSandboxUser("qvtinstaller");
    ASSERT_NE(installerUser, static_cast<uid_t>(-1));
    ConnectionHolder sameUser("qvtinstaller", 9);
    EXPECT_EQ(sameUser.served(), 8) << agentLog();
    testsupport::UserProcess installer("qvtinstaller", [] {
        Client client;
        return client.connect() && client.status(kUninstall) == InstallResult::NotInstalled ? 0 : 1;
    });
    const auto grant = CommandGrant::forProcess(installerUser, installer.pid());
    ASSERT_TRUE(grant);
    ASSERT_TRUE(CommandGrant::record(kAgentIdentifier, *grant));
    EXPECT_EQ(installer.wait(), 0) << agentLog();

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
