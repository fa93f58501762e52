#include "agent/CommandRunner.h"

#include "CNSLog.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr size_t kKeptOutput = 4096;
constexpr size_t kLongestLine = 2048;

/// Splits what arrives into lines and logs each one.
class LineLogger {
public:
    explicit LineLogger(const std::string& prefix) : m_prefix(prefix) {}
    LineLogger(const LineLogger&) = delete;
    LineLogger& operator=(const LineLogger&) = delete;

    void add(const char* data, size_t size, std::string& kept) {
        kept.append(data, size);
        if (kept.size() > kKeptOutput)
            kept.erase(0, kept.size() - kKeptOutput);
        for (size_t i = 0; i < size; ++i) {
            if (data[i] == '\n' || m_line.size() >= kLongestLine)
                flush();
            if (data[i] != '\n')
                m_line += data[i];
        }
    }
    void flush() {
        if (!m_line.empty())
            OCNSLog("%@: %@", m_prefix, m_line);
        m_line.clear();
    }

private:
    const std::string& m_prefix;
    std::string m_line;
};

/// With SIGCHLD ignored the kernel reaps children itself and their exit status
/// is lost; a failing script would then look like a successful one. Restores
/// the previous action afterwards.
class ChildSignalGuard {
public:
    ChildSignalGuard() {
        s_mutex.lock();
        struct sigaction current {};
        ::sigaction(SIGCHLD, nullptr, &current);
        if (current.sa_handler == SIG_IGN || (current.sa_flags & SA_NOCLDWAIT)) {
            m_saved = current;
            struct sigaction normal {};
            normal.sa_handler = SIG_DFL;
            sigemptyset(&normal.sa_mask);
            ::sigaction(SIGCHLD, &normal, nullptr);
            m_changed = true;
        }
    }
    ~ChildSignalGuard() {
        if (m_changed)
            ::sigaction(SIGCHLD, &m_saved, nullptr);
        s_mutex.unlock();
    }
    ChildSignalGuard(const ChildSignalGuard&) = delete;
    ChildSignalGuard& operator=(const ChildSignalGuard&) = delete;

private:
    static inline std::mutex s_mutex;
    struct sigaction m_saved {};
    bool m_changed = false;
};

} // namespace

std::string CommandRunner::Outcome::describe() const {
    switch (kind) {
    case Kind::Exited:
        return "exited with status " + std::to_string(code);
    case Kind::Signaled:
        return std::string("was killed by signal ") + std::to_string(code);
    case Kind::TimedOut:
        return "did not finish within its time limit and was killed";
    case Kind::StatusLost:
        return "ended without an exit status the agent could collect";
    case Kind::NotStarted:
        return std::string("could not be started: ") + std::strerror(code);
    }
    return "ended in an unknown way";
}

std::string CommandRunner::resolve(const std::string& name) {
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos)
        return name;
    const std::string path = kPath;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find(':', start), path.size());
        const std::string candidate = path.substr(start, end - start) + "/" + name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

CommandRunner::Outcome CommandRunner::run(const std::vector<std::string>& argv,
                                          const std::map<std::string, std::string>& environment,
                                          std::chrono::milliseconds limit, const std::string& logPrefix,
                                          const std::string& folder) {
    Outcome outcome;
    if (argv.empty()) {
        outcome.code = EINVAL;
        return outcome;
    }
    const std::string program = resolve(argv[0]);
    if (program.empty()) {
        outcome.code = ENOENT;
        return outcome;
    }

    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls.
    std::vector<std::string> envText{std::string("PATH=") + kPath};
    for (const auto& [name, value] : environment)
        if (name != "PATH")
            envText.push_back(name + "=" + value);
    std::vector<char*> envList;
    for (auto& item : envText)
        envList.push_back(item.data());
    envList.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argList;
    for (auto& item : args)
        argList.push_back(item.data());
    argList.push_back(nullptr);

    ChildSignalGuard guard;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        outcome.code = errno;
        return outcome;
    }
    int startPipe[2]; // reports a failed exec to the parent
    if (::pipe2(startPipe, O_CLOEXEC) != 0) {
        outcome.code = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return outcome;
    }
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t child = ::fork();
    if (child < 0) {
        outcome.code = errno;
        for (int fd : {pipeFds[0], pipeFds[1], startPipe[0], startPipe[1], devNull})
            if (fd >= 0)
                ::close(fd);
        return outcome;
    }
    if (child == 0) {
        ::setsid();
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP})
            ::signal(sig, SIG_DFL);
        if (devNull >= 0)
            ::dup2(devNull, STDIN_FILENO);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::dup2(pipeFds[1], STDERR_FILENO);
        // Nothing the agent holds open (client connections, the log file)
        // reaches the program; the start pipe stays open until exec.
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        ::umask(022);
        if (::chdir(folder.c_str()) != 0 && ::chdir("/") != 0) {
        }
        ::execve(program.c_str(), argList.data(), envList.data());
        const int error = errno;
        if (::write(startPipe[1], &error, sizeof error) < 0) {
        }
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    ::close(startPipe[1]);
    if (devNull >= 0)
        ::close(devNull);

    LineLogger logger(logPrefix);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    bool ended = false;
    bool killed = false;
    bool outputOpen = true;
    bool statusLost = false;
    while (!ended) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 && !killed) {
            ::kill(-child, SIGKILL);
            ::kill(child, SIGKILL);
            killed = true;
        }
        if (outputOpen) {
            // Short waits so that the end of the child is noticed even when
            // something it started keeps the output open.
            pollfd fd{pipeFds[0], POLLIN, 0};
            const int wait = static_cast<int>(std::min<long long>(std::max<long long>(left.count(), 0), 100));
            const int ready = ::poll(&fd, 1, killed ? 100 : wait);
            if (ready > 0) {
                char buffer[4096];
                const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
                if (n > 0)
                    logger.add(buffer, static_cast<size_t>(n), outcome.output);
                else if (n == 0 || (errno != EINTR && errno != EAGAIN))
                    outputOpen = false;
            }
        } else {
            ::usleep(10000);
        }
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) {
            ended = true;
        } else if (done < 0 && errno != EINTR) {
            statusLost = true;
            ended = true;
        }
    }
    // Whatever is already in the pipe still belongs to the log.
    ::fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    for (char buffer[4096];;) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        logger.add(buffer, static_cast<size_t>(n), outcome.output);
    }
    logger.flush();
    ::close(pipeFds[0]);

    int startError = 0;
    const ssize_t got = ::read(startPipe[0], &startError, sizeof startError);
    ::close(startPipe[0]);
    if (got == sizeof startError) {
        outcome.kind = Outcome::Kind::NotStarted;
        outcome.code = startError;
    } else if (statusLost) {
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
