#include "platform/qt/MainThread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

#include <cassert>
#include <condition_variable>
#include <mutex>

namespace platform::qt {
namespace {

// Work travels as a posted event rather than as a queued slot call: Qt
// deletes a posted event on the receiving thread once it has been delivered,
// so the work (and everything it captured) is run and destroyed on the main
// thread only. A queued slot call is reference-counted instead and may be
// destroyed on the posting thread after the main thread ran it, ordered only
// by an atomic inside Qt that ThreadSanitizer cannot see.
class WorkEvent final : public QEvent {
public:
    explicit WorkEvent(std::function<void()> work) : QEvent(type()), m_work(std::move(work)) {}

    static QEvent::Type type() {
        static const auto registered = static_cast<QEvent::Type>(QEvent::registerEventType());
        return registered;
    }
    void run() { m_work(); }

private:
    std::function<void()> m_work;
};

/// Orders what the posting thread wrote into a WorkEvent before what the main
/// thread reads of it. Qt's event queue already does so, but inside Qt, which
/// is not instrumented, so ThreadSanitizer would see a race on every event;
/// this mutex makes the same order visible to it. Held only for an instant.
std::mutex& handoff() {
    static std::mutex mutex;
    return mutex;
}

class WorkReceiver final : public QObject {
public:
    bool event(QEvent* event) override {
        { std::lock_guard acquire(handoff()); }
        if (event->type() != WorkEvent::type())
            return QObject::event(event);
        static_cast<WorkEvent*>(event)->run();
        return true;
    }
};

/// The receiver of posted work, living on the main thread. Never destroyed:
/// worker threads may post while the process exits.
QObject* workReceiver(QCoreApplication* app) {
    static QObject* const receiver = [app] {
        auto* made = new WorkReceiver;
        made->moveToThread(app->thread());
        return made;
    }();
    return receiver;
}

} // namespace

bool isMainThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void postToMainThread(std::function<void()> work) {
    QCoreApplication* app = QCoreApplication::instance();
    assert(app && "work posted before the application object exists");
    auto* event = new WorkEvent(std::move(work));
    { std::lock_guard release(handoff()); }
    QCoreApplication::postEvent(workReceiver(app), event);
}

void runOnMainThread(std::function<void()> work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || isMainThread()) {
        work();
        return;
    }
    postToMainThread(std::move(work));
}

void runOnMainThreadAndWait(const std::function<void()>& work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || isMainThread()) {
        work();
        return;
    }
    std::mutex mutex;
    std::condition_variable doneChanged;
    bool done = false;
    postToMainThread([&] {
        work();
        std::lock_guard lock(mutex);
        done = true;
        doneChanged.notify_one();
    });
    std::unique_lock lock(mutex);
    doneChanged.wait(lock, [&] { return done; });
}

} // namespace platform::qt
