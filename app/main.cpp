// Process entry of the installer and uninstaller.
#include "CNSLog.h"
#include "agentlink/FOCVersion.h"
#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/ExitStatus.h"
#include "app/MainMenuInterface.h"
#include "app/RunOptions.h"
#include "platform/Bundle.h"
#include "platform/UserDefaults.h"
#include "platform/qt/QtApplicationMain.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    signal(SIGCHLD, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);

    // Help, version and a mistyped option are answered before a log file is
    // made or anything is started.
    const std::string program = CommandLine::programName(argc > 0 ? argv[0] : nullptr);
    const auto refuse = [&](const std::string& problem) {
        std::fprintf(stderr, "%s: %s\n%s\n", program.c_str(), problem.c_str(),
                     CommandLine::usage(program).c_str());
        return exitCode(ExitStatus::BadCommandLine);
    };
    const CommandLine commandLine = CommandLine::parse(argc, argv);
    switch (commandLine.action()) {
    case CommandLine::Action::ShowHelp:
        std::fputs(CommandLine::help(program).c_str(), stdout);
        return exitCode(ExitStatus::Succeeded);
    case CommandLine::Action::ShowVersion:
        std::printf("%s %s\n", program.c_str(), FOCVersion::fullVersionInfo().c_str());
        return exitCode(ExitStatus::Succeeded);
    case CommandLine::Action::Refuse:
        return refuse(commandLine.problem());
    case CommandLine::Action::Run:
        break;
    }

    CNSInitLog(CNSLogFlagNewFile | CNSLogFlagDebug, 0, "QvtRSInstaller", "/var/log/com.quorvantis.remote");

    const platform::Bundle& bundle = platform::Bundle::main();
    const std::string identifier =
        bundle.infoValue("CFBundleIdentifier").value_or("com.quorvantis.remote.Installer");
    const platform::UserDefaults defaults(argc, argv,
                                          platform::UserDefaults::persistentDomainPath(identifier));
    if (const auto options = RunOptions::read(defaults); !options) {
        OCNSLog("Bad command line: %@", options.failure().description);
        return refuse(options.failure().description);
    }

    // The controller decides the presentation; the loop only needs to know
    // beforehand whether a display is wanted at all.
    const bool wantsWindow = AppDelegate::runWithGUIForOption(defaults.stringForKey("gui"));
    const auto noDisplay = [&](const std::string& why) {
        const std::string hint = "No window can be shown: " + why +
                                 ". For an unattended update without a window, run: " + program + " -gui NO";
        OCNSLog("No display for the window run, exiting with status %d: %@", exitCode(ExitStatus::NoDisplay),
                why);
        std::fprintf(stderr, "%s: %s\n", program.c_str(), hint.c_str());
        return exitCode(ExitStatus::NoDisplay);
    };
    const int status = platform::qt::applicationMain(
        argc, argv, wantsWindow,
        [&](platform::qt::QtApplication& application) {
            return std::make_unique<MainMenuInterface>(application, bundle, defaults);
        },
        noDisplay);
    // Worker threads of a flow may still be blocked (in a connection, or
    // waiting for pkexec): the process ends here without running static
    // destructors under them. Log lines are written as they are made, and the
    // progress stream is flushed per line.
    std::fflush(nullptr);
    std::_Exit(status);
}
