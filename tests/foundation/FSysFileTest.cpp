// File-system entries. Every test works in a fresh temporary folder, which is
// also the working directory, so relative paths land there.
#include "FSysFile.h"

#include "FoundationTestSupport.h"

using namespace FSpace;
using namespace foundation_test;

namespace {

using File = TFSysFile<char>;
using WFile = TFSysFile<wchar_t>;

/// The texts of the list's elements (through \p project), in any order: listings come in the system's order.
template <typename L, typename P = std::identity>
std::multiset<std::string> texts(L const& list, P project = {}) {
    std::multiset<std::string> out;
    for (long i = 0; i < list.Count(); ++i)
        out.insert(text(std::invoke(project, list[i])));
    return out;
}

class FSysFileTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(File::changeDirectory(m_dir.c_str()), 0); }
    void TearDown() override { std::filesystem::current_path(m_before); }
    std::string at(std::string const& name) const { return m_dir + "/" + name; }
    static void put(char const* name, char const* bytes) { std::ofstream(name) << bytes; }

    std::string m_before = std::filesystem::current_path();
    foundation_test::TemporaryFolder m_folder;
    std::string m_dir = m_folder.path();
};

} // namespace

TEST_F(FSysFileTest, DirectoryOperationsReturnMinusOneAndTheOthersErrnoAndListNothingOnFailure) {
    ASSERT_EQ(File::makeDirectory("full"), 0);
    put("full/f", "x");
    FTime time;
    FList<FMStr<char>> names;
    FList<File> entries;
    EXPECT_ROWS(int, {File::makeDirectory("full"), -1}, {File::makeDirectory("a/b/c"), -1},
                {File::removeDirectory("full", true), -1}, {File::removeDirectory("full", false), -1},
                {File::removeDirectory("missing", false), -1}, {File::removeFile("missing"), ENOENT},
                {File::moveFile("missing", "b"), ENOENT}, {File::moveDirectory("full", "no/such"), ENOENT},
                {File::changeDirectory("full/f"), ENOTDIR}, {File::lastAccessTimeOf("missing", time), -1},
                {File::creationTimeOf("full", time), File::ResultNotSupported},
                {File::setCreationTimeOf("full", time), 0}, {File::readDirectory("missing", names), ENOENT},
                {File::readDirectory("full/f", entries), ENOTDIR},
                {File::readDirectory("", names), ENOENT}, // not the root directory
                {File::readDirectory(".", "*", entries), -1},
                {names.Count() + entries.Count() + File("missing", 1).SubDirectories().Count(), 0},
                {File::removeFile("full/f"), 0}, {File::removeDirectory("full", false), 0},
                {File::exists("full"), false});
    EXPECT_TRUE(time.isCleared());
    EXPECT_EQ(text(File::getCurrentDirectory()), std::filesystem::current_path().string());
}

TEST_F(FSysFileTest, MissingAndEmptyFilesTheirSizesAndTheDirectoryFlag) {
    EXPECT_EQ(File::sizeOf("missing"), ~0ULL);
    EXPECT_EQ(File("missing", -1).Size(), -1);
    put("grows", "");
    File grows("grows", 0);
    EXPECT_EQ(grows.Size(), 0);
    put("grows", "abc");
    EXPECT_EQ(grows.Size(), 3); // 0 was not cached
    put("grows", "abcdef");
    EXPECT_EQ(grows.Size(), 3); // 3 was
    // The member isFile() is the negated directory flag, not a test of the file.
    EXPECT_ROWS(bool, {File("missing", -1).isFile(), true}, {File::isFile("missing"), false},
                {File("missing", -1).exists(), false}, {File(".", -1).isDirectory(), true},
                {File(".", 0).isDirectory(), false}, {File("missing", 1).isFile(), false},
                {File::isFile("grows"), true}, {File::isFile("."), false});
}

TEST_F(FSysFileTest, ListingsOfNamesSkipDotsAndDsStoreListingsOfEntriesKeepThem) {
    put("a", "1"), put(".DS_Store", ""), put("b", "2");
    File::makeDirectory("sub");
    for (std::string const& dir : {m_dir, m_dir + "/"}) {
        FList<FMStr<char>> names;
        FList<File> entries;
        EXPECT_EQ(File::readDirectory(dir.c_str(), names) + File::readDirectory(dir.c_str(), entries), 0);
        EXPECT_EQ(texts(names), (std::multiset<std::string>{"a", "b", "sub"}));
        EXPECT_EQ(texts(entries, &File::Path), (std::multiset<std::string>{at("."), at(".."), at(".DS_Store"),
                                                                           at("a"), at("b"), at("sub")}));
    }
    File const folder(m_dir.c_str(), -1);
    EXPECT_EQ(texts(folder.FileNames()), (std::multiset<std::string>{".DS_Store", "a", "b"}));
    EXPECT_EQ(texts(folder.SubDirNames()), (std::multiset<std::string>{".", "..", "sub"}));
}

TEST_F(FSysFileTest, CopyLeavesNoDestinationBehindWhenItFails) {
    std::string const big(10000, 'x'); // more than two 4096-byte blocks
    put("big", big.c_str()), put("empty", ""), put("keep", "kept");
    File::makeDirectory("dir");
    using Outcome = std::pair<int, bool>; // the result, whether the destination is there afterwards
    auto const copy = [](char const* source, char const* destination) {
        int const result = File::copyFile(source, destination);
        return Outcome(result, File::exists(destination));
    };
    EXPECT_ROWS(Outcome, {copy("missing", "out1"), {File::ResultInvalidSource, false}},
                {copy("empty", "out2"), {0, true}}, {copy("big", "out3"), {0, true}},
                {copy("big", "dir"), {File::ResultInvalidDestination, true}},
                {copy("big", "none/out4"), {File::ResultInvalidDestination, false}},
                {copy("dir", "out5"), {File::ResultError, false}}, // opens, but reading gives EISDIR
                {copy("keep", "keep"), {File::ResultInvalidDestination, true}},
                // Small enough to sit in the stream's buffer: the failure shows only on
                // close, and a device is never removed.
                {copy("keep", "/dev/full"), {File::ResultError, true}});
    EXPECT_ROWS(unsigned long long, {File::sizeOf("out2"), 0}, {File::sizeOf("out3"), big.size()},
                {File::sizeOf("keep"), 4});
}

TEST_F(FSysFileTest, RenameGoesByTheTextualParentAndEntriesKeepTheirPath) {
    File::makeDirectory("x");
    put("x/a", "1");
    File const a(at("x/a").c_str(), -1);
    EXPECT_EQ(a.renameTo("b"), 0);
    EXPECT_EQ(text(a.Path()), at("x/a"));
    EXPECT_EQ(File("x/b", -1).moveTo("c"), 0);
    EXPECT_ROWS(bool, {File::exists("x/a"), false}, {File::exists("c"), true});
    // Without a "/" the parent is the name itself: "a" is renamed to "a/b".
    put("a", "");
    EXPECT_EQ(File("a", 0).renameTo("b"), ENOTDIR);
    // Parent and name are text only.
    EXPECT_ROWS(std::string, {text(File::getParentOf("/var/log/x/")), "/var/log"},
                {text(File::getNameOf("/var/log/x/")), "x"}, {text(File::getParentOf("/a")), ""},
                {text(File::getNameOf("/a")), "a"}, {text(File::getParentOf("a")), "a"},
                {text(File::getNameOf("a")), "a"}, {text(File::getParentOf("/")), ""},
                {text(File::getNameOf("/")), ""}, {text(File("/var/log/x/", 0).Parent().Path()), "/var/log"});
    EXPECT_EQ(text(WFile::getNameOf(L"/var/\u0161/")), L"\u0161");
}

TEST_F(FSysFileTest, WidePathsKeepTheLowEightBitsAndRefuseAZeroByte) {
    // U+0161 is 0x161: the system sees "a" (0x61). U+0100 would narrow to a
    // terminator and cut "x\u0100y" to "x".
    EXPECT_EQ(WFile::makeDirectory(L"\u0161"), 0);
    EXPECT_ROWS(int, {File::isDirectory("a"), true}, {WFile::removeDirectory(L"a", false), 0},
                {WFile::makeDirectory(L"x\u0100y"), -1}, {WFile::removeFile(L"x\u0100y"), EINVAL},
                {WFile::copyFile(L"x\u0100y", L"c"), WFile::ResultInvalidSource}, {File::exists("x"), false});
    put("\xE9", "");
    FList<FMStr<wchar_t>> names;
    EXPECT_EQ(WFile::readDirectory(L".", names), 0);
    ASSERT_EQ(names.Count(), 1);
    EXPECT_EQ(text(names[0]), L"\u00E9"); // zero-extended, not sign-extended
}
