// The application's side of the agent link: a protocol handler that also opens
// the connection to the installer agent at "/var/run/<bundle identifier>.socket"
// and speaks the link-control exchanges.
//
// These operations read replies on the caller's thread, so they must not run
// while an event thread reads the same connection.
#pragma once

#include "agentlink/PHProtocolHandler.h"

#include <optional>
#include <string>

class PHClientProtocolHandler : public PHProtocolHandler {
public:
    using PHProtocolHandler::PHProtocolHandler;
    ~PHClientProtocolHandler() override = default;

    PHClientProtocolHandler(const PHClientProtocolHandler&) = delete;
    PHClientProtocolHandler& operator=(const PHClientProtocolHandler&) = delete;
    PHClientProtocolHandler(PHClientProtocolHandler&&) = delete;
    PHClientProtocolHandler& operator=(PHClientProtocolHandler&&) = delete;

    /// Connects to the agent named \p bundleIdentifier and asks its version,
    /// with a 2-second receive time-out for that exchange only. Returns the
    /// version, or nothing. Stays connected when the socket was connected and
    /// the exchange did not fail (also when the reply lacks a version).
    std::optional<std::string> connectPrivilegedAgent(const std::string& bundleIdentifier);
    /// The version the running agent \p bundleIdentifier answers, asked over a
    /// connection of its own that is untraced (asking adds nothing to the log)
    /// and closed again; nothing when it does not answer. The service manager's
    /// probe for an agent it may keep running.
    static std::optional<std::string> runningAgentVersion(const std::string& bundleIdentifier);
    /// Sends "Ctrl" = "getVersion" and returns the text under "version" in the
    /// first message that comes back; nothing when that is missing or not text.
    std::optional<std::string> getAgentVersion();
    /// Sends "Cmd" = "UninstallInstallerAgent" and returns "status" of the reply.
    std::optional<AgentValue> uninstallAgent();
};
