// A test build of the installer agent: the shipped agent's body with another
// embedded version (set by the build) and, with QVT_REPORTED_VERSION, another
// version reported to "getVersion" than the one it carries; with
// QVT_AGENT_EXITS_AT_ONCE an agent that ends as soon as it is started as a job
// (its blessing step still works).
#include "agent/AgentMain.h"

int main(int argc, char** argv) {
#ifdef QVT_AGENT_EXITS_AT_ONCE
    if (argc == 1)
        return 1;
#endif
    AgentRunOptions options;
#ifdef QVT_REPORTED_VERSION
    options.reportedVersion = QVT_REPORTED_VERSION;
#endif
    return runInstallerAgent(argc, argv, options);
}
