// The installer agent's package engine: installs, updates and uninstalls an
// installer package (see InstallerPackage.h) and keeps receipts, backups and
// the journal of the running operation in the agent's data folder:
//
//   /var/lib/com.quorvantis.remote/receipts/<identifier>.plist   what is installed
//   /var/lib/com.quorvantis.remote/backups/<identifier>/<set>/    files replaced or removed,
//                                                                   one set per operation
//   /var/lib/com.quorvantis.remote/journal                        the unfinished operation
//   /var/lib/com.quorvantis.remote/staging/                       verified copies of packages
//
// Install and Update work from a root-owned copy of the package, verified
// against its signed manifest (PackageStaging.h) with the vendor key the
// agent carries; what the client's path holds is never opened again, and an
// unsigned or changed package installs nothing.
//
// Install and Update run these steps (one class each, see InstallStep.h):
// check the package (CheckPackageStep); run Scripts/preinstall
// (RunScriptStep); make the install location (MakeLocationStep); back up and
// copy the payload (CopyPayloadStep); remove files an earlier version
// installed that this one no longer has, backed up as well
// (RemoveOldFilesStep); run Scripts/postinstall; write the receipt
// (WriteReceiptStep). The journal (InstallJournal.h) is made durable before
// the install location is touched and advanced as the steps go; backups and
// new files are made durable (one sync per step) before anything they stand
// in for is replaced or removed. Any failure, and a crash at any point, ends
// in the previous state: replaced and removed files come back from the
// backups, new files and folders go, the old receipt stays, and the
// operation's backup set is dropped. What the scripts themselves changed is
// theirs to undo. Once the receipt is written the operation is committed.
//
// Update differs from Install in one point: it refuses a package older than
// the installed version (DowngradeRefused, nothing touched), older by the
// order of platform::VersionNumber (so "1.10" is newer than "1.9", and
// "2.0-beta" is the same version as "2.0"). Install installs whatever version
// it is given, so a user can go back on purpose or repair an installation.
// Both install into an empty system.
//
// Uninstall removes, for every receipt, the files it lists, then the folders
// the installations created when they are empty, then the receipt; with
// removeBackups also every backup. With no receipt at all it reports
// NotInstalled (nothing was removed), unless it removed leftover backups. It
// is journaled too, and is finished rather than undone: every step of it can
// be repeated, so a crash leaves, after recovery, nothing installed.
//
// recover() finishes or rolls back an operation a crash cut short; the agent
// calls it at start, before it listens, and every operation calls it first.
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

#include "agent/package/InstallResult.h"

#include <chrono>
#include <functional>
#include <string>

class PackageInstaller {
public:
    /// Progress: \p percent from 0 to 100 (the share of payload bytes done,
    /// never going down, 100 at the end of a successful operation) and a short
    /// line naming the step, as plain text. Called at each step and at most
    /// about once per percent while copying.
    using ProgressHandler = std::function<void(double percent, const std::string& info)>;

    static constexpr const char* kDataFolder = "/var/lib/com.quorvantis.remote";

    struct Options {
        /// Folder with receipts/, backups/, the journal and the lock file.
        std::string dataFolder = kDataFolder;
        /// Folder that install-location is resolved against; "/" on a real system.
        std::string installRoot = "/";
        /// Longest a preinstall or postinstall script may run before it is killed.
        std::chrono::milliseconds scriptTimeLimit = std::chrono::minutes(5);
        /// Tests only: called after each step of an install or update that
        /// succeeded, with the step's name; may throw to make the operation fail there.
        std::function<void(const char* step)> afterStep;
        /// The vendor's Ed25519 public key (raw) that packages must be signed
        /// with: by default the one embedded in this executable's information
        /// list; empty when there is none, and then every package is refused.
        std::string publicKey = embeddedPublicKey();
    };

    /// What recover() did.
    enum class Recovery {
        Nothing,    ///< no operation was left unfinished
        RolledBack, ///< an install or update was undone
        Finished,   ///< a committed install or update, or an uninstall, was completed
        Failed,     ///< the journal could not be read or the rollback was incomplete (see the log)
        Busy,       ///< another operation holds the data folder
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
    /// Finishes or rolls back an operation left unfinished by a crash (see
    /// above), removes its temporary files and backup set, and logs what it did.
    Recovery recover();

    /// The public key in the information list embedded in the running
    /// executable (read once); empty when there is none or it is malformed.
    static std::string embeddedPublicKey();

    const Options& options() const { return m_options; }
    std::string receiptsFolder() const;
    std::string backupsFolder() const;
    std::string stagingFolder() const;
    std::string receiptPath(const std::string& identifier) const;

private:
    enum class Mode { Install, Update };
    InstallResult installPackage(const std::string& packagePath, Mode mode);
    /// Runs \p work holding the data folder's lock (Busy when another
    /// operation holds it) after recovering, turns exceptions into
    /// InternalError and logs the outcome.
    InstallResult runExclusively(const char* action, const std::function<InstallResult()>& work);
    InstallResult installLocked(const std::string& packagePath, Mode mode);
    InstallResult uninstallLocked(bool removeBackups);
    Recovery recoverLocked();
    void report(double percent, const std::string& info);

    Options m_options;
    ProgressHandler m_progress;
    double m_lastPercent = 0;
    std::string m_lastInfo;
};
