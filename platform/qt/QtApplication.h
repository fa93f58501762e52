// The running Qt application behind the controller's application operations.
#pragma once

#include "platform/ui/Application.h"

#include <QMenuBar>
#include <atomic>
#include <memory>

namespace platform::qt {

class QtMenu;

class QtApplication final : public ui::Application {
public:
    QtApplication();
    ~QtApplication() override;

    /// Makes \p menuBar the main menu. Main thread, before the controller runs.
    void setMainMenuBar(QMenuBar* menuBar);

    ui::Menu* mainMenu() override;
    std::unique_ptr<ui::Alert> makeAlert() override;
    void terminateDeferred() override;
    void postTermination() override;
    void setExitStatus(int status) override { m_exitStatus.store(status); }

    int exitStatus() const { return m_exitStatus.load(); }

private:
    std::unique_ptr<QtMenu> m_mainMenu;
    std::atomic<int> m_exitStatus{0};
};

} // namespace platform::qt
