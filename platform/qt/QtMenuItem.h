// A Qt action behind the controller's menu-item operations.
#pragma once

#include "platform/ui/MenuItem.h"

#include <QAction>
#include <QPointer>
#include <memory>

namespace platform::qt {

class QtMenu;

class QtMenuItem final : public ui::MenuItem {
public:
    explicit QtMenuItem(QAction* action);
    ~QtMenuItem() override;

    std::string title() const override;
    void setTitle(const std::string& title) override;
    bool isSeparator() const override;
    ui::Menu* submenu() override;

private:
    QPointer<QAction> m_action;
    std::unique_ptr<QtMenu> m_submenu;
};

} // namespace platform::qt
