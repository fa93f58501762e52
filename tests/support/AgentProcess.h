// The installer agent run as a child process of a test, as root inside the test sandbox. The agent refuses to
// run from a place others than root can change, which a build tree may be, so it runs from a root-only copy
// below /usr/local/libexec; its standard error goes to a log file.
#pragma once

#include <string>
#include <sys/types.h>

namespace testsupport {

class AgentProcess {
public:
    AgentProcess() = default;
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;
    /// Stops the agent if it runs and removes its log.
    ~AgentProcess();

    /// Copies \p executable to /usr/local/libexec/<folder>/RInstallerAgent and starts it; false when it could
    /// not be started.
    bool start(const std::string& executable, const std::string& folder);
    /// Stops the agent with SIGTERM; its exit status (-1 when it did not exit normally).
    int stop();
    bool running() const;
    /// What the agent has written to its standard error so far.
    std::string log() const;
    /// Whether log() holds \p part.
    bool logHas(const std::string& part) const { return log().find(part) != std::string::npos; }

private:
    pid_t m_pid = -1;
    std::string m_log;
};

} // namespace testsupport
