// The logging facade keeps process-wide state that only CNSInitLog sets, once.
// Every case therefore runs in a forked child with standard error redirected
// to a file, and the parent checks what arrived.
#include "CNSLog.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <regex>
#include <string>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string consoleOutputOf(const std::function<void()>& body) {
    char path[] = "/tmp/cnslog-test.XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    pid_t child = fork();
    if (child == 0) {
        dup2(fd, STDERR_FILENO);
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    std::string content;
    char buffer[65536];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        content.append(buffer, static_cast<size_t>(n));
    close(fd);
    unlink(path);
    return content;
}

// The text of each console line, without its time and process prefix.
std::vector<std::string> messagesIn(const std::string& console) {
    static const std::regex prefix(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [^\[]+\[\d+:[0-9a-f]+\] )");
    std::vector<std::string> messages;
    size_t start = 0;
    while (start < console.size()) {
        size_t end = console.find('\n', start);
        if (end == std::string::npos)
            end = console.size();
        std::string line = console.substr(start, end - start);
        std::smatch match;
        if (std::regex_search(line, match, prefix))
            messages.push_back(match.suffix());
        else if (!messages.empty())
            messages.back() += "\n" + line; // continuation of a multi-line message
        else
            messages.push_back("<no prefix>" + line);
        start = end + 1;
    }
    return messages;
}

struct Widget {
    int id;
};

void OCDescribe(OCTextSink& sink, const Widget& widget) {
    sink.appendFormat("<Widget %d>", widget.id);
}

} // namespace

TEST(LoggingFacadeConsole, WritesOneTimestampedLinePerMessageOnStandardError) {
    std::string console = consoleOutputOf([] { CNSLog("hello %d", 42); });
    static const std::regex line(
        R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [^\[ ]+\[\d+:[0-9a-f]+\] hello 42\n$)");
    EXPECT_TRUE(std::regex_match(console, line)) << console;
}

TEST(LoggingFacadeDebugFlag, DebugMessagesAreDroppedUntilTheDebugFlagIsGiven) {
    auto off = messagesIn(consoleOutputOf([] {
        CNSInitLog(0, 0, "Test", nullptr);
        CNSDbgLog("debug %d", 1);
        OCNSDbgLog("object debug %@", "x");
        CNSLog("plain");
        std::printf("%d", CNSDbgLogEnabled() ? 1 : 0);
    }));
    EXPECT_EQ(off, std::vector<std::string>{"plain"});

    auto on = messagesIn(consoleOutputOf([] {
        CNSInitLog(CNSLogFlagDebug, 0, "Test", nullptr);
        if (!CNSDbgLogEnabled())
            _exit(3);
        CNSDbgLog("debug %d", 1);
        OCNSDbgLog("object debug %@", "x");
        CNSLog("plain");
    }));
    EXPECT_EQ(on, (std::vector<std::string>{"debug 1", "object debug x", "plain"}));
}

TEST(LoggingFacadeDebugFlag, OtherFlagBitsDoNotTurnDebugOn) {
    auto messages = messagesIn(consoleOutputOf([] {
        CNSInitLog(0x0fd | 0x100, 0, "Test", "/nonexistent-log-dir");
        CNSDbgLog("debug");
        CNSLog("plain");
    }));
    EXPECT_EQ(messages, std::vector<std::string>{"plain"});
}

namespace {

// Runs \p body while another process traces this one, as a debugger would.
// False when tracing is not permitted here.
bool whileTraced(const std::function<void()>& body) {
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);
    int ready[2];
    if (pipe(ready) != 0)
        return false;
    const pid_t tracee = getpid();
    const pid_t tracer = fork();
    if (tracer == 0) {
        char ok = ptrace(PTRACE_SEIZE, tracee, nullptr, nullptr) == 0 ? 1 : 0;
        (void)!write(ready[1], &ok, 1);
        pause(); // stays attached until killed
        _exit(0);
    }
    char ok = 0;
    (void)!read(ready[0], &ok, 1);
    if (ok)
        body();
    kill(tracer, SIGKILL);
    waitpid(tracer, nullptr, 0);
    return ok == 1;
}

} // namespace

TEST(LoggingFacadeDebugFlag, ATracedProcessGetsDebugMessagesAndSystemLogEcho) {
    std::string console = consoleOutputOf([] {
        bool traced = whileTraced([] {
            CNSInitLog(0, 1, "QvtTracedTest", nullptr);
            CNSDbgLog("debug while traced");
        });
        if (!traced)
            std::fprintf(stderr, "NOT-TRACED\n");
    });
    if (console.find("NOT-TRACED") != std::string::npos)
        GTEST_SKIP() << "tracing another process is not permitted here";
    // The system-log client echoes to standard error while traced, in syslog's own layout.
    EXPECT_NE(console.find("QvtTracedTest["), std::string::npos) << console;
    EXPECT_NE(console.find("debug while traced"), std::string::npos) << console;
}

TEST(LoggingFacadeBuffers, PrintfMessagesAreCutTo4094Bytes) {
    auto messages = messagesIn(consoleOutputOf([] {
        std::string longText(5000, 'a');
        CNSLog("%s", longText.c_str());
        CNSSysLog(3, "%s", longText.c_str());
        std::string exact(4094, 'b');
        CNSLog("%s", exact.c_str());
    }));
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], std::string(4094, 'a'));
    EXPECT_EQ(messages[1], std::string(4094, 'a'));
    EXPECT_EQ(messages[2], std::string(4094, 'b'));
}

TEST(LoggingFacadeBuffers, ObjectFormatMessagesHaveNoLimit) {
    auto messages = messagesIn(consoleOutputOf([] {
        std::string longText(20000, 'c');
        OCNSLog("%@", longText);
    }));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], std::string(20000, 'c'));
}

TEST(LoggingFacadeStackTrace, MessageArrivesWholeFollowedByTheStackTraceBlock) {
    std::string console = consoleOutputOf([] {
        std::string longText(5000, 'd');
        CNSLogWithStackTrace("%s!", longText.c_str());
    });
    auto messages = messagesIn(console);
    ASSERT_EQ(messages.size(), 1u) << console;
    const std::string& text = messages[0];
    const std::string header = std::string(5000, 'd') + "!\n------- stack trace -------\n";
    ASSERT_EQ(text.compare(0, header.size(), header), 0);
    const std::string footer = "---------------------------";
    ASSERT_GE(text.size(), header.size() + footer.size());
    EXPECT_EQ(text.substr(text.size() - footer.size()), footer);
    // One line per frame, innermost first: the facade's own exported entry
    // point comes before this test's frames.
    const std::string frames = text.substr(header.size(), text.size() - header.size() - footer.size());
    EXPECT_NE(frames.find("CNSLogWithStackTrace"), std::string::npos) << frames;
    EXPECT_EQ(frames.back(), '\n');
}

TEST(LoggingFacadeStackTrace, ObjectFormatVariantAppendsTheSameBlock) {
    auto messages = messagesIn(consoleOutputOf([] { OCNSLogWithStackTrace("failed: %@", Widget{7}); }));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("failed: <Widget 7>\n------- stack trace -------\n", 0), 0u);
    EXPECT_EQ(messages[0].substr(messages[0].size() - 27), std::string(27, '-'));
}

TEST(LoggingFacadeMessages, CNSLogMsgWritesItsTextLiterallyAndIgnoresNull) {
    auto messages = messagesIn(consoleOutputOf([] {
        CNSLogMsg("100%d %@ %s %n");
        CNSLogMsg(nullptr);
        CNSLog("after");
    }));
    EXPECT_EQ(messages, (std::vector<std::string>{"100%d %@ %s %n", "after"}));
}

TEST(LoggingFacadeRouting, SystemLogClientTakesMessagesInsteadOfTheConsole) {
    auto messages = messagesIn(consoleOutputOf([] {
        CNSInitLog(0, 1, "QvtLogTest", nullptr);
        CNSLog("to the system log");
        OCNSLog("%@", "also to the system log");
        CNSSysLog(6, "%s", "system log at level 6");
    }));
    // Not traced, so the client does not echo to standard error.
    EXPECT_TRUE(messages.empty());
}

TEST(LoggingFacadeRouting, SysLogFallsBackToTheConsoleWithoutAClient) {
    auto messages = messagesIn(consoleOutputOf([] {
        CNSInitLog(0, 0, "QvtLogTest", nullptr);
        CNSSysLog(2, "critical %s", "thing");
    }));
    EXPECT_EQ(messages, std::vector<std::string>{"critical thing"});
}

TEST(LoggingFacadeConcurrency, LinesFromManyThreadsArriveWhole) {
    auto messages = messagesIn(consoleOutputOf([] {
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < 200; ++i)
                    OCNSLog("thread %d line %d %@", t, i, std::string(100, char('a' + t)));
            });
        for (auto& thread : threads)
            thread.join();
    }));
    ASSERT_EQ(messages.size(), 1600u);
    static const std::regex whole(R"(^thread (\d) line \d+ ([a-h]){100}$)");
    for (const auto& message : messages) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(message, match, whole)) << message;
        EXPECT_EQ(match[2].str()[0], char('a' + std::stoi(match[1])));
    }
}

// ---------------------------------------------------------------------------
// Object formats

namespace {

std::string format(const char* fmt, const std::vector<OCArg>& args) {
    OCTextSink sink;
    OCFormatV(sink, fmt, args.data(), args.size());
    return sink.text();
}

} // namespace

TEST(ObjectFormat, ConvertsEachArgumentByItsConversion) {
    const Widget widget{3};
    const Widget* none = nullptr;
    const char* noText = nullptr;
    // An argument list refers to its values: they must outlive the formatting.
    const std::string text = "text", notANumber = "not a number", ab = "ab";
    struct Case {
        const char* format;
        std::vector<OCArg> args;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"%@ and %@", {text, widget}, "text and <Widget 3>"},
        {"%@", {none}, "(null)"},
        {"%s|%@", {noText, nullptr}, "(null)|(null)"},
        {"%d %i %u %x %X %o", {-7, 8, 9u, 255, 255, 8}, "-7 8 9 ff FF 10"},
        {"%lld %ld %hd", {INT64_MIN, -1L, short(5)}, "-9223372036854775808 -1 5"},
        {"%5d|%-5d|%05d", {42, 42, 42}, "   42|42   |00042"},
        {"%.2f %g %e", {3.14159, 0.5, 1.0}, "3.14 0.5 1.000000e+00"},
        {"%*d|%.*s", {4, 7, 2, "abcdef"}, "   7|ab"},
        {"%c%c", {'o', 'k'}, "ok"},
        {"100%% %s", {"sure"}, "100% sure"},
        {"%d and %d", {1}, "1 and (null)"},
        {"%n%d", {0, 5}, "5"},
        {"%d", {notANumber}, "not a number"},
        {"%-8@|", {ab}, "ab      |"},
        {"tail %", {}, "tail %"},
        {"%y", {}, "%y"},
        {"%@", {true}, "1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(format(c.format, c.args), c.expected) << c.format;
}

TEST(ObjectFormat, TextArgumentsNeedNoTerminatingZero) {
    const std::string_view view("abcdef", 3);
    EXPECT_EQ(format("[%@][%s][%.1s]", {view, view, view}), "[abc][abc][a]");
}

TEST(ObjectFormat, SinkGrowsAcrossManyAppends) {
    OCTextSink sink;
    for (int i = 0; i < 1000; ++i)
        sink.appendFormat("%04d", i);
    ASSERT_EQ(sink.size(), 4000u);
    EXPECT_EQ(std::string(sink.text()).substr(3996), "0999");
    OCTextSink moved(std::move(sink));
    EXPECT_EQ(moved.size(), 4000u);
    EXPECT_STREQ(sink.text(), "");
}
