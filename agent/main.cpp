// The installer agent RInstallerAgent: a root daemon that listens on
// "/var/run/<bundle identifier>.socket" and answers the installer application.
// Its identity (bundle identifier and version) is the information list embedded
// in its own executable.
#include "agent/AgentServer.h"
#include "platform/Bundle.h"
#include "platform/ExecutableInfo.h"

#include "CNSLog.h"

#include <csignal>

namespace {

AgentServer* g_server = nullptr;

void onTerminate(int) {
    if (g_server)
        g_server->stop();
}

} // namespace

int main() {
    std::signal(SIGPIPE, SIG_IGN);
    CNSInitLog(CNSLogFlagDebug | CNSLogFlagNewFile, 0, "RInstallerAgent", "/var/log/com.quorvantis.remote");

    const std::string executable = platform::currentExecutablePath();
    const auto info = platform::ExecutableInfo::read(executable);
    const auto identifier = info ? info->string("CFBundleIdentifier") : std::nullopt;
    const auto version = info ? info->text("CFBundleVersion") : std::nullopt;
    if (!identifier || identifier->empty() || !version) {
        OCNSLog("RInstallerAgent: no information list embedded in %@", executable);
        return 1;
    }
    OCNSLog("RInstallerAgent %@ version %@ starting", *identifier, *version);

    AgentServer server(*identifier, *version);
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
