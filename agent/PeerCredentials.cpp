#include "agent/PeerCredentials.h"

#include <algorithm>
#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::optional<gid_t> groupId(const char* name) {
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(16384);
    while (getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (!found)
        return std::nullopt;
    return found->gr_gid;
}

/// The groups of the user \p uid in the user database (primary group included).
std::vector<gid_t> databaseGroups(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return {};
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count));
        if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0)
            return {};
    }
    groups.resize(static_cast<size_t>(count));
    return groups;
}

} // namespace

std::optional<PeerCredentials> PeerCredentials::of(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials)
        return std::nullopt;
    std::vector<gid_t> groups(64);
    socklen_t bytes = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &bytes) != 0) {
        if (errno == ERANGE) {
            groups.resize(bytes / sizeof(gid_t));
            if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &bytes) != 0)
                bytes = 0;
        } else {
            bytes = 0; // an older kernel: the user database still decides
        }
    }
    groups.resize(bytes / sizeof(gid_t));
    return PeerCredentials(credentials.pid, credentials.uid, credentials.gid, std::move(groups));
}

PeerCredentials::PeerCredentials(pid_t pid, uid_t uid, gid_t gid, std::vector<gid_t> groups)
    : m_pid(pid), m_uid(uid), m_gid(gid), m_groups(std::move(groups)) {}

bool PeerCredentials::mayAdminister() const {
    if (m_uid == 0)
        return true;
    const std::vector<gid_t> listed = databaseGroups(m_uid);
    for (const char* name : kAdministratorGroups) {
        const auto id = groupId(name);
        if (!id)
            continue;
        if (m_gid == *id || std::find(m_groups.begin(), m_groups.end(), *id) != m_groups.end() ||
            std::find(listed.begin(), listed.end(), *id) != listed.end())
            return true;
    }
    return false;
}
