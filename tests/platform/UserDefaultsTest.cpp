#include "platform/UserDefaults.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using platform::UserDefaults;
using testsupport::TemporaryFolder;

TEST(UserDefaultsBoolean, FollowsThePlatformReadingOfText) {
    const std::pair<const char*, bool> cases[] = {
        {"YES", true}, {"yes", true}, {"Y", true},     {"true", true},   {"T", true},    {"1", true},
        {"2", true},   {"9", true},   {"  yes", true}, {"+1", true},     {"-1", true},   {"007", true},
        {"NO", false}, {"no", false}, {"0", false},    {"false", false}, {"", false},    {"000", false},
        {"  ", false}, {"x", false},  {"-0", false},   {"nope", false},  {"0x1", false}, {"\tTRUE", true},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(UserDefaults::boolValue(text), expected) << '"' << text << '"';
}

TEST(UserDefaultsArguments, DashKeyValuePairsFormTheArgumentDomain) {
    const char* argv[] = {"prog", "-gui", "NO", "stray", "-uninstall", "0", "-empty", "", "-dangling"};
    UserDefaults defaults(9, argv, "");
    EXPECT_EQ(defaults.stringForKey("gui"), "NO");
    EXPECT_EQ(defaults.stringForKey("uninstall"), "0");
    EXPECT_EQ(defaults.stringForKey("empty"), "");
    EXPECT_FALSE(defaults.stringForKey("dangling"));
    EXPECT_FALSE(defaults.stringForKey("stray"));
    EXPECT_FALSE(defaults.stringForKey("prog"));
}

TEST(UserDefaultsDomains, ArgumentsWinOverThePersistentDomain) {
    TemporaryFolder folder;
    const std::string file = folder.write(
        "defaults.plist",
        "<plist><dict><key>gui</key><false/><key>uninstall</key><string>YES</string></dict></plist>");
    const char* none[] = {"prog"};
    UserDefaults persisted(1, none, file);
    EXPECT_EQ(persisted.stringForKey("gui"), "0");
    EXPECT_EQ(persisted.stringForKey("uninstall"), "YES");

    const char* argv[] = {"prog", "-gui", "YES"};
    UserDefaults both(3, argv, file);
    EXPECT_EQ(both.stringForKey("gui"), "YES");

    UserDefaults missingFile(1, none, folder.path() + "/missing.plist");
    EXPECT_FALSE(missingFile.stringForKey("gui"));
}

TEST(UserDefaultsDomains, PersistentDomainLivesInTheConfigFolder) {
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(UserDefaults::persistentDomainPath("com.x.Y"), "/cfg/com.x.Y.plist");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(UserDefaults::persistentDomainPath("com.x.Y"), "/home/u/.config/com.x.Y.plist");
}
