#include "platform/ProcessInfo.h"

#include <algorithm>
#include <fstream>
#include <mutex>
#include <sstream>

namespace platform {

namespace {
std::mutex g_overrideMutex;
std::optional<OperatingSystemVersion> g_override;
} // namespace

OperatingSystemVersion ProcessInfo::operatingSystemVersion() {
    {
        std::lock_guard lock(g_overrideMutex);
        if (g_override)
            return *g_override;
    }
    return readOsRelease("/etc/os-release");
}

OperatingSystemVersion ProcessInfo::readOsRelease(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VERSION_ID=", 0) == 0)
            return parseVersion(std::string_view(line).substr(11));
    }
    return {};
}

OperatingSystemVersion ProcessInfo::parseVersion(std::string_view text) {
    if (!text.empty() && (text.front() == '"' || text.front() == '\''))
        text.remove_prefix(1);
    int parts[3] = {0, 0, 0};
    for (int& part : parts) {
        size_t digits = 0;
        long value = 0;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
            // Absurdly long components saturate instead of overflowing.
            value = std::min(value * 10 + (text[digits] - '0'), 1000000L);
            ++digits;
        }
        if (digits == 0)
            break;
        part = static_cast<int>(value);
        text.remove_prefix(digits);
        if (text.empty() || text.front() != '.')
            break;
        text.remove_prefix(1);
    }
    return {parts[0], parts[1], parts[2]};
}

std::optional<unsigned long long> ProcessInfo::processStartTime(pid_t pid) {
    if (pid <= 0)
        return std::nullopt;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line))
        return std::nullopt;
    // The command name is in parentheses and may hold blanks and ")" itself:
    // the fields that matter follow the last ")".
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(line.substr(close + 1));
    std::string state;
    fields >> state;
    if (state.empty() || state == "Z" || state == "X")
        return std::nullopt;
    // After the state: 18 fields up to the start time (the 22nd of the line).
    std::string skipped;
    for (int i = 0; i < 18 && fields >> skipped; ++i) {
    }
    unsigned long long started = 0;
    if (!(fields >> started))
        return std::nullopt;
    return started;
}

std::optional<uid_t> ProcessInfo::processRealUserId(pid_t pid) {
    if (pid <= 0)
        return std::nullopt;
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Uid:", 0) == 0) {
            std::istringstream fields(line.substr(4));
            unsigned long real = 0;
            if (fields >> real)
                return static_cast<uid_t>(real);
            return std::nullopt;
        }
    }
    return std::nullopt;
}

void ProcessInfo::overrideOperatingSystemVersion(std::optional<OperatingSystemVersion> version) {
    std::lock_guard lock(g_overrideMutex);
    g_override = version;
}

} // namespace platform
