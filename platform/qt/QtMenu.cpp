#include "platform/qt/QtMenu.h"

#include "platform/qt/QtMenuItem.h"

#include <QMenu>
#include <QMenuBar>

namespace platform::qt {

QtMenu::QtMenu(QWidget* menu) : m_menu(menu) {
    for (QAction* action : menu->actions())
        m_items.push_back(std::make_unique<QtMenuItem>(action));
}

QtMenu::~QtMenu() = default;

std::string QtMenu::title() const {
    if (!m_menu)
        return {};
    if (auto* menu = qobject_cast<QMenu*>(m_menu.data()))
        return menu->title().toStdString();
    return m_menu->property("menuTitle").toString().toStdString();
}

void QtMenu::setTitle(const std::string& title) {
    if (!m_menu)
        return;
    if (auto* menu = qobject_cast<QMenu*>(m_menu.data()))
        menu->setTitle(QString::fromStdString(title));
    else
        m_menu->setProperty("menuTitle", QString::fromStdString(title));
}

ui::MenuItem& QtMenu::item(size_t index) {
    return *m_items.at(index);
}

} // namespace platform::qt
