// The installer agent's package engine: installs, updates and uninstalls an
// installer package (see InstallerPackage.h) and keeps receipts and backups in
// the agent's data folder:
//
//   /var/lib/com.quorvantis.remote/receipts/<identifier>.plist   what is installed
//   /var/lib/com.quorvantis.remote/backups/<identifier>/<set>/    files replaced or removed,
//                                                                   one set per operation
//
// Install and Update: check the package; run Scripts/preinstall; copy the
// payload below install-location (each file through a temporary file and a
// rename, every file replaced backed up first); remove files an earlier version
// installed that this one no longer has (backed up as well); run
// Scripts/postinstall; write the receipt last. Any failure restores the
// previous state: replaced and removed files come back from the backups, new
// files and folders go, the old receipt stays, and the operation's backup set
// is dropped. What the scripts themselves changed is theirs to undo.
//
// Update differs from Install in one point: it refuses a package older than
// the installed version (DowngradeRefused, nothing touched). Install installs
// whatever version it is given, so a user can go back on purpose or repair an
// installation. Both install into an empty system.
//
// Uninstall removes, for every receipt, the files it lists, then the folders
// the installations created when they are empty, then the receipt; with
// removeBackups also every backup. With no receipt at all it reports
// NotInstalled (nothing was removed), unless it removed leftover backups.
//
// Scripts run as the agent (root) with arguments <package folder>
// <install location> <install root>, a clean environment (fixed PATH, HOME,
// LANG and QVT_INSTALL_ACTION, QVT_INSTALL_LOCATION, QVT_INSTALL_ROOT,
// QVT_PACKAGE_IDENTIFIER, QVT_PACKAGE_PATH, QVT_PACKAGE_VERSION,
// QVT_PREVIOUS_VERSION), their output logged line by line, and a time limit.
//
// Installed files get the payload's permission bits without setuid, setgid and
// sticky bits, and belong to the agent's user. Links are copied as links.
//
// Only one operation runs at a time per data folder (an flock on
// <data folder>/.lock); a second one gets Busy at once, from this process or
// another. Calls block; progress is reported on the calling thread. An
// instance is used by one thread at a time.
#pragma once

#include "agent/InstallResult.h"

#include <chrono>
#include <functional>
#include <string>

class InstallerPackage;
class PackageReceipt;

class PackageInstaller {
public:
    /// Progress: \p percent from 0 to 100 (the share of payload bytes done;
    /// never going down, 100 at the end of a successful operation) and a short
    /// line naming the step, without ",". Called at each step and at most about
    /// once per percent while copying.
    using ProgressHandler = std::function<void(double percent, const std::string& info)>;

    static constexpr const char* kDataFolder = "/var/lib/com.quorvantis.remote";

    struct Options {
        /// Folder with receipts/, backups/ and the lock file.
        std::string dataFolder = kDataFolder;
        /// Folder that install-location is resolved against; "/" on a real system.
        std::string installRoot = "/";
        /// Longest a preinstall or postinstall script may run before it is killed.
        std::chrono::milliseconds scriptTimeLimit = std::chrono::minutes(5);
    };

    /// The real system paths, no progress reports.
    PackageInstaller();
    explicit PackageInstaller(Options options, ProgressHandler progress = {});
    PackageInstaller(const PackageInstaller&) = delete;
    PackageInstaller& operator=(const PackageInstaller&) = delete;
    PackageInstaller(PackageInstaller&&) noexcept = default;
    PackageInstaller& operator=(PackageInstaller&&) noexcept = default;
    ~PackageInstaller() = default;

    /// "Install": installs the package folder at \p packagePath (absolute).
    InstallResult install(const std::string& packagePath);
    /// "Update": as install(), but refuses a version older than the installed one.
    InstallResult update(const std::string& packagePath);
    /// "Uninstall": removes everything the receipts list; see above.
    InstallResult uninstall(bool removeBackups);

    const Options& options() const { return m_options; }
    std::string receiptsFolder() const;
    std::string backupsFolder() const;
    std::string receiptPath(const std::string& identifier) const;

private:
    enum class Mode { Install, Update };
    InstallResult installPackage(const std::string& packagePath, Mode mode);
    /// Runs \p work holding the data folder's lock (Busy when another
    /// operation holds it), turns exceptions into InternalError and logs the outcome.
    InstallResult runExclusively(const char* action, const std::function<InstallResult()>& work);
    InstallResult installLocked(const std::string& packagePath, Mode mode);
    InstallResult uninstallLocked(bool removeBackups);
    InstallResult runScript(const InstallerPackage& package, const std::string& script, const char* name,
                            Mode mode, const PackageReceipt* previous);
    /// Absolute path of \p location below the install root.
    std::string rooted(const std::string& location) const;
    void report(double percent, const std::string& info);

    Options m_options;
    ProgressHandler m_progress;
    double m_lastPercent = 0;
    std::string m_lastInfo;
};
