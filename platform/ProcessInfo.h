// Process information: the operating system's version, and what the kernel
// tells about a running process.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

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

    /// When process \p pid started, in clock ticks after boot (/proc/<pid>/stat).
    /// Together with the pid it names one process: a later process that
    /// reuses the pid has a later start time. Nothing when there is no such
    /// process (or it has ended and only its exit status remains).
    static std::optional<unsigned long long> processStartTime(pid_t pid);
    /// The real user id of process \p pid; nothing when there is no such process.
    static std::optional<uid_t> processRealUserId(pid_t pid);
};

} // namespace platform
