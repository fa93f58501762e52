// Helpers shared by the agent-link tests: socket pairs, raw frames, and
// recorders for delegate reports and agent events.
#pragma once

#include "agentlink/AgentCodec.h"
#include "agentlink/PHAgentEventHandler.h"
#include "agentlink/PHConnectionDelegate.h"
#include "agentlink/PHProtocolHandler.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

/// Waits up to \p timeout for \p done, polling.
template <class Predicate>
bool waitFor(Predicate done, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

/// Records the reports of a protocol handler.
class DelegateRecorder final : public PHConnectionDelegate {
public:
    struct Report {
        ErrorRef error; // null for a close report
        bool closed = false;
        std::thread::id thread;
    };

    void connctionFailedWithError(PHProtocolHandler& handler, const ErrorRef& error) override {
        record({error, false, std::this_thread::get_id()}, handler);
        if (logReports)
            OCNSLog("delegate: failure: %@", error ? error->reason() : std::string());
    }
    void connectionClosed(PHProtocolHandler& handler) override {
        record({nullptr, true, std::this_thread::get_id()}, handler);
        if (logReports)
            OCNSLog("delegate: closed");
    }

    std::vector<Report> reports() const {
        std::lock_guard lock(m_mutex);
        return m_reports;
    }
    /// Whether the handler was already closed when it reported, each time.
    bool closedBeforeEveryReport() const {
        std::lock_guard lock(m_mutex);
        return m_closedBeforeReport;
    }

    bool logReports = false;

private:
    void record(Report report, PHProtocolHandler& handler) {
        std::lock_guard lock(m_mutex);
        m_reports.push_back(std::move(report));
        if (handler.isConnected())
            m_closedBeforeReport = false;
    }

    mutable std::mutex m_mutex;
    std::vector<Report> m_reports;
    bool m_closedBeforeReport = true;
};

/// Records agent events and the end of the event stream.
class EventRecorder final : public PHAgentEventHandler {
public:
    struct Event {
        std::optional<AgentMessage> message;
        std::thread::id thread;
    };
    struct End {
        ErrorRef error;
        std::thread::id thread;
    };

    bool processAgentEvent(const std::optional<AgentMessage>& message) override {
        std::lock_guard lock(m_mutex);
        m_events.push_back({message, std::this_thread::get_id()});
        return true;
    }
    void processErrorEvent(const ErrorRef& error) override {
        std::lock_guard lock(m_mutex);
        m_ends.push_back({error, std::this_thread::get_id()});
    }

    std::vector<Event> events() const {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::vector<End> ends() const {
        std::lock_guard lock(m_mutex);
        return m_ends;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Event> m_events;
    std::vector<End> m_ends;
};
