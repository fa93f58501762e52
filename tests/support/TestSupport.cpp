#include "TestSupport.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace testsupport {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

TemporaryFolder::TemporaryFolder() {
    char pattern[] = "/tmp/qvt-test.XXXXXX";
    const char* made = mkdtemp(pattern);
    m_path = made ? made : "/tmp";
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    if (m_path != "/tmp")
        std::filesystem::remove_all(m_path, ignored);
}

std::string TemporaryFolder::write(const std::string& relative, const std::string& content) const {
    const std::filesystem::path file =
        std::filesystem::path(m_path) / std::filesystem::path(relative).relative_path();
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
    return file.string();
}

ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment, int timeoutSeconds) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (const auto& [name, value] : environment) {
            if (value.empty())
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    bool killed = false;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 && !killed) {
            kill(child, SIGKILL);
            killed = true;
        }
        if (poll(fds, 2, killed ? 1000 : static_cast<int>(left.count())) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? result.output : result.errors).append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

UserProcess::UserProcess(const std::string& user, const std::function<int()>& body) {
    int go[2];
    if (pipe2(go, O_CLOEXEC) != 0)
        return;
    m_pid = fork();
    if (m_pid == 0) {
        close(go[1]);
        const passwd* entry = getpwnam(user.c_str());
        if (!entry || initgroups(entry->pw_name, entry->pw_gid) != 0 || setgid(entry->pw_gid) != 0 ||
            setuid(entry->pw_uid) != 0)
            _exit(99);
        char byte = 0;
        if (read(go[0], &byte, 1) != 1)
            _exit(98);
        _exit(body());
    }
    close(go[0]);
    m_go = go[1];
}

void UserProcess::go() {
    if (m_go < 0)
        return;
    const char byte = 'g';
    if (write(m_go, &byte, 1) != 1)
        kill(m_pid, SIGKILL); // it cannot be told to run: wait() reports it died
    close(m_go);
    m_go = -1;
}

int UserProcess::wait() {
    go();
    if (m_pid <= 0)
        return m_status;
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 100;
    return m_status;
}

uid_t makeSandboxUser(const std::string& user, const std::string& group) {
    const std::string add = group.empty()
                                ? "useradd -M " + user
                                : "groupadd -f " + group + " && useradd -M -G " + group + " " + user;
    if (std::system(("getent passwd " + user + " >/dev/null || (" + add + ")").c_str()) != 0)
        return static_cast<uid_t>(-1);
    const passwd* entry = getpwnam(user.c_str());
    const std::string folder = "/run/" + user;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!entry || error || chown(folder.c_str(), entry->pw_uid, entry->pw_gid) != 0 ||
        chmod(folder.c_str(), 0700) != 0)
        return static_cast<uid_t>(-1);
    return entry->pw_uid;
}

bool rootInSandbox() {
    const char* sandbox = std::getenv("QVT_SANDBOX");
    return geteuid() == 0 && sandbox && std::string(sandbox) == "1";
}

std::string plistWithStrings(const std::map<std::string, std::string>& values) {
    std::string entries;
    for (const auto& [key, value] : values)
        entries += "\t<key>" + key + "</key>\n\t<string>" + value + "</string>\n";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + entries +
           "</dict>\n</plist>\n";
}

} // namespace testsupport
