// Grants: the installer processes that an administrator authorized to command
// the agent.
//
// The agent runs package scripts as root, so a client that is not root may
// send commands only when an administrator authorized that very installer
// process. The root step that pkexec runs for the installer (`--bless-job`,
// whose parent is the installer) records a grant for the user who ran pkexec
// (PKEXEC_UID), bound to the installer's pid and its start time, so that a
// later process reusing the pid is not taken for it. The agent checks a
// client's connection credentials as the kernel recorded them (uid and pid)
// and the pid's current start time against the grants.
//
// A grant is taken by the first command of a matching connection: it then
// serves that one connection (one command session) and no other, and only
// for kLifetime after it was issued. A grant nobody took lapses after kLifetime.
//
// Grants live in a file in /var/run (emptied at every boot) that only root
// can read or write; a file that is not a root-owned regular file with one
// link and no access for others is not used.
#pragma once

#include "platform/Result.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

class CommandGrant {
public:
    /// How long after it was issued a grant may serve.
    static constexpr std::chrono::minutes kLifetime{10};
    /// At most this many grants are kept; the oldest go first.
    static constexpr size_t kMaxGrants = 64;

    /// A grant for process \p pid of user \p uid, issued at \p issuedAt
    /// (milliseconds on the boot clock, see now()). Nothing when the process
    /// does not exist.
    static std::optional<CommandGrant> forProcess(uid_t uid, pid_t pid, int64_t issuedAt = now());

    /// The file that holds the grants of the agent \p label.
    static std::string path(const std::string& label);
    /// Failure domain of record; the code is an errno (EPERM: the file is not safe).
    static constexpr const char* kErrorDomain = "CommandGrantErrorDomain";

    /// Adds \p grant to the grants of \p label, dropping lapsed ones. Fails
    /// when the file could not be written or is not safe.
    static platform::Result<void> record(const std::string& label, const CommandGrant& grant);
    /// Takes the grant of \p label for the client \p uid / \p pid, when one
    /// matches it and the pid's current start time and has not lapsed: it is
    /// removed from the file and returned.
    static std::optional<CommandGrant> claim(const std::string& label, uid_t uid, pid_t pid);
    /// True when \p label has a grant that claim() would give the client \p uid /
    /// \p pid now; nothing is taken.
    static bool held(const std::string& label, uid_t uid, pid_t pid);
    /// Removes every grant of \p label.
    static void removeAll(const std::string& label);

    /// Now on the boot clock in milliseconds: it never jumps with the wall
    /// clock and counts time spent suspended.
    static int64_t now();

    CommandGrant(uid_t uid, pid_t pid, unsigned long long startTime, int64_t issuedAt);
    CommandGrant(const CommandGrant&) = default;
    CommandGrant& operator=(const CommandGrant&) = default;
    ~CommandGrant() = default;

    uid_t uid() const { return m_uid; }
    pid_t pid() const { return m_pid; }
    /// True once kLifetime has passed since the grant was issued (\p at: now()).
    bool lapsed(int64_t at = now()) const;

private:
    /// True when this grant is for the process \p pid of \p uid that started at \p startTime.
    bool isFor(uid_t uid, pid_t pid, const std::optional<unsigned long long>& startTime) const;
    /// The grants in \p text, one per line: uid, pid, start time, issue time.
    static std::vector<CommandGrant> parse(const std::string& text);
    static std::string text(const std::vector<CommandGrant>& grants);

    uid_t m_uid;
    pid_t m_pid;
    unsigned long long m_startTime;
    int64_t m_issuedAt;
};
