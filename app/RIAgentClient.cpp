#include "app/RIAgentClient.h"

#include "platform/Bundle.h"

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
    sendMessage({{"Cmd", "Install"}, {"InstallerPackage", installerPackagePath()}, {"LoggedInUser", userId}});
}

void RIAgentClient::sendUninstallCommandForUser(int32_t userId, bool includeBackups) {
    sendMessage({{"Cmd", "Uninstall"}, {"LoggedInUser", userId}, {"RemoveBackups", includeBackups ? 1 : 0}});
}

void RIAgentClient::sendUpdateAutoUpdateCommand() {
    sendMessage({{"Cmd", "Update"}, {"InstallerPackage", installerPackagePath()}});
}

void RIAgentClient::sendRebootCommand() {
    sendMessage({{"Cmd", "Reboot"}});
}

void RIAgentClient::sendUninstallInstallerAgent() {
    sendMessage({{"Cmd", "UninstallInstallerAgent"}});
}
