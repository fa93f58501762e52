#include "agent/package/PackageStaging.h"

#include "agent/package/InstallResult.h"
#include "agent/package/PackageFiles.h"
#include "agent/package/PackageManifest.h"
#include "platform/FileDescriptor.h"
#include "platform/Sha256.h"
#include "platform/Signature.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using platform::FileDescriptor;
using Entry = PackageManifest::Entry;

constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

InstallResult errnoResult(InstallResult::Status status, const std::string& what, int error) {
    return {status, what + ": " + std::strerror(error)};
}

const char* kindOf(mode_t mode) {
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISLNK(mode))
        return "a link";
    if (S_ISDIR(mode))
        return "a folder";
    return "a file";
}

/// The names in the open folder \p folder, sorted; nothing when it cannot be
/// listed. Listing stops at the first name \p accept refuses, which is then
/// the only name returned, so that a folder of a million strange names costs
/// nothing to refuse.
template <typename Accept>
std::optional<std::vector<std::string>> namesIn(int folder, Accept accept) {
    const int copy = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    DIR* listing = copy < 0 ? nullptr : ::fdopendir(copy);
    if (!listing) {
        if (copy >= 0)
            ::close(copy);
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (const dirent* item = ::readdir(listing)) {
        if (std::strcmp(item->d_name, ".") == 0 || std::strcmp(item->d_name, "..") == 0)
            continue;
        if (!accept(item->d_name)) {
            names.assign(1, item->d_name);
            break;
        }
        names.emplace_back(item->d_name);
    }
    ::closedir(listing);
    std::sort(names.begin(), names.end());
    return names;
}

/// The whole regular file \p name below \p folder, at most \p limit bytes.
platform::Result<std::string> readSmall(int folder, const char* name, uint64_t limit) {
    FileDescriptor fd(::openat(folder, name, kOpenFlags));
    struct stat info {};
    if (!fd.valid())
        return platform::Failure{"", errno, std::strerror(errno)};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<uint64_t>(info.st_size) > limit)
        return platform::Failure{"", EINVAL,
                                 "not a regular file of at most " + std::to_string(limit) + " bytes"};
    std::string text(static_cast<size_t>(info.st_size), '\0');
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t got = ::read(fd.get(), text.data() + done, text.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return platform::Failure{"", got < 0 ? errno : EIO,
                                     got < 0 ? std::strerror(errno) : "changed while read"};
        done += static_cast<size_t>(got);
    }
    return text;
}

/// Copies the verified tree; one instance per staging.
class Stager {
public:
    explicit Stager(const PackageManifest& manifest) : m_manifest(manifest), m_buffer(1 << 20) {}

    /// Copies the folder \p from (the package's \p relative, "" for the
    /// package itself) into the open folder \p to.
    InstallResult copyFolder(int from, int to, const std::string& relative) {
        const auto names = namesIn(from, [&](const std::string& name) { return isListed(relative, name); });
        if (!names)
            return errnoResult(InstallResult::PayloadUnreadable, "cannot list " + shown(relative), errno);
        for (const auto& name : *names) {
            if (isSignature(relative, name))
                continue;
            const std::string path = relative.empty() ? name : relative + "/" + name;
            const Entry* listed = m_manifest.find(path);
            if (!listed)
                return {InstallResult::PackageExtraEntry, path + " is not listed in the package's manifest"};
            m_seen.insert(path);
            if (auto copied = copyEntry(from, to, name, path, *listed); !copied.ok())
                return copied;
        }
        return InstallResult::success();
    }

    /// The first entry the manifest lists that was not found, or nothing.
    std::optional<std::string> firstMissing() const {
        for (const auto& [path, entry] : m_manifest.entries())
            if (!m_seen.count(path))
                return path;
        return std::nullopt;
    }

private:
    static bool isSignature(const std::string& relative, const std::string& name) {
        return relative.empty() &&
               (name == PackageManifest::kFileName || name == PackageManifest::kSignatureFileName);
    }
    bool isListed(const std::string& relative, const std::string& name) const {
        return isSignature(relative, name) ||
               m_manifest.find(relative.empty() ? name : relative + "/" + name);
    }

    static std::string shown(const std::string& relative) {
        return relative.empty() ? "the package" : relative;
    }

    InstallResult copyEntry(int from, int to, const std::string& name, const std::string& path,
                            const Entry& listed) {
        struct stat info {};
        if (::fstatat(from, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            return errnoResult(InstallResult::PayloadUnreadable, "cannot read " + path, errno);
        const bool expected = (listed.kind == Entry::Kind::Link && S_ISLNK(info.st_mode)) ||
                              (listed.kind == Entry::Kind::Folder && S_ISDIR(info.st_mode)) ||
                              (listed.kind == Entry::Kind::File && S_ISREG(info.st_mode));
        if (!expected)
            return refusedKind(path, info.st_mode);
        if (listed.kind == Entry::Kind::Link)
            return copyLink(from, to, name, path, listed);
        FileDescriptor source(
            ::openat(from, name.c_str(), kOpenFlags | (S_ISDIR(info.st_mode) ? O_DIRECTORY : 0)));
        if (!source.valid())
            return errnoResult(errno == ELOOP || errno == ENOTDIR ? InstallResult::PackageEntryRefused
                                                                  : InstallResult::PayloadUnreadable,
                               "cannot open " + path, errno);
        // What was opened may not be what was listed a moment ago.
        if (::fstat(source.get(), &info) != 0)
            return errnoResult(InstallResult::PayloadUnreadable, "cannot read " + path, errno);
        if (listed.kind == Entry::Kind::Folder ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode))
            return refusedKind(path, info.st_mode);
        if (listed.kind == Entry::Kind::Folder)
            return copySubfolder(source.get(), to, name, path, listed);
        return copyFile(source.get(), info, to, name, path, listed);
    }

    static InstallResult refusedKind(const std::string& path, mode_t mode) {
        return {InstallResult::PackageEntryRefused,
                path + " is " + kindOf(mode) + ", which the package's manifest does not list there"};
    }

    InstallResult copyLink(int from, int to, const std::string& name, const std::string& path,
                           const Entry& listed) {
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlinkat(from, name.c_str(), target.data(), target.size());
        if (length < 0)
            return errnoResult(errno == EINVAL ? InstallResult::PackageTampered
                                               : InstallResult::PayloadUnreadable,
                               "cannot read the link " + path, errno);
        target.resize(static_cast<size_t>(length));
        if (target != listed.linkTarget)
            return {InstallResult::PackageTampered,
                    "the link " + path + " points elsewhere than the manifest says"};
        if (::symlinkat(target.c_str(), to, name.c_str()) != 0)
            return writeFailure("cannot stage " + path);
        return InstallResult::success();
    }

    InstallResult copySubfolder(int source, int to, const std::string& name, const std::string& path,
                                const Entry& listed) {
        if (::mkdirat(to, name.c_str(), 0700) != 0)
            return writeFailure("cannot stage " + path);
        FileDescriptor staged(::openat(to, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!staged.valid())
            return writeFailure("cannot stage " + path);
        if (auto copied = copyFolder(source, staged.get(), path); !copied.ok())
            return copied;
        // Last, so that a folder without write permission could still be filled.
        if (::fchmod(staged.get(), listed.mode) != 0)
            return writeFailure("cannot stage " + path);
        return InstallResult::success();
    }

    InstallResult copyFile(int source, const struct stat& info, int to, const std::string& name,
                           const std::string& path, const Entry& listed) {
        if (static_cast<uint64_t>(info.st_size) != listed.size)
            return tampered(path, "size");
        FileDescriptor staged(
            ::openat(to, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!staged.valid())
            return writeFailure("cannot stage " + path);
        platform::Sha256 digest;
        uint64_t total = 0;
        for (;;) {
            const ssize_t got = ::read(source, m_buffer.data(), m_buffer.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return errnoResult(InstallResult::PayloadUnreadable, "cannot read " + path, errno);
            if (got == 0)
                break;
            total += static_cast<uint64_t>(got);
            if (total > listed.size)
                return tampered(path, "size");
            digest.update(m_buffer.data(), static_cast<size_t>(got));
            for (ssize_t written = 0; written < got;) {
                const ssize_t put =
                    ::write(staged.get(), m_buffer.data() + written, static_cast<size_t>(got - written));
                if (put < 0 && errno == EINTR)
                    continue;
                if (put <= 0)
                    return writeFailure("cannot stage " + path);
                written += put;
            }
        }
        if (total != listed.size)
            return tampered(path, "size");
        if (digest.finish() != listed.digest)
            return tampered(path, "content");
        // The package's times go with its files, as a copy would keep them.
        const timespec times[2] = {info.st_atim, info.st_mtim};
        if (::fchmod(staged.get(), listed.mode) != 0 || ::futimens(staged.get(), times) != 0)
            return writeFailure("cannot stage " + path);
        return InstallResult::success();
    }

    static InstallResult tampered(const std::string& path, const char* what) {
        return {InstallResult::PackageTampered,
                "the " + std::string(what) + " of " + path + " differs from the package's manifest"};
    }

    static InstallResult writeFailure(const std::string& what) {
        return InstallResult::writeFailure({PackageFiles::kDomain, errno, std::strerror(errno)}, what);
    }

    const PackageManifest& m_manifest;
    std::vector<char> m_buffer;
    std::set<std::string> m_seen;
};

/// The manifest of the open package folder \p package, its signature checked.
platform::Result<PackageManifest> readManifest(int package, std::string_view publicKey) {
    if (publicKey.size() != platform::Signature::kPublicKeyBytes)
        return InstallResult(InstallResult::PackageUnsigned, "the agent holds no key to check packages with")
            .failure();
    auto text = readSmall(package, PackageManifest::kFileName, PackageManifest::kMaxBytes);
    auto signature =
        readSmall(package, PackageManifest::kSignatureFileName, 2 * platform::Signature::kSignatureBytes + 1);
    if (!text || !signature)
        return InstallResult(InstallResult::PackageUnsigned,
                             std::string("the package is not signed: ") +
                                 (text ? PackageManifest::kSignatureFileName : PackageManifest::kFileName) +
                                 ": " + (text ? signature.failure() : text.failure()).description)
            .failure();
    const auto raw = platform::Signature::fromHex(*signature);
    if (!raw || !platform::Signature::verify(*text, *raw, publicKey))
        return InstallResult(InstallResult::SignatureInvalid,
                             "the package's manifest is not signed by the vendor key")
            .failure();
    auto manifest = PackageManifest::parse(*text);
    if (!manifest)
        return InstallResult(InstallResult::PackageMalformed, manifest.failure().description).failure();
    return manifest;
}

/// The staging root, made 0700 when missing; it must be our own folder.
platform::Result<void> prepareRoot(const std::string& stagingRoot) {
    if (auto made = PackageFiles::makeFolders(stagingRoot, 0700); !made)
        return InstallResult::writeFailure(made.failure(), "cannot make " + stagingRoot).failure();
    struct stat info {};
    if (::lstat(stagingRoot.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
        ::chmod(stagingRoot.c_str(), 0700) != 0)
        return InstallResult(InstallResult::WriteFailed, stagingRoot + " is not the agent's own folder")
            .failure();
    return {};
}

} // namespace

platform::Result<std::string> PackageStaging::stage(const std::string& packagePath,
                                                    const std::string& stagingRoot,
                                                    std::string_view publicKey) {
    FileDescriptor package(::open(packagePath.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
    if (!package.valid())
        return errnoResult(errno == ENOENT || errno == ENOTDIR ? InstallResult::PackageMissing
                                                               : InstallResult::PayloadUnreadable,
                           "cannot open the package " + packagePath, errno)
            .failure();
    auto manifest = readManifest(package.get(), publicKey);
    if (!manifest)
        return manifest.failure();
    if (auto root = prepareRoot(stagingRoot); !root)
        return root.failure();
    std::string staged = stagingRoot + "/package.XXXXXX";
    if (!::mkdtemp(staged.data()))
        return InstallResult::writeFailure({PackageFiles::kDomain, errno, std::strerror(errno)},
                                           "cannot make a folder in " + stagingRoot)
            .failure();
    FileDescriptor target(::open(staged.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    Stager stager(*manifest);
    InstallResult result = target.valid()
                               ? stager.copyFolder(package.get(), target.get(), "")
                               : errnoResult(InstallResult::WriteFailed, "cannot open " + staged, errno);
    if (result.ok())
        if (auto missing = stager.firstMissing())
            result = {InstallResult::PackageIncomplete,
                      *missing + " is listed in the package's manifest but missing"};
    if (!result.ok()) {
        (void)PackageFiles::removeTree(staged);
        ::rmdir(stagingRoot.c_str()); // when no other copy is in there
        return result.failure();
    }
    return staged;
}

void PackageStaging::clear(const std::string& stagingRoot) {
    const FileDescriptor root(::open(stagingRoot.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!root.valid())
        return;
    if (const auto names = namesIn(root.get(), [](const std::string&) { return true; }))
        for (const auto& name : *names)
            (void)PackageFiles::removeTree(stagingRoot + "/" + name);
    ::rmdir(stagingRoot.c_str());
}
