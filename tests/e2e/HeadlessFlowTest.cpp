// The headless automatic update from end to end: the real bundle, started as
// a management tool would start it, installs the real agent through the real
// service manager, which installs the package. Root, inside the test sandbox.
#include "PolkitService.h"
#include "SystemdStandIn.h"
#include "TestSupport.h"
#include "platform/PropertyList.h"
#include "platform/ServiceManager.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <pwd.h>
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
const std::map<std::string, std::string> kNoDisplay = {
    {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}, {"LANG", "C.UTF-8"}};

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

class HeadlessFlow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::rootInSandbox())
            GTEST_SKIP() << "installs for real: runs only as root inside tests/sandbox";
    }

    void TearDown() override {
        if (IsSkipped())
            return;
        ServiceManager::stopJobAsRoot(kLabel);
        ServiceManager::removeJobFilesAsRoot(kLabel);
        std::error_code ignored;
        fs::remove_all("/opt/quorvantis-remote", ignored);
        fs::remove_all("/var/lib/com.quorvantis.remote", ignored);
        fs::remove_all("/opt/bundles", ignored);
        fs::remove(ServiceManager::consoleLogPath(kLabel), ignored);
    }

    /// A copy of the built installer bundle at \p folder (below /opt/bundles),
    /// as a user would have downloaded it.
    std::string bundleAt(const std::string& folder) {
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

    static testsupport::ProcessResult runHeadless(const std::string& bundle, int timeoutSeconds = 120) {
        return testsupport::runProcess({bundle + "/Contents/MacOS/QvtRSInstaller", "-gui", "NO"}, kNoDisplay,
                                       timeoutSeconds);
    }

    static std::string agentLog() { return readFile(ServiceManager::consoleLogPath(kLabel)); }
};

} // namespace

TEST_F(HeadlessFlow, UpdateInstallsTheDemoPackageAndExitsZero) {
    const std::string bundle = bundleAt("My Apps");
    const auto result = runHeadless(bundle);
    const std::string& log = result.errors;
    EXPECT_EQ(result.exitStatus, 0) << log;

    for (const char* file : {"bin/qvt-remote-service", "etc/service.conf", "README.txt"})
        EXPECT_TRUE(fs::exists(std::string("/opt/quorvantis-remote/") + file)) << file;
    auto receipt = platform::PropertyList::fromFile(kReceipt);
    ASSERT_TRUE(receipt) << "no receipt";

    EXPECT_NE(log.find("] Launched: QvtRSInstaller version: 3.2.0  ("), std::string::npos) << log;
    EXPECT_EQ(count(log, "] AuthorizationCreate: flags: 19\n"), 1u) << log;
    EXPECT_TRUE(
        std::regex_search(log, std::regex("AuthorizationCopyRights: [0-9a-f]+, flags: 19, env items: 1, "
                                          "[0-9]+, [^\n]+\n\n")))
        << log;
    EXPECT_NE(log.find("] Helper tool not yet installed: " + kLabel + "\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] Privileged helper " + kLabel + " is up-to-date, version: 3.2.0\n"),
              std::string::npos)
        << log;
    // The package path is the plain bundle path, blanks and all.
    const std::regex sent("Sending Message: \\{[^\n]*\"Cmd\":\"Update\"[^\n]*\"InstallerPackage\":\"" +
                          bundle + "/Contents/InstallerPackage\"");
    EXPECT_TRUE(std::regex_search(log, sent)) << log;
    EXPECT_NE(log.find("Received Message: {\"Event\":\"Progress\""), std::string::npos) << log;
    EXPECT_EQ(count(log, "\"Event\":\"CommandCompleted\""), 1u) << log;
    EXPECT_EQ(log.find("Installation failed"), std::string::npos) << log;
}

TEST_F(HeadlessFlow, AFailingScriptKeepsThePreviousInstallationAndExitsNonZero) {
    ASSERT_EQ(runHeadless(bundleAt("good")).exitStatus, 0);
    const std::string installed = readFile(kService);
    const std::string receiptBefore = readFile(kReceipt);

    const std::string bad = bundleAt("bad");
    script(bad, "postinstall", "echo 'the new version does not start' >&2\nexit 3\n");
    const auto result = runHeadless(bad);
    EXPECT_NE(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(
        count(result.errors, "Installation failed with error: Error Domain=MyInstallerErrorDomain Code=-1 "),
        1u)
        << result.errors;
    EXPECT_NE(result.errors.find("/var/log/com.quorvantis.remote"), std::string::npos) << result.errors;
    EXPECT_EQ(result.errors.find("{LOG_DIR}"), std::string::npos) << result.errors;
    EXPECT_EQ(readFile(kService), installed);
    EXPECT_EQ(readFile(kReceipt), receiptBefore);
    // The application released the agent after the failure.
    EXPECT_NE(agentLog().find("\"Ctrl\":\"bye\""), std::string::npos) << agentLog();
}

TEST_F(HeadlessFlow, AnUnprivilegedRunWithoutElevationFailsWithoutChangingAnything) {
    // The user's runtime and home folders live in the sandbox, not in the real /tmp.
    ASSERT_NE(testsupport::makeSandboxUser("qvtuser"), static_cast<uid_t>(-1));
    const std::string bundle = bundleAt("user");
    const int status = testsupport::runAsUser("qvtuser", [&] {
        auto environment = kNoDisplay;
        environment["PATH"] = "/nonexistent";
        environment["HOME"] = "/run/qvtuser";
        environment["XDG_RUNTIME_DIR"] = "/run/qvtuser";
        const auto result = testsupport::runProcess({bundle + "/Contents/MacOS/QvtRSInstaller", "-gui", "NO"},
                                                    environment, 60);
        const bool oneFailure = count(result.errors, "Installation failed with error: ") == 1;
        return result.exitStatus != 0 && result.exitStatus < 128 && oneFailure ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(fs::exists(kService));
    EXPECT_FALSE(ServiceManager::copyJobDictionary(kLabel));
}

TEST_F(HeadlessFlow, TheAgentDyingWhileItWorksIsAFailure) {
    const std::string bundle = bundleAt("slow");
    script(bundle, "preinstall", "touch /run/qvt-preinstall-started\nsleep 60\n");
    ::unlink("/run/qvt-preinstall-started");
    std::thread killer([] {
        for (int i = 0; i < 600 && !fs::exists("/run/qvt-preinstall-started"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::ifstream pidFile(ServiceManager::pidFilePath(kLabel));
        pid_t agent = 0;
        if (pidFile >> agent && agent > 1)
            ::kill(agent, SIGKILL);
    });
    const auto result = runHeadless(bundle);
    killer.join();
    EXPECT_NE(result.exitStatus, 0) << result.errors;
    EXPECT_LT(result.exitStatus, 128) << "it ended by itself";
    EXPECT_NE(
        result.errors.find("Installation failed with error: Error Domain=MyInstallerErrorDomain Code=-2 "),
        std::string::npos)
        << result.errors;
    EXPECT_NE(result.errors.find("/var/log/com.quorvantis.remote"), std::string::npos) << result.errors;
}

TEST_F(HeadlessFlow, NeverConnectsToADisplayEvenWhenOneIsConfigured) {
    // A display that does not exist: a run that tried to open a window would
    // abort. Without an agent in the bundle the run fails fast, and says so.
    const std::string bundle = bundleAt("no-agent");
    fs::remove(bundle + "/Contents/Library/LaunchServices/" + kLabel);
    const auto result = testsupport::runProcess({bundle + "/Contents/MacOS/QvtRSInstaller", "-gui", "0"},
                                                {{"DISPLAY", ":97"}, {"QT_QPA_PLATFORM", ""}}, 60);
    EXPECT_NE(result.errors.find("] Launched: QvtRSInstaller version: "), std::string::npos) << result.errors;
    EXPECT_EQ(result.errors.find("could not connect to display"), std::string::npos) << result.errors;
    EXPECT_EQ(count(result.errors, "Installation failed with error: "), 1u) << result.errors;
    EXPECT_EQ(result.exitStatus, 1) << result.errors;
}

/// A desktop user's run: the unprivileged user qvtpk starts the shipped
/// installer headless, and it elevates through the real pkexec, which asks
/// the real polkit daemon (on the sandbox's own system bus); a polkit rule
/// answers for the user as an administrator would in the dialog.
class PolkitHeadlessFlow : public HeadlessFlow {
protected:
    void SetUp() override {
        HeadlessFlow::SetUp();
        if (IsSkipped())
            return;
        ASSERT_NE(testsupport::makeSandboxUser("qvtpk"), static_cast<uid_t>(-1));
        m_bundle = bundleAt("desktop user");
    }
    void TearDown() override {
        m_polkit.reset();
        HeadlessFlow::TearDown();
    }

    void answer(const std::string& answer) {
        const std::string agent = m_bundle + "/Contents/Library/LaunchServices/" + kLabel;
        m_polkit = std::make_unique<testsupport::PolkitService>(
            testsupport::PolkitService::blessingRule("qvtpk", agent, answer));
        ASSERT_TRUE(m_polkit->ok()) << m_polkit->problem();
    }

    /// Runs the installer headless as qvtpk; its exit status, and its log in m_log.
    int runAsUser() {
        const std::string bundle = m_bundle;
        const int status = testsupport::runAsUser("qvtpk", [&bundle] {
            auto environment = kNoDisplay;
            environment["HOME"] = "/run/qvtpk";
            environment["XDG_RUNTIME_DIR"] = "/run/qvtpk";
            const auto result = testsupport::runProcess(
                {bundle + "/Contents/MacOS/QvtRSInstaller", "-gui", "NO"}, environment, 120);
            std::ofstream("/run/qvtpk/log") << result.errors;
            return result.exitStatus;
        });
        m_log = readFile("/run/qvtpk/log");
        return status;
    }

    std::string m_bundle;
    std::string m_log;
    std::unique_ptr<testsupport::PolkitService> m_polkit;
};

TEST_F(PolkitHeadlessFlow, AnAuthorizedUserGetsTheAgentRunningAsRootAndThePackageInstalled) {
    answer("YES");
    EXPECT_EQ(runAsUser(), 0) << m_log;
    EXPECT_NE(m_log.find("] Privileged helper " + kLabel + " is up-to-date, version: 3.2.0\n"),
              std::string::npos)
        << m_log;
    EXPECT_TRUE(fs::exists(kService));
    EXPECT_TRUE(platform::PropertyList::fromFile(kReceipt)) << "no receipt";
    std::ifstream pidFile(ServiceManager::pidFilePath(kLabel));
    pid_t agent = 0;
    ASSERT_TRUE(pidFile >> agent);
    const std::string status = readFile("/proc/" + std::to_string(agent) + "/status");
    EXPECT_NE(status.find("\nUid:\t0\t0\t0\t0\n"), std::string::npos) << "the agent runs as root:\n"
                                                                      << status;
    // The agent served the installer because an administrator authorized it.
    EXPECT_NE(agentLog().find(" holds an administrator's grant for this connection"), std::string::npos)
        << agentLog();
}

TEST_F(PolkitHeadlessFlow, ARefusalFailsTheRunAndLeavesNothingBehind) {
    answer("NO");
    const int status = runAsUser();
    EXPECT_NE(status, 0) << m_log;
    EXPECT_LT(status, 128) << "it ended by itself";
    EXPECT_NE(m_log.find("] pkexec: the administrator authorization was refused\n"), std::string::npos)
        << m_log;
    EXPECT_EQ(count(m_log, "Installation failed with error: "), 1u) << m_log;
    EXPECT_FALSE(fs::exists("/opt/quorvantis-remote"));
    EXPECT_FALSE(ServiceManager::copyJobDictionary(kLabel));
    EXPECT_FALSE(fs::exists(ServiceManager::installedExecutablePath(kLabel)));
    EXPECT_FALSE(fs::exists(ServiceManager::pidFilePath(kLabel)));
}

/// A machine where systemd runs: its runtime folder is there, and the
/// systemctl stand-in (systemd itself cannot run in the sandbox) is mounted on
/// the fixed path the service manager uses. The installer runs as in use, so
/// it ignores SIGCHLD.
class SystemdHeadlessFlow : public HeadlessFlow {
protected:
    void SetUp() override {
        HeadlessFlow::SetUp();
        if (IsSkipped())
            return;
        m_systemd = std::make_unique<testsupport::SystemdStandIn>();
        ASSERT_TRUE(m_systemd->ok()) << m_systemd->problem();
    }
    void TearDown() override {
        HeadlessFlow::TearDown(); // stops the job through the stand-in
        m_systemd.reset();
    }

    std::unique_ptr<testsupport::SystemdStandIn> m_systemd;
};

TEST_F(SystemdHeadlessFlow, ARootRunInstallsThroughSystemctlAndExitsZero) {
    const auto result = runHeadless(bundleAt("systemd"));
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_TRUE(fs::exists(kService));
    EXPECT_EQ(testsupport::SystemdStandIn::calls(), "daemon-reload\nstart " + kLabel + ".service\n");
    EXPECT_FALSE(fs::exists(ServiceManager::pidFilePath(kLabel))) << "no detached daemon was started";
}
