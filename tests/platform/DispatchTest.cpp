#include "platform/Dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

TEST(MainQueue, TasksPostedFromOneThreadRunInPostingOrderOnTheLoopThread) {
    platform::MainLoop loop;
    std::vector<int> order;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i)
            loop.post([&order, i] { order.push_back(i); });
    });
    const auto loopThread = std::this_thread::get_id();
    bool ranOnLoopThread = false;
    poster.join();
    loop.post([&] { ranOnLoopThread = std::this_thread::get_id() == loopThread; });
    EXPECT_TRUE(loop.runUntil([&] { return order.size() == 100 && ranOnLoopThread; }, 5s));
    std::vector<int> expected(100);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
}

TEST(MainQueue, DispatchMainPostsWithoutRunningTheTaskInline) {
    platform::MainLoop::shared().drain();
    bool ran = false;
    platform::dispatchMain([&] { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_EQ(platform::MainLoop::shared().drain(), 1u);
    EXPECT_TRUE(ran);
}

TEST(MainQueue, QuitFromAnotherThreadEndsRun) {
    platform::MainLoop loop;
    int ran = 0;
    loop.post([&] { ++ran; });
    std::thread quitter([&] {
        std::this_thread::sleep_for(20ms);
        loop.quit();
    });
    loop.run();
    quitter.join();
    EXPECT_EQ(ran, 1);
}

TEST(GlobalQueue, RunsTasksOnAnotherThread) {
    std::atomic<bool> done{false};
    std::thread::id worker;
    platform::dispatchGlobal([&] {
        worker = std::this_thread::get_id();
        platform::dispatchMain([&] { done = true; });
    });
    EXPECT_TRUE(platform::MainLoop::shared().runUntil([&] { return done.load(); }, 5s));
    EXPECT_NE(worker, std::this_thread::get_id());
}
