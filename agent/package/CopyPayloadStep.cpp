#include "agent/package/CopyPayloadStep.h"

#include "agent/package/InstallContext.h"
#include "agent/package/PackageFiles.h"
#include "agent/package/PackagePaths.h"
#include "platform/FileCopy.h"
#include "platform/FileDescriptor.h"

#include "CNSLog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using Kind = InstallerPackage::Entry::Kind;
using platform::FileDescriptor;

namespace {

InstallResult conflict(const std::string& what) {
    return {InstallResult::DestinationConflict, what};
}

} // namespace

InstallResult CopyPayloadStep::perform(InstallContext& context) {
    context.report(0, "Copying files");
    if (auto planned = plan(context); !planned.ok())
        return planned;
    if (auto staged = stage(context); !staged.ok())
        return staged;
    return place(context);
}

InstallResult CopyPayloadStep::plan(InstallContext& context) {
    // Payload folder -> real installed folder.
    std::map<std::string, std::string> folders{{"", context.realBase}};
    std::map<std::string, size_t> planned; // destination -> item
    for (const auto& entry : context.package->entries()) {
        const size_t slash = entry.path.rfind('/');
        const auto parent = folders.find(slash == std::string::npos ? "" : entry.path.substr(0, slash));
        if (parent == folders.end())
            return {InstallResult::InternalError, "no folder for " + entry.path};
        const std::string destination = parent->second + "/" + PackageFiles::nameOf(entry.path);
        struct stat existing {};
        const bool exists = ::lstat(destination.c_str(), &existing) == 0;
        if (!exists && errno != ENOENT && errno != ENOTDIR)
            return InstallResult::writeFailure({PackageFiles::kDomain, errno, std::strerror(errno)},
                                               "cannot examine " + destination);
        if (entry.kind == Kind::Folder) {
            std::string real = destination;
            if (exists && S_ISLNK(existing.st_mode)) {
                // A link to a folder inside the install location is followed
                // (the usual /bin -> usr/bin); anything else is not.
                real = PackageFiles::realPath(destination);
                struct stat target {};
                if (real.empty() || ::stat(real.c_str(), &target) != 0 || !S_ISDIR(target.st_mode) ||
                    !PackagePaths::isWithin(real, context.realBase))
                    return conflict(destination + " is a link that does not lead to a folder inside " +
                                    context.rooted(context.package->installLocation()));
            } else if (exists && !S_ISDIR(existing.st_mode)) {
                return conflict(destination +
                                " exists and is not a folder, but the package has a folder there");
            }
            folders[entry.path] = real;
            if (!exists)
                m_items.push_back({&entry, destination, false});
            continue;
        }
        if (exists && S_ISDIR(existing.st_mode))
            return conflict(destination + " is a folder, but the package has a file there");
        if (exists && !S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode))
            return conflict(destination + " exists and is not a regular file");
        // Two entries reaching one file through a followed folder link: the later one wins.
        if (const auto earlier = planned.find(destination); earlier != planned.end()) {
            m_items[earlier->second] = {&entry, destination, exists};
        } else {
            planned[destination] = m_items.size();
            m_items.push_back({&entry, destination, exists});
        }
    }
    for (const auto& item : m_items)
        context.journal->add({item.entry->kind == Kind::Folder ? "folder"
                              : item.replaces                  ? "replace"
                                                               : "add",
                              item.destination, item.replaces ? context.backupPath(item.entry->path) : ""});
    if (auto written = context.journal->write(); !written)
        return InstallResult::writeFailure(written.failure(), "cannot write the journal");
    return InstallResult::success();
}

InstallResult CopyPayloadStep::stage(InstallContext& context) {
    // The payload is read through its folder, never following a link on
    // the way: the package may be changed by its owner while it installs.
    FileDescriptor payload(
        ::open(context.package->payloadPath().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (payload.get() < 0)
        return {InstallResult::PayloadUnreadable,
                "cannot open the Payload folder: " + std::string(std::strerror(errno))};
    for (const auto& item : m_items) {
        const auto& entry = *item.entry;
        if (entry.kind == Kind::Folder) {
            if (auto made = PackageFiles::makeFolder(item.destination, 0700); !made)
                return InstallResult::writeFailure(made.failure(),
                                                   "cannot make the folder " + item.destination);
            ::chmod(item.destination.c_str(), entry.mode);
            context.receipt.folders.push_back(entry.path);
        } else {
            if (auto staged = stageFile(context, payload.get(), item); !staged.ok())
                return staged;
            if (item.replaces)
                if (auto saved = context.backUp(item.destination, entry.path); !saved.ok())
                    return saved;
        }
        ++m_entriesDone;
        reportCopied(context, 0);
    }
    if (auto synced = context.syncChanges(); !synced.ok())
        return synced;
    context.journal->add({"staged", "", ""});
    if (auto written = context.journal->write(); !written)
        return InstallResult::writeFailure(written.failure(), "cannot write the journal");
    return InstallResult::success();
}

InstallResult CopyPayloadStep::stageFile(InstallContext& context, int payload, const Item& item) {
    const auto& entry = *item.entry;
    const std::string temporary = PackageFiles::temporaryBeside(item.destination);
    (void)PackageFiles::remove(temporary);
    if (entry.kind == Kind::Link) {
        if (auto made = PackageFiles::makeLink(entry.linkTarget, temporary); !made)
            return InstallResult::writeFailure(made.failure(), "cannot make the link " + item.destination);
        return InstallResult::success();
    }
    // The payload is the agent's own verified copy (see PackageStaging.h):
    // where it lies on the same file system, the staged file itself becomes
    // the new file, with no second copy of its bytes.
    if (auto linked = PackageFiles::linkBelow(payload, entry.path, temporary)) {
        if (::fchmodat(AT_FDCWD, temporary.c_str(), entry.mode, 0) == 0) {
            m_bytesDone += entry.size;
            return InstallResult::success();
        }
        ::unlink(temporary.c_str());
    }
    auto opened = PackageFiles::openBelow(payload, entry.path);
    if (!opened)
        return {InstallResult::PayloadUnreadable,
                "cannot open the payload file " + entry.path + ": " + std::strerror(opened.failure().code)};
    FileDescriptor in(*opened);
    struct stat source {};
    if (::fstat(in.get(), &source) != 0 || !S_ISREG(source.st_mode) ||
        static_cast<uint64_t>(source.st_size) != entry.size)
        return {InstallResult::PayloadUnreadable,
                "the payload file " + entry.path + " changed while the package was installed"};
    auto out = PackageFiles::create(temporary);
    if (!out)
        return InstallResult::writeFailure(out.failure(), "cannot write " + item.destination);
    FileDescriptor file(*out);
    auto copied = platform::FileCopy::copy(in.get(), file.get(), entry.size,
                                           [&](uint64_t done) { reportCopied(context, done); });
    if (copied) {
        const timespec times[2] = {source.st_atim, source.st_mtim};
        ::futimens(file.get(), times);
        if (::fchmod(file.get(), entry.mode) != 0 || file.close() != 0)
            copied = platform::Failure{PackageFiles::kDomain, errno, std::strerror(errno)};
    }
    if (!copied) {
        ::unlink(temporary.c_str());
        if (copied.failure().domain == platform::FileCopy::kReadDomain)
            return {InstallResult::PayloadUnreadable, "cannot read the payload file " + entry.path + ": " +
                                                          std::strerror(copied.failure().code)};
        return InstallResult::writeFailure(copied.failure(), "cannot write " + item.destination);
    }
    m_bytesDone += entry.size;
    return InstallResult::success();
}

InstallResult CopyPayloadStep::place(InstallContext& context) {
    for (const auto& item : m_items) {
        if (item.entry->kind == Kind::Folder)
            continue;
        if (auto renamed =
                PackageFiles::rename(PackageFiles::temporaryBeside(item.destination), item.destination);
            !renamed)
            return InstallResult::writeFailure(renamed.failure(),
                                               "cannot put " + item.destination + " in place");
    }
    for (const auto& entry : context.package->entries())
        if (entry.kind != Kind::Folder) {
            context.receipt.files.push_back(entry.path);
            context.installedPaths.insert(PackagePaths::join(context.realBase, entry.path));
        }
    return InstallResult::success();
}

void CopyPayloadStep::reportCopied(InstallContext& context, uint64_t extra) const {
    const uint64_t total = context.package->totalBytes();
    const size_t count = context.package->entries().size();
    double percent = 100;
    if (total > 0)
        percent = 100.0 * static_cast<double>(m_bytesDone + extra) / static_cast<double>(total);
    else if (count > 0)
        percent = 100.0 * static_cast<double>(m_entriesDone) / static_cast<double>(count);
    context.report(percent, "Copying files");
}

bool CopyPayloadStep::undo(const std::vector<JournalRecord>& records) const {
    bool staged = false;
    for (const auto& record : records)
        staged |= record.kind == "staged";
    bool complete = true;
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        platform::Result<void> undone;
        if (it->kind == "folder") {
            undone = PackageFiles::removeFolder(it->path);
            if (!undone) // a folder left behind holds no file of either version
                OCNSLog("PackageInstaller: cannot remove the folder %@ while restoring: %@", it->path,
                        std::strerror(undone.failure().code));
            continue;
        }
        if (it->kind != "add" && it->kind != "replace")
            continue;
        undone = PackageFiles::remove(PackageFiles::temporaryBeside(it->path));
        if (undone && staged)
            undone = it->kind == "add" ? PackageFiles::remove(it->path)
                                       : PackageFiles::restore(it->other, it->path);
        if (!undone) {
            OCNSLog("PackageInstaller: cannot restore %@: %@", it->path, undone.failure().description);
            complete = false;
        }
    }
    return complete;
}
