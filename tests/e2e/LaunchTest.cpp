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

TEST(WindowLaunch, WithoutADisplayTheWindowRunStaysUpOffscreenUntilStopped) {
    const BuiltBundle bundle = builtBundle("QvtRSInstaller.app");
    const auto result =
        testsupport::runProcess({bundle.executable, "-uninstall", "NO", "-gui", "YES"}, kNoDisplay, 3);
    EXPECT_TRUE(hasLaunchLine(result.errors, bundle)) << result.errors;
    // It waits for its buttons, so the harness had to stop it.
    EXPECT_EQ(result.exitStatus, 128 + 9) << result.errors;
}
