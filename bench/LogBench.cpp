// Log lines per second into a file: the logging facade (CNSLog into the
// attached log file, one flush per line), spdlog's synchronous file logger with
// a flush after every message and the same line layout, and a bare write(2) of
// a finished line, each with one and with two threads.
//
// Every variant writes into its own file in a fresh folder below $TMPDIR (or
// /var/tmp), so the figures are those of the disk behind it. The debug echo to
// standard error is off: only the file is measured.
#include "CNSLog.h"

#include <benchmark/benchmark.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// A typical line of the installer's log.
constexpr char kMessage[] =
    "Received Message: {\"Event\":\"Progress\",\"Percent\":42,\"Info\":\"Copying files\"}";

std::string const& benchFolder() {
    static std::string const folder = [] {
        char const* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/var/tmp") + "/qvt-logbench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        std::fprintf(stderr, "log files in %s\n", pattern.c_str());
        return pattern;
    }();
    return folder;
}

void CNSLogIntoFile(benchmark::State& state) {
    if (state.thread_index() == 0) {
        static bool const attached = [] {
            CNSInitLog(CNSLogFlagNewFile, 0, "LogBench", benchFolder().c_str());
            return true;
        }();
        benchmark::DoNotOptimize(attached);
    }
    for (auto _ : state) {
        CNSLog("%s", kMessage);
    }
    state.SetItemsProcessed(state.iterations());
}

void SpdlogSyncFileFlushEveryLine(benchmark::State& state) {
    static std::shared_ptr<spdlog::logger> const logger = [] {
        auto made = spdlog::basic_logger_mt("bench", benchFolder() + "/spdlog.txt");
        // The same layout as the facade's file lines: UTC time with
        // milliseconds, the kernel thread id, a tab, the text.
        made->set_pattern("%Y-%m-%dT%H:%M:%S.%e Thread[%t]:\t%v", spdlog::pattern_time_type::utc);
        made->flush_on(spdlog::level::trace);
        return made;
    }();
    for (auto _ : state) {
        logger->info("{}", kMessage);
    }
    state.SetItemsProcessed(state.iterations());
}

void BareWritePerLine(benchmark::State& state) {
    static int const fd = ::open((benchFolder() + "/write.txt").c_str(),
                                 O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
    std::string const line = "2026-12-05T14:42:08.123 Thread[1a03]:\t" + std::string(kMessage) + "\n";
    for (auto _ : state) {
        if (::write(fd, line.data(), line.size()) < 0) {
            state.SkipWithError(std::strerror(errno));
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(CNSLogIntoFile)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(SpdlogSyncFileFlushEveryLine)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BareWritePerLine)->Threads(1)->Threads(2)->UseRealTime();

BENCHMARK_MAIN();
