// An installer package as shipped in the application bundle:
//
//   InstallerPackage/
//     PackageInfo        XML property list: identifier, version, install-location (default "/")
//     Payload/           the file tree installed below install-location
//     Scripts/           optional preinstall and postinstall, run as root
//
// open() reads and checks everything before anything is installed: the
// information list, every payload entry (folders, regular files and symbolic
// links only; links must stay inside the install location) and the scripts.
#pragma once

#include "agent/package/InstallResult.h"
#include "platform/Result.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

class InstallerPackage {
public:
    /// One entry of the payload, parents listed before their children.
    struct Entry {
        enum class Kind { Folder, File, Link };
        Kind kind = Kind::File;
        std::string path;       ///< relative to Payload/ and to the install location
        std::string linkTarget; ///< for links: the target text as stored
        uint64_t size = 0;      ///< for files: bytes to copy
        mode_t mode = 0;        ///< permission bits (0777 at most)
    };

    /// Reads the package at \p path (an absolute folder path). Fails (see
    /// InstallResult::failure()) with PackageMissing, PackageMalformed,
    /// UnsafePayload or PayloadUnreadable and the reason.
    static platform::Result<InstallerPackage> open(const std::string& path);

    InstallerPackage(const InstallerPackage&) = default;
    InstallerPackage& operator=(const InstallerPackage&) = default;
    InstallerPackage(InstallerPackage&&) noexcept = default;
    InstallerPackage& operator=(InstallerPackage&&) noexcept = default;
    ~InstallerPackage() = default;

    const std::string& path() const { return m_path; }
    const std::string& identifier() const { return m_identifier; }
    const std::string& version() const { return m_version; }
    const std::string& installLocation() const { return m_installLocation; }
    const std::string& payloadPath() const { return m_payloadPath; }
    const std::vector<Entry>& entries() const { return m_entries; }
    /// Sum of the sizes of all payload files.
    uint64_t totalBytes() const { return m_totalBytes; }
    /// Full path of Scripts/preinstall or Scripts/postinstall; empty when absent.
    const std::string& preinstallScript() const { return m_preinstall; }
    const std::string& postinstallScript() const { return m_postinstall; }

    /// Largest PackageInfo accepted; anything bigger is not a real one.
    static constexpr uint64_t kMaxInfoBytes = 64 * 1024;

private:
    InstallerPackage() = default;
    InstallResult readInfo();
    InstallResult readPayload();
    InstallResult readScript(const char* name, std::string& into);

    std::string m_path;
    std::string m_identifier;
    std::string m_version;
    std::string m_installLocation = "/";
    std::string m_payloadPath;
    std::vector<Entry> m_entries;
    uint64_t m_totalBytes = 0;
    std::string m_preinstall;
    std::string m_postinstall;
};
