// One client connection of the installer agent, served on a thread of its own.
// Requests are read with the agent link's own protocol handler, so both sides
// share one frame and text codec; malformed input ends only this connection.
//
// Link control ("Ctrl" = "getVersion", "bye") is open to every local user: the
// socket is world-writable so that the installer, running as the logged-in
// user, can reach the agent. Commands ("Install", "Update", "Uninstall",
// "Reboot", "UninstallInstallerAgent") make the root agent run package scripts
// as root, remove software or restart the computer, so they are accepted only
// from root, or from the one installer process an administrator authorized
// (see CommandGrant.h), by the credentials the kernel recorded when the
// client connected. Anyone else gets "CommandCompleted" with NotPermitted (16)
// and one log line naming its uid and pid.
//
// A command runs on this connection's thread; the next request is read only
// after it has completed. One command runs at a time in the whole agent: a
// command arriving on another connection meanwhile gets "CommandCompleted"
// with Busy (13) at once. A command whose keys are missing, of the wrong type
// or out of range gets "CommandCompleted" with CommandMalformed (17).
// "Reboot" sends nothing when the reboot command ran; a refused or failed
// reboot gets "CommandCompleted" with its status. "UninstallInstallerAgent"
// answers {"status":...} as the agent link expects.
#pragma once

#include "agent/CommandGate.h"
#include "agent/CommandGrant.h"
#include "agent/PeerCredentials.h"
#include "agentlink/PHProtocolHandler.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class CommandRequest;

class AgentSession final : public PHConnectionDelegate, public std::enable_shared_from_this<AgentSession> {
    struct Token {};

public:
    /// Serves the connected socket \p fd (owned from now on) on a new thread.
    /// \p onEnd runs on that thread when the connection is over.
    /// \p label is the agent's job label, \p version the version it reports,
    /// \p gate the agent's one-command-at-a-time gate.
    static void start(int fd, int number, std::string label, std::string version,
                      std::shared_ptr<CommandGate> gate, std::function<void()> onEnd);

    AgentSession(Token, int fd, int number, std::string label, std::string version,
                 std::shared_ptr<CommandGate> gate);
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
    /// True when the client may send commands: root, or the installer process
    /// whose grant this connection holds (taking it at the first command).
    /// Logs the refusal otherwise.
    bool mayCommand();
    /// A request with "Cmd": checks the client's rights and the keys, takes
    /// the gate and runs it.
    void handleCommand(const AgentMessage& request);
    /// "CommandCompleted" with \p status, for a command refused or failed
    /// outside the package engine.
    void sendCompletion(int status);
    /// Runs the command, lets go of \p pass once it is done, then sends the
    /// completion.
    void runPackageCommand(const CommandRequest& command, std::optional<CommandGate::Pass>& pass);
    void reboot(std::optional<CommandGate::Pass>& pass);
    /// Removes this agent's job (record, executable, socket), answers with
    /// "status" (0 when everything was removed) and ends the process.
    void uninstallSelf();

    PHProtocolHandler m_link;
    const int m_number;
    const std::string m_label;
    const std::string m_version;
    const std::shared_ptr<CommandGate> m_gate;
    std::optional<PeerCredentials> m_peer;
    /// The grant this connection took; it serves this connection only.
    std::optional<CommandGrant> m_grant;
};
