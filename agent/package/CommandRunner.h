// Runs a program for the installer agent: directly (no shell), with a clean
// environment (a fixed PATH plus the variables given, nothing inherited),
// standard input from /dev/null, standard output and error captured line by
// line into the agent's log, no other descriptor of the agent inherited, in a
// process group of its own, and with a time
// limit after which the whole group is killed (see platform::ChildProcess,
// which does the running).
#pragma once

#include "platform/ChildProcess.h"

#include <chrono>
#include <map>
#include <string>
#include <vector>

class CommandRunner {
public:
    /// How the run ended.
    using Outcome = platform::ChildProcess::Outcome;

    /// The PATH every program run by the agent gets.
    static constexpr const char* kPath = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

    CommandRunner() = delete;

    /// Runs \p argv (argv[0] an absolute path, or a name looked up in kPath)
    /// with \p environment added to PATH, in the working folder \p folder,
    /// with the file-creation mask 022. Every output line is logged as
    /// "<logPrefix>: <line>". Kills the process group when \p limit has
    /// passed. Returns when the program has ended; a program that leaves
    /// children behind holding its output is not waited for.
    static Outcome run(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& environment, std::chrono::milliseconds limit,
                       const std::string& logPrefix, const std::string& folder = "/");

    /// The absolute path \p name stands for: itself when it contains "/",
    /// otherwise the first executable file of that name in kPath; empty if none.
    static std::string resolve(const std::string& name);
};
