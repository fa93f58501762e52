// The journal of one package operation, kept in memory and as the file
// <data folder>/journal, so that an operation cut short by a crash can be
// finished or rolled back when the agent starts again.
//
// The file is a list of records (JournalRecord), one per line, written as a
// whole (temporary file, fsync, rename, fsync of the folder) whenever write()
// is called. It starts with the operation, the package identifier and the
// backup set the operation may fill; then, for each step, a "step" record and
// what the step will change, written before it changes anything, and "staged"
// once the backups and new files the step depends on are durable; "committed"
// after the receipt is written.
//
// Install and update roll back unless committed: each step, last first, is
// undone from its records (InstallStep::undo), "rolled-back" is recorded,
// then the backup set and the journal go. Committed, they finish: folders that became obsolete go, then
// the journal. Undo and finish are idempotent, so a crash while doing them is
// repaired the same way at the next start. An uninstall is always finished
// (see PackageInstaller).
//
// An object that was begun and neither committed nor rolled back rolls back
// when it is destroyed (an exception, an early return).
#pragma once

#include "agent/package/JournalRecord.h"
#include "platform/Result.h"

#include <optional>
#include <string>
#include <vector>

class InstallJournal {
public:
    static constexpr const char* kFileName = "journal";
    /// Operation names.
    static constexpr const char* kInstall = "install";
    static constexpr const char* kUpdate = "update";
    static constexpr const char* kUninstall = "uninstall";

    /// Starts the journal of \p operation on \p identifier in \p dataFolder
    /// and makes it durable; \p backupSet is the folder backups go to.
    static platform::Result<InstallJournal> begin(const std::string& dataFolder, const std::string& operation,
                                                  const std::string& identifier,
                                                  const std::string& backupSet);
    /// The journal left in \p dataFolder by an unfinished operation, if any;
    /// fails when it exists but cannot be read.
    static platform::Result<std::optional<InstallJournal>> load(const std::string& dataFolder);
    /// The journal file of \p dataFolder.
    static std::string pathIn(const std::string& dataFolder);
    /// Where the receipt an install replaces is kept until the journal goes.
    static std::string previousReceiptIn(const std::string& dataFolder);

    InstallJournal(const InstallJournal&) = delete;
    InstallJournal& operator=(const InstallJournal&) = delete;
    InstallJournal(InstallJournal&& other) noexcept;
    InstallJournal& operator=(InstallJournal&&) = delete;
    ~InstallJournal();

    const std::string& operation() const { return m_operation; }
    const std::string& backupSet() const { return m_backupSet; }
    bool committed() const { return m_committed; }
    /// Records of \p kind, in order.
    std::vector<JournalRecord> recordsOf(const std::string& kind) const;

    /// Appends \p record in memory; write() makes it durable.
    void add(JournalRecord record);
    platform::Result<void> write();
    /// Records and writes "committed": from now on the operation is finished, not rolled back.
    platform::Result<void> commit();
    /// Finishes a committed operation: removes what its records mark obsolete and the journal.
    void finish();
    /// Undoes every step, last first, then removes the backup set and the
    /// journal. False when something could not be put back: then the backups
    /// and the journal stay, and the next start tries again.
    bool rollBack();

private:
    InstallJournal(std::string dataFolder, std::string operation, std::string backupSet);
    /// Undoes every step, last first; records "rolled-back" when all was put back.
    bool undoSteps();
    /// Makes the changes below every folder the records name durable (one syncfs per file system).
    void syncTouchedFileSystems() const;
    /// Removes the journal file and what it kept beside it.
    void remove();

    std::string m_dataFolder;
    std::string m_operation;
    std::string m_backupSet;
    std::vector<JournalRecord> m_records;
    bool m_committed = false;
    bool m_open = true;
};
