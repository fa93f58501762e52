#include "app/AppDelegate.h"

#include "MapStringTable.h"
#include "QtTestSupport.h"
#include "RecordingUi.h"
#include "TestSupport.h"
#include "agentlink/FOCVersion.h"
#include "platform/Dispatch.h"
#include "platform/RebootSignal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <thread>

namespace {

// "Install" and "Uninstall" are left out on purpose: missing keys show themselves.
const std::map<std::string, std::string> kTexts = {
    {"Cancel", "Abbrechen"},
    {"UninstallerRemoveBackups", "Remove backups too"},
    {"InstallerPackageInfo", "Version $(1.0.0), again $(1.0.0)."},
    {"UninstallerPackageInfo", "Removes the service."},
    {"InstallerPackageTitle", "Install the service"},
    {"UninstallerPackageTitle", "Uninstall the service"},
    {"QuorvantisRemotedInstaller", "Installer App"},
    {"QuorvantisRemotedUninstaller", "Uninstaller App"},
    {"Help", "Hilfe"},
    {"PrivilegedAgentFailed", "It failed; see {LOG_DIR} and {LOG_DIR}."},
    {"MustRebootInfo", "Restart needed."},
};

const std::string kFailedText =
    "It failed; see /var/log/com.quorvantis.remote and /var/log/com.quorvantis.remote.";

class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override { platform::MainLoop::shared().drain(); }

    /// A controller for a bundle named \p bundleName started with \p args; its
    /// launch log in m_log.
    AppDelegate& launch(std::vector<const char*> args, const std::string& bundleName = "QvtRSInstaller.app") {
        m_folder.write(bundleName + "/Contents/Info.plist",
                       testsupport::plistWithStrings({{"CFBundleShortVersionString", "3.2.1"},
                                                      {"CFBundleVersion", "17"},
                                                      {"com.quorvantis.source.revision", "4711"}}));
        platform::Bundle bundle(m_folder.path() + "/" + bundleName + "/Contents/MacOS/QvtRSInstaller");
        bundle.setStringTable(std::make_shared<testsupport::MapStringTable>(kTexts));
        platform::Bundle::setMain(bundle);
        m_defaults = defaultsFor(std::move(args));

        m_controller = std::make_shared<AppDelegate>(m_app, platform::Bundle::main(), *m_defaults);
        m_controller->setWindow(&m_window);
        m_controller->setProgressIndicator(&m_progress);
        m_controller->setProgressInfolabel(&m_progressInfo);
        m_controller->setInstallButton(&m_install);
        m_controller->setUninstallButton(&m_uninstall);
        m_controller->setCancelButton(&m_cancel);
        m_controller->setPackageTitle(&m_packageTitle);
        m_controller->setPackageInfo(&m_packageInfo);
        m_controller->setRemoveBackupsButton(&m_removeBackups);
        m_log = testsupport::captureStandardError([&] { m_controller->applicationWillFinishLaunching(); });
        return *m_controller;
    }

    /// Runs the main-queue work a completion queued, and waits for the
    /// worker's part to have recorded \p lastCall (if given).
    void settle(const std::string& lastCall = {}) {
        platform::MainLoop::shared().drain();
        for (int i = 0; i < 500 && !lastCall.empty() && !m_journal.contains(lastCall); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        platform::MainLoop::shared().drain();
    }

    /// Hands \p event to the controller while a command runs, with a fresh journal.
    bool whileRunning(const AgentMessage& event) {
        m_controller->setCmdState(AppDelegate::CmdRunning);
        m_journal.clear();
        return m_controller->processAgentEvent(event);
    }

    Journal m_journal;
    RecordingControl m_install{m_journal, "install"};
    RecordingControl m_uninstall{m_journal, "uninstall"};
    RecordingControl m_cancel{m_journal, "cancel"};
    RecordingControl m_removeBackups{m_journal, "removeBackups"};
    RecordingControl m_packageTitle{m_journal, "packageTitle"};
    RecordingControl m_packageInfo{m_journal, "packageInfo"};
    RecordingControl m_progressInfo{m_journal, "progressInfo"};
    RecordingControl m_progress{m_journal, "progress"};
    RecordingControl m_window{m_journal, "window"};
    RecordingApplication m_app{m_journal};
    testsupport::TemporaryFolder m_folder;
    std::unique_ptr<platform::UserDefaults> m_defaults;
    std::shared_ptr<AppDelegate> m_controller;
    std::string m_log;
};

} // namespace

TEST_F(ControllerTest, ModeIsUninstallerWhenTheOptionIsPresentOrTheBundleNameSaysSo) {
    // A headless run (its flow, its end and that it never opens a window: the
    // shipped-installer tests) prepares its mode all the same.
    const struct {
        std::vector<const char*> args;
        std::string bundle;
        bool installer;
        bool window;
    } cases[] = {
        {{}, "QvtRSInstaller.app", true, true},
        {{"-uninstall", "NO"}, "QvtRSInstaller.app", false, true},
        {{"-uninstall", ""}, "QvtRSInstaller.app", false, true},
        {{}, "ServiceUninstaller.app", false, true},
        {{}, "ServiceUninstaller.APP", true, true},
        {{}, "QvtRSUninstaller.app", false, true},
        {{"-gui", "NO"}, "Uninstaller.apps", true, false},
        {{"-gui", "NO", "-uninstall", "YES"}, "QvtRSInstaller.app", false, false},
    };
    for (const auto& c : cases) {
        m_journal.clear();
        launch(c.args, c.bundle);
        EXPECT_EQ(m_journal.contains("install shown"), c.installer) << c.bundle << " " << c.args.size();
        EXPECT_EQ(m_controller->runWithGUI(), c.window) << c.bundle << " " << c.args.size();
    }
}

TEST_F(ControllerTest, LaunchLogsTheFullVersionAndFollowsTheModesSetUpTableStepByStep) {
    const struct {
        std::vector<const char*> args;
        Calls expected; ///< all calls: no enabling, no progress, no window
    } cases[] = {
        {{},
         {"install shown", "uninstall hidden", "removeBackups hidden",
          "install title=Install", // missing from the table: the key itself
          "cancel title=Abbrechen", "packageInfo text=Version 3.2.1  (4711), again 3.2.1  (4711).",
          "progressInfo text=", "packageTitle text=Install the service"}},
        {{"-uninstall", "YES"},
         {"install hidden", "uninstall shown", "removeBackups shown", "uninstall title=Uninstall",
          "cancel title=Abbrechen", "removeBackups title=Remove backups too",
          "packageInfo text=Removes the service.", // no placeholder: shown as the table gives it
          "progressInfo text=", "packageTitle text=Uninstall the service"}},
    };
    for (const auto& c : cases) {
        m_journal.clear();
        launch(c.args);
        EXPECT_EQ(m_journal.calls(), c.expected);
        EXPECT_TRUE(includes(m_log, "] Launched: QvtRSInstaller version: 3.2.1  (4711)\n"));
        EXPECT_EQ(m_controller->cmdState(), AppDelegate::CmdIdle);
    }
}

TEST_F(ControllerTest, MenuIsLocalisedDepthFirstWithTheModesApplicationName) {
    m_app.menu = std::make_unique<FakeMenu>(m_journal, "menu", "Main");
    FakeMenu& appMenu = m_app.menu->add("QvtRemotedInstaller").addMenu();
    appMenu.add("About QvtRemotedInstaller");
    FakeMenu& separator = appMenu.add("separator title", true);
    separator.sub = std::make_unique<FakeMenu>(m_journal, "menu", "Under separator");
    separator.sub->add("Deep QvtRemotedInstaller");
    appMenu.add("Quit QvtRemotedInstaller");
    m_app.menu->add("Help").addMenu();

    launch({"-uninstall", "1"});
    const Calls all = m_journal.calls();
    const Calls menuCalls(std::find(all.begin(), all.end(), "packageTitle text=Uninstall the service") + 1,
                          all.end());
    const Calls expected = {
        "menu 'Main' title=Main",
        "item 'QvtRemotedInstaller' title=Uninstaller App",
        "menu 'QvtRemotedInstaller' title=Uninstaller App",
        "item 'About QvtRemotedInstaller' title=About Uninstaller App",
        // the separator keeps its title, its submenu is still localised
        "menu 'Under separator' title=Under separator",
        "item 'Deep QvtRemotedInstaller' title=Deep Uninstaller App",
        "item 'Quit QvtRemotedInstaller' title=Quit Uninstaller App",
        "item 'Help' title=Hilfe",
        "menu 'Help' title=Hilfe",
    };
    EXPECT_EQ(menuCalls, expected);
}

TEST_F(ControllerTest, WindowRunBringsTheWindowForwardAsAModalPanel) {
    launch({"-gui", "yes"});
    m_journal.clear();
    m_controller->applicationDidFinishLaunching();
    EXPECT_TRUE(m_controller->runWithGUI());
    EXPECT_EQ(m_journal.calls(),
              (Calls{"window level=modal panel", "window center", "window key and front"}));
}

TEST_F(ControllerTest, PlaceholdersAreReplacedOnceEvenWhenTheReplacementHoldsOne) {
    launch({});
    EXPECT_EQ(m_controller->buildPackageInfo("NoSuchKey $(1.0.0)"), "NoSuchKey 3.2.1  (4711)");
    EXPECT_EQ(m_controller->localizedMenuTitle("About QvtRemotedInstaller", "QvtRemotedInstaller 2"),
              "About QvtRemotedInstaller 2");
}

TEST_F(ControllerTest, VersionTextsComeFromTheInformationDictionaryAndShowMissingValues) {
    launch({}); // the full version: the launch line
    EXPECT_EQ(FOCVersion::versionInfo(), "17");
    EXPECT_EQ(FOCVersion::sourceRevision(), "4711");

    m_folder.write("QvtRSInstaller.app/Contents/Info.plist",
                   testsupport::plistWithStrings({{"CFBundleShortVersionString", "3.2.2"}}));
    // Read afresh, the missing key printed as null.
    EXPECT_EQ(FOCVersion::fullVersionInfo(), "3.2.2  ((null))");
    EXPECT_FALSE(FOCVersion::versionInfo());
    EXPECT_FALSE(FOCVersion::sourceRevision());
}

// Agent events

TEST_F(ControllerTest, ProgressMovesTheBarAndTheLabelAndOtherEventsChangeNothing) {
    launch({});
    m_journal.clear();
    for (const AgentMessage& event :
         {AgentMessage{{"Event", "Progress"}, {"percentCompleted", 42.5}, {"info", "Copying files"}},
          AgentMessage{{"Event", "Progress"}, {"percentCompleted", "12.5"}},
          AgentMessage{{"Event", "Progress"}, {"percentCompleted", 7}}, AgentMessage{{"Event", "Progress"}}})
        EXPECT_TRUE(m_controller->processAgentEvent(event));
    EXPECT_EQ(m_journal.calls(),
              (Calls{"progress value=42.500000", "progressInfo text=Copying files",
                     "progress value=12.500000", "progressInfo text=", "progress value=7.000000",
                     "progressInfo text=", "progress value=0.000000", "progressInfo text="}));

    m_journal.clear();
    for (const std::optional<AgentMessage>& event :
         {std::optional(AgentMessage{{"Event", "Unknown"}, {"status", 1}}),
          std::optional(AgentMessage{{"status", 1}}), std::optional(AgentMessage{{"Event", 5}}),
          std::optional<AgentMessage>()})
        EXPECT_TRUE(m_controller->processAgentEvent(event));
    EXPECT_TRUE(m_journal.calls().empty());
    EXPECT_EQ(m_controller->cmdState(), AppDelegate::CmdIdle);
}

TEST_F(ControllerTest, AWindowRunShowsEachVerdictAndLogsEveryFailure) {
    launch({});
    const auto broken = Error::withReason("IO", 32, "Broken pipe, error: 32");
    const AgentMessage completed{{"Event", "CommandCompleted"}};
    const std::string failed = "Installation failed with error: ";
    const struct {
        const char* name;
        int before;
        std::function<void()> happen;
        int after;
        Calls shown;        ///< the window stays open: no termination
        std::string logged; ///< besides the failure, if any
    } cases[] = {
        {"completion without status",
         AppDelegate::CmdRunning,
         [&] { EXPECT_FALSE(m_controller->processAgentEvent(completed)); },
         AppDelegate::CmdSucceeded,
         {"cancel title=Close", "cancel enabled", "progress value=100.000000",
          "progressInfo text=Installation successfully completed"},
         ""},
        {"failed completion",
         AppDelegate::CmdRunning,
         [&] {
             EXPECT_FALSE(
                 m_controller->processAgentEvent(AgentMessage{{"Event", "CommandCompleted"}, {"status", 3}}));
         },
         AppDelegate::CmdFailed,
         {"cancel title=Close", "cancel enabled", "progressInfo text=" + kFailedText, "cancel enabled"},
         failed + "Error Domain=MyInstallerErrorDomain Code=-1 \"" + kFailedText + "\""},
        {"the agent closed the connection while the command ran",
         AppDelegate::CmdRunning,
         [&] { m_controller->processErrorEvent(nullptr); },
         AppDelegate::CmdFailed,
         {"progressInfo text=" + kFailedText, "cancel enabled"},
         failed + "Error Domain=MyInstallerErrorDomain Code=-2 \"" + kFailedText + "\""},
        {"a close after success is normal",
         AppDelegate::CmdSucceeded,
         [&] { m_controller->processErrorEvent(nullptr); },
         AppDelegate::CmdSucceeded,
         {},
         "Received error event: (null)\n"},
        {"a connection error is shown as it is, also after a success",
         AppDelegate::CmdSucceeded,
         [&] { m_controller->processErrorEvent(broken); },
         AppDelegate::CmdFailed,
         {"progressInfo text=" + broken->localizedDescription(), "cancel enabled"},
         failed + "Error Domain=IO Code=32"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_controller->setCmdState(c.before);
        m_journal.clear();
        const std::string log = testsupport::captureStandardError([&] {
            c.happen();
            settle();
        });
        EXPECT_EQ(m_controller->cmdState(), c.after);
        EXPECT_EQ(m_journal.calls(), c.shown);
        EXPECT_TRUE(c.logged.empty() || includes(log, c.logged)) << log;
        EXPECT_EQ(count(log, failed), c.after == AppDelegate::CmdFailed ? 1u : 0u) << log;
    }
}

TEST_F(ControllerTest, HeadlessRunEndsOnceWithTheStatusOfWhatHappenedFirst) {
    // Each case is a fresh run: the first verdict ends it, a later one changes nothing.
    const struct {
        const char* name;
        bool packageDeclaresReboot;
        std::optional<AgentMessage> completion; ///< none: the connection closes while the command runs
        bool timeLimit;                         ///< reached before the connection's end after "bye"
        int exitStatus;
    } cases[] = {
        {"success", false, AgentMessage{{"Event", "CommandCompleted"}, {"status", 0}}, false, 0},
        {"success of a package that needs a restart", true, AgentMessage{{"Event", "CommandCompleted"}},
         false, 10},
        {"the agent's failure", true, AgentMessage{{"Event", "CommandCompleted"}, {"status", 6}}, false, 1},
        {"connection closed while running", false, std::nullopt, false, 4},
        {"time limit", false, std::nullopt, true, 5},
    };
    if (platform::RebootSignal::systemRequiresReboot())
        GTEST_SKIP() << "this machine itself waits for a restart";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_folder.write("QvtRSInstaller.app/Contents/InstallerPackage/PackageInfo",
                       testsupport::plistWithStrings(
                           {{AppDelegate::kRebootPackageKey, c.packageDeclaresReboot ? "YES" : "NO"}}));
        launch({"-gui", "NO"});
        const std::string log = testsupport::captureStandardError([&] {
            if (c.completion) {
                whileRunning(*c.completion);
            } else {
                m_controller->setCmdState(AppDelegate::CmdRunning);
                m_journal.clear();
                if (c.timeLimit)
                    m_controller->timeLimitReached();
                m_controller->processErrorEvent(nullptr);
            }
            settle("app terminate posted");
            m_controller->endHeadlessRun(ExitStatus::Succeeded);
        });
        EXPECT_EQ(m_journal.startingWith("app exit status="), 1u);
        EXPECT_TRUE(m_journal.contains("app exit status=" + std::to_string(c.exitStatus)));
        EXPECT_TRUE(includes(log, "Unattended run ends with exit status " + std::to_string(c.exitStatus)));
        EXPECT_FALSE(m_journal.contains("alert run")) << "nobody is there to answer";
    }
}

TEST_F(ControllerTest, WindowRunOffersTheRestartExactlyWhenThePackageDeclaresIt) {
    if (platform::RebootSignal::systemRequiresReboot())
        GTEST_SKIP() << "this machine itself waits for a restart";
    for (const bool declared : {false, true}) {
        m_folder.write(
            "QvtRSInstaller.app/Contents/InstallerPackage/PackageInfo",
            testsupport::plistWithStrings({{"identifier", "com.quorvantis.remote.service"},
                                           {AppDelegate::kRebootPackageKey, declared ? "1" : "0"}}));
        launch({});
        m_journal.clear();
        EXPECT_FALSE(m_controller->checkForReboot());
        if (!declared) {
            EXPECT_TRUE(m_journal.calls().empty());
            continue;
        }
        EXPECT_EQ(m_journal.calls(),
                  (Calls{"alert button=YES", "alert button=RebootLaterButton",
                         "alert message=Restart needed.", "alert informative=Do you want to reboot now?",
                         "alert style=informational", "alert run"}));
        // After a success the accepted reboot ends the application.
        m_app.alertAnswer = platform::ui::Alert::FirstButtonReturn;
        EXPECT_FALSE(whileRunning(AgentMessage{{"Event", "CommandCompleted"}}));
        settle("alert run");
        settle("app terminate posted");
        EXPECT_TRUE(m_journal.contains("app terminate posted"));
        EXPECT_EQ(m_journal.startingWith("app exit status="), 0u);
    }
}
