// The loaded interface description: the main window from MainMenu.ui, its Qt
// controls behind the controller's user-interface operations, and the
// controller connected to them (outlets and button actions). It is what the
// application loop drives.
#pragma once

#include "app/AppDelegate.h"
#include "platform/qt/QtApplication.h"
#include "platform/qt/QtButton.h"
#include "platform/qt/QtProgressBar.h"
#include "platform/qt/QtTextLabel.h"
#include "platform/qt/QtWindow.h"
#include "platform/ui/ApplicationDelegate.h"

#include <QMainWindow>
#include <memory>

namespace Ui {
class MainMenu;
}

class MainMenuInterface final : public platform::ui::ApplicationDelegate {
public:
    /// Loads the interface (the window stays hidden) and creates the controller.
    /// \p application, \p bundle and \p defaults must outlive the interface.
    MainMenuInterface(platform::qt::QtApplication& application, const platform::Bundle& bundle,
                      const platform::UserDefaults& defaults);
    MainMenuInterface(const MainMenuInterface&) = delete;
    MainMenuInterface& operator=(const MainMenuInterface&) = delete;
    ~MainMenuInterface() override;

    void applicationWillFinishLaunching() override { m_controller->applicationWillFinishLaunching(); }
    void applicationDidFinishLaunching() override { m_controller->applicationDidFinishLaunching(); }
    void applicationWillTerminate() override { m_controller->applicationWillTerminate(); }

    AppDelegate& controller() { return *m_controller; }
    QMainWindow& window() { return *m_window; }
    const Ui::MainMenu& widgets() const { return *m_widgets; }

private:
    void connectMenuActions(platform::qt::QtApplication& application);

    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<Ui::MainMenu> m_widgets;
    std::unique_ptr<platform::qt::QtWindow> m_windowControl;
    std::unique_ptr<platform::qt::QtProgressBar> m_progressIndicator;
    std::unique_ptr<platform::qt::QtTextLabel> m_progressInfolabel;
    std::unique_ptr<platform::qt::QtTextLabel> m_packageTitle;
    std::unique_ptr<platform::qt::QtTextLabel> m_packageInfo;
    std::unique_ptr<platform::qt::QtButton> m_installButton;
    std::unique_ptr<platform::qt::QtButton> m_uninstallButton;
    std::unique_ptr<platform::qt::QtButton> m_cancelButton;
    std::unique_ptr<platform::qt::QtButton> m_removeBackupsButton;
    std::shared_ptr<AppDelegate> m_controller;
};
