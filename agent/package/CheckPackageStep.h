// Reads and checks the package and the receipt of the installed version;
// refuses an update to an older version (platform::VersionNumber decides).
// Changes nothing, so it runs before the journal is begun.
#pragma once

#include "agent/package/InstallStep.h"

class CheckPackageStep final : public InstallStep {
public:
    const char* name() const override { return "check-package"; }
    InstallResult perform(InstallContext& context) override;
    bool undo(const std::vector<JournalRecord>&) const override { return true; }
};
