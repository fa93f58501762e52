// A connected pair of local stream sockets for tests: one end for the code under
// test, the other kept by the test, which plays the agent.
#pragma once

#include "agentlink/AgentCodec.h"

#include <chrono>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

/// A connected pair of local stream sockets; closes what it still owns.
class SocketPair {
public:
    SocketPair() {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_fds) != 0)
            m_fds[0] = m_fds[1] = -1;
    }
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;
    ~SocketPair() {
        closePeer();
        if (m_fds[0] >= 0)
            ::close(m_fds[0]);
    }

    /// The handler's end; ownership passes to the caller.
    int takeLocal() {
        const int fd = m_fds[0];
        m_fds[0] = -1;
        return fd;
    }
    /// The agent's end, kept here.
    int peer() const { return m_fds[1]; }
    void closePeer() {
        if (m_fds[1] >= 0)
            ::close(m_fds[1]);
        m_fds[1] = -1;
    }
    /// Writes raw bytes on the agent's end.
    bool write(const std::string& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(m_fds[1], bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    bool writeMessage(const AgentMessage& message) const { return write(writeFrame(serialize(message))); }
    /// Reads what has arrived on the agent's end within \p timeout.
    std::string readAvailable(std::chrono::milliseconds timeout = std::chrono::milliseconds(200)) const {
        std::string result;
        timeval tv{};
        tv.tv_sec = 0;
        tv.tv_usec = static_cast<suseconds_t>(timeout.count() * 1000);
        ::setsockopt(m_fds[1], SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char buffer[1024];
        for (;;) {
            ssize_t n = ::recv(m_fds[1], buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            result.append(buffer, static_cast<size_t>(n));
        }
        return result;
    }

private:
    int m_fds[2];
};
