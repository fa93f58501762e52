// The agent client's event thread over a real socket pair, with the std-only
// main loop standing in for the application's main thread (this test thread).
#include "LinkTestSupport.h"

#include "agentlink/PHAgentClient.h"
#include "platform/Dispatch.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

class PHEventThreadTest : public testing::Test {
protected:
    void SetUp() override {
        platform::MainLoop::shared().drain();
        logLines([&] { // the client logs that this test bundle has no agent
            client = std::make_shared<PHAgentClient>(recorder, "Library/LaunchServices/none", false);
        });
        client->protocolHandler()->setConnection(pair.takeLocal());
    }

    void TearDown() override {
        std::weak_ptr<PHEventThread> thread = client ? client->eventThread() : nullptr;
        client.reset();
        EXPECT_TRUE(waitFor([&] { return thread.expired(); })) << "event thread still running";
        platform::MainLoop::shared().drain();
    }

    /// Runs the main loop for a moment, delivering whatever has been posted.
    void settleMain() {
        platform::MainLoop::shared().runUntil([] { return false; }, 200ms);
    }

    /// Starts the event thread and keeps a handle on it that does not hold it alive.
    void start() {
        client->startEventThread();
        thread = client->eventThread();
    }

    bool threadEnded() {
        return waitFor([&] {
            auto t = thread.lock();
            return !t || t->isFinished();
        });
    }

    /// The agent closes; the thread ends, and nothing is delivered or reported.
    void expectNothingDeliveredAfterTheEnd() {
        pair.closePeer();
        ASSERT_TRUE(threadEnded());
        settleMain();
        EXPECT_TRUE(recorder->events().empty());
        EXPECT_TRUE(recorder->ends().empty()) << "a stopped stream must not be reported";
    }

    SocketPair pair;
    std::shared_ptr<EventRecorder> recorder = std::make_shared<EventRecorder>();
    std::shared_ptr<PHAgentClient> client;
    std::weak_ptr<PHEventThread> thread;
    const std::thread::id mainThread = std::this_thread::get_id();
};

TEST_F(PHEventThreadTest, EventsReachTheMainThreadInTheOrderSent) {
    ASSERT_TRUE(pair.writeMessage({{"Event", "Progress"}, {"percentCompleted", 10.0}, {"info", "one"}}));
    ASSERT_TRUE(pair.writeMessage({{"Event", "Progress"}, {"percentCompleted", 60.0}, {"info", "two"}}));
    ASSERT_TRUE(pair.writeMessage({{"Event", "CommandCompleted"}, {"status", 0}}));
    start();
    ASSERT_TRUE(platform::MainLoop::shared().runUntil([&] { return recorder->events().size() == 3; }, 5s));
    const auto events = recorder->events();
    EXPECT_EQ(events[0].message->text("info"), "one");
    EXPECT_EQ(events[1].message->text("info"), "two");
    EXPECT_EQ(events[2].message->text("Event"), "CommandCompleted");
    for (const auto& event : events)
        EXPECT_EQ(event.thread, mainThread);
    EXPECT_TRUE(recorder->ends().empty());
    EXPECT_TRUE(client->eventThread());
}

/// The agent closes, after a frame too long to read or not. How each read
/// fails: the protocol handler's tests.
class StreamEnds : public PHEventThreadTest, public testing::WithParamInterface<bool> {};

TEST_P(StreamEnds, GiveOneErrorEventOnTheEventThreadAfterTheMessagesBefore) {
    const bool tooLong = GetParam();
    const std::string reason = "Invalid message size: 600, error: -101";
    ASSERT_TRUE(pair.writeMessage({{"Event", "CommandCompleted"}, {"status", 0}}));
    ASSERT_TRUE(pair.write(tooLong ? "F7100258" + std::string(600, 'x') : ""));
    pair.closePeer();
    const auto log = logLines([&] {
        start();
        EXPECT_TRUE(waitFor([&] { return !recorder->ends().empty(); }));
        EXPECT_TRUE(threadEnded());
    });
    const std::vector<std::string> closed{"PHProtocolhandler Read failed: 32",
                                          "PrivilegedAgent event connection closed by peer"};
    EXPECT_EQ(log, tooLong ? std::vector<std::string>{"PH connection failed, reason: " + reason} : closed);
    settleMain();
    const auto ends = recorder->ends();
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_NE(ends[0].thread, mainThread);
    EXPECT_EQ(describe(ends[0].error), tooLong ? "IO|-101|" + reason : "(none)");
    // The message before the end arrives, though the main loop ran only after
    // the client had dropped its handler; the failed read gives no event.
    ASSERT_EQ(recorder->events().size(), 1u);
    EXPECT_EQ(recorder->events()[0].message->integer("status"), 0);
    EXPECT_EQ(client->eventThread(), nullptr);
    EXPECT_EQ(client->myEventHandler(), nullptr);
    EXPECT_FALSE(client->protocolHandler()->isConnected());
}

INSTANTIATE_TEST_SUITE_P(PHEventThread, StreamEnds, testing::Bool());

TEST_F(PHEventThreadTest, ReadingWhileTheThreadRunsRaisesInvalidState) {
    start();
    try {
        client->readMessage();
        FAIL() << "no exception";
    } catch (const PHException& e) {
        EXPECT_EQ(e.name(), "PHAgentClientInvalidState");
        EXPECT_EQ(e.reason(), "Cannot invoke readMessage while eventThread is running");
    }
    client->stopEventThread();
    client->protocolHandler()->closeConnection(); // also ends the stopped thread's pending read
    std::optional<AgentMessage> message;
    EXPECT_NO_THROW(message = client->readMessage());
    EXPECT_FALSE(message);
}

TEST_F(PHEventThreadTest, AfterStopNeitherAPostedMessageNorOneStillBeingReadIsDelivered) {
    start();
    ASSERT_TRUE(pair.writeMessage({{"Event", "Progress"}}));
    std::this_thread::sleep_for(100ms); // read and posted, not yet run: the main loop is idle
    ASSERT_TRUE(pair.write("F7100011"));
    std::this_thread::sleep_for(50ms); // the thread waits for the body now
    client->stopEventThread();         // the client lets go of the thread object
    EXPECT_FALSE(thread.expired()) << "the blocked body still needs it";
    ASSERT_TRUE(pair.write(R"({"Event":"late"})"));
    expectNothingDeliveredAfterTheEnd();
    EXPECT_TRUE(waitFor([&] { return thread.expired(); }));
}

TEST_F(PHEventThreadTest, DestroyingTheClientWhileItsThreadIsBlockedInAReadIsSafe) {
    start();
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(client->eventThread()->isExecuting());
    client.reset();
    EXPECT_TRUE(waitFor([&] { return thread.expired(); }));
    EXPECT_EQ(pair.readAvailable(), "") << "the agent sees the connection closed";
    settleMain();
    EXPECT_TRUE(recorder->events().empty());
    EXPECT_TRUE(recorder->ends().empty());
}

TEST_F(PHEventThreadTest, FailedSendOnAnotherThreadAndTheReaderReportTheEndOnce) {
    // Both threads notice the close at about the same time; only one may report it.
    logLines([&] {
        start();
        std::thread sender([&] {
            for (int i = 0; i < 1000 && client->sendMessage({{"Cmd", "Reboot"}}); ++i) {
            }
        });
        std::this_thread::sleep_for(5ms);
        pair.closePeer();
        sender.join();
        EXPECT_TRUE(threadEnded());
    });
    EXPECT_EQ(recorder->ends().size(), 1u);
    EXPECT_EQ(client->eventThread(), nullptr);
}

TEST_F(PHEventThreadTest, AThreadReplacedWithoutStopEndsWithTheConnection) {
    start();
    const std::weak_ptr<PHEventThread> first = thread;
    client->startEventThread(); // replaces the first thread object, which keeps reading
    thread = client->eventThread();
    logLines([&] {
        pair.closePeer();
        EXPECT_TRUE(waitFor([&] { return first.expired(); })) << "the replaced thread did not end";
        EXPECT_TRUE(threadEnded());
    });
    EXPECT_EQ(recorder->ends().size(), 1u);
}

TEST_F(PHEventThreadTest, TerminatingSaysByeStopsTheThreadAndCloses) {
    start();
    client->terminatePrivilegedAgent();
    EXPECT_EQ(pair.readAvailable(), R"(F710000E{"Ctrl":"bye"})");
    EXPECT_FALSE(client->protocolHandler()->isConnected());
    EXPECT_EQ(client->eventThread(), nullptr);
    expectNothingDeliveredAfterTheEnd();
}

} // namespace
