#include "platform/qt/QtMenuItem.h"

#include "platform/qt/QtMenu.h"

#include <QMenu>

namespace platform::qt {

QtMenuItem::QtMenuItem(QAction* action) : m_action(action) {
    if (QMenu* menu = action->menu())
        m_submenu = std::make_unique<QtMenu>(menu);
}

QtMenuItem::~QtMenuItem() = default;

std::string QtMenuItem::title() const {
    return m_action ? m_action->text().toStdString() : std::string();
}

void QtMenuItem::setTitle(const std::string& title) {
    if (m_action)
        m_action->setText(QString::fromStdString(title));
}

bool QtMenuItem::isSeparator() const {
    return m_action && m_action->isSeparator();
}

ui::Menu* QtMenuItem::submenu() {
    return m_submenu.get();
}

} // namespace platform::qt
