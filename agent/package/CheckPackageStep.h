// Reads and checks the package and the receipt of the installed version;
// refuses an update to an older version (platform::VersionNumber decides).
// Changes nothing, so it runs before the journal is begun.
#pragma once

#include "agent/package/InstallStep.h"

#include <string_view>

class CheckPackageStep final : public InstallStep {
public:
    const char* name() const override { return "check-package"; }
    InstallResult perform(InstallContext& context) override;
    bool undo(const std::vector<JournalRecord>&) const override { return true; }

    /// Whether an update to \p packageVersion is refused while \p installedVersion is installed:
    /// when the package is older by platform::VersionNumber.
    static bool refusesUpdate(std::string_view packageVersion, std::string_view installedVersion);
};
