#include "agent/package/WriteReceiptStep.h"

#include "agent/package/InstallContext.h"
#include "agent/package/PackageFiles.h"
#include "agent/package/PackagePaths.h"

#include "CNSLog.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

std::optional<std::string> readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void markObsoleteFolders(InstallContext& context) {
    const auto& previous = *context.previous;
    const std::string oldBase = context.rooted(previous.installLocation);
    auto folders = previous.folders;
    std::sort(folders.rbegin(), folders.rend()); // what a folder holds sorts after it
    for (const auto& folder : folders)
        context.journal->add({"obsolete-folder", PackagePaths::join(oldBase, folder), ""});
    for (auto it = previous.createdLocations.rbegin(); it != previous.createdLocations.rend(); ++it)
        context.journal->add({"obsolete-folder", context.rooted(*it), ""});
}

} // namespace

InstallResult WriteReceiptStep::perform(InstallContext& context) {
    context.report(100, "Writing receipt");
    auto& receipt = context.receipt;
    receipt.backup = context.backupSetMade ? PackageFiles::nameOf(context.backupSet)
                                           : (context.previous ? context.previous->backup : std::string());
    const std::string receiptFile = context.receiptPath();
    std::string copy;
    if (const auto old = readWhole(receiptFile)) {
        copy = InstallJournal::previousReceiptIn(context.options.dataFolder);
        if (auto kept = PackageFiles::writeDurably(copy, *old); !kept)
            return InstallResult::writeFailure(kept.failure(), "cannot keep the previous receipt");
    }
    context.journal->add({"receipt", receiptFile, copy});
    if (context.previous && context.previous->installLocation != context.package->installLocation())
        markObsoleteFolders(context);
    const std::string folder = PackageFiles::parentOf(receiptFile);
    for (const auto& missing : PackageFiles::missingFolders(folder))
        context.journal->add({"folder", missing, ""});
    if (auto written = context.journal->write(); !written)
        return InstallResult::writeFailure(written.failure(), "cannot write the journal");
    if (auto made = PackageFiles::makeFolders(folder, 0755); !made)
        return InstallResult::writeFailure(made.failure(), "cannot make the receipts folder " + folder);
    if (auto written = receipt.write(receiptFile); !written)
        return InstallResult::writeFailure(written.failure(), "cannot write the receipt " + receiptFile);
    return InstallResult::success();
}

bool WriteReceiptStep::undo(const std::vector<JournalRecord>& records) const {
    for (const auto& record : records) {
        if (record.kind != "receipt")
            continue;
        platform::Result<void> undone;
        if (record.other.empty()) {
            undone = PackageFiles::remove(record.path);
        } else if (const auto old = readWhole(record.other)) {
            undone = PackageFiles::writeDurably(record.path, *old);
        } // else the copy went after the receipt was put back
        if (!undone) {
            OCNSLog("PackageInstaller: cannot restore the receipt %@: %@", record.path,
                    undone.failure().description);
            return false;
        }
    }
    for (auto it = records.rbegin(); it != records.rend(); ++it)
        if (it->kind == "folder")
            (void)PackageFiles::removeFolder(it->path); // only while empty
    return true;
}
