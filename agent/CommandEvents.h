// The events of one command on its connection: "Progress" while it runs, then
// exactly one "CommandCompleted" with the status.
//
// Progress is sent only when the whole percent or the info line changes, the
// percent never goes down and stays within 0 to 100, and the info line is
// made safe for the message text: no "," (it would split the pair), no
// double quote or control character, only well-formed UTF-8 (the reader drops
// a connection that sends anything else), and short enough that the message
// stays within a frame.
//
// Once the client is gone, nothing more is sent and the command goes on: a
// closed connection is noted once in the log.
#pragma once

#include "agentlink/AgentMessage.h"

#include <cstddef>
#include <string>
#include <string_view>

class PHProtocolHandler;

class CommandEvents {
public:
    /// Longest info line in bytes; with the rest of "Progress" it fits a frame.
    static constexpr size_t kMaxInfoBytes = 400;

    /// Sends on \p link, which must outlive this; \p connection numbers the log lines.
    CommandEvents(PHProtocolHandler& link, int connection);
    CommandEvents(const CommandEvents&) = delete;
    CommandEvents& operator=(const CommandEvents&) = delete;
    CommandEvents(CommandEvents&&) = delete;
    CommandEvents& operator=(CommandEvents&&) = delete;
    ~CommandEvents() = default;

    /// A progress report of the package engine.
    void progress(double percent, const std::string& info);
    /// "CommandCompleted" with \p status; only the first call sends. False when
    /// it could not be delivered.
    bool completed(int status);

    /// {"Event":"Progress","percentCompleted":<percent>,"info":<info>}.
    static AgentMessage progressEvent(double percent, std::string_view info);
    /// {"Event":"CommandCompleted","status":<status>}.
    static AgentMessage completedEvent(int status);
    /// \p info made safe for a text value, at most \p maxBytes long.
    static std::string safeInfo(std::string_view info, size_t maxBytes = kMaxInfoBytes);

private:
    bool send(const AgentMessage& event);

    PHProtocolHandler& m_link;
    const int m_connection;
    double m_lastPercent = -1;
    std::string m_lastInfo;
    bool m_completed = false;
    bool m_goneLogged = false;
};
