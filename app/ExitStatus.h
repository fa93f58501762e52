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

/// What a status is called in the progress stream and what it means, in the
/// order the help lists them.
struct ExitStatusDescription {
    ExitStatus status;
    std::string_view name;
    std::string_view meaning;
};

inline constexpr ExitStatusDescription kExitStatuses[] = {
    {ExitStatus::Succeeded, "succeeded", "succeeded"},
    {ExitStatus::SucceededRebootRequired, "succeeded-reboot-required",
     "succeeded; the system must be restarted to complete it (never done by itself)"},
    {ExitStatus::CommandFailed, "command-failed", "the agent's command failed (its status is in the log)"},
    {ExitStatus::AuthorizationFailed, "authorization-failed",
     "administrator authorization refused, dismissed or impossible"},
    {ExitStatus::AgentUnavailable, "agent-unavailable",
     "the agent could not be installed or reached, or is not at the shipped version"},
    {ExitStatus::ConnectionLost, "connection-lost",
     "the connection to the agent was lost while the command ran"},
    {ExitStatus::TimeLimitReached, "time-limit-reached", "the time limit (-timeout) passed"},
    {ExitStatus::NoDisplay, "no-display", "a window run found no display"},
    {ExitStatus::BadCommandLine, "bad-command-line", "bad command line"},
};

/// The status's name in the progress stream: "succeeded", "command-failed", ...
constexpr std::string_view exitStatusName(ExitStatus status) {
    for (const auto& described : kExitStatuses)
        if (described.status == status)
            return described.name;
    return "unknown";
}
