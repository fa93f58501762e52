// An agent event handler for tests that records events and stream ends with
// the thread each arrived on.
#pragma once

#include "agentlink/PHAgentEventHandler.h"

#include <mutex>
#include <optional>
#include <thread>
#include <vector>

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
