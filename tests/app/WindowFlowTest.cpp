// The window's flows from end to end, on Qt's offscreen platform: the real
// interface, the real bundle's agent installed by the real service manager,
// the real package installed. Root, inside the test sandbox (this binary
// always runs there).
#include "app/MainMenuInterface.h"

#include "QtTestSupport.h"
#include "TestSupport.h"
#include "platform/ProcessInfo.h"
#include "platform/ServiceManager.h"
#include "platform/qt/QtMainPoster.h"
#include "ui_MainMenu.h"

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTest>

#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using platform::ServiceManager;

namespace {

const std::string kLabel = "com.quorvantis.remote.RInstallerAgent";
const std::string kBackups = "/var/lib/com.quorvantis.remote/backups/com.quorvantis.remote.service";
const std::string kService = "/opt/quorvantis-remote/bin/qvt-remote-service";
const std::string kInstaller = kBuildDir + "/QvtRSInstaller.app";

class WindowFlow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::rootInSandbox())
            GTEST_SKIP() << "installs for real: runs only as root inside tests/sandbox";
        platform::ProcessInfo::overrideOperatingSystemVersion(platform::OperatingSystemVersion{10, 12, 0});
    }

    void TearDown() override {
        platform::ProcessInfo::overrideOperatingSystemVersion(std::nullopt);
        if (IsSkipped())
            return;
        m_ui.reset();
        m_defaults.reset();
        ServiceManager::stopJobAsRoot(kLabel);
        ServiceManager::removeJobFilesAsRoot(kLabel);
        std::error_code ignored;
        for (const char* path : {"/opt/quorvantis-remote", "/var/lib/com.quorvantis.remote", "/opt/bundles",
                                 "/etc/com.quorvantis.remote"})
            fs::remove_all(path, ignored);
        fs::remove(ServiceManager::consoleLogPath(kLabel), ignored);
    }

    /// Opens the window of the bundle at \p bundle, as the application loop
    /// would, and shows it.
    const Ui::MainMenu& open(const std::string& bundle) {
        m_defaults = defaultsFor({});
        m_ui = std::make_unique<MainMenuInterface>(m_app, useBundle(bundle), *m_defaults);
        m_ui->applicationWillFinishLaunching();
        m_ui->applicationDidFinishLaunching();
        QApplication::processEvents();
        return m_ui->widgets();
    }

    /// Clicks \p button and waits for the flow to end with the cancel button
    /// enabled again; what the application logged meanwhile in m_log.
    int runFlow(QAbstractButton* button) {
        int ended = 0;
        m_log = testsupport::captureStandardError([&] {
            QTest::mouseClick(button, Qt::LeftButton);
            EXPECT_FALSE(button->isEnabled()) << "the flow disables its button at once";
            EXPECT_FALSE(m_ui->widgets().cancelButton->isEnabled());
            ended = runLoopUntil([&] { return m_ui->widgets().cancelButton->isEnabled(); });
        });
        return ended;
    }

    platform::qt::QtMainPoster m_poster;
    platform::qt::QtApplication m_app;
    std::unique_ptr<platform::UserDefaults> m_defaults;
    std::unique_ptr<MainMenuInterface> m_ui;
    std::string m_log;
};

} // namespace

TEST_F(WindowFlow, InstallShowsProgressAndSuccessAndOnACurrentSystemTheWindowStaysOpenWithoutAlert) {
    const Ui::MainMenu& w = open(kInstaller);
    bool alertSeen = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout,
                     [&] { alertSeen |= QApplication::activeModalWidget() != nullptr; });
    watch.start(10);
    ASSERT_EQ(runFlow(w.installButton), kDone) << m_log;
    EXPECT_EQ(w.progressInfolabel->text(), "Installation successfully completed");
    EXPECT_EQ(w.cancelButton->text(), "Close");
    EXPECT_TRUE(w.cancelButton->isEnabled());
    EXPECT_FALSE(w.installButton->isEnabled());
    EXPECT_EQ(w.progressIndicator->value(), 100);
    EXPECT_TRUE(includes(m_log, "Received Message: {\"Event\":\"Progress\""));
    EXPECT_TRUE(fs::exists(kService));
    // Nothing asks the application to quit: the window stays.
    EXPECT_EQ(runLoopUntil([] { return true; }), kDone);
    EXPECT_TRUE(m_ui->window().isVisible());
    EXPECT_FALSE(alertSeen);
}

TEST_F(WindowFlow, UninstallRemovesBackupsOnlyWhenTheBoxIsChecked) {
    for (bool removeBackups : {false, true}) {
        // Installing twice makes backups of the files the second run replaced.
        for (int run = 0; run < 2; ++run) {
            ASSERT_EQ(runFlow(open(kInstaller).installButton), kDone) << m_log;
            ASSERT_EQ(m_ui->widgets().progressInfolabel->text(), "Installation successfully completed");
        }
        ASSERT_TRUE(fs::exists(kBackups)) << "no backups to remove";

        const Ui::MainMenu& w = open(kBuildDir + "/QvtRSUninstaller.app");
        w.removeBackupsButton->setChecked(removeBackups);
        ASSERT_EQ(runFlow(w.uninstallButton), kDone) << m_log;
        EXPECT_EQ(w.progressInfolabel->text(), "Installation successfully completed") << m_log;
        EXPECT_FALSE(fs::exists(kService));
        EXPECT_EQ(fs::exists(kBackups), !removeBackups);
        const std::string sent = std::string("\"RemoveBackups\":") + (removeBackups ? "1" : "0");
        EXPECT_TRUE(includes(m_log, "Sending Message: "));
        EXPECT_TRUE(includes(m_log, sent));
        // The agent received the same value.
        EXPECT_TRUE(includes(readFile(ServiceManager::consoleLogPath(kLabel)), sent));
        TearDown();
        SetUp();
    }
}

TEST_F(WindowFlow, AnAgentThatCannotBeInstalledIsReportedInTheWindow) {
    const std::string bundle = "/opt/bundles/no-agent/QvtRSInstaller.app";
    fs::create_directories("/opt/bundles/no-agent");
    fs::copy(kInstaller, bundle, fs::copy_options::recursive);
    fs::remove(bundle + "/Contents/Library/LaunchServices/" + kLabel);
    const Ui::MainMenu& w = open(bundle);
    EXPECT_EQ(runFlow(w.installButton), kDone);
    EXPECT_TRUE(w.progressInfolabel->text().startsWith("The installation helper could not be set up"))
        << w.progressInfolabel->text().toStdString();
    EXPECT_TRUE(w.cancelButton->isEnabled());
    EXPECT_EQ(w.cancelButton->text(), "Cancel") << "no completion, so no Close";
    EXPECT_FALSE(w.installButton->isEnabled());
    EXPECT_EQ(count(m_log, "Installation failed with error: "), 1u) << m_log;
}

// A failing package: the controller's texts in the controller tests, the
// rollback and the release of the agent in the shipped-installer tests.

TEST_F(WindowFlow, OnOldSystemsTheRebootAlertCanRebootOrBeDismissed) {
    fs::create_directories("/etc/com.quorvantis.remote");
    std::ofstream("/etc/com.quorvantis.remote/agent.plist")
        << testsupport::plistWithStrings({{"RebootCommand", "/usr/bin/touch /run/qvt-rebooted"}});
    ::unlink("/run/qvt-rebooted");
    platform::ProcessInfo::overrideOperatingSystemVersion(platform::OperatingSystemVersion{10, 9, 0});

    for (const std::string answer : {"Later", "Restart Now"}) {
        const Ui::MainMenu& w = open(kInstaller);
        bool alertSeen = false;
        QTimer pressAnswer;
        QObject::connect(&pressAnswer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                alertSeen = true;
                EXPECT_EQ(box->informativeText(), "Do you want to reboot now?");
                EXPECT_EQ(box->icon(), QMessageBox::Information);
                for (QAbstractButton* button : box->buttons())
                    if (button->text().toStdString() == answer)
                        button->click();
            }
        });
        pressAnswer.start(20);
        QTest::mouseClick(w.installButton, Qt::LeftButton);
        const bool reboot = answer == "Restart Now";
        // "Later" leaves the window open; "Restart Now" sends "Reboot" and quits.
        const int ended =
            runLoopUntil([&] { return !reboot && alertSeen && !QApplication::activeModalWidget(); });
        EXPECT_TRUE(alertSeen) << answer;
        if (reboot) {
            EXPECT_EQ(ended, 0) << "the application terminated";
            for (int i = 0; i < 100 && !fs::exists("/run/qvt-rebooted"); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_TRUE(fs::exists("/run/qvt-rebooted")) << "the agent ran the configured reboot command";
        } else {
            EXPECT_EQ(ended, kDone);
            EXPECT_FALSE(fs::exists("/run/qvt-rebooted"));
            EXPECT_TRUE(m_ui->window().isVisible());
        }
        m_ui.reset();
    }
}
