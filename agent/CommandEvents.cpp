#include "agent/CommandEvents.h"

#include "agentlink/AgentCodec.h"
#include "agentlink/PHProtocolHandler.h"

#include <algorithm>
#include <cmath>

namespace {

/// The length of the well-formed UTF-8 character at \p at, or 0.
size_t characterAt(std::string_view text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead < 0x80           ? 1
                          : (lead >> 5) == 0x6  ? 2
                          : (lead >> 4) == 0xE  ? 3
                          : (lead >> 3) == 0x1E ? 4
                                                : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    return isValidUtf8(text.substr(at, length)) ? length : 0;
}

} // namespace

CommandEvents::CommandEvents(PHProtocolHandler& link, int connection)
    : m_link(link), m_connection(connection) {}

void CommandEvents::progress(double percent, const std::string& info) {
    if (m_completed)
        return;
    if (!std::isfinite(percent))
        percent = m_lastPercent < 0 ? 0 : m_lastPercent;
    percent = std::floor(std::clamp(percent, std::max(m_lastPercent, 0.0), 100.0));
    std::string text = safeInfo(info);
    if (percent == m_lastPercent && text == m_lastInfo)
        return;
    m_lastPercent = percent;
    m_lastInfo = std::move(text);
    send(progressEvent(percent, m_lastInfo));
}

bool CommandEvents::completed(int status) {
    if (m_completed)
        return false;
    m_completed = true;
    return send(completedEvent(status));
}

AgentMessage CommandEvents::progressEvent(double percent, std::string_view info) {
    // A real number: the application reads the percent as one.
    return {{"Event", "Progress"}, {"percentCompleted", percent}, {"info", safeInfo(info)}};
}

AgentMessage CommandEvents::completedEvent(int status) {
    return {{"Event", "CommandCompleted"}, {"status", status}};
}

std::string CommandEvents::safeInfo(std::string_view info, size_t maxBytes) {
    std::string safe;
    safe.reserve(std::min(info.size(), maxBytes));
    for (size_t at = 0; at < info.size();) {
        const size_t length = characterAt(info, at);
        std::string_view piece = length ? info.substr(at, length) : std::string_view("?");
        if (length == 1) {
            const char c = info[at];
            if (c == ',' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                piece = " ";
            else if (c == '"')
                piece = "'";
        }
        if (safe.size() + piece.size() > maxBytes)
            break;
        safe.append(piece);
        at += length ? length : 1;
    }
    return safe;
}

bool CommandEvents::send(const AgentMessage& event) {
    if (!m_link.isConnected()) {
        if (!m_goneLogged)
            OCNSLog("Connection %d: client gone; events of the running command are not delivered",
                    m_connection);
        m_goneLogged = true;
        return false;
    }
    if (m_link.sendMessage(event))
        return true;
    m_goneLogged = true; // the failed send was reported to the session, which logged it
    OCNSLog("Connection %d: client gone; events of the running command are not delivered", m_connection);
    return false;
}
