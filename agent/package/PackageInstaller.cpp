#include "agent/package/PackageInstaller.h"

#include "agent/package/CheckPackageStep.h"
#include "agent/package/CopyPayloadStep.h"
#include "agent/package/InstallContext.h"
#include "agent/package/InstallJournal.h"
#include "agent/package/MakeLocationStep.h"
#include "agent/package/PackageFiles.h"
#include "agent/package/PackagePaths.h"
#include "agent/package/PackageReceipt.h"
#include "agent/package/PackageRemoval.h"
#include "agent/package/PackageStaging.h"
#include "agent/package/RemoveOldFilesStep.h"
#include "agent/package/RunScriptStep.h"
#include "agent/package/WriteReceiptStep.h"

#include "platform/ExecutableInfo.h"
#include "platform/LogText.h"
#include "platform/Signature.h"

#include "CNSLog.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

using platform::LogText::escaped;

/// An exclusive, non-blocking lock on <data folder>/.lock.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder) {
        if (auto made = PackageFiles::makeFolders(folder, 0755); !made) {
            errno = made.failure().code;
            return;
        }
        m_fd = ::open((folder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
            m_locked = true;
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock() {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    bool locked() const { return m_locked; }
    bool opened() const { return m_fd >= 0; }

private:
    int m_fd = -1;
    bool m_locked = false;
};

/// The verified copy of the package an install or update works from; it
/// goes when the operation ends, whatever its outcome, and the staging
/// folder with it when nothing else is in there.
class StagedCopy {
public:
    StagedCopy(std::string path, std::string stagingRoot)
        : m_path(std::move(path)), m_stagingRoot(std::move(stagingRoot)) {}
    StagedCopy(const StagedCopy&) = delete;
    StagedCopy& operator=(const StagedCopy&) = delete;
    ~StagedCopy() {
        (void)PackageFiles::removeTree(m_path);
        ::rmdir(m_stagingRoot.c_str());
    }

private:
    std::string m_path;
    std::string m_stagingRoot;
};

InstallResult internalError(const char* what) {
    OCNSLog("PackageInstaller: unexpected failure: %@", what);
    return {InstallResult::InternalError, std::string("unexpected failure: ") + what};
}

InstallResult rollBack(InstallJournal& journal, InstallResult result) {
    OCNSLog("PackageInstaller: %@; restoring the previous state", escaped(result.reason()));
    if (journal.rollBack())
        return result;
    return {result.status(), result.reason() +
                                 "; the previous state could not be fully restored, backups kept in " +
                                 journal.backupSet()};
}

/// The names in \p folder that end in \p suffix, sorted.
std::vector<std::string> namesIn(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> names;
    if (DIR* listing = ::opendir(folder.c_str())) {
        while (const dirent* item = ::readdir(listing)) {
            const std::string name = item->d_name;
            if (name.size() > suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                names.push_back(name);
        }
        ::closedir(listing);
    }
    std::sort(names.begin(), names.end());
    return names;
}

/// The names of the receipt files in \p folder, sorted.
std::vector<std::string> receiptNames(const std::string& folder) {
    auto names = namesIn(folder, ".plist");
    std::erase_if(names, [](const std::string& name) { return name.front() == '.'; });
    return names;
}

} // namespace

PackageInstaller::PackageInstaller() : PackageInstaller(Options{}) {}

PackageInstaller::PackageInstaller(Options options, ProgressHandler progress)
    : m_options(std::move(options)), m_progress(std::move(progress)) {
    while (m_options.installRoot.size() > 1 && m_options.installRoot.back() == '/')
        m_options.installRoot.pop_back();
    if (m_options.installRoot.empty())
        m_options.installRoot = "/";
}

std::string PackageInstaller::receiptsFolder() const {
    return PackagePaths::join(m_options.dataFolder, "receipts");
}

std::string PackageInstaller::backupsFolder() const {
    return PackagePaths::join(m_options.dataFolder, "backups");
}

std::string PackageInstaller::stagingFolder() const {
    return PackagePaths::join(m_options.dataFolder, "staging");
}

std::string PackageInstaller::embeddedPublicKey() {
    static const std::string key = [] {
        const auto info = platform::ExecutableInfo::read("/proc/self/exe");
        const auto text = info ? info->string(platform::Signature::kPublicKeyInfoKey) : std::nullopt;
        const auto raw = text ? platform::Signature::fromHex(*text) : std::nullopt;
        return raw && raw->size() == platform::Signature::kPublicKeyBytes ? *raw : std::string();
    }();
    return key;
}

std::string PackageInstaller::receiptPath(const std::string& identifier) const {
    return PackagePaths::join(receiptsFolder(), identifier + ".plist");
}

void PackageInstaller::report(double percent, const std::string& info) {
    percent = std::floor(std::clamp(percent < 0 ? m_lastPercent : percent, m_lastPercent, 100.0));
    if (info == m_lastInfo && percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    m_lastInfo = info;
    if (m_progress)
        m_progress(percent, info);
}

InstallResult PackageInstaller::install(const std::string& packagePath) {
    return installPackage(packagePath, Mode::Install);
}

InstallResult PackageInstaller::update(const std::string& packagePath) {
    return installPackage(packagePath, Mode::Update);
}

InstallResult PackageInstaller::installPackage(const std::string& packagePath, Mode mode) {
    const char* action = mode == Mode::Install ? "Install" : "Update";
    OCNSLog("PackageInstaller: %@ of %@", action, escaped(packagePath));
    return runExclusively(action, [&] { return installLocked(packagePath, mode); });
}

InstallResult PackageInstaller::runExclusively(const char* action,
                                               const std::function<InstallResult()>& work) {
    m_lastPercent = 0;
    m_lastInfo.clear();
    InstallResult result;
    try {
        FolderLock lock(m_options.dataFolder);
        if (!lock.opened())
            result = InstallResult::writeFailure(
                {PackageFiles::kDomain, errno ? errno : EIO, std::strerror(errno ? errno : EIO)},
                "cannot use the data folder " + m_options.dataFolder);
        else if (!lock.locked())
            result = {InstallResult::Busy, "another package operation is running"};
        else if (recoverLocked() == Recovery::Failed)
            result = {InstallResult::WriteFailed,
                      "an earlier operation could not be finished or rolled back; see the log"};
        else
            result = work();
    } catch (const std::exception& e) {
        result = internalError(e.what());
    } catch (...) {
        result = internalError("an unknown exception");
    }
    if (result.ok())
        OCNSLog("PackageInstaller: %@ completed", action);
    else
        OCNSLog("PackageInstaller: %@ failed with status %d (%@): %@", action, result.code(),
                InstallResult::statusName(result.status()), escaped(result.reason()));
    return result;
}

InstallResult PackageInstaller::installLocked(const std::string& packagePath, Mode mode) {
    report(0, "Checking package");
    auto staged = PackageStaging::stage(packagePath, stagingFolder(), m_options.publicKey);
    if (!staged)
        return InstallResult::from(staged.failure());
    OCNSLog("PackageInstaller: the package's signature and contents are verified; installing from %@",
            *staged);
    const StagedCopy stagedCopy(*staged, stagingFolder());
    InstallContext context(
        m_options, mode == Mode::Install ? InstallContext::Mode::Install : InstallContext::Mode::Update,
        *staged, [this](double percent, const std::string& info) { report(percent, info); });
    auto afterStep = [this](const InstallStep& step) {
        if (m_options.afterStep)
            m_options.afterStep(step.name());
    };
    CheckPackageStep check;
    if (auto checked = check.perform(context); !checked.ok())
        return checked;
    afterStep(check);
    auto journal = InstallJournal::begin(
        m_options.dataFolder, mode == Mode::Install ? InstallJournal::kInstall : InstallJournal::kUpdate,
        context.package->identifier(), context.backupSet);
    if (!journal)
        return InstallResult::writeFailure(journal.failure(), "cannot write the journal");
    context.journal = &*journal;
    RunScriptStep preinstall(RunScriptStep::Script::Preinstall);
    MakeLocationStep location;
    CopyPayloadStep payload;
    RemoveOldFilesStep oldFiles;
    RunScriptStep postinstall(RunScriptStep::Script::Postinstall);
    WriteReceiptStep receipt;
    for (InstallStep* step : std::initializer_list<InstallStep*>{&preinstall, &location, &payload, &oldFiles,
                                                                 &postinstall, &receipt}) {
        journal->add({"step", step->name(), ""});
        if (auto done = step->perform(context); !done.ok()) {
            report(-1, "Restoring previous state");
            return rollBack(*journal, done);
        }
        afterStep(*step);
    }
    if (auto committed = journal->commit(); !committed)
        return rollBack(*journal,
                        InstallResult::writeFailure(committed.failure(), "cannot write the journal"));
    journal->finish();
    report(100, mode == Mode::Install ? "Installation complete" : "Update complete");
    return InstallResult::success();
}

InstallResult PackageInstaller::uninstall(bool removeBackups) {
    OCNSLog("PackageInstaller: Uninstall%@", removeBackups ? " with backups" : "");
    return runExclusively("Uninstall", [&] { return uninstallLocked(removeBackups); });
}

InstallResult PackageInstaller::uninstallLocked(bool removeBackups) {
    report(0, "Reading receipts");
    const auto names = receiptNames(receiptsFolder());
    InstallResult invalid;
    std::vector<PackageReceipt> receipts;
    for (const auto& name : names) {
        auto receipt = PackageReceipt::read(PackagePaths::join(receiptsFolder(), name));
        std::string why = receipt ? "" : receipt.failure().description;
        if (receipt && receipt->identifier + ".plist" != name)
            why = "the receipt " + name + " belongs to " + receipt->identifier;
        if (why.empty()) {
            receipts.push_back(std::move(*receipt));
            continue;
        }
        OCNSLog("PackageInstaller: %@; it is kept and nothing it lists is removed", escaped(why));
        if (invalid.ok())
            invalid = {InstallResult::ReceiptInvalid, why + "; it is kept and nothing it lists is removed"};
    }
    const bool backupsExist = ::access(backupsFolder().c_str(), F_OK) == 0;
    if (names.empty() && !(removeBackups && backupsExist)) {
        report(100, "Nothing to uninstall");
        return {InstallResult::NotInstalled,
                "nothing is installed: there is no receipt in " + receiptsFolder()};
    }
    auto journal = InstallJournal::begin(m_options.dataFolder, InstallJournal::kUninstall, "", "");
    if (!journal)
        return InstallResult::writeFailure(journal.failure(), "cannot write the journal");
    journal->add({"remove-backups", removeBackups ? "1" : "0", backupsExist ? "all" : ""});
    for (const auto& receipt : receipts)
        journal->add({"receipt", receipt.identifier, ""});
    if (auto written = journal->write(); !written)
        return InstallResult::writeFailure(written.failure(), "cannot write the journal");
    PackageRemoval removal(m_options,
                           [this](double percent, const std::string& info) { report(percent, info); });
    auto outcome = removal.remove(receipts, removeBackups, backupsExist);
    journal->finish();
    if (!invalid.ok())
        outcome = invalid; // reported first, as it was found first
    report(100, outcome.ok() ? "Uninstall complete" : "Uninstall incomplete");
    return outcome;
}

PackageInstaller::Recovery PackageInstaller::recover() {
    try {
        FolderLock lock(m_options.dataFolder);
        if (!lock.opened()) {
            OCNSLog("PackageInstaller: cannot use the data folder %@ to recover", m_options.dataFolder);
            return Recovery::Failed;
        }
        if (!lock.locked())
            return Recovery::Busy;
        return recoverLocked();
    } catch (const std::exception& e) {
        internalError(e.what());
    }
    return Recovery::Failed;
}

PackageInstaller::Recovery PackageInstaller::recoverLocked() {
    // Temporaries of receipts and of the journal, left by a crash while writing them.
    for (const auto& folder : {m_options.dataFolder, receiptsFolder()})
        for (const auto& name : namesIn(folder, PackageFiles::kNewSuffix))
            if (name.front() == '.')
                (void)PackageFiles::remove(PackagePaths::join(folder, name));
    PackageStaging::clear(stagingFolder());
    auto loaded = InstallJournal::load(m_options.dataFolder);
    if (!loaded) {
        OCNSLog("PackageInstaller: cannot recover: %@; it is kept", loaded.failure().description);
        return Recovery::Failed;
    }
    if (!*loaded)
        return Recovery::Nothing;
    auto& journal = **loaded;
    const auto identifier = journal.recordsOf("identifier");
    const std::string what =
        journal.operation() +
        (identifier.empty() || identifier[0].path.empty() ? "" : " of " + escaped(identifier[0].path));
    if (journal.operation() == InstallJournal::kUninstall) {
        OCNSLog("PackageInstaller: finishing the interrupted %@", what);
        std::vector<PackageReceipt> receipts;
        for (const auto& record : journal.recordsOf("receipt")) {
            if (auto receipt = PackageReceipt::read(receiptPath(record.path)))
                receipts.push_back(std::move(*receipt));
        }
        const auto flags = journal.recordsOf("remove-backups");
        const bool removeBackups = !flags.empty() && flags[0].path == "1";
        PackageRemoval removal(m_options, [](double, const std::string&) {});
        if (auto outcome = removal.remove(receipts, removeBackups, !flags.empty() && flags[0].other == "all");
            !outcome.ok())
            OCNSLog("PackageInstaller: the interrupted %@ is incomplete: %@", what,
                    escaped(outcome.reason()));
        journal.finish();
        return Recovery::Finished;
    }
    if (journal.committed()) {
        OCNSLog("PackageInstaller: finishing the interrupted %@", what);
        journal.finish();
        return Recovery::Finished;
    }
    OCNSLog("PackageInstaller: rolling back the interrupted %@", what);
    if (!journal.rollBack())
        return Recovery::Failed;
    OCNSLog("PackageInstaller: rolled back the interrupted %@", what);
    return Recovery::RolledBack;
}
