// The installer agent's listener: the local stream socket
// "/var/run/<bundle identifier>.socket", one thread per connection, one
// command at a time across them (see AgentSession.h for who may send one).
//
// Every local user can reach the socket, so no user may take what root and
// the installer an administrator authorized need: a user other than root has
// at most kMaxConnectionsPerUser connections at once, and all such users
// together at most kMaxConnections - kReservedConnections; root and the
// authorized installer (the client whose uid and pid match a recorded grant,
// see CommandGrant.h) are not counted against those limits. A connection over
// a limit is closed at once.
//
// Nor may a user fill the log: see ClientLog.
#pragma once

#include "agent/CommandGate.h"
#include "platform/FileDescriptor.h"

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>

class PeerCredentials;

class AgentServer {
public:
    /// More connections than this at once are refused (closed at once), so idle
    /// clients cannot exhaust the agent's threads.
    static constexpr int kMaxConnections = 64;
    /// Connections at once of one user other than root (the authorized
    /// installer aside).
    static constexpr int kMaxConnectionsPerUser = 8;
    /// Connections only root and the authorized installer may take.
    static constexpr int kReservedConnections = 8;

    /// The connection slots and who holds them. Thread-safe.
    class ConnectionSlots {
    public:
        enum class Holder {
            Refused,         ///< no slot: the agent is full
            RefusedForUsers, ///< no slot: users other than root hold all they may together
            RefusedForUser,  ///< no slot: the user holds as many as it may
            User,            ///< a slot counted against the user's limit
            Privileged,      ///< a slot of root or the authorized installer
        };

        /// Takes a slot for a client of \p uid (nothing when the kernel did
        /// not tell it); \p privileged when it is the authorized installer.
        /// Root's clients are always privileged.
        Holder take(std::optional<uid_t> uid, bool privileged);
        /// Gives back a slot that take() gave \p holder for \p uid.
        void give(std::optional<uid_t> uid, Holder holder);

    private:
        /// Clients whose credentials are unknown share one limit.
        static constexpr uid_t kUnknownUser = static_cast<uid_t>(-1);

        std::mutex m_lock;
        std::map<uid_t, int> m_perUser;
        int m_users = 0;
        int m_total = 0;
    };

    /// How much the agent logs about the connections of users other than root,
    /// so that a user who connects and closes in a loop grows the log by a
    /// bounded amount: the first kLinesPerMinute connections of a user within a
    /// minute are logged as any connection; from the next one on, the user's
    /// connections are counted instead, with one line when that starts and
    /// one summary line per minute (written with the first connection after
    /// it) while they go on. A user with no connection for a minute is logged
    /// in full again. Root is always logged in full. Thread-safe.
    class ClientLog {
    public:
        static constexpr int kLinesPerMinute = 16;
        static constexpr std::chrono::seconds kPeriod{60};

        /// Notes a connection of \p uid (nothing: unknown credentials),
        /// refused at once when \p refused. True when its lines are to be
        /// logged; false when it is only counted.
        bool note(std::optional<uid_t> uid, bool refused,
                  std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

    private:
        struct User {
            std::chrono::steady_clock::time_point periodStart;
            int inPeriod = 0;
            bool counting = false;
            long long counted = 0;
            long long refused = 0;
        };
        /// More users than this are not followed one by one: a user that is not
        /// counting is forgotten first.
        static constexpr size_t kMaxUsers = 1024;

        std::mutex m_lock;
        std::map<uid_t, User> m_users;
    };

    AgentServer(std::string bundleIdentifier, std::string version);
    /// Stops listening and removes the socket file.
    ~AgentServer();

    AgentServer(const AgentServer&) = delete;
    AgentServer& operator=(const AgentServer&) = delete;
    AgentServer(AgentServer&&) = delete;
    AgentServer& operator=(AgentServer&&) = delete;

    static std::string socketPath(const std::string& bundleIdentifier);

    /// Removes a stale socket file and starts listening. False, logged, when
    /// that fails.
    bool listen();
    /// Accepts connections until stop(); then refuses further commands, and
    /// once the running command, if any, has completed, stops listening,
    /// removes the socket file and returns.
    void run();
    /// Makes run() return. Async-signal-safe.
    void stop();

private:
    void acceptConnections();
    /// Serves the accepted connection \p fd (owned) or closes it at once.
    void admit(int fd, int number);
    void closeListener();

    const std::string m_label;
    const std::string m_version;
    const std::string m_socketPath;
    platform::FileDescriptor m_listenFd;
    platform::FileDescriptor m_wakeRead;
    platform::FileDescriptor m_wakeWrite;
    // Shared with the connection threads, which may end after the server.
    const std::shared_ptr<ConnectionSlots> m_slots = std::make_shared<ConnectionSlots>();
    const std::shared_ptr<CommandGate> m_commands = std::make_shared<CommandGate>();
    ClientLog m_clientLog;
    int m_nextNumber = 1;
};
