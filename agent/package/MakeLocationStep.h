// Makes the install location and the folders above it that are missing;
// records them in the receipt, so that the uninstall removes them again.
// Undo removes the folders it made (while empty).
#pragma once

#include "agent/package/InstallStep.h"

class MakeLocationStep final : public InstallStep {
public:
    const char* name() const override { return "make-location"; }
    InstallResult perform(InstallContext& context) override;
    bool undo(const std::vector<JournalRecord>& records) const override;
};
