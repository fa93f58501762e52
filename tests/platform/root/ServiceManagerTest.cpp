// The service manager and the authorization for real, as root inside the test
// sandbox: helpers are installed below /usr/local/libexec, recorded in /etc,
// started as daemons (or through systemctl, where a stand-in plays systemd,
// which cannot run here) and stopped again; PAM checks real users made for the
// test; the real pkexec asks a real polkit daemon on the sandbox's own bus.
#include "platform/ServiceManager.h"
#include "platform/Authorization.h"

#include "BindMount.h"
#include "PolkitService.h"
#include "SystemdStandIn.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using platform::Authorization;
using platform::ServiceManager;
using std::filesystem::exists;

namespace {

using testsupport::readFile;

const std::string kHelper = QVT_LISTENING_HELPER;
const std::string kLabel = "com.quorvantis.test.Helper";
const std::string kInstalled = ServiceManager::installedExecutablePath(kLabel);

std::shared_ptr<Authorization> grantedAuthorization() {
    std::shared_ptr<Authorization> authorization;
    EXPECT_EQ(Authorization::create(nullptr, 19, authorization), Authorization::Success);
    EXPECT_EQ(authorization->copyRights(Authorization::kBlessHelperRight, nullptr, 19),
              Authorization::Success);
    return authorization;
}

/// Blesses \p helper as the job kLabel, with the right granted.
std::optional<ServiceManager::Failure> bless(const std::string& helper = kHelper) {
    return ServiceManager::blessJob(kLabel, helper, grantedAuthorization().get());
}

pid_t jobPid() {
    pid_t pid = 0;
    std::ifstream(ServiceManager::pidFilePath(kLabel)) >> pid;
    return pid;
}

bool running(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string id, name, state;
    return stat >> id >> name >> state && state != "Z";
}

bool listening() {
    return ServiceManager::waitForListener(ServiceManager::socketPath(kLabel), std::chrono::milliseconds(0));
}

/// Nothing of the job is left: no record, executable, unit, pid file or socket.
void expectNoJobFiles() {
    EXPECT_FALSE(ServiceManager::copyJobDictionary(kLabel));
    for (const auto& path : {ServiceManager::jobRecordPath(kLabel), kInstalled, kInstalled + ".previous",
                             kInstalled + ".new", ServiceManager::unitPath(kLabel),
                             ServiceManager::pidFilePath(kLabel), ServiceManager::socketPath(kLabel)})
        EXPECT_FALSE(exists(path)) << path;
}

class ServiceManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::rootInSandbox())
            GTEST_SKIP() << "runs only as root inside tests/sandbox: it installs into system paths";
    }
    void TearDown() override {
        if (testsupport::rootInSandbox()) {
            ServiceManager::stopJobAsRoot(kLabel);
            ServiceManager::removeJobFilesAsRoot(kLabel);
        }
        m_systemd.reset(); // after the job is stopped through it
    }

    /// systemd for the service manager, played by the stand-in of SystemdStandIn.h.
    void playSystemd() {
        m_systemd = std::make_unique<testsupport::SystemdStandIn>();
        ASSERT_TRUE(m_systemd->ok()) << m_systemd->problem();
        ASSERT_TRUE(ServiceManager::systemdRunning());
    }

    std::unique_ptr<testsupport::SystemdStandIn> m_systemd;
};

} // namespace

TEST_F(ServiceManagerTest, BlessingInstallsRecordsStartsReplacesAndRemovesTheJob) {
    EXPECT_FALSE(ServiceManager::copyJobDictionary(kLabel)) << "no job before the first installation";
    auto failed = bless();
    ASSERT_FALSE(failed) << failed->description;
    struct stat info {};
    ASSERT_EQ(::stat(kInstalled.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    auto record = ServiceManager::copyJobDictionary(kLabel);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->string("Label"), kLabel);
    EXPECT_EQ(record->stringArray("ProgramArguments"), std::vector<std::string>{kInstalled});
    const pid_t first = jobPid();
    ASSERT_GT(first, 1);
    EXPECT_TRUE(running(first));
    EXPECT_TRUE(listening());

    // Blessing again replaces the running job.
    ASSERT_FALSE(bless());
    const pid_t second = jobPid();
    EXPECT_NE(first, second);
    EXPECT_FALSE(running(first));
    EXPECT_TRUE(running(second));

    ServiceManager::stopJobAsRoot(kLabel);
    EXPECT_FALSE(running(second));
    EXPECT_TRUE(ServiceManager::removeJobFilesAsRoot(kLabel));
    expectNoJobFiles();
}

TEST_F(ServiceManagerTest, WithoutTheRightOrWithABadLabelOrHelperNothingChanges) {
    std::shared_ptr<Authorization> notAsked;
    ASSERT_EQ(Authorization::create(nullptr, 0, notAsked), Authorization::Success);
    const auto granted = grantedAuthorization();
    const struct {
        std::string label, helper;
        Authorization* authorization;
        std::optional<int32_t> code;
    } cases[] = {
        {kLabel, kHelper, notAsked.get(), Authorization::Denied},
        {kLabel, kHelper, nullptr, std::nullopt},
        {kLabel, "/nonexistent/helper", granted.get(), ENOENT},
        {"", kHelper, granted.get(), std::nullopt},
        {"../etc/passwd", kHelper, granted.get(), std::nullopt},
        {"a/b", kHelper, granted.get(), std::nullopt},
        {".hidden", kHelper, granted.get(), std::nullopt},
        {"with space", kHelper, granted.get(), std::nullopt},
    };
    for (const auto& c : cases) {
        const auto failed = ServiceManager::blessJob(c.label, c.helper, c.authorization);
        ASSERT_TRUE(failed) << "'" << c.label << "' " << c.helper;
        if (c.code) {
            EXPECT_EQ(failed->code, *c.code) << c.helper;
        }
        expectNoJobFiles();
    }
}

TEST_F(ServiceManagerTest, AHelperThatNeverListensFailsAfterTheTimeLimitLeavingNothingOrThePreviousJob) {
    auto failed = bless("/bin/true");
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->code, ETIMEDOUT);
    EXPECT_NE(failed->description.find("did not accept connections within 5 seconds"), std::string::npos)
        << failed->description;
    expectNoJobFiles();

    // A failed replacement puts the previous job back, running.
    ASSERT_FALSE(bless());
    const std::string before = readFile(kInstalled);
    failed = bless("/bin/true");
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->code, ETIMEDOUT);
    EXPECT_EQ(readFile(kInstalled), before) << "the previous helper is back in place";
    EXPECT_TRUE(ServiceManager::copyJobDictionary(kLabel));
    EXPECT_FALSE(exists(kInstalled + ".previous"));
    EXPECT_FALSE(exists(kInstalled + ".new"));
    EXPECT_TRUE(running(jobPid()));
    EXPECT_TRUE(listening());
}

TEST_F(ServiceManagerTest, UnderSystemdJobsAreStartedReplacedAndRemovedThroughSystemctl) {
    playSystemd();
    auto failed = bless();
    ASSERT_FALSE(failed) << failed->description;
    const std::string start = "daemon-reload\nstart " + kLabel + ".service\n";
    EXPECT_EQ(testsupport::SystemdStandIn::calls(), start);
    EXPECT_EQ(readFile(ServiceManager::unitPath(kLabel)), ServiceManager::unitText(kLabel, kInstalled));
    EXPECT_FALSE(exists(ServiceManager::pidFilePath(kLabel))) << "systemd keeps the pid, not a pid file";

    // The unit is one that systemd accepts as it is, without a warning.
    const auto verified = testsupport::runProcess(
        {"/usr/bin/systemd-analyze", "verify", ServiceManager::unitPath(kLabel)}, {}, 60);
    EXPECT_EQ(verified.exitStatus, 0) << verified.errors;
    EXPECT_EQ(verified.errors + verified.output, "");

    ASSERT_FALSE(bless());
    const std::string replaced = start + "stop " + kLabel + ".service\n" + start;
    EXPECT_EQ(testsupport::SystemdStandIn::calls(), replaced);

    ServiceManager::stopJobAsRoot(kLabel);
    EXPECT_TRUE(ServiceManager::removeJobFilesAsRoot(kLabel));
    const std::string calls = testsupport::SystemdStandIn::calls();
    EXPECT_NE(calls.find("stop " + kLabel + ".service\ndaemon-reload\n", replaced.size()), std::string::npos)
        << calls;
    expectNoJobFiles();
}

TEST_F(ServiceManagerTest, UnderSystemdAFailingSystemctlIsReportedWithWhatItSaid) {
    playSystemd();
    testsupport::TemporaryFolder folder;
    const std::string failing =
        folder.write("systemctl", "#!/bin/sh\necho \"Unit file is broken\" >&2\nexit 1\n");
    ::chmod(failing.c_str(), 0755);
    testsupport::BindMount standIn(failing, ServiceManager::systemctlPath());
    ASSERT_TRUE(standIn.ok()) << standIn.problem();
    // The process ignores SIGCHLD, as the application does.
    std::signal(SIGCHLD, SIG_IGN);
    auto failed = bless();
    std::signal(SIGCHLD, SIG_DFL);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->description,
              "systemctl daemon-reload failed: exited with status 1: Unit file is broken");
    expectNoJobFiles();
}

TEST_F(ServiceManagerTest, RootHoldsTheBlessRightButNoUnknownOne) {
    std::shared_ptr<Authorization> authorization;
    ASSERT_EQ(Authorization::create(nullptr, 19, authorization), Authorization::Success);
    EXPECT_EQ(authorization->copyRights("com.example.other", nullptr, 19), Authorization::Denied);
    EXPECT_FALSE(authorization->holdsRight("com.example.other"));
    EXPECT_EQ(authorization->copyRights(Authorization::kBlessHelperRight, nullptr, 19),
              Authorization::Success);
    EXPECT_EQ(authorization->elevation(), Authorization::Elevation::AlreadyRoot);
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
    // pam_unix lets a user check only their own password without root, so each
    // check runs as the user it names, as the installer would.
    const struct {
        const char* user;
        const char* password;
        int32_t result;
    } cases[] = {{"qvtadmin", "Adm1n-pass", Authorization::Success},
                 {"qvtadmin", "wrong", Authorization::Denied},
                 {"qvtuser", "Us3r-pass", Authorization::Denied}};
    for (const auto& c : cases)
        EXPECT_EQ(
            testsupport::runAsUser(
                c.user,
                [&] { return Authorization::verifyAdministrator(c.user, c.password) == c.result ? 0 : 1; }),
            0)
            << c.user << " " << c.password;
}

TEST_F(AuthorizationUsersTest, WithoutPkexecOrPolkitsConsentNothingIsInstalledAndTheReasonsAreToldApart) {
    // The helper where the user (and pkexec on the user's behalf) can reach it,
    // and a pkexec on PATH that must not stand in for the one on its fixed path.
    testsupport::TemporaryFolder folder;
    ::chmod(folder.path().c_str(), 0755);
    const std::string helper = folder.path() + "/helper";
    std::filesystem::copy_file(kHelper, helper);
    ::chmod(folder.write("bin/pkexec", "#!/bin/sh\nexit 0\n").c_str(), 0755);
    const std::string path = folder.path() + "/bin";
    const struct {
        const char* name;
        std::optional<std::string> rules; ///< nothing: no polkit daemon at all
        bool pkexec;                      ///< on its fixed path
        int32_t asked, code;              ///< the answers to asking for the right and to blessing
        const char* logged;
    } cases[] = {
        {"no pkexec", std::nullopt, false, Authorization::InteractionNotAllowed, Authorization::Denied, ""},
        {"a rule that says no", testsupport::PolkitService::blessingRule("qvtuser", helper, "NO"), true,
         Authorization::Success, Authorization::Denied,
         "pkexec: the administrator authorization was refused"},
        {"nobody to ask the password",
         std::string("// polkit's defaults: an administrator must authenticate\n"), true,
         Authorization::Success, Authorization::InteractionNotAllowed,
         "pkexec: no authentication agent could ask"},
        {"no polkit daemon", std::nullopt, true, Authorization::Success, Authorization::InteractionNotAllowed,
         "pkexec: no authentication agent could ask"},
    };
    for (const auto& c : cases) {
        std::unique_ptr<testsupport::PolkitService> polkit;
        if (c.rules) {
            polkit = std::make_unique<testsupport::PolkitService>(*c.rules);
            ASSERT_TRUE(polkit->ok()) << polkit->problem();
        }
        std::optional<testsupport::BindMount> noPkexec;
        if (!c.pkexec) {
            noPkexec.emplace("/dev/null", Authorization::kPkexecPaths[0]);
            ASSERT_TRUE(noPkexec->ok()) << noPkexec->problem();
        }
        const int status = testsupport::runAsUser("qvtuser", [&] {
            setenv("PATH", path.c_str(), 1);
            if (Authorization::findPkexec().empty() == c.pkexec)
                return 4;
            std::shared_ptr<Authorization> authorization;
            Authorization::create(nullptr, 19, authorization);
            if (authorization->copyRights(Authorization::kBlessHelperRight, nullptr, 19) != c.asked)
                return 1;
            std::optional<ServiceManager::Failure> failed;
            const std::string said = testsupport::captureStandardError(
                [&] { failed = ServiceManager::blessJob(kLabel, helper, authorization.get()); });
            if (said.find(c.logged) == std::string::npos)
                return 3;
            return failed && failed->code == c.code ? 0 : 2;
        });
        EXPECT_EQ(status, 0) << c.name;
        expectNoJobFiles();
    }
}
