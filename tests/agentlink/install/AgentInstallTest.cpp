// The privileged installation and version policy for real: test builds of the
// agent at other versions, installed by the service manager, as root in tests/sandbox.
// A user's installation through pkexec, refused or without pkexec at all: the
// shipped-installer tests.
#include "agentlink/PHAgentClient.h"

#include "CNSLog.h"
#include "TestSupport.h"
#include "platform/Bundle.h"
#include "platform/ExecutableInfo.h"
#include "platform/ServiceManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

using platform::ServiceManager;
using testsupport::count;

namespace {

const std::string kLabel = QVT_AGENT_LABEL;
const std::string kAgentPath = "Library/LaunchServices/" + kLabel;
const std::string kPrompt = "Allow the installer helper";
const std::string kFailed = "Failed to install privileged helper tool: " + kLabel + ": error:";

std::string testAgent(const std::string& name) {
    return std::string(QVT_TEST_AGENT_DIR) + "/" + name;
}

std::optional<std::string> installedVersion() {
    auto info = platform::ExecutableInfo::read(ServiceManager::installedExecutablePath(kLabel));
    return info ? info->text("CFBundleVersion") : std::nullopt;
}

pid_t runningJob() {
    std::ifstream in(ServiceManager::pidFilePath(kLabel));
    pid_t pid = 0;
    in >> pid;
    return pid > 0 && ::kill(pid, 0) == 0 ? pid : 0;
}

class AgentInstallation : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::rootInSandbox())
            GTEST_SKIP() << "installs privileged jobs: runs only as root inside tests/sandbox";
        platform::Bundle::setMain(
            platform::Bundle(m_bundle.path() + "/Installer.app/Contents/MacOS/QvtRSInstaller"));
    }

    void TearDown() override {
        if (IsSkipped())
            return;
        m_clients.clear();
        ServiceManager::stopJobAsRoot(kLabel);
        ServiceManager::removeJobFilesAsRoot(kLabel);
    }

    /// Puts \p agent, with its signature, into the bundle as the shipped agent (nothing: none shipped).
    void ship(const std::optional<std::string>& agent) {
        const std::string shipped = shippedAgent();
        std::filesystem::create_directories(std::filesystem::path(shipped).parent_path());
        std::filesystem::remove(shipped);
        std::filesystem::remove(shipped + ".sig");
        if (agent) {
            std::filesystem::copy_file(*agent, shipped);
            std::filesystem::copy_file(*agent + ".sig", shipped + ".sig");
            ::chmod(shipped.c_str(), 0755);
        }
    }

    static std::string shippedAgent() { return PHAgentClient::agentExecutablePath(kAgentPath); }

    /// A new client, as each flow of the application makes one.
    std::shared_ptr<PHAgentClient> client() {
        m_clients.push_back(std::make_shared<PHAgentClient>(nullptr, kAgentPath, false));
        return m_clients.back();
    }

    /// Installs with \p installer; its result, and the log in m_log.
    bool install(PHAgentClient& installer, const std::optional<std::string>& user = std::nullopt,
                 const std::optional<std::string>& password = std::nullopt) {
        bool result = false;
        m_log = testsupport::captureStandardError(
            [&] { result = installer.installPrivilegedAgent(kLabel, user, password, kPrompt); });
        return result;
    }

    /// Ships \p agent and installs it with a new client, which it returns.
    std::shared_ptr<PHAgentClient> installShipped(const std::string& agent) {
        ship(testAgent(agent));
        auto installer = client();
        EXPECT_TRUE(install(*installer)) << m_log;
        return installer;
    }

    bool logHas(const std::string& line) const { return m_log.find("] " + line + "\n") != std::string::npos; }

    testsupport::TemporaryFolder m_bundle;
    std::vector<std::shared_ptr<PHAgentClient>> m_clients;
    std::string m_log;
};

} // namespace

TEST_F(AgentInstallation, InstallsTheShippedAgentAfterUninstallingOnlyANewerOne) {
    // {installed, shipped, a downgrade}; the order itself: platform::VersionNumber's table test.
    const std::tuple<std::string, std::string, bool> rows[] = {
        {"2.9", "2.10", false}, {"3.1", "3.1.0", false}, {"2.10", "2.9", true}};
    for (const auto& [installed, shipped, downgrade] : rows) {
        SCOPED_TRACE(installed + " then " + shipped);
        const auto agentAt = [](std::string version) {
            std::replace(version.begin(), version.end(), '.', '_');
            return "test_agent_" + version;
        };
        installShipped(agentAt(installed));
        const pid_t before = runningJob();
        ship(testAgent(agentAt(shipped)));
        const auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(install(*client())) << m_log;
        EXPECT_TRUE(logHas(kLabel + ", installed version: " + installed + ", new version: " + shipped))
            << m_log;
        EXPECT_TRUE(logHas("Privileged helper " + kLabel + " is up-to-date, version: " + shipped)) << m_log;
        const std::string from = " from version: " + installed + " to version:";
        EXPECT_EQ(logHas("Must downgrade " + kLabel + from + shipped), downgrade) << m_log;
        const std::string uninstalled = "Privileged helper tool version: " + installed + ", uninstalled: 0";
        EXPECT_EQ(logHas(uninstalled), downgrade) << m_log;
        if (downgrade) {
            EXPECT_GE(std::chrono::steady_clock::now() - started, PHAgentClient::kPauseAfterUninstall);
            EXPECT_LT(m_log.find("Must downgrade"), m_log.find("Privileged helper tool version"));
        }
        EXPECT_EQ(installedVersion(), shipped);
        EXPECT_GT(runningJob(), 0);
        EXPECT_NE(runningJob(), before);
        TearDown();
    }
}

TEST_F(AgentInstallation, AnAgentReportingAnotherVersionOrNoneFailsTheInstallation) {
    // {agent, failure line, connection stays open, reported version}; 3.1.0
    // equals 3.1 component by component, but not as text.
    const std::tuple<const char*, const char*, bool, const char*> cases[] = {
        {"test_agent_3_1_reports_3_1_0", "Failed to update privileged helper tool: ", true, "3.1.0"},
        {"test_silent_agent", "Failed to get version of privileged helper tool: ", false, ""},
    };
    for (const auto& [agent, line, connected, reported] : cases) {
        ship(testAgent(agent));
        auto installer = client();
        EXPECT_FALSE(install(*installer));
        EXPECT_TRUE(logHas(line + kLabel)) << m_log;
        EXPECT_TRUE(logHas(kFailed + "(null)")) << m_log;
        EXPECT_EQ(installer->installErrorCount(), 1);
        EXPECT_FALSE(installer->tryToConnect());
        EXPECT_EQ(installer->installedToolVersion().value_or(""), reported);
        EXPECT_EQ(installer->protocolHandler()->isConnected(), connected);
        EXPECT_EQ(installedVersion(), "3.1");
        EXPECT_GT(runningJob(), 0);
    }
}

TEST_F(AgentInstallation, AFailingInstallationCountsAndStopsAfterFive) {
    ship(std::nullopt); // nothing to install: the service manager fails
    auto installer = client();
    const std::regex failure(kFailed + "Error Domain=ServiceManagerErrorDomain Code=2 \"Cannot use the "
                                       "helper .*\" UserInfo=\\{NSLocalizedDescription=.*\\}\n");
    for (int attempt = 1; attempt <= 5; ++attempt) {
        EXPECT_FALSE(install(*installer));
        EXPECT_EQ(installer->installErrorCount(), attempt);
        EXPECT_EQ(count(m_log, "AuthorizationCreate: flags: 19"), 1u) << m_log;
        EXPECT_TRUE(std::regex_search(m_log, failure)) << m_log;
    }
    EXPECT_FALSE(ServiceManager::copyJobDictionary(kLabel));
    // Later calls skip the same way, without authorization.
    const std::string skipped = "Too many install errors of privileged agent: " + kLabel + ", skipping";
    for (int later = 0; later < 2; ++later) {
        EXPECT_FALSE(install(*installer));
        EXPECT_EQ(count(m_log, "] " + skipped + " installation in this session\n"), 1u) << m_log;
        EXPECT_EQ(m_log.find("Authorization"), std::string::npos) << m_log;
        EXPECT_EQ(installer->installErrorCount(), 5);
    }
}

TEST_F(AgentInstallation, AuthorizationLinesShowTheUserButNeverThePassword) {
    ship(testAgent("test_agent_3_1"));
    const std::string password = "S3cret-Passw0rd-xyzzy";
    ASSERT_TRUE(install(*client(), std::string("qvtadmin"), password)) << m_log;
    EXPECT_EQ(m_log.find("AuthorizationCreate"), std::string::npos) << m_log;
    const std::regex userLine("AuthorizationCopyRights: [0-9a-f]+, flags: 18, env items: 2, 8, qvtadmin\n");
    EXPECT_TRUE(std::regex_search(m_log, userLine)) << m_log;
    EXPECT_EQ(m_log.find(password), std::string::npos);
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
        const std::string arguments((std::istreambuf_iterator<char>(cmdline)), {});
        EXPECT_EQ(arguments.find(password), std::string::npos) << entry.path();
    }
}

TEST_F(AgentInstallation, ANewInstallationStaysConnectedAndVerifyingAConnectionFollowsItsThreeSteps) {
    // The installation's other log lines: the shipped-installer test.
    auto installer = installShipped("test_agent_3_1");
    const std::regex promptLine("AuthorizationCopyRights: [0-9a-f]+, flags: 19, env items: 1, " +
                                std::to_string(kPrompt.size() + 2) + ", " + kPrompt + "\n\n");
    EXPECT_TRUE(std::regex_search(m_log, promptLine)) << m_log;
    EXPECT_EQ(installer->embeddedToolVersion(), "3.1");
    EXPECT_EQ(installer->installedToolVersion(), "3.1");
    EXPECT_EQ(installer->installErrorCount(), 0);
    EXPECT_EQ(installedVersion(), "3.1");
    auto job = ServiceManager::copyJobDictionary(kLabel);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->stringArray("ProgramArguments")->front(), ServiceManager::installedExecutablePath(kLabel));
    // 1: connected.
    EXPECT_TRUE(installer->protocolHandler()->isConnected());
    EXPECT_TRUE(installer->verifyAgentConnection());
    // 2: not connected, an attempt allowed: connects to an agent at the shipped version.
    auto other = client();
    EXPECT_TRUE(other->tryToConnect());
    EXPECT_TRUE(other->verifyAgentConnection());
    EXPECT_TRUE(other->protocolHandler()->isConnected());
    EXPECT_EQ(other->installedToolVersion(), "3.1");
    // 2 again with a shipped version the running agent does not report.
    ship(testAgent("test_agent_3_1_1"));
    auto newer = client();
    newer->setAgentName(kLabel);
    const std::string log =
        testsupport::captureStandardError([&] { EXPECT_FALSE(newer->verifyAgentConnection()); });
    EXPECT_NE(log.find("Privileged helper:" + kLabel +
                       " must be updated, installed version: 3.1, current: 3.1.1\n"),
              std::string::npos)
        << log;
    EXPECT_FALSE(newer->tryToConnect());
    EXPECT_TRUE(newer->protocolHandler()->isConnected()) << "the connection made stays open";
    // 3: no attempt allowed.
    auto refused = client();
    refused->setTryToConnect(false);
    EXPECT_FALSE(refused->verifyAgentConnection());
    EXPECT_FALSE(refused->protocolHandler()->isConnected());
}

TEST_F(AgentInstallation, TerminatingLeavesTheAgentRunningUninstallingRemovesIt) {
    auto installer = installShipped("test_agent_3_1");
    pid_t agent = runningJob();
    installer->startEventThread();
    installer->terminatePrivilegedAgent();
    EXPECT_FALSE(installer->protocolHandler()->isConnected());
    EXPECT_EQ(runningJob(), agent);
    ASSERT_TRUE(install(*installer)) << m_log; // the same client connects anew
    EXPECT_TRUE(installer->protocolHandler()->isConnected());

    agent = runningJob();
    const auto status = installer->protocolHandler()->uninstallAgent();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->integer(), 0);
    for (int i = 0; i < 100 && ::kill(agent, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE(::kill(agent, 0), 0) << "the agent ends after uninstalling itself";
    EXPECT_FALSE(ServiceManager::copyJobDictionary(kLabel));
    for (const auto& path : {ServiceManager::installedExecutablePath(kLabel),
                             ServiceManager::socketPath(kLabel), ServiceManager::jobRecordPath(kLabel)})
        EXPECT_NE(::access(path.c_str(), F_OK), 0) << path;
}

TEST_F(AgentInstallation, AHelperThatCannotStartLeavesThePreviousAgentRunning) {
    installShipped("test_agent_3_1");
    ship(testAgent("test_agent_3_2_exits_at_once"));
    EXPECT_FALSE(install(*client()));
    const std::string why =
        "The privileged helper " + kLabel + " did not accept connections within 5 seconds";
    EXPECT_TRUE(logHas(kFailed + "Error Domain=ServiceManagerErrorDomain Code=110 \"" + why +
                       "\" UserInfo={NSLocalizedDescription=" + why + "}"))
        << m_log;
    EXPECT_EQ(installedVersion(), "3.1");
    EXPECT_GT(runningJob(), 0);
    ship(testAgent("test_agent_3_1"));
    EXPECT_TRUE(client()->verifyAgentConnection()) << "the previous agent answers with its version";
}

TEST_F(AgentInstallation, OnlyAReplacementSignedWithTheInstalledAgentsKeyIsInstalled) {
    installShipped("test_agent_3_1");
    const pid_t before = runningJob();
    testsupport::TemporaryFolder keys;
    const std::string otherKey = keys.path() + "/other.key";
    const auto made =
        testsupport::runProcess({QVT_SIGN_TOOL, "keygen", otherKey, keys.path() + "/other.pub"});
    ASSERT_EQ(made.exitStatus, 0) << made.errors;
    const std::string signature = shippedAgent() + ".sig";
    const struct {
        const char* name;
        std::string signer; ///< empty: no signature at all
        const char* why;
    } cases[] = {
        {"signed with another key", otherKey,
         "its signature does not verify with the key of the installed helper "},
        {"not signed", "", "its signature cannot be read from "},
    };
    for (const auto& c : cases) {
        ship(testAgent("test_agent_3_1_1"));
        if (c.signer.empty()) {
            std::filesystem::remove(signature);
        } else {
            const auto signed_ = testsupport::runProcess({QVT_SIGN_TOOL, "file", shippedAgent(), c.signer});
            ASSERT_EQ(signed_.exitStatus, 0) << signed_.errors;
        }
        EXPECT_FALSE(install(*client())) << c.name;
        const std::string refusal = "Refusing the helper " + shippedAgent() + ": " + c.why;
        const std::string error = kFailed +
                                  "Error Domain=ServiceManagerErrorDomain Code=" + std::to_string(EBADMSG) +
                                  " \"" + refusal;
        EXPECT_NE(m_log.find("] " + error), std::string::npos) << c.name << "\n" << m_log;
        EXPECT_EQ(count(m_log, refusal), 3u) << c.name << ": the service manager's line and the error's two\n"
                                             << m_log;
        EXPECT_EQ(installedVersion(), "3.1") << c.name;
        EXPECT_EQ(runningJob(), before) << c.name << ": the installed agent was not even stopped";
        // It still answers with its version.
        ship(testAgent("test_agent_3_1"));
        EXPECT_TRUE(client()->verifyAgentConnection()) << c.name;
    }
}

TEST_F(AgentInstallation, TheAgentRefusesToRunFromAPlaceOthersCanChange) {
    std::filesystem::create_directories("/opt/shared-bin");
    ::chmod("/opt/shared-bin", 0777);
    std::filesystem::copy_file(testAgent("test_agent_3_1"), "/opt/shared-bin/agent",
                               std::filesystem::copy_options::overwrite_existing);
    ::chmod("/opt/shared-bin/agent", 0755);
    const auto result = testsupport::runProcess({"/opt/shared-bin/agent"}, {}, 10);
    EXPECT_EQ(result.exitStatus, 1);
    const std::string refusal = "refusing to run from /opt/shared-bin/agent: /opt/shared-bin can be changed";
    EXPECT_NE(result.errors.find(refusal + " by others than root"), std::string::npos) << result.errors;
    EXPECT_NE(::access(ServiceManager::socketPath(kLabel).c_str(), F_OK), 0) << "it never listened";
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The debug lines of the version policy are part of what is checked.
    CNSInitLog(CNSLogFlagDebug, 0, "AgentInstallTest", nullptr);
    return RUN_ALL_TESTS();
}
