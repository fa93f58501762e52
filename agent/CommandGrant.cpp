#include "agent/CommandGrant.h"

#include "platform/FileDescriptor.h"
#include "platform/ProcessInfo.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

/// Longer grant files are not read: kMaxGrants lines are far shorter.
constexpr size_t kLongestFile = 16384;

/// The grants file, open and locked against the other processes that use it
/// (the agent and the blessing step), closed and unlocked when it goes.
class GrantFile {
public:
    /// Opens and locks \p path, making it when \p create.
    static platform::Result<GrantFile> open(const std::string& path, bool create) {
        platform::FileDescriptor file(
            ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0), 0600));
        struct stat info {};
        if (file.get() < 0 || ::fstat(file.get(), &info) != 0)
            return systemFailure(path);
        if (!S_ISREG(info.st_mode) || info.st_uid != 0 || info.st_nlink != 1 || (info.st_mode & 077) != 0)
            return platform::Failure{CommandGrant::kErrorDomain, EPERM,
                                     path + " is not a file that only root can change"};
        if (::flock(file.get(), LOCK_EX) != 0)
            return systemFailure(path);
        return GrantFile(std::move(file));
    }
    GrantFile(GrantFile&&) noexcept = default;
    GrantFile& operator=(GrantFile&&) noexcept = default;
    GrantFile(const GrantFile&) = delete;
    GrantFile& operator=(const GrantFile&) = delete;
    ~GrantFile() = default;

    /// The failure errno tells, on \p path.
    static platform::Failure systemFailure(const std::string& path) {
        const int error = errno;
        return platform::Failure{CommandGrant::kErrorDomain, error, path + ": " + std::strerror(error)};
    }

    /// The file's text, up to kLongestFile bytes.
    std::string read() const {
        std::string text;
        char buffer[4096];
        for (off_t at = 0; text.size() < kLongestFile;) {
            const ssize_t n = ::pread(m_file.get(), buffer, sizeof buffer, at);
            if (n <= 0)
                break;
            text.append(buffer, static_cast<size_t>(n));
            at += n;
        }
        return text;
    }

    /// Replaces the file's text with \p text.
    bool write(const std::string& text) {
        return ::ftruncate(m_file.get(), 0) == 0 &&
               ::pwrite(m_file.get(), text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
    }

private:
    explicit GrantFile(platform::FileDescriptor file) : m_file(std::move(file)) {}

    platform::FileDescriptor m_file;
};

} // namespace

CommandGrant::CommandGrant(uid_t uid, pid_t pid, unsigned long long startTime, int64_t issuedAt)
    : m_uid(uid), m_pid(pid), m_startTime(startTime), m_issuedAt(issuedAt) {}

std::optional<CommandGrant> CommandGrant::forProcess(uid_t uid, pid_t pid, int64_t issuedAt) {
    const auto started = platform::ProcessInfo::processStartTime(pid);
    if (!started)
        return std::nullopt;
    return CommandGrant(uid, pid, *started, issuedAt);
}

std::string CommandGrant::path(const std::string& label) {
    return "/var/run/" + label + ".grants";
}

int64_t CommandGrant::now() {
    timespec time{};
    ::clock_gettime(CLOCK_BOOTTIME, &time);
    return static_cast<int64_t>(time.tv_sec) * 1000 + time.tv_nsec / 1000000;
}

bool CommandGrant::lapsed(int64_t at) const {
    return at - m_issuedAt >= std::chrono::duration_cast<std::chrono::milliseconds>(kLifetime).count() ||
           at < m_issuedAt;
}

std::vector<CommandGrant> CommandGrant::parse(const std::string& text) {
    std::vector<CommandGrant> grants;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        unsigned long uid = 0;
        long pid = 0;
        unsigned long long started = 0;
        long long issued = 0;
        int used = 0;
        // Anything but four numbers on a line is not a grant.
        if (std::sscanf(line.c_str(), "%lu %ld %llu %lld%n", &uid, &pid, &started, &issued, &used) == 4 &&
            static_cast<size_t>(used) == line.size() && pid > 0 && line.find('-') == std::string::npos)
            grants.emplace_back(static_cast<uid_t>(uid), static_cast<pid_t>(pid), started, issued);
    }
    return grants;
}

std::string CommandGrant::text(const std::vector<CommandGrant>& grants) {
    std::string text;
    for (const auto& grant : grants)
        text += std::to_string(grant.m_uid) + " " + std::to_string(grant.m_pid) + " " +
                std::to_string(grant.m_startTime) + " " + std::to_string(grant.m_issuedAt) + "\n";
    return text;
}

platform::Result<void> CommandGrant::record(const std::string& label, const CommandGrant& grant) {
    auto file = GrantFile::open(path(label), true);
    if (!file)
        return file.failure();
    auto grants = parse(file->read());
    const int64_t at = now();
    std::erase_if(grants, [&](const CommandGrant& held) {
        return held.lapsed(at) || (held.m_pid == grant.m_pid && held.m_startTime == grant.m_startTime);
    });
    grants.push_back(grant);
    if (grants.size() > kMaxGrants)
        grants.erase(grants.begin(), grants.end() - kMaxGrants);
    if (!file->write(text(grants)))
        return GrantFile::systemFailure(path(label));
    return {};
}

std::optional<CommandGrant> CommandGrant::claim(const std::string& label, uid_t uid, pid_t pid) {
    auto file = GrantFile::open(path(label), false);
    if (!file)
        return std::nullopt;
    auto grants = parse(file->read());
    const int64_t at = now();
    const auto started = platform::ProcessInfo::processStartTime(pid);
    std::optional<CommandGrant> taken;
    const size_t before = grants.size();
    std::erase_if(grants, [&](const CommandGrant& held) {
        if (held.lapsed(at))
            return true;
        if (taken || !held.isFor(uid, pid, started))
            return false;
        taken = held;
        return true;
    });
    if (grants.size() != before && !file->write(text(grants)))
        return std::nullopt; // a grant that cannot be taken away does not serve
    return taken;
}

bool CommandGrant::isFor(uid_t uid, pid_t pid, const std::optional<unsigned long long>& startTime) const {
    return startTime && m_uid == uid && m_pid == pid && m_startTime == *startTime;
}

bool CommandGrant::held(const std::string& label, uid_t uid, pid_t pid) {
    auto file = GrantFile::open(path(label), false);
    if (!file)
        return false;
    const int64_t at = now();
    const auto started = platform::ProcessInfo::processStartTime(pid);
    const auto grants = parse(file->read());
    return std::any_of(grants.begin(), grants.end(), [&](const CommandGrant& held) {
        return !held.lapsed(at) && held.isFor(uid, pid, started);
    });
}

void CommandGrant::removeAll(const std::string& label) {
    ::unlink(path(label).c_str());
}
