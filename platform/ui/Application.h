// The running application as the controller may use it: its main menu, alerts
// and the termination request.
#pragma once

#include "platform/ui/Alert.h"
#include "platform/ui/Menu.h"

#include <memory>

namespace platform::ui {

class Application {
public:
    Application() = default;
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;
    virtual ~Application() = default;

    /// The application's main menu, or null when it has none.
    virtual Menu* mainMenu() = 0;
    /// A new modal alert.
    virtual std::unique_ptr<Alert> makeAlert() = 0;
    /// Requests termination on the next turn of the main loop. Main thread.
    virtual void terminateDeferred() = 0;
    /// Posts the termination request to the main thread without waiting.
    /// Any thread.
    virtual void postTermination() = 0;
    /// The process exit status once the loop ends (0 unless set). Any thread.
    virtual void setExitStatus(int status) = 0;
};

} // namespace platform::ui
