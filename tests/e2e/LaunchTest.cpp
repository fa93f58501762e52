// The real bundles, started as a user would start them, inside the test
// sandbox (the program's log directory and later its agent live in system paths).
#include "TestSupport.h"
#include "platform/PropertyList.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

const std::string kBuildDir = QVT_BUILD_DIR;

struct BuiltBundle {
    std::string executable;
    std::string shortVersion;
    std::string revision;
};

BuiltBundle builtBundle(const std::string& name) {
    const std::string contents = kBuildDir + "/" + name + "/Contents";
    auto info = platform::PropertyList::fromFile(contents + "/Info.plist");
    EXPECT_TRUE(info) << contents;
    return {contents + "/MacOS/QvtRSInstaller",
            info ? info->string("CFBundleShortVersionString").value_or("") : "",
            info ? info->string("com.quorvantis.source.revision").value_or("") : ""};
}

// Without a display server, and with Qt left to choose its platform.
const std::map<std::string, std::string> kNoDisplay = {
    {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};

bool hasLaunchLine(const std::string& errors, const BuiltBundle& bundle) {
    const std::regex line(
        "(^|\\n)\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} QvtRSInstaller\\[\\d+:[0-9a-f]+\\] "
        "Launched: QvtRSInstaller version: " +
        std::regex_replace(bundle.shortVersion, std::regex("\\."), "\\.") + "  \\(" + bundle.revision +
        "\\)\\n");
    return std::regex_search(errors, line);
}

} // namespace

TEST(HeadlessLaunch, PrintsTheLaunchLineWithTheBundlesVersionAndEndsWithoutAWindow) {
    const BuiltBundle bundle = builtBundle("QvtRSInstaller.app");
    ASSERT_FALSE(bundle.shortVersion.empty());
    ASSERT_FALSE(bundle.revision.empty());
    const auto result = testsupport::runProcess({bundle.executable, "-gui", "NO"}, kNoDisplay);
    EXPECT_TRUE(hasLaunchLine(result.errors, bundle)) << result.errors;
    // No update flow exists yet: the run ends by itself and reports failure.
    EXPECT_EQ(result.exitStatus, 1) << result.errors;
}

TEST(HeadlessLaunch, NeverConnectsToADisplayEvenWhenOneIsConfigured) {
    // A display that does not exist: a run that tried to open a window would abort.
    const BuiltBundle bundle = builtBundle("QvtRSUninstaller.app");
    const auto result = testsupport::runProcess({bundle.executable, "-gui", "0"},
                                                {{"DISPLAY", ":97"}, {"QT_QPA_PLATFORM", ""}});
    EXPECT_TRUE(hasLaunchLine(result.errors, bundle)) << result.errors;
    EXPECT_EQ(result.errors.find("could not connect to display"), std::string::npos) << result.errors;
    EXPECT_EQ(result.exitStatus, 1) << result.errors;
}

TEST(WindowLaunch, WithoutADisplayTheWindowRunStaysUpOffscreenUntilStopped) {
    const BuiltBundle bundle = builtBundle("QvtRSInstaller.app");
    const auto result =
        testsupport::runProcess({bundle.executable, "-uninstall", "NO", "-gui", "YES"}, kNoDisplay, 3);
    EXPECT_TRUE(hasLaunchLine(result.errors, bundle)) << result.errors;
    // It waits for its buttons, so the harness had to stop it.
    EXPECT_EQ(result.exitStatus, 128 + 9) << result.errors;
}
