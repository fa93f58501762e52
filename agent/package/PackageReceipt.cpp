#include "agent/package/PackageReceipt.h"

#include "agent/package/PackageFiles.h"
#include "agent/package/PackagePaths.h"
#include "platform/Identifier.h"
#include "platform/PropertyList.h"

#include <cerrno>
#include <functional>
#include <sys/stat.h>
#include <tuple>

namespace {

platform::Failure invalid(std::string description) {
    return {PackageReceipt::kDomain, EINVAL, std::move(description)};
}

/// The texts under \p key of the receipt at \p path (none when the key is
/// absent), each accepted by \p safe.
platform::Result<std::vector<std::string>> readList(const platform::PropertyList& list, const char* key,
                                                    const std::string& path,
                                                    const std::function<bool(const std::string&)>& safe,
                                                    const char* what) {
    if (!list.values().count(key))
        return std::vector<std::string>();
    auto values = list.stringArray(key);
    if (!values)
        return invalid(std::string("the receipt's \"") + key + "\" is not a list of texts");
    for (const auto& value : *values)
        if (!safe(value))
            return invalid("the receipt " + path + " lists an unsafe " + what + ": " + value);
    return std::move(*values);
}

} // namespace

platform::Result<PackageReceipt> PackageReceipt::read(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return platform::Failure{kDomain, ENOENT, "no receipt file at " + path};
    const auto list = platform::PropertyList::fromFile(path);
    if (!list)
        return invalid("the receipt " + path + " is not a property list");
    PackageReceipt receipt;
    const auto identifier = list->string("identifier");
    const auto version = list->string("version");
    const auto location = list->string("install-location");
    if (!identifier || !platform::Identifier::isValid(*identifier) || !version ||
        !PackagePaths::isValidVersion(*version) || !location ||
        !PackagePaths::isValidInstallLocation(*location))
        return invalid("the receipt " + path + " lacks a valid identifier, version or install-location");
    receipt.identifier = *identifier;
    receipt.version = *version;
    receipt.installLocation = *location;
    receipt.installDate = list->string("install-date").value_or("");
    receipt.backup = list->string("backup").value_or("");
    if (!receipt.backup.empty() && !PackagePaths::isSafeRelative(receipt.backup))
        return invalid("the receipt " + path + " names an unsafe backup folder");
    const auto safePath = [](const std::string& value) { return PackagePaths::isSafeRelative(value); };
    // Only the install location itself and the folders above it.
    const auto safeLocation = [&](const std::string& value) {
        return PackagePaths::isValidInstallLocation(value) && value != "/" &&
               PackagePaths::isWithin(receipt.installLocation, value);
    };
    for (auto [key, into] : {std::pair{"files", &receipt.files}, {"folders", &receipt.folders}}) {
        auto values = readList(*list, key, path, safePath, "path");
        if (!values)
            return values.failure();
        *into = std::move(*values);
    }
    auto locations = readList(*list, "created-locations", path, safeLocation, "created location");
    if (!locations)
        return locations.failure();
    receipt.createdLocations = std::move(*locations);
    return receipt;
}

platform::Result<void> PackageReceipt::write(const std::string& path) const {
    platform::PropertyList list;
    list.set("identifier", identifier);
    list.set("version", version);
    list.set("install-location", installLocation);
    list.set("install-date", installDate);
    list.set("files", files);
    list.set("folders", folders);
    list.set("created-locations", createdLocations);
    if (!backup.empty())
        list.set("backup", backup);
    return PackageFiles::writeDurably(path, list.toXml());
}
