// What the application holds to talk to the installer agent: one connection
// (a PHClientProtocolHandler), the identity of the agent shipped in the
// application bundle, and, once connected, an event thread that hands every
// agent message to the event handler on the main thread.
//
// A client that starts an event thread must be owned by a std::shared_ptr: the
// thread refers to it weakly and posts each message with a reference of its own.
//
// The installation and version policy (authorization, installing, updating,
// verifying) builds on the fields here.
#pragma once

#include "agentlink/AtomicRef.h"
#include "agentlink/PHAgentEventHandler.h"
#include "agentlink/PHClientProtocolHandler.h"
#include "agentlink/PHEventThread.h"

#include "platform/Authorization.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

class PHAgentClient : public std::enable_shared_from_this<PHAgentClient> {
public:
    /// Takes the connection \p fd (negative: not connected). \p agentPath is the
    /// agent's executable relative to the main bundle's Contents folder; its
    /// embedded information list gives the agent's bundle identifier and version.
    PHAgentClient(int fd, const std::string& agentPath, bool trace);
    /// Not connected; \p eventHandler receives the agent's events.
    PHAgentClient(std::shared_ptr<PHAgentEventHandler> eventHandler, const std::string& agentPath,
                  bool trace);
    /// Stops the event thread and closes the connection.
    virtual ~PHAgentClient();

    PHAgentClient(const PHAgentClient&) = delete;
    PHAgentClient& operator=(const PHAgentClient&) = delete;
    PHAgentClient(PHAgentClient&&) = delete;
    PHAgentClient& operator=(PHAgentClient&&) = delete;

    /// The executable at \p agentPath inside the main bundle.
    static std::string agentExecutablePath(const std::string& agentPath);

    bool sendMessage(const AgentMessage& message);
    /// Reads one message on the caller's thread. Throws PHException
    /// "PHAgentClientInvalidState" while the event thread runs.
    std::optional<AgentMessage> readMessage();
    /// The version the running agent reported (installedToolVersion).
    std::optional<std::string> getAgentVersion() const { return installedToolVersion(); }

    /// Starts a new event thread on the connection. Call it only when none runs;
    /// an earlier thread object is replaced, not stopped.
    void startEventThread();
    /// Stops the event thread, if any; nothing more reaches the handler from it.
    void stopEventThread();
    /// Hands \p message to the event handler; false without one.
    bool dispatchAgentEvent(const std::optional<AgentMessage>& message);
    /// The event stream has ended: forgets the thread, reports to the event
    /// handler once and drops it.
    void eventThreadTerminatedWithError(PHEventThread& thread, const ErrorRef& error);
    /// Sends "Ctrl" = "bye" (the result does not matter), stops the event
    /// thread and closes the connection.
    void terminatePrivilegedAgent();

    std::shared_ptr<PHAgentEventHandler> myEventHandler() const { return m_myEventHandler.load(); }
    const std::shared_ptr<PHClientProtocolHandler>& protocolHandler() const { return m_protocolHandler; }
    std::shared_ptr<PHEventThread> eventThread() const { return m_eventThread.load(); }

    // Installation and version policy. These run on one worker thread and
    // block it: the authorization may wait for the user, the version request
    // for 2 seconds, and replacing a newer agent pauses for 4 seconds.

    /// The steps of installPrivilegedAgent, for a caller that shows how far it got.
    enum class InstallPhase { Authorizing, InstallingHelper, Connected };
    /// What stopped the last installPrivilegedAgent call.
    enum class InstallFailure {
        None,
        /// The administrator refused, dismissed the dialog, or nobody could be asked.
        Authorization,
        /// The helper could not be installed or started, or did not report the shipped version.
        Agent,
    };
    /// Receives each phase as it begins; Connected comes with the agent's version.
    using InstallPhaseHandler = std::function<void(InstallPhase phase, const std::string& detail)>;

    /// The most failed installations per client; further calls are skipped.
    static constexpr int kMaxInstallErrors = 5;
    /// The pause after asking a newer installed agent to uninstall itself.
    static constexpr std::chrono::milliseconds kPauseAfterUninstall{4000};

    /// An authorization reference holding the right to install a privileged
    /// helper, or as far as it got (possibly empty). With a user name, its
    /// password is checked; without, the user may be asked, with \p prompt.
    std::shared_ptr<platform::Authorization>
    createAuthorizationForUser(const std::optional<std::string>& user,
                               const std::optional<std::string>& password,
                               const std::optional<std::string>& prompt);
    /// True when the installed job \p label runs an agent newer than the
    /// shipped one, which must then be removed before installing.
    bool downgradeRequiredForAgent(const std::string& label);
    /// Installs the shipped agent as the privileged job \p label and connects
    /// to it. True when it runs and reports exactly the shipped version; the
    /// connection then stays open. Counts failures; after five it skips.
    bool installPrivilegedAgent(const std::string& label, const std::optional<std::string>& user,
                                const std::optional<std::string>& password,
                                const std::optional<std::string>& prompt);
    /// True when connected, or when a new connection reaches an agent that
    /// reports the shipped version.
    bool verifyAgentConnection();
    /// The downgrade decision alone: true when the \p installed agent is newer
    /// than the \p shipped one by platform::VersionNumber's order.
    static bool mustDowngrade(std::string_view shipped, std::string_view installed);

    /// Set before installPrivilegedAgent runs; called on its thread.
    void setInstallPhaseHandler(InstallPhaseHandler handler) { m_installPhaseHandler = std::move(handler); }
    InstallFailure lastInstallFailure() const { return m_lastInstallFailure.load(); }

    // Used by the installation policy on one worker thread.
    bool tryToConnect() const { return m_tryToConnect; }
    void setTryToConnect(bool value) { m_tryToConnect = value; }
    int installErrorCount() const { return m_installErrorCount; }
    void setInstallErrorCount(int value) { m_installErrorCount = value; }

    // Texts read and written whole under a lock, from any thread.
    std::string embeddedToolVersion() const;
    void setEmbeddedToolVersion(std::string value);
    std::optional<std::string> installedToolVersion() const;
    void setInstalledToolVersion(std::optional<std::string> value);
    std::string agentBundleId() const;
    void setAgentBundleId(std::string value);
    std::string agentName() const;
    void setAgentName(std::string value);

private:
    AtomicRef<std::shared_ptr<PHAgentEventHandler>> m_myEventHandler;
    const std::shared_ptr<PHClientProtocolHandler> m_protocolHandler;
    AtomicRef<std::shared_ptr<PHEventThread>> m_eventThread;
    InstallPhaseHandler m_installPhaseHandler;
    std::atomic<InstallFailure> m_lastInstallFailure{InstallFailure::None};
    bool m_tryToConnect = true;
    int m_installErrorCount = 0;
    mutable std::mutex m_textLock;
    std::string m_embeddedToolVersion;
    std::optional<std::string> m_installedToolVersion;
    std::string m_agentBundleId;
    std::string m_agentName;
};
