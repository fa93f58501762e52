// What the application implements to receive the agent's events.
#pragma once

#include "agentlink/AgentMessage.h"
#include "agentlink/Error.h"

#include <optional>

class PHAgentEventHandler {
public:
    PHAgentEventHandler() = default;
    PHAgentEventHandler(const PHAgentEventHandler&) = delete;
    PHAgentEventHandler& operator=(const PHAgentEventHandler&) = delete;
    virtual ~PHAgentEventHandler() = default;

    /// One message from the agent, on the main thread, in arrival order. The
    /// result is not used by the link.
    virtual bool processAgentEvent(const std::optional<AgentMessage>& message) = 0;
    /// The end of the event stream, once, on the thread that noticed it: an
    /// error, or nothing when the agent closed the connection.
    virtual void processErrorEvent(const ErrorRef& error) = 0;
};
