// Running programs: exit statuses whatever the SIGCHLD disposition, what the child inherits (descriptors,
// environment, signals), time limits, output, and daemons started detached.
#include "platform/ChildProcess.h"
#include "platform/FileDescriptor.h"
#include "platform/ProcessInfo.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sstream>
#include <thread>
#include <unistd.h>

using platform::ChildProcess;
using Kind = ChildProcess::Outcome::Kind;
using namespace std::chrono_literals;

namespace {

ChildProcess::Options shellOptions(const std::string& script) {
    ChildProcess::Options options;
    options.arguments = {"/bin/sh", "-c", script};
    return options;
}

ChildProcess::Outcome shell(const std::string& script) {
    ChildProcess::Options options = shellOptions(script);
    options.timeLimit = 20s;
    return ChildProcess::run(options);
}

pid_t pidIn(const std::string& file) {
    return std::atoi(testsupport::readFile(file).c_str());
}

} // namespace

TEST(ChildProcessTest, ConcurrentRunsEachGetTheirChildsStatusWhateverTheSigchldDisposition) {
    const struct {
        const char* script;
        Kind kind;
        int code;
    } cases[] = {{"exit 0", Kind::Exited, 0},     {"exit 5", Kind::Exited, 5},
                 {"exit 126", Kind::Exited, 126}, {"kill -TERM $$", Kind::Signaled, SIGTERM},
                 {"exit 10", Kind::Exited, 10},   {"exit 11", Kind::Exited, 11}};
    for (auto disposition : {SIG_DFL, SIG_IGN}) {
        std::signal(SIGCHLD, disposition);
        std::vector<ChildProcess::Outcome> outcomes(std::size(cases));
        std::vector<std::thread> threads;
        // Staggered ends: one run finishing must not hand SIGCHLD back to the kernel while the others still
        // run.
        for (size_t i = 0; i < outcomes.size(); ++i)
            threads.emplace_back(
                [&, i] { outcomes[i] = shell("sleep 0.0" + std::to_string(i) + "; " + cases[i].script); });
        for (auto& thread : threads)
            thread.join();
        for (size_t i = 0; i < outcomes.size(); ++i) {
            EXPECT_TRUE(outcomes[i].kind == cases[i].kind && outcomes[i].code == cases[i].code)
                << cases[i].script << " " << outcomes[i].describe();
        }
        struct sigaction now {};
        sigaction(SIGCHLD, nullptr, &now);
        EXPECT_EQ(now.sa_handler, disposition) << "the process's own action is put back";
    }
    std::signal(SIGCHLD, SIG_DFL);
}

TEST(ChildProcessTest, ProgramsAreNamedByAbsolutePathOnlyAndAFailedStartTellsItsError) {
    testsupport::TemporaryFolder folder;
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{}, EINVAL},
        {{"sh", "-c", "exit 0"}, EINVAL}, // never looked up on PATH
        {{"bin/sh"}, EINVAL},
        {{"/nonexistent/program"}, ENOENT},
        {{folder.write("data", "#!/bin/sh\n")}, EACCES},
    };
    for (const auto& [arguments, error] : cases) {
        ChildProcess::Options options;
        options.arguments = arguments;
        const auto outcome = ChildProcess::run(options);
        const std::string name = arguments.empty() ? "" : arguments[0];
        EXPECT_TRUE(outcome.kind == Kind::NotStarted && outcome.code == error) << name << outcome.describe();
        const auto detached = ChildProcess::startDetached(options);
        EXPECT_EQ(detached ? 0 : detached.failure().code, error) << name;
    }
}

TEST(ChildProcessTest, ADetachedProgramRunsInASessionOfItsOwnWritingItsOutputToTheDescriptorGiven) {
    testsupport::TemporaryFolder folder;
    const std::string log = folder.path() + "/daemon.log";
    platform::FileDescriptor output(::open(log.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_TRUE(output.valid());
    ChildProcess::Options options =
        shellOptions("echo $$ $(cut -d' ' -f4,6 /proc/$$/stat) $(pwd) >&2; read -r line; echo \"[$line]\"");
    options.workingFolder = "/";
    options.output = output.get();
    const auto started = ChildProcess::startDetached(options);
    output.reset(); // the program holds its own copies
    ASSERT_TRUE(started) << started.failure().description;
    std::string written;
    for (int i = 0; i < 250 && testsupport::count(written = testsupport::readFile(log), "\n") < 2; ++i)
        usleep(20000);
    std::istringstream lines(written);
    std::string pid, parent, session, folderSeen, input;
    lines >> pid >> parent >> session >> folderSeen >> input;
    EXPECT_EQ(pid, std::to_string(*started));
    EXPECT_NE(parent, std::to_string(getpid())) << "not the caller's child";
    EXPECT_NE(session, std::to_string(getsid(0))) << "not in the caller's session";
    EXPECT_NE(session, pid) << "not a session leader, so it cannot take a terminal";
    EXPECT_EQ(folderSeen, "/");
    EXPECT_EQ(input, "[]") << "standard input is empty";
}

TEST(ChildProcessTest, TheChildGetsNoDescriptorNoIgnoredSignalAndExactlyTheEnvironmentGiven) {
    const int leaked = ::open("/dev/null", O_RDONLY); // not close-on-exec
    ASSERT_GE(leaked, 3);
    std::signal(SIGPIPE, SIG_IGN);
    // Not through a pipeline: the shell's own end of the pipe would show.
    ChildProcess::Options options = shellOptions("ls /proc/$$/fd; env; grep SigIgn /proc/$$/status");
    options.environment = std::vector<std::string>{"ONLY=this", "PATH=/usr/bin:/bin"};
    std::vector<std::string> lines;
    options.onLine = [&lines](const std::string& line) { lines.push_back(line); };
    const auto outcome = ChildProcess::run(options);
    std::signal(SIGPIPE, SIG_DFL);
    ::close(leaked);
    ASSERT_TRUE(outcome.succeeded()) << outcome.describe();
    const auto env = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find_first_not_of("0123456789") != std::string::npos;
    });
    EXPECT_EQ(std::vector<std::string>(lines.begin(), env), (std::vector<std::string>{"0", "1", "2"}));
    ASSERT_NE(env, lines.end()) << outcome.output;
    std::vector<std::string> environment(env, lines.end() - 1);
    std::erase_if(environment,
                  [](const std::string& line) { return line.starts_with("PWD="); }); // the shell's
    std::sort(environment.begin(), environment.end());
    EXPECT_EQ(environment, (std::vector<std::string>{"ONLY=this", "PATH=/usr/bin:/bin"}));
    EXPECT_EQ(lines.back(), "SigIgn:\t0000000000000000");
}

TEST(ChildProcessTest, OutputArrivesLineByLineAndItsTailIsKept) {
    std::vector<std::string> lines;
    ChildProcess::Options options = shellOptions("echo one; echo two >&2; printf 'no line feed'");
    options.onLine = [&lines](const std::string& line) { lines.push_back(line); };
    EXPECT_EQ(ChildProcess::run(options).output, "one\ntwo\nno line feed");
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "no line feed"}));

    lines.clear();
    options.arguments.back() = "head -c 10000 /dev/zero | tr '\\0' x";
    EXPECT_EQ(ChildProcess::run(options).output.size(), ChildProcess::kKeptOutput);
    ASSERT_EQ(lines.size(), 5u) << "10000 bytes in pieces of at most 2048";
    EXPECT_EQ(lines[0].size(), ChildProcess::kLongestLine);
}

TEST(ChildProcessTest, TheTimeLimitKillsTheWholeProcessGroupAndABackgroundChildDoesNotDelayTheEnd) {
    testsupport::TemporaryFolder folder;
    const std::string pidFile = folder.path() + "/grandchild";
    ChildProcess::Options options = shellOptions("sleep 60 & echo $! > '" + pidFile + "'; wait");
    options.timeLimit = 500ms;
    options.ownProcessGroup = true;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ChildProcess::run(options).kind, Kind::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s) << "no hang";
    const pid_t grandchild = pidIn(pidFile);
    ASSERT_GT(grandchild, 0);
    bool ended = false; // a zombie has no start time either
    for (int i = 0; i < 100 && !(ended = !platform::ProcessInfo::processStartTime(grandchild)); ++i)
        usleep(20000);
    EXPECT_TRUE(ended) << "killed with its group";

    // A daemon keeping the output pipe open: the run ends with the program.
    const auto daemonStart = std::chrono::steady_clock::now();
    const auto outcome = shell("sleep 30 & echo $! > '" + pidFile + "'; echo started");
    EXPECT_LT(std::chrono::steady_clock::now() - daemonStart, 10s);
    EXPECT_TRUE(outcome.succeeded()) << outcome.describe();
    EXPECT_EQ(outcome.output, "started\n");
    if (const pid_t daemon = pidIn(pidFile); daemon > 0)
        kill(daemon, SIGKILL);
}
