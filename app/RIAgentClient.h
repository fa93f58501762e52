// The installer's command client: the privileged-agent client bound to the
// installer agent RInstallerAgent, with the installer's commands.
#pragma once

#include "agentlink/PHAgentClient.h"

#include <memory>

class RIAgentClient final : public PHAgentClient {
public:
    /// The agent executable, relative to the bundle's Contents folder.
    static constexpr const char* kAgentToolPath =
        "Library/LaunchServices/com.quorvantis.remote.RInstallerAgent";
    /// The agent's bundle identifier, which is also its job label.
    static constexpr const char* kAgentBundleId = "com.quorvantis.remote.RInstallerAgent";
    /// Every message sent is logged.
    static constexpr bool kTrace = true;
    /// Localisation key of the authorization prompt.
    static constexpr const char* kAuthPromptKey = "InstallerAgentAuthPromt";

    /// A client whose events go to \p eventHandler (with tracing on).
    static std::shared_ptr<RIAgentClient> create(std::shared_ptr<PHAgentEventHandler> eventHandler);

    explicit RIAgentClient(std::shared_ptr<PHAgentEventHandler> eventHandler);

    /// The installer package inside the main bundle: <bundle>/Contents/InstallerPackage.
    static std::string installerPackagePath();

    /// Installs or reaches the agent (asking for administrator rights with the
    /// localised prompt) and, when that worked, starts the event thread.
    /// Blocks: call it on a worker thread.
    bool installAgent();

    // Each sends one command; a failure to send arrives as an error event.
    void sendInstallCommandForUser(int32_t userId);
    void sendUninstallCommandForUser(int32_t userId, bool includeBackups);
    void sendUpdateAutoUpdateCommand();
    void sendRebootCommand();
    void sendUninstallInstallerAgent();
};
