// A Qt menu bar or menu behind the controller's menu operations.
//
// A QMenuBar has no title of its own; its title is kept in the property
// "menuTitle" so the main menu can be read and set like any other menu.
// Menus are only touched on the main thread.
#pragma once

#include "platform/ui/Menu.h"

#include <QPointer>
#include <QWidget>
#include <memory>
#include <vector>

namespace platform::qt {

class QtMenuItem;

class QtMenu final : public ui::Menu {
public:
    /// \p menu is a QMenuBar or a QMenu; its actions are its items.
    explicit QtMenu(QWidget* menu);
    ~QtMenu() override;

    std::string title() const override;
    void setTitle(const std::string& title) override;
    size_t itemCount() const override { return m_items.size(); }
    ui::MenuItem& item(size_t index) override;

private:
    QPointer<QWidget> m_menu;
    std::vector<std::unique_ptr<QtMenuItem>> m_items;
};

} // namespace platform::qt
