// A test build of the installer agent: the shipped agent's body with another
// embedded version (set by the build) and, with QVT_REPORTED_VERSION, another
// version reported to "getVersion" than the one it carries.
#include "agent/AgentMain.h"

int main(int argc, char** argv) {
    AgentRunOptions options;
#ifdef QVT_REPORTED_VERSION
    options.reportedVersion = QVT_REPORTED_VERSION;
#endif
    return runInstallerAgent(argc, argv, options);
}
