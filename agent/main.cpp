// The installer agent RInstallerAgent: a root daemon that listens on
// "/var/run/<bundle identifier>.socket" and answers the installer application.
// Its identity (bundle identifier and version) is the information list embedded
// in its own executable.
#include "agent/AgentMain.h"

int main(int argc, char** argv) {
    return runInstallerAgent(argc, argv, {});
}
