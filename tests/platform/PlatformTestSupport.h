// A temporary folder removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include <cstdlib>

class TemporaryFolder {
public:
    TemporaryFolder() {
        char pattern[] = "/tmp/qvt-test.XXXXXX";
        m_path = mkdtemp(pattern);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }

    const std::string& path() const { return m_path; }

    /// Writes \p content to \p relative below the folder, making parent folders.
    std::string write(const std::string& relative, const std::string& content) const {
        const std::filesystem::path file = std::filesystem::path(m_path) / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
        return file.string();
    }

private:
    std::string m_path;
};
