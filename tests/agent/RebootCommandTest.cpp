// The reboot setting and the way the agent runs programs: argument splitting
// without a shell, the configured command run for real (a harmless one that
// writes a stamp), time limits and exit statuses.
#include "agent/RebootCommand.h"
#include "agent/CommandRunner.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using testsupport::TemporaryFolder;

namespace {

struct SplitCase {
    const char* text;
    std::optional<std::vector<std::string>> args;
};

class RebootSplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(RebootSplitTest, SplitsLikeAShellWithoutRunningOne) {
    EXPECT_EQ(RebootCommand::split(GetParam().text), GetParam().args) << GetParam().text;
}

using Args = std::vector<std::string>;
INSTANTIATE_TEST_SUITE_P(Texts, RebootSplitTest,
                         ::testing::Values(SplitCase{"/sbin/shutdown -r now",
                                                     Args{"/sbin/shutdown", "-r", "now"}},
                                           SplitCase{"  /bin/true\t ", Args{"/bin/true"}},
                                           SplitCase{"/usr/bin/touch '/tmp/a b' \"c \\\"d\\\"\" e\\ f",
                                                     Args{"/usr/bin/touch", "/tmp/a b", "c \"d\"", "e f"}},
                                           SplitCase{"/bin/echo ''", Args{"/bin/echo", ""}},
                                           SplitCase{"/bin/echo a;reboot $(x) `y` |z",
                                                     Args{"/bin/echo", "a;reboot", "$(x)", "`y`", "|z"}},
                                           SplitCase{"", Args{}}, SplitCase{"/bin/echo 'open", std::nullopt},
                                           SplitCase{"/bin/echo \"open", std::nullopt},
                                           SplitCase{"/bin/echo end\\", std::nullopt}));

class RebootCommandTest : public ::testing::Test {
protected:
    std::string config(const std::string& body) {
        return m_folder.write("agent.plist", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>" + body +
                                                 "</dict></plist>");
    }
    std::string command(const std::string& text) {
        return config("<key>RebootCommand</key><string>" + text + "</string>");
    }
    TemporaryFolder m_folder;
};

TEST_F(RebootCommandTest, DefaultsToShutdownWithoutSettingsFileOrKey) {
    std::string error;
    const Args shutdown{"/sbin/shutdown", "-r", "now"};
    EXPECT_EQ(RebootCommand::configured(m_folder.path() + "/absent.plist", error), shutdown) << error;
    EXPECT_EQ(RebootCommand::configured(config("<key>Other</key><string>x</string>"), error), shutdown)
        << error;
}

TEST_F(RebootCommandTest, BrokenSettingsAreReportedInsteadOfRebooting) {
    for (const std::string& path : {m_folder.write("broken.plist", "not a plist"),
                                    config("<key>RebootCommand</key><integer>1</integer>"), command(""),
                                    command("/usr/bin/touch 'unterminated")}) {
        std::string error;
        EXPECT_FALSE(RebootCommand::configured(path, error)) << path;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(RebootCommand::run(path).status(), InstallResult::RebootFailed);
    }
}

TEST_F(RebootCommandTest, RunsTheConfiguredCommandWithItsArguments) {
    const std::string stamp = m_folder.path() + "/reboot stamp";
    const auto result = RebootCommand::run(command("/usr/bin/touch '" + stamp + "'"));
    EXPECT_TRUE(result.ok()) << result.reason();
    EXPECT_TRUE(std::filesystem::exists(stamp));
}

TEST_F(RebootCommandTest, ShellOperatorsAreNotInterpreted) {
    // Through a shell this would run touch after false fails.
    const std::string stamp = m_folder.path() + "/stamp";
    const auto result = RebootCommand::run(command("/bin/false || /usr/bin/touch " + stamp));
    EXPECT_EQ(result.status(), InstallResult::RebootFailed);
    EXPECT_FALSE(std::filesystem::exists(stamp));
}

TEST_F(RebootCommandTest, AFailingOrMissingCommandIsReported) {
    const auto failing = RebootCommand::run(command("false"));
    EXPECT_EQ(failing.status(), InstallResult::RebootFailed);
    EXPECT_NE(failing.reason().find("exited with status 1"), std::string::npos) << failing.reason();

    const auto missing = RebootCommand::run(command("/nonexistent/reboot-now"));
    EXPECT_EQ(missing.status(), InstallResult::RebootFailed);
    EXPECT_NE(missing.reason().find("could not be started"), std::string::npos) << missing.reason();
}

TEST(CommandRunnerTest, ExitStatusIsKeptEvenWhenTheProcessIgnoresChildSignals) {
    // A daemon that ignores SIGCHLD would otherwise see every failing script as a success.
    struct sigaction previous {};
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGCHLD, &ignore, &previous);
    const auto outcome = CommandRunner::run({"/bin/sh", "-c", "exit 5"}, {}, std::chrono::seconds(5), "test");
    struct sigaction after {};
    sigaction(SIGCHLD, &previous, &after);
    EXPECT_EQ(outcome.kind, CommandRunner::Outcome::Kind::Exited);
    EXPECT_EQ(outcome.code, 5);
    EXPECT_EQ(after.sa_handler, SIG_IGN) << "the ignored action is put back";
}

TEST(CommandRunnerTest, TheTimeLimitKillsTheWholeProcessGroup) {
    TemporaryFolder folder;
    const std::string pidFile = folder.path() + "/grandchild";
    const auto start = std::chrono::steady_clock::now();
    const auto outcome = CommandRunner::run({"/bin/sh", "-c", "sleep 60 & echo $! > '" + pidFile + "'; wait"},
                                            {}, std::chrono::milliseconds(500), "test");
    EXPECT_EQ(outcome.kind, CommandRunner::Outcome::Kind::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << "no hang";
    pid_t grandchild = 0;
    std::ifstream(pidFile) >> grandchild;
    ASSERT_GT(grandchild, 0);
    // Killed with its group (it may linger as a zombie of init for a moment).
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
        std::ifstream stat("/proc/" + std::to_string(grandchild) + "/stat");
        std::string id, name, state;
        gone = !(stat >> id >> name >> state) || state == "Z";
        if (!gone)
            usleep(20000);
    }
    EXPECT_TRUE(gone);
}

TEST(CommandRunnerTest, ABackgroundChildHoldingTheOutputDoesNotBlockTheEnd) {
    TemporaryFolder folder;
    const std::string pidFile = folder.path() + "/daemon";
    const auto start = std::chrono::steady_clock::now();
    const auto outcome =
        CommandRunner::run({"/bin/sh", "-c", "sleep 30 & echo $! > '" + pidFile + "'; echo started"}, {},
                           std::chrono::seconds(20), "test");
    EXPECT_TRUE(outcome.succeeded()) << outcome.describe();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_NE(outcome.output.find("started"), std::string::npos);
    pid_t daemon = 0;
    std::ifstream(pidFile) >> daemon;
    if (daemon > 0)
        kill(daemon, SIGKILL);
}

} // namespace
