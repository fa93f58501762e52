// Removes what receipts list: the uninstall's work, also done by recovery to
// finish an uninstall a crash cut short. Every part of it can be repeated:
// files already gone count as removed, and each receipt goes only after the
// files it lists, so what is left is always listed by a receipt.
#pragma once

#include "agent/package/InstallResult.h"
#include "agent/package/PackageInstaller.h"
#include "agent/package/PackageReceipt.h"

#include <functional>
#include <string>
#include <vector>

class PackageRemoval {
public:
    /// Progress as PackageInstaller reports it; a negative percent keeps the last one.
    using Report = std::function<void(double percent, const std::string& info)>;

    PackageRemoval(const PackageInstaller::Options& options, Report report)
        : m_options(options), m_report(std::move(report)) {}
    PackageRemoval(const PackageRemoval&) = delete;
    PackageRemoval& operator=(const PackageRemoval&) = delete;
    ~PackageRemoval() = default;

    /// Removes the installations of \p receipts; with \p removeBackups their
    /// backups and, when \p allBackups, the whole backups folder. The first
    /// failure, or success.
    InstallResult remove(const std::vector<PackageReceipt>& receipts, bool removeBackups, bool allBackups);

private:
    /// Removes the files \p receipt lists; false when one could not be removed.
    bool removeFiles(const PackageReceipt& receipt, const std::string& realBase);
    void removeFolders(const PackageReceipt& receipt, const std::string& realBase) const;
    void note(InstallResult result);

    const PackageInstaller::Options& m_options;
    const Report m_report;
    InstallResult m_outcome;
    size_t m_done = 0;
    size_t m_total = 0;
};
