#include "AgentProcess.h"

#include "TestSupport.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

AgentProcess::~AgentProcess() {
    if (m_pid > 0)
        stop();
    if (!m_log.empty())
        ::unlink(m_log.c_str());
}

bool AgentProcess::start(const std::string& executable, const std::string& folder) {
    const std::string place = "/usr/local/libexec/" + folder, agent = place + "/RInstallerAgent";
    std::error_code error;
    std::filesystem::create_directories(place, error);
    std::filesystem::copy_file(executable, agent, std::filesystem::copy_options::overwrite_existing, error);
    if (error || ::chmod(place.c_str(), 0755) != 0 || ::chmod(agent.c_str(), 0755) != 0)
        return false;
    m_log = "/tmp/" + folder + "-" + std::to_string(::getpid()) + ".log";
    // Emptied before start() returns, so that what log() shows is this run's.
    const int log = ::open(m_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log < 0)
        return false;
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(log, STDERR_FILENO);
        ::execl(agent.c_str(), agent.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(log);
    return m_pid > 0;
}

int AgentProcess::stop() {
    ::kill(m_pid, SIGTERM);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool AgentProcess::running() const {
    return m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == 0;
}

std::string AgentProcess::log() const {
    return readFile(m_log);
}

} // namespace testsupport
