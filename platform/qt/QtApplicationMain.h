// The application loop: what the process entry hands argc and argv to.
#pragma once

#include "platform/qt/QtApplication.h"
#include "platform/ui/ApplicationDelegate.h"

#include <functional>
#include <memory>

namespace platform::qt {

using ControllerFactory = std::function<std::unique_ptr<ui::ApplicationDelegate>(QtApplication&)>;

/// Chooses Qt's offscreen platform when \p wantsWindow is false or no display
/// exists (unless QT_QPA_PLATFORM is set), makes the application, posts
/// dispatchMain to its loop, loads the main bundle's translations ("<base
/// name>_<language>.qm" in Contents/Resources/translations, base name the
/// executable's name), lets \p makeController load the interface and create
/// the controller, then calls applicationWillFinishLaunching, runs the loop
/// (applicationDidFinishLaunching on its first turn, applicationWillTerminate
/// when it ends) and returns the exit status.
int applicationMain(int argc, char** argv, bool wantsWindow, const ControllerFactory& makeController);

/// True when a display server is reachable through the environment (DISPLAY
/// or WAYLAND_DISPLAY).
bool displayAvailable();

} // namespace platform::qt
