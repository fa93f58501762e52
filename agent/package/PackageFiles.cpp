#include "agent/package/PackageFiles.h"

#include "platform/FileCopy.h"
#include "platform/FileDescriptor.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::Failure;
using platform::FileDescriptor;
using platform::Result;

namespace {

std::atomic<void (*)()> g_changeHook{nullptr};

void changing() {
    if (const auto hook = g_changeHook.load(std::memory_order_relaxed))
        hook();
}

Failure failure(int error, const std::string& path) {
    return {PackageFiles::kDomain, error, path + ": " + std::strerror(error)};
}

Result<void> check(int status, const std::string& path) {
    if (status == 0)
        return {};
    return failure(errno, path);
}

Failure readFailure(int error, const std::string& path) {
    return {platform::FileCopy::kReadDomain, error, path + ": " + std::strerror(error)};
}

} // namespace

void PackageFiles::setChangeHook(void (*hook)()) {
    g_changeHook.store(hook);
}

std::string PackageFiles::temporaryBeside(const std::string& path, const char* suffix) {
    return parentOf(path) + "/." + nameOf(path) + suffix;
}

std::string PackageFiles::parentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string PackageFiles::nameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string PackageFiles::realPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

std::vector<std::string> PackageFiles::missingFolders(const std::string& path) {
    std::vector<std::string> missing;
    struct stat info {};
    for (std::string at = path; ::stat(at.c_str(), &info) != 0 && errno == ENOENT; at = parentOf(at))
        missing.insert(missing.begin(), at);
    return missing;
}

Result<std::vector<std::string>> PackageFiles::makeFolders(const std::string& path, mode_t mode) {
    std::vector<std::string> made;
    for (const auto& folder : missingFolders(path)) {
        if (auto result = makeFolder(folder, mode); !result)
            return result.failure();
        made.push_back(folder);
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return failure(errno, path);
    if (!S_ISDIR(info.st_mode))
        return failure(ENOTDIR, path);
    return made;
}

Result<void> PackageFiles::makeFolder(const std::string& path, mode_t mode) {
    changing();
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST)
        return failure(errno, path);
    return {};
}

Result<void> PackageFiles::removeFolder(const std::string& path) {
    changing();
    if (::rmdir(path.c_str()) != 0 && errno != ENOENT)
        return failure(errno, path);
    return {};
}

Result<void> PackageFiles::remove(const std::string& path) {
    changing();
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return failure(errno, path);
    return {};
}

Result<void> PackageFiles::rename(const std::string& from, const std::string& to) {
    changing();
    return check(::rename(from.c_str(), to.c_str()), to);
}

Result<int> PackageFiles::create(const std::string& path) {
    changing();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return failure(errno, path);
    return fd;
}

Result<void> PackageFiles::makeLink(const std::string& target, const std::string& at) {
    changing();
    return check(::symlink(target.c_str(), at.c_str()), at);
}

Result<void> PackageFiles::linkBelow(int folder, const std::string& relative, const std::string& at) {
    changing();
    return check(::linkat(folder, relative.c_str(), AT_FDCWD, at.c_str(), 0), at);
}

Result<void> PackageFiles::removeTree(const std::string& path) {
    changing();
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec)
        return failure(ec.value(), path);
    return {};
}

Result<void> PackageFiles::copyEntry(const std::string& from, const std::string& to) {
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0)
        return readFailure(errno, from);
    if (S_ISLNK(info.st_mode)) {
        std::error_code ec;
        const auto target = fs::read_symlink(from, ec);
        if (ec)
            return readFailure(ec.value(), from);
        if (auto made = makeLink(target, to); !made)
            return made;
        if (::lchown(to.c_str(), info.st_uid, info.st_gid) != 0) {
        } // only root may, and only root needs to
        return {};
    }
    FileDescriptor in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (in.get() < 0)
        return readFailure(errno, from);
    auto created = create(to);
    if (!created)
        return created.failure();
    FileDescriptor out(*created);
    auto copied = platform::FileCopy::copy(in.get(), out.get(), static_cast<uint64_t>(info.st_size));
    if (copied) {
        if (::fchown(out.get(), info.st_uid, info.st_gid) != 0) {
        }
        const timespec times[2] = {info.st_atim, info.st_mtim};
        ::fchmod(out.get(), info.st_mode & 07777);
        ::futimens(out.get(), times);
        if (out.close() != 0)
            copied = failure(errno, to);
    }
    if (!copied)
        ::unlink(to.c_str());
    return copied;
}

Result<void> PackageFiles::restore(const std::string& backup, const std::string& path) {
    const std::string temporary = temporaryBeside(path, kRestoreSuffix);
    if (auto removed = remove(temporary); !removed)
        return removed;
    auto copied = copyEntry(backup, temporary);
    if (!copied && copied.failure().domain != platform::FileCopy::kReadDomain) {
        // No room for old and new side by side: let the new one go first.
        (void)remove(temporary);
        (void)remove(path);
        copied = copyEntry(backup, temporary);
    }
    if (copied)
        copied = rename(temporary, path);
    if (!copied)
        (void)remove(temporary);
    return copied;
}

Result<void> PackageFiles::writeDurably(const std::string& path, const std::string& content) {
    const std::string temporary = temporaryBeside(path);
    (void)remove(temporary);
    auto created = create(temporary);
    if (!created)
        return created.failure();
    FileDescriptor out(*created);
    ::fchmod(out.get(), 0644);
    Result<void> written;
    for (size_t done = 0; written && done < content.size();) {
        const ssize_t n = ::write(out.get(), content.data() + done, content.size() - done);
        if (n < 0 && errno != EINTR)
            written = failure(errno, temporary);
        else if (n > 0)
            done += static_cast<size_t>(n);
    }
    if (written && (::fsync(out.get()) != 0 || out.close() != 0))
        written = failure(errno, temporary);
    if (written)
        written = rename(temporary, path);
    if (!written) {
        ::unlink(temporary.c_str());
        return written;
    }
    return syncFolder(parentOf(path));
}

Result<void> PackageFiles::syncFileSystem(const std::string& path) {
    FileDescriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0 || ::syncfs(folder.get()) != 0)
        return failure(errno, path);
    return {};
}

Result<void> PackageFiles::syncFolder(const std::string& path) {
    FileDescriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0 || ::fsync(folder.get()) != 0)
        return failure(errno, path);
    return {};
}

Result<int> PackageFiles::openBelow(int folder, const std::string& relative) {
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
        if (next < 0)
            return readFailure(error, relative);
        if (last)
            return next;
        current = next;
        start = slash + 1;
    }
}
