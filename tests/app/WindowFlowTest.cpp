// The window's flows from end to end, on Qt's offscreen platform: the real
// interface, the real bundle's agent installed by the real service manager,
// the real package installed. Root, inside the test sandbox (this binary
// always runs there).
#include "app/MainMenuInterface.h"

#include "QtTestSupport.h"
#include "TestSupport.h"
#include "platform/RebootSignal.h"
#include "platform/ServiceManager.h"
#include "platform/qt/QtMainPoster.h"
#include "ui_MainMenu.h"

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTest>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sys/mount.h>
#include <sys/stat.h>
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
    }

    void TearDown() override {
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

TEST_F(WindowFlow, UninstallSendsWhetherTheRemoveBackupsBoxIsChecked) {
    // What the agent does with the value: the agent's command tests.
    for (bool removeBackups : {false, true}) {
        ASSERT_EQ(runFlow(open(kInstaller).installButton), kDone) << m_log;
        const Ui::MainMenu& w = open(kBuildDir + "/QvtRSUninstaller.app");
        w.removeBackupsButton->setChecked(removeBackups);
        ASSERT_EQ(runFlow(w.uninstallButton), kDone) << m_log;
        EXPECT_EQ(w.progressInfolabel->text(), "Installation successfully completed") << m_log;
        EXPECT_FALSE(fs::exists(kService));
        const std::string sent = std::string("\"RemoveBackups\":") + (removeBackups ? "1" : "0");
        EXPECT_TRUE(std::regex_search(m_log, std::regex("Sending Message: [^\n]*" + sent))) << m_log;
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
    EXPECT_EQ(w.cancelButton->text(), "Cancel") << "no completion, so no Close";
    EXPECT_FALSE(w.installButton->isEnabled());
    EXPECT_EQ(count(m_log, "Installation failed with error: "), 1u) << m_log;
}

// A failing package: the controller's texts in the controller tests, the
// rollback and the release of the agent in the shipped-installer tests.

namespace {

// What three distributions say of themselves. Their version numbers once
// decided the restart alert (anything at or above 10.9 asked for one); now
// only the system's own signal does, whatever the version.
const char* const kDebian10 = "PRETTY_NAME=\"Debian GNU/Linux 10 (buster)\"\nNAME=\"Debian GNU/Linux\"\n"
                              "VERSION_ID=\"10\"\nVERSION=\"10 (buster)\"\nID=debian\n";
const char* const kRhel9 = "NAME=\"Red Hat Enterprise Linux\"\nVERSION=\"9.4 (Plow)\"\nID=\"rhel\"\n"
                           "ID_LIKE=\"fedora\"\nVERSION_ID=\"9.4\"\n";
const char* const kUbuntu2404 = "PRETTY_NAME=\"Ubuntu 24.04.1 LTS\"\nNAME=\"Ubuntu\"\nVERSION_ID=\"24.04\"\n"
                                "ID=ubuntu\nID_LIKE=debian\n";

/// /etc/os-release replaced for as long as it lives. It is usually a link into
/// /usr/lib, which the sandbox does not overlay: the link is replaced, never
/// written through, and put back at the end.
class OsReleaseStandIn {
public:
    OsReleaseStandIn()
        : m_target(fs::is_symlink(kPath) ? fs::read_symlink(kPath).string() : ""),
          m_original(m_target.empty() ? readFile(kPath) : "") {}
    ~OsReleaseStandIn() {
        fs::remove(kPath);
        if (!m_target.empty())
            fs::create_symlink(m_target, kPath);
        else
            std::ofstream(kPath) << m_original;
    }
    OsReleaseStandIn(const OsReleaseStandIn&) = delete;
    OsReleaseStandIn& operator=(const OsReleaseStandIn&) = delete;

    void say(const char* text) const {
        fs::remove(kPath);
        std::ofstream(kPath) << text;
    }

private:
    static constexpr const char* kPath = "/etc/os-release";
    std::string m_target;
    std::string m_original;
};

/// needs-restarting of Red Hat's family where the sandbox's /usr/bin has none,
/// exiting with \p exitStatus: /usr/bin overlaid, in this mount namespace only,
/// for as long as it lives.
class NeedsRestartingStandIn {
public:
    explicit NeedsRestartingStandIn(int exitStatus) {
        fs::create_directories("/run/qvt-usr-bin/upper");
        fs::create_directories("/run/qvt-usr-bin/work");
        m_mounted = ::mount("overlay", "/usr/bin", "overlay", 0,
                            "lowerdir=/usr/bin,upperdir=/run/qvt-usr-bin/upper,"
                            "workdir=/run/qvt-usr-bin/work") == 0;
        std::ofstream("/usr/bin/needs-restarting")
            << "#!/bin/sh\n[ \"$1\" = -r ] || exit 2\necho 'Reboot should not be necessary.'\nexit "
            << exitStatus << "\n";
        ::chmod("/usr/bin/needs-restarting", 0755);
    }
    ~NeedsRestartingStandIn() {
        if (m_mounted)
            ::umount2("/usr/bin", MNT_DETACH);
        std::error_code ignored;
        fs::remove_all("/run/qvt-usr-bin", ignored);
    }
    bool mounted() const { return m_mounted; }

private:
    bool m_mounted = false;
};

} // namespace

TEST_F(WindowFlow, TheRestartAlertAppearsExactlyWhenTheSystemSignalsOneWhateverItsVersion) {
    fs::create_directories("/etc/com.quorvantis.remote");
    std::ofstream("/etc/com.quorvantis.remote/agent.plist")
        << testsupport::plistWithStrings({{"RebootCommand", "/usr/bin/touch /run/qvt-rebooted"}});
    const OsReleaseStandIn osRelease;
    const struct {
        const char* system;
        const char* osRelease;
        std::optional<int> needsRestarting; ///< its exit status; none: no such program
        bool rebootRequiredFile;            ///< what a Debian or Ubuntu package's maintainer script writes
        std::string answer;                 ///< pressed in the alert; empty: no alert may come
    } cases[] = {
        {"Debian 10, no signal", kDebian10, std::nullopt, false, ""},
        {"Debian 10, /run/reboot-required", kDebian10, std::nullopt, true, "Later"},
        {"RHEL 9, needs-restarting says no", kRhel9, 0, false, ""},
        {"RHEL 9, needs-restarting says yes", kRhel9, 1, false, "Later"},
        {"Ubuntu 24.04, no signal", kUbuntu2404, std::nullopt, false, ""},
        {"Ubuntu 24.04, /run/reboot-required", kUbuntu2404, std::nullopt, true, "Restart Now"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.system);
        osRelease.say(c.osRelease);
        ::unlink("/run/qvt-rebooted");
        ::unlink(platform::RebootSignal::kRebootRequiredFile);
        std::unique_ptr<NeedsRestartingStandIn> needsRestarting;
        if (c.needsRestarting) {
            needsRestarting = std::make_unique<NeedsRestartingStandIn>(*c.needsRestarting);
            ASSERT_TRUE(needsRestarting->mounted()) << "cannot overlay /usr/bin: " << std::strerror(errno);
        }
        if (c.rebootRequiredFile)
            std::ofstream(platform::RebootSignal::kRebootRequiredFile) << "*** System restart required ***\n";

        const Ui::MainMenu& w = open(kInstaller);
        bool alertSeen = false;
        QTimer pressAnswer;
        QObject::connect(&pressAnswer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                alertSeen = true;
                EXPECT_EQ(box->informativeText(), "Do you want to reboot now?");
                EXPECT_EQ(box->icon(), QMessageBox::Information);
                for (QAbstractButton* button : box->buttons())
                    if (button->text().toStdString() == c.answer)
                        button->click();
            }
        });
        pressAnswer.start(20);
        // "Restart Now" sends "Reboot" and quits; "Later" leaves the window open. Without an alert the
        // window stays open too: a second after the completion none has come.
        const bool reboot = c.answer == "Restart Now";
        std::optional<std::chrono::steady_clock::time_point> completed;
        int ended = 0;
        m_log = testsupport::captureStandardError([&] {
            QTest::mouseClick(w.installButton, Qt::LeftButton);
            EXPECT_FALSE(w.installButton->isEnabled()) << "the flow disables its button at once";
            ended = runLoopUntil([&] {
                if (!c.answer.empty())
                    return !reboot && alertSeen && !QApplication::activeModalWidget();
                if (!w.cancelButton->isEnabled())
                    return false;
                const auto now = std::chrono::steady_clock::now();
                completed = completed.value_or(now);
                return now - *completed > std::chrono::seconds(1);
            });
        });
        EXPECT_EQ(alertSeen, !c.answer.empty());
        EXPECT_EQ(w.progressInfolabel->text(), "Installation successfully completed") << m_log;
        EXPECT_EQ(w.cancelButton->text(), "Close");
        EXPECT_FALSE(w.installButton->isEnabled());
        EXPECT_EQ(w.progressIndicator->value(), 100);
        EXPECT_TRUE(includes(m_log, "Received Message: {\"Event\":\"Progress\""));
        EXPECT_TRUE(fs::exists(kService));
        if (reboot) {
            EXPECT_EQ(ended, 0) << "the application terminated";
            for (int i = 0; i < 100 && !fs::exists("/run/qvt-rebooted"); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_TRUE(fs::exists("/run/qvt-rebooted")) << "the agent ran the reboot command";
        } else {
            EXPECT_EQ(ended, kDone);
            EXPECT_FALSE(fs::exists("/run/qvt-rebooted"));
            EXPECT_TRUE(m_ui->window().isVisible());
        }
        m_ui.reset();
    }
    ::unlink(platform::RebootSignal::kRebootRequiredFile);
}
