// The checks every path from a package or a receipt passes before it is joined to a system path.
#include "agent/package/PackagePaths.h"

#include <gtest/gtest.h>

namespace {

TEST(PathCheckTest, AcceptsOnlyPathsThatStayWhereTheySay) {
    const std::tuple<const char*, bool, bool> cases[] = {
        // text, a safe relative path, a valid install location
        {"bin/tool", true, false},
        {"..hidden", true, false},
        {"..", false, false},
        {"a/../b", false, false},
        {"a/./b", false, false},
        {"a//b", false, false},
        {"a/", false, false},
        {"", false, false},
        {"/", false, true},
        {"/opt/x", false, true},
        {"/opt/../etc", false, false},
        {"/opt/", false, false}};
    for (const auto& [text, relativeOk, locationOk] : cases) {
        EXPECT_EQ(PackagePaths::isSafeRelative(text), relativeOk) << text;
        EXPECT_EQ(PackagePaths::isValidInstallLocation(text), locationOk) << text;
    }
}

TEST(LinkTargetTest, ResolvesInsideTheInstallLocationOrNotAtAll) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        // link, target, resolved ("" when it leaves the install location)
        {"bin/tool-link", "tool", "bin/tool"},
        {"bin/conf", "../etc/service.conf", "etc/service.conf"},
        {"top", ".", "."},
        {"bin/up", "..", "."},
        {"bin/out", "../..", ""},
        {"top", "../x", ""},
        {"bin/x", "sub/../y", ""},
        {"bin/x", "/etc/passwd", ""},
        {"bin/x", "", ""}};
    for (const auto& [link, target, resolved] : cases)
        EXPECT_EQ(PackagePaths::resolveLinkTarget(link, target), resolved) << link << " -> " << target;
}

TEST(PathJoinTest, StaysBelowTheFolder) {
    const std::tuple<std::string, std::string> joined[] = {
        {PackagePaths::join("/", "opt"), "/opt"},
        {PackagePaths::join("/opt/x", "bin/tool"), "/opt/x/bin/tool"},
        {PackagePaths::rooted("/", "/opt"), "/opt"},
        {PackagePaths::rooted("/tmp/r", "/opt"), "/tmp/r/opt"},
        {PackagePaths::rooted("/tmp/r", "/"), "/tmp/r"}};
    for (const auto& [result, expected] : joined)
        EXPECT_EQ(result, expected);
    const std::tuple<const char*, const char*, bool> within[] = {{"/opt/x/bin", "/opt/x", true},
                                                                 {"/opt/x", "/opt/x", true},
                                                                 {"/opt/xy", "/opt/x", false},
                                                                 {"/usr/bin", "/", true}};
    for (const auto& [path, folder, expected] : within)
        EXPECT_EQ(PackagePaths::isWithin(path, folder), expected) << path << " in " << folder;
}

} // namespace
