// The real agent killed with SIGKILL at points spread over an install, an
// update of 1,000 files, an uninstall and a rollback, as root inside the test
// sandbox. After each kill a freshly started agent recovers before it listens,
// and then the system holds exactly the previous installation or the new one.
#include "agent/package/PackageFiles.h"
#include "agent/package/PackageInstaller.h"
#include "agent/package/PackageReceipt.h"
#include "agentlink/PHClientProtocolHandler.h"

#include "../PackageBuilder.h"
#include "AgentProcess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sys/socket.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

const std::string kId = "com.quorvantis.test.crash";
const std::string kLocation = "/opt/qvt-crash";
const std::string kData = PackageInstaller::kDataFolder;

/// The install location (paths, modes, contents, link targets) and the
/// installed version as its receipt says.
std::map<std::string, std::string> installation() {
    std::map<std::string, std::string> state;
    std::string why;
    const auto receipt = PackageReceipt::read(kData + "/receipts/" + kId + ".plist", why);
    state["receipt"] = receipt ? receipt->version : "none";
    if (fs::exists(kLocation))
        for (const auto& entry : fs::recursive_directory_iterator(kLocation)) {
            const auto status = fs::symlink_status(entry.path());
            std::string& value = state[entry.path().string()] =
                std::to_string(static_cast<int>(status.permissions()));
            value += fs::is_symlink(status)     ? "->" + fs::read_symlink(entry.path()).string()
                     : fs::is_directory(status) ? std::string("/")
                                                : ":" + testsupport::readFile(entry.path());
        }
    return state;
}

/// Paths below the install location and the data folder that only an unfinished operation leaves.
std::vector<std::string> leftovers() {
    std::vector<std::string> found;
    for (const auto& folder : {kLocation, kData})
        if (fs::exists(folder))
            for (const auto& entry : fs::recursive_directory_iterator(folder)) {
                const std::string name = entry.path().filename();
                if (name.find(".qvt-") != std::string::npos || name.starts_with("journal"))
                    found.push_back(entry.path());
            }
    return found;
}

class AgentCrashTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::rootInSandbox())
            GTEST_SKIP() << "runs only as root inside tests/sandbox: it installs into system paths";
        for (const char* version : {"1.0", "2.0"}) {
            PackageBuilder& p =
                *m_packages
                     .emplace(version, std::make_unique<PackageBuilder>(m_folder.path() + "/" + version, kId,
                                                                        version, kLocation))
                     .first->second;
            for (int i = 0; i < 1000; ++i) // every file changes; a tenth of them only in one version
                if (i % 10 != (version[0] == '1' ? 1 : 2))
                    p.file("data/" + std::to_string(i % 20) + "/f" + std::to_string(i),
                           std::string(100, version[0]));
            p.link("current", "data/0");
        }
        m_packages["2.0-broken"] =
            std::make_unique<PackageBuilder>(m_folder.path() + "/broken", kId, "2.0", kLocation);
        fs::copy(m_packages["2.0"]->path() + "/Payload", m_packages["2.0-broken"]->path() + "/Payload",
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks |
                     fs::copy_options::overwrite_existing);
        m_packages["2.0-broken"]->script("postinstall", "exit 1");
    }

    void reset(const std::vector<std::string>& versions) {
        fs::remove_all(kLocation);
        fs::remove_all(kData);
        fs::create_directories(kData);
        for (const auto& version : versions)
            ASSERT_TRUE(PackageInstaller().update(path(version)).ok()) << version;
    }
    std::string path(const std::string& version) { return m_packages[version]->path(); }

    /// Runs \p command on the crash agent, which dies before change \p crashAt.
    static void runCrashing(const AgentMessage& command, long crashAt) {
        ::setenv(QVT_CRASH_AGENT_VARIABLE, std::to_string(crashAt).c_str(), 1);
        testsupport::AgentProcess agent;
        const bool started = agent.start(QVT_CRASH_AGENT_PATH, "qvt-crash-agent");
        ::unsetenv(QVT_CRASH_AGENT_VARIABLE);
        ASSERT_TRUE(started);
        PHClientProtocolHandler client(-1, false);
        ASSERT_TRUE(connect(client)) << agent.log();
        ASSERT_TRUE(client.sendMessage(command));
        while (const auto event = client.readMessage())
            if (event->text("Event") == "CommandCompleted")
                break;
        agent.stop();
    }
    /// Starts the real agent and waits until it listens, that is, has recovered.
    static void recover() {
        testsupport::AgentProcess agent;
        ASSERT_TRUE(agent.start(QVT_AGENT_PATH, "qvt-recovering-agent"));
        PHClientProtocolHandler client(-1, false);
        ASSERT_TRUE(connect(client)) << agent.log();
    }
    static bool connect(PHClientProtocolHandler& client) {
        for (int attempt = 0; attempt < 500;
             ++attempt, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
            if (client.connectPrivilegedAgent("com.quorvantis.remote.RInstallerAgent")) {
                timeval timeout{60, 0};
                ::setsockopt(client.conFd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
                return true;
            }
        return false;
    }

    testsupport::TemporaryFolder m_folder;
    std::map<std::string, std::unique_ptr<PackageBuilder>> m_packages;
};

TEST_F(AgentCrashTest, AfterAKillAtAnyPointRecoveryLeavesThePreviousOrTheNewInstallation) {
    struct Case {
        const char* name;
        std::vector<std::string> installed; ///< versions installed before, in order
        AgentMessage command;
        std::function<InstallResult(PackageInstaller&)> sameInProcess;
    };
    const Case cases[] = {
        {"install",
         {},
         {{"Cmd", "Install"}, {"InstallerPackage", path("1.0")}, {"LoggedInUser", int64_t{0}}},
         [&](PackageInstaller& i) { return i.install(path("1.0")); }},
        {"update",
         {"1.0"},
         {{"Cmd", "Update"}, {"InstallerPackage", path("2.0")}},
         [&](PackageInstaller& i) { return i.update(path("2.0")); }},
        {"rollback",
         {"1.0"},
         {{"Cmd", "Update"}, {"InstallerPackage", path("2.0-broken")}},
         [&](PackageInstaller& i) { return i.update(path("2.0-broken")); }},
        {"uninstall",
         {"1.0", "2.0"},
         {{"Cmd", "Uninstall"}, {"LoggedInUser", int64_t{0}}, {"RemoveBackups", 1}},
         [&](PackageInstaller& i) { return i.uninstall(true); }},
    };
    static long changes = 0;
    for (const auto& c : cases) {
        // The same operation in this process counts its changes and gives the new installation.
        ASSERT_NO_FATAL_FAILURE(reset(c.installed));
        PackageInstaller counting;
        PackageFiles::setChangeHook([] { ++changes; });
        changes = 0;
        (void)c.sameInProcess(counting);
        PackageFiles::setChangeHook(nullptr);
        const long total = changes;
        const auto after = installation();
        for (long crashAt = 1; crashAt <= total; crashAt += std::max(1L, total / 7)) {
            ASSERT_NO_FATAL_FAILURE(reset(c.installed));
            const auto before = installation();
            ASSERT_NO_FATAL_FAILURE(runCrashing(c.command, crashAt));
            ASSERT_NO_FATAL_FAILURE(recover());
            const auto state = installation();
            EXPECT_TRUE(state == before || state == after) << c.name << " killed before change " << crashAt
                                                           << " of " << total << ": a mixed installation";
            EXPECT_EQ(leftovers(), std::vector<std::string>{})
                << c.name << " killed before change " << crashAt;
            // A set labelled <time>-<version> holds files of that version only.
            std::error_code none;
            for (const auto& set : fs::directory_iterator(kData + "/backups/" + kId, none))
                for (const auto& file : fs::recursive_directory_iterator(set.path())) {
                    if (file.is_regular_file()) {
                        EXPECT_EQ(testsupport::readFile(file.path()),
                                  std::string(100, set.path().filename().string()[17]))
                            << file.path();
                    }
                }
            PackageInstaller next;
            EXPECT_TRUE(next.install(path("1.0")).ok() && next.update(path("2.0")).ok() &&
                        next.uninstall(true).ok())
                << c.name << " killed before change " << crashAt;
        }
    }
}

} // namespace
