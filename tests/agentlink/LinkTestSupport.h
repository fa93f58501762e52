// What the agent-link tests share: a socket pair whose far end the test plays
// as the agent, recorders of delegate reports and agent events, the log lines
// a piece of code writes, and waiting.
#pragma once

#include "TestSupport.h"
#include "agentlink/AgentCodec.h"
#include "agentlink/PHAgentEventHandler.h"
#include "agentlink/PHConnectionDelegate.h"
#include "agentlink/PHProtocolHandler.h"

#include <chrono>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

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

/// The message texts \p body logs, without the console prefix
/// "YYYY-MM-DD hh:mm:ss.mmm <process>[<pid>:<tid>] ".
inline std::vector<std::string> logLines(const std::function<void()>& body) {
    const std::string all = testsupport::captureStandardError(body);
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < all.size(); start = end + 1) {
        end = std::min(all.find('\n', start), all.size());
        const std::string line = all.substr(start, end - start);
        const size_t mark = line.find("] ");
        lines.push_back(mark == std::string::npos ? line : line.substr(mark + 2));
    }
    return lines;
}

/// "domain|code|reason" of \p error, "(none)" without one.
inline std::string describe(const ErrorRef& error) {
    return error ? error->domain() + "|" + std::to_string(error->code()) + "|" + error->reason() : "(none)";
}

/// A connected pair of local stream sockets: the local end for the code under
/// test, the peer kept by the test; closes what it still owns.
class SocketPair {
public:
    SocketPair() { ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_fds); }
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;
    ~SocketPair() {
        closePeer();
        if (m_fds[0] >= 0)
            ::close(m_fds[0]);
    }

    /// The local end; ownership passes to the caller.
    int takeLocal() { return std::exchange(m_fds[0], -1); }
    int peer() const { return m_fds[1]; }
    void closePeer() {
        if (m_fds[1] >= 0)
            ::close(std::exchange(m_fds[1], -1));
    }
    bool write(const std::string& bytes) const {
        return ::send(m_fds[1], bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }
    bool writeMessage(const AgentMessage& message) const { return write(writeFrame(serialize(message))); }
    /// What arrives on the peer within \p timeout, up to the end of stream.
    std::string readAvailable(std::chrono::milliseconds timeout = std::chrono::milliseconds(200)) const {
        timeval tv{0, static_cast<suseconds_t>(timeout.count() * 1000)};
        ::setsockopt(m_fds[1], SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        std::string result;
        char buffer[1024];
        for (ssize_t n; (n = ::recv(m_fds[1], buffer, sizeof buffer, 0)) > 0;)
            result.append(buffer, static_cast<size_t>(n));
        return result;
    }

private:
    int m_fds[2] = {-1, -1};
};

/// What threads report, in order; calling it gives a copy.
template <class T>
class Recorded {
public:
    void add(T item) {
        std::lock_guard lock(m_mutex);
        m_items.push_back(std::move(item));
    }
    std::vector<T> operator()() const {
        std::lock_guard lock(m_mutex);
        return m_items;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<T> m_items;
};

/// Records the reports of a protocol handler; with logReports, logs failures too.
class DelegateRecorder final : public PHConnectionDelegate {
public:
    struct Report {
        ErrorRef error;        // null for a close report
        bool closed = false;   // a close report
        bool stillOpen = true; // the handler was still connected when it reported
    };

    void connctionFailedWithError(PHProtocolHandler& handler, const ErrorRef& error) override {
        reports.add({error, false, handler.isConnected()});
        if (logReports)
            OCNSLog("delegate: failure: %@", error ? error->reason() : std::string());
    }
    void connectionClosed(PHProtocolHandler& handler) override {
        reports.add({nullptr, true, handler.isConnected()});
    }

    Recorded<Report> reports;
    bool logReports = false;
};

/// Records agent events and the ends of the event stream, with the thread each arrived on.
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
        events.add({message, std::this_thread::get_id()});
        return true;
    }
    void processErrorEvent(const ErrorRef& error) override { ends.add({error, std::this_thread::get_id()}); }

    Recorded<Event> events;
    Recorded<End> ends;
};
