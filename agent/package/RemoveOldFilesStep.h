// Removes the files of the installed version that this one no longer has:
// all are backed up and synced ("staged") before the first is removed. Undo,
// once staged, puts each back from its backup.
#pragma once

#include "agent/package/InstallStep.h"

class RemoveOldFilesStep final : public InstallStep {
public:
    const char* name() const override { return "remove-old-files"; }
    InstallResult perform(InstallContext& context) override;
    bool undo(const std::vector<JournalRecord>& records) const override;
};
