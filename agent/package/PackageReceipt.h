// What an installation left on the system, kept as an XML property list at
// <data folder>/receipts/<identifier>.plist: the version, the install location,
// every file and link installed, the folders the installations created (removed
// again by the uninstall when empty) and the latest backup folder.
#pragma once

#include "platform/Result.h"

#include <optional>
#include <string>
#include <vector>

class PackageReceipt {
public:
    PackageReceipt() = default;
    PackageReceipt(const PackageReceipt&) = default;
    PackageReceipt& operator=(const PackageReceipt&) = default;
    PackageReceipt(PackageReceipt&&) noexcept = default;
    PackageReceipt& operator=(PackageReceipt&&) noexcept = default;
    ~PackageReceipt() = default;

    /// Failure domain of read; the code is ENOENT when there is no receipt file, EINVAL otherwise.
    static constexpr const char* kDomain = "PackageReceipt";

    /// Reads and checks the receipt at \p path. A receipt is input like a
    /// package: the identifier, the install location and every listed path
    /// are checked; on any fault the failure says why.
    static platform::Result<PackageReceipt> read(const std::string& path);
    /// Replaces the file at \p path atomically and durably (see
    /// PackageFiles::writeDurably): a crash leaves the old receipt or the new one.
    platform::Result<void> write(const std::string& path) const;

    std::string identifier;
    std::string version;
    std::string installLocation = "/";
    std::string installDate;                   ///< UTC, "YYYY-MM-DDThh:mm:ssZ"
    std::vector<std::string> files;            ///< files and links, relative to installLocation
    std::vector<std::string> folders;          ///< folders created, relative to installLocation
    std::vector<std::string> createdLocations; ///< components of installLocation created, absolute
    std::string backup;                        ///< folder name of the latest backup set, may be empty
};
