// A menu: a title and its items in order. The main menu is one too.
#pragma once

#include "platform/ui/MenuItem.h"

#include <cstddef>
#include <string>

namespace platform::ui {

class Menu {
public:
    Menu() = default;
    Menu(const Menu&) = delete;
    Menu& operator=(const Menu&) = delete;
    virtual ~Menu() = default;

    virtual std::string title() const = 0;
    virtual void setTitle(const std::string& title) = 0;
    virtual size_t itemCount() const = 0;
    /// Item \p index (less than itemCount()); owned by the menu.
    virtual MenuItem& item(size_t index) = 0;
};

} // namespace platform::ui
