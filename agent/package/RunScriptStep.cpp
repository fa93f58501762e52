#include "agent/package/RunScriptStep.h"

#include "agent/package/CommandRunner.h"
#include "agent/package/InstallContext.h"

#include "CNSLog.h"
#include "platform/LogText.h"

#include <map>

InstallResult RunScriptStep::perform(InstallContext& context) {
    const auto& package = *context.package;
    const std::string& script =
        m_script == Script::Preinstall ? package.preinstallScript() : package.postinstallScript();
    if (script.empty())
        return InstallResult::success();
    context.report(-1, std::string("Running ") + name() + " script");
    const std::string location = context.rooted(package.installLocation());
    const std::string& root = context.options.installRoot;
    const std::map<std::string, std::string> environment = {
        {"HOME", "/root"},
        {"LANG", "C"},
        {"QVT_INSTALL_ACTION", context.mode == InstallContext::Mode::Install ? "install" : "update"},
        {"QVT_INSTALL_LOCATION", location},
        {"QVT_INSTALL_ROOT", root},
        {"QVT_PACKAGE_IDENTIFIER", package.identifier()},
        {"QVT_PACKAGE_PATH", package.path()},
        {"QVT_PACKAGE_VERSION", package.version()},
        {"QVT_PREVIOUS_VERSION", context.previous ? context.previous->version : ""},
    };
    OCNSLog("PackageInstaller: running %@", platform::LogText::escaped(script));
    const auto outcome = CommandRunner::run({script, package.path(), location, root}, environment,
                                            context.options.scriptTimeLimit, name(), "/");
    if (outcome.succeeded())
        return InstallResult::success();
    const auto status =
        m_script == Script::Preinstall ? InstallResult::PreinstallFailed : InstallResult::PostinstallFailed;
    return {status, std::string("the ") + name() + " script " + outcome.describe()};
}
