// Runs a program for the installer agent: directly (no shell), with a clean
// environment (a fixed PATH plus the variables given, nothing inherited),
// standard input from /dev/null, standard output and error captured line by
// line into the agent's log, no other descriptor of the agent inherited, in a
// process group of its own, and with a time
// limit after which the whole group is killed.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

class CommandRunner {
public:
    /// How the run ended.
    struct Outcome {
        enum class Kind { Exited, Signaled, TimedOut, NotStarted, StatusLost };
        Kind kind = Kind::NotStarted;
        int code = -1;      ///< exit status, signal number, or the errno of the failed start
        std::string output; ///< the last few KiB of what the program printed

        bool succeeded() const { return kind == Kind::Exited && code == 0; }
        /// "exited with status 3", "was killed by signal 9", "timed out after 5 s", ...
        std::string describe() const;
    };

    /// The PATH every program run by the agent gets.
    static constexpr const char* kPath = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

    CommandRunner() = delete;

    /// Runs \p argv (argv[0] an absolute path, or a name looked up in kPath)
    /// with \p environment added to PATH, in the working folder \p folder.
    /// Every output line is logged as "<logPrefix>: <line>". Kills the process
    /// group when \p limit has passed. Returns when the program has ended; a
    /// program that leaves children behind holding its output is not waited for.
    /// While it runs, SIGCHLD is set to its default action if the process had
    /// it ignored, so that the exit status can be collected.
    static Outcome run(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& environment, std::chrono::milliseconds limit,
                       const std::string& logPrefix, const std::string& folder = "/");

    /// The absolute path \p name stands for: itself when it contains "/",
    /// otherwise the first executable file of that name in kPath; empty if none.
    static std::string resolve(const std::string& name);
};
