// The logging facade keeps process-wide state that only CNSInitLog sets, once, so every
// case runs in a forked child and the parent checks what arrived on its standard error.
#include "CNSLog.h"
#include "FoundationTestSupport.h"

#include <sys/ptrace.h>

using foundation_test::standardErrorOfChild;

namespace {

using Messages = std::vector<std::string>;

// The text of each console line, without its time and process prefix.
Messages messagesIn(const std::string& console) {
    static const std::regex prefix(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [^\[]+\[\d+:[0-9a-f]+\] )");
    Messages messages;
    std::istringstream lines(console);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_search(line, match, prefix))
            messages.push_back(match.suffix());
        else if (!messages.empty())
            messages.back() += "\n" + line; // continuation of a multi-line message
        else
            messages.push_back("<no prefix>" + line);
    }
    return messages;
}

Messages messagesOf(const std::function<void()>& body) {
    return messagesIn(standardErrorOfChild(body));
}

struct Widget {
    int id;
};

void OCDescribe(OCTextSink& sink, const Widget& widget) {
    sink.appendFormat("<Widget %d>", widget.id);
}

// Runs \p body in a process that this one traces, as a debugger would; says
// NOT-TRACED on standard error when tracing is not permitted here.
void whileTraced(void (*body)()) {
    const pid_t tracee = fork();
    if (tracee == 0) {
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) == 0)
            body();
        else
            std::fprintf(stderr, "NOT-TRACED\n");
        _exit(0);
    }
    int status = 0; // a tracee stops at each signal; it gets it when continued
    while (tracee > 0 && waitpid(tracee, &status, 0) == tracee && WIFSTOPPED(status))
        ptrace(PTRACE_CONT, tracee, nullptr, WSTOPSIG(status));
}

// Standard error and the log files (relative name -> content) of a run.
struct FileRun {
    std::string console;
    std::map<std::string, std::string> files;
};

// Runs \p body in a child whose HOME is \p home, then collects every ".txt"
// file below \p folder by its path relative to the folder.
FileRun runWithFiles(const std::string& folder, const std::string& home, const std::function<void()>& body) {
    FileRun run;
    run.console = standardErrorOfChild([&] {
        setenv("HOME", home.c_str(), 1);
        body();
    });
    std::error_code error;
    for (auto const& entry : std::filesystem::recursive_directory_iterator(folder, error))
        if (entry.path().extension() == ".txt")
            run.files[std::filesystem::relative(entry.path(), folder).string()] =
                foundation_test::readFile(entry.path());
    return run;
}

const std::regex kReportLine(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} Thread\[[0-9a-f]+\]:\t([^\n]*)\n)");

// The texts of the report lines of a log file; "<bad line>" for anything else.
Messages reportTexts(const std::string& file) {
    Messages texts;
    std::smatch match;
    std::string rest = file;
    while (!rest.empty()) {
        if (!std::regex_search(rest, match, kReportLine, std::regex_constants::match_continuous))
            return texts.push_back("<bad line>"), texts;
        texts.push_back(match[1]);
        rest = match.suffix();
    }
    return texts;
}

} // namespace

TEST(LoggingFacadeDebugFlag, OnlyTheDebugFlagLetsDebugMessagesThrough) {
    // Other flag bits do not turn debug on (nor does a new log file: see the file tests).
    std::pair<int, Messages> const cases[] = {
        {0, {"plain"}}, {0x0fd, {"plain"}}, {CNSLogFlagDebug, {"debug 1", "object debug x", "plain"}}};
    for (auto const& [flags, expected] : cases) {
        auto messages = messagesOf([flags = flags] {
            CNSInitLog(flags, 0, "Test", nullptr);
            if (CNSDbgLogEnabled() != ((flags & CNSLogFlagDebug) != 0))
                _exit(3);
            CNSDbgLog("debug %d", 1);
            OCNSDbgLog("object debug %@", "x");
            CNSLog("plain");
        });
        EXPECT_EQ(messages, expected) << "flags " << flags;
    }
}

TEST(LoggingFacadeDebugFlag, ATracedProcessGetsDebugMessagesAndSystemLogEcho) {
    std::string console = standardErrorOfChild([] {
        whileTraced([] { CNSInitLog(0, 1, "QvtTracedTest", nullptr), CNSDbgLog("debug while traced"); });
    });
    if (console.find("NOT-TRACED") != std::string::npos)
        GTEST_SKIP() << "tracing another process is not permitted here";
    // The system-log client echoes to standard error while traced, in syslog's own layout.
    EXPECT_TRUE(console.find("QvtTracedTest[") != std::string::npos &&
                console.find("debug while traced") != std::string::npos)
        << console;
}

TEST(LoggingFacadeMessages, EachCallReachesTheConsoleAsItPromises) {
    std::tuple<char const*, void (*)(), Messages> const rows[] = {
        {"printf messages are cut to 4094 bytes, object-format ones are not",
         [] {
             CNSLog("%s", std::string(5000, 'a').c_str());
             CNSSysLog(3, "%s", std::string(5000, 'a').c_str());
             CNSLog("%s", std::string(4094, 'b').c_str());
             OCNSLog("%@", std::string(20000, 'c'));
         },
         {std::string(4094, 'a'), std::string(4094, 'a'), std::string(4094, 'b'), std::string(20000, 'c')}},
        {"CNSLogMsg writes its text literally and ignores null",
         [] { CNSLogMsg("100%d %@ %s %n"), CNSLogMsg(nullptr), CNSLog("after"); },
         {"100%d %@ %s %n", "after"}},
        {"a system-log client takes the messages and, not traced, does not echo",
         [] {
             CNSInitLog(0, 1, "QvtLogTest", nullptr);
             CNSLog("to the system log"), OCNSLog("%@", "also to the system log");
             CNSSysLog(6, "%s", "system log at level 6");
         },
         {}},
        {"without a client the system-log call falls back to the console",
         [] { CNSInitLog(0, 0, "QvtLogTest", nullptr), CNSSysLog(2, "critical %s", "thing"); },
         {"critical thing"}}};
    for (auto const& [what, body, expected] : rows)
        EXPECT_EQ(messagesOf(body), expected) << what;
}

TEST(LoggingFacadeStackTrace, MessageArrivesWholeFollowedByTheStackTraceBlock) {
    auto messages = messagesOf([] { CNSLogWithStackTrace("%s!", std::string(5000, 'd').c_str()); });
    messages.push_back(messagesOf([] { OCNSLogWithStackTrace("failed: %@", Widget{7}); }).at(0));
    ASSERT_EQ(messages.size(), 2u);
    std::string const footer = "\n---------------------------";
    for (auto const& [text, header] :
         {std::pair{messages[0], std::string(5000, 'd') + "!"}, {messages[1], "failed: <Widget 7>"}}) {
        ASSERT_EQ(text.rfind(header + "\n------- stack trace -------\n", 0), 0u) << text;
        ASSERT_GE(text.size(), header.size() + 29 + footer.size());
        EXPECT_EQ(text.substr(text.size() - footer.size()), footer);
    }
    // One line per frame; the facade's own exported entry point is among them.
    EXPECT_NE(messages[0].find("CNSLogWithStackTrace", 5030), std::string::npos);
}

TEST(LoggingFacadeConcurrency, LinesFromManyThreadsArriveWhole) {
    auto messages = messagesOf([] {
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < 200; ++i)
                    OCNSLog("thread %d line %d %@", t, i, std::string(100, char('a' + t)));
            });
        for (auto& thread : threads)
            thread.join();
    });
    ASSERT_EQ(messages.size(), 1600u);
    static const std::regex whole(R"(^thread (\d) line \d+ ([a-h]){100}$)");
    for (const auto& message : messages) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(message, match, whole)) << message;
        EXPECT_EQ(match[2].str()[0], char('a' + std::stoi(match[1])));
    }
}

TEST(ObjectFormat, ConvertsEachArgumentByItsConversion) {
    const Widget widget{3};
    const Widget* none = nullptr;
    const char* noText = nullptr;
    // An argument list refers to its values: they must outlive the formatting.
    // Text arguments need no terminating zero.
    const std::string text = "text", notANumber = "not a number", ab = "ab";
    const std::string_view view("abcdef", 3);
    std::tuple<const char*, std::vector<OCArg>, const char*> const cases[] = {
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
        {"[%@][%s][%.1s]", {view, view, view}, "[abc][abc][a]"}};
    for (const auto& [format, args, expected] : cases) {
        OCTextSink sink;
        OCFormatV(sink, format, args.data(), args.size());
        EXPECT_STREQ(sink.text(), expected) << format;
    }
}

TEST(LoggingFacadeFile, InitLogMakesTheFolderAndOneFilePerStartAndEchoesDebugMessages) {
    foundation_test::TemporaryFolder temp;
    const std::string dir = temp.path() + "/var log/app";
    std::filesystem::create_directories(temp.path() + "/var log");
    const FileRun run = runWithFiles(temp.path(), temp.path(), [&] {
        CNSInitLog(CNSLogFlagNewFile | CNSLogFlagDebug, 0, "Test", dir.c_str());
        CNSDbgLog("debug %d", 1);
        OCNSLog("object\t%@", 7);
        CNSDisableFileLogging();
        CNSLog("after");
    });
    ASSERT_EQ(run.files.size(), 1u) << run.console;
    const std::string name = run.files.begin()->first;
    EXPECT_TRUE(
        std::regex_match(name, std::regex(R"(var log/app/Test_\d{4}-\d\d-\d\dT\d\d-\d\d-\d\d\.\d{3}\.txt)")))
        << name;
    EXPECT_EQ(reportTexts(run.files.begin()->second), (Messages{"debug 1", "object\t7"}));
    // Each line is echoed in the console layout; after detaching, the console itself.
    const std::string echo = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} Thread\[[0-9a-f]+\]: )";
    EXPECT_TRUE(
        std::regex_search(run.console, std::regex("^" + echo + "debug 1\t\n" + echo + "object\t7\t\n")))
        << run.console;
    EXPECT_EQ(messagesIn(run.console).back(), "after");
}

TEST(LoggingFacadeFile, UnfitFoldersGiveTheDefaultFolderAndNoWantedFileOrNoRoomGivesTheConsole) {
    struct Row {
        const char* what;
        int flags;
        const char* dir;
        const char* home;       // relative; a regular file cannot hold QvLogs
        const char* fileFolder; // "" when no file is expected
    } const rows[] = {
        {"one-byte folder: the default folder", CNSLogFlagNewFile, "/", "home", "home/QvLogs"},
        {"no folder: the default folder", CNSLogFlagNewFile, nullptr, "home", "home/QvLogs"},
        {"no file wanted", 0, "logs", "home", ""},
        {"nowhere to write", CNSLogFlagNewFile, "plain/logs", "plain", ""},
    };
    for (const Row& row : rows) {
        foundation_test::TemporaryFolder temp;
        std::ofstream(temp / "plain") << "a file, not a folder";
        std::filesystem::create_directory(temp.path() + "/home");
        const std::string dir = row.dir == nullptr  ? ""
                                : row.dir[0] == '/' ? row.dir
                                                    : temp.path() + "/" + row.dir;
        const FileRun run = runWithFiles(temp.path(), temp.path() + "/" + row.home, [&] {
            CNSInitLog(row.flags, 0, "Test", row.dir ? dir.c_str() : nullptr);
            CNSLog("message");
        });
        if (*row.fileFolder == '\0') {
            EXPECT_TRUE(run.files.empty()) << row.what;
            EXPECT_EQ(messagesIn(run.console), Messages{"message"}) << row.what;
        } else {
            ASSERT_EQ(run.files.size(), 1u) << row.what << "\n" << run.console;
            EXPECT_EQ(std::filesystem::path(run.files.begin()->first).parent_path(), row.fileFolder)
                << row.what;
            EXPECT_EQ(reportTexts(run.files.begin()->second), Messages{"message"}) << row.what;
            EXPECT_EQ(run.console, "") << row.what;
        }
    }
}
