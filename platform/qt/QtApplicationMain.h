// The application loop: what the process entry hands argc and argv to.
#pragma once

#include "platform/qt/QtApplication.h"
#include "platform/ui/ApplicationDelegate.h"

#include <functional>
#include <memory>
#include <string>

namespace platform::qt {

using ControllerFactory = std::function<std::unique_ptr<ui::ApplicationDelegate>(QtApplication&)>;
/// Told why no window can be shown; returns the exit status. It may log, but
/// must not touch Qt: it can run from inside Qt's fatal-message handling.
using NoDisplayHandler = std::function<int(const std::string& why)>;

/// Chooses Qt's offscreen platform when \p wantsWindow is false (unless
/// QT_QPA_PLATFORM is set), makes the application, posts dispatchMain to its
/// loop, loads the main bundle's translations ("<base name>_<language>.qm" in
/// Contents/Resources/translations, base name the executable's name), lets
/// \p makeController load the interface and create the controller, then calls
/// applicationWillFinishLaunching, runs the loop (applicationDidFinishLaunching
/// on its first turn, applicationWillTerminate when it ends) and returns the
/// exit status.
///
/// A window that nobody could see is never opened: when \p wantsWindow is true,
/// QT_QPA_PLATFORM names no platform and no display is set, or Qt's platform
/// plugin cannot reach the display, \p noDisplay decides the exit status and
/// the process ends with it (in the second case from within Qt's fatal
/// message, with std::_Exit).
int applicationMain(int argc, char** argv, bool wantsWindow, const ControllerFactory& makeController,
                    const NoDisplayHandler& noDisplay);

/// True when a display server is named in the environment (DISPLAY or
/// WAYLAND_DISPLAY).
bool displayAvailable();

} // namespace platform::qt
