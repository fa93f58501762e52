#include "agent/PeerCredentials.h"

#include <sys/socket.h>

std::optional<PeerCredentials> PeerCredentials::of(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials ||
        credentials.pid <= 0)
        return std::nullopt;
    return PeerCredentials(credentials.pid, credentials.uid, credentials.gid);
}
