#include "platform/ServiceManager.h"

#include "CNSLog.h"
#include "platform/ChildProcess.h"
#include "platform/ExecutableInfo.h"
#include "platform/FileDescriptor.h"
#include "platform/Identifier.h"
#include "platform/ProcessInfo.h"
#include "platform/Signature.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

using Failure = ServiceManager::Failure;

std::atomic<int64_t> s_systemctlTimeLimit{ServiceManager::kSystemctlTimeLimit.count()};
std::atomic<int64_t> s_authorizationTimeLimit{ServiceManager::kAuthorizationTimeLimit.count()};

Failure failure(int code, std::string description) {
    return Failure{ServiceManager::kErrorDomain, code, std::move(description)};
}

Failure systemFailure(const std::string& what, int error) {
    return failure(error, what + ": " + std::strerror(error));
}

/// "30 seconds", or "300 milliseconds" for a limit below a second.
std::string durationText(std::chrono::milliseconds duration) {
    if (duration.count() % 1000 != 0 && duration.count() < 1000)
        return std::to_string(duration.count()) + " milliseconds";
    return std::to_string(duration.count() / 1000) + " seconds";
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

/// Runs systemctl with \p arguments; it fails unless systemctl exits with 0.
Result<void> systemctl(const std::vector<std::string>& arguments) {
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
    options.timeLimit = ServiceManager::timeLimits().systemctl;
    const auto outcome = ChildProcess::run(options);
    if (outcome.succeeded())
        return {};
    std::string description = command + " failed: " + outcome.describe();
    if (const std::string said = lastLine(outcome.output); !said.empty())
        description += ": " + said;
    return failure(outcome.kind == ChildProcess::Outcome::Kind::TimedOut ? ETIMEDOUT : EIO, description);
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

/// Writes \p text to a new or emptied file at \p path with \p mode; a link
/// planted at \p path is not followed.
Result<void> writeTextFile(const std::string& path, const std::string& text, mode_t mode) {
    errno = 0;
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode));
    if (file.get() < 0 ||
        ::write(file.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        ::fchmod(file.get(), mode) != 0 || file.close() != 0)
        return systemFailure("Cannot write " + path, errno ? errno : EIO);
    return {};
}

/// The public signing key embedded in the executable at \p path; nothing when
/// there is no such file or it carries no key (an agent from before signing).
std::optional<std::string> signingKeyOf(const std::string& path) {
    if (path.empty())
        return std::nullopt;
    const auto info = ExecutableInfo::read(path);
    const auto hex = info ? info->string(Signature::kPublicKeyInfoKey) : std::nullopt;
    auto key = hex ? Signature::fromHex(*hex) : std::nullopt;
    if (!key || key->size() != Signature::kPublicKeyBytes)
        return std::nullopt;
    return key;
}

/// The executable of the job installed as \p label, also when an earlier
/// replacement was cut short with it still set aside; empty when none is.
std::string installedExecutable(const std::string& label) {
    const std::string installed = ServiceManager::installedExecutablePath(label);
    const std::string previous = installed + ".previous";
    if (exists(installed))
        return installed;
    return exists(previous) ? previous : std::string();
}

/// The user who asked for the installation: the one pkexec names, otherwise
/// the caller's real user.
uid_t invokingUser() {
    if (const char* invoker = std::getenv("PKEXEC_UID")) {
        char* end = nullptr;
        errno = 0;
        const unsigned long uid = std::strtoul(invoker, &end, 10);
        if (errno == 0 && end != invoker && *end == '\0' && invoker[0] != '-' && uid <= 0xFFFFFFFEul)
            return static_cast<uid_t>(uid);
    }
    return ::getuid();
}

std::string userText(uid_t uid) {
    const passwd* user = ::getpwuid(uid);
    return user ? "user " + std::string(user->pw_name) + " (uid " + std::to_string(uid) + ")"
                : "uid " + std::to_string(uid);
}

/// True when the group \p gid may have a member other than root and \p invoker:
/// a listed member or a user whose primary group it is.
bool groupHasOthers(gid_t gid, uid_t invoker) {
    const group* found = ::getgrgid(gid);
    if (!found)
        return true;
    std::vector<std::string> members;
    for (char** member = found->gr_mem; member && *member; ++member)
        members.emplace_back(*member);
    for (const auto& name : members) {
        const passwd* user = ::getpwnam(name.c_str());
        if (!user || (user->pw_uid != 0 && user->pw_uid != invoker))
            return true;
    }
    bool others = false;
    ::setpwent();
    while (const passwd* user = ::getpwent())
        if (user->pw_gid == gid && user->pw_uid != 0 && user->pw_uid != invoker)
            others = true;
    ::endpwent();
    return others;
}

/// Who other than root and \p invoker may change the entry \p info (a folder
/// when \p folder); empty when nobody may. A folder with the sticky bit may be
/// writable by others, as its entries stay their owners'.
std::string otherWriters(const struct stat& info, bool folder, uid_t invoker) {
    if (info.st_uid != 0 && info.st_uid != invoker)
        return "its owner, " + userText(info.st_uid);
    const bool sticky = folder && (info.st_mode & S_ISVTX);
    if ((info.st_mode & S_IWOTH) && !sticky)
        return "everyone";
    if ((info.st_mode & S_IWGRP) && !sticky && groupHasOthers(info.st_gid, invoker)) {
        const group* found = ::getgrgid(info.st_gid);
        return "the group " + (found ? std::string(found->gr_name) : std::to_string(info.st_gid));
    }
    return {};
}

Failure refusal(int code, const std::string& helperPath, const std::string& why) {
    const std::string description = "Refusing the helper " + helperPath + ": " + why;
    OCNSLog("%@", description);
    return failure(code, description);
}

/// First installation: the helper at \p resolved (described by \p file) and
/// every folder above it may be changed by root and the invoking user only.
Result<void> checkHelperLocation(const std::string& helperPath, const std::string& resolved,
                                 const struct stat& file) {
    const uid_t invoker = invokingUser();
    std::string place = resolved;
    struct stat info = file;
    for (bool folder = false;; folder = true) {
        if (const std::string writers = otherWriters(info, folder, invoker); !writers.empty())
            return refusal(EPERM, helperPath, place + " can be changed by " + writers);
        if (place == "/")
            return {};
        const size_t slash = place.find_last_of('/');
        place = slash == 0 ? "/" : place.substr(0, slash);
        if (::lstat(place.c_str(), &info) != 0)
            return systemFailure("Cannot use the helper " + helperPath, errno);
    }
}

/// The bytes of the helper at \p helperPath, read once through one descriptor
/// and accepted only when the installed agent's key (when \p installed carries
/// one) signed exactly them, or else when nobody but root and the invoking user
/// can change the helper.
Result<std::string> readHelper(const std::string& helperPath, const std::string& installed) {
    char resolved[PATH_MAX];
    if (!::realpath(helperPath.c_str(), resolved))
        return systemFailure("Cannot use the helper " + helperPath, errno);
    // O_NONBLOCK: a FIFO planted as the helper must not stall the installation.
    const FileDescriptor in(::open(resolved, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat file {};
    if (!in.valid() || ::fstat(in.get(), &file) != 0)
        return systemFailure("Cannot use the helper " + helperPath, errno);
    if (!S_ISREG(file.st_mode))
        return systemFailure("Cannot use the helper " + helperPath, EINVAL);
    if (file.st_size <= 0 || file.st_size > static_cast<off_t>(ServiceManager::kMaxHelperSize))
        return failure(EFBIG, "Cannot use the helper " + helperPath + ": its size, " +
                                  std::to_string(file.st_size) + " bytes, is not that of a helper");
    std::string bytes(static_cast<size_t>(file.st_size), '\0');
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::read(in.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return systemFailure("Cannot read the helper " + helperPath, n == 0 ? EIO : errno);
        done += static_cast<size_t>(n);
    }

    const auto key = signingKeyOf(installed);
    if (!key) {
        if (auto located = checkHelperLocation(helperPath, resolved, file); !located)
            return located.failure();
        return bytes;
    }
    const std::string signaturePath = helperPath + Signature::kFileSignatureSuffix;
    const auto signature = Signature::readHexFile(signaturePath, Signature::kSignatureBytes);
    if (!signature)
        return refusal(EBADMSG, helperPath,
                       "its signature cannot be read from " + signaturePath + ": " +
                           signature.failure().description);
    if (!Signature::verifyFile(bytes, *signature, *key))
        return refusal(EBADMSG, helperPath,
                       "its signature does not verify with the key of the installed helper " + installed);
    return bytes;
}

/// Writes \p bytes to the new file \p to, owned by root with mode 0755 and on
/// disk before it is used.
Result<void> writeExecutable(std::string_view bytes, const std::string& to) {
    ::unlink(to.c_str());
    FileDescriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700));
    if (out.get() < 0)
        return systemFailure("Cannot write " + to, errno);
    Result<void> done;
    for (size_t written = 0; written < bytes.size() && done;) {
        const ssize_t n = ::write(out.get(), bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            done = systemFailure("Cannot write " + to, n == 0 ? EIO : errno);
        else
            written += static_cast<size_t>(n);
    }
    if (done && (::fchown(out.get(), 0, 0) != 0 || ::fchmod(out.get(), 0755) != 0 ||
                 ::fsync(out.get()) != 0 || out.close() != 0))
        done = systemFailure("Cannot install " + to, errno);
    if (!done)
        ::unlink(to.c_str());
    return done;
}

// True while the process \p pid exists and has not ended (a zombie has ended).
bool processAlive(pid_t pid) {
    return ProcessInfo::processStartTime(pid).has_value();
}

/// How often a start or an end is looked for.
constexpr std::chrono::milliseconds kPollInterval{2};

/// True once the process \p pid has ended, false when it still runs after \p limit.
bool waitForEnd(pid_t pid, std::chrono::milliseconds limit) {
    for (const auto deadline = std::chrono::steady_clock::now() + limit; processAlive(pid);) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

// The pid in the job's pid file when that process still runs the installed
// executable, or (\p replacedToo) the one that was installed before it.
pid_t runningJobPid(const std::string& label, bool replacedToo = true) {
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
    if (target != installed && (!replacedToo || target != installed + " (deleted)"))
        return 0;
    return processAlive(static_cast<pid_t>(pid)) ? static_cast<pid_t>(pid) : 0;
}

/// Opens the console log at \p path for appending (made with mode 0600 when
/// missing, with \p flags added to the opening flags), without following a
/// link planted there; nothing, and a log line why, unless it is a regular
/// file of root's with no other name.
FileDescriptor openConsoleLog(const std::string& path, int flags) {
    FileDescriptor log(::open(
        path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | flags, 0600));
    struct stat info {};
    std::string problem;
    if (!log.valid())
        problem = errno == ELOOP ? std::string("it is a symbolic link") : std::strerror(errno);
    else if (::fstat(log.get(), &info) != 0)
        problem = std::strerror(errno);
    else if (!S_ISREG(info.st_mode))
        problem = "it is not a regular file";
    else if (info.st_uid != 0)
        problem = "it is owned by " + userText(info.st_uid) + ", not root";
    else if (info.st_nlink != 1)
        problem = "it has " + std::to_string(info.st_nlink) + " names";
    if (problem.empty())
        return log;
    OCNSLog("The console log %@ is not used, the job's output is discarded: %@", path, problem);
    return FileDescriptor();
}

/// The job's console log, ready for appending; a log that has reached
/// kConsoleLogRotationSize is first moved aside to "<path>.1" (replacing an
/// older one) and a new one started. Nothing when it cannot be used.
FileDescriptor consoleLog(const std::string& label) {
    const std::string path = ServiceManager::consoleLogPath(label);
    FileDescriptor log = openConsoleLog(path, 0);
    struct stat info {};
    if (!log.valid() || ::fstat(log.get(), &info) != 0 ||
        info.st_size < static_cast<off_t>(ServiceManager::kConsoleLogRotationSize))
        return log;
    log.reset();
    if (::rename(path.c_str(), (path + ".1").c_str()) != 0) {
        OCNSLog("The console log %@ is not used, the job's output is discarded: it cannot be moved aside: %@",
                path, std::strerror(errno));
        return FileDescriptor();
    }
    // O_EXCL: the new log is the one made here, not one planted since.
    return openConsoleLog(path, O_EXCL);
}

/// Starts the job as a daemon of its own session, nobody's child but init's,
/// and records its pid. What it prints goes to its console log,
/// /var/log/<label>.log, as systemd would keep it in its journal.
Result<void> startDetached(const std::string& label, const std::string& executable) {
    const FileDescriptor log = consoleLog(label);
    ChildProcess::Options options;
    options.arguments = {executable};
    options.workingFolder = "/";
    options.output = log.get();
    const auto daemon = ChildProcess::startDetached(options);
    if (!daemon)
        return systemFailure("Cannot start " + label, daemon.failure().code);
    return writeTextFile(ServiceManager::pidFilePath(label), std::to_string(*daemon) + "\n", 0644);
}

Result<void> startWithSystemd(const std::string& label, const std::string& executable) {
    if (auto written =
            writeTextFile(ServiceManager::unitPath(label), ServiceManager::unitText(label, executable), 0644);
        !written)
        return written;
    if (auto reloaded = systemctl({"daemon-reload"}); !reloaded)
        return reloaded;
    return systemctl({"start", label + ".service"});
}

Result<void> startJob(const std::string& label, const std::string& executable) {
    // A stale socket file would make the listener test pass before the new
    // agent listens; the agent removes it too, but only once it runs.
    ::unlink(ServiceManager::socketPath(label).c_str());
    auto started = ServiceManager::systemdRunning() ? startWithSystemd(label, executable)
                                                    : startDetached(label, executable);
    if (!started)
        return started;
    if (!ServiceManager::waitForListener(ServiceManager::socketPath(label), ServiceManager::kStartTimeout))
        return failure(ETIMEDOUT, "The privileged helper " + label + " did not accept connections within " +
                                      durationText(ServiceManager::kStartTimeout));
    return {};
}

Result<void> writeJobRecord(const std::string& label) {
    PropertyList record;
    record.set("Label", label);
    record.set("ProgramArguments", std::vector<std::string>{ServiceManager::installedExecutablePath(label)});
    if (const auto written = record.writeFile(ServiceManager::jobRecordPath(label)); !written)
        return failure(written.failure().code, written.failure().description);
    // Readable by the application, which looks the job up, whatever the umask.
    ::chmod(ServiceManager::jobRecordPath(label).c_str(), 0644);
    return {};
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
    auto restarted = writeJobRecord(label);
    if (restarted)
        restarted = startJob(label, installed);
    if (!restarted)
        OCNSLog("Cannot restart the previous helper %@: %@", label, restarted.failure().description);
}

/// True when the file at \p path is root's, mode 0755, and holds exactly \p bytes.
bool holdsExactly(const std::string& path, std::string_view bytes) {
    const FileDescriptor in(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!in.valid() || ::fstat(in.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != 0 ||
        (info.st_mode & 07777) != 0755 || info.st_size != static_cast<off_t>(bytes.size()))
        return false;
    std::string chunk(size_t{1} << 20, '\0');
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::read(in.get(), chunk.data(), std::min(chunk.size(), bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || std::memcmp(chunk.data(), bytes.data() + done, static_cast<size_t>(n)) != 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

/// True when the job \p label runs its installed executable: its systemd unit,
/// the one installing would write, is active, or the process in its pid file
/// runs that very file (not one replaced since it started).
bool jobRunsInstalled(const std::string& label) {
    if (!ServiceManager::systemdRunning())
        return runningJobPid(label, false) != 0;
    std::ifstream unit(ServiceManager::unitPath(label));
    const std::string text((std::istreambuf_iterator<char>(unit)), std::istreambuf_iterator<char>());
    return text == ServiceManager::unitText(label, ServiceManager::installedExecutablePath(label)) &&
           systemctl({"is-active", "--quiet", label + ".service"});
}

/// True when installing \p bytes as \p label would change nothing: the job
/// record names the installed executable, which holds exactly \p bytes, the
/// job runs it and answers \p probe with the version those bytes carry.
/// Checked from the cheapest to the one that talks to the job.
bool isInstalledAndAnswering(const std::string& label, std::string_view bytes,
                             const ServiceManager::VersionProbe& probe) {
    const std::string installed = ServiceManager::installedExecutablePath(label);
    const auto record = ServiceManager::copyJobDictionary(label);
    if (!record || record->string("Label") != label ||
        record->stringArray("ProgramArguments") != std::vector<std::string>{installed} ||
        exists(installed + ".previous") || exists(installed + ".new"))
        return false;
    if (!holdsExactly(installed, bytes) || !jobRunsInstalled(label))
        return false;
    const auto info = ExecutableInfo::read(installed);
    const auto version = info ? info->text("CFBundleVersion") : std::nullopt;
    if (!version || probe(label) != version)
        return false;
    OCNSLog("The privileged helper %@ is already installed and running at version %@; kept", label, *version);
    return true;
}

/// Runs the root side of bless through pkexec at \p pkexec and tells apart
/// how it ended. pkexec prints why it refused; each line goes to the log.
Result<void> blessThroughPkexec(const std::string& pkexec, const std::string& label,
                                const std::string& helperPath) {
    ChildProcess::Options options;
    // Where an agent that carries the signing key is installed, that agent,
    // root's own file, decides whether the new helper may replace it.
    const std::string installed = installedExecutable(label);
    if (signingKeyOf(installed))
        options.arguments = {pkexec, installed, "--bless-job", label, helperPath};
    else
        options.arguments = {pkexec, helperPath, "--bless-job", label};
    options.timeLimit = ServiceManager::timeLimits().authorization;
    options.onLine = [](const std::string& line) { OCNSLog("pkexec: %@", line); };
    const auto outcome = ChildProcess::run(options);
    using Kind = ChildProcess::Outcome::Kind;
    if (outcome.succeeded()) {
        if (ServiceManager::waitForListener(ServiceManager::socketPath(label), ServiceManager::kStartTimeout))
            return {};
        return failure(ETIMEDOUT, "The privileged helper " + label + " does not accept connections");
    }
    if (outcome.kind == Kind::TimedOut)
        return failure(ETIMEDOUT, "pkexec did not finish within " + durationText(options.timeLimit));
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

ServiceManager::TimeLimits ServiceManager::timeLimits() {
    return {std::chrono::milliseconds(s_systemctlTimeLimit.load()),
            std::chrono::milliseconds(s_authorizationTimeLimit.load())};
}

void ServiceManager::setTimeLimits(const TimeLimits& limits) {
    s_systemctlTimeLimit = limits.systemctl.count();
    s_authorizationTimeLimit = limits.authorization.count();
}

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
        const FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (socket.get() < 0)
            return false;
        if (::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        // A started agent listens within milliseconds; every pause here is
        // time the installation waits for nothing.
        std::this_thread::sleep_for(kPollInterval);
    }
}

Result<void> ServiceManager::bless(const std::string& label, const std::string& helperPath,
                                   const Authorization* authorization, const VersionProbe& probe) {
    if (!Identifier::isValid(label))
        return failure(EINVAL, "Invalid job label: " + label);
    if (!authorization || !authorization->holdsRight(Authorization::kBlessHelperRight))
        return failure(Authorization::Denied, "The right to install a privileged helper was not granted");
    if (geteuid() == 0)
        return installAsRoot(label, helperPath, probe);
    if (authorization->elevation() != Authorization::Elevation::Pkexec)
        return failure(Authorization::InteractionNotAllowed,
                       "Installing a privileged helper needs root rights or elevation through pkexec");
    const std::string pkexec = Authorization::findPkexec();
    if (pkexec.empty())
        return failure(Authorization::InteractionNotAllowed, "pkexec is not installed");
    return blessThroughPkexec(pkexec, label, helperPath);
}

std::optional<PropertyList> ServiceManager::copyJobDictionary(const std::string& label) {
    if (!Identifier::isValid(label))
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
            if (auto stopped = systemctl({"stop", label + ".service"}); !stopped)
                OCNSLog("Cannot stop the job %@: %@", label, stopped.failure().description);
        return;
    }
    const pid_t pid = runningJobPid(label);
    if (pid <= 0 || pid == selfPid)
        return;
    // The pid was checked to be the job's; from here on only whether it still
    // lives matters (an exiting process loses its executable link before it ends).
    ::kill(pid, SIGTERM);
    if (!waitForEnd(pid, std::chrono::seconds(3))) {
        ::kill(pid, SIGKILL);
        waitForEnd(pid, std::chrono::seconds(2));
    }
}

Result<void> ServiceManager::installAsRoot(const std::string& label, const std::string& helperPath,
                                           const VersionProbe& probe) {
    if (!Identifier::isValid(label))
        return failure(EINVAL, "Invalid job label: " + label);
    if (geteuid() != 0)
        return failure(EPERM, "Installing a privileged helper needs root rights");
    for (const char* folder : {"/usr/local", "/usr/local/libexec", "/etc/privileged-helpers", "/var/run"})
        if (!makeFolder(folder))
            return systemFailure(std::string("Cannot make ") + folder, errno);

    const std::string installed = installedExecutablePath(label);
    const std::string previous = previousExecutablePath(label);
    const std::string incoming = installed + ".new";
    const auto helper = readHelper(helperPath, installedExecutable(label));
    if (!helper)
        return helper.failure();
    if (probe && isInstalledAndAnswering(label, *helper, probe))
        return {};
    if (auto written = writeExecutable(*helper, incoming); !written)
        return written;
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
        if (auto restarted = startJob(label, installed); !restarted)
            OCNSLog("Cannot restart the helper %@: %@", label, restarted.failure().description);
        return systemFailure("Cannot replace " + installed, error);
    }
    Result<void> done;
    if (::rename(incoming.c_str(), installed.c_str()) != 0)
        done = systemFailure("Cannot install " + installed, errno);
    if (done)
        done = writeJobRecord(label);
    if (done)
        done = startJob(label, installed);
    if (!done) {
        ::unlink(incoming.c_str());
        rollBack(label, hadJob);
        return done;
    }
    ::unlink(previous.c_str());
    return {};
}

bool ServiceManager::removeJobFilesAsRoot(const std::string& label) {
    if (!Identifier::isValid(label))
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
        else if (systemdRunning() && !systemctl({"daemon-reload"}))
            removed = false;
    }
    return removed;
}

} // namespace platform
