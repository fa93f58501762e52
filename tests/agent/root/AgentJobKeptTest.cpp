// Blessing the agent that already runs, for real: the real agent installed as the privileged job by the
// service manager, as root inside the test sandbox, then its own root step (`--bless-job`, as pkexec runs
// it) given a helper. An identical agent that runs and answers its version is kept; anything else is
// replaced as a new installation would be.
#include "Signing.h"
#include "SystemdStandIn.h"
#include "TestSupport.h"

#include "agentlink/PHClientProtocolHandler.h"
#include "platform/ProcessInfo.h"
#include "platform/ServiceManager.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using platform::ServiceManager;
using testsupport::readFile;

const std::string kLabel = "com.quorvantis.remote.RInstallerAgent";
const std::string kInstalled = ServiceManager::installedExecutablePath(kLabel);
const std::string kKept = "The privileged helper " + kLabel +
                          " is already installed and running at version " + QVT_PROJECT_VERSION + "; kept";

bool running(pid_t pid) {
    return pid > 0 && platform::ProcessInfo::processStartTime(pid).has_value(); // a zombie has ended
}

class AgentJobKept : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::rootInSandbox())
            GTEST_SKIP() << "installs the agent as a privileged job: runs only as root inside tests/sandbox";
        // The shipped agent and its signature, in a folder only root may change.
        ::chmod(m_folder.path().c_str(), 0755);
        fs::copy_file(QVT_AGENT_PATH, m_helper);
        ::chmod(m_helper.c_str(), 0755);
        testsupport::signFile(m_helper);
    }
    void TearDown() override {
        if (!IsSkipped())
            removeJob();
    }

    /// Stops the job and removes it, and the systemd stand-in after it.
    void removeJob() {
        ServiceManager::stopJobAsRoot(kLabel);
        ServiceManager::removeJobFilesAsRoot(kLabel);
        m_systemd.reset();
    }

    /// The pid of the running job: systemd's, played by the stand-in, or the pid file's.
    pid_t jobPid() const {
        std::ifstream in(m_systemd ? "/run/qvt-systemctl/" + kLabel + ".service.pid"
                                   : ServiceManager::pidFilePath(kLabel));
        pid_t pid = 0;
        in >> pid;
        return pid;
    }

    /// The installed agent's root step installing \p helper; its log, which it echoes on standard error.
    std::string blessJob(const std::string& helper) const {
        const auto step = testsupport::runProcess({kInstalled, "--bless-job", kLabel, helper}, {}, 60);
        EXPECT_EQ(step.exitStatus, 0) << step.errors;
        return step.errors;
    }

    testsupport::TemporaryFolder m_folder;
    const std::string m_helper = m_folder.path() + "/" + kLabel;
    std::unique_ptr<testsupport::SystemdStandIn> m_systemd;
};

} // namespace

TEST_F(AgentJobKept, OnlyAnIdenticalAgentThatRunsAndAnswersIsKept) {
    const std::string changed = m_folder.path() + "/changed";
    const struct {
        const char* name;
        bool systemd;
        std::function<void(pid_t job)> before; ///< what happens to the running job first
        std::string helper;                    ///< given to the root step
        bool kept;
    } cases[] = {
        {"an identical running agent", false, [](pid_t) {}, m_helper, true},
        {"an identical agent systemd runs", true, [](pid_t) {}, m_helper, true},
        {"a changed helper", false,
         [&](pid_t) {
             fs::copy_file(m_helper, changed);
             std::ofstream(changed, std::ios::app | std::ios::binary) << '\0';
             testsupport::signFile(changed);
         },
         changed, false},
        {"a stopped job", false, [](pid_t) { ServiceManager::stopJobAsRoot(kLabel); }, m_helper, false},
        {"a job systemd stopped", true, [](pid_t) { ServiceManager::stopJobAsRoot(kLabel); }, m_helper,
         false},
        // Stopped by a signal, it still accepts connections (the kernel queues them) but never answers.
        {"an agent that accepts but does not answer", false, [](pid_t job) { ::kill(job, SIGSTOP); },
         m_helper, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.systemd) {
            m_systemd = std::make_unique<testsupport::SystemdStandIn>();
            ASSERT_TRUE(m_systemd->ok()) << m_systemd->problem();
        }
        const auto first = ServiceManager::installAsRoot(kLabel, m_helper);
        ASSERT_TRUE(first) << first.failure().description;
        const pid_t job = jobPid();
        ASSERT_TRUE(running(job));
        struct stat before {};
        ASSERT_EQ(::stat(kInstalled.c_str(), &before), 0);
        const std::string systemctlCalls = c.systemd ? testsupport::SystemdStandIn::calls() : "";
        c.before(job);

        const std::string log = blessJob(c.helper);
        EXPECT_EQ(log.find(kKept) != std::string::npos, c.kept) << log;
        EXPECT_EQ(PHClientProtocolHandler::runningAgentVersion(kLabel), QVT_PROJECT_VERSION);
        EXPECT_EQ(readFile(kInstalled), readFile(c.helper));
        struct stat after {};
        ASSERT_EQ(::stat(kInstalled.c_str(), &after), 0);
        if (c.kept) {
            EXPECT_EQ(jobPid(), job) << "not restarted";
            EXPECT_EQ(after.st_ino, before.st_ino) << "not copied again";
            if (c.systemd) {
                EXPECT_EQ(testsupport::SystemdStandIn::calls(),
                          systemctlCalls + "is-active --quiet " + kLabel + ".service\n");
            }
        } else {
            EXPECT_NE(jobPid(), job);
            EXPECT_FALSE(running(job));
            EXPECT_NE(after.st_ino, before.st_ino);
        }
        EXPECT_TRUE(running(jobPid()));
        removeJob();
    }
}
