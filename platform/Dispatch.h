// The global concurrent queue and the main queue.
//
// dispatchGlobal runs a task on a worker thread. dispatchMain posts a task to
// the main loop without waiting; tasks posted from one thread run in posting
// order. The main loop is Qt's when an application runs (platform_qt installs
// its poster), otherwise the std-only MainLoop below, which serves the agent
// and the tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace platform {

using Task = std::function<void()>;

/// Runs \p task on a worker thread of the global concurrent queue.
void dispatchGlobal(Task task);

/// Posts \p task to the main loop without waiting.
void dispatchMain(Task task);

/// Where dispatchMain posts to. Installed once, on the main thread, before
/// other threads post.
class MainPoster {
public:
    MainPoster() = default;
    MainPoster(const MainPoster&) = delete;
    MainPoster& operator=(const MainPoster&) = delete;
    virtual ~MainPoster() = default;

    virtual void post(Task task) = 0;
};

/// Makes \p poster the target of dispatchMain; null restores the std-only loop.
/// The poster must outlive its installation.
void setMainPoster(MainPoster* poster);

/// The std-only main loop: a queue of tasks run by whichever thread calls run().
class MainLoop final : public MainPoster {
public:
    /// The process-wide loop that dispatchMain uses when no other poster is set.
    static MainLoop& shared();

    MainLoop() = default;

    void post(Task task) override;

    /// Runs tasks until quit() is called.
    void run();
    /// Makes run() return after the task it is running. Safe from any thread.
    void quit();
    /// Runs the tasks that arrive within \p timeout, or until \p done returns
    /// true (checked after each task). Returns the final value of \p done.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    /// Runs every task queued now, then returns how many ran.
    size_t drain();

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Task> m_tasks;
    bool m_quit = false;
};

} // namespace platform
