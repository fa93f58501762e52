#include "app/RIAgentClient.h"

#include "agentlink/AgentProtocol.h"
#include "platform/Bundle.h"

using namespace AgentProtocol;

std::shared_ptr<RIAgentClient> RIAgentClient::create(std::shared_ptr<PHAgentEventHandler> eventHandler) {
    return std::make_shared<RIAgentClient>(std::move(eventHandler));
}

RIAgentClient::RIAgentClient(std::shared_ptr<PHAgentEventHandler> eventHandler)
    : PHAgentClient(std::move(eventHandler), kAgentToolPath, kTrace) {}

std::string RIAgentClient::installerPackagePath() {
    return platform::Bundle::main().path() + "/Contents/InstallerPackage";
}

bool RIAgentClient::installAgent() {
    const std::string prompt = platform::Bundle::main().localizedString(kAuthPromptKey, "");
    const bool installed = installPrivilegedAgent(kAgentBundleId, std::nullopt, std::nullopt, prompt);
    if (installed)
        startEventThread();
    return installed;
}

void RIAgentClient::sendInstallCommandForUser(int32_t userId) {
    sendMessage({{Key::kCommand, Command::kInstall},
                 {Key::kInstallerPackage, installerPackagePath()},
                 {Key::kLoggedInUser, userId}});
}

void RIAgentClient::sendUninstallCommandForUser(int32_t userId, bool includeBackups) {
    sendMessage({{Key::kCommand, Command::kUninstall},
                 {Key::kLoggedInUser, userId},
                 {Key::kRemoveBackups, includeBackups ? 1 : 0}});
}

void RIAgentClient::sendUpdateAutoUpdateCommand() {
    sendMessage({{Key::kCommand, Command::kUpdate}, {Key::kInstallerPackage, installerPackagePath()}});
}

void RIAgentClient::sendRebootCommand() {
    sendMessage({{Key::kCommand, Command::kReboot}});
}

void RIAgentClient::sendUninstallInstallerAgent() {
    sendMessage({{Key::kCommand, Command::kUninstallInstallerAgent}});
}
