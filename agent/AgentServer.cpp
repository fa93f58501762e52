#include "agent/AgentServer.h"

#include "CNSLog.h"
#include "agent/AgentSession.h"
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
        const int number = m_nextNumber++;
        if (m_connections->load() >= kMaxConnections) {
            OCNSLog("Connection %d refused: %d connections open", number, kMaxConnections);
            ::close(fd);
            continue;
        }
        m_connections->fetch_add(1);
        AgentSession::start(fd, number, m_label, m_version, m_commands,
                            [count = m_connections] { count->fetch_sub(1); });
    }
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
