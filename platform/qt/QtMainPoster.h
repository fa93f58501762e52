// Makes dispatchMain post to the Qt event loop.
#pragma once

#include "platform/Dispatch.h"

namespace platform::qt {

class QtMainPoster final : public MainPoster {
public:
    /// Installs itself as the target of dispatchMain; uninstalls on destruction.
    QtMainPoster();
    ~QtMainPoster() override;

    void post(Task task) override;
};

} // namespace platform::qt
