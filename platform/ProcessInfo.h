// Process information: the operating system's version.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct OperatingSystemVersion {
    int major = 0;
    int minor = 0;
    int patch = 0;

    friend bool operator==(const OperatingSystemVersion&, const OperatingSystemVersion&) = default;
};

class ProcessInfo {
public:
    ProcessInfo() = delete;

    /// The system's version: VERSION_ID of /etc/os-release read as
    /// major.minor.patch; 0.0.0 when it cannot be read.
    static OperatingSystemVersion operatingSystemVersion();
    /// Reads VERSION_ID from the os-release file at \p path.
    static OperatingSystemVersion readOsRelease(const std::string& path);
    /// Reads "12", "10.9", "10.12.1" (quotes allowed); missing or malformed
    /// components are 0.
    static OperatingSystemVersion parseVersion(std::string_view text);
    /// Makes operatingSystemVersion() answer \p version (nothing: read the
    /// system again). For tests.
    static void overrideOperatingSystemVersion(std::optional<OperatingSystemVersion> version);
};

} // namespace platform
