#include "platform/ServiceManager.h"

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

// Runs \p argv and waits; the exit status, or -1 when it could not run.
int runAndWait(const std::vector<std::string>& argv) {
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        // SIGCHLD may be ignored by the caller; the child restores it for its own children.
        signal(SIGCHLD, SIG_DFL);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1; // SIGCHLD ignored: the child was reaped for us
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::optional<Failure> copyExecutable(const std::string& from, const std::string& to) {
    const std::string temporary = to + ".new";
    std::ifstream in(from, std::ios::binary);
    if (!in)
        return systemFailure("Cannot read the helper " + from, errno ? errno : ENOENT);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << in.rdbuf();
        out.flush();
        if (!out) {
            ::unlink(temporary.c_str());
            return systemFailure("Cannot write " + temporary, errno ? errno : EIO);
        }
    }
    if (::chown(temporary.c_str(), 0, 0) != 0 || ::chmod(temporary.c_str(), 0755) != 0 ||
        ::rename(temporary.c_str(), to.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return systemFailure("Cannot install " + to, error);
    }
    return std::nullopt;
}

// True while the process \p pid exists and has not ended (a zombie has ended).
bool processAlive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    // The state follows the command name, which is in parentheses and may hold blanks.
    const auto close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size())
        return false;
    const char state = line[close + 2];
    return state != 'Z' && state != 'X';
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
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return systemFailure("Cannot start " + label, errno);
    const pid_t child = fork();
    if (child < 0)
        return systemFailure("Cannot start " + label, errno);
    if (child == 0) {
        // First child: a new session, then the daemon as its own child, so it
        // is nobody's child but init's and never takes a terminal.
        setsid();
        const pid_t daemon = fork();
        if (daemon != 0) {
            (void)!write(report[1], &daemon, sizeof daemon);
            _exit(daemon > 0 ? 0 : 1);
        }
        signal(SIGCHLD, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        // Standard input is empty; what the daemon prints goes to its console
        // log, /var/log/<label>.log, as systemd would keep it in its journal.
        const int null = ::open("/dev/null", O_RDWR);
        const int log =
            ::open(ServiceManager::consoleLogPath(label).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0640);
        if (null >= 0)
            dup2(null, STDIN_FILENO);
        if (log >= 0 || null >= 0) {
            dup2(log >= 0 ? log : null, STDOUT_FILENO);
            dup2(log >= 0 ? log : null, STDERR_FILENO);
        }
        if (::chdir("/") != 0)
            _exit(126);
        execl(executable.c_str(), executable.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(report[1]);
    pid_t daemon = -1;
    const ssize_t n = read(report[0], &daemon, sizeof daemon);
    close(report[0]);
    int status = 0;
    waitpid(child, &status, 0);
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
    unit << "[Unit]\nDescription=Privileged helper " << label << "\n\n"
         << "[Service]\nType=simple\nExecStart=" << executable << "\nRestart=no\n";
    unit.close();
    if (!unit)
        return systemFailure("Cannot write " + ServiceManager::unitPath(label), errno ? errno : EIO);
    if (runAndWait({"systemctl", "daemon-reload"}) != 0)
        return failure(EIO, "systemctl daemon-reload failed");
    if (runAndWait({"systemctl", "start", label + ".service"}) != 0)
        return failure(EIO, "systemctl start " + label + ".service failed");
    return std::nullopt;
}

} // namespace

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
    // pkexec answers 126 when the user dismissed or failed the dialog and 127
    // when no authentication agent could ask.
    const int status = runAndWait({pkexec, helperPath, "--bless-job", label});
    if (status == 0)
        return waitForListener(socketPath(label), kStartTimeout)
                   ? std::nullopt
                   : std::optional(failure(ETIMEDOUT, "The privileged helper " + label +
                                                          " does not accept connections"));
    if (status == 126)
        return failure(Authorization::Canceled, "The administrator authorization was refused");
    if (status == 127)
        return failure(Authorization::InteractionNotAllowed,
                       "No authentication agent could ask for authorization");
    return failure(status, "Installing the privileged helper " + label + " failed with status " +
                               std::to_string(status));
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
            runAndWait({"systemctl", "stop", label + ".service"});
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

    stopJobAsRoot(label);
    for (const char* folder : {"/usr/local", "/usr/local/libexec", "/etc/privileged-helpers", "/var/run"})
        if (!makeFolder(folder))
            return systemFailure(std::string("Cannot make ") + folder, errno);

    const std::string installed = installedExecutablePath(label);
    if (auto copyFailed = copyExecutable(helperPath, installed))
        return copyFailed;

    PropertyList record;
    record.set("Label", label);
    record.set("ProgramArguments", std::vector<std::string>{installed});
    if (!record.writeFile(jobRecordPath(label)))
        return systemFailure("Cannot write " + jobRecordPath(label), errno ? errno : EIO);
    ::chmod(jobRecordPath(label).c_str(), 0644);

    // A stale socket file would make the listener test pass before the new
    // agent listens; the agent removes it too, but only once it runs.
    ::unlink(socketPath(label).c_str());
    auto started = systemdRunning() ? startWithSystemd(label, installed) : startDetached(label, installed);
    if (started)
        return started;
    if (!waitForListener(socketPath(label), kStartTimeout))
        return failure(ETIMEDOUT, "The privileged helper " + label + " did not accept connections within " +
                                      std::to_string(kStartTimeout.count() / 1000) + " seconds");
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
        else if (systemdRunning())
            runAndWait({"systemctl", "daemon-reload"});
    }
    return removed;
}

} // namespace platform
