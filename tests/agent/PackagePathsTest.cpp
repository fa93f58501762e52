// The checks every name and path from a package or a receipt passes, and the
// version order that decides whether an update is a downgrade.
#include "agent/PackagePaths.h"
#include "agent/InstallerPackage.h"

#include <gtest/gtest.h>

namespace {

struct VersionCase {
    const char* older;
    const char* newer;
};

class VersionOrderTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionOrderTest, OrdersPartByPart) {
    EXPECT_LT(InstallerPackage::compareVersions(GetParam().older, GetParam().newer), 0);
    EXPECT_GT(InstallerPackage::compareVersions(GetParam().newer, GetParam().older), 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionOrderTest,
                         ::testing::Values(VersionCase{"1.9", "1.10"}, VersionCase{"1.0", "1.0.1"},
                                           VersionCase{"2.9.9", "3"}, VersionCase{"3.2.0", "3.2.0.1"},
                                           VersionCase{"1.0a", "1.0b"},
                                           VersionCase{"999999999999999999", "1000000000000000000"}));

TEST(VersionOrderTest, MissingPartsCountAsZero) {
    EXPECT_EQ(InstallerPackage::compareVersions("1.0", "1.0.0"), 0);
    EXPECT_EQ(InstallerPackage::compareVersions("3.2.0", "3.2.0"), 0);
}

struct PathCase {
    const char* text;
    bool relativeOk;
    bool locationOk;
};

class PathCheckTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(PathCheckTest, AcceptsOnlyPathsThatStayWhereTheySay) {
    EXPECT_EQ(PackagePaths::isSafeRelative(GetParam().text), GetParam().relativeOk) << GetParam().text;
    EXPECT_EQ(PackagePaths::isValidInstallLocation(GetParam().text), GetParam().locationOk)
        << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Paths, PathCheckTest,
                         ::testing::Values(PathCase{"bin/tool", true, false},
                                           PathCase{"README.txt", true, false}, PathCase{"..", false, false},
                                           PathCase{"a/../b", false, false}, PathCase{"a/./b", false, false},
                                           PathCase{"a//b", false, false}, PathCase{"a/", false, false},
                                           PathCase{"", false, false}, PathCase{"/", false, true},
                                           PathCase{"/opt/quorvantis-remote", false, true},
                                           PathCase{"/opt/../etc", false, false},
                                           PathCase{"/opt/", false, false}, PathCase{"/opt//x", false, false},
                                           PathCase{"..hidden", true, false}));

struct LinkCase {
    const char* link;
    const char* target;
    const char* resolved; ///< "" when it leaves the install location
};

class LinkTargetTest : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkTargetTest, ResolvesInsideTheInstallLocationOrNotAtAll) {
    EXPECT_EQ(PackagePaths::resolveLinkTarget(GetParam().link, GetParam().target), GetParam().resolved)
        << GetParam().link << " -> " << GetParam().target;
}

INSTANTIATE_TEST_SUITE_P(Links, LinkTargetTest,
                         ::testing::Values(LinkCase{"bin/tool-link", "tool", "bin/tool"},
                                           LinkCase{"bin/conf", "../etc/service.conf", "etc/service.conf"},
                                           LinkCase{"top", ".", "."}, LinkCase{"bin/up", "..", "."},
                                           LinkCase{"bin/out", "../..", ""}, LinkCase{"top", "../x", ""},
                                           LinkCase{"bin/x", "sub/../../..", ""},
                                           LinkCase{"bin/x", "sub/../y", ""},
                                           LinkCase{"bin/x", "/etc/passwd", ""}, LinkCase{"bin/x", "", ""}));

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
