#include "agent/package/CheckPackageStep.h"

#include "agent/package/InstallContext.h"
#include "platform/LogText.h"
#include "platform/VersionNumber.h"

#include "CNSLog.h"

#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using platform::LogText::escaped;

std::string utcStamp(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[64];
    std::strftime(text, sizeof text, format, &parts);
    return text;
}

/// A backup set folder named after the time and the version it saves, unique.
std::string newBackupSet(const InstallContext& context) {
    const std::string folder = context.options.dataFolder + "/backups/" + context.package->identifier();
    const std::string name = utcStamp("%Y%m%dT%H%M%SZ") + "-" +
                             (context.previous ? context.previous->version : std::string("none"));
    std::string candidate = name;
    for (int n = 2; ::access((folder + "/" + candidate).c_str(), F_OK) == 0; ++n)
        candidate = name + "-" + std::to_string(n);
    return folder + "/" + candidate;
}

void readPrevious(InstallContext& context) {
    const std::string receiptFile = context.receiptPath();
    if (::access(receiptFile.c_str(), F_OK) != 0)
        return;
    auto previous = PackageReceipt::read(receiptFile);
    if (!previous)
        OCNSLog("PackageInstaller: ignoring the unreadable receipt: %@",
                escaped(previous.failure().description));
    else if (previous->identifier == context.package->identifier())
        context.previous = std::move(*previous);
}

} // namespace

InstallResult CheckPackageStep::perform(InstallContext& context) {
    context.report(0, "Checking package");
    auto package = InstallerPackage::open(context.packagePath);
    if (!package)
        return InstallResult::from(package.failure());
    context.package = std::move(*package);
    const auto& p = *context.package;
    OCNSLog("PackageInstaller: package %@ version %@ for %@, %d entries, %llu bytes", escaped(p.identifier()),
            escaped(p.version()), escaped(p.installLocation()), static_cast<int>(p.entries().size()),
            static_cast<unsigned long long>(p.totalBytes()));
    readPrevious(context);
    if (context.previous) {
        OCNSLog("PackageInstaller: version %@ is installed", escaped(context.previous->version));
        if (context.mode == InstallContext::Mode::Update &&
            refusesUpdate(p.version(), context.previous->version))
            return {InstallResult::DowngradeRefused, "version " + context.previous->version +
                                                         " is installed; the update to the older version " +
                                                         p.version() + " is refused"};
    }
    struct stat rootInfo {};
    const std::string& root = context.options.installRoot;
    if (::stat(root.c_str(), &rootInfo) != 0 || !S_ISDIR(rootInfo.st_mode))
        return {InstallResult::WriteFailed, "the install root " + root + " is not a folder"};
    context.receipt.identifier = p.identifier();
    context.receipt.version = p.version();
    context.receipt.installLocation = p.installLocation();
    context.receipt.installDate = utcStamp("%Y-%m-%dT%H:%M:%SZ");
    context.backupSet = newBackupSet(context);
    return InstallResult::success();
}

bool CheckPackageStep::refusesUpdate(std::string_view packageVersion, std::string_view installedVersion) {
    return platform::VersionNumber::compare(packageVersion, installedVersion) < 0;
}
