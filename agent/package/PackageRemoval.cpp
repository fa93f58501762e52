#include "agent/package/PackageRemoval.h"

#include "agent/package/PackageFiles.h"
#include "agent/package/PackagePaths.h"
#include "platform/LogText.h"

#include "CNSLog.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using platform::LogText::escaped;

InstallResult PackageRemoval::remove(const std::vector<PackageReceipt>& receipts, bool removeBackups,
                                     bool allBackups) {
    for (const auto& receipt : receipts)
        m_total += receipt.files.size();
    m_report(0, "Removing files");
    const std::string backups = PackagePaths::join(m_options.dataFolder, "backups");
    for (const auto& receipt : receipts) {
        const std::string realBase =
            PackageFiles::realPath(PackagePaths::rooted(m_options.installRoot, receipt.installLocation));
        const bool complete = removeFiles(receipt, realBase);
        if (!realBase.empty())
            removeFolders(receipt, realBase);
        if (complete) {
            m_report(-1, "Removing receipt");
            const std::string path = PackagePaths::join(PackagePaths::join(m_options.dataFolder, "receipts"),
                                                        receipt.identifier + ".plist");
            if (auto removed = PackageFiles::remove(path); !removed)
                note(InstallResult::writeFailure(removed.failure(),
                                                 "cannot remove the receipt of " + receipt.identifier));
        }
        if (removeBackups)
            if (auto removed = PackageFiles::removeTree(PackagePaths::join(backups, receipt.identifier));
                !removed)
                note(InstallResult::writeFailure(removed.failure(),
                                                 "cannot remove the backups of " + receipt.identifier));
    }
    if (removeBackups && allBackups) {
        m_report(-1, "Removing backups");
        if (auto removed = PackageFiles::removeTree(backups); !removed)
            note(InstallResult::writeFailure(removed.failure(), "cannot remove the backups in " + backups));
    }
    return m_outcome;
}

bool PackageRemoval::removeFiles(const PackageReceipt& receipt, const std::string& realBase) {
    bool complete = true;
    for (const auto& file : receipt.files) {
        ++m_done;
        m_report(100.0 * static_cast<double>(m_done) / static_cast<double>(m_total), "Removing files");
        if (realBase.empty())
            continue; // the install location is gone, and everything below it
        const std::string path = PackagePaths::join(realBase, file);
        const std::string parent = PackageFiles::realPath(PackageFiles::parentOf(path));
        if (parent.empty())
            continue; // its folder is gone
        if (!PackagePaths::isWithin(parent, realBase)) {
            OCNSLog("PackageInstaller: not removing %@: its folder now leads outside %@", path,
                    PackagePaths::rooted(m_options.installRoot, receipt.installLocation));
            continue;
        }
        const std::string real = parent + "/" + PackageFiles::nameOf(path);
        struct stat info {};
        if (::lstat(real.c_str(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            OCNSLog("PackageInstaller: not removing %@: it is a folder now", real);
            continue;
        }
        if (auto removed = PackageFiles::remove(real); !removed) {
            note(InstallResult::writeFailure(removed.failure(), "cannot remove " + real));
            complete = false;
        }
    }
    return complete;
}

void PackageRemoval::removeFolders(const PackageReceipt& receipt, const std::string& realBase) const {
    auto folders = receipt.folders;
    std::sort(folders.rbegin(), folders.rend()); // what a folder holds sorts after it
    for (const auto& folder : folders) {
        const std::string path = PackagePaths::join(realBase, folder);
        const std::string parent = PackageFiles::realPath(PackageFiles::parentOf(path));
        struct stat info {};
        if (parent.empty() || !PackagePaths::isWithin(parent, realBase) ||
            ::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            continue;
        auto removed = PackageFiles::removeFolder(path);
        if (!removed && removed.failure().code != ENOTEMPTY && removed.failure().code != EEXIST)
            OCNSLog("PackageInstaller: cannot remove the folder %@: %@", path,
                    std::strerror(removed.failure().code));
    }
    auto locations = receipt.createdLocations;
    std::sort(locations.rbegin(), locations.rend());
    for (const auto& location : locations)
        (void)PackageFiles::removeFolder(PackagePaths::rooted(m_options.installRoot, location));
}

void PackageRemoval::note(InstallResult result) {
    OCNSLog("PackageInstaller: %@", escaped(result.reason()));
    if (m_outcome.ok())
        m_outcome = std::move(result);
}
