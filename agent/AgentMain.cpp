#include "agent/AgentMain.h"

#include "CNSLog.h"
#include "agent/AgentServer.h"
#include "agent/CommandGrant.h"
#include "agent/package/PackageInstaller.h"
#include "agentlink/PHClientProtocolHandler.h"
#include "platform/Bundle.h"
#include "platform/ExecutableInfo.h"
#include "platform/LogText.h"
#include "platform/ProcessInfo.h"
#include "platform/ServiceManager.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

AgentServer* g_server = nullptr;

void onTerminate(int) {
    if (g_server)
        g_server->stop();
}

/// Records the grant for the installer that ran this step through pkexec: the
/// parent process, which must belong to the user pkexec names.
void grantInstaller(const std::string& label, const char* invoker) {
    char* end = nullptr;
    errno = 0;
    const unsigned long uid = std::strtoul(invoker, &end, 10);
    if (errno != 0 || end == invoker || *end != '\0' || invoker[0] == '-' || uid > 0xFFFFFFFEul) {
        OCNSLog("RInstallerAgent: no grant recorded: PKEXEC_UID is no user id");
        return;
    }
    if (uid == 0)
        return; // root needs no grant
    const pid_t installer = getppid();
    if (platform::ProcessInfo::processRealUserId(installer) != static_cast<uid_t>(uid)) {
        OCNSLog("RInstallerAgent: no grant recorded: the parent process %d is not run by uid %u",
                static_cast<int>(installer), static_cast<unsigned>(uid));
        return;
    }
    const auto grant = CommandGrant::forProcess(static_cast<uid_t>(uid), installer);
    const auto recorded = grant ? CommandGrant::record(label, *grant) : platform::Result<void>();
    if (!grant || !recorded) {
        OCNSLog("RInstallerAgent: no grant recorded for uid %u pid %d: %@", static_cast<unsigned>(uid),
                static_cast<int>(installer),
                platform::LogText::escaped(grant ? recorded.failure().description : "the process has ended"));
        return;
    }
    OCNSLog("RInstallerAgent: granted uid %u pid %d one command session", static_cast<unsigned>(uid),
            static_cast<int>(installer));
}

int blessJob(const std::string& label, const std::string& executable) {
    // The label is given on the command line of a step the installer has run as root.
    const std::string loggedLabel = platform::LogText::escaped(label);
    if (geteuid() != 0) {
        OCNSLog("RInstallerAgent: installing the job %@ needs root rights", loggedLabel);
        return 1;
    }
    if (auto installed = platform::ServiceManager::installAsRoot(
            label, executable, PHClientProtocolHandler::runningAgentVersion);
        !installed) {
        OCNSLog("RInstallerAgent: installing the job %@ failed: %@", loggedLabel,
                platform::LogText::escaped(installed.failure().description));
        return 1;
    }
    OCNSLog("RInstallerAgent: installed the job %@", loggedLabel);
    // pkexec tells who authorized this step; run by root directly, nobody else needs a grant.
    if (const char* invoker = std::getenv("PKEXEC_UID"))
        grantInstaller(label, invoker);
    return 0;
}

/// Ends the serving agent with status 0. The running command has completed,
/// as the server waited for it, but sessions of clients still connected run
/// on their own threads until the process ends: returning from main would run
/// static destructors and the libraries' exit clean-up under them (OpenSSL's
/// frees the state of every thread, which such a thread then frees again).
/// Log lines are written as they are made.
[[noreturn]] void endServingProcess() {
#if defined(__SANITIZE_ADDRESS__)
    __lsan_do_leak_check(); // what the exit clean-up skipped below would have checked
#endif
    std::fflush(nullptr);
    std::_Exit(0);
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
    // Run as the installed agent, it is given the new helper to check and
    // install; a first installation installs the helper that runs.
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--bless-job") == 0)
        return blessJob(argv[2], argc == 4 ? argv[3] : executable);
    if (argc != 1) {
        OCNSLog("RInstallerAgent: unknown arguments; usage: RInstallerAgent [--bless-job <label>]");
        return 2;
    }

    // A root daemon whose file others can replace would run their code as root.
    std::string offender;
    if (!isRootOnlyLocation(executable, offender)) {
        OCNSLog("RInstallerAgent: refusing to run from %@: %@ can be changed by others than root",
                platform::LogText::escaped(executable), platform::LogText::escaped(offender));
        return 1;
    }

    const auto info = platform::ExecutableInfo::read(executable);
    const auto identifier = info ? info->string("CFBundleIdentifier") : std::nullopt;
    const auto version = info ? info->text("CFBundleVersion") : std::nullopt;
    if (!identifier || identifier->empty() || !version) {
        OCNSLog("RInstallerAgent: no information list embedded in %@",
                platform::LogText::escaped(executable));
        return 1;
    }
    OCNSLog("RInstallerAgent %@ version %@ starting", *identifier, *version);

    // An install, update or uninstall cut short by a crash is finished or
    // rolled back before any client can start another one.
    if (PackageInstaller().recover() == PackageInstaller::Recovery::Failed)
        OCNSLog("RInstallerAgent: an interrupted package operation could not be recovered; package "
                "commands fail until it is");

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
    endServingProcess();
}
