// The main window.
#pragma once

namespace platform::ui {

class Window {
public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window() = default;

    /// Above normal and floating windows, as a modal panel is.
    virtual void setModalPanelLevel() = 0;
    /// Centres the window on the screen.
    virtual void center() = 0;
    /// Shows the window, brings it to the front and gives it the keyboard.
    virtual void makeKeyAndOrderFront() = 0;
};

} // namespace platform::ui
