// The file log book: one flushed line per record, the separator on a reopened
// file, the failure to open, the last error's two lines and concurrent writers.
#include "FLogFile.h"

#include "FoundationTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace FSpace;
namespace fs = std::filesystem;

namespace {

const std::string kPrefix = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} Thread\[[0-9a-f]+\]:)";

class FLogBookFileTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return m_folder / name; }
    static std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

    foundation_test::TemporaryFolder m_folder;
    std::string const m_dir = m_folder.path();
};

} // namespace

TEST_F(FLogBookFileTest, ANewFileStartsWithTheFirstLineAndEveryRecordIsOneFlushedLine) {
    const std::string file = path("new log ünïcode.txt");
    FLogBookFile book(wide(file).c_str());
    book.add(FLogRecord().add("first"));
    // Flushed at once: the bytes are in the file while the book is still open.
    EXPECT_TRUE(std::regex_match(foundation_test::readFile(file), std::regex(kPrefix + "\tfirst\n")));
    book.add(FLogRecord());
    book.add(FLogRecord().add(-7).add(true));
    unsigned char bytes[] = {1, 2};
    book.writeStream(1, 2, TFBinary<unsigned char>(bytes, 2)); // dropped
    EXPECT_TRUE(std::regex_match(foundation_test::readFile(file),
                                 std::regex(kPrefix + "\tfirst\n" + kPrefix + "\n" + kPrefix + "\t-7\t1\n")))
        << foundation_test::readFile(file);
    EXPECT_EQ(foundation_test::text(book.streamFileName()), file + ".bin");
    EXPECT_FALSE(fs::exists(file + ".bin"));
    FGStr<wchar_t> transfer(L"kept");
    EXPECT_FALSE(book.getSessionTransferLog(transfer));
    EXPECT_EQ(foundation_test::text(transfer), L"kept");
}

TEST_F(FLogBookFileTest, AReopenedFileKeepsItsContentAfterASeparator) {
    const std::string file = path("again.txt");
    std::ofstream(file) << "old content";
    {
        FLogBookFile book(wide(file).c_str());
        book.add(FLogRecord().add("new"));
    }
    const std::string content = foundation_test::readFile(file);
    EXPECT_TRUE(std::regex_match(content, std::regex("old content\r\n\r\n" + kPrefix + "\tnew\n")))
        << content;

    // An empty existing file gets no separator.
    const std::string empty = path("empty.txt");
    std::ofstream{empty};
    FLogBookFile(wide(empty).c_str()).add(FLogRecord().add("x"));
    EXPECT_TRUE(std::regex_match(foundation_test::readFile(empty), std::regex(kPrefix + "\tx\n")));
}

TEST_F(FLogBookFileTest, AFileThatCannotBeOpenedThrowsAndWritesNothing) {
    const std::string target = path("target.txt");
    std::ofstream(target) << "keep";
    ASSERT_EQ(symlink(target.c_str(), path("planted.txt").c_str()), 0);
    const std::string cases[] = {path("missing/folder/log.txt"), path("planted.txt"), m_dir};
    for (const std::string& file : cases) {
        try {
            FLogBookFile book(wide(file).c_str());
            ADD_FAILURE() << "opened " << file;
        } catch (FException const& e) {
            EXPECT_STREQ(e.what(), "Report file could not be opened") << file;
            EXPECT_STREQ(e.where(), "FLogBookFile()") << file;
        }
    }
    EXPECT_EQ(foundation_test::readFile(target), "keep") << "nothing was written through the link";
    EXPECT_FALSE(fs::exists(path("missing")));
}

TEST_F(FLogBookFileTest, AFullDiskLosesTheLinesButNeverThrows) {
    // /dev/full refuses every write with ENOSPC, as a full disk does.
    FLogBookFile book(L"/dev/full");
    for (int i = 0; i < 3; ++i) {
        EXPECT_NO_THROW(book.add(FLogRecord().add("lost").add(i)));
    }
    EXPECT_NO_THROW(book.setLastError(1, "a", "b", 28, "no space"));
    EXPECT_EQ(book.getLastErrors().Count(), 1);
}

TEST_F(FLogBookFileTest, ALastErrorIsTwoLines) {
    const std::string file = path("errors.txt");
    FLogBookFile book(wide(file).c_str());
    book.setLastError(3, "open", "fopen", 2, nullptr);
    book.setLastError(4, "read", "fread", -1, "short read");
    const std::string content = foundation_test::readFile(file);
    EXPECT_TRUE(std::regex_match(
        content,
        std::regex(
            kPrefix + "\tSetLastError\\(3\\): \\[open\\] has invoked \\[fopen\\] which returned: 2\n" +
            kPrefix + "\tSet LastError:\t4294967295\t3\topen\tfopen\t2\t\n" + kPrefix +
            "\tSetLastError\\(4\\): \\[read\\] has invoked \\[fread\\] which returned: -1 - short read\n" +
            kPrefix + "\tSet LastError:\t4294967295\t4\tread\tfread\t-1\tshort read\n")))
        << content;
    EXPECT_EQ(book.getLastErrors().Count(), 2);
}

TEST_F(FLogBookFileTest, TwoThreadsWritingAtOnceLeaveWholeLines) {
    const std::string file = path("threads.txt");
    {
        FLogBookFile book(wide(file).c_str());
        auto writer = [&book](char tag) {
            const std::string text(300, tag);
            for (int i = 0; i < 1000; ++i) {
                book.add(FLogRecord().add(text.c_str()).add(i));
            }
        };
        std::thread a(writer, 'a');
        std::thread b(writer, 'b');
        a.join();
        b.join();
    }
    std::ifstream in(file);
    const std::regex line(kPrefix + "\t(a{300}|b{300})\t\\d+");
    int lines = 0;
    for (std::string text; std::getline(in, text); ++lines) {
        ASSERT_TRUE(std::regex_match(text, line)) << "line " << lines << ": " << text;
    }
    EXPECT_EQ(lines, 2000);
}

TEST_F(FLogBookFileTest, TheDefaultFileIsATransferReportInTheHomeFolder) {
    const char* oldHome = std::getenv("HOME");
    const std::string saved = oldHome ? oldHome : "";
    setenv("HOME", m_dir.c_str(), 1);
    {
        FLogBookFile book;
        book.add(FLogRecord().add("report"));
    }
    oldHome ? setenv("HOME", saved.c_str(), 1) : unsetenv("HOME");

    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_dir)) {
        names.push_back(entry.path().filename().string());
    }
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(std::regex_match(names[0], std::regex(R"(transfer\.\d{4}-\d\d-\d\dT\d\d-\d\d-\d\d_p)" +
                                                      std::to_string(getpid()) + R"(\.report\.txt)")))
        << names[0];
    EXPECT_TRUE(
        std::regex_match(foundation_test::readFile(path(names[0])), std::regex(kPrefix + "\treport\n")));
}
