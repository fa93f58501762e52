// The real polkit daemon on a private system bus inside the test sandbox (its /run is private), with one
// rules file of the test's, so that the real pkexec asks them.
#pragma once

#include <string>
#include <sys/types.h>

namespace testsupport {

class PolkitService {
public:
    /// A rule that answers \p answer ("YES" or "NO") when \p user asks pkexec to run \p program with the
    /// argument "--bless-job" (the agent's blessing step); others get polkit's defaults. Neither name may
    /// hold a double quote.
    static std::string blessingRule(const std::string& user, const std::string& program,
                                    const std::string& answer);

    /// Writes \p rules into /etc/polkit-1/rules.d and starts the bus and the daemon; check ok().
    explicit PolkitService(const std::string& rules);
    PolkitService(const PolkitService&) = delete;
    PolkitService& operator=(const PolkitService&) = delete;
    /// Stops both and removes the rules.
    ~PolkitService();

    bool ok() const { return m_problem.empty(); }
    const std::string& problem() const { return m_problem; }

private:
    pid_t m_bus = -1;
    pid_t m_polkit = -1;
    std::string m_problem;
};

} // namespace testsupport
