// One item of a menu: a titled entry or a separator, possibly with a submenu.
#pragma once

#include <string>

namespace platform::ui {

class Menu;

class MenuItem {
public:
    MenuItem() = default;
    MenuItem(const MenuItem&) = delete;
    MenuItem& operator=(const MenuItem&) = delete;
    virtual ~MenuItem() = default;

    virtual std::string title() const = 0;
    virtual void setTitle(const std::string& title) = 0;
    virtual bool isSeparator() const = 0;
    /// The item's submenu, or null. Owned by the item.
    virtual Menu* submenu() = 0;
};

} // namespace platform::ui
