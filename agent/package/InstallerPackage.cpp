#include "agent/package/InstallerPackage.h"

#include "agent/package/PackagePaths.h"
#include "platform/Identifier.h"
#include "platform/PropertyList.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

InstallResult fail(InstallResult::Status status, std::string reason) {
    return {status, std::move(reason)};
}

std::string describeErrno(int error) {
    return std::strerror(error);
}

} // namespace

platform::Result<InstallerPackage> InstallerPackage::open(const std::string& path) {
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos)
        return fail(InstallResult::PackageMissing,
                    "the package path \"" + path + "\" is not an absolute path")
            .failure();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return fail(InstallResult::PackageMissing, "no installer package folder at " + path).failure();
    InstallerPackage package;
    package.m_path = path;
    InstallResult error = package.readInfo();
    if (error.ok())
        error = package.readPayload();
    if (error.ok())
        error = package.readScript("preinstall", package.m_preinstall);
    if (error.ok())
        error = package.readScript("postinstall", package.m_postinstall);
    if (!error.ok())
        return error.failure();
    return package;
}

InstallResult InstallerPackage::readInfo() {
    const std::string infoPath = PackagePaths::join(m_path, "PackageInfo");
    struct stat info {};
    if (::lstat(infoPath.c_str(), &info) != 0)
        return fail(InstallResult::PackageMissing, "the package has no PackageInfo: " + infoPath);
    if (!S_ISREG(info.st_mode))
        return fail(InstallResult::PackageMalformed, "PackageInfo is not a regular file");
    if (static_cast<uint64_t>(info.st_size) > kMaxInfoBytes)
        return fail(InstallResult::PackageMalformed, "PackageInfo is larger than 64 KiB");
    const auto list = platform::PropertyList::fromFile(infoPath);
    if (!list)
        return fail(InstallResult::PackageMalformed, "PackageInfo is not a property list with a dictionary");

    const auto identifier = list->string("identifier");
    if (!identifier || !platform::Identifier::isValid(*identifier))
        return fail(InstallResult::PackageMalformed,
                    "PackageInfo has no valid \"identifier\" text (letters, digits, \".\", \"-\", \"_\")");
    const auto version = list->string("version");
    if (!version || !PackagePaths::isValidVersion(*version))
        return fail(InstallResult::PackageMalformed, "PackageInfo has no valid \"version\" text");
    if (list->values().count("install-location")) {
        const auto location = list->string("install-location");
        if (!location || !PackagePaths::isValidInstallLocation(*location))
            return fail(InstallResult::PackageMalformed,
                        "PackageInfo's \"install-location\" is not an absolute normalised folder path");
        m_installLocation = *location;
    }
    m_identifier = *identifier;
    m_version = *version;
    return InstallResult::success();
}

InstallResult InstallerPackage::readPayload() {
    m_payloadPath = PackagePaths::join(m_path, "Payload");
    struct stat info {};
    if (::lstat(m_payloadPath.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return fail(InstallResult::PackageMalformed, "the package has no Payload folder");
    if (::access(m_payloadPath.c_str(), R_OK | X_OK) != 0)
        return fail(InstallResult::PayloadUnreadable,
                    "the Payload folder cannot be read: " + describeErrno(errno));

    std::error_code ec;
    fs::recursive_directory_iterator it(m_payloadPath, fs::directory_options::none, ec);
    const fs::recursive_directory_iterator end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::path& full = it->path();
        const std::string relative = full.lexically_relative(m_payloadPath).generic_string();
        if (!PackagePaths::isSafeRelative(relative))
            return fail(InstallResult::UnsafePayload, "payload entry with an unsafe name: " + relative);
        struct stat entryInfo {};
        if (::lstat(full.c_str(), &entryInfo) != 0)
            return fail(InstallResult::PayloadUnreadable,
                        "payload entry " + relative + " cannot be read: " + describeErrno(errno));
        Entry entry;
        entry.path = relative;
        entry.mode = entryInfo.st_mode & 0777;
        if (S_ISDIR(entryInfo.st_mode)) {
            entry.kind = Entry::Kind::Folder;
        } else if (S_ISREG(entryInfo.st_mode)) {
            entry.kind = Entry::Kind::File;
            entry.size = static_cast<uint64_t>(entryInfo.st_size);
            m_totalBytes += entry.size;
        } else if (S_ISLNK(entryInfo.st_mode)) {
            entry.kind = Entry::Kind::Link;
            std::error_code linkError;
            entry.linkTarget = fs::read_symlink(full, linkError).string();
            if (linkError)
                return fail(InstallResult::PayloadUnreadable, "payload link " + relative + " cannot be read");
            const bool absolute = !entry.linkTarget.empty() && entry.linkTarget.front() == '/';
            const bool inside = absolute
                                    ? PackagePaths::isValidInstallLocation(entry.linkTarget) &&
                                          PackagePaths::isWithin(entry.linkTarget, m_installLocation)
                                    : !PackagePaths::resolveLinkTarget(relative, entry.linkTarget).empty();
            if (!inside)
                return fail(InstallResult::UnsafePayload, "payload link " + relative + " points outside " +
                                                              m_installLocation + ": " + entry.linkTarget);
        } else {
            return fail(InstallResult::PackageMalformed,
                        "payload entry " + relative + " is not a folder, regular file or symbolic link");
        }
        m_entries.push_back(std::move(entry));
    }
    if (ec)
        return fail(InstallResult::PayloadUnreadable, "the payload cannot be listed: " + ec.message());
    // Sorted by path, every folder comes before what it holds.
    std::sort(m_entries.begin(), m_entries.end(),
              [](const Entry& a, const Entry& b) { return a.path < b.path; });
    return InstallResult::success();
}

InstallResult InstallerPackage::readScript(const char* name, std::string& into) {
    const std::string scripts = PackagePaths::join(m_path, "Scripts");
    struct stat info {};
    if (::lstat(scripts.c_str(), &info) != 0)
        return InstallResult::success(); // no scripts at all
    if (!S_ISDIR(info.st_mode))
        return fail(InstallResult::PackageMalformed, "Scripts is not a folder");
    const std::string script = PackagePaths::join(scripts, name);
    if (::lstat(script.c_str(), &info) != 0)
        return InstallResult::success();
    if (!S_ISREG(info.st_mode))
        return fail(InstallResult::PackageMalformed,
                    std::string("Scripts/") + name + " is not a regular file");
    if ((info.st_mode & 0111) == 0)
        return fail(InstallResult::PackageMalformed, std::string("Scripts/") + name + " is not executable");
    into = script;
    return InstallResult::success();
}
