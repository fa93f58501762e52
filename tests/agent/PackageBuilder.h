// Builds installer packages on disk for the package engine's tests.
#pragma once

#include "Signing.h"
#include "TestSupport.h"
#include "agent/package/PackageManifest.h"
#include "platform/Signature.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/stat.h>

class PackageBuilder {
public:
    /// A PackageInfo text: a plist dictionary with \p entries.
    static std::string info(const std::string& entries) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + entries +
               "</dict>\n</plist>\n";
    }
    /// One text entry of a PackageInfo dictionary.
    static std::string entry(const std::string& key, const std::string& value) {
        return "\t<key>" + key + "</key>\n\t<string>" + value + "</string>\n";
    }

    /// A package folder at \p path with PackageInfo for \p identifier, \p version and \p location and an
    /// empty Payload.
    PackageBuilder(std::string path, const std::string& identifier, const std::string& version,
                   const std::string& location)
        : m_path(std::move(path)) {
        std::filesystem::create_directories(m_path + "/Payload");
        raw("PackageInfo", info(entry("identifier", identifier) + entry("version", version) +
                                entry("install-location", location)));
    }

    const std::string& path() const { return m_path; }

    /// Writes the package's Manifest and Manifest.sig for what it holds now,
    /// signed with \p secretKey (the build's key by default); the package's path.
    const std::string& sign(const std::string& secretKey = testsupport::signingSecretKey()) const {
        auto manifest = PackageManifest::ofFolder(m_path);
        if (!manifest)
            throw std::runtime_error("cannot sign the test package: " + manifest.failure().description);
        const std::string text = manifest->text();
        std::ofstream(m_path + "/" + PackageManifest::kFileName, std::ios::binary | std::ios::trunc) << text;
        std::ofstream(m_path + "/" + PackageManifest::kSignatureFileName, std::ios::trunc)
            << platform::Signature::toHex(*platform::Signature::sign(text, secretKey)) << "\n";
        return m_path;
    }

    /// Writes a whole file of the package folder (e.g. PackageInfo), replacing what was there.
    PackageBuilder& raw(const std::string& relative, const std::string& content, mode_t mode = 0644) {
        const std::filesystem::path file = m_path + "/" + relative;
        std::filesystem::create_directories(file.parent_path());
        std::filesystem::remove(file);
        std::ofstream(file, std::ios::binary) << content;
        ::chmod(file.c_str(), mode);
        return *this;
    }
    PackageBuilder& file(const std::string& relative, const std::string& content, mode_t mode = 0644) {
        return raw("Payload/" + relative, content, mode);
    }
    PackageBuilder& link(const std::string& relative, const std::string& target) {
        const std::filesystem::path at = m_path + "/Payload/" + relative;
        std::filesystem::create_directories(at.parent_path());
        std::filesystem::create_symlink(target, at);
        return *this;
    }
    PackageBuilder& script(const std::string& name, const std::string& body) {
        return raw("Scripts/" + name, "#!/bin/sh\n" + body + "\n", 0755);
    }

private:
    std::string m_path;
};

/// Every entry below \p folder with its kind, permissions and content or link target: two equal snapshots
/// mean the same tree. Without folders when \p filesOnly.
inline std::map<std::string, std::string> snapshot(const std::string& folder, bool filesOnly = false) {
    std::map<std::string, std::string> result;
    std::error_code none;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, none)) {
        struct stat info {};
        ::lstat(entry.path().c_str(), &info);
        const std::string mode = std::to_string(info.st_mode & 07777);
        if (S_ISDIR(info.st_mode) && filesOnly)
            continue;
        result[entry.path().lexically_relative(folder).string()] =
            S_ISLNK(info.st_mode)   ? "link:" + std::filesystem::read_symlink(entry.path()).string()
            : S_ISDIR(info.st_mode) ? "folder:" + mode
                                    : "file:" + mode + ":" + testsupport::readFile(entry.path());
    }
    return result;
}

/// The snapshot of \p location and, below "data/", of the data folder \p data but its lock: equal states mean
/// nothing changed.
inline std::map<std::string, std::string> systemState(const std::string& location, const std::string& data) {
    auto state = snapshot(location);
    for (const auto& [path, value] : snapshot(data))
        if (path != ".lock")
            state["data/" + path] = value;
    return state;
}
