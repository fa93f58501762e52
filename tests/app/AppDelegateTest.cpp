#include "app/AppDelegate.h"

#include "MapStringTable.h"
#include "RecordingUi.h"
#include "TestSupport.h"
#include "agentlink/FOCVersion.h"

#include <gtest/gtest.h>

#include <map>

using testsupport::TemporaryFolder;

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
    {"About QvtRemotedInstaller", "About QvtRemotedInstaller"},
    {"Help", "Hilfe"},
};

class ControllerTest : public ::testing::Test {
protected:
    /// A controller for a bundle named \p bundleName started with \p args.
    AppDelegate& launch(const std::vector<std::string>& args,
                        const std::string& bundleName = "QvtRSInstaller.app") {
        m_folder.write(bundleName + "/Contents/Info.plist",
                       testsupport::plistWithStrings({{"CFBundleShortVersionString", "3.2.1"},
                                                      {"CFBundleVersion", "17"},
                                                      {"com.quorvantis.source.revision", "4711"}}));
        platform::Bundle bundle(m_folder.path() + "/" + bundleName + "/Contents/MacOS/QvtRSInstaller");
        bundle.setStringTable(std::make_shared<testsupport::MapStringTable>(kTexts));
        platform::Bundle::setMain(bundle);

        m_arguments = {"QvtRSInstaller"};
        m_arguments.insert(m_arguments.end(), args.begin(), args.end());
        std::vector<const char*> argv;
        for (const auto& a : m_arguments)
            argv.push_back(a.c_str());
        m_defaults = std::make_unique<platform::UserDefaults>(static_cast<int>(argv.size()), argv.data(), "");

        m_controller = std::make_unique<AppDelegate>(m_app, platform::Bundle::main(), *m_defaults);
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

    bool installerMode() const {
        return std::find(m_journal.begin(), m_journal.end(), "install shown") != m_journal.end();
    }

    Journal m_journal;
    RecordingButton m_install{m_journal, "install"};
    RecordingButton m_uninstall{m_journal, "uninstall"};
    RecordingButton m_cancel{m_journal, "cancel"};
    RecordingButton m_removeBackups{m_journal, "removeBackups"};
    RecordingLabel m_packageTitle{m_journal, "packageTitle"};
    RecordingLabel m_packageInfo{m_journal, "packageInfo"};
    RecordingLabel m_progressInfo{m_journal, "progressInfo"};
    RecordingProgressBar m_progress{m_journal};
    RecordingWindow m_window{m_journal};
    RecordingApplication m_app{m_journal};
    TemporaryFolder m_folder;
    std::vector<std::string> m_arguments;
    std::unique_ptr<platform::UserDefaults> m_defaults;
    std::unique_ptr<AppDelegate> m_controller;
    std::string m_log;
};

} // namespace

TEST(GuiOption, AbsentMeansWindowOtherwiseTheBooleanReadingOfItsText) {
    EXPECT_TRUE(AppDelegate::runWithGUIForOption(std::nullopt));
    for (const char* off : {"NO", "0", "false", ""})
        EXPECT_FALSE(AppDelegate::runWithGUIForOption(std::string(off))) << off;
    for (const char* on : {"yes", "2", "true", "YES"})
        EXPECT_TRUE(AppDelegate::runWithGUIForOption(std::string(on))) << on;
}

TEST_F(ControllerTest, LaunchLineNamesTheExecutableAndTheFullVersion) {
    launch({});
    EXPECT_NE(m_log.find("] Launched: QvtRSInstaller version: 3.2.1  (4711)\n"), std::string::npos) << m_log;
    EXPECT_EQ(m_controller->cmdState(), AppDelegate::CmdIdle);
}

struct ModeCase {
    std::vector<std::string> args;
    std::string bundle;
    bool installer;
};

TEST_F(ControllerTest, ModeIsUninstallerWhenTheOptionIsPresentOrTheBundleNameSaysSo) {
    const ModeCase cases[] = {
        {{}, "QvtRSInstaller.app", true},
        {{"-uninstall", "NO"}, "QvtRSInstaller.app", false},
        {{"-uninstall", "0"}, "QvtRSInstaller.app", false},
        {{"-uninstall", ""}, "QvtRSInstaller.app", false},
        {{}, "ServiceUninstaller.app", false},
        {{}, "ServiceUninstaller.APP", true},
        {{}, "QvtRSUninstaller.app", false},
        {{"-gui", "NO"}, "Uninstaller.apps", true},
    };
    for (const auto& c : cases) {
        m_journal.clear();
        launch(c.args, c.bundle);
        EXPECT_EQ(installerMode(), c.installer) << c.bundle << " with " << c.args.size() << " arguments";
    }
}

TEST_F(ControllerTest, InstallerSetUpFollowsItsTableStepByStep) {
    launch({});
    const Journal expected = {
        "install shown",          "uninstall hidden",
        "removeBackups hidden",
        "install title=Install", // missing from the table: the key itself
        "cancel title=Abbrechen", "packageInfo text=Version 3.2.1  (4711), again 3.2.1  (4711).",
        "progressInfo text=",     "packageTitle text=Install the service",
    };
    ASSERT_GE(m_journal.size(), expected.size());
    EXPECT_EQ(Journal(m_journal.begin(), m_journal.begin() + expected.size()), expected);
    // Nothing else: no enabling, no progress, no window.
    EXPECT_EQ(m_journal.size(), expected.size());
}

TEST_F(ControllerTest, UninstallerSetUpFollowsItsTableStepByStep) {
    launch({"-uninstall", "YES"});
    const Journal expected = {
        "install hidden",
        "uninstall shown",
        "removeBackups shown",
        "uninstall title=Uninstall",
        "cancel title=Abbrechen",
        "removeBackups title=Remove backups too",
        "packageInfo text=Removes the service.", // no placeholder: shown as the table gives it
        "progressInfo text=",
        "packageTitle text=Uninstall the service",
    };
    EXPECT_EQ(m_journal, expected);
}

TEST_F(ControllerTest, MenuIsLocalisedDepthFirstWithTheModesApplicationName) {
    m_app.menu = std::make_unique<FakeMenu>(m_journal, "Main");
    FakeMenuItem& appItem = m_app.menu->add("QvtRemotedInstaller");
    appItem.sub = std::make_unique<FakeMenu>(m_journal, "QvtRemotedInstaller");
    appItem.sub->add("About QvtRemotedInstaller");
    FakeMenuItem& separator = appItem.sub->add("separator title", true);
    separator.sub = std::make_unique<FakeMenu>(m_journal, "Under separator");
    separator.sub->add("Deep QvtRemotedInstaller");
    appItem.sub->add("Quit QvtRemotedInstaller");
    FakeMenuItem& helpItem = m_app.menu->add("Help");
    helpItem.sub = std::make_unique<FakeMenu>(m_journal, "Help");

    launch({"-uninstall", "1"});
    const Journal menuCalls(
        std::find(m_journal.begin(), m_journal.end(), "packageTitle text=Uninstall the service") + 1,
        m_journal.end());
    const Journal expected = {
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
    EXPECT_EQ(m_journal, (Journal{"window level=modal panel", "window center", "window key and front"}));
}

TEST_F(ControllerTest, HeadlessRunPreparesTheChosenModeButNeverShowsTheWindow) {
    launch({"-gui", "NO", "-uninstall", "YES"});
    EXPECT_FALSE(m_controller->runWithGUI());
    EXPECT_FALSE(installerMode());
    m_journal.clear();
    std::string log =
        testsupport::captureStandardError([&] { m_controller->applicationDidFinishLaunching(); });
    for (const auto& call : m_journal)
        EXPECT_EQ(call.rfind("window", 0), std::string::npos) << call;
    // No update flow exists in this build: the run ends at once and says it failed.
    EXPECT_NE(log.find("Automatic update is not available in this build"), std::string::npos) << log;
    EXPECT_EQ(m_journal, (Journal{"app exit status=1", "app terminate posted"}));
}

TEST_F(ControllerTest, CancelButtonRequestsDeferredTermination) {
    launch({});
    m_journal.clear();
    m_controller->cancelButtonClicked();
    EXPECT_EQ(m_journal, Journal{"app terminate deferred"});
}

TEST_F(ControllerTest, PackageInfoAndMenuTitlesReplaceEveryPlaceholder) {
    launch({});
    EXPECT_EQ(m_controller->buildPackageInfo("InstallerPackageInfo"),
              "Version 3.2.1  (4711), again 3.2.1  (4711).");
    EXPECT_EQ(m_controller->buildPackageInfo("NoSuchKey $(1.0.0)"), "NoSuchKey 3.2.1  (4711)");
    EXPECT_EQ(m_controller->localizedMenuTitle("QvtRemotedInstaller QvtRemotedInstaller", "X"), "X X");
    EXPECT_EQ(m_controller->localizedMenuTitle("Plain", "X"), "Plain");
    // A name that contains the placeholder is not expanded again.
    EXPECT_EQ(m_controller->localizedMenuTitle("About QvtRemotedInstaller", "QvtRemotedInstaller 2"),
              "About QvtRemotedInstaller 2");
}

TEST_F(ControllerTest, VersionTextsComeFromTheInformationDictionaryAndShowMissingValues) {
    launch({});
    EXPECT_EQ(FOCVersion::fullVersionInfo(), "3.2.1  (4711)");
    EXPECT_EQ(FOCVersion::versionInfo(), "17");
    EXPECT_EQ(FOCVersion::sourceRevision(), "4711");

    m_folder.write("QvtRSInstaller.app/Contents/Info.plist",
                   testsupport::plistWithStrings({{"CFBundleShortVersionString", "3.2.2"}}));
    EXPECT_EQ(FOCVersion::fullVersionInfo(),
              "3.2.2  ((null))"); // read afresh, the missing key printed as null
    EXPECT_FALSE(FOCVersion::versionInfo());
    EXPECT_FALSE(FOCVersion::sourceRevision());
}
