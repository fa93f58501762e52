// The window's flows from end to end, on Qt's offscreen platform: the real
// interface, the real bundle's agent installed by the real service manager,
// the real package installed. Root, inside the test sandbox (this binary
// always runs there).
#include "app/MainMenuInterface.h"

#include "TestSupport.h"
#include "platform/ProcessInfo.h"
#include "platform/ServiceManager.h"
#include "platform/qt/QtMainPoster.h"
#include "platform/qt/QtStringTable.h"
#include "ui_MainMenu.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using platform::ServiceManager;

namespace {

const std::string kBuildDir = QVT_BUILD_DIR;
const std::string kLabel = "com.quorvantis.remote.RInstallerAgent";
const std::string kBackups = "/var/lib/com.quorvantis.remote/backups/com.quorvantis.remote.service";
const std::string kService = "/opt/quorvantis-remote/bin/qvt-remote-service";
constexpr int kDone = 42;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

/// Runs the application loop until \p done holds (then answers kDone), a
/// termination request ends it (its exit status), or \p seconds pass (99).
int runLoopUntil(const std::function<bool()>& done, int seconds = 60) {
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done())
            QCoreApplication::exit(kDone);
    });
    poll.start(20);
    QTimer::singleShot(seconds * 1000, [] { QCoreApplication::exit(99); });
    return QApplication::exec();
}

class WindowFlow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::rootInSandbox())
            GTEST_SKIP() << "installs for real: runs only as root inside tests/sandbox";
        platform::ProcessInfo::overrideOperatingSystemVersion(platform::OperatingSystemVersion{12, 0, 0});
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

    /// Opens the window of the bundle at \p bundle with \p args, as the
    /// application loop would, and shows it.
    const Ui::MainMenu& open(const std::string& bundle, std::vector<const char*> args) {
        platform::Bundle main(bundle + "/Contents/MacOS/QvtRSInstaller");
        main.setStringTable(std::make_shared<platform::qt::QtStringTable>(
            QString::fromStdString(main.resourcesPath() + "/translations"), QStringLiteral("QvtRSInstaller"),
            QLocale(QStringLiteral("en_US"))));
        platform::Bundle::setMain(main);
        args.insert(args.begin(), "QvtRSInstaller");
        m_defaults = std::make_unique<platform::UserDefaults>(static_cast<int>(args.size()), args.data(), "");
        m_ui = std::make_unique<MainMenuInterface>(m_app, platform::Bundle::main(), *m_defaults);
        m_ui->applicationWillFinishLaunching();
        m_ui->applicationDidFinishLaunching();
        QApplication::processEvents();
        return m_ui->widgets();
    }

    /// A copy of the built installer bundle below /opt/bundles.
    static std::string bundleCopy(const std::string& name) {
        const std::string bundle = "/opt/bundles/" + name + "/QvtRSInstaller.app";
        fs::create_directories(fs::path(bundle).parent_path());
        fs::copy(kBuildDir + "/QvtRSInstaller.app", bundle, fs::copy_options::recursive);
        return bundle;
    }

    /// Clicks \p button and waits for the flow to end with the cancel button enabled again.
    int runFlow(QAbstractButton* button) {
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_FALSE(button->isEnabled()) << "the flow disables its button at once";
        EXPECT_FALSE(m_ui->widgets().cancelButton->isEnabled());
        return runLoopUntil([&] { return m_ui->widgets().cancelButton->isEnabled(); });
    }

    platform::qt::QtMainPoster m_poster;
    platform::qt::QtApplication m_app;
    std::unique_ptr<platform::UserDefaults> m_defaults;
    std::unique_ptr<MainMenuInterface> m_ui;
};

} // namespace

TEST_F(WindowFlow, InstallShowsProgressAndSuccessAndTheWindowStaysOpen) {
    const Ui::MainMenu& w = open(kBuildDir + "/QvtRSInstaller.app", {});
    std::string log;
    int ended = 0;
    log = testsupport::captureStandardError([&] { ended = runFlow(w.installButton); });
    ASSERT_EQ(ended, kDone) << log;
    EXPECT_EQ(w.progressInfolabel->text(), "Installation successfully completed");
    EXPECT_EQ(w.cancelButton->text(), "Close");
    EXPECT_TRUE(w.cancelButton->isEnabled());
    EXPECT_FALSE(w.installButton->isEnabled());
    EXPECT_EQ(w.progressIndicator->value(), 100);
    EXPECT_NE(log.find("Received Message: {\"Event\":\"Progress\""), std::string::npos) << log;
    EXPECT_TRUE(fs::exists(kService));
    // Nothing asks the application to quit: the window stays.
    EXPECT_EQ(runLoopUntil([] { return true; }), kDone);
    EXPECT_TRUE(m_ui->window().isVisible());
}

TEST_F(WindowFlow, UninstallRemovesBackupsOnlyWhenTheBoxIsChecked) {
    for (bool removeBackups : {false, true}) {
        // Installing twice makes backups of the files the second run replaced.
        for (int run = 0; run < 2; ++run) {
            const Ui::MainMenu& w = open(kBuildDir + "/QvtRSInstaller.app", {});
            ASSERT_EQ(runFlow(w.installButton), kDone);
            ASSERT_EQ(w.progressInfolabel->text(), "Installation successfully completed");
        }
        ASSERT_TRUE(fs::exists(kBackups)) << "no backups to remove";

        const Ui::MainMenu& w = open(kBuildDir + "/QvtRSUninstaller.app", {});
        w.removeBackupsButton->setChecked(removeBackups);
        std::string log;
        int ended = 0;
        log = testsupport::captureStandardError([&] { ended = runFlow(w.uninstallButton); });
        ASSERT_EQ(ended, kDone) << log;
        EXPECT_EQ(w.progressInfolabel->text(), "Installation successfully completed") << log;
        EXPECT_FALSE(fs::exists(kService));
        EXPECT_EQ(fs::exists(kBackups), !removeBackups);
        const std::string sent = std::string("\"RemoveBackups\":") + (removeBackups ? "1" : "0");
        EXPECT_NE(log.find("Sending Message: "), std::string::npos) << log;
        EXPECT_NE(log.find(sent), std::string::npos) << log;
        // The agent received the same value.
        EXPECT_NE(readFile(ServiceManager::consoleLogPath(kLabel)).find(sent), std::string::npos);
        TearDown();
        SetUp();
    }
}

TEST_F(WindowFlow, AnAgentThatCannotBeInstalledIsReportedInTheWindow) {
    const std::string bundle = bundleCopy("no-agent");
    fs::remove(bundle + "/Contents/Library/LaunchServices/" + kLabel);
    const Ui::MainMenu& w = open(bundle, {});
    std::string log;
    log = testsupport::captureStandardError([&] { EXPECT_EQ(runFlow(w.installButton), kDone); });
    EXPECT_TRUE(w.progressInfolabel->text().startsWith("The installation helper could not be set up"))
        << w.progressInfolabel->text().toStdString();
    EXPECT_TRUE(w.cancelButton->isEnabled());
    EXPECT_EQ(w.cancelButton->text(), "Cancel") << "no completion, so no Close";
    EXPECT_FALSE(w.installButton->isEnabled());
    size_t failures = 0;
    for (size_t at = log.find("Installation failed with error: "); at != std::string::npos;
         at = log.find("Installation failed with error: ", at + 1))
        ++failures;
    EXPECT_EQ(failures, 1u) << log;
}

TEST_F(WindowFlow, AFailingPackagePointsToTheLogDirectory) {
    const std::string bundle = bundleCopy("failing");
    std::ofstream(bundle + "/Contents/InstallerPackage/Scripts/postinstall") << "#!/bin/sh\nexit 4\n";
    const Ui::MainMenu& w = open(bundle, {});
    ASSERT_EQ(runFlow(w.installButton), kDone);
    EXPECT_TRUE(w.progressInfolabel->text().contains("/var/log/com.quorvantis.remote"))
        << w.progressInfolabel->text().toStdString();
    EXPECT_FALSE(w.progressInfolabel->text().contains("{LOG_DIR}"));
    EXPECT_EQ(w.cancelButton->text(), "Close");
    EXPECT_FALSE(fs::exists(kService)) << "the failed installation was rolled back";
    // The application releases the agent after a failed command.
    EXPECT_TRUE(runLoopUntil(
                    [] {
                        return readFile(ServiceManager::consoleLogPath(kLabel)).find("\"Ctrl\":\"bye\"") !=
                               std::string::npos;
                    },
                    10) == kDone);
}

TEST_F(WindowFlow, OnOldSystemsTheRebootAlertCanRebootOrBeDismissed) {
    fs::create_directories("/etc/com.quorvantis.remote");
    std::ofstream("/etc/com.quorvantis.remote/agent.plist")
        << testsupport::plistWithStrings({{"RebootCommand", "/usr/bin/touch /run/qvt-rebooted"}});
    ::unlink("/run/qvt-rebooted");
    platform::ProcessInfo::overrideOperatingSystemVersion(platform::OperatingSystemVersion{10, 9, 0});

    for (const char* answer : {"Later", "Restart Now"}) {
        const Ui::MainMenu& w = open(kBuildDir + "/QvtRSInstaller.app", {});
        bool alertSeen = false;
        QTimer pressAnswer;
        QObject::connect(&pressAnswer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                alertSeen = true;
                EXPECT_EQ(box->informativeText(), "Do you want to reboot now?");
                for (QAbstractButton* button : box->buttons())
                    if (button->text() == answer)
                        button->click();
            }
        });
        pressAnswer.start(20);
        QTest::mouseClick(w.installButton, Qt::LeftButton);
        const bool reboot = std::string(answer) == "Restart Now";
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

TEST_F(WindowFlow, OnCurrentSystemsNoAlertFollowsASuccess) {
    platform::ProcessInfo::overrideOperatingSystemVersion(platform::OperatingSystemVersion{10, 12, 0});
    const Ui::MainMenu& w = open(kBuildDir + "/QvtRSInstaller.app", {});
    bool alertSeen = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout,
                     [&] { alertSeen |= QApplication::activeModalWidget() != nullptr; });
    watch.start(10);
    ASSERT_EQ(runFlow(w.installButton), kDone);
    EXPECT_EQ(runLoopUntil([] { return true; }), kDone);
    EXPECT_FALSE(alertSeen);
}
