// Log records and their two line layouts, log books, loggables, hosters, the
// last-error list and the transfer log.
#include "FLog.h"
#include "FTransferLog.h"

#include "CNSLog.h"
#include "FoundationTestSupport.h"

using namespace FSpace;
using foundation_test::text;

namespace {

FLogLinePrefix const kExamplePrefix(FTime(2026, 12, 5, 14, 42, 8, 123), "Thread[1a03]");

std::string const kPrefix = "2026-12-05T14:42:08.123 Thread[1a03]";

std::string render(FLogRecord const& record, FLogLayout layout,
                   FLogLinePrefix const& prefix = kExamplePrefix) {
    FLogLine line;
    record.render(layout, prefix, line);
    return std::string(line.data(), static_cast<size_t>(line.Length()));
}

// What books leave behind when they go: how many went, and their lines.
struct Sink {
    std::mutex lock;
    int destroyed = 0;
    std::vector<std::string> lines;
};

// A book that keeps the text part of every report line (the prefix is fixed)
// and hands its lines to a sink when it goes.
class RecordingBook : public FLogBook {
public:
    explicit RecordingBook(Sink* sink = nullptr) : m_sink(sink) {}
    ~RecordingBook() override {
        if (m_sink) {
            std::lock_guard<std::mutex> const guard(m_sink->lock);
            ++m_sink->destroyed;
            m_sink->lines.insert(m_sink->lines.end(), m_lines.begin(), m_lines.end());
        }
    }

    using FLogBook::writeStream;
    void add(FLogRecord const& record) override {
        std::string const line = render(record, FLogLayout::Report).substr(kPrefix.size());
        FThreadLockGuard const guard(*this);
        m_lines.push_back(line);
    }
    void writeStream(unsigned char, int, void const*, long size) override { m_streamBytes += size; }
    bool getSessionTransferLog(FGStr<wchar_t>&) override { return false; }

    std::vector<std::string> lines() {
        FThreadLockGuard const guard(*this);
        return m_lines;
    }
    long streamBytes() const { return m_streamBytes; }

private:
    Sink* m_sink;
    std::vector<std::string> m_lines;
    long m_streamBytes = 0;
};

} // namespace

TEST(FLogRecord, RendersBothLayouts) {
    char const* nullText = nullptr;
    std::string const big(5000, 'x');
    struct Row {
        char const* what;
        FLogRecord record;
        std::string report; // after the prefix
        std::string console;
    } const rows[] = {
        {"empty record", FLogRecord(), ":\n", ": \n"},
        {"empty middle value", FLogRecord().add("a").add("").add("c"), ":\ta\t\tc\n", ": a\tc\t\n"},
        {"numbers and bool", FLogRecord().add(-7).add(true).add(4294967295u), ":\t-7\t1\t4294967295\n",
         ": -7\t1\t4294967295\t\n"},
        {"null texts", FLogRecord().add(nullText).add(FGStr<char>()), ":\t\t\n", ": \n"},
        {"wide, character and time values",
         FLogRecord().add(L"w\u00e9").add('x').add(FGStr<wchar_t>(L"gs")).add(FTime(2026, 1, 2, 3, 4, 5, 6)),
         ":\tw\xe9\tx\tgs\t2026-01-02T03:04:05\n", ": w\xe9\tx\tgs\t2026-01-02T03:04:05\t\n"},
        {"longer than the line's stack buffer", FLogRecord().add(big.c_str()).add(big.c_str()),
         ":\t" + big + "\t" + big + "\n", ": " + big + "\t" + big + "\t\n"},
    };
    for (Row const& row : rows) {
        EXPECT_EQ(render(row.record, FLogLayout::Report), kPrefix + row.report) << row.what;
        EXPECT_EQ(render(row.record, FLogLayout::Console), kPrefix + row.console) << row.what;
    }
}

TEST(FLogRecord, OperatorsAddValuesThatCopiesShareAndItemAtFollowsTheListRule) {
    FLogRecord copy;
    EXPECT_TRUE(copy.itemAt(0).isNull());
    copy.add("old");
    {
        FMStr<char> growable("grow");
        FLogRecord source;
        source << 1 << growable << FMStr<wchar_t>(L"wide") << static_cast<unsigned short>(9) << FGUID();
        growable.append("n", 1); // a growable string is copied, not referred to
        copy = source;
        EXPECT_EQ(copy.itemAt(1).get(), source.itemAt(1).get());
        EXPECT_EQ(source.itemAt(0).refCount(), 3); // source, copy and the temporary
    }
    ASSERT_EQ(copy.Count(), 5);
    EXPECT_TRUE(copy.itemAt(0).refCount() == 2 && copy.itemAt(1)->typeId() == FTypeString);
    EXPECT_ROWS(
        std::string, {text(*copy.itemAt(0)), "1"}, {text(*copy.itemAt(1)), "grow"},
        {text(*copy.itemAt(-2)), "9"}, {text(*copy.itemAt(-1)), "{00000000-0000-0000-0000-000000000000}"},
        {text(*copy.itemAt(-9)), "1"},
        {text(*copy.itemAt(static_cast<long>(copy.Count()))), "{00000000-0000-0000-0000-000000000000}"});
    EXPECT_EQ(render(FLogRecord(copy), FLogLayout::Report),
              kPrefix + ":\t1\tgrow\twide\t9\t{00000000-0000-0000-0000-000000000000}\n");
}

// The prefix's layout shows in every line of the log book file tests.
TEST(FLogLinePrefix, ThreadIdIsTheKernelOne) {
    std::ostringstream mark;
    mark << "Thread[" << std::hex << gettid() << "]";
    std::string other;
    std::thread([&] { other = text(FLoggable::getLogThreadId()); }).join();
    EXPECT_TRUE(text(FLoggable::getLogThreadId()) == mark.str() && other != mark.str()) << mark.str();
}

TEST(FLoggable, EchoesRecordsEvenWithoutABookWhileDebugMessagesAreOn) {
    auto const record = [] { FLoggable().addLogRecord(FLogRecord().add("first").add("").add(2)); };
    EXPECT_EQ(foundation_test::standardErrorOfChild(record), "");
    std::string const echoed = foundation_test::standardErrorOfChild(
        [&] { CNSInitLog(CNSLogFlagDebug, 0, "Echo", nullptr), record(); });
    EXPECT_TRUE(std::regex_match(
        echoed, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} Thread\[[0-9a-f]+\]: first\t2\t\n)")))
        << echoed;
}

TEST(FLoggable, ForwardsToItsBookUntilDetached) {
    FLoggable loggable;
    auto* book = new RecordingBook();
    loggable.attachLogBook(FLogBookRef(book));
    loggable.addLogRecord(FLogRecord().add("hello"));
    unsigned char bytes[3] = {1, 2, 3};
    loggable.writeStream(1, 2, TFBinary<unsigned char>(bytes, 3));
    EXPECT_TRUE(book->lines() == std::vector<std::string>{":\thello\n"} && book->streamBytes() == 3);
    // The four-argument form needs an operation number.
    loggable.setLastError("open", "fopen", 2, nullptr);
    EXPECT_FALSE(loggable.hasLastError(0, 0));
    loggable.setOperation(4);
    loggable.setLastError("open", "fopen", 2, nullptr);
    EXPECT_TRUE(loggable.hasLastError(4, pthread_self()));
    loggable.detachLogBook();
    EXPECT_TRUE(!loggable.hasLastError(0, 0) && loggable.getLastOpErrors(4).Count() == 0);
    loggable.writeStream(1, 2, bytes, 3);
    loggable.addLogRecord(FLogRecord().add("dropped"));
}

TEST(FLogBookHoster, HostsTheGivenBooksInOrderAndFansOut) {
    Sink sink;
    auto* first = new RecordingBook(&sink);
    auto* second = new RecordingBook(&sink);
    {
        struct Hoster : FLogBookHoster {
            using FLogBookHoster::FLogBookHoster;
            bool getSessionTransferLog(FGStr<wchar_t>&) override { return false; }
        } hoster(nullptr, first, nullptr, nullptr, second, nullptr, nullptr, nullptr);
        ASSERT_EQ(hoster.hostedBooks().Count(), 2);
        EXPECT_TRUE(hoster.hostedBooks()[0].get() == first && hoster.hostedBooks()[1].get() == second);
        hoster.add(FLogRecord().add("both"));
        hoster.setLastError(3, "open", "fopen", 2, "gone");
        hoster.clearLastError(3, 0);
        std::vector<std::string> const expected = {
            ":\tboth\n",
            ":\tSetLastError(3): [open] has invoked [fopen] which returned: 2\n",        // the hoster's own
            ":\tSetLastError(3): [open] has invoked [fopen] which returned: 2 - gone\n", // the book's own
            ":\tClearLastError(3)\n", // the hoster's, then the book's own
            ":\tClearLastError(3)\n",
        };
        EXPECT_EQ(first->lines(), expected);
        EXPECT_EQ(second->lines(), expected);
        EXPECT_TRUE(!hoster.hasLastError(0, 0) && !first->hasLastError(0, 0) && sink.destroyed == 0);
    }
    EXPECT_EQ(sink.destroyed, 2); // the hoster owned them
}

TEST(FLogLastError, ListSelectsNewestFirstAndClearsWhatMatches) {
    RecordingBook book;
    pthread_t const self = pthread_self();
    book.setLastError(7, "a", "b", 1, nullptr);
    book.setLastError(7, "c", "d", 2, nullptr);
    FLogLastErrorRef found;
    ASSERT_TRUE(book.getLastError(found, 7, 0));
    EXPECT_EQ(found->code(), 2);
    EXPECT_TRUE(!book.getLastError(found, 8, 0) && found->code() == 2); // untouched when nothing matches
    // An entry recorded on another thread is selected by thread only there.
    std::thread([&] { book.setLastError(7, "t", "u", 3, nullptr); }).join();
    ASSERT_TRUE(book.getLastError(found, 0, self));
    EXPECT_ROWS(long, {found->code(), 2}, {book.getLastThreadErrors(self).Count(), 2},
                {book.getLastOpErrors(7).Count(), 3}, {book.getLastOpErrors(0).Count(), 0},
                {(book.clearLastError(0, 0), book.getLastErrors().Count()), 0},
                {found->code(), 2}); // a fetched entry outlives its removal
    book.clearLastError(0, 0);       // nothing left: nothing logged
    book.setLastError(5, "x", "y", 10, "");
    book.setLastError(6, "x", "y", 11, nullptr);
    book.setLastError(5, nullptr, nullptr, 12, "last");
    book.clearLastError(5, 0);
    FLogLastErrorList const left = book.getLastErrors();
    ASSERT_EQ(left.Count(), 1);
    EXPECT_EQ(left[0]->op(), 6);
    book.clearLastError(9, 0); // no match: nothing logged
    EXPECT_EQ(book.lines(), (std::vector<std::string>{
                                ":\tSetLastError(7): [a] has invoked [b] which returned: 1\n",
                                ":\tSetLastError(7): [c] has invoked [d] which returned: 2\n",
                                ":\tSetLastError(7): [t] has invoked [u] which returned: 3\n",
                                ":\tClearLastError(0)\n",
                                ":\tSetLastError(5): [x] has invoked [y] which returned: 10 - \n",
                                ":\tSetLastError(6): [x] has invoked [y] which returned: 11\n",
                                ":\tSetLastError(5): [] has invoked [] which returned: 12 - last\n",
                                ":\tClearLastError(5)\n",
                            }));
}

TEST(FLogLastError, TextForms) {
    EXPECT_ROWS(std::string,
                {text(FLogLastError(3, "open", "fopen", 2, nullptr).toString()),
                 "Error #2 in [fopen < open]  Thread=1 Op=3"},
                {text(FLogLastError(0, "open", "fopen", -1, "no such file").toString()),
                 "Error #-1[no such file] in [fopen < open]  Thread=1"},
                {text(FLogLastError(1, L"w\u0141", nullptr, 0, L"").toString()),
                 "Error #0 in [ < wA]  Thread=1 Op=1"});
    RecordingBook book;
    FGStr<wchar_t> out;
    EXPECT_FALSE(book.getLastErrorString(out));
    book.setLastError(1, "a", "b", 1, nullptr);
    book.setLastError(2, "a", "b", 2, "second");
    EXPECT_TRUE(book.getLastErrorString(out));
    EXPECT_EQ(text(out), L"\r\nsecond\r\n");
}

// The transfer log is process-wide: one test walks through its whole life.
TEST(FTransferLog, RoutesToTheInstalledBookOnly) {
    EXPECT_FALSE(FTransferLog::log("before any book"));
    FTransferLog::useLogBook(FLogBookRef()); // nothing installed: no effect
    EXPECT_FALSE(FTransferLog::isOn());
    Sink sink;
    auto* first = new RecordingBook(&sink);
    FTransferLog::useLogBook(FLogBookRef(first));
    EXPECT_TRUE(FTransferLog::isOn() && FTransferLog::log("one") && FTransferLog::log(nullptr));
    EXPECT_EQ(first->lines(), (std::vector<std::string>{":\tone\n", ":\t\n"}));
    auto* second = new RecordingBook(&sink);
    FTransferLog::useLogBook(FLogBookRef(second));
    EXPECT_EQ(sink.destroyed, 1); // the first book had no other reference
    EXPECT_TRUE(FTransferLog::log("two"));
    EXPECT_EQ(second->lines(), std::vector<std::string>{":\ttwo\n"});
    FTransferLog::useLogBook(FLogBookRef());
    EXPECT_TRUE(sink.destroyed == 2 && !FTransferLog::log("after removal") && !FTransferLog::isOn());
}

// Two threads log through the transfer log into one book while the main thread
// replaces and removes books: every line arrives whole in exactly one book, and
// no book goes away while a line is being written to it. Meant for TSan too.
TEST(FTransferLog, ConcurrentLoggingSurvivesBookReplacement) {
    Sink sink;
    auto newBook = [&] { return FLogBookRef(new RecordingBook(&sink)); };
    FTransferLog::useLogBook(newBook());
    std::atomic<int> written{0};
    auto writer = [&](char tag) {
        for (int i = 0; i < 2000; ++i)
            written += FTransferLog::log(std::string(200, tag).c_str()) ? 1 : 0;
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    for (int i = 0; i < 50; ++i) {
        FTransferLog::useLogBook(i % 10 == 9 ? FLogBookRef() : newBook());
        std::this_thread::yield();
    }
    a.join();
    b.join();
    FTransferLog::useLogBook(FLogBookRef());
    std::lock_guard<std::mutex> const guard(sink.lock);
    EXPECT_EQ(static_cast<int>(sink.lines.size()), written.load());
    for (std::string const& line : sink.lines)
        ASSERT_TRUE(line == ":\t" + std::string(200, line[2]) + "\n" && (line[2] == 'a' || line[2] == 'b'))
            << line;
}
