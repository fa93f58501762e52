#include "platform/qt/QtMainPoster.h"

#include "platform/qt/MainThread.h"

namespace platform::qt {

QtMainPoster::QtMainPoster() {
    setMainPoster(this);
}

QtMainPoster::~QtMainPoster() {
    setMainPoster(nullptr);
}

void QtMainPoster::post(Task task) {
    // Always queued, also on the main thread: the poster never runs the task
    // before returning, and tasks keep their posting order.
    postToMainThread(std::move(task));
}

} // namespace platform::qt
