// The protocol handler over real socket pairs: frames in and out, every failure
// closed first and reported once, the log lines that go with them.
#include "LinkTestSupport.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>

namespace {

struct Link {
    SocketPair pair;
    std::shared_ptr<DelegateRecorder> delegate = std::make_shared<DelegateRecorder>();
    PHProtocolHandler handler;

    explicit Link(bool trace = false) : handler(pair.takeLocal(), trace) { handler.setDelegate(delegate); }
};

TEST(PHProtocolHandler, SendingWhileNotConnectedReportsNotConnectedInIODomain) {
    auto delegate = std::make_shared<DelegateRecorder>();
    PHProtocolHandler handler(-1, false);
    handler.setDelegate(delegate);
    EXPECT_FALSE(handler.sendMessage({{"Ctrl", "bye"}}));
    const auto reports = delegate->reports();
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_TRUE(reports[0].error);
    EXPECT_EQ(reports[0].error->domain(), "IO");
    EXPECT_EQ(reports[0].error->code(), -102);
    EXPECT_EQ(reports[0].error->reason(), "Can't send message, not connected, error: -102");
}

TEST(PHProtocolHandler, ReadingWhileNotConnectedReportsNotConnected) {
    auto delegate = std::make_shared<DelegateRecorder>();
    PHProtocolHandler handler(-1, false);
    handler.setDelegate(delegate);
    EXPECT_FALSE(handler.readMessage());
    const auto reports = delegate->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].error->reason(), "Can't read message, not connected, error: -102");
}

TEST(PHProtocolHandler, WithoutDelegateFailuresAreSilent) {
    PHProtocolHandler handler(-1, false);
    EXPECT_FALSE(handler.sendMessage({{"a", 1}}));
    EXPECT_FALSE(handler.readMessage());
}

TEST(PHProtocolHandler, FramesTravelBothWaysWithTheirValues) {
    SocketPair pair;
    PHProtocolHandler sender(pair.takeLocal(), false);
    PHProtocolHandler receiver(::dup(pair.peer()), false);
    const AgentMessage message{{"Event", "Progress"}, {"percentCompleted", 42.5}, {"status", -3}};
    ASSERT_TRUE(sender.sendMessage(message));
    ASSERT_TRUE(sender.sendMessage({{"Ctrl", "bye"}}));
    EXPECT_EQ(receiver.readMessage(), message);
    EXPECT_EQ(receiver.readMessage(), (AgentMessage{{"Ctrl", "bye"}}));
}

TEST(PHProtocolHandler, ReadsBodiesOfOneAndOfFiveHundredElevenBytes) {
    Link link;
    std::string longText(511 - std::string(R"({"t":""})").size(), 'x');
    ASSERT_TRUE(link.pair.write("F7100001}"));
    ASSERT_TRUE(link.pair.writeMessage({{"t", longText}}));
    EXPECT_EQ(link.handler.readMessage(), AgentMessage{});
    EXPECT_EQ(link.handler.readMessage(), (AgentMessage{{"t", longText}}));
    EXPECT_TRUE(link.delegate->reports().empty());
}

TEST(PHProtocolHandler, PeerCloseBetweenFramesIsACloseReportNotAFailure) {
    Link link;
    ASSERT_TRUE(link.pair.writeMessage({{"status", 0}}));
    link.pair.closePeer();
    EXPECT_EQ(link.handler.readMessage(), (AgentMessage{{"status", 0}}));
    LogCapture log;
    EXPECT_FALSE(link.handler.readMessage());
    log.restore();
    EXPECT_FALSE(link.handler.isConnected());
    const auto reports = link.delegate->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].closed);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"PHProtocolhandler Read failed: 32"});
    EXPECT_TRUE(link.delegate->closedBeforeEveryReport());
}

TEST(PHProtocolHandler, PeerCloseInsideABodyIsACloseReport) {
    Link link;
    ASSERT_TRUE(link.pair.write("F710000A{\"a\""));
    link.pair.closePeer();
    EXPECT_FALSE(link.handler.readMessage());
    const auto reports = link.delegate->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].closed);
}

struct SizeCase {
    const char* name;
    const char* header;
    const char* reason;
};

class InvalidSizes : public testing::TestWithParam<SizeCase> {};

TEST_P(InvalidSizes, AreReportedOnceAndClose) {
    Link link;
    ASSERT_TRUE(link.pair.write(GetParam().header));
    EXPECT_FALSE(link.handler.readMessage());
    EXPECT_FALSE(link.handler.isConnected());
    const auto reports = link.delegate->reports();
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_TRUE(reports[0].error);
    EXPECT_EQ(reports[0].error->domain(), "IO");
    EXPECT_EQ(reports[0].error->code(), -101);
    EXPECT_EQ(reports[0].error->reason(), GetParam().reason);
    EXPECT_TRUE(link.delegate->closedBeforeEveryReport());
}

INSTANTIATE_TEST_SUITE_P(
    PHProtocolHandler, InvalidSizes,
    testing::Values(SizeCase{"zero", "F7100000", "Invalid message size: 0, error: -101"},
                    SizeCase{"512", "F7100200", "Invalid message size: 512, error: -101"},
                    SizeCase{"600", "F7100258", "Invalid message size: 600, error: -101"},
                    SizeCase{"garbage", "hello wo", "Invalid message size: 0, error: -101"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PHProtocolHandler, BodyThatFailsToParseLogsInOrderAndIsReportedOnce) {
    Link link;
    link.delegate->logReports = true;
    ASSERT_TRUE(link.pair.write(writeFrame(R"({"a"})")));
    LogCapture log;
    EXPECT_FALSE(link.handler.readMessage());
    log.restore();
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               R"(PHProtocolHandler: Invalid key/value pair found: "a" in message: {"a"})",
                               R"(Failed to parse message: {"a"})",
                               "delegate: failure: Failed to deserialize message",
                           }));
    const auto reports = link.delegate->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].error->domain(), "PH");
    EXPECT_EQ(reports[0].error->code(), -101);
    EXPECT_EQ(reports[0].error->reason(), "Failed to deserialize message");
    EXPECT_FALSE(link.handler.isConnected());
}

TEST(PHProtocolHandler, BodyThatIsNotUtf8IsRejectedNotReadAsEmpty) {
    Link link;
    ASSERT_TRUE(link.pair.write(writeFrame("{\"a\":\"\xC3\x28\"}")));
    LogCapture log;
    EXPECT_FALSE(link.handler.readMessage());
    log.restore();
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Failed to parse message: (null)"});
    const auto reports = link.delegate->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].error->domain(), "PH");
    EXPECT_EQ(reports[0].error->code(), -101);
}

TEST(PHProtocolHandler, TraceLinesShowBodiesWithoutWhiteSpaceButValuesKeepIt) {
    Link link(true);
    ASSERT_TRUE(link.pair.write(writeFrame(R"({"info":"a b"})")));
    LogCapture log;
    const auto message = link.handler.readMessage();
    ASSERT_TRUE(link.handler.sendMessage({{"Ctrl", "bye"}}));
    log.restore();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->text("info"), "a b");
    EXPECT_EQ(log.lines(), (std::vector<std::string>{R"(Received Message: {"info":"ab"})",
                                                     R"(Sending Message: {"Ctrl":"bye"})"}));
    EXPECT_EQ(link.pair.readAvailable(), R"(F710000E{"Ctrl":"bye"})");
}

TEST(PHProtocolHandler, RefusesToSendABodyThePeerCannotRead) {
    Link link;
    EXPECT_FALSE(link.handler.sendMessage({{"t", std::string(600, 'x')}}));
    const auto reports = link.delegate->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].error->reason(), "Invalid message size: 608, error: -101");
    EXPECT_EQ(link.pair.readAvailable(), "");
    EXPECT_FALSE(link.handler.isConnected());
}

TEST(PHProtocolHandler, SendingToAVanishedPeerIsACloseReportWithoutSignal) {
    Link link;
    link.pair.closePeer();
    EXPECT_FALSE(link.handler.sendMessage({{"Ctrl", "bye"}}));
    const auto reports = link.delegate->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].closed);
}

TEST(PHProtocolHandler, ClosingTwiceNeverClosesSomeoneElsesDescriptor) {
    Link link;
    const int fd = link.handler.conFd();
    link.handler.closeConnection();
    EXPECT_FALSE(link.handler.isConnected());
    EXPECT_EQ(link.handler.conFd(), -1);
    // The number is free again; whoever gets it next must keep it.
    const int reused = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reused, 0);
    link.handler.closeConnection();
    EXPECT_NE(::fcntl(reused, F_GETFD), -1) << "descriptor " << reused << " (was " << fd << ") closed";
    ::close(reused);
    EXPECT_TRUE(link.delegate->reports().empty());
}

TEST(PHProtocolHandler, ClosingReleasesAReaderBlockedOnTheSameHandler) {
    Link link;
    std::atomic<bool> returned{false};
    std::thread reader([&] {
        EXPECT_FALSE(link.handler.readMessage());
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    link.handler.closeConnection();
    EXPECT_TRUE(waitFor([&] { return returned.load(); }));
    reader.join();
    // The peer learns of the close at once.
    EXPECT_EQ(link.pair.readAvailable(), "");
}

TEST(PHProtocolHandler, ReplacingTheConnectionClosesTheEarlierDescriptor) {
    SocketPair first, second;
    PHProtocolHandler handler(first.takeLocal(), false);
    handler.setConnection(second.takeLocal());
    char byte;
    EXPECT_EQ(::recv(first.peer(), &byte, 1, 0), 0) << "the first connection was left open";
    handler.setConnection(handler.conFd()); // the same descriptor again changes nothing
    EXPECT_TRUE(handler.isConnected());
    EXPECT_NE(::fcntl(handler.conFd(), F_GETFD), -1);
}

void onSignal(int) {}

TEST(PHProtocolHandler, InterruptedAndPartialWritesAreResumedWithoutReport) {
    // A real signal interrupts a real blocked write: the socket buffer is filled
    // first, so sendMessage blocks until the peer drains it slowly, while
    // SIGUSR1 (installed without SA_RESTART) keeps interrupting the writer.
    struct sigaction action {
    }, previous{};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);

    SocketPair pair;
    const int local = pair.takeLocal();
    int small = 4096;
    ::setsockopt(local, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    ::setsockopt(pair.peer(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    PHProtocolHandler handler(local, false);
    auto delegate = std::make_shared<DelegateRecorder>();
    handler.setDelegate(delegate);

    size_t filler = 0;
    ::fcntl(local, F_SETFL, ::fcntl(local, F_GETFL) | O_NONBLOCK);
    const std::string chunk(256, '#');
    for (;;) {
        ssize_t n = ::send(local, chunk.data(), chunk.size(), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        filler += static_cast<size_t>(n);
    }
    ASSERT_EQ(PHSetNonBlocking(local, false), 0);

    const AgentMessage message{{"t", std::string(500, 'y')}};
    std::atomic<bool> sent{false};
    std::atomic<bool> result{false};
    std::thread writer([&] {
        result = handler.sendMessage(message);
        sent = true;
    });
    const pthread_t writerThread = writer.native_handle();

    std::string received;
    char buffer[64];
    int signals = 0;
    while (received.size() < filler) {
        if (!sent)
            ::pthread_kill(writerThread, SIGUSR1), ++signals;
        ssize_t n = ::recv(pair.peer(), buffer, std::min(sizeof buffer, filler - received.size()), 0);
        ASSERT_GT(n, 0);
        received.append(buffer, static_cast<size_t>(n));
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    writer.join();
    ::sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_TRUE(result);
    EXPECT_GT(signals, 0);
    EXPECT_TRUE(delegate->reports().empty());
    PHProtocolHandler reader(::dup(pair.peer()), false);
    EXPECT_EQ(reader.readMessage(), message);
}

struct ReadCase {
    const char* name;
    int fd;
    bool buffer;
    size_t length;
    int expected;
};

class ExactRead : public testing::TestWithParam<ReadCase> {};

TEST_P(ExactRead, ChecksItsArgumentsFirst) {
    char buffer[4];
    EXPECT_EQ(PHRead(GetParam().fd, GetParam().buffer ? buffer : nullptr, GetParam().length),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(PHRead, ExactRead,
                         testing::Values(ReadCase{"negativeDescriptor", -1, true, 4, EBADF},
                                         ReadCase{"noBuffer", 0, false, 4, EINVAL},
                                         ReadCase{"nothingToRead", 0, true, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PHRead, GathersPiecesEndsWithBrokenPipeAndTimesOutWithEAGAIN) {
    SocketPair pair;
    const int fd = pair.takeLocal();
    char buffer[6];
    std::thread writer([&] {
        pair.write("abc");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pair.write("def");
    });
    EXPECT_EQ(PHRead(fd, buffer, 6), 0);
    writer.join();
    EXPECT_EQ(std::string(buffer, 6), "abcdef");

    timeval timeout{0, 50000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    EXPECT_EQ(PHRead(fd, buffer, 1), EAGAIN);
    pair.closePeer();
    EXPECT_EQ(PHRead(fd, buffer, 1), EPIPE);
    ::close(fd);
}

TEST(PHSetNonBlocking, SwitchesModesAndLogsFailures) {
    SocketPair pair;
    const int fd = pair.takeLocal();
    EXPECT_EQ(PHSetNonBlocking(fd, true), 0);
    EXPECT_NE(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(PHSetNonBlocking(fd, true), 0);
    EXPECT_EQ(PHSetNonBlocking(fd, false), 0);
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(PHSetNonBlocking(-3, false), EBADF);

    LogCapture log; // opened first, so it cannot take the number closed below
    ::close(fd);
    EXPECT_EQ(PHSetNonBlocking(fd, false), EBADF);
    log.restore();
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Failed to set blocking mode: 1 for fd: " +
                                                    std::to_string(fd) + ", error: 9"});
}

TEST(PHProtocolHandler, IOExceptionCarriesNameAndReasonWithCode) {
    const PHException e = PHProtocolHandler::createIOException("Failed to connect Unix domain socket", 2);
    EXPECT_EQ(e.name(), "IOException");
    EXPECT_EQ(e.reason(), "Failed to connect Unix domain socket, error: 2");
}

TEST(PHProtocolHandler, ConcurrentSendersNeverInterleaveFrames) {
    SocketPair pair;
    auto handler = std::make_shared<PHProtocolHandler>(pair.takeLocal(), false);
    PHProtocolHandler reader(::dup(pair.peer()), false);
    constexpr int kPerThread = 200;
    auto send = [&](const char* who) {
        for (int i = 0; i < kPerThread; ++i)
            handler->sendMessage({{"who", who}, {"n", i}, {"pad", std::string(300, 'p')}});
    };
    std::thread a(send, "a"), b(send, "b");
    int lastA = -1, lastB = -1;
    for (int i = 0; i < 2 * kPerThread; ++i) {
        const auto message = reader.readMessage();
        ASSERT_TRUE(message) << "frame " << i;
        int& last = message->text("who") == "a" ? lastA : lastB;
        EXPECT_EQ(message->integer("n"), last + 1);
        last = static_cast<int>(*message->integer("n"));
    }
    a.join();
    b.join();
}

} // namespace
