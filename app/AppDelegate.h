// The application controller: reads the options, chooses the installer or
// uninstaller mode, prepares and shows the window, and runs the flows.
//
// The window's controls are created by the interface description and handed
// in through the setters before applicationWillFinishLaunching; the controller
// neither creates nor releases them.
#pragma once

#include "platform/Bundle.h"
#include "platform/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/ApplicationDelegate.h"
#include "platform/ui/Button.h"
#include "platform/ui/Menu.h"
#include "platform/ui/ProgressBar.h"
#include "platform/ui/TextLabel.h"
#include "platform/ui/Window.h"

#include <atomic>
#include <optional>
#include <string>

class AppDelegate final : public platform::ui::ApplicationDelegate {
public:
    /// Values of cmdState.
    enum : int { CmdIdle = 0, CmdRunning = 1, CmdSucceeded = 2, CmdFailed = 3 };

    /// \p application, \p bundle and \p defaults must outlive the controller.
    AppDelegate(platform::ui::Application& application, const platform::Bundle& bundle,
                const platform::UserDefaults& defaults);
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;
    ~AppDelegate() override;

    /// Whether a run with the "gui" option \p value uses the window: yes when
    /// the option is absent, otherwise the boolean reading of its text.
    static bool runWithGUIForOption(const std::optional<std::string>& value);

    // Application loop.
    void applicationWillFinishLaunching() override;
    void applicationDidFinishLaunching() override;
    void applicationWillTerminate() override;

    // Set-up of the controls and the menu for one mode.
    void initForInstaller();
    void initForUninstaller();
    /// The localised text for \p key with every "$(1.0.0)" replaced by the full version.
    std::string buildPackageInfo(const std::string& key) const;
    /// The localised text for \p title with every "QvtRemotedInstaller" replaced by \p appName.
    std::string localizedMenuTitle(const std::string& title, const std::string& appName) const;
    /// Localises \p menu, its items and their submenus in place, depth first.
    void localizeMenu(platform::ui::Menu& menu, const std::string& appName);

    // Button actions.
    void installButtonClicked();
    void uninstallButtonClicked();
    void cancelButtonClicked();

    // Flows.
    void installAgentForUser(int userId);
    void uninstallPackageForUser(int userId, bool includingBackups);
    void installAgentAutoUpdate();

    // Properties.
    bool runWithGUI() const { return m_runWithGUI; }
    int cmdState() const { return m_cmdState.load(); }
    void setCmdState(int state) { m_cmdState.store(state); }
    platform::ui::Window* window() const { return m_window; }
    void setWindow(platform::ui::Window* window) { m_window = window; }
    platform::ui::ProgressBar* progressIndicator() const { return m_progressIndicator; }
    void setProgressIndicator(platform::ui::ProgressBar* bar) { m_progressIndicator = bar; }
    platform::ui::TextLabel* progressInfolabel() const { return m_progressInfolabel; }
    void setProgressInfolabel(platform::ui::TextLabel* label) { m_progressInfolabel = label; }
    platform::ui::Button* installButton() const { return m_installButton; }
    void setInstallButton(platform::ui::Button* button) { m_installButton = button; }
    platform::ui::Button* uninstallButton() const { return m_uninstallButton; }
    void setUninstallButton(platform::ui::Button* button) { m_uninstallButton = button; }
    platform::ui::Button* cancelButton() const { return m_cancelButton; }
    void setCancelButton(platform::ui::Button* button) { m_cancelButton = button; }
    platform::ui::TextLabel* packageTitle() const { return m_packageTitle; }
    void setPackageTitle(platform::ui::TextLabel* label) { m_packageTitle = label; }
    platform::ui::TextLabel* packageInfo() const { return m_packageInfo; }
    void setPackageInfo(platform::ui::TextLabel* label) { m_packageInfo = label; }
    platform::ui::Button* removeBackupsButton() const { return m_removeBackupsButton; }
    void setRemoveBackupsButton(platform::ui::Button* button) { m_removeBackupsButton = button; }

private:
    /// The localised text for \p key; the key itself when the table lacks it.
    std::string localized(const std::string& key) const;

    platform::ui::Application& m_application;
    const platform::Bundle& m_bundle;
    const platform::UserDefaults& m_defaults;

    bool m_runWithGUI = true;
    std::atomic<int> m_cmdState{CmdIdle};
    platform::ui::Window* m_window = nullptr;
    platform::ui::ProgressBar* m_progressIndicator = nullptr;
    platform::ui::TextLabel* m_progressInfolabel = nullptr;
    platform::ui::Button* m_installButton = nullptr;
    platform::ui::Button* m_uninstallButton = nullptr;
    platform::ui::Button* m_cancelButton = nullptr;
    platform::ui::TextLabel* m_packageTitle = nullptr;
    platform::ui::TextLabel* m_packageInfo = nullptr;
    platform::ui::Button* m_removeBackupsButton = nullptr;
};
