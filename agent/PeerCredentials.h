// Who is at the other end of a connected local socket, as the kernel recorded
// it when the client connected (SO_PEERCRED, SO_PEERGROUPS): a client cannot
// claim another identity, and changing its own later does not change this.
#pragma once

#include <optional>
#include <sys/types.h>
#include <vector>

class PeerCredentials {
public:
    /// The groups whose members may administer this computer.
    static constexpr const char* kAdministratorGroups[] = {"sudo", "wheel", "admin"};

    /// The credentials of the client connected at \p fd; nothing when the
    /// kernel does not tell them.
    static std::optional<PeerCredentials> of(int fd);

    PeerCredentials(pid_t pid, uid_t uid, gid_t gid, std::vector<gid_t> groups);
    PeerCredentials(const PeerCredentials&) = default;
    PeerCredentials& operator=(const PeerCredentials&) = default;
    PeerCredentials(PeerCredentials&&) noexcept = default;
    PeerCredentials& operator=(PeerCredentials&&) noexcept = default;
    ~PeerCredentials() = default;

    pid_t pid() const { return m_pid; }
    uid_t uid() const { return m_uid; }
    gid_t gid() const { return m_gid; }
    /// The client process's supplementary groups when it connected.
    const std::vector<gid_t>& groups() const { return m_groups; }

    /// Root, or a member of sudo, wheel or admin: by the groups the client
    /// process held when it connected, or by the user database for its user
    /// (as an administrator's password check decides).
    bool mayAdminister() const;

private:
    pid_t m_pid;
    uid_t m_uid;
    gid_t m_gid;
    std::vector<gid_t> m_groups;
};
