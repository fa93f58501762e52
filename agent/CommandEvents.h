// The events of one command on its connection: "Progress" while it runs, then
// exactly one "CommandCompleted" with the status. Progress goes through the
// agent link's ProgressNormaliser, so the engine reports raw numbers and text.
//
// Once the client is gone, nothing more is sent and the command goes on: a
// closed connection is noted once in the log.
#pragma once

#include "agentlink/AgentMessage.h"
#include "agentlink/ProgressNormaliser.h"

#include <string>
#include <string_view>

class PHProtocolHandler;

class CommandEvents {
public:
    /// Sends on \p link, which must outlive this; \p connection numbers the log lines.
    CommandEvents(PHProtocolHandler& link, int connection);
    CommandEvents(const CommandEvents&) = delete;
    CommandEvents& operator=(const CommandEvents&) = delete;
    CommandEvents(CommandEvents&&) = delete;
    CommandEvents& operator=(CommandEvents&&) = delete;
    ~CommandEvents() = default;

    /// A progress report of the package engine; nothing after the completion.
    void progress(double percent, const std::string& info);
    /// "CommandCompleted" with \p status; only the first call sends. False when
    /// it could not be delivered.
    bool completed(int status);

    /// {"Event":"Progress","percentCompleted":<percent>,"info":<info made safe>}.
    static AgentMessage progressEvent(double percent, std::string_view info);
    /// {"Event":"CommandCompleted","status":<status>}.
    static AgentMessage completedEvent(int status);

private:
    bool send(const AgentMessage& event);

    PHProtocolHandler& m_link;
    const int m_connection;
    ProgressNormaliser m_progress;
    bool m_completed = false;
    bool m_goneLogged = false;
};
