// A one-shot time limit: after the duration, calls its handler on its own
// thread, unless cancelled or destroyed first. The handler should only post
// work elsewhere (dispatchMain): it must not release what owns the limit.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class RunTimeLimit {
public:
    RunTimeLimit(std::chrono::milliseconds duration, std::function<void()> onExpiry);
    /// Cancels and waits for the thread.
    ~RunTimeLimit();
    RunTimeLimit(const RunTimeLimit&) = delete;
    RunTimeLimit& operator=(const RunTimeLimit&) = delete;

    /// The handler will not be called after this returns (unless it already runs).
    void cancel();

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_cancelled = false;
    std::thread m_thread;
};
