#include "agentlink/FOCVersion.h"

#include "CNSLog.h"
#include "platform/Bundle.h"

std::string FOCVersion::fullVersionInfo() {
    const platform::Bundle& bundle = platform::Bundle::main();
    const auto shortVersion = bundle.infoValue("CFBundleShortVersionString");
    const auto revision = bundle.infoValue("com.quorvantis.source.revision");
    OCTextSink text;
    OCFormat(text, "%@  (%@)", shortVersion ? OCArg(*shortVersion) : OCArg(),
             revision ? OCArg(*revision) : OCArg());
    return text.text();
}

std::optional<std::string> FOCVersion::versionInfo() {
    return platform::Bundle::main().infoValue("CFBundleVersion");
}

std::optional<std::string> FOCVersion::sourceRevision() {
    return platform::Bundle::main().infoValue("com.quorvantis.source.revision");
}
