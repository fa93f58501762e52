#include "FSysFile.h"

#include "FoundationTestSupport.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <vector>

using namespace FSpace;
using namespace foundation_test;

namespace {

using File = TFSysFile<char>;
using WFile = TFSysFile<wchar_t>;

template <typename T>
std::basic_string<T> str(FMStr<T> const& s) {
    return s.isEmpty() ? std::basic_string<T>() : std::basic_string<T>(s);
}

/// ASCII text as wide text.
std::wstring wide(std::string const& s) {
    return std::wstring(s.begin(), s.end());
}

/// The texts \p show gives for the list's elements, sorted (listings come in
/// the system's order).
template <typename L, typename F>
std::vector<std::string> sorted(L const& list, F show) {
    std::vector<std::string> out;
    for (long i = 0; i < list.Count(); ++i) {
        out.push_back(show(list[i]));
    }
    std::sort(out.begin(), out.end());
    return out;
}

auto const pathOf = [](File const& e) { return str(e.Path()); };

/// A fresh directory under /tmp, removed with everything in it afterwards.
class FSysFileTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/fsysfile-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string at(std::string const& name) const { return m_dir + "/" + name; }
    std::string write(std::string const& name, std::string const& bytes) const {
        std::ofstream(at(name), std::ios::binary) << bytes;
        return at(name);
    }
    static std::string read(std::string const& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string m_dir;
};

} // namespace

TEST_F(FSysFileTest, DirectoryOperationsReturnMinusOneAndTheOthersErrno) {
    ASSERT_EQ(File::makeDirectory(at("full").c_str()), 0);
    write("full/f", "x");
    FTime time;
    EXPECT_ROWS(int, {File::makeDirectory(at("full").c_str()), -1},
                {File::makeDirectory(at("a/b/c").c_str()), -1},
                {File::removeDirectory(at("full").c_str(), true), -1},
                {File::removeDirectory(at("full").c_str(), false), -1},
                {File::removeDirectory(at("missing").c_str(), false), -1},
                {File::removeFile(at("missing").c_str()), ENOENT},
                {File::moveFile(at("missing").c_str(), at("b").c_str()), ENOENT},
                {File::moveDirectory(at("full").c_str(), at("no/such").c_str()), ENOENT},
                {File::changeDirectory(at("full/f").c_str()), ENOTDIR},
                {File::lastAccessTimeOf(at("missing").c_str(), time), -1},
                {File::creationTimeOf(at("full").c_str(), time), static_cast<int>(0x80000000u)},
                {File::setCreationTimeOf(at("full").c_str(), time), 0});
    EXPECT_TRUE(time.isCleared());
    EXPECT_EQ(File::removeFile(at("full/f").c_str()), 0);
    EXPECT_EQ(File::removeDirectory(at("full").c_str(), false), 0);
    EXPECT_FALSE(File::exists(at("full").c_str()));
}

TEST_F(FSysFileTest, SizeOfMissingFileHasAllBitsSetAndAnEmptyFileIsAskedAgain) {
    EXPECT_EQ(File::sizeOf(at("missing").c_str()), ~0ULL);
    EXPECT_EQ(File(at("missing").c_str(), -1).Size(), -1);
    File grows(write("grows", "").c_str(), 0);
    EXPECT_EQ(grows.Size(), 0);
    write("grows", "abc");
    EXPECT_EQ(grows.Size(), 3); // 0 was not cached
    write("grows", "abcdef");
    EXPECT_EQ(grows.Size(), 3); // 3 was
}

TEST_F(FSysFileTest, EntryIsFileIsTheNegatedDirectoryFlagNotAFileTest) {
    std::string const missing = at("missing");
    EXPECT_ROWS(bool, {File(missing.c_str(), -1).isFile(), true}, {File::isFile(missing.c_str()), false},
                {File(missing.c_str(), -1).exists(), false}, {File(m_dir.c_str(), -1).isDirectory(), true},
                {File(m_dir.c_str(), 0).isDirectory(), false}, {File(missing.c_str(), 1).isFile(), false},
                {File::isFile(write("f", "").c_str()), true}, {File::isFile(m_dir.c_str()), false});
}

TEST_F(FSysFileTest, ListingsOfNamesSkipDotsAndDsStoreListingsOfEntriesKeepThem) {
    write("a", "1");
    write(".DS_Store", "");
    write("b", "2");
    File::makeDirectory(at("sub").c_str());
    for (std::string const& dir : {m_dir, m_dir + "/"}) {
        FList<FMStr<char>> names;
        FList<File> entries;
        EXPECT_EQ(File::readDirectory(dir.c_str(), names), 0);
        EXPECT_EQ(File::readDirectory(dir.c_str(), entries), 0);
        EXPECT_EQ(sorted(names, str<char>), (std::vector<std::string>{"a", "b", "sub"}));
        EXPECT_EQ(sorted(entries, pathOf), (std::vector<std::string>{at("."), at(".."), at(".DS_Store"),
                                                                     at("a"), at("b"), at("sub")}));
    }
    File const folder(m_dir.c_str(), -1);
    EXPECT_EQ(sorted(folder.FileNames(), str<char>), (std::vector<std::string>{".DS_Store", "a", "b"}));
    EXPECT_EQ(sorted(folder.SubDirNames(), str<char>), (std::vector<std::string>{".", "..", "sub"}));

    // What is no directory fails with the system's error and lists nothing.
    FList<FMStr<char>> names;
    FList<File> entries;
    EXPECT_ROWS(int, {File::readDirectory(at("missing").c_str(), names), ENOENT},
                {File::readDirectory(at("a").c_str(), entries), ENOTDIR},
                {File::readDirectory("", names), ENOENT}, // not the root directory
                {File::readDirectory(m_dir.c_str(), "*", entries), -1});
    EXPECT_EQ(names.Count() + entries.Count(), 0);
    EXPECT_EQ(File(at("missing").c_str(), 1).SubDirectories().Count(), 0);
}

TEST_F(FSysFileTest, CopyLeavesNoDestinationBehindWhenItFails) {
    std::string const big(10000, 'x'); // more than two 4096-byte blocks
    write("big", big);
    write("empty", "");
    write("keep", "kept");
    File::makeDirectory(at("dir").c_str());
    struct Case {
        std::string source, destination;
        int result;
        bool destinationExists;
    };
    Case const cases[] = {
        {at("missing"), at("out1"), File::ResultInvalidSource, false},
        {at("empty"), at("out2"), 0, true},
        {at("big"), at("out3"), 0, true},
        {at("big"), at("dir"), File::ResultInvalidDestination, true},
        {at("big"), at("none/out4"), File::ResultInvalidDestination, false},
        {at("dir"), at("out5"), File::ResultError, false}, // opens, but reading gives EISDIR
        {at("keep"), at("keep"), File::ResultInvalidDestination, true},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.source + " -> " + c.destination);
        EXPECT_EQ(File::copyFile(c.source.c_str(), c.destination.c_str()), c.result);
        EXPECT_EQ(File::exists(c.destination.c_str()), c.destinationExists);
    }
    EXPECT_EQ(read(at("out2")), "");
    EXPECT_EQ(read(at("out3")), big);
    EXPECT_EQ(read(at("keep")), "kept");
}

TEST_F(FSysFileTest, CopyIntoAFullDeviceFailsAndKeepsTheDevice) {
    struct stat info;
    if (::stat("/dev/full", &info) != 0 || !S_ISCHR(info.st_mode)) {
        GTEST_SKIP() << "no /dev/full";
    }
    // Small enough to sit in the stream's buffer: the failure shows only on close.
    EXPECT_EQ(File::copyFile(write("small", "abc").c_str(), "/dev/full"), File::ResultError);
    EXPECT_TRUE(File::exists("/dev/full"));
}

TEST_F(FSysFileTest, MoveAndRenameKeepTheEntryPath) {
    File::makeDirectory(at("x").c_str());
    File const a(write("x/a", "1").c_str(), -1);
    EXPECT_EQ(a.renameTo("b"), 0);
    EXPECT_TRUE(File::exists(at("x/b").c_str()));
    EXPECT_EQ(str(a.Path()), at("x/a"));
    EXPECT_EQ(File(at("x/b").c_str(), -1).moveTo(at("c").c_str()), 0);
    EXPECT_TRUE(File::exists(at("c").c_str()));

    // Without a "/" the parent is the name itself: "a" is renamed to "a/b".
    std::string const before = str(File::getCurrentDirectory());
    ASSERT_EQ(File::changeDirectory(m_dir.c_str()), 0);
    EXPECT_EQ(str(File::getCurrentDirectory()), std::filesystem::current_path().string());
    write("a", "");
    EXPECT_EQ(File("a", 0).renameTo("b"), ENOTDIR);
    EXPECT_EQ(File::changeDirectory(before.c_str()), 0);
}

TEST(FSysFileTexts, ParentAndNameAreTextOnly) {
    // Path, parent, name.
    for (auto const& [path, parent, name] : {std::array<char const*, 3>{"/var/log/x/", "/var/log", "x"},
                                             {"/a", "", "a"},
                                             {"a", "a", "a"},
                                             {"/", "", ""}}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(str(File::getParentOf(path)), parent);
        EXPECT_EQ(str(File::getNameOf(path)), name);
        EXPECT_EQ(str(WFile::getParentOf(wide(path).c_str())), wide(parent));
        EXPECT_EQ(str(WFile::getNameOf(wide(path).c_str())), wide(name));
    }
    EXPECT_EQ(str(File("/var/log/x/", 0).Parent().Path()), "/var/log");
}

TEST_F(FSysFileTest, WidePathsKeepTheLowEightBitsAndRefuseAZeroByte) {
    std::wstring const dir = wide(m_dir);
    // U+0161 is 0x161: the system sees "a" (0x61).
    EXPECT_EQ(WFile::makeDirectory((dir + L"/\u0161").c_str()), 0);
    EXPECT_TRUE(File::isDirectory(at("a").c_str()));
    // U+0100 would narrow to a terminator and cut the path to the folder itself.
    std::wstring const cut = dir + L"/\u0100x";
    EXPECT_ROWS(int, {WFile::removeDirectory((dir + L"/a").c_str(), false), 0},
                {WFile::makeDirectory(cut.c_str()), -1}, {WFile::removeFile(cut.c_str()), EINVAL},
                {WFile::copyFile(cut.c_str(), (dir + L"/c").c_str()), WFile::ResultInvalidSource});
    EXPECT_FALSE(WFile::exists(cut.c_str()));
    write("\xE9", "");
    FList<FMStr<wchar_t>> names;
    EXPECT_EQ(WFile::readDirectory(dir.c_str(), names), 0);
    ASSERT_EQ(names.Count(), 1);
    EXPECT_EQ(str(names[0]), L"\u00E9"); // zero-extended, not sign-extended
}

TEST_F(FSysFileTest, TimesAreWholeSecondsCachedUntilCleared) {
    std::string const f = write("f", "");
    utimbuf times{1000000000, 1000000000};
    ASSERT_EQ(::utime(f.c_str(), &times), 0);
    File entry(f.c_str(), 0, 0, -1, FTime(), FTime(2000, 1, 1, 0, 0, 0, 0), FTime());
    EXPECT_EQ(text(entry.TimeModified().toCStringEx()), "2001-09-09T01:46:40.000");
    EXPECT_EQ(text(entry.TimeAccessed().toCString()), "2000-01-01T00:00:00");       // given, not read
    EXPECT_EQ(text(File(entry).TimeAccessed().toCString()), "2001-09-09T01:46:40"); // a copy reads it
    times.modtime = 1000000060;
    ASSERT_EQ(::utime(f.c_str(), &times), 0);
    EXPECT_EQ(text(entry.TimeModified().toCString()), "2001-09-09T01:46:40");
    EXPECT_EQ(entry.TimeModified(FTime()), 0);
    EXPECT_EQ(text(entry.TimeModified().toCString()), "2001-09-09T01:47:40");
}
