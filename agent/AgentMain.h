// The installer agent's process body, shared by the shipped executable and the
// test builds of the agent.
#pragma once

#include <optional>
#include <string>

struct AgentRunOptions {
    /// The version answered to "getVersion" instead of the embedded one. Test
    /// builds use it to play an agent that reports another version than it carries.
    std::optional<std::string> reportedVersion;
};

/// Runs the agent:
///   RInstallerAgent                      serve at /var/run/<identifier>.socket
///   RInstallerAgent --bless-job <label> [<helper>]
///                                        (as root, through pkexec) install this
///                                        executable, or the helper at <helper>, as
///                                        the privileged job <label> (see
///                                        ServiceManager.h); run by pkexec, grant the
///                                        installer that ran pkexec one command
///                                        session (see CommandGrant.h)
/// Returns the process exit status, except after serving: then it ends the
/// process itself once the server has stopped and the running command has
/// completed, as sessions of connected clients may still be running.
int runInstallerAgent(int argc, char** argv, const AgentRunOptions& options);

/// True when \p path and every folder above it can be changed by root only:
/// owned by root and not writable by group or others (a folder with the
/// sticky bit may be writable, as entries in it stay their owners'). Otherwise
/// \p offender names the first place that others could change.
bool isRootOnlyLocation(const std::string& path, std::string& offender);
