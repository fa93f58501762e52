#include "agent/package/InstallContext.h"

#include "agent/package/PackageFiles.h"
#include "agent/package/PackagePaths.h"
#include "platform/FileCopy.h"

#include <cstring>

std::string InstallContext::rooted(const std::string& location) const {
    return PackagePaths::rooted(options.installRoot, location);
}

std::string InstallContext::receiptPath() const {
    return PackagePaths::join(PackagePaths::join(options.dataFolder, "receipts"),
                              package->identifier() + ".plist");
}

std::string InstallContext::backupPath(const std::string& relative) const {
    return PackagePaths::join(backupSet, relative);
}

InstallResult InstallContext::backUp(const std::string& installed, const std::string& relative) {
    if (!backupSetMade) {
        if (auto made = PackageFiles::makeFolders(backupSet, 0700); !made)
            return InstallResult::writeFailure(made.failure(), "cannot make the backup folder " + backupSet);
        backupSetMade = true;
    }
    const std::string copy = backupPath(relative);
    if (auto made = PackageFiles::makeFolders(PackageFiles::parentOf(copy), 0700); !made)
        return InstallResult::writeFailure(made.failure(), "cannot make the backup folder of " + copy);
    auto copied = PackageFiles::copyEntry(installed, copy);
    if (copied)
        return InstallResult::success();
    if (copied.failure().domain == platform::FileCopy::kReadDomain)
        return {InstallResult::WriteFailed,
                "cannot read " + installed + " to back it up: " + std::strerror(copied.failure().code)};
    return InstallResult::writeFailure(copied.failure(), "cannot back up " + installed);
}

InstallResult InstallContext::syncChanges() const {
    for (const std::string& folder : {realBase, options.dataFolder})
        if (auto synced = PackageFiles::syncFileSystem(folder); !synced)
            return InstallResult::writeFailure(synced.failure(), "cannot make the changes durable");
    return InstallResult::success();
}
