#include "platform/ServiceManager.h"

#include "CNSLog.h"
#include "platform/ChildProcess.h"
#include "platform/ProcessInfo.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

using Failure = ServiceManager::Failure;

Failure failure(int code, std::string description) {
    return Failure{ServiceManager::kErrorDomain, code, std::move(description)};
}

Failure systemFailure(const std::string& what, int error) {
    return failure(error, what + ": " + std::strerror(error));
}

// A label becomes part of file names and a unit name: only plain characters.
bool validLabel(const std::string& label) {
    if (label.empty() || label.size() > 200 || label.front() == '.')
        return false;
    for (char c : label)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_'))
            return false;
    return true;
}

bool makeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

/// The last non-empty line of \p output, for an error description.
std::string lastLine(const std::string& output) {
    const size_t end = output.find_last_not_of("\n ");
    if (end == std::string::npos)
        return {};
    const size_t newline = output.rfind('\n', end);
    const size_t start = newline == std::string::npos ? 0 : newline + 1;
    return output.substr(start, end + 1 - start);
}

/// Runs systemctl with \p arguments; the failure, or nothing when it exited with 0.
std::optional<Failure> systemctl(const std::vector<std::string>& arguments) {
    std::string command = "systemctl";
    for (const auto& argument : arguments)
        command += " " + argument;
    const std::string program = ServiceManager::systemctlPath();
    if (program.empty())
        return failure(ENOENT, command + " failed: systemctl is not installed");
    ChildProcess::Options options;
    options.arguments = {program};
    options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
    options.environment = std::vector<std::string>{"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C"};
    options.timeLimit = ServiceManager::kSystemctlTimeLimit;
    const auto outcome = ChildProcess::run(options);
    if (outcome.succeeded())
        return std::nullopt;
    std::string description = command + " failed: " + outcome.describe();
    if (const std::string said = lastLine(outcome.output); !said.empty())
        description += ": " + said;
    return failure(outcome.kind == ChildProcess::Outcome::Kind::TimedOut ? ETIMEDOUT : EIO, description);
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// Copies the helper to \p to, owned by root with mode 0755.
std::optional<Failure> copyExecutable(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    if (!in)
        return systemFailure("Cannot read the helper " + from, errno ? errno : ENOENT);
    ::unlink(to.c_str());
    {
        std::ofstream out(to, std::ios::binary | std::ios::trunc);
        out << in.rdbuf();
        out.flush();
        if (!out) {
            ::unlink(to.c_str());
            return systemFailure("Cannot write " + to, errno ? errno : EIO);
        }
    }
    if (::chown(to.c_str(), 0, 0) != 0 || ::chmod(to.c_str(), 0755) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return systemFailure("Cannot install " + to, error);
    }
    return std::nullopt;
}

// True while the process \p pid exists and has not ended (a zombie has ended).
bool processAlive(pid_t pid) {
    return ProcessInfo::processStartTime(pid).has_value();
}

// The pid in the job's pid file when that process still runs the installed executable.
pid_t runningJobPid(const std::string& label) {
    std::ifstream in(ServiceManager::pidFilePath(label));
    long pid = 0;
    if (!(in >> pid) || pid <= 1)
        return 0;
    char exe[4096];
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t n = ::readlink(link.c_str(), exe, sizeof exe - 1);
    if (n <= 0)
        return 0;
    std::string target(exe, static_cast<size_t>(n));
    const std::string installed = ServiceManager::installedExecutablePath(label);
    // A replaced executable shows as "<path> (deleted)".
    if (target != installed && target != installed + " (deleted)")
        return 0;
    return processAlive(static_cast<pid_t>(pid)) ? static_cast<pid_t>(pid) : 0;
}

std::optional<Failure> startDetached(const std::string& label, const std::string& executable) {
    // Made before fork: the children only make async-signal-safe calls.
    const std::string logPath = ServiceManager::consoleLogPath(label);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return systemFailure("Cannot start " + label, errno);
    const pid_t child = fork();
    if (child < 0) {
        const int error = errno;
        close(report[0]);
        close(report[1]);
        return systemFailure("Cannot start " + label, error);
    }
    if (child == 0) {
        // First child: a new session, then the daemon as its own child, so it
        // is nobody's child but init's and never takes a terminal.
        setsid();
        const pid_t daemon = fork();
        if (daemon != 0) {
            (void)!write(report[1], &daemon, sizeof daemon);
            _exit(daemon > 0 ? 0 : 1);
        }
        for (int sig = 1; sig < NSIG; ++sig)
            if (sig != SIGKILL && sig != SIGSTOP)
                signal(sig, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        // Standard input is empty; what the daemon prints goes to its console
        // log, /var/log/<label>.log, as systemd would keep it in its journal.
        const int null = ::open("/dev/null", O_RDWR);
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0640);
        if (null >= 0)
            dup2(null, STDIN_FILENO);
        if (log >= 0 || null >= 0) {
            dup2(log >= 0 ? log : null, STDOUT_FILENO);
            dup2(log >= 0 ? log : null, STDERR_FILENO);
        }
        // Nothing the starting process holds open belongs to the daemon.
        ::close_range(3, ~0U, 0);
        if (::chdir("/") != 0)
            _exit(126);
        execl(executable.c_str(), executable.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(report[1]);
    pid_t daemon = -1;
    const ssize_t n = read(report[0], &daemon, sizeof daemon);
    close(report[0]);
    // Collected here unless the process ignores SIGCHLD, when the kernel does it.
    waitpid(child, nullptr, 0);
    if (n != sizeof daemon || daemon <= 0)
        return failure(ECHILD, "Cannot start " + label);
    std::ofstream pidFile(ServiceManager::pidFilePath(label), std::ios::trunc);
    pidFile << daemon << "\n";
    if (!pidFile)
        return systemFailure("Cannot write " + ServiceManager::pidFilePath(label), errno ? errno : EIO);
    return std::nullopt;
}

std::optional<Failure> startWithSystemd(const std::string& label, const std::string& executable) {
    std::ofstream unit(ServiceManager::unitPath(label), std::ios::trunc);
    unit << ServiceManager::unitText(label, executable);
    unit.close();
    if (!unit)
        return systemFailure("Cannot write " + ServiceManager::unitPath(label), errno ? errno : EIO);
    if (auto failed = systemctl({"daemon-reload"}))
        return failed;
    return systemctl({"start", label + ".service"});
}

std::optional<Failure> startJob(const std::string& label, const std::string& executable) {
    // A stale socket file would make the listener test pass before the new
    // agent listens; the agent removes it too, but only once it runs.
    ::unlink(ServiceManager::socketPath(label).c_str());
    auto failed = ServiceManager::systemdRunning() ? startWithSystemd(label, executable)
                                                   : startDetached(label, executable);
    if (failed)
        return failed;
    if (!ServiceManager::waitForListener(ServiceManager::socketPath(label), ServiceManager::kStartTimeout))
        return failure(ETIMEDOUT, "The privileged helper " + label + " did not accept connections within " +
                                      std::to_string(ServiceManager::kStartTimeout.count() / 1000) +
                                      " seconds");
    return std::nullopt;
}

std::optional<Failure> writeJobRecord(const std::string& label) {
    PropertyList record;
    record.set("Label", label);
    record.set("ProgramArguments", std::vector<std::string>{ServiceManager::installedExecutablePath(label)});
    if (!record.writeFile(ServiceManager::jobRecordPath(label)))
        return systemFailure("Cannot write " + ServiceManager::jobRecordPath(label), errno ? errno : EIO);
    ::chmod(ServiceManager::jobRecordPath(label).c_str(), 0644);
    return std::nullopt;
}

/// Where the executable of the job being replaced waits until the new one answers.
std::string previousExecutablePath(const std::string& label) {
    return ServiceManager::installedExecutablePath(label) + ".previous";
}

/// Undoes a failed installation: the new job is stopped and removed, and the
/// previous one (when \p hadJob) is put back and started again.
void rollBack(const std::string& label, bool hadJob) {
    ServiceManager::stopJobAsRoot(label);
    if (!hadJob) {
        ServiceManager::removeJobFilesAsRoot(label);
        return;
    }
    const std::string installed = ServiceManager::installedExecutablePath(label);
    if (::rename(previousExecutablePath(label).c_str(), installed.c_str()) != 0) {
        OCNSLog("Cannot put back the previous helper %@, error: %d", installed, errno);
        ServiceManager::removeJobFilesAsRoot(label);
        return;
    }
    auto failed = writeJobRecord(label);
    if (!failed)
        failed = startJob(label, installed);
    if (failed)
        OCNSLog("Cannot restart the previous helper %@: %@", label, failed->description);
}

/// Runs the root side of blessJob through pkexec at \p pkexec and tells apart
/// how it ended. pkexec prints why it refused; each line goes to the log.
std::optional<Failure> blessThroughPkexec(const std::string& pkexec, const std::string& label,
                                          const std::string& helperPath) {
    ChildProcess::Options options;
    options.arguments = {pkexec, helperPath, "--bless-job", label};
    options.timeLimit = ServiceManager::kAuthorizationTimeLimit;
    options.onLine = [](const std::string& line) { OCNSLog("pkexec: %@", line); };
    const auto outcome = ChildProcess::run(options);
    using Kind = ChildProcess::Outcome::Kind;
    if (outcome.succeeded()) {
        if (ServiceManager::waitForListener(ServiceManager::socketPath(label), ServiceManager::kStartTimeout))
            return std::nullopt;
        return failure(ETIMEDOUT, "The privileged helper " + label + " does not accept connections");
    }
    if (outcome.kind == Kind::TimedOut)
        return failure(ETIMEDOUT, "pkexec did not finish within " +
                                      std::to_string(ServiceManager::kAuthorizationTimeLimit.count() / 1000) +
                                      " seconds");
    if (outcome.kind != Kind::Exited)
        return failure(Authorization::InteractionNotAllowed, "pkexec " + outcome.describe());
    if (outcome.code == 126) {
        OCNSLog("pkexec: the administrator authorization was dismissed");
        return failure(Authorization::Canceled, "The administrator authorization was dismissed");
    }
    if (outcome.code == 127 && outcome.output.find("Not authorized") != std::string::npos) {
        OCNSLog("pkexec: the administrator authorization was refused");
        return failure(Authorization::Denied, "The administrator authorization was refused");
    }
    if (outcome.code == 127) {
        OCNSLog("pkexec: no authentication agent could ask for an administrator's authorization, or running "
                "the helper is not permitted");
        return failure(Authorization::InteractionNotAllowed,
                       "No authentication agent could ask for authorization, or running the helper is not "
                       "permitted: " +
                           lastLine(outcome.output));
    }
    return failure(outcome.code, "Installing the privileged helper " + label + " failed with status " +
                                     std::to_string(outcome.code));
}

} // namespace

std::string ServiceManager::systemctlPath() {
    for (const char* path : kSystemctlPaths) {
        struct stat info {};
        if (::stat(path, &info) == 0 && S_ISREG(info.st_mode) && ::access(path, X_OK) == 0)
            return path;
    }
    return {};
}

std::string ServiceManager::unitText(const std::string& label, const std::string& executable) {
    return "[Unit]\nDescription=Privileged helper " + label +
           "\n\n[Service]\nType=simple\nExecStart=" + executable + "\nRestart=no\nTimeoutStopSec=10\n";
}

std::string ServiceManager::installedExecutablePath(const std::string& label) {
    return "/usr/local/libexec/" + label;
}
std::string ServiceManager::jobRecordPath(const std::string& label) {
    return "/etc/privileged-helpers/" + label + ".plist";
}
std::string ServiceManager::pidFilePath(const std::string& label) {
    return "/var/run/" + label + ".pid";
}
std::string ServiceManager::consoleLogPath(const std::string& label) {
    return "/var/log/" + label + ".log";
}
std::string ServiceManager::socketPath(const std::string& label) {
    return "/var/run/" + label + ".socket";
}
std::string ServiceManager::unitPath(const std::string& label) {
    return "/etc/systemd/system/" + label + ".service";
}

bool ServiceManager::systemdRunning() {
    struct stat info {};
    return ::lstat("/run/systemd/system", &info) == 0 && S_ISDIR(info.st_mode);
}

bool ServiceManager::waitForListener(const std::string& path, std::chrono::milliseconds timeout) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (connected)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::optional<Failure> ServiceManager::blessJob(const std::string& label, const std::string& helperPath,
                                                const Authorization* authorization) {
    if (!validLabel(label))
        return failure(EINVAL, "Invalid job label: " + label);
    if (!authorization || !authorization->holdsRight(Authorization::kBlessHelperRight))
        return failure(Authorization::Denied, "The right to install a privileged helper was not granted");
    if (geteuid() == 0)
        return installJobAsRoot(label, helperPath);
    if (authorization->elevation() != Authorization::Elevation::Pkexec)
        return failure(Authorization::InteractionNotAllowed,
                       "Installing a privileged helper needs root rights or elevation through pkexec");
    const std::string pkexec = Authorization::findPkexec();
    if (pkexec.empty())
        return failure(Authorization::InteractionNotAllowed, "pkexec is not installed");
    return blessThroughPkexec(pkexec, label, helperPath);
}

std::optional<PropertyList> ServiceManager::copyJobDictionary(const std::string& label) {
    if (!validLabel(label))
        return std::nullopt;
    auto record = PropertyList::fromFile(jobRecordPath(label));
    if (!record || !record->stringArray("ProgramArguments") ||
        record->stringArray("ProgramArguments")->empty())
        return std::nullopt;
    return record;
}

void ServiceManager::stopJobAsRoot(const std::string& label, pid_t selfPid) {
    if (systemdRunning() && ::access(unitPath(label).c_str(), F_OK) == 0) {
        if (selfPid == 0)
            if (auto failed = systemctl({"stop", label + ".service"}))
                OCNSLog("Cannot stop the job %@: %@", label, failed->description);
        return;
    }
    const pid_t pid = runningJobPid(label);
    if (pid <= 0 || pid == selfPid)
        return;
    // The pid was checked to be the job's; from here on only whether it still
    // lives matters (an exiting process loses its executable link before it ends).
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 150 && processAlive(pid); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (processAlive(pid)) {
        ::kill(pid, SIGKILL);
        for (int i = 0; i < 100 && processAlive(pid); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::optional<Failure> ServiceManager::installJobAsRoot(const std::string& label,
                                                        const std::string& helperPath) {
    if (!validLabel(label))
        return failure(EINVAL, "Invalid job label: " + label);
    if (geteuid() != 0)
        return failure(EPERM, "Installing a privileged helper needs root rights");
    struct stat helper {};
    if (::stat(helperPath.c_str(), &helper) != 0 || !S_ISREG(helper.st_mode))
        return systemFailure("Cannot use the helper " + helperPath, errno ? errno : ENOENT);

    for (const char* folder : {"/usr/local", "/usr/local/libexec", "/etc/privileged-helpers", "/var/run"})
        if (!makeFolder(folder))
            return systemFailure(std::string("Cannot make ") + folder, errno);

    const std::string installed = installedExecutablePath(label);
    const std::string previous = previousExecutablePath(label);
    const std::string incoming = installed + ".new";
    if (auto failed = copyExecutable(helperPath, incoming))
        return failed;
    // An earlier replacement that was cut short may have left the previous
    // executable aside: that one is the installed job.
    if (!exists(installed) && exists(previous))
        ::rename(previous.c_str(), installed.c_str());
    ::unlink(previous.c_str());
    const bool hadJob = exists(installed) && copyJobDictionary(label).has_value();

    stopJobAsRoot(label);
    if (hadJob && ::rename(installed.c_str(), previous.c_str()) != 0) {
        const int error = errno;
        ::unlink(incoming.c_str());
        startJob(label, installed);
        return systemFailure("Cannot replace " + installed, error);
    }
    std::optional<Failure> failed;
    if (::rename(incoming.c_str(), installed.c_str()) != 0)
        failed = systemFailure("Cannot install " + installed, errno);
    if (!failed)
        failed = writeJobRecord(label);
    if (!failed)
        failed = startJob(label, installed);
    if (failed) {
        ::unlink(incoming.c_str());
        rollBack(label, hadJob);
        return failed;
    }
    ::unlink(previous.c_str());
    return std::nullopt;
}

bool ServiceManager::removeJobFilesAsRoot(const std::string& label) {
    if (!validLabel(label))
        return false;
    bool removed = true;
    for (const std::string& path :
         {jobRecordPath(label), installedExecutablePath(label), pidFilePath(label), socketPath(label)}) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            removed = false;
    }
    if (::access(unitPath(label).c_str(), F_OK) == 0) {
        if (::unlink(unitPath(label).c_str()) != 0)
            removed = false;
        else if (systemdRunning() && systemctl({"daemon-reload"}))
            removed = false;
    }
    return removed;
}

} // namespace platform
