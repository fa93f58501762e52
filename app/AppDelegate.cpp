#include "app/AppDelegate.h"

#include "CNSLog.h"
#include "agentlink/AgentProtocol.h"
#include "agentlink/FOCVersion.h"
#include "platform/Dispatch.h"
#include "platform/PropertyList.h"
#include "platform/RebootSignal.h"
#include "platform/ServiceManager.h"

#include <cstdlib>

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
    : m_application(application), m_bundle(bundle), m_defaults(defaults),
      m_reporter(std::make_unique<ProgressReporter>(ProgressReporter::Style::None)) {}

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
    if (auto options = RunOptions::read(m_defaults))
        m_options = *options;
    else
        OCNSLog("Options ignored: %@", options.failure().description);
    // Read here, on the main thread: the flow's worker asks whether the package
    // needs a restart.
    m_packageInfoPath = m_bundle.path() + "/Contents/InstallerPackage/PackageInfo";
    if (!m_runWithGUI)
        m_reporter = std::make_unique<ProgressReporter>(
            ProgressReporter::styleFor(m_options.jsonProgress, STDERR_FILENO));

    // Presence alone decides: "-uninstall NO" selects the uninstaller too.
    if (uninstall || endsWith(m_bundle.path(), "Uninstaller.app"))
        initForUninstaller();
    else
        initForInstaller();
}

void AppDelegate::applicationDidFinishLaunching() {
    if (!m_runWithGUI) {
        startTimeLimit();
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

void AppDelegate::installAgentForUser(int userId) {
    startFlow(Flow::Install, userId, false);
}

void AppDelegate::uninstallPackageForUser(int userId, bool includingBackups) {
    startFlow(Flow::Uninstall, userId, includingBackups);
}

void AppDelegate::installAgentAutoUpdate() {
    startFlow(Flow::Update, 0, false);
}

void AppDelegate::startFlow(Flow flow, int userId, bool includingBackups) {
    platform::ui::Button* startButton = flow == Flow::Uninstall ? m_uninstallButton : m_installButton;
    if (startButton)
        startButton->setEnabled(false);
    if (m_cancelButton)
        m_cancelButton->setEnabled(false);
    m_cmdState.store(CmdRunning);
    m_flow = flow;
    setAgentClient(RIAgentClient::create(eventHandler()));
    platform::dispatchGlobal([self = shared_from_this(), flow, userId, includingBackups] {
        self->runFlow(flow, userId, includingBackups);
    });
}

void AppDelegate::runFlow(Flow flow, int userId, bool includingBackups) {
    const std::shared_ptr<RIAgentClient> client = agentClient();
    // The client belongs to this controller: it must not keep it alive.
    client->setInstallPhaseHandler(
        [weak = weak_from_this()](PHAgentClient::InstallPhase phase, const std::string& detail) {
            const auto self = weak.lock();
            if (!self)
                return;
            switch (phase) {
            case PHAgentClient::InstallPhase::Authorizing:
                self->m_reporter->phase("authorizing");
                break;
            case PHAgentClient::InstallPhase::InstallingHelper:
                self->m_reporter->phase("installing-helper");
                break;
            case PHAgentClient::InstallPhase::Connected:
                self->m_reporter->connected(detail);
                break;
            }
        });
    if (client->installAgent()) {
        switch (flow) {
        case Flow::Install:
            client->sendInstallCommandForUser(userId);
            break;
        case Flow::Uninstall:
            client->sendUninstallCommandForUser(userId, includingBackups);
            break;
        case Flow::Update:
            client->sendUpdateAutoUpdateCommand();
            break;
        }
        return;
    }
    if (flow == Flow::Update)
        m_cmdState.store(CmdFailed);
    reportError(createCustomErrorWithCode(-1, localized("PrivilegedAgentNotInstalled")));
    endHeadlessRun(client->lastInstallFailure() == PHAgentClient::InstallFailure::Authorization
                       ? ExitStatus::AuthorizationFailed
                       : ExitStatus::AgentUnavailable);
}

ErrorRef AppDelegate::createCustomErrorWithCode(int64_t code, const std::string& description) {
    return Error::withLocalizedDescription(kErrorDomain, code, description);
}

void AppDelegate::reportError(const ErrorRef& error) {
    OCNSLog("Installation failed with error: %@", error);
    m_cmdState.store(CmdFailed);
    if (m_progressInfolabel)
        m_progressInfolabel->setText(error ? error->localizedDescription() : std::string());
    if (m_cancelButton)
        m_cancelButton->setEnabled(true);
}

void AppDelegate::endHeadlessRun(ExitStatus status) {
    // A headless run has nobody to press the cancel button: it ends with the
    // first verdict, and its exit status tells a script or a management tool
    // what happened.
    if (m_runWithGUI || m_runEnded.exchange(true))
        return;
    if (m_timeLimit)
        m_timeLimit->cancel();
    OCNSLog("Unattended run ends with exit status %d (%@)", exitCode(status),
            std::string(exitStatusName(status)));
    m_reporter->exited(status);
    m_application.setExitStatus(exitCode(status));
    m_application.postTermination();
}

void AppDelegate::startTimeLimit() {
    if (!m_options.timeLimit)
        return;
    // pkexec waiting for an administrator is given no longer than the run.
    auto limits = platform::ServiceManager::timeLimits();
    limits.authorization = std::min<std::chrono::milliseconds>(limits.authorization, *m_options.timeLimit);
    platform::ServiceManager::setTimeLimits(limits);
    m_timeLimit = std::make_unique<RunTimeLimit>(*m_options.timeLimit, [weak = weak_from_this()] {
        platform::dispatchMain([weak] {
            if (const auto self = weak.lock())
                self->timeLimitReached();
        });
    });
}

void AppDelegate::timeLimitReached() {
    if (m_runEnded.load())
        return;
    OCNSLog("The time limit of %d seconds has passed before the command completed; releasing the agent",
            static_cast<int>(m_options.timeLimit ? m_options.timeLimit->count() : 0));
    // What the connection's end reports from here on is not a lost connection.
    m_cmdState.store(CmdFailed);
    // Sending "bye" and closing are done off the main thread, which the event
    // thread may be waiting for.
    platform::dispatchGlobal([self = shared_from_this()] {
        if (auto client = self->agentClient())
            client->terminatePrivilegedAgent();
        self->endHeadlessRun(ExitStatus::TimeLimitReached);
    });
}

namespace {

// "percentCompleted": a number, or a numeric text read the same way; 0 when missing.
double percentOf(const AgentMessage& event) {
    const AgentValue* value = event.find(AgentProtocol::Key::kPercentCompleted);
    if (!value)
        return 0.0;
    if (auto real = value->real())
        return *real;
    if (auto integer = value->integer())
        return static_cast<double>(*integer);
    if (const std::string* text = value->text())
        return std::strtod(text->c_str(), nullptr);
    return 0.0;
}

// "status": an integer, or a numeric text; 0 (success) when missing.
int64_t statusOf(const AgentMessage& event) {
    const AgentValue* value = event.find(AgentProtocol::Key::kStatus);
    if (!value)
        return 0;
    if (auto integer = value->integer())
        return *integer;
    if (auto real = value->real())
        return static_cast<int64_t>(*real);
    if (const std::string* text = value->text())
        return std::strtoll(text->c_str(), nullptr, 10);
    return 0;
}

} // namespace

bool AppDelegate::processAgentEvent(const std::optional<AgentMessage>& event) {
    if (!event)
        return true;
    const std::optional<std::string> name = event->text(AgentProtocol::Key::kEvent);
    if (name == AgentProtocol::Event::kProgress) {
        const double percent = percentOf(*event);
        const std::string info = event->text(AgentProtocol::Key::kInfo).value_or(std::string());
        m_reporter->progress(percent, info);
        if (m_progressIndicator)
            m_progressIndicator->setDoubleValue(percent);
        if (m_progressInfolabel)
            m_progressInfolabel->setText(info);
        return true;
    }
    if (name != AgentProtocol::Event::kCommandCompleted)
        return true;

    if (m_cancelButton) {
        m_cancelButton->setTitle(localized("Close"));
        m_cancelButton->setEnabled(true);
    }
    const int64_t status = statusOf(*event);
    const bool succeeded = status == AgentProtocol::Status::Success;
    if (!succeeded) {
        m_cmdState.store(CmdFailed);
        reportError(createCustomErrorWithCode(-1, agentFailedText()));
    } else {
        m_cmdState.store(CmdSucceeded);
        if (m_progressIndicator)
            m_progressIndicator->setDoubleValue(100);
        if (m_progressInfolabel)
            m_progressInfolabel->setText(kSuccessText);
    }
    platform::dispatchGlobal([self = shared_from_this(), status] { self->finishCommand(status); });
    return false;
}

void AppDelegate::finishCommand(int64_t status) {
    if (status != AgentProtocol::Status::Success) {
        if (auto client = agentClient())
            client->terminatePrivilegedAgent();
        m_reporter->completed(status, false);
        endHeadlessRun(ExitStatus::CommandFailed);
        return;
    }
    // Asking the system may run a program: done here, off the main thread.
    const bool reboot = rebootRequired();
    m_reporter->completed(status, reboot);
    if (!m_runWithGUI) {
        // Nobody is there to agree to a restart: the exit status says it is due.
        if (reboot)
            OCNSLog("The system must be restarted to complete the command; an unattended run does not "
                    "restart it");
        endHeadlessRun(reboot ? ExitStatus::SucceededRebootRequired : ExitStatus::Succeeded);
        return;
    }
    if (reboot)
        platform::dispatchMain([self = shared_from_this()] {
            if (self->offerReboot())
                self->m_application.postTermination();
        });
}

void AppDelegate::processErrorEvent(const ErrorRef& error) {
    OCNSLog("Received error event: %@", error);
    const bool running = m_cmdState.load() == CmdRunning;
    if (error) {
        reportError(error);
    } else if (running) {
        // The agent closed the connection before completing the command.
        reportError(createCustomErrorWithCode(-2, agentFailedText()));
    }
    if (running)
        endHeadlessRun(ExitStatus::ConnectionLost);
}

bool AppDelegate::rebootRequired() const {
    if (m_flow != Flow::Uninstall) {
        const auto info = platform::PropertyList::fromFile(m_packageInfoPath);
        const auto declared = info ? info->text(kRebootPackageKey) : std::nullopt;
        if (declared && platform::UserDefaults::boolValue(*declared)) {
            OCNSLog("The package requires a reboot after its installation");
            return true;
        }
    }
    if (platform::RebootSignal::systemRequiresReboot()) {
        OCNSLog("The system requires a reboot");
        return true;
    }
    return false;
}

bool AppDelegate::checkForReboot() {
    return rebootRequired() && offerReboot();
}

bool AppDelegate::offerReboot() {
    std::unique_ptr<platform::ui::Alert> alert = m_application.makeAlert();
    if (!alert)
        return false;
    alert->addButton(localized("YES"));
    alert->addButton(localized("RebootLaterButton"));
    alert->setMessageText(localized("MustRebootInfo"));
    alert->setInformativeText(kRebootQuestion);
    alert->setInformationalStyle();
    if (alert->runModal() != platform::ui::Alert::FirstButtonReturn)
        return false;
    if (auto client = agentClient())
        client->sendRebootCommand();
    return true;
}

namespace {

// Hands the agent's events to the controller while it exists. The client owns
// the forwarder, the forwarder does not own the controller.
class EventForwarder final : public PHAgentEventHandler {
public:
    explicit EventForwarder(std::weak_ptr<AppDelegate> controller) : m_controller(std::move(controller)) {}

    bool processAgentEvent(const std::optional<AgentMessage>& message) override {
        auto controller = m_controller.lock();
        return controller ? controller->processAgentEvent(message) : true;
    }
    void processErrorEvent(const ErrorRef& error) override {
        if (auto controller = m_controller.lock())
            controller->processErrorEvent(error);
    }

private:
    std::weak_ptr<AppDelegate> m_controller;
};

} // namespace

std::shared_ptr<PHAgentEventHandler> AppDelegate::eventHandler() {
    return std::make_shared<EventForwarder>(weak_from_this());
}

std::string AppDelegate::agentFailedText() const {
    std::string text = localized("PrivilegedAgentFailed");
    replaceAll(text, "{LOG_DIR}", kLogDirectory);
    return text;
}

std::string AppDelegate::localized(const std::string& key) const {
    return m_bundle.localizedString(key, "");
}
