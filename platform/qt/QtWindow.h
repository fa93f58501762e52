// A Qt top-level widget behind the controller's window operations.
#pragma once

#include "platform/ui/Window.h"

#include <QPointer>
#include <QWidget>

namespace platform::qt {

class QtWindow final : public ui::Window {
public:
    explicit QtWindow(QWidget* window) : m_window(window) {}

    void setModalPanelLevel() override;
    void center() override;
    void makeKeyAndOrderFront() override;

private:
    QPointer<QWidget> m_window;
};

} // namespace platform::qt
