#include "app/RunTimeLimit.h"

RunTimeLimit::RunTimeLimit(std::chrono::milliseconds duration, std::function<void()> onExpiry) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    m_thread = std::thread([this, deadline, onExpiry = std::move(onExpiry)] {
        std::unique_lock lock(m_lock);
        if (m_wake.wait_until(lock, deadline, [this] { return m_cancelled; }))
            return;
        lock.unlock();
        onExpiry();
    });
}

RunTimeLimit::~RunTimeLimit() {
    cancel();
    if (m_thread.joinable())
        m_thread.join();
}

void RunTimeLimit::cancel() {
    {
        std::lock_guard lock(m_lock);
        m_cancelled = true;
    }
    m_wake.notify_all();
}
