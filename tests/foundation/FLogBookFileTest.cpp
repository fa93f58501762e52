#include "FLogFile.h"
#include "FoundationTestSupport.h"

using namespace FSpace;
using namespace foundation_test;
namespace fs = std::filesystem;

namespace {

const std::string kPrefix = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} Thread\[[0-9a-f]+\]:)";

class FLogBookFileTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return m_folder / name; }

    TemporaryFolder m_folder;
    std::string const m_dir = m_folder.path();
};

} // namespace

TEST_F(FLogBookFileTest, ANewFileStartsWithTheFirstLineEveryRecordIsOneFlushedLineAndALastErrorTwo) {
    const std::string file = path("new log ünïcode.txt");
    FLogBookFile book(widened(file).c_str());
    book.add(FLogRecord().add("first"));
    // Flushed at once: the bytes are in the file while the book is still open.
    EXPECT_TRUE(std::regex_match(readFile(file), std::regex(kPrefix + "\tfirst\n")));
    book.add(FLogRecord());
    unsigned char bytes[] = {1, 2};
    book.writeStream(1, 2, TFBinary<unsigned char>(bytes, 2)); // dropped
    EXPECT_TRUE(text(book.streamFileName()) == file + ".bin" && !fs::exists(file + ".bin"));
    FGStr<wchar_t> transfer(L"kept");
    EXPECT_TRUE(!book.getSessionTransferLog(transfer) && text(transfer) == L"kept");
    // The empty record is a line of its own; a last error is two lines.
    book.setLastError(3, "open", "fopen", 2, nullptr);
    book.setLastError(4, "read", "fread", -1, "short read");
    EXPECT_EQ(book.getLastErrors().Count(), 2);
    std::string const content = readFile(file);
    EXPECT_TRUE(std::regex_match(
        content,
        std::regex(
            kPrefix + "\tfirst\n" + kPrefix + "\n" + kPrefix +
            "\tSetLastError\\(3\\): \\[open\\] has invoked \\[fopen\\] which returned: 2\n" + kPrefix +
            "\tSet LastError:\t4294967295\t3\topen\tfopen\t2\t\n" + kPrefix +
            "\tSetLastError\\(4\\): \\[read\\] has invoked \\[fread\\] which returned: -1 - short read\n" +
            kPrefix + "\tSet LastError:\t4294967295\t4\tread\tfread\t-1\tshort read\n")))
        << content;
}

TEST_F(FLogBookFileTest, AReopenedFileKeepsItsContentAfterASeparator) {
    const std::string file = path("again.txt");
    std::ofstream(file) << "old content";
    {
        FLogBookFile book(widened(file).c_str());
        book.add(FLogRecord().add("new"));
    }
    EXPECT_TRUE(std::regex_match(readFile(file), std::regex("old content\r\n\r\n" + kPrefix + "\tnew\n")))
        << readFile(file);
    // An empty existing file gets no separator.
    std::ofstream{path("empty.txt")};
    FLogBookFile(widened(path("empty.txt")).c_str()).add(FLogRecord().add("x"));
    EXPECT_TRUE(std::regex_match(readFile(path("empty.txt")), std::regex(kPrefix + "\tx\n")));
}

TEST_F(FLogBookFileTest, AFileThatCannotBeOpenedThrowsAndWritesNothing) {
    const std::string target = path("target.txt");
    std::ofstream(target) << "keep";
    ASSERT_EQ(symlink(target.c_str(), path("planted.txt").c_str()), 0);
    const std::string cases[] = {path("missing/folder/log.txt"), path("planted.txt"), m_dir};
    for (const std::string& file : cases) {
        try {
            FLogBookFile book(widened(file).c_str());
            ADD_FAILURE() << "opened " << file;
        } catch (FException const& e) {
            EXPECT_EQ(std::string(e.what()) + "|" + e.where(),
                      "Report file could not be opened|FLogBookFile()")
                << file;
        }
    }
    EXPECT_EQ(readFile(target), "keep") << "nothing was written through the link";
    EXPECT_FALSE(fs::exists(path("missing")));
}

TEST_F(FLogBookFileTest, AFullDiskLosesTheLinesButNeverThrows) {
    // /dev/full refuses every write with ENOSPC, as a full disk does.
    FLogBookFile book(L"/dev/full");
    for (int i = 0; i < 3; ++i)
        EXPECT_NO_THROW(book.add(FLogRecord().add("lost").add(i)));
    EXPECT_NO_THROW(book.setLastError(1, "a", "b", 28, "no space"));
    EXPECT_EQ(book.getLastErrors().Count(), 1);
}

TEST_F(FLogBookFileTest, TwoThreadsWritingAtOnceLeaveWholeLines) {
    const std::string file = path("threads.txt");
    {
        FLogBookFile book(widened(file).c_str());
        auto writer = [&book](char tag) {
            for (int i = 0; i < 1000; ++i)
                book.add(FLogRecord().add(std::string(300, tag).c_str()).add(i));
        };
        std::thread a(writer, 'a'), b(writer, 'b');
        a.join(), b.join();
    }
    std::ifstream in(file);
    const std::regex line(kPrefix + "\t(a{300}|b{300})\t\\d+");
    int lines = 0;
    for (std::string text; std::getline(in, text); ++lines)
        ASSERT_TRUE(std::regex_match(text, line)) << "line " << lines << ": " << text;
    EXPECT_EQ(lines, 2000);
}

TEST_F(FLogBookFileTest, TheDefaultFileIsATransferReportInTheHomeFolder) {
    {
        ScopedEnv const home("HOME", m_dir.c_str());
        FLogBookFile().add(FLogRecord().add("report"));
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_dir))
        names.push_back(entry.path().filename().string());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(std::regex_match(names[0], std::regex(R"(transfer\.\d{4}-\d\d-\d\dT\d\d-\d\d-\d\d_p)" +
                                                      std::to_string(getpid()) + R"(\.report\.txt)")))
        << names[0];
    EXPECT_TRUE(std::regex_match(readFile(path(names[0])), std::regex(kPrefix + "\treport\n")));
}
