#include "app/AppDelegate.h"

#include "CNSLog.h"
#include "agentlink/FOCVersion.h"

#include <unistd.h>

namespace {

void replaceAll(std::string& text, const std::string& placeholder, const std::string& value) {
    if (placeholder.empty())
        return;
    for (size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
}

std::string lastPathComponent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

AppDelegate::AppDelegate(platform::ui::Application& application, const platform::Bundle& bundle,
                         const platform::UserDefaults& defaults)
    : m_application(application), m_bundle(bundle), m_defaults(defaults) {}

AppDelegate::~AppDelegate() = default;

bool AppDelegate::runWithGUIForOption(const std::optional<std::string>& value) {
    return !value || platform::UserDefaults::boolValue(*value);
}

void AppDelegate::applicationWillFinishLaunching() {
    OCNSLog("Launched: %@ version: %@", lastPathComponent(m_bundle.executablePath()),
            FOCVersion::fullVersionInfo());

    const auto uninstall = m_defaults.stringForKey("uninstall");
    const auto gui = m_defaults.stringForKey("gui");
    m_runWithGUI = runWithGUIForOption(gui);
    m_cmdState.store(CmdIdle);

    // Presence alone decides: "-uninstall NO" selects the uninstaller too.
    if (uninstall || endsWith(m_bundle.path(), "Uninstaller.app"))
        initForUninstaller();
    else
        initForInstaller();
}

void AppDelegate::applicationDidFinishLaunching() {
    if (!m_runWithGUI) {
        installAgentAutoUpdate();
        return;
    }
    if (m_window) {
        m_window->setModalPanelLevel();
        m_window->center();
        m_window->makeKeyAndOrderFront();
    }
}

void AppDelegate::applicationWillTerminate() {}

void AppDelegate::initForInstaller() {
    m_installButton->setHidden(false);
    m_uninstallButton->setHidden(true);
    m_removeBackupsButton->setHidden(true);
    m_installButton->setTitle(localized("Install"));
    m_cancelButton->setTitle(localized("Cancel"));
    m_packageInfo->setText(buildPackageInfo("InstallerPackageInfo"));
    m_progressInfolabel->setText("");
    m_packageTitle->setText(localized("InstallerPackageTitle"));
    const std::string appName = localized("QuorvantisRemotedInstaller");
    if (platform::ui::Menu* menu = m_application.mainMenu())
        localizeMenu(*menu, appName);
}

void AppDelegate::initForUninstaller() {
    m_installButton->setHidden(true);
    m_uninstallButton->setHidden(false);
    m_removeBackupsButton->setHidden(false);
    m_uninstallButton->setTitle(localized("Uninstall"));
    m_cancelButton->setTitle(localized("Cancel"));
    m_removeBackupsButton->setTitle(localized("UninstallerRemoveBackups"));
    m_packageInfo->setText(buildPackageInfo("UninstallerPackageInfo"));
    m_progressInfolabel->setText("");
    m_packageTitle->setText(localized("UninstallerPackageTitle"));
    const std::string appName = localized("QuorvantisRemotedUninstaller");
    if (platform::ui::Menu* menu = m_application.mainMenu())
        localizeMenu(*menu, appName);
}

std::string AppDelegate::buildPackageInfo(const std::string& key) const {
    std::string text = localized(key);
    replaceAll(text, "$(1.0.0)", FOCVersion::fullVersionInfo());
    return text;
}

std::string AppDelegate::localizedMenuTitle(const std::string& title, const std::string& appName) const {
    std::string text = localized(title);
    replaceAll(text, "QvtRemotedInstaller", appName);
    return text;
}

void AppDelegate::localizeMenu(platform::ui::Menu& menu, const std::string& appName) {
    menu.setTitle(localizedMenuTitle(menu.title(), appName));
    for (size_t i = 0; i < menu.itemCount(); ++i) {
        platform::ui::MenuItem& item = menu.item(i);
        if (!item.isSeparator())
            item.setTitle(localizedMenuTitle(item.title(), appName));
        // Separators are not retitled, but a submenu hanging off one still is.
        if (platform::ui::Menu* submenu = item.submenu())
            localizeMenu(*submenu, appName);
    }
}

void AppDelegate::installButtonClicked() {
    installAgentForUser(static_cast<int>(getuid()));
}

void AppDelegate::uninstallButtonClicked() {
    const bool includingBackups = m_removeBackupsButton && m_removeBackupsButton->state() == 1;
    uninstallPackageForUser(static_cast<int>(getuid()), includingBackups);
}

void AppDelegate::cancelButtonClicked() {
    m_application.terminateDeferred();
}

// The flows arrive with the agent's command set; until then the buttons do
// nothing and a headless run ends at once without claiming success.
void AppDelegate::installAgentForUser(int userId) {
    OCNSLog("Install for user %d is not available in this build", userId);
}

void AppDelegate::uninstallPackageForUser(int userId, bool includingBackups) {
    OCNSLog("Uninstall for user %d (remove backups: %d) is not available in this build", userId,
            includingBackups ? 1 : 0);
}

void AppDelegate::installAgentAutoUpdate() {
    OCNSLog("Automatic update is not available in this build");
    m_application.setExitStatus(1);
    m_application.postTermination();
}

std::string AppDelegate::localized(const std::string& key) const {
    return m_bundle.localizedString(key, "");
}
