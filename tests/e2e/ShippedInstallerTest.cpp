// The shipped installer from end to end, inside the test sandbox: the real
// bundle, started as a management tool would start it, runs the headless
// automatic update, which installs the real agent through the real service
// manager, which installs the package: as root, as an unprivileged user who
// cannot elevate, as a desktop user who elevates through the real pkexec and
// polkit daemon, and where systemd manages the jobs. Started as a user would
// start it, it shows its window.
#include "PolkitService.h"
#include "SystemdStandIn.h"
#include "TestSupport.h"
#include "platform/PropertyList.h"
#include "platform/ServiceManager.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::ServiceManager;

namespace {

const std::string kBuildDir = QVT_BUILD_DIR;
const std::string kLabel = "com.quorvantis.remote.RInstallerAgent";
const std::string kReceipt = "/var/lib/com.quorvantis.remote/receipts/com.quorvantis.remote.service.plist";
const std::string kService = "/opt/quorvantis-remote/bin/qvt-remote-service";
const std::string kFailed = "Installation failed with error: ";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

/// Whether \p text contains \p part; either way the text is shown should the
/// expectation fail.
::testing::AssertionResult includes(const std::string& text, const std::string& part) {
    auto result =
        text.find(part) != std::string::npos ? ::testing::AssertionSuccess() : ::testing::AssertionFailure();
    return result << "\"" << part << "\" in:\n" << text;
}

/// Whether \p log has the launch line of the installer of the bundle at
/// \p bundle: time stamp, process and thread, version and revision.
bool hasLaunchLine(const std::string& log, const std::string& bundle) {
    const auto info = platform::PropertyList::fromFile(bundle + "/Contents/Info.plist");
    const std::string revision = info ? info->string("com.quorvantis.source.revision").value_or("?") : "?";
    return std::regex_search(log, std::regex("(^|\\n)\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "
                                             "QvtRSInstaller\\[\\d+:[0-9a-f]+\\] Launched: QvtRSInstaller "
                                             "version: 3\\.2\\.0  \\(" +
                                             revision + "\\)\\n"));
}

std::string agentLog() {
    return readFile(ServiceManager::consoleLogPath(kLabel));
}

class HeadlessFlow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::rootInSandbox())
            GTEST_SKIP() << "installs for real: runs only as root inside tests/sandbox";
    }

    void TearDown() override {
        if (IsSkipped())
            return;
        m_polkit.reset();
        ServiceManager::stopJobAsRoot(kLabel); // through the systemctl stand-in if there is one
        ServiceManager::removeJobFilesAsRoot(kLabel);
        m_systemd.reset();
        std::error_code ignored;
        for (const char* path : {"/opt/quorvantis-remote", "/var/lib/com.quorvantis.remote", "/opt/bundles"})
            fs::remove_all(path, ignored);
        fs::remove(ServiceManager::consoleLogPath(kLabel), ignored);
    }

    /// A copy of the built installer bundle at \p folder (below /opt/bundles),
    /// as a user would have downloaded it.
    static std::string bundleAt(const std::string& folder) {
        const std::string bundle = "/opt/bundles/" + folder + "/QvtRSInstaller.app";
        fs::create_directories(fs::path(bundle).parent_path());
        fs::copy(kBuildDir + "/QvtRSInstaller.app", bundle, fs::copy_options::recursive);
        ::chmod("/opt/bundles", 0755);
        ::chmod(("/opt/bundles/" + folder).c_str(), 0755);
        return bundle;
    }

    /// Replaces a script of the bundle's package.
    static void script(const std::string& bundle, const std::string& name, const std::string& body) {
        const std::string path = bundle + "/Contents/InstallerPackage/Scripts/" + name;
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << "#!/bin/sh\n" << body;
        ::chmod(path.c_str(), 0755);
    }

    /// Runs the bundle's installer headless without a display, as root or as
    /// \p user (its home and runtime folder /run/<user>), with \p changes to
    /// the environment.
    static testsupport::ProcessResult runHeadless(const std::string& bundle, const std::string& user = "",
                                                  const std::map<std::string, std::string>& changes = {}) {
        std::map<std::string, std::string> environment = {
            {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}, {"LANG", "C.UTF-8"}};
        if (!user.empty())
            environment["HOME"] = environment["XDG_RUNTIME_DIR"] = "/run/" + user;
        for (const auto& [name, value] : changes)
            environment[name] = value;
        const std::vector<std::string> argv = {bundle + "/Contents/MacOS/QvtRSInstaller", "-gui", "NO"};
        if (user.empty())
            return testsupport::runProcess(argv, environment, 120);
        const std::string log = "/run/" + user + "/log";
        fs::remove(log);
        testsupport::ProcessResult result;
        result.exitStatus = testsupport::runAsUser(user, [&] {
            const auto ran = testsupport::runProcess(argv, environment, 120);
            std::ofstream(log) << ran.errors;
            return ran.exitStatus;
        });
        result.errors = readFile(log);
        return result;
    }

    /// A bundle for the unprivileged desktop user qvtpk, whose request to bless
    /// its agent a polkit rule answers with \p answer, as an administrator
    /// would in the dialog.
    std::string desktopUserBundle(const std::string& answer) {
        EXPECT_NE(testsupport::makeSandboxUser("qvtpk"), static_cast<uid_t>(-1));
        const std::string bundle = bundleAt("desktop user");
        m_polkit = std::make_unique<testsupport::PolkitService>(testsupport::PolkitService::blessingRule(
            "qvtpk", bundle + "/Contents/Library/LaunchServices/" + kLabel, answer));
        EXPECT_TRUE(m_polkit->ok()) << m_polkit->problem();
        return bundle;
    }

    /// A failed run that ended by itself, reported once, and left nothing installed.
    static void expectFailedLeavingNothing(const testsupport::ProcessResult& result) {
        EXPECT_NE(result.exitStatus, 0) << result.errors;
        EXPECT_LT(result.exitStatus, 128) << "it ended by itself";
        EXPECT_EQ(count(result.errors, kFailed), 1u) << result.errors;
        EXPECT_FALSE(fs::exists("/opt/quorvantis-remote"));
        EXPECT_FALSE(ServiceManager::copyJobDictionary(kLabel));
        EXPECT_FALSE(fs::exists(ServiceManager::installedExecutablePath(kLabel)));
        EXPECT_FALSE(fs::exists(ServiceManager::pidFilePath(kLabel)));
    }

    std::unique_ptr<testsupport::PolkitService> m_polkit;
    std::unique_ptr<testsupport::SystemdStandIn> m_systemd;
};

} // namespace

TEST_F(HeadlessFlow, UpdateInstallsTheDemoPackageAndExitsZero) {
    const std::string bundle = bundleAt("My Apps");
    const auto result = runHeadless(bundle);
    const std::string& log = result.errors;
    EXPECT_EQ(result.exitStatus, 0) << log;

    for (const char* file : {"bin/qvt-remote-service", "etc/service.conf", "README.txt"})
        EXPECT_TRUE(fs::exists(std::string("/opt/quorvantis-remote/") + file)) << file;
    EXPECT_TRUE(platform::PropertyList::fromFile(kReceipt)) << "no receipt";

    EXPECT_TRUE(hasLaunchLine(log, bundle)) << log;
    EXPECT_EQ(count(log, "] AuthorizationCreate: flags: 19\n"), 1u) << log;
    EXPECT_TRUE(
        std::regex_search(log, std::regex("AuthorizationCopyRights: [0-9a-f]+, flags: 19, env items: 1, "
                                          "[0-9]+, [^\n]+\n\n")))
        << log;
    EXPECT_TRUE(includes(log, "] Helper tool not yet installed: " + kLabel + "\n"));
    EXPECT_TRUE(includes(log, "] Privileged helper " + kLabel + " is up-to-date, version: 3.2.0\n"));
    // The package path is the plain bundle path, blanks and all.
    const std::regex sent("Sending Message: \\{[^\n]*\"Cmd\":\"Update\"[^\n]*\"InstallerPackage\":\"" +
                          bundle + "/Contents/InstallerPackage\"");
    EXPECT_TRUE(std::regex_search(log, sent)) << log;
    EXPECT_TRUE(includes(log, "Received Message: {\"Event\":\"Progress\""));
    EXPECT_EQ(count(log, "\"Event\":\"CommandCompleted\""), 1u) << log;
    EXPECT_FALSE(includes(log, "Installation failed"));
}

TEST_F(HeadlessFlow, AFailingScriptKeepsThePreviousInstallationAndExitsNonZero) {
    ASSERT_EQ(runHeadless(bundleAt("good")).exitStatus, 0);
    const std::string installed = readFile(kService);
    const std::string receiptBefore = readFile(kReceipt);

    const std::string bad = bundleAt("bad");
    script(bad, "postinstall", "echo 'the new version does not start' >&2\nexit 3\n");
    const auto result = runHeadless(bad);
    EXPECT_NE(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(count(result.errors, kFailed + "Error Domain=MyInstallerErrorDomain Code=-1 "), 1u)
        << result.errors;
    EXPECT_TRUE(includes(result.errors, "/var/log/com.quorvantis.remote"));
    EXPECT_FALSE(includes(result.errors, "{LOG_DIR}"));
    EXPECT_EQ(readFile(kService), installed);
    EXPECT_EQ(readFile(kReceipt), receiptBefore);
    // The application released the agent after the failure.
    EXPECT_TRUE(includes(agentLog(), "\"Ctrl\":\"bye\""));
}

TEST_F(HeadlessFlow, TheAgentDyingWhileItWorksIsAFailure) {
    const std::string bundle = bundleAt("slow");
    script(bundle, "preinstall", "touch /run/qvt-preinstall-started\nsleep 60\n");
    ::unlink("/run/qvt-preinstall-started");
    std::thread killer([] {
        for (int i = 0; i < 600 && !fs::exists("/run/qvt-preinstall-started"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pid_t agent = 0;
        if (std::ifstream(ServiceManager::pidFilePath(kLabel)) >> agent && agent > 1)
            ::kill(agent, SIGKILL);
    });
    const auto result = runHeadless(bundle);
    killer.join();
    EXPECT_NE(result.exitStatus, 0) << result.errors;
    EXPECT_LT(result.exitStatus, 128) << "it ended by itself";
    EXPECT_TRUE(includes(result.errors, kFailed + "Error Domain=MyInstallerErrorDomain Code=-2 "));
    EXPECT_TRUE(includes(result.errors, "/var/log/com.quorvantis.remote"));
}

TEST_F(HeadlessFlow, NeverConnectsToADisplayEvenWhenOneIsConfigured) {
    // A display that does not exist: a run that tried to open a window would
    // abort. Without an agent in the bundle the run fails fast, and says so.
    const std::string bundle = bundleAt("no-agent");
    fs::remove(bundle + "/Contents/Library/LaunchServices/" + kLabel);
    const auto result = runHeadless(bundle, "", {{"DISPLAY", ":97"}});
    EXPECT_TRUE(includes(result.errors, "] Launched: QvtRSInstaller version: "));
    EXPECT_FALSE(includes(result.errors, "could not connect to display"));
    EXPECT_EQ(result.exitStatus, 1) << result.errors;
    expectFailedLeavingNothing(result);
}

TEST_F(HeadlessFlow, AnUnprivilegedRunWithoutElevationFailsWithoutChangingAnything) {
    ASSERT_NE(testsupport::makeSandboxUser("qvtuser"), static_cast<uid_t>(-1));
    expectFailedLeavingNothing(runHeadless(bundleAt("user"), "qvtuser", {{"PATH", "/nonexistent"}}));
}

TEST_F(HeadlessFlow, ADesktopUserAnAdministratorAuthorizesGetsTheAgentRunningAsRootAndThePackage) {
    const auto result = runHeadless(desktopUserBundle("YES"), "qvtpk");
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_TRUE(
        includes(result.errors, "] Privileged helper " + kLabel + " is up-to-date, version: 3.2.0\n"));
    EXPECT_TRUE(fs::exists(kService));
    EXPECT_TRUE(platform::PropertyList::fromFile(kReceipt)) << "no receipt";
    pid_t agent = 0;
    ASSERT_TRUE(std::ifstream(ServiceManager::pidFilePath(kLabel)) >> agent);
    const std::string status = readFile("/proc/" + std::to_string(agent) + "/status");
    EXPECT_TRUE(includes(status, "\nUid:\t0\t0\t0\t0\n")) << "the agent runs as root:\n" << status;
    // The agent served the installer because an administrator authorized it.
    EXPECT_TRUE(includes(agentLog(), " holds an administrator's grant for this connection"));
}

TEST_F(HeadlessFlow, ADesktopUserAnAdministratorRefusesFailsAndLeavesNothingBehind) {
    const auto result = runHeadless(desktopUserBundle("NO"), "qvtpk");
    EXPECT_TRUE(includes(result.errors, "] pkexec: the administrator authorization was refused\n"));
    expectFailedLeavingNothing(result);
}

TEST_F(HeadlessFlow, UnderSystemdARootRunInstallsThroughSystemctlAndExitsZero) {
    // systemd's runtime folder is there and the systemctl stand-in (systemd
    // itself cannot run in the sandbox) is on systemctl's fixed path. The
    // installer runs as in use, so it ignores SIGCHLD.
    m_systemd = std::make_unique<testsupport::SystemdStandIn>();
    ASSERT_TRUE(m_systemd->ok()) << m_systemd->problem();
    const auto result = runHeadless(bundleAt("systemd"));
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_TRUE(fs::exists(kService));
    EXPECT_EQ(testsupport::SystemdStandIn::calls(), "daemon-reload\nstart " + kLabel + ".service\n");
    EXPECT_FALSE(fs::exists(ServiceManager::pidFilePath(kLabel))) << "no detached daemon was started";
}

TEST(WindowLaunch, WithoutADisplayTheWindowRunStaysUpOffscreenUntilStopped) {
    const std::string bundle = kBuildDir + "/QvtRSInstaller.app";
    const auto result = testsupport::runProcess(
        {bundle + "/Contents/MacOS/QvtRSInstaller", "-uninstall", "NO", "-gui", "YES"},
        {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}, 3);
    EXPECT_TRUE(hasLaunchLine(result.errors, bundle)) << result.errors;
    // It waits for its buttons, so the harness had to stop it.
    EXPECT_EQ(result.exitStatus, 128 + 9) << result.errors;
}
