// The reboot setting: argument splitting without a shell, and the configured
// command run for real (a harmless one that writes a stamp) with its time
// limit and exit status.
#include "agent/RebootCommand.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

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

} // namespace
