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
//
// Time limits: a client that sends no whole request for kIdleLimit (while no
// command of its own runs) is dropped with one log line. A command is not
// limited in time, but a client that takes nothing of what is sent to it for
// kIdleLimit loses its connection; the command goes on to its end.
//
// The log: text that came from the client or a package is written with its
// control characters escaped (platform/LogText.h). A client other than root
// gets at most kLoggedRequests request lines and kLoggedRefusals lines about
// refused, malformed or unknown requests, then one line saying that further
// ones are not logged. A connection that the server counts instead of logging
// (see AgentServer::ClientLog) logs nothing about its own traffic; what a
// command it runs does is logged as always.
#pragma once

#include "agent/CommandGate.h"
#include "agent/CommandGrant.h"
#include "agent/PeerCredentials.h"
#include "agentlink/PHProtocolHandler.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class CommandRequest;

class AgentSession final : public PHConnectionDelegate, public std::enable_shared_from_this<AgentSession> {
    struct Token {};

public:
    /// How long a client may stay silent between requests, or take nothing of
    /// what is sent to it.
    static constexpr std::chrono::seconds kIdleLimit{30};
    /// Request lines logged for one connection of a client other than root.
    static constexpr int kLoggedRequests = 16;
    /// Lines about refused, malformed or unknown requests logged for one
    /// connection of a client other than root.
    static constexpr int kLoggedRefusals = 4;

    /// Serves the connected socket \p fd (owned from now on) on a new thread.
    /// \p onEnd runs on that thread when the connection is over.
    /// \p peer is the client as the kernel recorded it (nothing: unknown),
    /// \p logged false when the connection's own traffic is not logged,
    /// \p label the agent's job label, \p version the version it reports,
    /// \p gate the agent's one-command-at-a-time gate.
    static void start(int fd, int number, std::optional<PeerCredentials> peer, bool logged, std::string label,
                      std::string version, std::shared_ptr<CommandGate> gate, std::function<void()> onEnd);

    AgentSession(Token, int fd, int number, std::optional<PeerCredentials> peer, bool logged,
                 std::string label, std::string version, std::shared_ptr<CommandGate> gate);
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
    enum class Arrival { Request, Closed, Silent };
    /// Waits up to kIdleLimit for a whole frame (or a frame header that is no
    /// valid one), so that reading it does not block.
    Arrival awaitRequest();
    /// True when one more line about a refused, malformed or unknown request
    /// is to be logged; says once when they stop being logged.
    bool mayLogRefusal();
    bool mayLogRequest();
    /// One more line of a kind \p logged counts, at most \p limit on a limited
    /// connection; says \p stopping once when they stop being logged.
    bool mayLog(int& logged, int limit, const char* stopping);
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
    const std::optional<PeerCredentials> m_peer;
    const bool m_logged;
    /// Root's connections are logged in full.
    const bool m_limited;
    int m_requestsLogged = 0;
    int m_refusalsLogged = 0;
    bool m_commandRunning = false;
    /// The grant this connection took; it serves this connection only.
    std::optional<CommandGrant> m_grant;
};
