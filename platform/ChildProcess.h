// Running a program: the one way this project starts a process, either
// waiting for it and collecting its exit status (run) or as a daemon that
// outlives the caller (startDetached).
//
// The program is named by an absolute path and never looked up on PATH, so a
// caller's PATH cannot substitute a privileged tool. The child starts with
// standard input from /dev/null, no other descriptor of the caller (all are
// closed above standard error), every signal at its default action and an empty
// signal mask, and either the environment given or the caller's own.
//
// SIGCHLD: a process that ignores SIGCHLD (the application does) has its
// children reaped by the kernel, and their exit status is lost; a failing
// tool would then read as one that could not be waited for. While any child
// of this facility runs, SIGCHLD is set to its default action; the caller's
// own action is restored when the last one has been collected. So the status
// reported is always the child's own, whatever the process's disposition.
#pragma once

#include "platform/Result.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

class ChildProcess {
public:
    /// How a run ended.
    struct Outcome {
        enum class Kind {
            Exited,     ///< code is the exit status
            Signaled,   ///< code is the signal number
            TimedOut,   ///< the time limit passed; the program was killed
            NotStarted, ///< code is the errno of the failed start
            StatusLost, ///< something else collected the child
        };
        Kind kind = Kind::NotStarted;
        int code = -1;
        /// The last kKeptOutput bytes of standard output and error.
        std::string output;

        bool succeeded() const { return kind == Kind::Exited && code == 0; }
        /// "exited with status 3", "was killed by signal 9", ...
        std::string describe() const;
    };

    struct Options {
        /// arguments[0] is the program's absolute path.
        std::vector<std::string> arguments;
        /// "NAME=value" entries: exactly the child's environment. Nothing: the caller's.
        std::optional<std::vector<std::string>> environment;
        /// After this the program (its process group, with ownProcessGroup) is
        /// killed with SIGKILL. Zero: no limit.
        std::chrono::milliseconds timeLimit{0};
        /// A new session and process group, so a time-out ends everything the
        /// program started. Off for programs that must stay in the caller's
        /// session (pkexec asks the caller's session's authentication agent).
        bool ownProcessGroup = false;
        /// Empty: the caller's working folder; otherwise this one (or "/" when
        /// it cannot be entered).
        std::string workingFolder;
        /// The program's file-creation mask; nothing: the caller's.
        std::optional<mode_t> creationMask;
        /// Called with each line of standard output and error (without its
        /// line feed; overlong lines are cut into pieces of kLongestLine bytes)
        /// on the calling thread.
        std::function<void(const std::string&)> onLine;
        /// startDetached only: the open descriptor standard output and error go
        /// to (the caller keeps it and decides how it was opened and checked);
        /// -1: /dev/null.
        int output = -1;
    };

    /// Failure domain of startDetached; the code is an errno.
    static constexpr const char* kErrorDomain = "ChildProcessErrorDomain";

    static constexpr size_t kKeptOutput = 4096;
    static constexpr size_t kLongestLine = 2048;

    ChildProcess() = delete;

    /// Runs the program and returns once it has ended and been collected, or
    /// its time limit has passed. A program that leaves children behind
    /// holding its output open is not waited for beyond its own end. A
    /// program that cannot be killed when its time is up (one that became
    /// another user's) is collected in the background; the run reports
    /// TimedOut at once.
    static Outcome run(const Options& options);

    /// Starts the program as a daemon and returns its pid without waiting for
    /// it. A short-lived intermediate process makes a new session and starts
    /// the program from there, so the program is nobody's child but init's
    /// and, not being a session leader, can never take a controlling terminal.
    /// Standard output and error go to options.output; timeLimit,
    /// ownProcessGroup and onLine do not apply. Returns once the program has
    /// been executed; a program that cannot be (missing, not executable, not
    /// an absolute path) fails with the errno of its start.
    static Result<pid_t> startDetached(const Options& options);
};

} // namespace platform
