#include "agent/package/RemoveOldFilesStep.h"

#include "agent/package/InstallContext.h"
#include "agent/package/PackageFiles.h"
#include "agent/package/PackagePaths.h"

#include "CNSLog.h"

#include <algorithm>
#include <sys/stat.h>

namespace {

struct OldFile {
    std::string path;     ///< real path
    std::string relative; ///< as the receipt lists it
};

/// The files the previous receipt lists that this version did not install,
/// as long as they still lie inside the old install location.
std::vector<OldFile> oldFiles(const InstallContext& context) {
    std::vector<OldFile> result;
    const std::string oldBase = PackageFiles::realPath(context.rooted(context.previous->installLocation));
    if (oldBase.empty())
        return result;
    for (const auto& file : context.previous->files) {
        const std::string path = PackagePaths::join(oldBase, file);
        if (context.installedPaths.count(path))
            continue;
        const std::string parent = PackageFiles::realPath(PackageFiles::parentOf(path));
        struct stat info {};
        if (parent.empty() || !PackagePaths::isWithin(parent, oldBase) || ::lstat(path.c_str(), &info) != 0 ||
            S_ISDIR(info.st_mode))
            continue;
        result.push_back({parent + "/" + PackageFiles::nameOf(path), file});
    }
    return result;
}

} // namespace

InstallResult RemoveOldFilesStep::perform(InstallContext& context) {
    if (!context.previous)
        return InstallResult::success();
    const auto files = oldFiles(context);
    if (!files.empty()) {
        context.report(-1, "Removing old files");
        for (const auto& file : files)
            context.journal->add({"remove", file.path, context.backupPath(file.relative)});
        if (auto written = context.journal->write(); !written)
            return InstallResult::writeFailure(written.failure(), "cannot write the journal");
        for (const auto& file : files)
            if (auto saved = context.backUp(file.path, file.relative); !saved.ok())
                return saved;
        if (auto synced = context.syncChanges(); !synced.ok())
            return synced;
        context.journal->add({"staged", "", ""});
        if (auto written = context.journal->write(); !written)
            return InstallResult::writeFailure(written.failure(), "cannot write the journal");
        for (const auto& file : files)
            if (auto removed = PackageFiles::remove(file.path); !removed)
                return InstallResult::writeFailure(removed.failure(),
                                                   "cannot remove the old file " + file.path);
    }
    auto& folders = context.receipt.folders;
    if (context.previous->installLocation == context.package->installLocation())
        for (const auto& folder : context.previous->folders)
            if (std::find(folders.begin(), folders.end(), folder) == folders.end())
                folders.push_back(folder);
    return InstallResult::success();
}

bool RemoveOldFilesStep::undo(const std::vector<JournalRecord>& records) const {
    if (std::none_of(records.begin(), records.end(), [](const auto& r) { return r.kind == "staged"; }))
        return true; // nothing was removed yet
    bool complete = true;
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        if (it->kind != "remove")
            continue;
        if (auto restored = PackageFiles::restore(it->other, it->path); !restored) {
            OCNSLog("PackageInstaller: cannot restore %@ from %@: %@", it->path, it->other,
                    restored.failure().description);
            complete = false;
        }
    }
    return complete;
}
