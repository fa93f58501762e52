#include "agent/AgentMain.h"

#include "CNSLog.h"
#include "agent/AgentServer.h"
#include "platform/Bundle.h"
#include "platform/ExecutableInfo.h"
#include "platform/ServiceManager.h"

#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

AgentServer* g_server = nullptr;

void onTerminate(int) {
    if (g_server)
        g_server->stop();
}

int blessJob(const std::string& label, const std::string& executable) {
    if (geteuid() != 0) {
        OCNSLog("RInstallerAgent: installing the job %@ needs root rights", label);
        return 1;
    }
    if (auto failed = platform::ServiceManager::installJobAsRoot(label, executable)) {
        OCNSLog("RInstallerAgent: installing the job %@ failed: %@", label, failed->description);
        return 1;
    }
    OCNSLog("RInstallerAgent: installed the job %@", label);
    return 0;
}

} // namespace

bool isRootOnlyLocation(const std::string& path, std::string& offender) {
    std::string current = path;
    bool first = true;
    while (!current.empty()) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0) {
            offender = current;
            return false;
        }
        const bool othersMayWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
        const bool stickyFolder = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX);
        if (info.st_uid != 0 || (othersMayWrite && (first || !stickyFolder))) {
            offender = current;
            return false;
        }
        if (current == "/")
            break;
        const auto slash = current.find_last_of('/');
        current = slash == 0 ? "/" : current.substr(0, slash);
        first = false;
    }
    return true;
}

int runInstallerAgent(int argc, char** argv, const AgentRunOptions& options) {
    std::signal(SIGPIPE, SIG_IGN);
    CNSInitLog(CNSLogFlagDebug | CNSLogFlagNewFile, 0, "RInstallerAgent", "/var/log/com.quorvantis.remote");

    const std::string executable = platform::currentExecutablePath();
    if (argc == 3 && std::strcmp(argv[1], "--bless-job") == 0)
        return blessJob(argv[2], executable);
    if (argc != 1) {
        OCNSLog("RInstallerAgent: unknown arguments; usage: RInstallerAgent [--bless-job <label>]");
        return 2;
    }

    // A root daemon whose file others can replace would run their code as root.
    std::string offender;
    if (!isRootOnlyLocation(executable, offender)) {
        OCNSLog("RInstallerAgent: refusing to run from %@: %@ can be changed by others than root", executable,
                offender);
        return 1;
    }

    const auto info = platform::ExecutableInfo::read(executable);
    const auto identifier = info ? info->string("CFBundleIdentifier") : std::nullopt;
    const auto version = info ? info->text("CFBundleVersion") : std::nullopt;
    if (!identifier || identifier->empty() || !version) {
        OCNSLog("RInstallerAgent: no information list embedded in %@", executable);
        return 1;
    }
    OCNSLog("RInstallerAgent %@ version %@ starting", *identifier, *version);

    AgentServer server(*identifier, options.reportedVersion.value_or(*version));
    if (!server.listen())
        return 1;
    g_server = &server;
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    server.run();
    g_server = nullptr;
    OCNSLog("RInstallerAgent stopped");
    return 0;
}
