// The stdio file stream, its asynchronous read and write, and the worker-thread
// objects beneath them. Every file lives in a fresh temporary folder.
#include "FLogFile.h"

#include "FoundationTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include <unistd.h>

using namespace FSpace;

namespace {

namespace fs = std::filesystem;
using Async = FStreamAsync<char, FStreamTransaction>;

class FileStreamTest : public testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/fstream.XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_dir = folder;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string path(std::string const& name) const { return m_dir + "/" + name; }
    static void put(std::string const& file, std::string const& text) {
        std::ofstream(file, std::ios::binary) << text;
    }
    static std::string content(std::string const& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::string m_dir;
};

// What completion delegates saw, and a gate that holds them inside the call
// while it is shut.
struct Calls {
    void waitFor(std::function<bool()> const& done) {
        std::unique_lock lock(mutex);
        changed.wait(lock, done);
    }
    void setOpen(bool value) {
        std::lock_guard lock(mutex);
        open = value;
        changed.notify_all();
    }
    // Runs \p record and counts the call, then waits for the gate.
    void enter(std::function<void()> const& record) {
        std::unique_lock lock(mutex);
        record();
        ++calls;
        thread = std::this_thread::get_id();
        changed.notify_all();
        changed.wait(lock, [this] { return open; });
    }
    // "status|count|got|bytes" of the last call.
    std::string report() const {
        return std::to_string(status) + "|" + std::to_string(count) + "|" + std::to_string(got) + "|" + bytes;
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool open = true;
    int calls = 0, deleted = 0, status = 0, stateSeen = -1;
    long count = 0, got = 0;
    std::string bytes;
    std::thread::id thread;
};

// A completion delegate of type \p Base reporting to a Calls.
template <class Base, class... A>
struct Probe : Base {
    explicit Probe(Calls& c, std::function<void(A...)> body = {}) : calls(c), run(std::move(body)) {}
    ~Probe() override {
        std::lock_guard lock(calls.mutex);
        ++calls.deleted;
        calls.changed.notify_all();
    }
    bool operator!() const override { return false; }
    void* Object() const override { return &calls; }
    void operator()(A... a) override {
        calls.enter([&] {
            if (run)
                run(a...);
        });
    }
    Base* clone() const override { return new Probe(calls, run); }
    bool operator==(Base const& other) const override { return &other == this; }
    bool operator==(void const* object) const override { return object == &calls; }
    Calls& calls;
    std::function<void(A...)> run;
};

using ReadBase = Probe<Async::ReadDone, Async*, int, long, char const*, long>;
using WriteBase = Probe<Async::WriteDone, Async*, int, Async::Bytes, long>;

struct ReadProbe : ReadBase {
    explicit ReadProbe(Calls& c)
        : ReadBase(c, [&c](Async*, int status, long count, char const* buffer, long got) {
              c.status = status, c.count = count, c.got = got;
              c.bytes.assign(buffer != nullptr ? buffer : "", static_cast<std::size_t>(got));
          }) {}
};

struct WriteProbe : WriteBase {
    explicit WriteProbe(Calls& c)
        : WriteBase(c, [&c](Async*, int status, Async::Bytes data, long total) {
              c.status = status, c.got = total;
              c.bytes = data ? std::string(data->data(), static_cast<std::size_t>(data->Count())) : "";
          }) {}
    void operator()(Async* stream, int status, Async::Bytes data, long total) override {
        WriteBase::operator()(stream, status, data, total);
        // Non-virtual: reads only the flags of a stream that may be in its destructor.
        int const state = static_cast<FFileStream*>(stream)->FFileStream::State();
        std::lock_guard lock(calls.mutex);
        calls.stateSeen = state;
    }
};

Async::Bytes bytesOf(std::string const& text) {
    Async::Bytes data(new FArray<char, FAllocation<char>>());
    for (char c : text)
        data->add(c);
    return data;
}

TEST_F(FileStreamTest, OpenModesGiveTheirStateAndOnlyWritingModesCreate) {
    // mode, file there before, result, State(), file there after
    std::tuple<int, bool, int, int, bool> const rows[] = {
        {2, false, ENOENT, 0, false}, {6, false, ENOENT, 0, false}, {4, false, 0, 4, true},
        {8, false, 0, 6, true},       {2, true, 0, 2, true},        {4, true, 0, 4, true},
        {6, true, 0, 6, true},        {8, true, 0, 6, true},        {0, true, EINVAL, 0, true},
        {1, false, EINVAL, 0, false}, {3, false, EINVAL, 0, false}, {7, false, EINVAL, 0, false},
        {9, false, EINVAL, 0, false}, {-2, false, EINVAL, 0, false}};
    put(path("other"), "x");
    int row = 0;
    for (auto [mode, before, result, state, after] : rows) {
        std::string const file = path(std::to_string(row++));
        if (before)
            put(file, "x");
        FFileStream stream;
        ASSERT_EQ(stream.open(path("other").c_str(), 6), 0); // replaced by every later open
        EXPECT_EQ(stream.open(file.c_str(), mode), result) << "mode " << mode;
        EXPECT_EQ(stream.State(), state) << "mode " << mode;
        EXPECT_EQ(fs::exists(file), after) << "mode " << mode;
    }
}

TEST_F(FileStreamTest, WidePathsAreNarrowedAndNeverCutShort) {
    FFileStream stream;
    EXPECT_EQ(stream.open(static_cast<char const*>(nullptr), 4), EINVAL);
    EXPECT_EQ(stream.open(static_cast<wchar_t const*>(nullptr), 4), EINVAL);
    std::string const narrow = path("wide");
    std::wstring const wide(narrow.begin(), narrow.end());
    ASSERT_EQ(stream.open(wide.c_str(), 4), 0);
    EXPECT_EQ(stream.write("w", -1), 1);
    // U+0100 narrows to a zero byte, which would cut the path to ".../wide".
    EXPECT_EQ(stream.open((wide + L"\x100x").c_str(), 4), EINVAL);
    EXPECT_EQ(stream.State(), 0);
    EXPECT_EQ(content(narrow), "w");
}

TEST_F(FileStreamTest, WritesLandWhereTheModePutsThem) {
    for (auto [mode, before, after] :
         {std::tuple{4, "old", "new"}, {6, "oldest", "newest"}, {8, "old", "oldnew"}}) {
        put(path("f"), before);
        FFileStream stream;
        ASSERT_EQ(stream.open(path("f").c_str(), mode), 0);
        EXPECT_EQ(stream.moveBegin(), 0);
        EXPECT_EQ(stream.write("new", -1), 3);
        stream.close();
        EXPECT_EQ(content(path("f")), after) << "mode " << mode;
    }
}

TEST_F(FileStreamTest, LinkAtTheLastComponentIsRefusedWhereFilesAreCreated) {
    int row = 0;
    for (auto [mode, targetThere] : {std::pair{4, true}, {4, false}, {8, true}, {8, false}}) {
        std::string const target = path("target" + std::to_string(row)),
                          link = path("link" + std::to_string(row++));
        if (targetThere)
            put(target, "keep");
        ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
        FFileStream stream;
        EXPECT_EQ(stream.open(link.c_str(), mode), ELOOP) << "mode " << mode;
        EXPECT_EQ(stream.State(), 0);
        EXPECT_EQ(stream.write("planted", -1), -1);
        EXPECT_EQ(content(target), targetThere ? "keep" : "");
        EXPECT_EQ(fs::exists(target), targetThere);
    }
    FFileStream reader; // reading follows links as fopen does
    EXPECT_EQ(reader.open(path("link0").c_str(), 2), 0);
}

TEST_F(FileStreamTest, WriteCountsAndEmptyData) {
    // data, count, status, written
    std::tuple<char const*, long, int, long> const rows[] = {
        {"abc", -1, 0, 3},  {"xyz", 0, 0, 0},        {"", -1, 0, 0},    {nullptr, -1, 0, 0},
        {nullptr, 0, 0, 0}, {nullptr, 4, EINVAL, 0}, {"defgh", 2, 0, 2}};
    FFileStream stream;
    ASSERT_EQ(stream.open(path("out").c_str(), 4), 0);
    for (auto [data, count, status, expected] : rows) {
        long written = -7;
        EXPECT_EQ(stream.write(data, count, written), status) << count;
        EXPECT_EQ(written, expected) << count;
    }
    EXPECT_EQ(stream.write("ij", -1), 2);
    EXPECT_EQ(stream.write(nullptr, 3), -1);
    stream.close();
    EXPECT_EQ(content(path("out")), "abcdeij");
}

TEST_F(FileStreamTest, ReadingAndPositioning) {
    put(path("in"), "hello world");
    FFileStream stream;
    ASSERT_EQ(stream.open(path("in").c_str(), 2), 0);
    char buffer[16] = {};
    long got = -1;
    // Rows run in order: each is {what the step gives, what it must give}.
    EXPECT_ROWS(long long, {stream.BOS(), true}, {stream.read(buffer, 1), 1}, {buffer[0], 'h'},
                {stream.BOS(), false}, {stream.moveTo(3), 0}, {stream.Size(), 11}, {stream.Position(), 3},
                {stream.read(buffer, 2), 2}, {buffer[1], 'o'}, {stream.move(-1), 0}, {stream.Position(), 4},
                {stream.moveEnd(), 0}, {stream.Position(), 11}, {stream.EOS(), false},
                {stream.read(buffer, 5, got), 0}, {got, 0}, {stream.EOS(), true}, {stream.moveBegin(), 0},
                {stream.BOS(), true}, {stream.read(buffer, -1, got), EINVAL},
                {stream.read(nullptr, 3, got), EINVAL});
}

TEST_F(FileStreamTest, EveryOperationOnAClosedStreamAnswersClosed) {
    FFileStream never, closed;
    ASSERT_EQ(closed.open(path("f").c_str(), 8), 0);
    EXPECT_EQ(closed.close(), 0);
    for (FFileStream* s : {&never, &closed}) {
        char buffer[4];
        long got = 5, written = 5;
        EXPECT_ROWS(long long, {s->read(buffer, 4, got), -1}, {got, 0}, {s->write("abc", 3, written), -1},
                    {written, 0}, {s->Size(), -1}, {s->Position(), -1}, {s->moveBegin(), -1},
                    {s->moveEnd(), -1}, {s->moveTo(0), -1}, {s->move(1), -1}, {s->flush(), -1},
                    {s->read(buffer, 4), -1}, {s->write("abc", -1), -1}, {s->EOS(), true}, {s->BOS(), false},
                    {s->State(), 0}, {s->close(), 0});
    }
}

TEST_F(FileStreamTest, CloneSharesTheFileAndItsPosition) {
    FFileStream writer;
    ASSERT_EQ(writer.open(path("w").c_str(), 4), 0);
    EXPECT_EQ(writer.write("ab", -1), 2); // still buffered when cloned
    std::unique_ptr<FFileStream::Stream> copy(writer.clone());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->write("cd", -1), 2);
    copy.reset();
    EXPECT_EQ(writer.Position(), 4);
    EXPECT_EQ(writer.write("ef", -1), 2);
    writer.close();
    EXPECT_EQ(content(path("w")), "abcdef");

    // mode (0: never opened), clone's State(), source's read of 2, clone's position after it
    for (auto [mode, state, read, position] :
         {std::tuple{0, 0, -1, -1}, {2, 2, 2, 2}, {4, 4, -1, 0}, {6, 6, 2, 2}, {8, 6, 2, 2}}) {
        put(path("c"), "abcdef");
        FFileStream source;
        ASSERT_EQ(mode == 0 ? 0 : source.open(path("c").c_str(), mode), 0);
        char buffer[2] = {};
        EXPECT_EQ(source.read(buffer, 2), read);
        std::unique_ptr<FFileStream::Stream> clone(source.clone());
        ASSERT_NE(clone, nullptr);
        EXPECT_EQ(clone->State(), state) << "mode " << mode;
        EXPECT_EQ(clone->Position(), position) << "mode " << mode;
    }
}

TEST_F(FileStreamTest, ReadAsyncReportsOnTheReadWorker) {
    put(path("in"), "abcdef");
    // stream open, count, report
    for (auto [open, count, report] : {std::tuple{true, 4L, "0|4|4|abcd"},
                                       {true, 10L, "0|10|6|abcdef"},
                                       {true, 0L, "0|0|0|"},
                                       {true, -1L, "22|-1|0|"},
                                       {false, 4L, "-1|4|0|"}}) {
        Calls calls;
        {
            FFileStream stream;
            ASSERT_EQ(open ? stream.open(path("in").c_str(), 2) : 0, 0);
            ASSERT_TRUE(stream.readAsync(new ReadProbe(calls), count));
            calls.waitFor([&] { return calls.calls == 1; });
        } // the destructor waits for the worker
        EXPECT_EQ(calls.report(), report);
        EXPECT_NE(calls.thread, std::this_thread::get_id());
        EXPECT_EQ(calls.deleted, 1) << "the stream owns the delegate it called";
    }
}

TEST_F(FileStreamTest, WriteAsyncWritesEverythingAndKeepsTheDataAlive) {
    // mode, data (null: no array), report (status 1: stdio's error flag), file afterwards
    for (auto [mode, text, report, file] : {std::tuple{4, "hello", "0|0|5|hello", "hello"},
                                            {4, "", "0|0|0|", ""},
                                            {4, nullptr, "0|0|0|", ""},
                                            {2, "hello", "1|0|0|hello", "seed"}}) {
        put(path("out"), "seed");
        Calls calls;
        {
            FFileStream stream;
            ASSERT_EQ(stream.open(path("out").c_str(), mode), 0);
            Async::Bytes data = text == nullptr ? Async::Bytes() : bytesOf(text);
            ASSERT_TRUE(stream.writeAsync(new WriteProbe(calls), data));
            data.release(); // the job holds its own reference
            calls.waitFor([&] { return calls.calls == 1; });
        } // the destructor waits for the worker
        EXPECT_EQ(calls.report(), report) << mode;
        EXPECT_EQ(calls.deleted, 1) << "the stream owns the delegate it called";
        EXPECT_NE(calls.thread, std::this_thread::get_id());
        EXPECT_EQ(content(path("out")), file);
    }
}

TEST_F(FileStreamTest, AsyncCallsRefuseWhileTheirWorkerRunsAndPlainOnesStartNothing) {
    put(path("in"), "abcdef");
    Calls running, refused, never;
    running.open = false;
    auto reader = std::make_unique<FFileStream>(), writer = std::make_unique<FFileStream>();
    ASSERT_EQ(reader->open(path("in").c_str(), 2), 0);
    ASSERT_EQ(writer->open(path("out").c_str(), 4), 0);
    ASSERT_TRUE(reader->readAsync(new ReadProbe(running), 2));
    ASSERT_TRUE(writer->writeAsync(new WriteProbe(running), bytesOf("x")));
    running.waitFor([&] { return running.calls == 2; });
    ReadProbe refusedRead(refused);
    WriteProbe refusedWrite(refused);
    EXPECT_FALSE(reader->readAsync(&refusedRead, 2));
    EXPECT_FALSE(writer->writeAsync(&refusedWrite, bytesOf("y")));

    Probe<Async::LongLongDone, Async*, long long> longLong(never);
    Probe<Async::BoolDone, Async*, bool> boolean(never);
    Probe<Async::IntDone, Async*, int> integer(never);
    Probe<Async::MoveDone, Async*, int, long long> moved(never);
    FFileStream& r = *reader;
    for (bool started :
         {r.SizeAsync(&longLong), r.BOSAsync(&boolean), r.EOSAsync(&boolean), r.PositionAsync(&longLong),
          r.moveBeginAsync(&integer), r.moveEndAsync(&integer), r.moveToAsync(&moved, 1),
          r.moveAsync(&moved, 1), r.StateAsync(&integer), r.closeAsync(&integer)}) {
        EXPECT_FALSE(started);
    }
    EXPECT_EQ(r.State(), 2) << "closeAsync closed nothing";
    running.setOpen(true);
    reader.reset(); // each waits for its worker
    writer.reset();
    EXPECT_EQ(running.deleted, 2);
    EXPECT_EQ(refused.calls + refused.deleted + never.calls + never.deleted, 0);
}

// Opens the gate of the running write from its own destructor, which runs
// before the file stream's.
struct GateOnDestruction : FFileStream {
    explicit GateOnDestruction(Calls& c) : calls(c) {}
    ~GateOnDestruction() override { calls.setOpen(true); }
    Calls& calls;
};

TEST_F(FileStreamTest, DestroyingTheStreamWaitsForARunningWriteBeforeClosing) {
    Calls calls;
    calls.open = false;
    auto* stream = new GateOnDestruction(calls);
    ASSERT_EQ(stream->open(path("out").c_str(), 4), 0);
    ASSERT_TRUE(stream->writeAsync(new WriteProbe(calls), bytesOf("payload")));
    calls.waitFor([&] { return calls.calls == 1; });
    delete stream;
    EXPECT_EQ(calls.stateSeen, 4) << "the file was still open when the write reported";
    EXPECT_EQ(calls.deleted, 1);
    EXPECT_EQ(content(path("out")), "payload");
}

// A job running a function, counting its deletions.
struct Job : FInvokable<void> {
    Job(std::function<void()> body, std::atomic<int>& deletions) : run(std::move(body)), deleted(deletions) {}
    ~Job() override { ++deleted; }
    void invoke() override { run(); }
    std::function<void()> run;
    std::atomic<int>& deleted;
};

TEST(FThreadTest, RunsHooksAndJobInOrderOnItsOwnThread) {
    std::string order; // appended on the worker only, read after the join
    std::atomic<int> deleted{0};
    pthread_t jobThread{};
    FThread_T<pthread_t> worker;
    EXPECT_FALSE(worker.execute(nullptr));
    worker.setHooks(FThread_T<pthread_t>::Hook(new Job([&] { order += "before,"; }, deleted)),
                    FThread_T<pthread_t>::Hook(new Job([&] { order += "after"; }, deleted)));
    ASSERT_TRUE(worker.execute(new Job([&] { order += "job,", jobThread = pthread_self(); }, deleted)));
    EXPECT_EQ(worker.join(), 0);
    EXPECT_EQ(order, "before,job,after");
    EXPECT_EQ(deleted, 1) << "the job is deleted, the hooks stay";
    EXPECT_FALSE(pthread_equal(jobThread, pthread_self()));
    EXPECT_TRUE(pthread_equal(jobThread, worker.lastThread()));
    EXPECT_FALSE(worker.isRunning());
}

TEST(FThreadTest, RunningFromTheStartUntilTheJobHasFinished) {
    Calls gate;
    gate.open = false;
    std::atomic<int> deleted{0}, ran{0};
    int fromInside = -1;
    FThread_T<pthread_t> worker;
    ASSERT_TRUE(worker.execute(new Job([&] { gate.enter([&] { fromInside = worker.join(); }); }, deleted)));
    gate.waitFor([&] { return gate.calls == 1; });
    EXPECT_EQ(fromInside, EDEADLK) << "a job cannot wait for itself";
    EXPECT_TRUE(worker.isRunning());
    EXPECT_FALSE(worker.executeWhenIdle(new Job([&] { ++ran; }, deleted)));
    EXPECT_EQ(deleted, 1) << "a refused job is deleted unrun";
    gate.setOpen(true);
    // Cleared by the thread itself, without a join; the deadline only keeps a
    // broken build from hanging.
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (worker.isRunning() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    EXPECT_FALSE(worker.isRunning());
    ASSERT_TRUE(worker.executeWhenIdle(new Job([&] { ++ran; }, deleted)));
    EXPECT_EQ(worker.join(), 0);
    EXPECT_EQ(ran, 1);
}

TEST(FThreadTest, DetachedThreadFinishesWithoutItsObject) {
    auto gate = std::make_shared<Calls>(); // kept alive by the job
    gate->open = false;
    static std::atomic<int> deleted{0};
    auto worker = std::make_unique<FThread_T<pthread_t>>();
    ASSERT_TRUE(worker->execute(new Job([gate] { gate->enter([] {}); }, deleted)));
    gate->waitFor([&] { return gate->calls == 1; });
    worker.reset(); // the thread must not touch the object from now on
    gate->setOpen(true);
}

// Makes every new thread ask for an impossible stack, so creation fails.
struct NoThreads {
    NoThreads() {
        pthread_getattr_default_np(&saved);
        pthread_getattr_default_np(&huge);
        pthread_attr_setstacksize(&huge, std::size_t(1) << 62);
        pthread_setattr_default_np(&huge);
    }
    ~NoThreads() {
        pthread_setattr_default_np(&saved);
        pthread_attr_destroy(&saved);
        pthread_attr_destroy(&huge);
    }
    pthread_attr_t saved, huge;
};

TEST_F(FileStreamTest, JobWithoutAThreadIsDeletedUnrunAndReportedAsNotStarted) {
    Calls calls;
    FFileStream stream;
    ASSERT_EQ(stream.open(path("out").c_str(), 4), 0);
    ReadProbe read(calls);
    WriteProbe write(calls);
    std::atomic<int> deleted{0}, ran{0};
    FThread_T<pthread_t> worker;
    {
        NoThreads noThreads;
        EXPECT_FALSE(worker.execute(new Job([&] { ++ran; }, deleted)));
        EXPECT_FALSE(stream.readAsync(&read, 1));
        EXPECT_FALSE(stream.writeAsync(&write, bytesOf("x")));
    }
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(ran, 0);
    EXPECT_FALSE(worker.isRunning());
    EXPECT_EQ(calls.calls + calls.deleted, 0) << "the delegates stay the caller's";
    EXPECT_TRUE(stream.writeAsync(new WriteProbe(calls), bytesOf("x"))) << "threads work again";
}

} // namespace
