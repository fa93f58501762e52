#include "platform/UserDefaults.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using platform::UserDefaults;

TEST(UserDefaultsBoolean, FollowsThePlatformReadingOfText) {
    const std::pair<const char*, bool> cases[] = {
        {"YES", true},  {"yes", true},   {"true", true},   {"T", true},      {"1", true},
        {"9", true},    {"  yes", true}, {"\tTRUE", true}, {"+1", true},     {"-1", true},
        {"007", true},  {"NO", false},   {"0", false},     {"false", false}, {"", false},
        {"000", false}, {"  ", false},   {"-0", false},    {"0x1", false},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(UserDefaults::boolValue(text), expected) << '"' << text << '"';
}

TEST(UserDefaultsDomains, DashKeyValueArgumentsWinOverThePersistentDomain) {
    testsupport::TemporaryFolder folder;
    const std::string file = folder.write(
        "defaults.plist",
        "<plist><dict><key>gui</key><false/><key>uninstall</key><string>YES</string></dict></plist>");
    const char* argv[] = {"prog", "-gui", "YES", "stray", "-empty", "", "-dangling"};
    UserDefaults both(7, argv, file);
    EXPECT_EQ(both.stringForKey("gui"), "YES");
    EXPECT_EQ(both.stringForKey("uninstall"), "YES");
    EXPECT_EQ(both.stringForKey("empty"), "");
    for (const char* key : {"dangling", "stray", "prog", "missing"})
        EXPECT_FALSE(both.stringForKey(key)) << key;

    const char* none[] = {"prog"};
    EXPECT_EQ(UserDefaults(1, none, file).stringForKey("gui"), "0");
    EXPECT_FALSE(UserDefaults(1, none, folder.path() + "/missing.plist").stringForKey("gui"));
}

TEST(UserDefaultsDomains, PersistentDomainLivesInTheConfigFolder) {
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(UserDefaults::persistentDomainPath("com.x.Y"), "/cfg/com.x.Y.plist");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(UserDefaults::persistentDomainPath("com.x.Y"), "/home/u/.config/com.x.Y.plist");
}
