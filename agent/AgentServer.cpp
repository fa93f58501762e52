#include "agent/AgentServer.h"

#include "CNSLog.h"
#include "agent/AgentSession.h"
#include "agent/CommandGrant.h"
#include "agent/PeerCredentials.h"
#include "agentlink/AgentProtocol.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

AgentServer::AgentServer(std::string bundleIdentifier, std::string version)
    : m_label(bundleIdentifier), m_version(std::move(version)), m_socketPath(socketPath(bundleIdentifier)) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_wakeRead.reset(pipeFds[0]);
        m_wakeWrite.reset(pipeFds[1]);
    }
}

AgentServer::~AgentServer() {
    closeListener();
}

std::string AgentServer::socketPath(const std::string& bundleIdentifier) {
    OCTextSink path;
    OCFormat(path, AgentProtocol::kSocketPathFormat, bundleIdentifier);
    return std::string(path.text(), path.size());
}

bool AgentServer::listen() {
    sockaddr_un address{};
    if (m_socketPath.size() >= sizeof address.sun_path) {
        OCNSLog("Socket path too long: %@", m_socketPath);
        return false;
    }
    if (m_wakeRead.get() < 0) {
        OCNSLog("Failed to create the wake-up pipe, error: %d", errno);
        return false;
    }
    struct stat status {};
    if (::lstat(m_socketPath.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            OCNSLog("Socket path is a directory: %@", m_socketPath);
            return false;
        }
        OCNSLog("Removing stale socket file: %@", m_socketPath);
        if (::unlink(m_socketPath.c_str()) != 0) {
            OCNSLog("Failed to remove stale socket file: %@, error: %d", m_socketPath, errno);
            return false;
        }
    }

    m_listenFd.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (m_listenFd.get() < 0) {
        OCNSLog("Failed to create listening socket, error: %d", errno);
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, m_socketPath.c_str(), m_socketPath.size() + 1);
    if (::bind(m_listenFd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        OCNSLog("Failed to bind socket: %@, error: %d", m_socketPath, errno);
        closeListener();
        return false;
    }
    // The installer application runs as the logged-in user and must be able to
    // connect to this root-owned socket.
    ::chmod(m_socketPath.c_str(), 0666);
    if (::listen(m_listenFd.get(), 16) != 0) {
        OCNSLog("Failed to listen on socket: %@, error: %d", m_socketPath, errno);
        closeListener();
        return false;
    }
    OCNSLog("Listening at %@", m_socketPath);
    return true;
}

void AgentServer::run() {
    acceptConnections();
    if (m_commands->isRunning())
        OCNSLog("Stopping: waiting for the running command to complete");
    m_commands->close();
    // Here, not only in the destructor: the agent's process ends without
    // destructors once the server has stopped.
    closeListener();
}

void AgentServer::acceptConnections() {
    for (;;) {
        pollfd fds[2] = {{m_listenFd.get(), POLLIN, 0}, {m_wakeRead.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            OCNSLog("Failed to wait for connections, error: %d", errno);
            return;
        }
        if (fds[1].revents != 0)
            return;
        if (fds[0].revents == 0)
            continue;
        const int fd = ::accept4(m_listenFd.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED)
                OCNSLog("Failed to accept a connection, error: %d", errno);
            continue;
        }
        admit(fd, m_nextNumber++);
    }
}

void AgentServer::admit(int fd, int number) {
    using Holder = ConnectionSlots::Holder;
    const auto peer = PeerCredentials::of(fd);
    const auto uid = peer ? std::optional<uid_t>(peer->uid()) : std::nullopt;
    Holder holder = m_slots->take(uid, false);
    // The grants are read only for a client that would be refused otherwise.
    const auto refused = [&] { return holder != Holder::User && holder != Holder::Privileged; };
    if (refused() && peer && peer->uid() != 0 && CommandGrant::held(m_label, peer->uid(), peer->pid()))
        holder = m_slots->take(uid, true);
    const bool logged = m_clientLog.note(uid, refused());
    if (refused()) {
        if (logged && holder == Holder::Refused)
            OCNSLog("Connection %d refused: %d connections open", number, kMaxConnections);
        else if (logged && holder == Holder::RefusedForUsers)
            OCNSLog("Connection %d refused: %d connections of users other than root open", number,
                    kMaxConnections - kReservedConnections);
        else if (logged)
            OCNSLog("Connection %d refused: uid %u has %d connections open", number,
                    uid.value_or(static_cast<uid_t>(-1)), kMaxConnectionsPerUser);
        ::close(fd);
        return;
    }
    AgentSession::start(fd, number, peer, logged, m_label, m_version, m_commands,
                        [slots = m_slots, uid, holder] { slots->give(uid, holder); });
}

AgentServer::ConnectionSlots::Holder AgentServer::ConnectionSlots::take(std::optional<uid_t> uid,
                                                                        bool privileged) {
    std::lock_guard lock(m_lock);
    if (uid == uid_t{0} || privileged) {
        if (m_total >= kMaxConnections)
            return Holder::Refused;
        ++m_total;
        return Holder::Privileged;
    }
    const auto own = m_perUser.find(uid.value_or(kUnknownUser));
    if (own != m_perUser.end() && own->second >= kMaxConnectionsPerUser)
        return Holder::RefusedForUser;
    if (m_total >= kMaxConnections)
        return Holder::Refused;
    if (m_users >= kMaxConnections - kReservedConnections)
        return Holder::RefusedForUsers;
    ++m_perUser[uid.value_or(kUnknownUser)];
    ++m_users;
    ++m_total;
    return Holder::User;
}

void AgentServer::ConnectionSlots::give(std::optional<uid_t> uid, Holder holder) {
    std::lock_guard lock(m_lock);
    if (holder == Holder::Privileged) {
        --m_total;
    } else if (holder == Holder::User) {
        --m_total;
        --m_users;
        if (const auto own = m_perUser.find(uid.value_or(kUnknownUser));
            own != m_perUser.end() && --own->second <= 0)
            m_perUser.erase(own);
    }
}

bool AgentServer::ClientLog::note(std::optional<uid_t> uid, bool refused,
                                  std::chrono::steady_clock::time_point now) {
    if (uid == uid_t{0})
        return true;
    const uid_t key = uid.value_or(static_cast<uid_t>(-1));
    std::lock_guard lock(m_lock);
    if (m_users.size() >= kMaxUsers && !m_users.contains(key)) {
        std::erase_if(m_users, [&](const auto& entry) {
            return !entry.second.counting || now - entry.second.periodStart >= kPeriod;
        });
        if (m_users.size() >= kMaxUsers)
            return false; // followed one by one again once there is room
    }
    auto [found, added] = m_users.try_emplace(key);
    User& user = found->second;
    if (added || now - user.periodStart >= kPeriod) {
        if (user.counting && user.counted > 0)
            OCNSLog("uid %u opened %lld connections in the last %lld s (%lld refused at once); they were not "
                    "logged",
                    key, user.counted,
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::seconds>(now - user.periodStart).count()),
                    user.refused);
        // A user whose connections went on all through the period stays counted.
        user.counting = user.counting && user.counted > 0 && now - user.periodStart < 2 * kPeriod;
        user.periodStart = now;
        user.inPeriod = 0;
        user.counted = 0;
        user.refused = 0;
    }
    ++user.inPeriod;
    if (!user.counting && user.inPeriod <= kLinesPerMinute)
        return true;
    if (!user.counting)
        OCNSLog("uid %u opened more than %d connections within a minute; its connections are counted, not "
                "logged, until it stops for a minute",
                key, kLinesPerMinute);
    user.counting = true;
    ++user.counted;
    user.refused += refused;
    return false;
}

void AgentServer::stop() {
    const char byte = 0;
    if (m_wakeWrite.get() >= 0) {
        const ssize_t written = ::write(m_wakeWrite.get(), &byte, 1);
        (void)written; // a full pipe already holds a wake-up
    }
}

void AgentServer::closeListener() {
    if (m_listenFd.get() < 0)
        return;
    m_listenFd.reset();
    ::unlink(m_socketPath.c_str());
}
