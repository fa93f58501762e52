// The protocol handler over real socket pairs: frames in and out, every failure
// closed first and reported once, the log lines that go with them.
#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>

namespace {

/// A handler on one end of a socket pair (or on no connection), with a recorder.
struct Link {
    SocketPair pair;
    std::shared_ptr<DelegateRecorder> delegate = std::make_shared<DelegateRecorder>();
    PHProtocolHandler handler;

    explicit Link(bool trace = false, bool connected = true)
        : handler(connected ? pair.takeLocal() : -1, trace) {
        handler.setDelegate(delegate);
    }
    /// The only report, made after the handler had closed: "closed" or its error as described.
    std::string onlyReport() const {
        const auto reports = delegate->reports();
        for (const auto& report : reports)
            EXPECT_FALSE(report.stillOpen) << "reported before closing";
        return reports.size() != 1 ? "(not one)" : reports[0].closed ? "closed" : describe(reports[0].error);
    }
};

TEST(PHProtocolHandler, NotConnectedSendAndReadReportNotConnectedInIODomain) {
    for (const bool send : {true, false}) {
        Link link(false, false);
        EXPECT_FALSE(send ? link.handler.sendMessage({{"Ctrl", "bye"}})
                          : link.handler.readMessage().has_value());
        EXPECT_EQ(link.onlyReport(), std::string("IO|-102|") + (send ? "Can't send" : "Can't read") +
                                         " message, not connected, error: -102");
    }
    PHProtocolHandler withoutDelegate(-1, false);
    EXPECT_FALSE(withoutDelegate.sendMessage({{"a", 1}}));
    EXPECT_FALSE(withoutDelegate.readMessage());
}

TEST(PHProtocolHandler, ReadsBodiesOfOneAndOf511BytesAndBytesThatAreNoTextAsAnEmptyMessage) {
    Link link(true);
    std::string longText(511 - std::string(R"({"t":""})").size(), 'x');
    ASSERT_TRUE(link.pair.write("F7100001}"));
    ASSERT_TRUE(link.pair.writeMessage({{"t", longText}}));
    ASSERT_TRUE(link.pair.write(writeFrame("{\"a\":\"\xC3\x28\"}")));
    EXPECT_EQ(link.handler.readMessage(), AgentMessage{});
    EXPECT_EQ(link.handler.readMessage(), (AgentMessage{{"t", longText}}));
    EXPECT_EQ(logLines([&] { EXPECT_EQ(link.handler.readMessage(), AgentMessage{}); }),
              std::vector<std::string>{"Received Message: (null)"});
    EXPECT_TRUE(link.handler.isConnected());
    EXPECT_TRUE(link.delegate->reports().empty());
}

TEST(PHProtocolHandler, FailedReadsCloseFirstThenReportOnceWithTheirLogLines) {
    using Lines = std::vector<std::string>;
    const auto size = [](int n) { return "Invalid message size: " + std::to_string(n) + ", error: -101"; };
    const std::string unparsed = "Failed to deserialize message", failed = "delegate: failure: ";
    const std::string io = "IO|-101|", ph = "PH|-101|";
    const std::string badPair = R"(PHProtocolHandler: Invalid key/value pair found: "a" in message: {"a"})";
    const std::string parse = "Failed to parse message: ";
    // What the peer writes after a whole frame before it closes, the report
    // and the log lines with the report's.
    const std::tuple<std::string, std::string, Lines> cases[] = {
        {"", "closed", {"PHProtocolhandler Read failed: 32"}},
        {"F710000A{\"a\"", "closed", {}},
        {"F7100000", io + size(0), {failed + size(0)}},
        {"F7100200", io + size(512), {failed + size(512)}},
        {"hello wo", io + size(0), {failed + size(0)}},
        {writeFrame(R"({"a"})"), ph + unparsed, {badPair, parse + R"({"a"})", failed + unparsed}},
    };
    for (const auto& [bytes, report, log] : cases) {
        SCOPED_TRACE(bytes);
        Link link;
        link.delegate->logReports = true;
        ASSERT_TRUE(link.pair.writeMessage({{"status", 0}}));
        ASSERT_TRUE(bytes.empty() || link.pair.write(bytes));
        link.pair.closePeer();
        EXPECT_EQ(link.handler.readMessage(), (AgentMessage{{"status", 0}}));
        EXPECT_EQ(logLines([&] { EXPECT_FALSE(link.handler.readMessage()); }), log);
        EXPECT_FALSE(link.handler.isConnected());
        EXPECT_EQ(link.onlyReport(), report);
    }
}

TEST(PHProtocolHandler, TraceLinesShowBodiesWithoutWhiteSpaceButValuesKeepIt) {
    Link link(true);
    ASSERT_TRUE(link.pair.write(writeFrame(R"({"info":"a b"})")));
    std::optional<AgentMessage> message;
    EXPECT_EQ(logLines([&] {
                  message = link.handler.readMessage();
                  EXPECT_TRUE(link.handler.sendMessage({{"Ctrl", "bye"}}));
              }),
              (std::vector<std::string>{R"(Received Message: {"info":"ab"})",
                                        R"(Sending Message: {"Ctrl":"bye"})"}));
    ASSERT_TRUE(message);
    EXPECT_EQ(message->text("info"), "a b");
    EXPECT_EQ(link.pair.readAvailable(), R"(F710000E{"Ctrl":"bye"})");
}

TEST(PHProtocolHandler, FailedSendsCloseFirstThenReportOnceWithoutSignal) {
    Link tooLong; // a body the peer cannot read is not sent
    EXPECT_FALSE(tooLong.handler.sendMessage({{"t", std::string(600, 'x')}}));
    EXPECT_EQ(tooLong.onlyReport(), "IO|-101|Invalid message size: 608, error: -101");
    EXPECT_EQ(tooLong.pair.readAvailable(), "");
    EXPECT_FALSE(tooLong.handler.isConnected());

    Link vanished; // SIGPIPE would end the test program
    vanished.pair.closePeer();
    EXPECT_FALSE(vanished.handler.sendMessage({{"Ctrl", "bye"}}));
    EXPECT_EQ(vanished.onlyReport(), "closed");
}

TEST(PHProtocolHandler, ClosesItsOwnDescriptorOnceAndNeverSomeoneElses) {
    Link link;
    link.handler.closeConnection();
    EXPECT_FALSE(link.handler.isConnected());
    EXPECT_EQ(link.handler.conFd(), -1);
    // The number is free again; whoever gets it next must keep it.
    const int reused = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reused, 0);
    link.handler.closeConnection();
    EXPECT_NE(::fcntl(reused, F_GETFD), -1) << "descriptor " << reused << " closed";
    ::close(reused);
    EXPECT_TRUE(link.delegate->reports().empty());

    // Replacing the connection closes the earlier one; the same one again changes nothing.
    SocketPair second, third;
    link.handler.setConnection(second.takeLocal());
    link.handler.setConnection(third.takeLocal());
    char byte;
    EXPECT_EQ(::recv(second.peer(), &byte, 1, 0), 0) << "the earlier connection was left open";
    link.handler.setConnection(link.handler.conFd());
    EXPECT_TRUE(link.handler.isConnected());
    EXPECT_NE(::fcntl(link.handler.conFd(), F_GETFD), -1);
}

// A close releasing a reader blocked on the same handler: the event thread's
// test of destroying its client while the thread reads.

void onSignal(int) {}

TEST(PHProtocolHandler, InterruptedAndPartialWritesAreResumedWithoutReport) {
    // With the socket buffer full, sendMessage blocks while the peer drains it
    // slowly and SIGUSR1 (without SA_RESTART) keeps interrupting the writer.
    struct sigaction action {
    }, previous{};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);

    Link link;
    const int local = link.handler.conFd();
    int small = 4096;
    ::setsockopt(local, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    ::setsockopt(link.pair.peer(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    size_t filler = 0;
    ASSERT_EQ(PHSetNonBlocking(local, true), 0);
    const std::string chunk(256, '#');
    for (ssize_t n; (n = ::send(local, chunk.data(), chunk.size(), MSG_NOSIGNAL)) > 0;)
        filler += static_cast<size_t>(n);
    ASSERT_EQ(PHSetNonBlocking(local, false), 0);

    const AgentMessage message{{"t", std::string(500, 'y')}};
    std::atomic<bool> sent{false}, result{false};
    std::thread writer([&] {
        result = link.handler.sendMessage(message);
        sent = true;
    });
    char buffer[64];
    int signals = 0;
    for (size_t received = 0; received < filler;) {
        if (!sent)
            ::pthread_kill(writer.native_handle(), SIGUSR1), ++signals;
        const ssize_t n = ::recv(link.pair.peer(), buffer, std::min(sizeof buffer, filler - received), 0);
        ASSERT_GT(n, 0);
        received += static_cast<size_t>(n);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    writer.join();
    ::sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_TRUE(result);
    EXPECT_GT(signals, 0);
    EXPECT_TRUE(link.delegate->reports().empty());
    PHProtocolHandler reader(::dup(link.pair.peer()), false);
    EXPECT_EQ(reader.readMessage(), message);
}

// Its broken pipe (32) and time-out (11) show in the log lines of the failed
// reads' table and of the connect table's late agent.
TEST(PHRead, ChecksItsArgumentsAndGathersPieces) {
    char buffer[6];
    EXPECT_EQ(PHRead(-1, buffer, 4), EBADF);
    EXPECT_EQ(PHRead(0, nullptr, 4), EINVAL);
    EXPECT_EQ(PHRead(0, buffer, 0), 0);

    SocketPair pair;
    const int fd = pair.takeLocal();
    std::thread writer([&] {
        pair.write("abc");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pair.write("def");
    });
    EXPECT_EQ(PHRead(fd, buffer, 6), 0);
    writer.join();
    EXPECT_EQ(std::string(buffer, 6), "abcdef");
    ::close(fd);
}

TEST(PHSetNonBlocking, SwitchesModesOnlyWhenAskedForTheOtherAndLogsFailures) {
    SocketPair pair;
    const int fd = pair.takeLocal();
    for (const bool nonBlocking : {true, true, false, false}) {
        EXPECT_EQ(PHSetNonBlocking(fd, nonBlocking), 0);
        EXPECT_EQ((::fcntl(fd, F_GETFL) & O_NONBLOCK) != 0, nonBlocking);
    }
    EXPECT_EQ(PHSetNonBlocking(-3, false), EBADF);
    // The capture's own files are open before the number is closed, so none takes it.
    EXPECT_EQ(logLines([&] {
                  ::close(fd);
                  EXPECT_EQ(PHSetNonBlocking(fd, false), EBADF);
              }),
              std::vector<std::string>{"Failed to set blocking mode: 1 for fd: " + std::to_string(fd) +
                                       ", error: 9"});
}

TEST(PHProtocolHandler, ConcurrentSendersNeverInterleaveFrames) {
    SocketPair pair;
    PHProtocolHandler handler(pair.takeLocal(), false);
    PHProtocolHandler reader(::dup(pair.peer()), false);
    constexpr int kPerThread = 200;
    auto send = [&](const char* who) {
        for (int i = 0; i < kPerThread; ++i)
            handler.sendMessage({{"who", who}, {"n", i}, {"pad", std::string(300, 'p')}});
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
