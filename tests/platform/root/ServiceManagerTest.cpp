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
#include <sys/wait.h>
#include <unistd.h>

using platform::Authorization;
using platform::ServiceManager;

namespace {

const std::string kHelper = QVT_LISTENING_HELPER;
const std::string kLabel = "com.quorvantis.test.Helper";

std::shared_ptr<Authorization> grantedAuthorization() {
    std::shared_ptr<Authorization> authorization;
    EXPECT_EQ(Authorization::create(nullptr, 19, authorization), Authorization::Success);
    EXPECT_EQ(authorization->copyRights(Authorization::kBlessHelperRight, nullptr, 19),
              Authorization::Success);
    return authorization;
}

pid_t jobPid(const std::string& label) {
    std::ifstream in(ServiceManager::pidFilePath(label));
    pid_t pid = 0;
    in >> pid;
    return pid;
}

bool running(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string id, name, state;
    return stat >> id >> name >> state && state != "Z";
}

bool exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

/// Nothing of the job \p label is left: no record, executable, unit, pid file or socket.
void expectNoJobFiles(const std::string& label) {
    for (const auto& path :
         {ServiceManager::jobRecordPath(label), ServiceManager::installedExecutablePath(label),
          ServiceManager::installedExecutablePath(label) + ".previous",
          ServiceManager::installedExecutablePath(label) + ".new", ServiceManager::unitPath(label),
          ServiceManager::pidFilePath(label), ServiceManager::socketPath(label)})
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
    }
};

} // namespace

TEST_F(ServiceManagerTest, BlessingInstallsRecordsStartsAndWaitsForTheListener) {
    EXPECT_FALSE(ServiceManager::copyJobDictionary(kLabel)) << "no job before the first installation";
    auto authorization = grantedAuthorization();
    auto failed = ServiceManager::blessJob(kLabel, kHelper, authorization.get());
    ASSERT_FALSE(failed) << failed->description;

    const std::string installed = ServiceManager::installedExecutablePath(kLabel);
    struct stat info {};
    ASSERT_EQ(::stat(installed.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(info.st_mode & 07777, 0755u);

    auto record = ServiceManager::copyJobDictionary(kLabel);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->string("Label"), kLabel);
    EXPECT_EQ(record->stringArray("ProgramArguments"), std::vector<std::string>{installed});

    const pid_t pid = jobPid(kLabel);
    ASSERT_GT(pid, 1);
    EXPECT_TRUE(running(pid));
    EXPECT_TRUE(
        ServiceManager::waitForListener(ServiceManager::socketPath(kLabel), std::chrono::milliseconds(0)));
}

TEST_F(ServiceManagerTest, BlessingAgainReplacesTheRunningJob) {
    auto authorization = grantedAuthorization();
    ASSERT_FALSE(ServiceManager::blessJob(kLabel, kHelper, authorization.get()));
    const pid_t first = jobPid(kLabel);
    ASSERT_FALSE(ServiceManager::blessJob(kLabel, kHelper, authorization.get()));
    const pid_t second = jobPid(kLabel);
    EXPECT_NE(first, second);
    EXPECT_FALSE(running(first));
    EXPECT_TRUE(running(second));
}

TEST_F(ServiceManagerTest, WithoutTheRightNothingChanges) {
    std::shared_ptr<Authorization> notAsked;
    ASSERT_EQ(Authorization::create(nullptr, 0, notAsked), Authorization::Success);
    auto failed = ServiceManager::blessJob(kLabel, kHelper, notAsked.get());
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->code, Authorization::Denied);
    failed = ServiceManager::blessJob(kLabel, kHelper, nullptr);
    ASSERT_TRUE(failed);
    EXPECT_FALSE(exists(ServiceManager::installedExecutablePath(kLabel)));
    EXPECT_FALSE(exists(ServiceManager::jobRecordPath(kLabel)));
    EXPECT_FALSE(exists(ServiceManager::pidFilePath(kLabel)));
}

TEST_F(ServiceManagerTest, AHelperThatNeverListensFailsAfterTheTimeLimitAndLeavesNothing) {
    auto authorization = grantedAuthorization();
    auto failed = ServiceManager::blessJob(kLabel, "/bin/true", authorization.get());
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->code, ETIMEDOUT);
    EXPECT_NE(failed->description.find("did not accept connections within 5 seconds"), std::string::npos)
        << failed->description;
    expectNoJobFiles(kLabel);
}

TEST_F(ServiceManagerTest, AFailedReplacementPutsThePreviousJobBackRunning) {
    auto authorization = grantedAuthorization();
    ASSERT_FALSE(ServiceManager::blessJob(kLabel, kHelper, authorization.get()));
    const std::string installed = ServiceManager::installedExecutablePath(kLabel);
    const std::string before = readFile(installed);

    auto failed = ServiceManager::blessJob(kLabel, "/bin/true", authorization.get());
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->code, ETIMEDOUT);
    EXPECT_EQ(readFile(installed), before) << "the previous helper is back in place";
    EXPECT_TRUE(ServiceManager::copyJobDictionary(kLabel));
    EXPECT_FALSE(exists(installed + ".previous"));
    EXPECT_FALSE(exists(installed + ".new"));
    EXPECT_TRUE(running(jobPid(kLabel)));
    EXPECT_TRUE(
        ServiceManager::waitForListener(ServiceManager::socketPath(kLabel), std::chrono::milliseconds(0)));
}

/// systemd for the service manager, played by the stand-in of SystemdStandIn.h.
class SystemdServiceManagerTest : public ServiceManagerTest {
protected:
    void SetUp() override {
        ServiceManagerTest::SetUp();
        if (IsSkipped())
            return;
        m_systemd = std::make_unique<testsupport::SystemdStandIn>();
        ASSERT_TRUE(m_systemd->ok()) << m_systemd->problem();
    }
    void TearDown() override {
        ServiceManagerTest::TearDown();
        m_systemd.reset();
    }

    static std::string calls() { return testsupport::SystemdStandIn::calls(); }

    std::unique_ptr<testsupport::SystemdStandIn> m_systemd;
};

TEST_F(SystemdServiceManagerTest, JobsAreStartedReplacedAndRemovedThroughSystemctl) {
    ASSERT_TRUE(ServiceManager::systemdRunning());
    auto authorization = grantedAuthorization();
    auto failed = ServiceManager::blessJob(kLabel, kHelper, authorization.get());
    ASSERT_FALSE(failed) << failed->description;
    const std::string unit = kLabel + ".service";
    EXPECT_EQ(calls(), "daemon-reload\nstart " + unit + "\n");
    EXPECT_EQ(readFile(ServiceManager::unitPath(kLabel)),
              ServiceManager::unitText(kLabel, ServiceManager::installedExecutablePath(kLabel)));
    EXPECT_FALSE(exists(ServiceManager::pidFilePath(kLabel))) << "systemd keeps the pid, not a pid file";

    // The unit is one that systemd accepts as it is, without a warning.
    const auto verified = testsupport::runProcess(
        {"/usr/bin/systemd-analyze", "verify", ServiceManager::unitPath(kLabel)}, {}, 60);
    EXPECT_EQ(verified.exitStatus, 0) << verified.errors;
    EXPECT_EQ(verified.errors + verified.output, "");

    ASSERT_FALSE(ServiceManager::blessJob(kLabel, kHelper, authorization.get()));
    EXPECT_EQ(calls(),
              "daemon-reload\nstart " + unit + "\nstop " + unit + "\ndaemon-reload\nstart " + unit + "\n");

    ServiceManager::stopJobAsRoot(kLabel);
    EXPECT_TRUE(ServiceManager::removeJobFilesAsRoot(kLabel));
    EXPECT_NE(calls().find("stop " + unit + "\ndaemon-reload\n"), std::string::npos) << calls();
    expectNoJobFiles(kLabel);
}

TEST_F(SystemdServiceManagerTest, AFailingSystemctlIsReportedWithWhatItSaid) {
    testsupport::TemporaryFolder folder;
    const std::string failing =
        folder.write("systemctl", "#!/bin/sh\necho \"Unit file is broken\" >&2\nexit 1\n");
    ::chmod(failing.c_str(), 0755);
    testsupport::BindMount standIn(failing, ServiceManager::systemctlPath());
    ASSERT_TRUE(standIn.ok()) << standIn.problem();
    // The process ignores SIGCHLD, as the application does.
    std::signal(SIGCHLD, SIG_IGN);
    auto failed = ServiceManager::blessJob(kLabel, kHelper, grantedAuthorization().get());
    std::signal(SIGCHLD, SIG_DFL);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->description,
              "systemctl daemon-reload failed: exited with status 1: Unit file is broken");
    expectNoJobFiles(kLabel);
}

TEST_F(ServiceManagerTest, BadLabelsAndMissingHelpersAreRefused) {
    auto authorization = grantedAuthorization();
    for (const char* label : {"", "../etc/passwd", "a/b", ".hidden", "with space"})
        EXPECT_TRUE(ServiceManager::blessJob(label, kHelper, authorization.get())) << label;
    auto failed = ServiceManager::blessJob(kLabel, "/nonexistent/helper", authorization.get());
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->code, ENOENT);
    EXPECT_FALSE(exists(ServiceManager::jobRecordPath(kLabel)));
}

TEST_F(ServiceManagerTest, RemovingTheJobFilesLeavesNoJob) {
    auto authorization = grantedAuthorization();
    ASSERT_FALSE(ServiceManager::blessJob(kLabel, kHelper, authorization.get()));
    const pid_t pid = jobPid(kLabel);
    ServiceManager::stopJobAsRoot(kLabel);
    EXPECT_FALSE(running(pid));
    EXPECT_TRUE(ServiceManager::removeJobFilesAsRoot(kLabel));
    EXPECT_FALSE(ServiceManager::copyJobDictionary(kLabel));
    for (const auto& path : {ServiceManager::installedExecutablePath(kLabel),
                             ServiceManager::pidFilePath(kLabel), ServiceManager::socketPath(kLabel)})
        EXPECT_FALSE(exists(path)) << path;
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
    EXPECT_EQ(testsupport::runAsUser(
                  "qvtadmin",
                  [] { return Authorization::verifyAdministrator("qvtadmin", "Adm1n-pass") == 0 ? 0 : 1; }),
              0);
    EXPECT_EQ(testsupport::runAsUser("qvtadmin",
                                     [] {
                                         return Authorization::verifyAdministrator("qvtadmin", "wrong") ==
                                                        Authorization::Denied
                                                    ? 0
                                                    : 1;
                                     }),
              0);
    EXPECT_EQ(testsupport::runAsUser("qvtuser",
                                     [] {
                                         return Authorization::verifyAdministrator("qvtuser", "Us3r-pass") ==
                                                        Authorization::Denied
                                                    ? 0
                                                    : 1;
                                     }),
              0);
}

TEST_F(AuthorizationUsersTest, AnUnprivilegedRunWithoutPkexecCannotInstallAndChangesNothing) {
    // pkexec is found on its fixed path only: nothing on PATH stands in for it.
    testsupport::TemporaryFolder folder;
    const std::string fake = folder.write("bin/pkexec", "#!/bin/sh\nexit 0\n");
    ::chmod(fake.c_str(), 0755);
    testsupport::BindMount noPkexec("/dev/null", Authorization::kPkexecPaths[0]);
    ASSERT_TRUE(noPkexec.ok()) << noPkexec.problem();
    const std::string path = folder.path() + "/bin";
    const int status = testsupport::runAsUser("qvtuser", [&] {
        setenv("PATH", path.c_str(), 1);
        if (!Authorization::findPkexec().empty())
            return 3;
        std::shared_ptr<Authorization> authorization;
        Authorization::create(nullptr, 19, authorization);
        if (authorization->copyRights(Authorization::kBlessHelperRight, nullptr, 19) !=
            Authorization::InteractionNotAllowed)
            return 1;
        auto failed = ServiceManager::blessJob(kLabel, kHelper, authorization.get());
        return failed && failed->code == Authorization::Denied ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    expectNoJobFiles(kLabel);
}

TEST_F(AuthorizationUsersTest, PolkitRefusalsAndMissingAuthenticationAgentsAreToldApart) {
    // The helper where the user (and pkexec on the user's behalf) can reach it.
    testsupport::TemporaryFolder folder;
    ::chmod(folder.path().c_str(), 0755);
    const std::string helper = folder.path() + "/helper";
    std::filesystem::copy_file(kHelper, helper);
    struct Case {
        const char* name;
        std::optional<std::string> rules; ///< nothing: no polkit daemon at all
        int32_t code;
        const char* logged;
    };
    const Case cases[] = {
        {"a rule that says no", testsupport::PolkitService::blessingRule("qvtuser", helper, "NO"),
         Authorization::Denied, "pkexec: the administrator authorization was refused"},
        {"nobody to ask the password",
         std::string("// polkit's defaults: an administrator must authenticate\n"),
         Authorization::InteractionNotAllowed, "pkexec: no authentication agent could ask"},
        {"no polkit daemon", std::nullopt, Authorization::InteractionNotAllowed,
         "pkexec: no authentication agent could ask"},
    };
    for (const auto& c : cases) {
        std::unique_ptr<testsupport::PolkitService> polkit;
        if (c.rules) {
            polkit = std::make_unique<testsupport::PolkitService>(*c.rules);
            ASSERT_TRUE(polkit->ok()) << polkit->problem();
        }
        std::string log;
        const int status = testsupport::runAsUser("qvtuser", [&] {
            std::shared_ptr<Authorization> authorization;
            Authorization::create(nullptr, 19, authorization);
            if (authorization->copyRights(Authorization::kBlessHelperRight, nullptr, 19) !=
                Authorization::Success)
                return 1;
            std::optional<ServiceManager::Failure> failed;
            const std::string said = testsupport::captureStandardError(
                [&] { failed = ServiceManager::blessJob(kLabel, helper, authorization.get()); });
            if (said.find(c.logged) == std::string::npos)
                return 3;
            return failed && failed->code == c.code ? 0 : 2;
        });
        EXPECT_EQ(status, 0) << c.name;
        expectNoJobFiles(kLabel);
    }
}
