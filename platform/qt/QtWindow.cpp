#include "platform/qt/QtWindow.h"

#include "platform/qt/MainThread.h"

#include <QGuiApplication>
#include <QScreen>

namespace platform::qt {

void QtWindow::setModalPanelLevel() {
    runOnMainThread([window = m_window] {
        if (window)
            window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    });
}

void QtWindow::center() {
    runOnMainThread([window = m_window] {
        if (!window)
            return;
        QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen)
            return;
        window->adjustSize();
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    });
}

void QtWindow::makeKeyAndOrderFront() {
    runOnMainThread([window = m_window] {
        if (!window)
            return;
        window->show();
        window->raise();
        window->activateWindow();
    });
}

} // namespace platform::qt
