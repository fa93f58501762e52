#include "platform/Dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

TEST(MainQueue, TasksPostedFromAnotherThreadRunLaterOnTheLoopThreadInPostingOrder) {
    platform::MainLoop& loop = platform::MainLoop::shared();
    loop.drain();
    std::vector<int> order;
    std::thread::id ranOn;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i)
            platform::dispatchMain([&order, i] { order.push_back(i); });
        platform::dispatchMain([&] { ranOn = std::this_thread::get_id(); });
    });
    poster.join();
    EXPECT_TRUE(order.empty()) << "a posted task never runs inline";
    EXPECT_EQ(loop.drain(), 101u);
    std::vector<int> expected(100);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
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
