#include "agent/PackageInstaller.h"

#include "agent/CommandRunner.h"
#include "agent/InstallerPackage.h"
#include "agent/PackagePaths.h"
#include "agent/PackageReceipt.h"
#include "platform/FileDescriptor.h"

#include "CNSLog.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using platform::FileDescriptor;

constexpr size_t kChunk = 1 << 20;

InstallResult writeFailure(int error, const std::string& what) {
    const auto status =
        (error == ENOSPC || error == EDQUOT) ? InstallResult::DiskFull : InstallResult::WriteFailed;
    return {status, what + ": " + std::strerror(error)};
}

std::string parentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string realPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

std::string utcStamp(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[64];
    std::strftime(text, sizeof text, format, &parts);
    return text;
}

/// Makes \p path and its missing parents (mode \p mode); the folders it made
/// are appended to \p made, outermost first. errno-style result.
int makeFolders(const std::string& path, mode_t mode, std::vector<std::string>* made) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    if (errno != ENOENT)
        return errno;
    if (const int error = makeFolders(parentOf(path), mode, made))
        return error;
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST)
        return errno;
    if (made)
        made->push_back(path);
    return 0;
}

/// Opens the file \p relative below the folder \p folder for reading, one
/// component at a time, following no symbolic link. -1 with errno on failure.
int openBelow(int folder, const std::string& relative) {
    int current = folder;
    size_t start = 0;
    for (;;) {
        const size_t slash = relative.find('/', start);
        const bool last = slash == std::string::npos;
        const std::string part = relative.substr(start, last ? std::string::npos : slash - start);
        const int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (last ? 0 : O_DIRECTORY);
        const int next = ::openat(current, part.c_str(), flags);
        const int error = errno;
        if (current != folder)
            ::close(current);
        if (next < 0 || last) {
            errno = error;
            return next;
        }
        current = next;
        start = slash + 1;
    }
}

/// Which side of a copy failed.
struct CopyError {
    enum class Side { None, Read, Write } side = Side::None;
    int error = 0;
    explicit operator bool() const { return side != Side::None; }
};

/// Copies \p size bytes from \p in to \p out, calling \p onChunk with the
/// bytes done so far.
CopyError copyData(int in, int out, uint64_t size, const std::function<void(uint64_t)>& onChunk) {
    uint64_t done = 0;
    bool kernelCopy = true;
    std::vector<char> buffer;
    while (done < size) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, size - done));
        ssize_t n = -1;
        if (kernelCopy) {
            n = ::copy_file_range(in, nullptr, out, nullptr, want, 0);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == ENOSPC || errno == EDQUOT)
                    return {CopyError::Side::Write, errno};
                kernelCopy = false; // not possible here, or an error whose side the plain copy will tell
                continue;
            }
        } else {
            buffer.resize(kChunk);
            n = ::read(in, buffer.data(), want);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return {CopyError::Side::Read, errno};
            }
            for (ssize_t written = 0; written < n;) {
                const ssize_t w = ::write(out, buffer.data() + written, static_cast<size_t>(n - written));
                if (w < 0) {
                    if (errno == EINTR)
                        continue;
                    return {CopyError::Side::Write, errno};
                }
                written += w;
            }
        }
        if (n == 0)
            return {CopyError::Side::Read, ENODATA}; // the file got shorter while being copied
        done += static_cast<uint64_t>(n);
        if (onChunk)
            onChunk(done);
    }
    return {};
}

/// Copies the file or link at \p from to \p to (which must not exist), keeping
/// permissions, times and, where allowed, the owner.
CopyError copyEntry(const std::string& from, const std::string& to) {
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0)
        return {CopyError::Side::Read, errno};
    if (S_ISLNK(info.st_mode)) {
        std::error_code ec;
        const auto target = fs::read_symlink(from, ec);
        if (ec)
            return {CopyError::Side::Read, ec.value()};
        if (::symlink(target.c_str(), to.c_str()) != 0)
            return {CopyError::Side::Write, errno};
        if (::lchown(to.c_str(), info.st_uid, info.st_gid) != 0) {
        } // only root may, and only root needs to
        return {};
    }
    FileDescriptor in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (in.get() < 0)
        return {CopyError::Side::Read, errno};
    FileDescriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (out.get() < 0)
        return {CopyError::Side::Write, errno};
    if (auto error = copyData(in.get(), out.get(), static_cast<uint64_t>(info.st_size), {})) {
        ::unlink(to.c_str());
        return error;
    }
    if (::fchown(out.get(), info.st_uid, info.st_gid) != 0) {
    }
    const timespec times[2] = {info.st_atim, info.st_mtim};
    ::fchmod(out.get(), info.st_mode & 07777);
    ::futimens(out.get(), times);
    if (out.close() != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return {CopyError::Side::Write, error};
    }
    return {};
}

/// The record of one install operation, enough to undo it.
class Journal {
public:
    enum class Kind { Added, Replaced, Removed, Folder, Location };
    struct Step {
        Kind kind;
        std::string path;   ///< the installed path
        std::string backup; ///< for Replaced and Removed: the backup copy
    };

    Journal() = default;
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    void add(Kind kind, std::string path, std::string backup = {}) {
        m_steps.push_back({kind, std::move(path), std::move(backup)});
    }

    /// Undoes every step: new files first (which frees their space), then the
    /// replaced and removed files from their backups, then the folders made.
    /// False when something could not be put back.
    bool undo() {
        bool complete = true;
        for (auto it = m_steps.rbegin(); it != m_steps.rend(); ++it)
            if (it->kind == Kind::Added && ::unlink(it->path.c_str()) != 0 && errno != ENOENT) {
                OCNSLog("PackageInstaller: cannot remove %@ while restoring: %@", it->path,
                        std::strerror(errno));
                complete = false;
            }
        for (auto it = m_steps.rbegin(); it != m_steps.rend(); ++it) {
            if (it->kind != Kind::Replaced && it->kind != Kind::Removed)
                continue;
            if (!restore(*it)) {
                OCNSLog("PackageInstaller: cannot restore %@ from %@", it->path, it->backup);
                complete = false;
            }
        }
        for (auto it = m_steps.rbegin(); it != m_steps.rend(); ++it)
            if ((it->kind == Kind::Folder || it->kind == Kind::Location) && ::rmdir(it->path.c_str()) != 0 &&
                errno != ENOENT) {
                OCNSLog("PackageInstaller: cannot remove the folder %@ while restoring: %@", it->path,
                        std::strerror(errno));
                complete = false;
            }
        return complete;
    }

private:
    static bool restore(const Step& step) {
        const std::string temporary = parentOf(step.path) + "/." + nameOf(step.path) + ".qvt-restore";
        ::unlink(temporary.c_str());
        auto error = copyEntry(step.backup, temporary);
        if (error && error.side == CopyError::Side::Write) {
            // No room for old and new side by side: let the new one go first.
            ::unlink(temporary.c_str());
            ::unlink(step.path.c_str());
            error = copyEntry(step.backup, temporary);
        }
        if (error || ::rename(temporary.c_str(), step.path.c_str()) != 0) {
            ::unlink(temporary.c_str());
            return false;
        }
        return true;
    }

    std::vector<Step> m_steps;
};

/// An exclusive, non-blocking lock on <data folder>/.lock.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder) {
        if (makeFolders(folder, 0755, nullptr) != 0)
            return;
        m_fd = ::open((folder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
            m_locked = true;
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock() {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    bool locked() const { return m_locked; }
    bool opened() const { return m_fd >= 0; }

private:
    int m_fd = -1;
    bool m_locked = false;
};

InstallResult internalError(const char* what) {
    OCNSLog("PackageInstaller: unexpected failure: %@", what);
    return {InstallResult::InternalError, std::string("unexpected failure: ") + what};
}

} // namespace

PackageInstaller::PackageInstaller() : PackageInstaller(Options{}) {}

PackageInstaller::PackageInstaller(Options options, ProgressHandler progress)
    : m_options(std::move(options)), m_progress(std::move(progress)) {
    while (m_options.installRoot.size() > 1 && m_options.installRoot.back() == '/')
        m_options.installRoot.pop_back();
    if (m_options.installRoot.empty())
        m_options.installRoot = "/";
}

std::string PackageInstaller::receiptsFolder() const {
    return PackagePaths::join(m_options.dataFolder, "receipts");
}

std::string PackageInstaller::backupsFolder() const {
    return PackagePaths::join(m_options.dataFolder, "backups");
}

std::string PackageInstaller::receiptPath(const std::string& identifier) const {
    return PackagePaths::join(receiptsFolder(), identifier + ".plist");
}

std::string PackageInstaller::rooted(const std::string& location) const {
    if (m_options.installRoot.empty() || m_options.installRoot == "/")
        return location;
    return location == "/" ? m_options.installRoot : m_options.installRoot + location;
}

void PackageInstaller::report(double percent, const std::string& info) {
    percent = std::floor(std::clamp(percent, m_lastPercent, 100.0));
    std::string text = info;
    std::replace(text.begin(), text.end(), ',', ' '); // a "," would break the event's text value
    if (text == m_lastInfo && percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    m_lastInfo = text;
    if (m_progress)
        m_progress(percent, text);
}

InstallResult PackageInstaller::install(const std::string& packagePath) {
    return installPackage(packagePath, Mode::Install);
}

InstallResult PackageInstaller::update(const std::string& packagePath) {
    return installPackage(packagePath, Mode::Update);
}

InstallResult PackageInstaller::installPackage(const std::string& packagePath, Mode mode) {
    const char* action = mode == Mode::Install ? "Install" : "Update";
    OCNSLog("PackageInstaller: %@ of %@", action, packagePath);
    return runExclusively(action, [&] { return installLocked(packagePath, mode); });
}

InstallResult PackageInstaller::runExclusively(const char* action,
                                               const std::function<InstallResult()>& work) {
    m_lastPercent = 0;
    m_lastInfo.clear();
    InstallResult result;
    try {
        FolderLock lock(m_options.dataFolder);
        if (!lock.opened())
            result = writeFailure(errno ? errno : EIO, "cannot use the data folder " + m_options.dataFolder);
        else if (!lock.locked())
            result = {InstallResult::Busy, "another package operation is running"};
        else
            result = work();
    } catch (const std::exception& e) {
        result = internalError(e.what());
    } catch (...) {
        result = internalError("an unknown exception");
    }
    if (result.ok())
        OCNSLog("PackageInstaller: %@ completed", action);
    else
        OCNSLog("PackageInstaller: %@ failed with status %d (%@): %@", action, result.code(),
                InstallResult::statusName(result.status()), result.reason());
    return result;
}

InstallResult PackageInstaller::runScript(const InstallerPackage& package, const std::string& script,
                                          const char* name, Mode mode, const PackageReceipt* previous) {
    if (script.empty())
        return InstallResult::success();
    report(m_lastPercent, std::string("Running ") + name + " script");
    const std::string location = rooted(package.installLocation());
    const std::map<std::string, std::string> environment = {
        {"HOME", "/root"},
        {"LANG", "C"},
        {"QVT_INSTALL_ACTION", mode == Mode::Install ? "install" : "update"},
        {"QVT_INSTALL_LOCATION", location},
        {"QVT_INSTALL_ROOT", m_options.installRoot},
        {"QVT_PACKAGE_IDENTIFIER", package.identifier()},
        {"QVT_PACKAGE_PATH", package.path()},
        {"QVT_PACKAGE_VERSION", package.version()},
        {"QVT_PREVIOUS_VERSION", previous ? previous->version : ""},
    };
    OCNSLog("PackageInstaller: running %@", script);
    const auto outcome = CommandRunner::run({script, package.path(), location, m_options.installRoot},
                                            environment, m_options.scriptTimeLimit, name, "/");
    if (outcome.succeeded())
        return InstallResult::success();
    const auto status = std::string(name) == "preinstall" ? InstallResult::PreinstallFailed
                                                          : InstallResult::PostinstallFailed;
    return {status, std::string("the ") + name + " script " + outcome.describe()};
}

InstallResult PackageInstaller::installLocked(const std::string& packagePath, Mode mode) {
    report(0, "Checking package");
    InstallResult error;
    const auto package = InstallerPackage::open(packagePath, error);
    if (!package)
        return error;
    OCNSLog("PackageInstaller: package %@ version %@ for %@, %d entries, %llu bytes", package->identifier(),
            package->version(), package->installLocation(), static_cast<int>(package->entries().size()),
            static_cast<unsigned long long>(package->totalBytes()));

    const std::string receiptFile = receiptPath(package->identifier());
    std::optional<PackageReceipt> previous;
    if (::access(receiptFile.c_str(), F_OK) == 0) {
        std::string why;
        previous = PackageReceipt::read(receiptFile, why);
        if (!previous)
            OCNSLog("PackageInstaller: ignoring the unreadable receipt: %@", why);
        else if (previous->identifier != package->identifier())
            previous.reset();
    }
    if (previous) {
        const int order = InstallerPackage::compareVersions(package->version(), previous->version);
        OCNSLog("PackageInstaller: version %@ is installed", previous->version);
        if (mode == Mode::Update && order < 0)
            return {InstallResult::DowngradeRefused, "version " + previous->version +
                                                         " is installed; the update to the older version " +
                                                         package->version() + " is refused"};
    }

    struct stat rootInfo {};
    if (::stat(m_options.installRoot.c_str(), &rootInfo) != 0 || !S_ISDIR(rootInfo.st_mode))
        return {InstallResult::WriteFailed, "the install root " + m_options.installRoot + " is not a folder"};

    if (auto result = runScript(*package, package->preinstallScript(), "preinstall", mode,
                                previous ? &*previous : nullptr);
        !result.ok())
        return result;

    Journal journal;
    bool backupMade = false;
    std::string backupSet;
    std::string backupSetPath;
    const std::string identifierBackups = PackagePaths::join(backupsFolder(), package->identifier());
    bool identifierBackupsMade = false;

    PackageReceipt receipt;
    receipt.identifier = package->identifier();
    receipt.version = package->version();
    receipt.installLocation = package->installLocation();
    receipt.installDate = utcStamp("%Y-%m-%dT%H:%M:%SZ");

    // Everything from here on is undone on failure.
    std::string pendingTemporary; // a file being written beside its destination
    auto failed = [&](InstallResult result) {
        if (!pendingTemporary.empty())
            ::unlink(pendingTemporary.c_str());
        report(m_lastPercent, "Restoring previous state");
        OCNSLog("PackageInstaller: %@; restoring the previous state", result.reason());
        if (journal.undo()) {
            if (backupMade) {
                std::error_code ignored;
                fs::remove_all(backupSetPath, ignored);
                if (identifierBackupsMade)
                    ::rmdir(identifierBackups.c_str());
            }
        } else {
            result = {result.status(), result.reason() + "; the previous state could not be fully restored" +
                                           (backupMade ? ", backups kept in " + backupSetPath : "")};
        }
        return result;
    };

    // Backs up the installed file or link at \p installed, stored as \p relative.
    auto backUp = [&](const std::string& installed, const std::string& relative,
                      std::string& copy) -> InstallResult {
        if (!backupMade) {
            backupSet =
                utcStamp("%Y%m%dT%H%M%SZ") + "-" + (previous ? previous->version : std::string("none"));
            identifierBackupsMade = ::access(identifierBackups.c_str(), F_OK) != 0;
            std::string candidate = backupSet;
            for (int n = 2; ::access(PackagePaths::join(identifierBackups, candidate).c_str(), F_OK) == 0;
                 ++n)
                candidate = backupSet + "-" + std::to_string(n);
            backupSet = candidate;
            backupSetPath = PackagePaths::join(identifierBackups, backupSet);
            if (const int e = makeFolders(backupsFolder(), 0700, nullptr))
                return writeFailure(e, "cannot make the backup folder " + backupsFolder());
            if (const int e = makeFolders(backupSetPath, 0700, nullptr))
                return writeFailure(e, "cannot make the backup folder " + backupSetPath);
            backupMade = true;
        }
        copy = PackagePaths::join(backupSetPath, relative);
        if (const int e = makeFolders(parentOf(copy), 0700, nullptr))
            return writeFailure(e, "cannot make the backup folder " + parentOf(copy));
        if (const auto e = copyEntry(installed, copy))
            return e.side == CopyError::Side::Read
                       ? InstallResult{InstallResult::WriteFailed,
                                       "cannot read " + installed +
                                           " to back it up: " + std::strerror(e.error)}
                       : writeFailure(e.error, "cannot back up " + installed);
        return InstallResult::success();
    };

    // Whatever throws from here on (no memory, a progress handler) is undone as well.
    auto body = [&]() -> InstallResult {
        // The install location, with the folders made for it.
        const std::string base = rooted(package->installLocation());
        std::vector<std::string> madeLocations;
        if (const int e = makeFolders(base, 0755, &madeLocations)) {
            for (auto it = madeLocations.rbegin(); it != madeLocations.rend(); ++it)
                ::rmdir(it->c_str());
            return e == ENOTDIR ? InstallResult{InstallResult::DestinationConflict,
                                                "the install location " + base + " is not a folder"}
                                : writeFailure(e, "cannot make the install location " + base);
        }
        const size_t rootLength = rooted("/") == "/" ? 0 : m_options.installRoot.size();
        for (const auto& made : madeLocations) {
            journal.add(Journal::Kind::Location, made);
            receipt.createdLocations.push_back(made.substr(rootLength)); // as seen from the install root
        }
        // Folders an earlier version made for its location stay listed while
        // they hold this version's location too.
        if (previous)
            for (const auto& location : previous->createdLocations)
                if (PackagePaths::isWithin(package->installLocation(), location) &&
                    std::find(receipt.createdLocations.begin(), receipt.createdLocations.end(), location) ==
                        receipt.createdLocations.end())
                    receipt.createdLocations.push_back(location);
        const std::string realBase = realPath(base);
        if (realBase.empty())
            return failed(writeFailure(errno, "cannot resolve the install location " + base));

        // The payload.
        const uint64_t total = package->totalBytes();
        const size_t entryCount = package->entries().size();
        uint64_t bytesDone = 0;
        size_t entriesDone = 0;
        auto percentDone = [&](uint64_t extra) {
            if (total > 0)
                return 100.0 * static_cast<double>(bytesDone + extra) / static_cast<double>(total);
            return entryCount ? 100.0 * static_cast<double>(entriesDone) / static_cast<double>(entryCount)
                              : 100.0;
        };
        report(0, "Copying files");
        // The payload is read through its folder, never following a link on
        // the way: the package may be changed by its owner while it installs.
        FileDescriptor payload(
            ::open(package->payloadPath().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (payload.get() < 0)
            return failed({InstallResult::PayloadUnreadable,
                           "cannot open the Payload folder: " + std::string(std::strerror(errno))});
        std::map<std::string, std::string> folders{{"", realBase}}; // payload folder -> real installed folder
        std::set<std::string> installedPaths;
        for (const auto& entry : package->entries()) {
            const size_t slash = entry.path.rfind('/');
            const std::string parent = slash == std::string::npos ? "" : entry.path.substr(0, slash);
            const auto parentFolder = folders.find(parent);
            if (parentFolder == folders.end())
                return failed({InstallResult::InternalError, "no folder for " + entry.path});
            const std::string destination = parentFolder->second + "/" + nameOf(entry.path);
            struct stat existing {};
            const bool exists = ::lstat(destination.c_str(), &existing) == 0;
            if (!exists && errno != ENOENT)
                return failed(writeFailure(errno, "cannot examine " + destination));

            if (entry.kind == InstallerPackage::Entry::Kind::Folder) {
                if (!exists) {
                    if (::mkdir(destination.c_str(), 0700) != 0)
                        return failed(writeFailure(errno, "cannot make the folder " + destination));
                    journal.add(Journal::Kind::Folder, destination);
                    ::chmod(destination.c_str(), entry.mode);
                    receipt.folders.push_back(entry.path);
                    folders[entry.path] = destination;
                } else if (S_ISDIR(existing.st_mode)) {
                    folders[entry.path] = destination;
                } else if (S_ISLNK(existing.st_mode)) {
                    // A link to a folder inside the install location is followed
                    // (the usual /bin -> usr/bin); anything else is not.
                    const std::string target = realPath(destination);
                    struct stat targetInfo {};
                    if (target.empty() || ::stat(target.c_str(), &targetInfo) != 0 ||
                        !S_ISDIR(targetInfo.st_mode) || !PackagePaths::isWithin(target, realBase))
                        return failed(
                            {InstallResult::DestinationConflict,
                             destination + " is a link that does not lead to a folder inside " + base});
                    folders[entry.path] = target;
                } else {
                    return failed(
                        {InstallResult::DestinationConflict,
                         destination + " exists and is not a folder, but the package has a folder there"});
                }
                ++entriesDone;
                report(percentDone(0), "Copying files");
                continue;
            }

            if (exists && S_ISDIR(existing.st_mode))
                return failed({InstallResult::DestinationConflict,
                               destination + " is a folder, but the package has a file there"});
            if (exists && !S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode))
                return failed(
                    {InstallResult::DestinationConflict, destination + " exists and is not a regular file"});

            const std::string temporary = parentFolder->second + "/." + nameOf(entry.path) + ".qvt-new";
            ::unlink(temporary.c_str());
            pendingTemporary = temporary;
            if (entry.kind == InstallerPackage::Entry::Kind::Link) {
                if (::symlink(entry.linkTarget.c_str(), temporary.c_str()) != 0)
                    return failed(writeFailure(errno, "cannot make the link " + destination));
            } else {
                FileDescriptor in(openBelow(payload.get(), entry.path));
                if (in.get() < 0)
                    return failed(
                        {InstallResult::PayloadUnreadable,
                         "cannot open the payload file " + entry.path + ": " + std::strerror(errno)});
                struct stat sourceInfo {};
                if (::fstat(in.get(), &sourceInfo) != 0 || !S_ISREG(sourceInfo.st_mode) ||
                    static_cast<uint64_t>(sourceInfo.st_size) != entry.size)
                    return failed(
                        {InstallResult::PayloadUnreadable,
                         "the payload file " + entry.path + " changed while the package was installed"});
                FileDescriptor out(
                    ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
                if (out.get() < 0)
                    return failed(writeFailure(errno, "cannot write " + destination));
                const auto copyError = copyData(in.get(), out.get(), entry.size, [&](uint64_t done) {
                    report(percentDone(done), "Copying files");
                });
                int closeError = 0;
                if (!copyError) {
                    const timespec times[2] = {sourceInfo.st_atim, sourceInfo.st_mtim};
                    ::futimens(out.get(), times);
                    if (::fchmod(out.get(), entry.mode) != 0 || out.close() != 0)
                        closeError = errno;
                }
                if (copyError || closeError) {
                    ::unlink(temporary.c_str());
                    if (copyError.side == CopyError::Side::Read)
                        return failed({InstallResult::PayloadUnreadable, "cannot read the payload file " +
                                                                             entry.path + ": " +
                                                                             std::strerror(copyError.error)});
                    return failed(writeFailure(copyError ? copyError.error : closeError,
                                               "cannot write " + destination));
                }
                bytesDone += entry.size;
            }

            std::string copy;
            if (exists) {
                if (auto result = backUp(destination, entry.path, copy); !result.ok()) {
                    ::unlink(temporary.c_str());
                    return failed(result);
                }
            }
            if (::rename(temporary.c_str(), destination.c_str()) != 0) {
                const int e = errno;
                ::unlink(temporary.c_str());
                return failed(writeFailure(e, "cannot put " + destination + " in place"));
            }
            pendingTemporary.clear();
            journal.add(exists ? Journal::Kind::Replaced : Journal::Kind::Added, destination, copy);
            receipt.files.push_back(entry.path);
            installedPaths.insert(PackagePaths::join(realBase, entry.path));
            ++entriesDone;
            report(percentDone(0), "Copying files");
        }

        // Files of the installed version that this one no longer has.
        if (previous) {
            const std::string oldBase = realPath(rooted(previous->installLocation));
            for (const auto& file : previous->files) {
                if (oldBase.empty())
                    break;
                const std::string path = PackagePaths::join(oldBase, file);
                if (installedPaths.count(path))
                    continue;
                const std::string parent = realPath(parentOf(path));
                struct stat info {};
                if (parent.empty() || !PackagePaths::isWithin(parent, oldBase) ||
                    ::lstat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
                    continue;
                const std::string real = parent + "/" + nameOf(path);
                report(m_lastPercent, "Removing old files");
                std::string copy;
                if (auto result = backUp(real, file, copy); !result.ok())
                    return failed(result);
                if (::unlink(real.c_str()) != 0)
                    return failed(writeFailure(errno, "cannot remove the old file " + real));
                journal.add(Journal::Kind::Removed, real, copy);
            }
            if (previous->installLocation == package->installLocation())
                for (const auto& folder : previous->folders)
                    if (std::find(receipt.folders.begin(), receipt.folders.end(), folder) ==
                        receipt.folders.end())
                        receipt.folders.push_back(folder);
        }

        if (auto result = runScript(*package, package->postinstallScript(), "postinstall", mode,
                                    previous ? &*previous : nullptr);
            !result.ok())
            return failed(result);

        report(100, "Writing receipt");
        receipt.backup = backupMade ? backupSet : (previous ? previous->backup : std::string());
        if (const int e = makeFolders(receiptsFolder(), 0755, nullptr))
            return failed(writeFailure(e, "cannot make the receipts folder " + receiptsFolder()));
        errno = 0;
        if (!receipt.write(receiptFile))
            return failed(writeFailure(errno ? errno : EIO, "cannot write the receipt " + receiptFile));

        // Folders an earlier version made at a location this one no longer uses.
        if (previous && previous->installLocation != package->installLocation()) {
            const std::string oldBase = rooted(previous->installLocation);
            auto oldFolders = previous->folders;
            std::sort(oldFolders.rbegin(), oldFolders.rend());
            for (const auto& folder : oldFolders)
                ::rmdir(PackagePaths::join(oldBase, folder).c_str());
            for (auto it = previous->createdLocations.rbegin(); it != previous->createdLocations.rend(); ++it)
                ::rmdir(rooted(*it).c_str());
        }
        report(100, mode == Mode::Install ? "Installation complete" : "Update complete");
        return InstallResult::success();
    };
    try {
        return body();
    } catch (const std::exception& e) {
        return failed(internalError(e.what()));
    } catch (...) {
        return failed(internalError("an unknown exception"));
    }
}

InstallResult PackageInstaller::uninstall(bool removeBackups) {
    OCNSLog("PackageInstaller: Uninstall%@", removeBackups ? " with backups" : "");
    return runExclusively("Uninstall", [&] { return uninstallLocked(removeBackups); });
}

InstallResult PackageInstaller::uninstallLocked(bool removeBackups) {
    report(0, "Reading receipts");
    std::vector<std::string> receiptFiles;
    if (DIR* folder = ::opendir(receiptsFolder().c_str())) {
        while (const dirent* item = ::readdir(folder)) {
            const std::string name = item->d_name;
            if (name.size() > 6 && name.compare(name.size() - 6, 6, ".plist") == 0 && name.front() != '.')
                receiptFiles.push_back(name);
        }
        ::closedir(folder);
    }
    std::sort(receiptFiles.begin(), receiptFiles.end());

    InstallResult outcome;
    auto note = [&](InstallResult result) {
        OCNSLog("PackageInstaller: %@", result.reason());
        if (outcome.ok())
            outcome = std::move(result);
    };

    std::vector<PackageReceipt> receipts;
    for (const auto& name : receiptFiles) {
        std::string why;
        auto receipt = PackageReceipt::read(PackagePaths::join(receiptsFolder(), name), why);
        if (!receipt)
            note({InstallResult::ReceiptInvalid, why + "; it is kept and nothing it lists is removed"});
        else if (receipt->identifier + ".plist" != name)
            note({InstallResult::ReceiptInvalid, "the receipt " + name + " belongs to " +
                                                     receipt->identifier +
                                                     "; it is kept and nothing it lists is removed"});
        else
            receipts.push_back(std::move(*receipt));
    }

    const std::string backups = backupsFolder();
    const bool backupsExist = ::access(backups.c_str(), F_OK) == 0;
    if (receiptFiles.empty() && !(removeBackups && backupsExist)) {
        report(100, "Nothing to uninstall");
        return {InstallResult::NotInstalled,
                "nothing is installed: there is no receipt in " + receiptsFolder()};
    }

    size_t total = 0;
    for (const auto& receipt : receipts)
        total += receipt.files.size();
    size_t done = 0;
    report(0, "Removing files");
    for (const auto& receipt : receipts) {
        const std::string base = rooted(receipt.installLocation);
        const std::string realBase = realPath(base);
        bool complete = true;
        for (const auto& file : receipt.files) {
            ++done;
            report(total ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 0,
                   "Removing files");
            if (realBase.empty())
                continue; // the install location is gone, and everything below it
            const std::string path = PackagePaths::join(realBase, file);
            const std::string parent = realPath(parentOf(path));
            if (parent.empty())
                continue; // its folder is gone
            if (!PackagePaths::isWithin(parent, realBase)) {
                OCNSLog("PackageInstaller: not removing %@: its folder now leads outside %@", path, base);
                continue;
            }
            const std::string real = parent + "/" + nameOf(path);
            struct stat info {};
            if (::lstat(real.c_str(), &info) != 0)
                continue;
            if (S_ISDIR(info.st_mode)) {
                OCNSLog("PackageInstaller: not removing %@: it is a folder now", real);
                continue;
            }
            if (::unlink(real.c_str()) != 0) {
                note(writeFailure(errno, "cannot remove " + real));
                complete = false;
            }
        }
        if (!realBase.empty()) {
            auto folders = receipt.folders;
            std::sort(folders.rbegin(), folders.rend()); // what a folder holds sorts after it
            for (const auto& folder : folders) {
                const std::string path = PackagePaths::join(realBase, folder);
                const std::string parent = realPath(parentOf(path));
                struct stat info {};
                if (parent.empty() || !PackagePaths::isWithin(parent, realBase) ||
                    ::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
                    continue;
                if (::rmdir(path.c_str()) != 0 && errno != ENOTEMPTY && errno != EEXIST && errno != ENOENT)
                    OCNSLog("PackageInstaller: cannot remove the folder %@: %@", path, std::strerror(errno));
            }
            auto locations = receipt.createdLocations;
            std::sort(locations.rbegin(), locations.rend());
            for (const auto& location : locations)
                ::rmdir(rooted(location).c_str());
        }
        if (complete) {
            report(m_lastPercent, "Removing receipt");
            if (::unlink(receiptPath(receipt.identifier).c_str()) != 0 && errno != ENOENT)
                note(writeFailure(errno, "cannot remove the receipt of " + receipt.identifier));
        }
        if (removeBackups) {
            std::error_code ec;
            fs::remove_all(PackagePaths::join(backups, receipt.identifier), ec);
            if (ec)
                note(writeFailure(ec.value(), "cannot remove the backups of " + receipt.identifier));
        }
    }
    if (removeBackups && backupsExist) {
        report(m_lastPercent, "Removing backups");
        std::error_code ec;
        fs::remove_all(backups, ec);
        if (ec)
            note(writeFailure(ec.value(), "cannot remove the backups in " + backups));
    }
    report(100, outcome.ok() ? "Uninstall complete" : "Uninstall incomplete");
    return outcome;
}
