// Builds installer packages on disk for the package engine's tests.
#pragma once

#include <filesystem>
#include <fstream>
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

    /// A package folder at \p path with PackageInfo for \p identifier,
    /// \p version and \p location (none: the key is left out) and an empty Payload.
    PackageBuilder(std::string path, const std::string& identifier, const std::string& version,
                   const std::string& location)
        : m_path(std::move(path)) {
        std::filesystem::create_directories(m_path + "/Payload");
        raw("PackageInfo", info(entry("identifier", identifier) + entry("version", version) +
                                (location.empty() ? "" : entry("install-location", location))));
    }

    const std::string& path() const { return m_path; }

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
    /// Scripts/<name> as a shell script with \p body.
    PackageBuilder& script(const std::string& name, const std::string& body) {
        return raw("Scripts/" + name, "#!/bin/sh\n" + body + "\n", 0755);
    }

private:
    std::string m_path;
};
