// The stdio file stream, its asynchronous read and write, and the worker-thread
// objects beneath them. Every file lives in a fresh temporary folder.
#include "FLogFile.h"

#include "FoundationTestSupport.h"

#include <chrono>

using namespace FSpace;

namespace {

using Async = FStreamAsync<char, FStreamTransaction>;

class FileStreamTest : public testing::Test {
protected:
    std::string path(std::string const& name) const { return m_folder / name; }
    static void put(std::string const& file, char const* text) { std::ofstream(file) << text; }
    /// The file's bytes; "-" when there is no file.
    static std::string content(std::string const& file) {
        return std::filesystem::exists(file) ? foundation_test::readFile(file) : "-";
    }

    foundation_test::TemporaryFolder m_folder;
};

/// "a|b|...|" of numbers.
template <class... N>
std::string joined(N... numbers) {
    return ((std::to_string(numbers) + "|") + ...);
}

// What completion delegates and jobs saw, and a gate that holds them inside the call while it is shut.
struct Calls {
    void waitFor(int count) {
        for (int seen = calls; seen < count; seen = calls)
            calls.wait(seen);
    }
    void setOpen() { open = true, open.notify_all(); }
    // Counts the call, waits for the gate, then records \p args.
    template <class... A>
    void enter(A... args) {
        ++calls, calls.notify_all(), open.wait(false);
        std::lock_guard lock(mutex);
        thread = std::this_thread::get_id(), record(args...);
    }
    void record(Async*, int status, long count, char const* buffer, long got) {
        report = joined(status, count, got) + std::string(buffer != nullptr ? buffer : "", std::size_t(got));
    }
    void record(Async* stream, int status, Async::Bytes data, long total) {
        report = joined(status, total) + (data ? std::string(data->data(), std::size_t(data->Count())) : "");
        // Non-virtual: reads only the flags of a stream that may be in its destructor.
        stateSeen = static_cast<FFileStream*>(stream)->FFileStream::State();
    }
    template <class... A>
    void record(A...) {}

    std::atomic<int> calls{0}, deleted{0};
    std::atomic<bool> open{true};
    std::mutex mutex; // guards the fields below
    int stateSeen = -1;
    std::string report; // of the last read or write
    std::thread::id thread;
};

// A completion delegate of type \p Base reporting to a Calls.
template <class Base, class... A>
struct Probe : Base {
    explicit Probe(Calls& c) : calls(c) {}
    ~Probe() override { ++calls.deleted; }
    bool operator!() const override { return false; }
    void* Object() const override { return &calls; }
    void operator()(A... a) override { calls.enter(a...); }
    Base* clone() const override { return new Probe(calls); }
    bool operator==(Base const& other) const override { return &other == this; }
    bool operator==(void const* object) const override { return object == &calls; }
    Calls& calls;
};
using ReadProbe = Probe<Async::ReadDone, Async*, int, long, char const*, long>;
using WriteProbe = Probe<Async::WriteDone, Async*, int, Async::Bytes, long>;

Async::Bytes bytesOf(char const* text) {
    Async::Bytes data(new FArray<char, FAllocation<char>>());
    while (*text != 0)
        data->add(*text++);
    return data;
}

TEST_F(FileStreamTest, OpenModesGiveTheirStateToTheStreamAndItsCloneAndPutWritesWhereTheModeSays) {
    // mode, file before ("-": none), open's result, State(), file after writing "new" at the start
    std::tuple<int, char const*, int, int, char const*> const rows[] = {
        {2, "-", ENOENT, 0, "-"},      {6, "-", ENOENT, 0, "-"},   {4, "-", 0, 4, "new"},
        {8, "-", 0, 6, "new"},         {2, "old", 0, 2, "old"},    {4, "oldest", 0, 4, "new"},
        {6, "oldest", 0, 6, "newest"}, {8, "old", 0, 6, "oldnew"}, {0, "old", EINVAL, 0, "old"},
        {1, "-", EINVAL, 0, "-"},      {3, "-", EINVAL, 0, "-"},   {7, "-", EINVAL, 0, "-"},
        {9, "-", EINVAL, 0, "-"},      {-2, "-", EINVAL, 0, "-"}};
    for (auto [mode, before, result, state, after] : rows) {
        std::string const file = path(std::to_string(mode) + before);
        if (*before != '-')
            put(file, before);
        FFileStream stream;
        ASSERT_EQ(stream.open(path("other").c_str(), 4), 0); // replaced by every later open
        EXPECT_EQ(stream.open(file.c_str(), mode), result) << "mode " << mode;
        EXPECT_EQ(stream.State(), state) << "mode " << mode;
        char first;
        stream.read(&first, 1); // a reading clone goes on from what was consumed
        std::unique_ptr<FFileStream::Stream> const clone(stream.clone()); // closed for a closed stream
        EXPECT_EQ(clone ? joined(clone->State(), clone->Position()) : "none",
                  joined(state, stream.Position()))
            << "mode " << mode;
        stream.moveBegin();
        EXPECT_EQ(stream.write("new", -1), state & 4 ? 3 : -1) << "mode " << mode;
        stream.close();
        EXPECT_EQ(content(file), after) << "mode " << mode;
    }
}

TEST_F(FileStreamTest, PathsThatWouldMisdirectTheFileAreRefused) {
    for (auto [mode, target] : {std::pair{4, "keep"}, {4, "-"}, {8, "keep"}, {8, "-"}}) {
        std::string const to = path("to" + std::to_string(mode) + target), link = to + ".link";
        if (*target != '-')
            put(to, target);
        ASSERT_EQ(symlink(to.c_str(), link.c_str()), 0);
        FFileStream stream;
        EXPECT_EQ(stream.open(link.c_str(), mode), ELOOP) << "mode " << mode;
        EXPECT_TRUE(stream.write("planted", -1) == -1 && content(to) == target) << "mode " << mode;
    }
    FFileStream stream; // reading follows links as fopen does
    EXPECT_EQ(stream.open(path("to4keep.link").c_str(), 2), 0);

    std::wstring const dir = foundation_test::widened(m_folder.path());
    EXPECT_EQ(stream.open(static_cast<wchar_t const*>(nullptr), 4), EINVAL);
    ASSERT_EQ(stream.open((dir + L"/\u0161").c_str(), 4), 0); // the system sees "a" (0x61)
    EXPECT_EQ(stream.write("w", -1), 1);
    // U+0100 narrows to a zero byte, which would cut the path to ".../a" and empty it.
    EXPECT_EQ(stream.open((dir + L"/a\u0100x").c_str(), 4), EINVAL);
    EXPECT_TRUE(stream.State() == 0 && content(path("a")) == "w");
}

TEST_F(FileStreamTest, WriteCountsReadingAndPositioning) {
    FFileStream stream;
    ASSERT_EQ(stream.open(path("f").c_str(), 8), 0);
    char buffer[16] = {};
    long got = -1;
    auto const write = [&](char const* data, long count, long written = -7) { // "status|written|"
        int const status = stream.write(data, count, written);
        return joined(status, written);
    };
    EXPECT_ROWS(std::string, {write("abc", -1), "0|3|"}, {write("xyz", 0), "0|0|"}, {write("", -1), "0|0|"},
                {write(nullptr, -1), "0|0|"}, {write(nullptr, 0), "0|0|"}, {write(nullptr, 4), "22|0|"},
                {write("defgh", 2), "0|2|"}, {joined(stream.write(nullptr, 3)), "-1|"});
    // Rows run in order over "abcde": each is {what the step gives, what it must give}.
    EXPECT_ROWS(long long, {stream.BOS(), false}, {stream.moveBegin(), 0}, {stream.BOS(), true},
                {stream.read(buffer, 1), 1}, {buffer[0], 'a'}, {stream.BOS(), false}, {stream.moveTo(3), 0},
                {stream.Size(), 5}, {stream.Position(), 3}, {stream.read(buffer, 2), 2}, {buffer[1], 'e'},
                {stream.move(-1), 0}, {stream.Position(), 4}, {stream.moveEnd(), 0}, {stream.Position(), 5},
                {stream.EOS(), false}, {stream.read(buffer, 5, got), 0}, {got, 0}, {stream.EOS(), true},
                {stream.read(buffer, -1, got), EINVAL}, {stream.read(nullptr, 3, got), EINVAL});
}

TEST_F(FileStreamTest, CloneWritesThroughTheSameFileAndEveryOperationAfterCloseAnswersClosed) {
    FFileStream writer, never;
    ASSERT_EQ(writer.open(path("w").c_str(), 4), 0);
    EXPECT_EQ(writer.write("ab", -1), 2); // still buffered when cloned
    std::unique_ptr<FFileStream::Stream> copy(writer.clone());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->write("cd", -1), 2);
    copy.reset();
    EXPECT_ROWS(long, {writer.Position(), 4}, {writer.write("ef", -1), 2}, {writer.close(), 0});
    EXPECT_EQ(content(path("w")), "abcdef");
    for (FFileStream* s : {&never, &writer}) {
        char buffer[4];
        long got = 5, written = 5;
        EXPECT_ROWS(long long, {s->read(buffer, 4, got), -1}, {got, 0}, {s->write("abc", 3, written), -1},
                    {written, 0}, {s->Size(), -1}, {s->Position(), -1}, {s->moveBegin(), -1},
                    {s->moveEnd(), -1}, {s->moveTo(0), -1}, {s->move(1), -1}, {s->flush(), -1},
                    {s->read(buffer, 4), -1}, {s->write("abc", -1), -1}, {s->EOS(), true}, {s->BOS(), false},
                    {s->State(), 0}, {s->close(), 0});
    }
}

TEST_F(FileStreamTest, ReadAsyncAndWriteAsyncReportFromTheirWorker) {
    // Runs \p start on a stream over a file holding \p before, opened with \p mode (0: left closed),
    // and gives the report and the file once the stream, which waits for its worker, is gone.
    auto const run = [&](char const* before, int mode, auto start) {
        put(path("f"), before);
        Calls calls;
        {
            FFileStream stream;
            EXPECT_EQ(mode == 0 ? 0 : stream.open(path("f").c_str(), mode), 0);
            if (!start(stream, calls))
                return std::string("not started");
            calls.waitFor(1);
        }
        EXPECT_TRUE(calls.thread != std::this_thread::get_id() && calls.deleted == 1)
            << "called on the worker; the stream owns the delegate it called";
        return calls.report + " " + content(path("f"));
    };
    auto const read = [&](int mode, long count) { // "status|count|got|bytes file"
        return run("abcdef", mode,
                   [&](FFileStream& s, Calls& c) { return s.readAsync(new ReadProbe(c), count); });
    };
    // "status|total|bytes file"; the array is released at once: the job holds its own reference.
    auto const write = [&](int mode, char const* text) {
        return run("seed", mode, [&](FFileStream& s, Calls& c) {
            return s.writeAsync(new WriteProbe(c), text ? bytesOf(text) : Async::Bytes());
        });
    };
    // Status 1 is stdio's error flag.
    EXPECT_ROWS(std::string, {read(2, 4), "0|4|4|abcd abcdef"}, {read(2, 10), "0|10|6|abcdef abcdef"},
                {read(2, 0), "0|0|0| abcdef"}, {read(2, -1), "22|-1|0| abcdef"},
                {read(0, 4), "-1|4|0| abcdef"}, {write(4, "hello"), "0|5|hello hello"},
                {write(4, ""), "0|0| "}, {write(4, nullptr), "0|0| "}, {write(2, "hello"), "1|0|hello seed"});
}

// Makes every new thread ask for an impossible stack, so creation fails.
struct NoThreads {
    NoThreads() {
        pthread_attr_t huge;
        pthread_getattr_default_np(&saved), pthread_getattr_default_np(&huge);
        pthread_attr_setstacksize(&huge, std::size_t(1) << 62), pthread_setattr_default_np(&huge);
        pthread_attr_destroy(&huge);
    }
    ~NoThreads() { pthread_setattr_default_np(&saved), pthread_attr_destroy(&saved); }
    pthread_attr_t saved;
};

// Opens the gate of the running write from its destructor, which runs before the file stream's.
struct GateOnDestruction : FFileStream {
    explicit GateOnDestruction(Calls& c) : calls(c) {}
    ~GateOnDestruction() override { calls.setOpen(); }
    Calls& calls;
};

TEST_F(FileStreamTest, AsyncReadAndWriteRefuseWithoutAThreadOrWhileRunningAndDestructionWaits) {
    Calls running, refused, never;
    running.open = false;
    {
        FFileStream in;
        GateOnDestruction out(running); // destroyed first: opens the gate, then must wait for the write
        ASSERT_EQ(out.open(path("out").c_str(), 4), 0);
        ASSERT_EQ(in.open(path("out").c_str(), 2), 0);
        ReadProbe refusedRead(refused);
        WriteProbe refusedWrite(refused);
        {
            NoThreads const noThreads;
            EXPECT_FALSE(in.readAsync(&refusedRead, 2));
            EXPECT_FALSE(out.writeAsync(&refusedWrite, bytesOf("y")));
        }
        ASSERT_TRUE(in.readAsync(new ReadProbe(running), 2));
        ASSERT_TRUE(out.writeAsync(new WriteProbe(running), bytesOf("payload")));
        running.waitFor(2);
        EXPECT_FALSE(in.readAsync(&refusedRead, 2));
        EXPECT_FALSE(out.writeAsync(&refusedWrite, bytesOf("y")));
        Probe<Async::LongLongDone, Async*, long long> sized(never);
        Probe<Async::BoolDone, Async*, bool> flag(never);
        Probe<Async::IntDone, Async*, int> code(never);
        Probe<Async::MoveDone, Async*, int, long long> moved(never);
        for (bool started :
             {in.SizeAsync(&sized), in.BOSAsync(&flag), in.EOSAsync(&flag), in.PositionAsync(&sized),
              in.moveBeginAsync(&code), in.moveEndAsync(&code), in.moveToAsync(&moved, 1),
              in.moveAsync(&moved, 1), in.StateAsync(&code), in.closeAsync(&code)})
            EXPECT_FALSE(started);
        EXPECT_EQ(in.State(), 2) << "closeAsync closed nothing";
        EXPECT_EQ(refused.calls + refused.deleted + never.calls + never.deleted, 0);
    }
    EXPECT_EQ(running.stateSeen, 4) << "the file was still open when the write reported";
    EXPECT_TRUE(content(path("out")) == "payload" && running.deleted == 2);
}

// A job running a function.
struct Job : FInvokable<void> {
    explicit Job(std::function<void()> body) : run(std::move(body)) {}
    void invoke() override { run(); }
    std::function<void()> run;
};

TEST(FThreadTest, RunsHooksAroundEachJobAndIsIdleAgainWithoutAJoin) {
    using Hook = FThread_T<pthread_t>::Hook;
    std::string order; // appended on the worker only, read after the join
    int fromInside = -1;
    FThread_T<pthread_t> worker;
    worker.setHooks(Hook(new Job([&] { order += "<"; })), Hook(new Job([&] { order += ">"; })));
    ASSERT_TRUE(worker.execute(new Job([&] { order += "a", fromInside = worker.join(); })));
    // Cleared by the thread itself; the deadline only keeps a broken build from hanging.
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         worker.isRunning() && std::chrono::steady_clock::now() < end;)
        std::this_thread::yield();
    ASSERT_TRUE(worker.executeWhenIdle(new Job([&] { order += "b"; })));
    EXPECT_TRUE(worker.join() == 0 && order == "<a><b>") << order;
    EXPECT_EQ(fromInside, EDEADLK) << "a job cannot wait for itself";
}

} // namespace
