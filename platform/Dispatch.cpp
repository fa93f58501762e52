#include "platform/Dispatch.h"

#include <atomic>
#include <thread>

namespace platform {

namespace {
std::atomic<MainPoster*> g_poster{nullptr};
} // namespace

void dispatchGlobal(Task task) {
    // Worker threads are cheap next to what the program hands them (installing
    // and connecting an agent); a detached thread per task keeps order free, as
    // a concurrent queue does.
    std::thread([task = std::move(task)]() mutable { task(); }).detach();
}

void dispatchMain(Task task) {
    MainPoster* poster = g_poster.load();
    if (poster)
        poster->post(std::move(task));
    else
        MainLoop::shared().post(std::move(task));
}

void setMainPoster(MainPoster* poster) {
    g_poster.store(poster);
}

MainLoop& MainLoop::shared() {
    // Never destroyed: detached workers may still post while the process exits.
    static MainLoop* loop = new MainLoop;
    return *loop;
}

void MainLoop::post(Task task) {
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_all();
}

void MainLoop::run() {
    for (;;) {
        Task task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_quit || !m_tasks.empty(); });
            if (m_quit) {
                m_quit = false;
                return;
            }
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

void MainLoop::quit() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
}

bool MainLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        Task task;
        {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait_until(lock, deadline, [&] { return !m_tasks.empty(); }))
                return done();
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
    return true;
}

size_t MainLoop::drain() {
    std::deque<Task> tasks;
    {
        std::lock_guard lock(m_mutex);
        tasks.swap(m_tasks);
    }
    for (Task& task : tasks)
        task();
    return tasks.size();
}

} // namespace platform
