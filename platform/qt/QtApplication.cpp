#include "platform/qt/QtApplication.h"

#include "platform/qt/MainThread.h"

#include "platform/qt/QtAlert.h"
#include "platform/qt/QtMenu.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

namespace platform::qt {

QtApplication::QtApplication() = default;
QtApplication::~QtApplication() = default;

void QtApplication::setMainMenuBar(QMenuBar* menuBar) {
    m_mainMenu = menuBar ? std::make_unique<QtMenu>(menuBar) : nullptr;
}

ui::Menu* QtApplication::mainMenu() {
    return m_mainMenu.get();
}

std::unique_ptr<ui::Alert> QtApplication::makeAlert() {
    return std::make_unique<QtAlert>();
}

void QtApplication::terminateDeferred() {
    QTimer::singleShot(0, QCoreApplication::instance(),
                       [this] { QCoreApplication::exit(m_exitStatus.load()); });
}

void QtApplication::postTermination() {
    postToMainThread([this] { QCoreApplication::exit(m_exitStatus.load()); });
}

} // namespace platform::qt
