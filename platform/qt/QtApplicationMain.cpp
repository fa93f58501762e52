#include "platform/qt/QtApplicationMain.h"

#include "platform/Bundle.h"
#include "platform/qt/QtMainPoster.h"
#include "platform/qt/QtStringTable.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace platform::qt {

bool displayAvailable() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

namespace {

// Set while QApplication is being made: a fatal message then means the
// platform plugin could not start, which for a window run means no display.
const NoDisplayHandler* s_noDisplay = nullptr;
QtMessageHandler s_previousHandler = nullptr;

/// "DISPLAY=:0", "WAYLAND_DISPLAY=wayland-0": the displays the environment names.
std::string namedDisplays() {
    std::string named;
    for (const char* variable : {"WAYLAND_DISPLAY", "DISPLAY"})
        if (const char* value = std::getenv(variable); value && *value)
            named += (named.empty() ? "" : ", ") + std::string(variable) + "=" + value;
    return named;
}

void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg && s_noDisplay) {
        const int status = (*s_noDisplay)("the display cannot be reached (" + namedDisplays() + ")");
        std::fflush(nullptr);
        std::_Exit(status);
    }
    if (s_previousHandler)
        s_previousHandler(type, context, message);
}

} // namespace

int applicationMain(int argc, char** argv, bool wantsWindow, const ControllerFactory& makeController,
                    const NoDisplayHandler& noDisplay) {
    const char* chosen = std::getenv("QT_QPA_PLATFORM");
    const bool platformChosen = chosen && *chosen;
    if (!platformChosen) {
        if (!wantsWindow)
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        else if (!displayAvailable())
            return noDisplay("neither DISPLAY nor WAYLAND_DISPLAY is set");
    }

    if (wantsWindow && !platformChosen) {
        s_noDisplay = &noDisplay;
        s_previousHandler = qInstallMessageHandler(messageHandler);
    }
    QApplication application(argc, argv);
    if (s_noDisplay) {
        s_noDisplay = nullptr;
        qInstallMessageHandler(s_previousHandler);
    }
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
