// A test build of the installer agent that kills itself with SIGKILL right before its N-th change to the file
// system, N taken from the environment variable QVT_CRASH_AGENT_CHANGES; without it, the shipped agent's
// body.
#include "agent/AgentMain.h"
#include "agent/package/PackageFiles.h"

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace {

std::atomic<long> g_changesLeft{0};

void changing() {
    if (g_changesLeft.fetch_sub(1) == 1)
        ::raise(SIGKILL);
}

} // namespace

int main(int argc, char** argv) {
    if (const char* changes = std::getenv(QVT_CRASH_AGENT_VARIABLE)) {
        g_changesLeft = std::atol(changes);
        PackageFiles::setChangeHook(changing);
    }
    return runInstallerAgent(argc, argv, {});
}
