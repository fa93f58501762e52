// Process entry of the installer and uninstaller.
#include "CNSLog.h"
#include "app/AppDelegate.h"
#include "app/MainMenuInterface.h"
#include "platform/Bundle.h"
#include "platform/UserDefaults.h"
#include "platform/qt/QtApplicationMain.h"

#include <csignal>

int main(int argc, char** argv) {
    signal(SIGCHLD, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    CNSInitLog(CNSLogFlagNewFile | CNSLogFlagDebug, 0, "QvtRSInstaller", "/var/log/com.quorvantis.remote");

    const platform::Bundle& bundle = platform::Bundle::main();
    const std::string identifier =
        bundle.infoValue("CFBundleIdentifier").value_or("com.quorvantis.remote.Installer");
    const platform::UserDefaults defaults(argc, argv,
                                          platform::UserDefaults::persistentDomainPath(identifier));

    // The controller decides the presentation; the loop only needs to know
    // beforehand whether a display is wanted at all.
    const bool wantsWindow = AppDelegate::runWithGUIForOption(defaults.stringForKey("gui"));
    return platform::qt::applicationMain(
        argc, argv, wantsWindow, [&](platform::qt::QtApplication& application) {
            return std::make_unique<MainMenuInterface>(application, bundle, defaults);
        });
}
