// Who is at the other end of a connected local socket, as the kernel recorded
// it when the client connected (SO_PEERCRED): a client cannot claim another
// identity, and changing its own later does not change this.
#pragma once

#include <optional>
#include <sys/types.h>

class PeerCredentials {
public:
    /// The credentials of the client connected at \p fd; nothing when the
    /// kernel does not tell them.
    static std::optional<PeerCredentials> of(int fd);

    PeerCredentials(pid_t pid, uid_t uid, gid_t gid) : m_pid(pid), m_uid(uid), m_gid(gid) {}
    PeerCredentials(const PeerCredentials&) = default;
    PeerCredentials& operator=(const PeerCredentials&) = default;
    ~PeerCredentials() = default;

    pid_t pid() const { return m_pid; }
    uid_t uid() const { return m_uid; }
    gid_t gid() const { return m_gid; }

private:
    pid_t m_pid;
    uid_t m_uid;
    gid_t m_gid;
};
