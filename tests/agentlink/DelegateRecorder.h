// A connection delegate for tests that records every report with its thread.
#pragma once

#include "agentlink/PHConnectionDelegate.h"
#include "agentlink/PHProtocolHandler.h"

#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
