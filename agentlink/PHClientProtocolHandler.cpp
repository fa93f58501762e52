#include "agentlink/PHClientProtocolHandler.h"

#include "agentlink/AgentProtocol.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The agent socket's path is limited to 104 bytes with its terminating zero, as
// in the address layout the link was designed for (Linux would allow 108).
constexpr size_t kSocketPathLimit = 104;
constexpr int kVersionReplyTimeoutSeconds = 2;

bool setReceiveTimeout(int fd, int seconds) {
    timeval timeout{};
    timeout.tv_sec = seconds;
    timeout.tv_usec = 0;
    return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0;
}

} // namespace

std::optional<std::string> PHClientProtocolHandler::runningAgentVersion(const std::string& bundleIdentifier) {
    PHClientProtocolHandler probe(-1, false);
    auto version = probe.connectPrivilegedAgent(bundleIdentifier);
    probe.closeConnection();
    return version;
}

std::optional<std::string>
PHClientProtocolHandler::connectPrivilegedAgent(const std::string& bundleIdentifier) {
    int status = 0;
    platform::FileDescriptor connection;
    try {
        connection.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const int fd = connection.get();
        if (fd < 0) {
            status = errno;
            throw createIOException("Failed to create Unix domain socket", status);
        }
        // Writes to a vanished agent fail with EPIPE: sendMessage passes
        // MSG_NOSIGNAL on every write, and the process ignores SIGPIPE anyway.

        status = PHSetNonBlocking(fd, false);

        OCTextSink path;
        OCFormat(path, AgentProtocol::kSocketPathFormat, bundleIdentifier);
        if (path.size() >= kSocketPathLimit) {
            status = PHErrorNotConnected;
            throw createIOException("Bundle name too long for Unix domain socket name",
                                    static_cast<int>(path.size()));
        }
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.text(), path.size() + 1);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            status = errno;
            throw createIOException("Failed to connect Unix domain socket", status);
        }
        if (!setReceiveTimeout(fd, kVersionReplyTimeoutSeconds)) {
            status = errno;
            throw createIOException("failed to set socket receive timeout", status);
        }
    } catch (const PHException& e) {
        OCNSLog("%@: %@", e.name(), e.reason());
        status = -1;
    }
    if (status != 0)
        connection.reset();
    setConnection(std::move(connection));

    std::optional<std::string> version = getAgentVersion();
    if (isConnected() && !setReceiveTimeout(conFd(), 0))
        OCNSLog("failed to reset socket receive timeout");
    return version;
}

std::optional<std::string> PHClientProtocolHandler::getAgentVersion() {
    if (!sendMessage({{AgentProtocol::Key::kControl, AgentProtocol::Control::kGetVersion}}))
        return std::nullopt;
    const std::optional<AgentMessage> reply = readMessage();
    if (!reply)
        return std::nullopt;
    // The version is compared as text, so a number here is no version.
    return reply->text(AgentProtocol::Key::kVersion);
}

std::optional<AgentValue> PHClientProtocolHandler::uninstallAgent() {
    if (!sendMessage({{AgentProtocol::Key::kCommand, AgentProtocol::Command::kUninstallInstallerAgent}}))
        return std::nullopt;
    const std::optional<AgentMessage> reply = readMessage();
    if (!reply)
        return std::nullopt;
    if (const AgentValue* status = reply->find(AgentProtocol::Key::kStatus))
        return *status;
    return std::nullopt;
}
