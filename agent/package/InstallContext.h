// What the steps of one install or update share: the options, the package,
// the previous receipt, the receipt being made, the journal and progress.
#pragma once

#include "agent/package/InstallJournal.h"
#include "agent/package/InstallerPackage.h"
#include "agent/package/PackageInstaller.h"
#include "agent/package/PackageReceipt.h"

#include <functional>
#include <optional>
#include <set>
#include <string>

class InstallContext {
public:
    enum class Mode { Install, Update };
    /// Progress as PackageInstaller reports it; a negative percent keeps the last one.
    using Report = std::function<void(double percent, const std::string& info)>;

    InstallContext(const PackageInstaller::Options& options, Mode mode, std::string packagePath,
                   Report report)
        : options(options), mode(mode), packagePath(std::move(packagePath)), report(std::move(report)) {}
    InstallContext(const InstallContext&) = delete;
    InstallContext& operator=(const InstallContext&) = delete;
    ~InstallContext() = default;

    /// \p location below the install root.
    std::string rooted(const std::string& location) const;
    std::string receiptPath() const;
    /// Where the backup of the installed entry \p relative goes.
    std::string backupPath(const std::string& relative) const;
    /// Copies the installed file or link \p installed to backupPath(\p relative),
    /// making the backup set when it is the first.
    InstallResult backUp(const std::string& installed, const std::string& relative);
    /// Makes the changes below the install location and in the data folder durable.
    InstallResult syncChanges() const;

    const PackageInstaller::Options& options;
    const Mode mode;
    const std::string packagePath;
    const Report report;
    std::optional<InstallerPackage> package;
    std::optional<PackageReceipt> previous;
    PackageReceipt receipt;
    InstallJournal* journal = nullptr;
    std::string backupSet; ///< the folder of this operation's backups
    bool backupSetMade = false;
    std::string realBase;                 ///< the install location with links resolved
    std::set<std::string> installedPaths; ///< real paths of the files placed
};
