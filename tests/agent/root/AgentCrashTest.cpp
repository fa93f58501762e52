// The real agent killed with SIGKILL at points spread over an install, an update of 1,000 files, an uninstall
// and a rollback, as root inside the test sandbox. After each kill a freshly started agent recovers before it
// listens, and then the system holds the previous installation or the new one.
#include "agent/package/PackageFiles.h"
#include "agent/package/PackageInstaller.h"
#include "agent/package/PackageReceipt.h"

#include "../PackageBuilder.h"
#include "../RealAgent.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace {

const std::string kId = "com.quorvantis.test.crash";
const std::string kLocation = "/opt/qvt-crash";
const std::string kData = PackageInstaller::kDataFolder;

/// The install location (see snapshot), the installed version by its receipt and the number of backup
/// sets (an interrupted operation's set must not outlive it).
std::map<std::string, std::string> installation() {
    const auto receipt = PackageReceipt::read(kData + "/receipts/" + kId + ".plist");
    auto state = snapshot(kLocation);
    state["receipt of"] = receipt ? receipt->version : "none";
    std::error_code none;
    const fs::directory_iterator sets(kData + "/backups/" + kId, none);
    state["backup sets"] = std::to_string(std::distance(sets, fs::directory_iterator()));
    return state;
}

/// What only an unfinished operation leaves (temporary files, the journal), and backups in a set labelled
/// <time>-<version> that are not of that version.
std::vector<std::string> faults() {
    std::vector<std::string> found;
    std::error_code none;
    for (const auto& folder : {kLocation, kData})
        for (const auto& entry : fs::recursive_directory_iterator(folder, none)) {
            const std::string name = entry.path().filename();
            if (name.find(".qvt-") != std::string::npos || name.starts_with("journal"))
                found.push_back(entry.path());
        }
    for (const auto& set : fs::directory_iterator(kData + "/backups/" + kId, none))
        for (const auto& file : fs::recursive_directory_iterator(set.path()))
            if (file.is_regular_file() &&
                testsupport::readFile(file.path()) != std::string(100, set.path().filename().string()[17]))
                found.push_back(file.path());
    return found;
}

/// Starts \p executable as the agent, waits until it listens (so it has recovered), runs \p command if there
/// is one and stops it.
void runAgent(const char* executable, const std::optional<AgentMessage>& command = {}) {
    testsupport::AgentProcess agent;
    ASSERT_TRUE(agent.start(executable, "qvt-crash-test"));
    Client client;
    ASSERT_TRUE(waitFor([&] { return client.connect(); })) << agent.log();
    if (command)
        client.run(*command); // until the completion or the kill
}

/// The real system paths; packages signed with the build's key install.
PackageInstaller::Options signedOptions() {
    PackageInstaller::Options options;
    options.publicKey = testsupport::signingPublicKey();
    return options;
}

TEST(AgentCrashTest, AfterAKillAtAnyPointRecoveryLeavesThePreviousOrTheNewInstallation) {
    if (!testsupport::rootInSandbox())
        GTEST_SKIP() << "runs only as root inside tests/sandbox: it installs into system paths";
    testsupport::TemporaryFolder folder;
    const std::string v1 = folder.path() + "/1.0", v2 = folder.path() + "/2.0",
                      broken = folder.path() + "/broken";
    for (const auto& [path, version] : {std::pair{v1, "1.0"}, {v2, "2.0"}, {broken, "2.0"}}) {
        PackageBuilder p(path, kId, version, kLocation);
        for (int i = 0; i < 1000; ++i) // every file changes; a tenth of them only in one version
            if (i % 10 != (version[0] == '1' ? 1 : 2))
                p.file("data/" + std::to_string(i % 20) + "/f" + std::to_string(i),
                       std::string(100, version[0]));
        p.link("current", "data/0");
        if (path == broken)
            p.script("postinstall", "exit 1");
        p.sign();
    }
    const std::tuple<const char*, std::vector<std::string>, AgentMessage> cases[] = {
        // name, versions installed before, command
        {"install", {}, {{"Cmd", "Install"}, {"InstallerPackage", v1}, {"LoggedInUser", int64_t{0}}}},
        {"update", {v1}, {{"Cmd", "Update"}, {"InstallerPackage", v2}}},
        {"rollback", {v1}, {{"Cmd", "Update"}, {"InstallerPackage", broken}}},
        {"uninstall", {v1, v2}, {{"Cmd", "Uninstall"}, {"LoggedInUser", int64_t{0}}, {"RemoveBackups", 1}}},
    };
    auto reset = [](const std::vector<std::string>& installed) {
        fs::remove_all(kLocation);
        fs::remove_all(kData);
        fs::create_directories(kData);
        for (const auto& package : installed)
            ASSERT_TRUE(PackageInstaller(signedOptions()).update(package).ok()) << package;
    };
    static long changes = 0;
    for (const auto& [name, installed, command] : cases) {
        // The same operation in this process counts its changes and gives the new installation.
        ASSERT_NO_FATAL_FAILURE(reset(installed));
        PackageFiles::setChangeHook([] { ++changes; });
        changes = 0;
        const auto& package = command.text("InstallerPackage");
        PackageInstaller inProcess(signedOptions());
        (void)(!package ? inProcess.uninstall(true)
                        : (installed.empty() ? inProcess.install(*package) : inProcess.update(*package)));
        PackageFiles::setChangeHook(nullptr);
        const long total = changes;
        const auto after = installation();
        ASSERT_GT(total, 7) << name;
        for (long crashAt = 1; crashAt <= total; crashAt += std::max(1L, total / 7)) {
            ASSERT_NO_FATAL_FAILURE(reset(installed));
            const auto before = installation();
            ::setenv(QVT_CRASH_AGENT_VARIABLE, std::to_string(crashAt).c_str(), 1);
            ASSERT_NO_FATAL_FAILURE(runAgent(QVT_CRASH_AGENT_PATH, command));
            ::unsetenv(QVT_CRASH_AGENT_VARIABLE);
            ASSERT_NO_FATAL_FAILURE(runAgent(QVT_AGENT_PATH));

            const auto state = installation();
            const std::string where = std::string(name) + " killed before change " + std::to_string(crashAt) +
                                      " of " + std::to_string(total);
            EXPECT_TRUE(state == before || state == after) << where << ": a mixed installation";
            EXPECT_EQ(faults(), std::vector<std::string>{}) << where;
            PackageInstaller next(signedOptions());
            EXPECT_TRUE(next.install(v1).ok() && next.update(v2).ok() && next.uninstall(true).ok()) << where;
        }
    }
}

} // namespace
