// One client connection of the installer agent, served on a thread of its own.
// Requests are read with the agent link's own protocol handler, so both sides
// share one frame and text codec; malformed input ends only this connection.
#pragma once

#include "agentlink/PHProtocolHandler.h"

#include <functional>
#include <memory>
#include <string>

class AgentSession final : public PHConnectionDelegate, public std::enable_shared_from_this<AgentSession> {
    struct Token {};

public:
    /// Serves the connected socket \p fd (owned from now on) on a new thread.
    /// \p onEnd runs on that thread when the connection is over.
    /// \p label is the agent's job label, \p version the version it reports.
    static void start(int fd, int number, std::string label, std::string version,
                      std::function<void()> onEnd);

    AgentSession(Token, int fd, int number, std::string label, std::string version);
    ~AgentSession() override = default;

    AgentSession(const AgentSession&) = delete;
    AgentSession& operator=(const AgentSession&) = delete;
    AgentSession(AgentSession&&) = delete;
    AgentSession& operator=(AgentSession&&) = delete;

    /// Reads and answers requests until the client closes the connection or
    /// sends something that is not a valid frame.
    void run();

    void connctionFailedWithError(PHProtocolHandler& handler, const ErrorRef& error) override;
    void connectionClosed(PHProtocolHandler& handler) override;

private:
    void handle(const AgentMessage& request);
    /// Removes this agent's job (record, executable, socket), answers with
    /// "status" (0 when everything was removed) and ends the process.
    void uninstallSelf();

    PHProtocolHandler m_link;
    const int m_number;
    const std::string m_label;
    const std::string m_version;
};
