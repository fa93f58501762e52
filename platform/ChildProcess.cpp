#include "platform/ChildProcess.h"

#include "platform/FileDescriptor.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

/// How long a killed program may take to be collected before it is left to a
/// background thread.
constexpr std::chrono::milliseconds kKillGrace{2000};

/// Keeps SIGCHLD at its default action while at least one child of this
/// facility has not been collected, and restores the process's own action
/// afterwards. Shared by every run in the process.
class ChildSignalScope {
public:
    ChildSignalScope() {
        std::lock_guard lock(s_mutex);
        if (s_users++ > 0)
            return;
        struct sigaction current {};
        ::sigaction(SIGCHLD, nullptr, &current);
        if (current.sa_handler == SIG_IGN || (current.sa_flags & SA_NOCLDWAIT)) {
            s_saved = current;
            struct sigaction normal {};
            normal.sa_handler = SIG_DFL;
            sigemptyset(&normal.sa_mask);
            ::sigaction(SIGCHLD, &normal, nullptr);
            s_changed = true;
        }
    }
    ~ChildSignalScope() {
        std::lock_guard lock(s_mutex);
        if (--s_users > 0 || !s_changed)
            return;
        ::sigaction(SIGCHLD, &s_saved, nullptr);
        s_changed = false;
    }
    ChildSignalScope(const ChildSignalScope&) = delete;
    ChildSignalScope& operator=(const ChildSignalScope&) = delete;
    ChildSignalScope(ChildSignalScope&&) = delete;
    ChildSignalScope& operator=(ChildSignalScope&&) = delete;

private:
    static inline std::mutex s_mutex;
    static inline int s_users = 0;
    static inline bool s_changed = false;
    static inline struct sigaction s_saved {};
};

/// Splits captured output into lines for the caller and keeps its tail.
class LineSplitter {
public:
    LineSplitter(const std::function<void(const std::string&)>& onLine, std::string& kept)
        : m_onLine(onLine), m_kept(kept) {}
    LineSplitter(const LineSplitter&) = delete;
    LineSplitter& operator=(const LineSplitter&) = delete;

    void add(const char* data, size_t size) {
        m_kept.append(data, size);
        if (m_kept.size() > ChildProcess::kKeptOutput)
            m_kept.erase(0, m_kept.size() - ChildProcess::kKeptOutput);
        for (size_t i = 0; i < size; ++i) {
            if (data[i] == '\n') {
                flush();
                continue;
            }
            m_line += data[i];
            if (m_line.size() >= ChildProcess::kLongestLine)
                flush();
        }
    }
    void flush() {
        if (!m_line.empty() && m_onLine)
            m_onLine(m_line);
        m_line.clear();
    }

private:
    const std::function<void(const std::string&)>& m_onLine;
    std::string& m_kept;
    std::string m_line;
};

bool makePipe(FileDescriptor& readEnd, FileDescriptor& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return true;
}

/// The argument and environment arrays for execve, made before fork: the
/// child may only make async-signal-safe calls.
class ProgramImage {
public:
    explicit ProgramImage(const ChildProcess::Options& options)
        : m_arguments(options.arguments),
          m_environment(options.environment.value_or(std::vector<std::string>())),
          m_ownEnvironment(options.environment.has_value()) {
        for (auto& item : m_arguments)
            m_argv.push_back(item.data());
        m_argv.push_back(nullptr);
        for (auto& item : m_environment)
            m_envp.push_back(item.data());
        m_envp.push_back(nullptr);
    }
    ProgramImage(const ProgramImage&) = delete;
    ProgramImage& operator=(const ProgramImage&) = delete;

    /// False unless the program is named by an absolute path.
    static bool valid(const ChildProcess::Options& options) {
        return !options.arguments.empty() && !options.arguments[0].empty() && options.arguments[0][0] == '/';
    }
    char* const* argv() const { return m_argv.data(); }
    char* const* envp() const { return m_ownEnvironment ? m_envp.data() : environ; }

private:
    std::vector<std::string> m_arguments;
    std::vector<std::string> m_environment;
    std::vector<char*> m_argv;
    std::vector<char*> m_envp;
    bool m_ownEnvironment;
};

/// The child's side, between fork and exec: async-signal-safe calls only.
/// A failed exec is reported as its errno on \p startReport.
[[noreturn]] void becomeProgram(const ChildProcess::Options& options, const ProgramImage& image,
                                bool newSession, int input, int output, int startReport) {
    if (newSession)
        ::setsid();
    // Ignored signals stay ignored across exec; the program gets the defaults.
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP)
            ::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (input >= 0)
        ::dup2(input, STDIN_FILENO);
    if (output >= 0) {
        ::dup2(output, STDOUT_FILENO);
        ::dup2(output, STDERR_FILENO);
    }
    // Nothing the caller holds open reaches the program; the start report
    // stays open until exec closes it.
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    if (options.creationMask)
        ::umask(*options.creationMask);
    if (!options.workingFolder.empty() && ::chdir(options.workingFolder.c_str()) != 0 && ::chdir("/") != 0) {
    }
    const char* program = image.argv()[0];
    ::execve(program, image.argv(), image.envp());
    const int error = errno;
    if (::write(startReport, &error, sizeof error) < 0) {
    }
    ::_exit(127);
}

/// Reads exactly one \p T from \p fd; false at end of file or on an error.
template <typename T>
bool readValue(int fd, T& value) {
    for (;;) {
        const ssize_t n = ::read(fd, &value, sizeof value);
        if (n < 0 && errno == EINTR)
            continue;
        return n == static_cast<ssize_t>(sizeof value);
    }
}

Failure startFailure(int error) {
    return Failure{ChildProcess::kErrorDomain, error, std::strerror(error)};
}

} // namespace

std::string ChildProcess::Outcome::describe() const {
    switch (kind) {
    case Kind::Exited:
        return "exited with status " + std::to_string(code);
    case Kind::Signaled:
        return "was killed by signal " + std::to_string(code);
    case Kind::TimedOut:
        return "did not finish within its time limit and was killed";
    case Kind::StatusLost:
        return "ended without an exit status that could be collected";
    case Kind::NotStarted:
        return std::string("could not be started: ") + std::strerror(code);
    }
    return "ended in an unknown way";
}

ChildProcess::Outcome ChildProcess::run(const Options& options) {
    Outcome outcome;
    if (!ProgramImage::valid(options)) {
        outcome.code = EINVAL;
        return outcome;
    }
    const ProgramImage image(options);

    auto signalScope = std::make_shared<ChildSignalScope>();
    FileDescriptor outputRead, outputWrite, reportRead, reportWrite;
    FileDescriptor devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!makePipe(reportRead, reportWrite) || !makePipe(outputRead, outputWrite)) {
        outcome.code = errno;
        return outcome;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        outcome.code = errno;
        return outcome;
    }
    if (child == 0)
        becomeProgram(options, image, options.ownProcessGroup, devNull.get(), outputWrite.get(),
                      reportWrite.get());
    outputWrite.reset();
    reportWrite.reset();

    LineSplitter lines(options.onLine, outcome.output);
    const FileDescriptor process(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));
    const bool limited = options.timeLimit.count() > 0;
    auto deadline = std::chrono::steady_clock::now() + options.timeLimit;
    bool killed = false;
    bool collected = false;
    int status = 0;
    while (!collected) {
        const auto now = std::chrono::steady_clock::now();
        if ((limited || killed) && now >= deadline) {
            if (killed) {
                // It could not be killed (it became another user's): collect it
                // in the background, and keep SIGCHLD usable until then.
                std::thread([child, signalScope] { ::waitpid(child, nullptr, 0); }).detach();
                lines.flush();
                outcome.kind = Outcome::Kind::TimedOut;
                outcome.code = SIGKILL;
                return outcome;
            }
            if (options.ownProcessGroup)
                ::kill(-child, SIGKILL);
            ::kill(child, SIGKILL);
            killed = true;
            deadline = now + kKillGrace;
        }
        // Waits are cut into pieces of at most a minute, so a long limit cannot overflow.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        int wait = (limited || killed) ? static_cast<int>(std::min<long long>(left, 60000)) + 1 : -1;
        if (process.get() < 0) // no pidfd: look at the child now and then
            wait = wait < 0 ? 20 : std::min(wait, 20);
        pollfd fds[2] = {{process.get(), POLLIN, 0}, {outputRead.get(), POLLIN, 0}};
        if (::poll(fds, 2, wait) < 0 && errno != EINTR)
            break;
        if (fds[1].revents != 0) {
            char buffer[4096];
            const ssize_t n = ::read(outputRead.get(), buffer, sizeof buffer);
            if (n > 0)
                lines.add(buffer, static_cast<size_t>(n));
            else if (n == 0 || (errno != EINTR && errno != EAGAIN))
                outputRead.reset();
        }
        if (process.get() >= 0 && fds[0].revents == 0)
            continue;
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) {
            collected = true;
        } else if (done < 0 && errno != EINTR) {
            outcome.kind = Outcome::Kind::StatusLost;
            break;
        }
    }
    // What the program wrote before it ended still belongs to its output;
    // whatever it left running may keep the pipe open, so do not wait for that.
    if (outputRead.get() >= 0) {
        ::fcntl(outputRead.get(), F_SETFL, O_NONBLOCK);
        char buffer[4096];
        for (ssize_t n; (n = ::read(outputRead.get(), buffer, sizeof buffer)) > 0;)
            lines.add(buffer, static_cast<size_t>(n));
    }
    lines.flush();

    int startError = 0;
    if (::read(reportRead.get(), &startError, sizeof startError) == sizeof startError) {
        outcome.kind = Outcome::Kind::NotStarted;
        outcome.code = startError;
    } else if (!collected) {
        outcome.kind = Outcome::Kind::StatusLost;
    } else if (killed) {
        outcome.kind = Outcome::Kind::TimedOut;
        outcome.code = SIGKILL;
    } else if (WIFEXITED(status)) {
        outcome.kind = Outcome::Kind::Exited;
        outcome.code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.kind = Outcome::Kind::Signaled;
        outcome.code = WTERMSIG(status);
    }
    return outcome;
}

Result<pid_t> ChildProcess::startDetached(const Options& options) {
    if (!ProgramImage::valid(options))
        return startFailure(EINVAL);
    const ProgramImage image(options);
    const FileDescriptor devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
    // The intermediate process reports the program's pid (or minus the errno
    // of its failed fork), the program a failed exec.
    FileDescriptor pidRead, pidWrite, reportRead, reportWrite;
    if (!makePipe(pidRead, pidWrite) || !makePipe(reportRead, reportWrite))
        return startFailure(errno);
    const ChildSignalScope signalScope; // the intermediate's status is collected below
    const pid_t intermediate = ::fork();
    if (intermediate < 0)
        return startFailure(errno);
    if (intermediate == 0) {
        ::setsid();
        const pid_t program = ::fork();
        if (program == 0)
            becomeProgram(options, image, false, devNull.get(),
                          options.output >= 0 ? options.output : devNull.get(), reportWrite.get());
        const pid_t told = program > 0 ? program : -errno;
        ::_exit(::write(pidWrite.get(), &told, sizeof told) == sizeof told ? 0 : 1);
    }
    pidWrite.reset();
    reportWrite.reset();
    pid_t program = 0;
    const bool told = readValue(pidRead.get(), program);
    while (::waitpid(intermediate, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (!told)
        return startFailure(ECHILD);
    if (program < 0)
        return startFailure(-program);
    // The report pipe ends when exec closes the program's end of it.
    if (int error = 0; readValue(reportRead.get(), error))
        return startFailure(error);
    return program;
}

} // namespace platform
