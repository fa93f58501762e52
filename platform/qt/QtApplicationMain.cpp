#include "platform/qt/QtApplicationMain.h"

#include "platform/Bundle.h"
#include "platform/qt/QtMainPoster.h"
#include "platform/qt/QtStringTable.h"

#include <QApplication>
#include <QTimer>
#include <cstdlib>

namespace platform::qt {

bool displayAvailable() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

int applicationMain(int argc, char** argv, bool wantsWindow, const ControllerFactory& makeController) {
    const char* chosen = std::getenv("QT_QPA_PLATFORM");
    if ((!wantsWindow || !displayAvailable()) && !(chosen && *chosen))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    QApplication application(argc, argv);
    QtMainPoster poster;

    Bundle& bundle = Bundle::main();
    const std::string executable = bundle.executablePath();
    const auto slash = executable.find_last_of('/');
    const std::string baseName = slash == std::string::npos ? executable : executable.substr(slash + 1);
    bundle.setStringTable(std::make_shared<QtStringTable>(
        QString::fromStdString(bundle.resourcesPath() + "/translations"), QString::fromStdString(baseName)));

    QtApplication app;
    std::unique_ptr<ui::ApplicationDelegate> controller = makeController(app);
    if (!controller)
        return 1;
    QObject::connect(&application, &QCoreApplication::aboutToQuit,
                     [&] { controller->applicationWillTerminate(); });
    controller->applicationWillFinishLaunching();
    QTimer::singleShot(0, &application, [&] { controller->applicationDidFinishLaunching(); });
    const int status = application.exec();
    return status != 0 ? status : app.exitStatus();
}

} // namespace platform::qt
