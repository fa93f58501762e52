// Helpers shared by the test binaries: temporary folders, capturing standard error, running a program.
#pragma once

#include "StandardError.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

/// A temporary folder removed with everything in it when the test ends.
class TemporaryFolder {
public:
    TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder();

    const std::string& path() const { return m_path; }
    /// Writes \p content to \p relative below the folder, making parent folders; the file's path.
    std::string write(const std::string& relative, const std::string& content) const;

private:
    std::string m_path;
};

/// The whole content of the file at \p path ("" when it cannot be read).
std::string readFile(const std::string& path);

/// How often \p part occurs in \p text (overlapping occurrences count).
size_t count(const std::string& text, const std::string& part);

struct ProcessResult {
    int exitStatus = -1; ///< exit status, or 128 + signal number
    std::string output;
    std::string errors;
};

/// Runs \p argv (argv[0] a path) with \p environment changes (an empty value removes the variable) for at
/// most \p timeoutSeconds (then kills it: 128 + SIGKILL), collecting its output.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment = {}, int timeoutSeconds = 30);

/// A forked child with the identity (uid, gid, groups) of \p user that runs its body once go() is called, so
/// its pid is known before it does anything.
class UserProcess {
public:
    UserProcess(const std::string& user, const std::function<int()>& body);
    UserProcess(const UserProcess&) = delete;
    UserProcess& operator=(const UserProcess&) = delete;
    ~UserProcess() { wait(); }

    pid_t pid() const { return m_pid; }
    void go();
    /// Lets the body run if it has not and waits: the body's result (99 when the identity could not be taken,
    /// 100 when the child died).
    int wait();

private:
    pid_t m_pid = -1;
    int m_go = -1;
    int m_status = -1;
};

/// Runs \p body at once as a UserProcess of \p user and returns UserProcess::wait().
inline int runAsUser(const std::string& user, const std::function<int()>& body) {
    return UserProcess(user, body).wait();
}

/// Makes the user \p user, in the group \p group when one is named, in the test sandbox's throw-away /etc
/// unless it exists, with its own folder /run/<user> (mode 0700) for its home and runtime files. The user's
/// id; -1 when something could not be made.
uid_t makeSandboxUser(const std::string& user, const std::string& group = "");

/// True when the test runs as root inside tests/sandbox, where it may install into system paths.
bool rootInSandbox();

/// A plist file with the given text values.
std::string plistWithStrings(const std::map<std::string, std::string>& values);

} // namespace testsupport
