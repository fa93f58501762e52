// Writes the receipt of the new version, replacing the old one atomically;
// a copy of the old receipt is kept beside the journal first, and marks the
// folders that an earlier version made at a location this one no longer uses
// as obsolete (removed when the operation finishes). Undo puts the old
// receipt back, or removes the new one when there was none.
#pragma once

#include "agent/package/InstallStep.h"

class WriteReceiptStep final : public InstallStep {
public:
    const char* name() const override { return "write-receipt"; }
    InstallResult perform(InstallContext& context) override;
    bool undo(const std::vector<JournalRecord>& records) const override;
};
