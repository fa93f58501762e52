// One step of an install or update (see PackageInstaller.h for their order).
//
// perform() records in the journal what it is about to change and writes the
// journal before changing anything, so that undo() can take the step back
// from those records alone: right after perform() failed, when the operation
// fails later, or at the next start after a crash at any point. undo() is
// idempotent and never relies on having been interrupted at a given place.
#pragma once

#include "agent/package/InstallResult.h"
#include "agent/package/JournalRecord.h"

#include <memory>
#include <string_view>
#include <vector>

class InstallContext;

class InstallStep {
public:
    InstallStep() = default;
    InstallStep(const InstallStep&) = delete;
    InstallStep& operator=(const InstallStep&) = delete;
    virtual ~InstallStep() = default;

    /// The step's name in the journal and in the test hook Options::afterStep.
    virtual const char* name() const = 0;
    virtual InstallResult perform(InstallContext& context) = 0;
    /// Undoes what \p records (the step's records in the journal) say the step
    /// may have done. False when something could not be put back.
    virtual bool undo(const std::vector<JournalRecord>& records) const = 0;

    /// The step called \p name, for undoing it from a journal; nullptr for an unknown name.
    static std::unique_ptr<InstallStep> named(std::string_view name);
};
