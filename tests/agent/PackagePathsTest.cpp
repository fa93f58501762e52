// The checks every name and path from a package or a receipt passes, and the
// version order that decides whether an update is a downgrade.
#include "agent/PackagePaths.h"
#include "agent/InstallerPackage.h"

#include <gtest/gtest.h>

namespace {

TEST(VersionOrderTest, OrdersPartByPartWithMissingPartsAsZero) {
    const std::pair<const char*, const char*> olderNewer[] = {
        {"1.9", "1.10"},      {"1.0", "1.0.1"}, {"2.9.9", "3"},
        {"3.2.0", "3.2.0.1"}, {"1.0a", "1.0b"}, {"999999999999999999", "1000000000000000000"}};
    for (const auto& [older, newer] : olderNewer) {
        EXPECT_LT(InstallerPackage::compareVersions(older, newer), 0) << older << " < " << newer;
        EXPECT_GT(InstallerPackage::compareVersions(newer, older), 0) << newer << " > " << older;
    }
    EXPECT_EQ(InstallerPackage::compareVersions("1.0", "1.0.0"), 0);
    EXPECT_EQ(InstallerPackage::compareVersions("3.2.0", "3.2.0"), 0);
}

TEST(PathCheckTest, AcceptsOnlyPathsThatStayWhereTheySay) {
    const std::tuple<const char*, bool, bool> cases[] = {
        // text, a safe relative path, a valid install location
        {"bin/tool", true, false},
        {"README.txt", true, false},
        {"..hidden", true, false},
        {"..", false, false},
        {"a/../b", false, false},
        {"a/./b", false, false},
        {"a//b", false, false},
        {"a/", false, false},
        {"", false, false},
        {"/", false, true},
        {"/opt/quorvantis-remote", false, true},
        {"/opt/../etc", false, false},
        {"/opt/", false, false},
        {"/opt//x", false, false}};
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
        {"bin/x", "sub/../../..", ""},
        {"bin/x", "sub/../y", ""},
        {"bin/x", "/etc/passwd", ""},
        {"bin/x", "", ""}};
    for (const auto& [link, target, resolved] : cases)
        EXPECT_EQ(PackagePaths::resolveLinkTarget(link, target), resolved) << link << " -> " << target;
}

TEST(IdentifierCheckTest, AcceptsOnlyFileNameSafeIdentifiers) {
    for (const char* good : {"com.quorvantis.remote.service", "a", "A-b_c.9"})
        EXPECT_TRUE(PackagePaths::isValidIdentifier(good)) << good;
    for (const char* bad : {"", ".hidden", "..", "a/b", "../x", "a b", "a,b", "a\nb"})
        EXPECT_FALSE(PackagePaths::isValidIdentifier(bad)) << bad;
    EXPECT_FALSE(PackagePaths::isValidIdentifier(std::string(201, 'a')));
}

TEST(PathJoinTest, StaysBelowTheFolder) {
    EXPECT_EQ(PackagePaths::join("/", "opt"), "/opt");
    EXPECT_EQ(PackagePaths::join("/opt/x", "bin/tool"), "/opt/x/bin/tool");
    EXPECT_TRUE(PackagePaths::isWithin("/opt/x/bin", "/opt/x"));
    EXPECT_TRUE(PackagePaths::isWithin("/opt/x", "/opt/x"));
    EXPECT_FALSE(PackagePaths::isWithin("/opt/xy", "/opt/x"));
    EXPECT_TRUE(PackagePaths::isWithin("/usr/bin", "/"));
}

} // namespace
