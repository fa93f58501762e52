// A push button or check box, as the controller may use it.
#pragma once

#include <string>

namespace platform::ui {

class Button {
public:
    Button() = default;
    Button(const Button&) = delete;
    Button& operator=(const Button&) = delete;
    virtual ~Button() = default;

    virtual void setHidden(bool hidden) = 0;
    virtual void setTitle(const std::string& title) = 0;
    virtual void setEnabled(bool enabled) = 0;
    /// The check-box state: 1 when on, 0 when off.
    virtual int state() const = 0;
};

} // namespace platform::ui
