// The reboot setting: argument splitting without a shell, and the configured command run for real (a harmless
// one that writes a stamp) with its exit status.
#include "agent/RebootCommand.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using testsupport::readFile;

namespace {

using Args = std::vector<std::string>;

TEST(RebootCommandSplit, SplitsLikeAShellWithoutRunningOne) {
    const std::pair<const char*, std::optional<Args>> cases[] = {
        {"/sbin/shutdown -r now", Args{"/sbin/shutdown", "-r", "now"}},
        {"  /bin/true\t ", Args{"/bin/true"}},
        {"/usr/bin/touch '/tmp/a b' \"c \\\"d\\\"\" e\\ f",
         Args{"/usr/bin/touch", "/tmp/a b", "c \"d\"", "e f"}},
        {"/bin/echo ''", Args{"/bin/echo", ""}},
        {"/bin/echo a;reboot $(x) `y` |z", Args{"/bin/echo", "a;reboot", "$(x)", "`y`", "|z"}},
        {"", Args{}},
        {"/bin/echo 'open", std::nullopt},
        {"/bin/echo \"open", std::nullopt},
        {"/bin/echo end\\", std::nullopt},
    };
    for (const auto& [text, args] : cases)
        EXPECT_EQ(RebootCommand::split(text), args) << text;
}

class RebootCommandTest : public ::testing::Test {
protected:
    std::string config(const std::string& body) {
        return m_folder.write("agent" + std::to_string(++m_files) + ".plist",
                              "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>" + body +
                                  "</dict></plist>");
    }
    std::string command(const std::string& text) {
        return config("<key>RebootCommand</key><string>" + text + "</string>");
    }
    testsupport::TemporaryFolder m_folder;
    int m_files = 0;
};

TEST_F(RebootCommandTest, DefaultsToShutdownWithoutSettingsFileOrKey) {
    const Args shutdown{"/sbin/shutdown", "-r", "now"};
    for (const auto& path :
         {m_folder.path() + "/absent.plist", config("<key>Other</key><string>x</string>")}) {
        const auto configured = RebootCommand::configured(path);
        ASSERT_TRUE(configured) << configured.failure().description;
        EXPECT_EQ(*configured, shutdown) << path;
    }
}

TEST_F(RebootCommandTest, RunsTheConfiguredCommandWithoutAShellAndReportsFailuresAndBrokenSettings) {
    const std::string stamp = m_folder.path() + "/reboot stamp";
    const std::pair<std::string, const char*> cases[] = {
        // settings file, failure ("" for broken settings, which are never run)
        {command("/usr/bin/touch '" + stamp + "'"), nullptr},
        // Through a shell this would run touch after false fails.
        {command("/bin/false || /usr/bin/touch '" + stamp + "'"), "exited with status 1"},
        {command("false"), "exited with status 1"},
        {command("/nonexistent/reboot-now"), "could not be started"},
        {m_folder.write("broken.plist", "not a plist"), ""},
        {config("<key>RebootCommand</key><integer>1</integer>"), ""},
        {command(""), ""},
        {command("/usr/bin/touch 'unterminated"), ""},
    };
    for (const auto& [path, failure] : cases) {
        const std::string text = readFile(path);
        EXPECT_EQ(RebootCommand::configured(path).ok(), failure == nullptr || *failure) << text;
        std::filesystem::remove(stamp);
        const auto result = RebootCommand::run(path);
        EXPECT_EQ(result.status(), failure ? InstallResult::RebootFailed : InstallResult::Success) << text;
        EXPECT_NE(result.reason().find(failure ? failure : ""), std::string::npos) << result.reason();
        EXPECT_EQ(std::filesystem::exists(stamp), !failure) << text;
    }
}

} // namespace
