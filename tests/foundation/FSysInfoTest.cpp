#include "FSysInfoPaths.h"

#include "FSysFile.h"
#include "FoundationTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace FSpace;
using namespace foundation_test;

namespace {

/// Bytes zero-extended, as the library widens them.
std::wstring wide(std::string const& s) {
    std::wstring out;
    for (unsigned char const c : s) {
        out.push_back(c);
    }
    return out;
}

/// Sets or unsets one environment variable for the test's lifetime.
class ScopedEnv {
public:
    ScopedEnv(char const* name, char const* value)
        : m_name(name),
          m_old(std::getenv(name) ? std::optional<std::string>(std::getenv(name)) : std::nullopt) {
        set(value);
    }
    ScopedEnv(ScopedEnv const&) = delete;
    ScopedEnv& operator=(ScopedEnv const&) = delete;
    ~ScopedEnv() { set(m_old ? m_old->c_str() : nullptr); }

    void set(char const* value) const { value == nullptr ? ::unsetenv(m_name) : ::setenv(m_name, value, 1); }

private:
    char const* m_name;
    std::optional<std::string> m_old;
};

/// A fresh home folder under /tmp; the log directory goes back to the default
/// afterwards (it is process-wide).
class FSysInfoPathsTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/fsysinfo-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_home.set(m_dir.c_str());
    }
    void TearDown() override {
        FSysInfoPaths::setUserLogDirW(nullptr);
        std::filesystem::remove_all(m_dir);
    }

    std::string at(std::string const& name) const { return m_dir + "/" + name; }
    static std::wstring logDir() { return text(FSysInfoPaths::getUserLogDirW()); }
    static unsigned modeOf(std::string const& path) {
        struct stat info {};
        return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
    }

    std::string m_dir;
    ScopedEnv m_home{"HOME", nullptr};
};

/// Knows one key and answers it with an object carrying its own name.
class OneKeyProvider : public FSysInfoProvider {
public:
    OneKeyProvider(wchar_t const* key, wchar_t const* name) : m_key(key), m_name(name) {}
    wchar_t const* Key() const override { return m_key; }
    wchar_t const* Name() const override { return m_name; }
    int refreshInfo() override { return 0; }
    int releaseInfo() override { return 0; }
    int getKeys(FSysInfoKeyMap&) const override { return 0; }
    int getObject(wchar_t const* key, FSysInfoObjectRef& out) override {
        if (std::wstring(key) != L"shared.key") {
            return -1;
        }
        out = createObject(L"shared.key", m_name, static_cast<void*>(this));
        return 0;
    }

private:
    wchar_t const* m_key;
    wchar_t const* m_name;
};

} // namespace

TEST(FSysInfoFolders, HomeAndTempFallBackAndEndInASlash) {
    ScopedEnv const home("HOME", nullptr);
    ScopedEnv const temp("TMPDIR", nullptr);
    struct Row {
        char const *home, *temp, *homeFolder, *tempFolder;
    };
    Row const rows[] = {{"/Users/x", "/var/tmp", "/Users/x/", "/var/tmp/"},
                        {"/Users/x/", "/var/tmp/", "/Users/x/", "/var/tmp/"},
                        {nullptr, nullptr, "./", "/tmp/"},
                        {"", "", "./", "/tmp/"},
                        {"/h\xE9", "/", "/h\xE9/", "/"}};
    for (Row const& r : rows) {
        SCOPED_TRACE(r.homeFolder);
        home.set(r.home);
        temp.set(r.temp);
        EXPECT_EQ(text(FSysInfoPaths::getHomeFolderA()), r.homeFolder);
        EXPECT_EQ(text(FSysInfoPaths::getHomeFolderW()), wide(r.homeFolder));
        EXPECT_EQ(text(FSysInfoPaths::getTempFolderA()), r.tempFolder);
        EXPECT_EQ(text(FSysInfoPaths::getTempFolderW()), wide(r.tempFolder));
    }
}

TEST_F(FSysInfoPathsTest, MissingLogDirectoryIsCreatedStickyAndWorldWritable) {
    mode_t const mask = ::umask(077); // must not matter
    FSysInfoPaths::setUserLogDirW(wide(at("logs")).c_str());
    FSysInfoPaths::setUserLogDirW(wide(at("logs2/")).c_str());
    ::umask(mask);
    EXPECT_EQ(modeOf(at("logs")), 01777u);
    EXPECT_EQ(modeOf(at("logs2")), 01777u);
    EXPECT_EQ(logDir(), wide(at("logs2/"))); // no doubled "/"

    ASSERT_EQ(::mkdir(at("mine").c_str(), 0750), 0);
    FSysInfoPaths::setUserLogDirW(wide(at("mine")).c_str());
    EXPECT_EQ(logDir(), wide(at("mine/")));
    EXPECT_EQ(modeOf(at("mine")), 0750u); // an existing folder keeps its mode

    FSysInfoPaths::setUserLogDirW(L"");
    EXPECT_EQ(logDir(), wide(at("QvLogs/")));
    EXPECT_TRUE(TFSysFile<char>::isDirectory(at("QvLogs").c_str()));
    FSysInfoPaths::setUserLogDirW(L"/");
    EXPECT_EQ(logDir(), L"/");
}

TEST_F(FSysInfoPathsTest, UnfitLogDirectoriesAreNotUsed) {
    ASSERT_EQ(::mkdir(at("real").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(at("real").c_str(), at("link").c_str()), 0);
    ASSERT_EQ(::close(::creat(at("file").c_str(), 0644)), 0);
    for (std::string const name : {"none/logs", "link", "link/", "file"}) {
        SCOPED_TRACE(name);
        FSysInfoPaths::setUserLogDirW(wide(at("real")).c_str());
        FSysInfoPaths::setUserLogDirW(wide(at(name)).c_str());
        EXPECT_EQ(logDir(), wide(at("QvLogs/")));
    }
    EXPECT_FALSE(TFSysFile<char>::exists(at("none").c_str())); // no parents made
    EXPECT_EQ(modeOf(at("real")), 0755u);
}

TEST_F(FSysInfoPathsTest, AFolderOfAnotherUserIsNotUsed) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a folder away needs root";
    }
    ASSERT_EQ(::mkdir(at("theirs").c_str(), 0777), 0);
    ASSERT_EQ(::chown(at("theirs").c_str(), 65534, 65534), 0);
    FSysInfoPaths::setUserLogDirW(wide(at("theirs")).c_str());
    EXPECT_EQ(logDir(), wide(at("QvLogs/")));
}

TEST_F(FSysInfoPathsTest, LogFileNameIsDirectoryPrefixUtcTimeAndExtension) {
    FSysInfoPaths::setUserLogDirW(wide(at("logs")).c_str());
    auto stampOf = [](FTime const& t) {
        std::wstring s = text(t.toWStringEx());
        std::replace(s.begin(), s.end(), L':', L'-');
        return s;
    };
    FTime const before(true);
    std::wstring const name = text(FSysInfoPaths::getNewLogFileNameW("QvtRSInstaller_", ".txt"));
    std::wstring const bare = text(FSysInfoPaths::getNewLogFileNameW(nullptr, nullptr));
    FTime const after(true);

    // The name is exactly directory + prefix + time + extension, so two calls
    // within one millisecond give the same name.
    std::wstring const head = wide(at("logs/")) + L"QvtRSInstaller_";
    ASSERT_EQ(name.size(), head.size() + 23 + 4);
    std::wstring const stamp = name.substr(head.size(), 23);
    EXPECT_EQ(name, head + stamp + L".txt");
    std::wstring shape = stamp;
    std::replace_if(
        shape.begin(), shape.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }, L'9');
    EXPECT_EQ(shape, L"9999-99-99T99-99-99.999");
    EXPECT_LE(stampOf(before), stamp);
    EXPECT_LE(stamp, stampOf(after));
    EXPECT_EQ(bare.size(), wide(at("logs/")).size() + 23);
}

TEST(FSysInfoPathsProvider, KnowsItsThreeKeysExactly) {
    FSysInfoPaths paths;
    FSysInfoKeyMap keys;
    EXPECT_EQ(paths.getKeys(keys), 0);
    ASSERT_EQ(keys.Count(), 3);
    EXPECT_ROWS(std::wstring, {keys[0].key, L"system.paths"}, {keys[0].value, L"System paths"},
                {keys[1].key, L"system.paths.homefolder"}, {keys[1].value, L"Home folder"},
                {keys[2].key, L"system.paths.tempfolder"}, {keys[2].value, L"Temp folder"},
                {paths.Key(), L"system.paths"}, {paths.Name(), L"System paths"});

    FSysInfoObjectRef object;
    for (wchar_t const* unknown : {L"system.paths.homeFolder", L"System.paths", L"system.path", L"",
                                   static_cast<wchar_t const*>(nullptr)}) {
        EXPECT_EQ(paths.getObject(unknown, object), -1);
    }
    EXPECT_TRUE(object.isNull());

    ASSERT_EQ(paths.getObject(L"system.paths.homefolder", object), 0);
    EXPECT_EQ(object->ObjectType(), FSysInfoObject::TypeValue);
    EXPECT_EQ(object->Value().typeId(), FTypeWString);
    EXPECT_EQ(text(object->Value().toCString()), text(FSysInfoPaths::getHomeFolderA()));
    ASSERT_EQ(paths.getObject(L"system.paths", object), 0);
    FSysInfoKeyMap const map = object->KeyMap();
    EXPECT_ROWS(std::wstring, {map[0].key, L"system.paths.homefolder"}, {map[1].value, L"Temp folder"});
    EXPECT_EQ(map.Count(), 2);
}

TEST(FSysInfoRegistry, TheFirstProviderThatKnowsAKeyWins) {
    FSysInfo info;
    auto* first = new OneKeyProvider(L"first", L"First");
    info.addProvider(static_cast<FSysInfoProvider*>(nullptr));
    info.addProvider(FSysInfoProviderRef());
    info.addProvider(new FSysInfoPaths());
    info.addProvider(first);
    info.addProvider(FSysInfoProviderRef(new OneKeyProvider(L"second", L"Second")));
    info.addProvider(new OneKeyProvider(nullptr, L"Unnamed"));

    FSysInfoObjectRef const shared = info.getObject(L"shared.key");
    ASSERT_FALSE(shared.isNull());
    EXPECT_EQ(shared->NativeValue(), first);
    EXPECT_TRUE(info.getObject(L"Shared.key").isNull());

    FSysInfoKeyMap const loaded = info.getLoadedProviders();
    ASSERT_EQ(loaded.Count(), 3);
    EXPECT_ROWS(std::wstring, {loaded[0].key, L"system.paths"}, {loaded[1].value, L"First"},
                {loaded[2].key, L"second"});
}

TEST(FSysInfoObjects, CopiesShareValuesAndCopyListsAndMaps) {
    FSysInfoValueRef const value(new TFValueBase<FTypeId>(FGStr<wchar_t>(L"v")));
    FList<FSysInfoValueRef> list;
    list.add(value);
    list.add(FSysInfoValueRef());
    {
        FSysInfoObject const one(L"one", L"One", value);
        FSysInfoObject copy(one);
        EXPECT_EQ(value.refCount(), 4); // here, in the list, and in both objects
        copy = FSysInfoObject(L"many", L"Many", list);
        EXPECT_EQ(value.refCount(), 4); // the list was copied, one object replaced
        FList<TFValueBase<FTypeId>> const values = copy.Values();
        ASSERT_EQ(values.Count(), 2);
        EXPECT_TRUE(values[0] == one.Value());
        EXPECT_ROWS(long, {values[1].typeId(), FTypeNone}, {one.Values().Count(), 0},
                    {one.KeyMap().Count(), 0}, {copy.NativeValue() == nullptr, 1},
                    {copy.ObjectType(), FSysInfoObject::TypeValueList});
    }
    EXPECT_EQ(value.refCount(), 2);
}
