// Handing work to the Qt main thread.
#pragma once

#include <functional>

namespace platform::qt {

/// True on the thread that runs the application's event loop.
bool isMainThread();

/// Queues \p work for the main thread, also when called on it: it never runs
/// before this returns. Work runs in posting order and is destroyed on the
/// main thread once it has run. Needs the application object.
void postToMainThread(std::function<void()> work);

/// Runs \p work now when called on the main thread, otherwise posts it to the
/// main thread without waiting. Work posted from one thread runs in order.
void runOnMainThread(std::function<void()> work);

/// Runs \p work on the main thread and waits for it; runs it directly on the
/// main thread. Only for quick reads: the main thread must not wait for the caller.
void runOnMainThreadAndWait(const std::function<void()>& work);

} // namespace platform::qt
