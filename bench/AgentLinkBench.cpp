// Agent link benchmarks.
//
// Codec: messages per second of serialize + frame + header read + deserialize,
// against nlohmann::json dump + parse of the same messages (target: at least 5x).
//
// Event latency: a frame written on a real Unix socket until the event handler
// runs on the main queue (event thread read, parse, post, main loop), p50 and
// p99, against a bare socket-pair ping-pong of the same frame measured in the
// same run (targets: p50 within 3x, p99 within 5x).
#include "agentlink/AgentCodec.h"
#include "agentlink/PHAgentClient.h"
#include "platform/Dispatch.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const std::vector<AgentMessage>& sampleMessages() {
    static const std::vector<AgentMessage> messages = {
        {{"Ctrl", "getVersion"}},
        {{"version", "3.2.0"}},
        {{"Event", "Progress"}, {"percentCompleted", 42.5}, {"info", "Copying payload files"}},
        {{"Event", "CommandCompleted"}, {"status", 0}},
        {{"Cmd", "Install"},
         {"InstallerPackage", "/opt/Applications/QvtRSInstaller.app/Contents/InstallerPackage"},
         {"LoggedInUser", 1000}},
    };
    return messages;
}

nlohmann::json toJson(const AgentMessage& message) {
    nlohmann::json object = nlohmann::json::object();
    for (const auto& [key, value] : message) {
        if (value.isText())
            object[key] = *value.text();
        else if (value.isInteger())
            object[key] = *value.integer();
        else if (value.isReal())
            object[key] = *value.real();
    }
    return object;
}

void BM_AgentCodecRoundTrip(benchmark::State& state) {
    const auto& messages = sampleMessages();
    for (auto _ : state) {
        for (const AgentMessage& message : messages) {
            const std::string frame = serializeFrame(message);
            const FrameHeader header = readFrameHeader(frame);
            auto read = deserialize(std::string_view(frame).substr(kFrameHeaderSize, header.bodyLength));
            benchmark::DoNotOptimize(read);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * messages.size()));
}
BENCHMARK(BM_AgentCodecRoundTrip);

void BM_NlohmannJsonRoundTrip(benchmark::State& state) {
    std::vector<nlohmann::json> messages;
    for (const AgentMessage& message : sampleMessages())
        messages.push_back(toJson(message));
    for (auto _ : state) {
        for (const nlohmann::json& message : messages) {
            const std::string text = message.dump();
            auto read = nlohmann::json::parse(text);
            benchmark::DoNotOptimize(read);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * messages.size()));
}
BENCHMARK(BM_NlohmannJsonRoundTrip);

void reportPercentiles(benchmark::State& state, std::vector<double>& samples) {
    if (samples.empty())
        return;
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) {
        return samples[std::min(samples.size() - 1, static_cast<size_t>(q * samples.size()))];
    };
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
}

double microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

const AgentMessage& progressEvent() {
    return sampleMessages()[2];
}

class TimingHandler final : public PHAgentEventHandler {
public:
    bool processAgentEvent(const std::optional<AgentMessage>& message) override {
        benchmark::DoNotOptimize(message);
        arrived.store(Clock::now().time_since_epoch().count());
        count.fetch_add(1);
        return true;
    }
    void processErrorEvent(const ErrorRef&) override {}

    std::atomic<Clock::rep> arrived{0};
    std::atomic<int64_t> count{0};
};

void BM_EventLatency(benchmark::State& state) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        state.SkipWithError("socketpair failed");
        return;
    }
    auto handler = std::make_shared<TimingHandler>();
    auto client = std::make_shared<PHAgentClient>(handler, "Library/LaunchServices/none", false);
    client->protocolHandler()->setConnection(fds[0]);
    client->startEventThread();
    PHProtocolHandler agent(fds[1], false);
    auto& mainLoop = platform::MainLoop::shared();

    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(state.max_iterations));
    int64_t expected = 0;
    for (auto _ : state) {
        ++expected;
        const auto start = Clock::now();
        agent.sendMessage(progressEvent());
        if (!mainLoop.runUntil([&] { return handler->count.load() == expected; }, std::chrono::seconds(5))) {
            state.SkipWithError("event did not arrive");
            break;
        }
        const double latency =
            microseconds(Clock::duration(handler->arrived.load()) - start.time_since_epoch());
        samples.push_back(latency);
        state.SetIterationTime(latency / 1e6);
    }
    reportPercentiles(state, samples);
    client->stopEventThread();
    client->protocolHandler()->closeConnection();
    mainLoop.drain();
}
BENCHMARK(BM_EventLatency)->UseManualTime()->Iterations(20000);

void BM_SocketPairPingPong(benchmark::State& state) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        state.SkipWithError("socketpair failed");
        return;
    }
    const std::string frame = writeFrame(serialize(progressEvent()));
    std::thread echo([&] {
        std::string buffer(frame.size(), '\0');
        while (PHRead(fds[1], buffer.data(), buffer.size()) == 0)
            if (::send(fds[1], buffer.data(), buffer.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(buffer.size()))
                break;
    });
    std::string reply(frame.size(), '\0');
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(state.max_iterations));
    for (auto _ : state) {
        const auto start = Clock::now();
        ::send(fds[0], frame.data(), frame.size(), MSG_NOSIGNAL);
        if (PHRead(fds[0], reply.data(), reply.size()) != 0) {
            state.SkipWithError("echo failed");
            break;
        }
        const double latency = microseconds(Clock::now() - start);
        samples.push_back(latency);
        state.SetIterationTime(latency / 1e6);
    }
    reportPercentiles(state, samples);
    ::shutdown(fds[0], SHUT_RDWR);
    echo.join();
    ::close(fds[0]);
    ::close(fds[1]);
}
BENCHMARK(BM_SocketPairPingPong)->UseManualTime()->Iterations(20000);

} // namespace

BENCHMARK_MAIN();
