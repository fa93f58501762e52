// Builds installer packages on disk for the package engine's tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

class PackageBuilder {
public:
    /// A package folder at \p path with PackageInfo for \p identifier,
    /// \p version and \p location (none: the key is left out) and an empty Payload.
    PackageBuilder(std::string path, const std::string& identifier, const std::string& version,
                   const std::string& location)
        : m_path(std::move(path)) {
        std::filesystem::create_directories(m_path + "/Payload");
        std::string info = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                           "\t<key>identifier</key>\n\t<string>" +
                           identifier + "</string>\n\t<key>version</key>\n\t<string>" + version +
                           "</string>\n";
        if (!location.empty())
            info += "\t<key>install-location</key>\n\t<string>" + location + "</string>\n";
        info += "</dict>\n</plist>\n";
        write("PackageInfo", info, 0644);
    }
    PackageBuilder(const PackageBuilder&) = delete;
    PackageBuilder& operator=(const PackageBuilder&) = delete;
    ~PackageBuilder() = default;

    const std::string& path() const { return m_path; }

    PackageBuilder& file(const std::string& relative, const std::string& content, mode_t mode = 0644) {
        write("Payload/" + relative, content, mode);
        return *this;
    }
    PackageBuilder& folder(const std::string& relative) {
        std::filesystem::create_directories(m_path + "/Payload/" + relative);
        return *this;
    }
    PackageBuilder& link(const std::string& relative, const std::string& target) {
        const std::filesystem::path at = m_path + "/Payload/" + relative;
        std::filesystem::create_directories(at.parent_path());
        std::filesystem::create_symlink(target, at);
        return *this;
    }
    /// Scripts/<name> as a shell script with \p body.
    PackageBuilder& script(const std::string& name, const std::string& body) {
        write("Scripts/" + name, "#!/bin/sh\n" + body + "\n", 0755);
        return *this;
    }
    /// Replaces a whole file of the package folder (e.g. PackageInfo).
    PackageBuilder& raw(const std::string& relative, const std::string& content, mode_t mode = 0644) {
        write(relative, content, mode);
        return *this;
    }

private:
    void write(const std::string& relative, const std::string& content, mode_t mode) {
        const std::filesystem::path file = m_path + "/" + relative;
        std::filesystem::create_directories(file.parent_path());
        std::filesystem::remove(file);
        std::ofstream(file, std::ios::binary) << content;
        ::chmod(file.c_str(), mode);
    }

    std::string m_path;
};
