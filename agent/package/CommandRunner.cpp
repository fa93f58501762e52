#include "agent/package/CommandRunner.h"

#include "CNSLog.h"
#include "platform/LogText.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

std::string CommandRunner::resolve(const std::string& name) {
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos)
        return name;
    const std::string path = kPath;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find(':', start), path.size());
        const std::string candidate = path.substr(start, end - start) + "/" + name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

CommandRunner::Outcome CommandRunner::run(const std::vector<std::string>& argv,
                                          const std::map<std::string, std::string>& environment,
                                          std::chrono::milliseconds limit, const std::string& logPrefix,
                                          const std::string& folder) {
    Outcome outcome;
    if (argv.empty()) {
        outcome.code = EINVAL;
        return outcome;
    }
    // Relative paths are not run: what they name would depend on the folder.
    const std::string program = resolve(argv[0]);
    if (program.empty() || program[0] != '/') {
        outcome.code = ENOENT;
        return outcome;
    }
    platform::ChildProcess::Options options;
    options.arguments = argv;
    options.arguments[0] = program;
    std::vector<std::string> variables{std::string("PATH=") + kPath};
    for (const auto& [name, value] : environment)
        if (name != "PATH")
            variables.push_back(name + "=" + value);
    options.environment = std::move(variables);
    options.timeLimit = limit;
    options.ownProcessGroup = true;
    options.workingFolder = folder;
    options.creationMask = 022;
    // The program's output is the package's text: one of its lines stays one log line.
    options.onLine = [&logPrefix](const std::string& line) {
        OCNSLog("%@: %@", platform::LogText::escaped(logPrefix), platform::LogText::escaped(line));
    };
    return platform::ChildProcess::run(options);
}
