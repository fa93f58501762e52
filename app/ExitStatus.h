// The installer's exit statuses: a contract with the scripts and management
// tools that start it, listed in the README. New statuses are added, existing
// ones never renumbered.
#pragma once

#include <string_view>

enum class ExitStatus : int {
    Succeeded = 0,
    /// The agent ran the command and reported a failure (its status is in the log).
    CommandFailed = 1,
    /// The administrator refused or dismissed the authorization, or nobody could be asked.
    AuthorizationFailed = 2,
    /// The agent could not be installed, started or reached, or is not at the shipped version.
    AgentUnavailable = 3,
    /// The connection to the agent ended while the command ran.
    ConnectionLost = 4,
    /// The run's time limit (-timeout) passed.
    TimeLimitReached = 5,
    /// A window run found no display to show its window on.
    NoDisplay = 6,
    /// The command succeeded; the system must be restarted to complete it.
    SucceededRebootRequired = 10,
    /// The command line (or an option's value) is not understood.
    BadCommandLine = 64,
};

constexpr int exitCode(ExitStatus status) {
    return static_cast<int>(status);
}

/// The status's name in the progress stream: "succeeded", "command-failed", ...
constexpr std::string_view exitStatusName(ExitStatus status) {
    switch (status) {
    case ExitStatus::Succeeded:
        return "succeeded";
    case ExitStatus::CommandFailed:
        return "command-failed";
    case ExitStatus::AuthorizationFailed:
        return "authorization-failed";
    case ExitStatus::AgentUnavailable:
        return "agent-unavailable";
    case ExitStatus::ConnectionLost:
        return "connection-lost";
    case ExitStatus::TimeLimitReached:
        return "time-limit-reached";
    case ExitStatus::NoDisplay:
        return "no-display";
    case ExitStatus::SucceededRebootRequired:
        return "succeeded-reboot-required";
    case ExitStatus::BadCommandLine:
        return "bad-command-line";
    }
    return "unknown";
}
