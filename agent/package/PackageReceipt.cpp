#include "agent/package/PackageReceipt.h"

#include "agent/package/PackageFiles.h"
#include "agent/package/PackagePaths.h"
#include "platform/Identifier.h"
#include "platform/PropertyList.h"

#include <sys/stat.h>

std::optional<PackageReceipt> PackageReceipt::read(const std::string& path, std::string& error) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "no receipt file at " + path;
        return std::nullopt;
    }
    const auto list = platform::PropertyList::fromFile(path);
    if (!list) {
        error = "the receipt " + path + " is not a property list";
        return std::nullopt;
    }
    PackageReceipt receipt;
    const auto identifier = list->string("identifier");
    const auto version = list->string("version");
    const auto location = list->string("install-location");
    if (!identifier || !platform::Identifier::isValid(*identifier) || !version ||
        !PackagePaths::isValidVersion(*version) || !location ||
        !PackagePaths::isValidInstallLocation(*location)) {
        error = "the receipt " + path + " lacks a valid identifier, version or install-location";
        return std::nullopt;
    }
    receipt.identifier = *identifier;
    receipt.version = *version;
    receipt.installLocation = *location;
    receipt.installDate = list->string("install-date").value_or("");
    receipt.backup = list->string("backup").value_or("");
    if (!receipt.backup.empty() && !PackagePaths::isSafeRelative(receipt.backup)) {
        error = "the receipt " + path + " names an unsafe backup folder";
        return std::nullopt;
    }
    struct ListKey {
        const char* key;
        std::vector<std::string>* into;
    };
    for (const ListKey& item : {ListKey{"files", &receipt.files}, ListKey{"folders", &receipt.folders}}) {
        if (!list->values().count(item.key))
            continue;
        const auto values = list->stringArray(item.key);
        if (!values) {
            error = std::string("the receipt's \"") + item.key + "\" is not a list of texts";
            return std::nullopt;
        }
        for (const auto& value : *values) {
            if (!PackagePaths::isSafeRelative(value)) {
                error = "the receipt " + path + " lists an unsafe path: " + value;
                return std::nullopt;
            }
        }
        *item.into = *values;
    }
    if (list->values().count("created-locations")) {
        const auto values = list->stringArray("created-locations");
        if (!values) {
            error = "the receipt's \"created-locations\" is not a list of texts";
            return std::nullopt;
        }
        for (const auto& value : *values) {
            // Only the install location itself and the folders above it.
            if (!PackagePaths::isValidInstallLocation(value) || value == "/" ||
                !PackagePaths::isWithin(receipt.installLocation, value)) {
                error = "the receipt " + path + " lists an unsafe created location: " + value;
                return std::nullopt;
            }
        }
        receipt.createdLocations = *values;
    }
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
