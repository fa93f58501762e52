#include "platform/RebootSignal.h"

#include "CNSLog.h"
#include "platform/ChildProcess.h"

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool RebootSignal::systemRequiresReboot() {
    struct stat info {};
    if (::lstat(kRebootRequiredFile, &info) == 0)
        return true;
    for (const char* path : kNeedsRestartingPaths) {
        if (::stat(path, &info) != 0 || !S_ISREG(info.st_mode) || ::access(path, X_OK) != 0)
            continue;
        ChildProcess::Options options;
        options.arguments = {path, "-r"};
        options.environment = std::vector<std::string>{"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C"};
        options.timeLimit = kNeedsRestartingTimeLimit;
        options.ownProcessGroup = true;
        const auto outcome = ChildProcess::run(options);
        if (outcome.kind == ChildProcess::Outcome::Kind::Exited && (outcome.code == 0 || outcome.code == 1))
            return outcome.code == 1;
        OCNSLog("Cannot tell whether a reboot is required: %@ -r %@", path, outcome.describe());
        return false;
    }
    return false;
}

} // namespace platform
