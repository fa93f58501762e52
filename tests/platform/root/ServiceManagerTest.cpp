// The service manager and the authorization for real, as root inside the test sandbox: helpers installed into
// system paths and started as daemons (or through a systemctl stand-in); PAM checks users made for the test;
// the real pkexec asks a polkit daemon on the sandbox's bus.
#include "platform/ServiceManager.h"
#include "platform/Authorization.h"
#include "platform/ProcessInfo.h"

#include "BindMount.h"
#include "PolkitService.h"
#include "SystemdStandIn.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::Authorization;
using platform::ServiceManager;
using std::filesystem::exists;
using testsupport::readFile;
using namespace std::chrono_literals;

namespace {

const std::string kHelper = QVT_LISTENING_HELPER;
const std::string kLabel = "com.quorvantis.test.Helper";
const std::string kInstalled = ServiceManager::installedExecutablePath(kLabel);

std::shared_ptr<Authorization> authorizationAsked(uint32_t flags = 19) {
    std::shared_ptr<Authorization> authorization;
    Authorization::create(nullptr, flags, authorization);
    if (flags != 0)
        authorization->copyRights(Authorization::kBlessHelperRight, nullptr, flags);
    return authorization;
}

/// Nothing of the job is left: no record, executable, unit, pid file or socket.
void expectNoJobFiles() {
    EXPECT_FALSE(ServiceManager::copyJobDictionary(kLabel));
    for (const auto& path : {ServiceManager::jobRecordPath(kLabel), kInstalled, kInstalled + ".previous",
                             kInstalled + ".new", ServiceManager::unitPath(kLabel),
                             ServiceManager::pidFilePath(kLabel), ServiceManager::socketPath(kLabel)})
        EXPECT_FALSE(exists(path)) << path;
}

/// A root-owned executable script with \p body, in \p folder.
std::string script(const testsupport::TemporaryFolder& folder, const std::string& name,
                   const std::string& body, mode_t mode = 0755) {
    const std::string path = folder.write(name, "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), mode);
    return path;
}

class ServiceManagerTest : public ::testing::Test {
protected:
    static platform::Result<void> bless(const std::string& helper = kHelper) {
        return ServiceManager::bless(kLabel, helper, authorizationAsked().get());
    }
    static pid_t jobPid() { return std::atoi(readFile(ServiceManager::pidFilePath(kLabel)).c_str()); }
    static bool running(pid_t pid) {
        return platform::ProcessInfo::processStartTime(pid).has_value();
    } // no zombie
    static bool listening() {
        return ServiceManager::waitForListener(ServiceManager::socketPath(kLabel), 0ms);
    }

    void SetUp() override {
        if (!testsupport::rootInSandbox())
            GTEST_SKIP() << "runs only as root inside tests/sandbox: it installs into system paths";
    }
    void TearDown() override {
        ServiceManager::setTimeLimits({});
        if (testsupport::rootInSandbox()) {
            ServiceManager::stopJobAsRoot(kLabel);
            ServiceManager::removeJobFilesAsRoot(kLabel);
        }
        m_systemd.reset(); // after the job is stopped through it
    }

    void playSystemd() {
        m_systemd = std::make_unique<testsupport::SystemdStandIn>();
        ASSERT_TRUE(m_systemd->ok()) << m_systemd->problem();
        ASSERT_TRUE(ServiceManager::systemdRunning());
    }

    std::unique_ptr<testsupport::SystemdStandIn> m_systemd;
};

} // namespace

TEST_F(ServiceManagerTest, BlessingInstallsRecordsStartsReplacesAndRemovesTheJob) {
    const auto blessed = bless();
    ASSERT_TRUE(blessed) << blessed.failure().description;
    struct stat info {};
    ASSERT_EQ(::stat(kInstalled.c_str(), &info), 0);
    EXPECT_TRUE(info.st_uid == 0 && (info.st_mode & 07777) == 0755)
        << info.st_uid << " " << std::oct << info.st_mode;
    EXPECT_EQ(readFile(kInstalled), readFile(kHelper));
    const auto record = ServiceManager::copyJobDictionary(kLabel);
    EXPECT_EQ(record ? record->string("Label") : std::nullopt, kLabel);
    const pid_t first = jobPid();
    EXPECT_TRUE(running(first));
    EXPECT_TRUE(listening());
    EXPECT_NE(::getsid(first), ::getsid(0)) << "a daemon of its own session";

    ASSERT_TRUE(bless()) << "blessing again replaces the running job";
    const pid_t second = jobPid();
    EXPECT_NE(first, second);
    EXPECT_FALSE(running(first));
    EXPECT_TRUE(running(second));

    ServiceManager::stopJobAsRoot(kLabel);
    EXPECT_FALSE(running(second));
    EXPECT_TRUE(ServiceManager::removeJobFilesAsRoot(kLabel));
    expectNoJobFiles();
}

// Without the right or with a bad label: ServiceManagerRulesTest.
TEST_F(ServiceManagerTest, ABadHelperFailsLeavingNothingOrThePreviousJobRunning) {
    const std::pair<std::string, int> cases[] = {
        {"/nonexistent/helper", ENOENT}, {"/tmp", EINVAL}, {"/bin/true", ETIMEDOUT}}; // true never listens
    for (bool replacing : {false, true}) {
        if (replacing) {
            ASSERT_TRUE(bless());
        }
        for (const auto& [helper, code] : cases) {
            const auto blessed = bless(helper);
            ASSERT_FALSE(blessed) << helper;
            EXPECT_EQ(blessed.failure().code, code) << helper;
            if (!replacing) {
                expectNoJobFiles();
                continue;
            }
            EXPECT_EQ(readFile(kInstalled), readFile(kHelper)) << helper << ": the previous helper is back";
            EXPECT_TRUE(ServiceManager::copyJobDictionary(kLabel)) << helper;
            EXPECT_FALSE(exists(kInstalled + ".previous") || exists(kInstalled + ".new")) << helper;
            EXPECT_TRUE(running(jobPid()) && listening()) << helper;
        }
    }
}

TEST_F(ServiceManagerTest, UnderSystemdJobsAreStartedReplacedAndRemovedThroughSystemctl) {
    playSystemd();
    const auto blessed = bless();
    ASSERT_TRUE(blessed) << blessed.failure().description;
    const std::string start = "daemon-reload\nstart " + kLabel + ".service\n";
    EXPECT_EQ(testsupport::SystemdStandIn::calls(), start);
    EXPECT_EQ(readFile(ServiceManager::unitPath(kLabel)), ServiceManager::unitText(kLabel, kInstalled));
    EXPECT_FALSE(exists(ServiceManager::pidFilePath(kLabel))) << "systemd keeps the pid, not a pid file";

    // systemd accepts the unit as it is, without a warning.
    const auto verified = testsupport::runProcess(
        {"/usr/bin/systemd-analyze", "verify", ServiceManager::unitPath(kLabel)}, {}, 60);
    EXPECT_EQ(verified.exitStatus, 0) << verified.errors;
    EXPECT_EQ(verified.errors + verified.output, "");

    ASSERT_TRUE(bless());
    const std::string replaced = start + "stop " + kLabel + ".service\n" + start;
    EXPECT_EQ(testsupport::SystemdStandIn::calls(), replaced);

    ServiceManager::stopJobAsRoot(kLabel);
    EXPECT_TRUE(ServiceManager::removeJobFilesAsRoot(kLabel));
    EXPECT_EQ(testsupport::SystemdStandIn::calls(),
              replaced + "stop " + kLabel + ".service\ndaemon-reload\n");
    expectNoJobFiles();
}

TEST_F(ServiceManagerTest, UnderSystemdAFailingOrHangingSystemctlIsReportedAndLeavesNothing) {
    playSystemd();
    ServiceManager::setTimeLimits({300ms, ServiceManager::kAuthorizationTimeLimit});
    const struct {
        const char* script;
        int code;
        const char* description;
    } cases[] = {
        {"echo \"Unit file is broken\" >&2\nexit 1", EIO,
         "systemctl daemon-reload failed: exited with status 1: Unit file is broken"},
        {"exec /bin/sleep 60", ETIMEDOUT,
         "systemctl daemon-reload failed: did not finish within its time limit and was killed"},
    };
    for (const auto& c : cases) {
        testsupport::TemporaryFolder folder;
        testsupport::BindMount standIn(script(folder, "systemctl", c.script),
                                       ServiceManager::systemctlPath());
        ASSERT_TRUE(standIn.ok()) << standIn.problem();
        std::signal(SIGCHLD, SIG_IGN); // as the application does
        const auto start = std::chrono::steady_clock::now();
        const auto blessed = bless();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << "no hang: " << c.script;
        std::signal(SIGCHLD, SIG_DFL);
        ASSERT_FALSE(blessed) << c.script;
        EXPECT_EQ(blessed.failure().code, c.code) << c.script;
        EXPECT_EQ(blessed.failure().description, c.description);
        expectNoJobFiles();
    }
}

TEST_F(ServiceManagerTest, RootHoldsTheBlessRightButNoUnknownOne) {
    const auto authorization = authorizationAsked(0);
    EXPECT_EQ(authorization->copyRights("com.example.other", nullptr, 19), Authorization::Denied);
    EXPECT_FALSE(authorization->holdsRight("com.example.other"));
    EXPECT_EQ(authorization->copyRights(Authorization::kBlessHelperRight, nullptr, 19),
              Authorization::Success);
    EXPECT_EQ(authorization->elevation(), Authorization::Elevation::AlreadyRoot);
}

TEST_F(ServiceManagerTest, TheConsoleLogIsUsedOnlyAsARootFileOfOneNameAndMovedAsideOnceItIsFull) {
    const std::string log = ServiceManager::consoleLogPath(kLabel);
    const std::string started = "listening on " + ServiceManager::socketPath(kLabel) + "\n";
    // What stands at the log path, and the reason it is not used.
    ASSERT_NE(testsupport::makeSandboxUser("qvtuser"), static_cast<uid_t>(-1));
    const std::string elsewhere = "/var/log/elsewhere";
    const struct {
        const char* name;
        std::function<void()> plant;
        std::string why;
    } refused[] = {
        {"a symbolic link", [&] { std::filesystem::create_symlink(elsewhere, log); },
         "it is a symbolic link"},
        {"a second name", [&] { std::filesystem::create_hard_link(elsewhere, log); }, "it has 2 names"},
        {"another user's file",
         [&] {
             std::filesystem::copy_file(elsewhere, log);
             ASSERT_EQ(::chown(log.c_str(), ::getpwnam("qvtuser")->pw_uid, 0), 0);
         },
         "it is owned by user qvtuser (uid " + std::to_string(::getpwnam("qvtuser")->pw_uid) + "), not root"},
    };
    for (const auto& c : refused) {
        std::filesystem::remove(log); // earlier jobs' output
        std::ofstream(elsewhere) << "untouched\n";
        c.plant();
        const std::string said = testsupport::captureStandardError([&] { ASSERT_TRUE(bless()) << c.name; });
        EXPECT_NE(
            said.find("The console log " + log + " is not used, the job's output is discarded: " + c.why),
            std::string::npos)
            << c.name << ": " << said;
        EXPECT_TRUE(listening()) << c.name << ": the job starts all the same";
        ServiceManager::stopJobAsRoot(kLabel);
        EXPECT_EQ(readFile(elsewhere), "untouched\n") << c.name << ": nothing is written through it";
        std::filesystem::remove(elsewhere);
    }
    std::filesystem::remove(log);

    // {size of the log before, moved aside}: from the limit on. Sizes are compared, not megabytes of text.
    const std::pair<size_t, bool> sizes[] = {{ServiceManager::kConsoleLogRotationSize - 1, false},
                                             {ServiceManager::kConsoleLogRotationSize, true}};
    const auto sizeOf = [](const std::string& path) { return std::filesystem::file_size(path); };
    for (const auto& [size, rotated] : sizes) {
        std::ofstream(log) << std::string(size, 'x');
        ::chmod(log.c_str(), 0600);
        std::ofstream(log + ".1") << "older\n";
        ASSERT_TRUE(bless()) << size;
        ServiceManager::stopJobAsRoot(kLabel);
        EXPECT_EQ(sizeOf(log + ".1"), rotated ? size : 6u) << size;
        EXPECT_EQ(sizeOf(log), (rotated ? 0 : size) + started.size()) << size;
        EXPECT_EQ(readFile(log).substr(rotated ? 0 : size), started) << size;
        struct stat info {};
        EXPECT_TRUE(::stat(log.c_str(), &info) == 0 && info.st_uid == 0 && (info.st_mode & 0777) == 0600)
            << size << ": " << std::oct << info.st_mode;
    }
    ASSERT_TRUE(bless()) << "a log below the limit again is not moved aside";
    ServiceManager::stopJobAsRoot(kLabel);
    EXPECT_EQ(readFile(log), started + started);
    EXPECT_EQ(sizeOf(log + ".1"), ServiceManager::kConsoleLogRotationSize);
    std::filesystem::remove(log + ".1");
}

TEST_F(ServiceManagerTest, AFirstInstallationRefusesAHelperOthersThanRootAndTheInvokingUserCanChange) {
    const uid_t user = testsupport::makeSandboxUser("qvtuser");
    const uid_t other = testsupport::makeSandboxUser("qvtother", "qvtshare");
    ASSERT_NE(user, static_cast<uid_t>(-1));
    ASSERT_NE(other, static_cast<uid_t>(-1));
    const gid_t share = ::getgrnam("qvtshare")->gr_gid;
    const struct {
        const char* name;
        uid_t owner;
        gid_t group;
        mode_t mode;         ///< of the helper's folder
        const char* invoker; ///< PKEXEC_UID; nothing: root runs it directly
        std::string writers; ///< empty: installed
    } cases[] = {
        {"a folder everyone may write", 0, 0, 0777, nullptr, "everyone"},
        {"another user's folder", other, 0, 0755, nullptr,
         "its owner, user qvtother (uid " + std::to_string(other) + ")"},
        {"a folder of a group with another member", 0, share, 0775, nullptr, "the group qvtshare"},
        {"a folder of root's group", 0, 0, 0775, nullptr, ""},
        {"a shared folder with the sticky bit", 0, 0, 01777, nullptr, ""},
        {"the folder of the user pkexec names", user, 0, 0755, "qvtuser", ""},
    };
    for (const auto& c : cases) {
        testsupport::TemporaryFolder folder;
        const std::string place = folder.path() + "/place";
        std::filesystem::create_directory(place);
        ASSERT_EQ(::chown(place.c_str(), c.owner, c.group), 0);
        ASSERT_EQ(::chmod(place.c_str(), c.mode), 0);
        const std::string helper = place + "/helper";
        std::filesystem::copy_file(kHelper, helper);
        if (c.invoker)
            ::setenv("PKEXEC_UID", std::to_string(::getpwnam(c.invoker)->pw_uid).c_str(), 1);
        platform::Result<void> blessed;
        const std::string said = testsupport::captureStandardError([&] { blessed = bless(helper); });
        ::unsetenv("PKEXEC_UID");
        if (c.writers.empty()) {
            EXPECT_TRUE(blessed) << c.name << ": " << blessed.failure().description;
            EXPECT_TRUE(listening()) << c.name;
            ServiceManager::stopJobAsRoot(kLabel);
            ServiceManager::removeJobFilesAsRoot(kLabel);
            continue;
        }
        ASSERT_FALSE(blessed) << c.name;
        EXPECT_EQ(blessed.failure().code, EPERM) << c.name;
        const std::string refusal =
            "Refusing the helper " + helper + ": " + place + " can be changed by " + c.writers;
        EXPECT_EQ(blessed.failure().description, refusal) << c.name;
        EXPECT_NE(said.find(refusal + "\n"), std::string::npos) << c.name << ": " << said;
        expectNoJobFiles();
    }
}

class AuthorizationUsersTest : public ServiceManagerTest {
protected:
    void SetUp() override {
        ServiceManagerTest::SetUp();
        if (IsSkipped())
            return;
        // Users exist only in the sandbox's throw-away /etc.
        ASSERT_NE(testsupport::makeSandboxUser("qvtadmin", "sudo"), static_cast<uid_t>(-1));
        ASSERT_NE(testsupport::makeSandboxUser("qvtuser"), static_cast<uid_t>(-1));
        ASSERT_EQ(std::system("printf 'qvtadmin:Adm1n-pass\\nqvtuser:Us3r-pass\\n' | chpasswd"), 0);
    }
};

TEST_F(AuthorizationUsersTest, PamChecksThePasswordAndTheAdministratorGroup) {
    // pam_unix lets a user check only their own password without root, so each check runs as the user it
    // names, as the installer would.
    const std::tuple<const char*, const char*, int32_t> cases[] = {
        {"qvtadmin", "Adm1n-pass", Authorization::Success},
        {"qvtadmin", "wrong", Authorization::Denied},
        {"qvtuser", "Us3r-pass", Authorization::Denied}};
    for (const auto& [user, password, result] : cases)
        EXPECT_EQ(
            testsupport::runAsUser(
                user, [&] { return Authorization::verifyAdministrator(user, password) == result ? 0 : 1; }),
            0)
            << user << " " << password;
}

// Without pkexec at all, without a polkit daemon or with a polkit rule that says no: ShippedInstallerTest.
TEST_F(AuthorizationUsersTest,
       WithoutPolkitsConsentOrWithAHangingPkexecNothingIsInstalledAndReasonsAreToldApart) {
    // The helper where the user (and pkexec for it) can reach it; a pkexec on PATH must not stand in.
    testsupport::TemporaryFolder folder;
    ::chmod(folder.path().c_str(), 0755);
    const std::string helper = folder.path() + "/helper";
    std::filesystem::copy_file(kHelper, helper);
    script(folder, "bin/pkexec", "exit 0");
    const std::string path = folder.path() + "/bin";
    // A pkexec that never ends, on the fixed path: set-user-id root, as findPkexec wants.
    const std::string hanging = script(folder, "hanging-pkexec", "exec /bin/sleep 60", 04755);
    ServiceManager::setTimeLimits({ServiceManager::kSystemctlTimeLimit, 300ms});
    const struct {
        const char* name;
        std::optional<std::string> rules; ///< nothing: no polkit daemon at all
        std::string pkexec;               ///< mounted over the fixed path; empty: the real one
        int code;
        const char* said; ///< in the log, or in the failure's description
    } cases[] = {
        {"nobody to ask the password",
         std::string("// polkit's defaults: an administrator must authenticate\n"), "",
         Authorization::InteractionNotAllowed, "pkexec: no authentication agent could ask"},
        {"pkexec hangs", std::nullopt, hanging, ETIMEDOUT, "pkexec did not finish within 300 milliseconds"},
    };
    for (const auto& c : cases) {
        std::unique_ptr<testsupport::PolkitService> polkit;
        if (c.rules) {
            polkit = std::make_unique<testsupport::PolkitService>(*c.rules);
            ASSERT_TRUE(polkit->ok()) << polkit->problem();
        }
        std::optional<testsupport::BindMount> standIn;
        if (!c.pkexec.empty()) {
            standIn.emplace(c.pkexec, Authorization::kPkexecPaths[0]);
            ASSERT_TRUE(standIn->ok()) << standIn->problem();
        }
        const auto start = std::chrono::steady_clock::now();
        const int status = testsupport::runAsUser("qvtuser", [&] {
            setenv("PATH", path.c_str(), 1);
            const auto authorization = authorizationAsked();
            if (authorization->elevation() != Authorization::Elevation::Pkexec)
                return 1;
            std::optional<platform::Failure> failed;
            const std::string said = testsupport::captureStandardError(
                [&] { failed = ServiceManager::bless(kLabel, helper, authorization.get()).failureIfAny(); });
            if (!failed || failed->code != c.code)
                return 2;
            return (said + failed->description).find(c.said) == std::string::npos ? 3 : 0;
        });
        EXPECT_EQ(status, 0) << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 20s) << c.name << ": no hang";
        expectNoJobFiles();
    }
}
