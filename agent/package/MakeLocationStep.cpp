#include "agent/package/MakeLocationStep.h"

#include "agent/package/InstallContext.h"
#include "agent/package/PackageFiles.h"
#include "agent/package/PackagePaths.h"

#include "CNSLog.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

InstallResult MakeLocationStep::perform(InstallContext& context) {
    const std::string base = context.rooted(context.package->installLocation());
    const auto missing = PackageFiles::missingFolders(base);
    for (const auto& folder : missing)
        context.journal->add({"folder", folder, ""});
    if (!missing.empty())
        if (auto written = context.journal->write(); !written)
            return InstallResult::writeFailure(written.failure(), "cannot write the journal");
    auto made = PackageFiles::makeFolders(base, 0755);
    if (!made)
        return made.failure().code == ENOTDIR
                   ? InstallResult{InstallResult::DestinationConflict,
                                   "the install location " + base + " is not a folder"}
                   : InstallResult::writeFailure(made.failure(), "cannot make the install location " + base);
    auto& created = context.receipt.createdLocations;
    const size_t rootLength = context.rooted("/") == "/" ? 0 : context.options.installRoot.size();
    for (const auto& folder : *made)
        created.push_back(folder.substr(rootLength)); // as seen from the install root
    // Folders an earlier version made for its location stay listed while
    // they hold this version's location too.
    if (context.previous)
        for (const auto& location : context.previous->createdLocations)
            if (PackagePaths::isWithin(context.package->installLocation(), location) &&
                std::find(created.begin(), created.end(), location) == created.end())
                created.push_back(location);
    context.realBase = PackageFiles::realPath(base);
    if (context.realBase.empty())
        return InstallResult::writeFailure({PackageFiles::kDomain, errno, ""},
                                           "cannot resolve the install location " + base);
    return InstallResult::success();
}

bool MakeLocationStep::undo(const std::vector<JournalRecord>& records) const {
    for (auto it = records.rbegin(); it != records.rend(); ++it)
        if (it->kind == "folder")
            if (auto removed = PackageFiles::removeFolder(it->path); !removed)
                OCNSLog("PackageInstaller: cannot remove the folder %@ while restoring: %@", it->path,
                        std::strerror(removed.failure().code));
    return true; // a folder left behind holds no file of either version
}
