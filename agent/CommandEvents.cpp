#include "agent/CommandEvents.h"

#include "agentlink/AgentProtocol.h"
#include "agentlink/PHProtocolHandler.h"

CommandEvents::CommandEvents(PHProtocolHandler& link, int connection)
    : m_link(link), m_connection(connection) {}

void CommandEvents::progress(double percent, const std::string& info) {
    if (m_completed)
        return;
    if (auto step = m_progress.next(percent, info))
        send(progressEvent(step->percent, step->info));
}

bool CommandEvents::completed(int status) {
    if (m_completed)
        return false;
    m_completed = true;
    return send(completedEvent(status));
}

AgentMessage CommandEvents::progressEvent(double percent, std::string_view info) {
    using namespace AgentProtocol;
    // A real number: the application reads the percent as one.
    return {{Key::kEvent, Event::kProgress},
            {Key::kPercentCompleted, percent},
            {Key::kInfo, ProgressNormaliser::safeText(info)}};
}

AgentMessage CommandEvents::completedEvent(int status) {
    using namespace AgentProtocol;
    return {{Key::kEvent, Event::kCommandCompleted}, {Key::kStatus, status}};
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
