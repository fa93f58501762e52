// The application controller: reads the options, chooses the installer or
// uninstaller mode, prepares and shows the window, and runs the flows.
//
// The window's controls are created by the interface description and handed
// in through the setters before applicationWillFinishLaunching; the controller
// neither creates nor releases them.
//
// The controller is shared (std::shared_ptr): a flow's work items keep it alive
// until they have run. Its agent client reaches it through a forwarder that
// does not own it, so controller and client never keep each other alive.
#pragma once

#include "agentlink/AtomicRef.h"
#include "agentlink/Error.h"
#include "agentlink/PHAgentEventHandler.h"
#include "app/ExitStatus.h"
#include "app/ProgressReporter.h"
#include "app/RIAgentClient.h"
#include "app/RunOptions.h"
#include "app/RunTimeLimit.h"

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

class AppDelegate final : public platform::ui::ApplicationDelegate,
                          public std::enable_shared_from_this<AppDelegate> {
public:
    /// Values of cmdState.
    enum : int { CmdIdle = 0, CmdRunning = 1, CmdSucceeded = 2, CmdFailed = 3 };

    /// The domain of the controller's own errors.
    static constexpr const char* kErrorDomain = "MyInstallerErrorDomain";
    /// The log directory named in the failure text.
    static constexpr const char* kLogDirectory = "/var/log/com.quorvantis.remote";
    static constexpr const char* kSuccessText = "Installation successfully completed";
    static constexpr const char* kRebootQuestion = "Do you want to reboot now?";

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

    // Errors.
    /// A new error of the controller's domain whose localised description is \p description.
    static ErrorRef createCustomErrorWithCode(int64_t code, const std::string& description);
    /// Logs \p error, marks the command failed, shows the error's text and
    /// enables the cancel button. Any thread.
    void reportError(const ErrorRef& error);

    // Agent events.
    /// One agent message, on the main thread; false after a completion.
    bool processAgentEvent(const std::optional<AgentMessage>& event);
    /// The end of the event stream, on the thread that noticed it.
    void processErrorEvent(const ErrorRef& error);
    /// When the system must be restarted (rebootRequired), asks whether to
    /// reboot now; true when the user agreed and "Reboot" was sent. Main thread.
    bool checkForReboot();
    /// Whether the system must be restarted after the command: the package of
    /// an installation or update declares it (kRebootPackageKey in its
    /// PackageInfo), or the system says so (platform::RebootSignal). Blocks
    /// while the system is asked.
    bool rebootRequired() const;
    /// The PackageInfo key by which a package declares that its installation
    /// needs a restart.
    static constexpr const char* kRebootPackageKey = "requires-reboot";

    /// Ends an unattended run with \p status: the first call sets the exit
    /// status, writes the last progress line and ends the loop; later calls
    /// and window runs change nothing. Any thread.
    void endHeadlessRun(ExitStatus status);
    /// The unattended run's time limit has passed: logs it, releases the
    /// agent and ends the run with ExitStatus::TimeLimitReached. Main thread.
    void timeLimitReached();

    /// The event handler to give an agent client: it forwards to this
    /// controller while the controller exists, without owning it.
    std::shared_ptr<PHAgentEventHandler> eventHandler();

    // Properties.
    bool runWithGUI() const { return m_runWithGUI; }
    std::shared_ptr<RIAgentClient> agentClient() const { return m_agentClient.load(); }
    void setAgentClient(std::shared_ptr<RIAgentClient> client) { m_agentClient.store(std::move(client)); }
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
    enum class Flow { Install, Uninstall, Update };

    /// The localised text for \p key; the key itself when the table lacks it.
    std::string localized(const std::string& key) const;
    /// The localised "PrivilegedAgentFailed" text with the log directory in it.
    std::string agentFailedText() const;
    /// Disables the buttons, marks the command running, makes a new client and
    /// hands the rest to a worker thread.
    void startFlow(Flow flow, int userId, bool includingBackups);
    /// The worker thread's part of a flow.
    void runFlow(Flow flow, int userId, bool includingBackups);
    /// The work after a completion with \p status: releases the agent after a
    /// failure, asks whether a restart is needed after a success, and ends a
    /// headless run or offers the restart in the window. Worker thread.
    void finishCommand(int64_t status);
    /// Asks whether to reboot now; true when the user agreed and "Reboot" was
    /// sent. Main thread.
    bool offerReboot();
    /// Starts the time limit of an unattended run, when one is set.
    void startTimeLimit();

    platform::ui::Application& m_application;
    const platform::Bundle& m_bundle;
    const platform::UserDefaults& m_defaults;

    bool m_runWithGUI = true;
    Flow m_flow = Flow::Install;
    std::string m_packageInfoPath;
    RunOptions m_options;
    std::unique_ptr<ProgressReporter> m_reporter;
    std::unique_ptr<RunTimeLimit> m_timeLimit;
    std::atomic<bool> m_runEnded{false};
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
    AtomicRef<std::shared_ptr<RIAgentClient>> m_agentClient;
};
