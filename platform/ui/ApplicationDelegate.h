// What the application loop calls on its controller, in this order.
#pragma once

namespace platform::ui {

class ApplicationDelegate {
public:
    ApplicationDelegate() = default;
    ApplicationDelegate(const ApplicationDelegate&) = delete;
    ApplicationDelegate& operator=(const ApplicationDelegate&) = delete;
    virtual ~ApplicationDelegate() = default;

    /// Before the loop starts.
    virtual void applicationWillFinishLaunching() = 0;
    /// On the loop's first turn.
    virtual void applicationDidFinishLaunching() = 0;
    /// When the loop is about to end.
    virtual void applicationWillTerminate() = 0;
};

} // namespace platform::ui
