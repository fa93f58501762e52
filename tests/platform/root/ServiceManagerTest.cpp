// The service manager and the authorization for real, as root inside the test
// sandbox: helpers are installed below /usr/local/libexec, recorded in /etc,
// started as daemons and stopped again; PAM checks real users made for the test.
#include "platform/ServiceManager.h"
#include "platform/Authorization.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
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

TEST_F(ServiceManagerTest, AHelperThatNeverListensFailsAfterTheTimeLimit) {
    auto authorization = grantedAuthorization();
    auto failed = ServiceManager::blessJob(kLabel, "/bin/true", authorization.get());
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->code, ETIMEDOUT);
    EXPECT_NE(failed->description.find("did not accept connections within 5 seconds"), std::string::npos)
        << failed->description;
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
        ASSERT_EQ(
            std::system(
                "groupadd -f sudo && (getent passwd qvtadmin >/dev/null || useradd -M -G sudo qvtadmin) && "
                "(getent passwd qvtuser >/dev/null || useradd -M qvtuser) && "
                "printf 'qvtadmin:Adm1n-pass\\nqvtuser:Us3r-pass\\n' | chpasswd"),
            0);
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
    const int status = testsupport::runAsUser("qvtuser", [] {
        setenv("PATH", "/nonexistent", 1);
        std::shared_ptr<Authorization> authorization;
        Authorization::create(nullptr, 19, authorization);
        if (authorization->copyRights(Authorization::kBlessHelperRight, nullptr, 19) !=
            Authorization::InteractionNotAllowed)
            return 1;
        auto failed = ServiceManager::blessJob(kLabel, kHelper, authorization.get());
        return failed && failed->code == Authorization::Denied ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(exists(ServiceManager::installedExecutablePath(kLabel)));
    EXPECT_FALSE(exists(ServiceManager::jobRecordPath(kLabel)));
}

TEST_F(AuthorizationUsersTest, ARefusingPkexecIsReportedAsCanceled) {
    testsupport::TemporaryFolder folder;
    // PATH holds only this folder, so the stand-in uses no other program.
    folder.write("bin/pkexec", "#!/bin/sh\necho \"$@\" > \"${0%/*}/asked\"\nexit 126\n");
    ::chmod((folder.path() + "/bin/pkexec").c_str(), 0755);
    ::chmod(folder.path().c_str(), 0755);
    ::chmod((folder.path() + "/bin").c_str(), 0777);
    const std::string bin = folder.path() + "/bin";
    const int status = testsupport::runAsUser("qvtuser", [&] {
        setenv("PATH", bin.c_str(), 1);
        std::shared_ptr<Authorization> authorization;
        Authorization::create(nullptr, 19, authorization);
        if (authorization->copyRights(Authorization::kBlessHelperRight, nullptr, 19) !=
            Authorization::Success)
            return 1;
        auto failed = ServiceManager::blessJob(kLabel, kHelper, authorization.get());
        return failed && failed->code == Authorization::Canceled ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    std::ifstream asked(bin + "/asked");
    std::string line;
    std::getline(asked, line);
    EXPECT_EQ(line, kHelper + " --bless-job " + kLabel);
    EXPECT_FALSE(exists(ServiceManager::jobRecordPath(kLabel)));
}
