#include "platform/qt/QtMainPoster.h"

#include <QCoreApplication>
#include <QMetaObject>

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
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
}

} // namespace platform::qt
