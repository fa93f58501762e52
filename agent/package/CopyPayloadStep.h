// Backs up and copies the payload below the install location, in three
// passes so that a crash at any point can be undone:
//
//   1. plan: where each entry goes and whether it replaces an installed file;
//      conflicts are found here, before anything changes; the plan is written
//      to the journal.
//   2. stage: make the new folders, copy every new file or link to a
//      temporary ".<name>.qvt-new" beside its destination, back up every file
//      it replaces; then one sync, and "staged" in the journal.
//   3. place: rename each temporary over its destination.
//
// Undo removes the temporaries; once staged, it also removes the added files
// and puts the replaced ones back from their backups; then the new folders go.
#pragma once

#include "agent/package/InstallStep.h"
#include "agent/package/InstallerPackage.h"

#include <string>

class CopyPayloadStep final : public InstallStep {
public:
    const char* name() const override { return "copy-payload"; }
    InstallResult perform(InstallContext& context) override;
    bool undo(const std::vector<JournalRecord>& records) const override;

private:
    struct Item {
        const InstallerPackage::Entry* entry;
        std::string destination;
        bool replaces = false;
    };
    InstallResult plan(InstallContext& context);
    InstallResult stage(InstallContext& context);
    InstallResult stageFile(InstallContext& context, int payload, const Item& item);
    InstallResult place(InstallContext& context);
    void reportCopied(InstallContext& context, uint64_t extra) const;

    std::vector<Item> m_items;
    uint64_t m_bytesDone = 0;
    size_t m_entriesDone = 0;
};
