// System paths and the information registry. The log directory is process-wide:
// the path tests get a fresh home folder and set the directory back afterwards.
#include "FSysInfoPaths.h"

#include "FSysFile.h"
#include "FoundationTestSupport.h"

#include <algorithm>
#include <fcntl.h>

using namespace FSpace;
using namespace foundation_test;

namespace {

class FSysInfoPathsTest : public testing::Test {
protected:
    void SetUp() override { m_home.set(m_dir.c_str()); }
    void TearDown() override { FSysInfoPaths::setUserLogDirW(nullptr); }
    std::string in(std::string const& name) const { return m_dir + "/" + name; }
    std::wstring at(std::string const& name) const { return widened(in(name)); }
    /// Sets the log directory and gives the one that applies then.
    static std::wstring use(std::wstring const& dir) {
        return FSysInfoPaths::setUserLogDirW(dir.c_str()), text(FSysInfoPaths::getUserLogDirW());
    }
    unsigned modeOf(std::string const& name) const {
        struct stat info {};
        return ::lstat(in(name).c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
    }

    foundation_test::TemporaryFolder m_folder;
    std::string m_dir = m_folder.path();
    ScopedEnv m_home{"HOME", nullptr};
};

/// Answers the one key "shared.key" with an object pointing to itself.
struct OneKeyProvider : FSysInfoPaths {
    OneKeyProvider(wchar_t const* key, wchar_t const* name) : m_key(key), m_name(name) {}
    wchar_t const* Key() const override { return m_key; }
    wchar_t const* Name() const override { return m_name; }
    int getObject(wchar_t const* key, FSysInfoObjectRef& out) override {
        bool const known = std::wstring(key) == L"shared.key";
        return known ? (out = createObject(L"shared.key", m_name, static_cast<void*>(this)), 0) : -1;
    }
    wchar_t const *m_key, *m_name;
};

} // namespace

TEST(FSysInfoFolders, HomeAndTempFallBackAndEndInASlash) {
    ScopedEnv const home("HOME", nullptr), temp("TMPDIR", nullptr);
    auto const folders = [&](char const* homeValue, char const* tempValue) { // "home|temp", wide ones alike
        home.set(homeValue), temp.set(tempValue);
        std::string const narrow =
            text(FSysInfoPaths::getHomeFolderA()) + "|" + text(FSysInfoPaths::getTempFolderA());
        EXPECT_EQ(text(FSysInfoPaths::getHomeFolderW()) + L"|" + text(FSysInfoPaths::getTempFolderW()),
                  widened(narrow));
        return narrow;
    };
    EXPECT_ROWS(std::string, {folders("/Users/x", "/var/tmp"), "/Users/x/|/var/tmp/"},
                {folders("/Users/x/", "/var/tmp/"), "/Users/x/|/var/tmp/"},
                {folders(nullptr, nullptr), "./|/tmp/"}, {folders("", ""), "./|/tmp/"},
                {folders("/h\xE9", "/"), "/h\xE9/|/"});
}

TEST_F(FSysInfoPathsTest, NewLogDirectoriesAreStickyAndWorldWritableUnfitOnesGiveTheDefault) {
    mode_t const mask = ::umask(077); // must not matter
    std::wstring const logs = use(at("logs")), logs2 = use(at("logs2/"));
    ::umask(mask);
    ASSERT_EQ(::mkdir(in("mine").c_str(), 0750), 0);
    EXPECT_ROWS(std::wstring, {logs, at("logs/")}, {logs2, at("logs2/")}, {use(at("mine")), at("mine/")},
                {use(L""), at("QvLogs/")}, {use(L"/"), L"/"});
    // An existing folder keeps its mode; the default one is made when missing.
    EXPECT_ROWS(unsigned, {modeOf("logs"), 01777}, {modeOf("logs2"), 01777}, {modeOf("mine"), 0750},
                {modeOf("QvLogs") != 0, true});
    ASSERT_EQ(::symlink(in("mine").c_str(), in("link").c_str()), 0);
    ASSERT_EQ(::close(::creat(in("file").c_str(), 0644)), 0);
    ASSERT_EQ(::mkdir(in("theirs").c_str(), 0777), 0);
    // Only root can give a folder away; for anyone else "theirs" stays theirs.
    bool const given = ::geteuid() == 0 && ::chown(in("theirs").c_str(), 65534, 65534) == 0;
    for (std::string const name : {"none/logs", "link", "link/", "file", given ? "theirs" : "file"}) {
        use(at("mine"));
        EXPECT_EQ(use(at(name)), at("QvLogs/")) << name;
    }
    EXPECT_FALSE(TFSysFile<char>::exists(in("none").c_str())); // no parents made
    EXPECT_EQ(modeOf("mine"), 0750u);
}

TEST_F(FSysInfoPathsTest, LogFileNameIsDirectoryPrefixUtcTimeAndExtension) {
    use(at("logs"));
    FTime const before(true);
    std::wstring const name = text(FSysInfoPaths::getNewLogFileNameW("QvtRSInstaller_", ".txt"));
    std::wstring const bare = text(FSysInfoPaths::getNewLogFileNameW(nullptr, nullptr));
    FTime const after(true);
    // Nothing but directory, prefix, time and extension: two calls within one millisecond give the same name.
    std::wstring const head = at("logs/") + L"QvtRSInstaller_", stamp = name.substr(head.size(), 23);
    ASSERT_EQ(stamp.size(), 23u);
    std::wstring shape = stamp, clock = stamp;
    clock[13] = clock[16] = L':'; // as FTime writes it
    std::replace_if(
        shape.begin(), shape.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }, L'9');
    EXPECT_ROWS(std::wstring, {name, head + stamp + L".txt"}, {shape, L"9999-99-99T99-99-99.999"},
                {bare.substr(0, bare.size() - 23), at("logs/")});
    EXPECT_TRUE(text(before.toWStringEx()) <= clock && clock <= text(after.toWStringEx())) << clock;
}

TEST(FSysInfoRegistry, TheFirstProviderThatKnowsAKeyExactlyWins) {
    FSysInfo info;
    auto* first = new OneKeyProvider(L"first", L"First");
    info.addProvider(static_cast<FSysInfoProvider*>(nullptr));
    info.addProvider(FSysInfoProviderRef());
    info.addProvider(new FSysInfoPaths());
    info.addProvider(first);
    info.addProvider(FSysInfoProviderRef(new OneKeyProvider(L"second", L"Second")));
    info.addProvider(new OneKeyProvider(nullptr, L"Unnamed"));
    FSysInfoObjectRef const shared = info.getObject(L"shared.key"),
                            home = info.getObject(L"system.paths.homefolder");
    ASSERT_FALSE(shared.isNull() || home.isNull());
    EXPECT_TRUE(shared->NativeValue() == first &&
                text(home->Value().toCString()) == text(FSysInfoPaths::getHomeFolderA()));
    FSysInfoKeyMap keys;
    FSysInfoObjectRef none;
    EXPECT_ROWS(int, {info.getObject(L"Shared.key").isNull(), true},
                {info.getObject(L"system.paths.homeFolder").isNull(), true},
                {FSysInfoPaths().getObject(nullptr, none), -1}, {FSysInfoPaths().getKeys(keys), 0},
                {keys.Count(), 3});
    FSysInfoKeyMap const loaded = info.getLoadedProviders();
    ASSERT_TRUE(loaded.Count() == 3 && keys.Count() == 3);
    EXPECT_ROWS(std::wstring, {loaded[0].key, L"system.paths"}, {loaded[1].value, L"First"},
                {loaded[2].key, L"second"}, {keys[0].key, L"system.paths"},
                {keys[1].key, L"system.paths.homefolder"}, {keys[2].key, L"system.paths.tempfolder"},
                {keys[2].value, L"Temp folder"});
}
