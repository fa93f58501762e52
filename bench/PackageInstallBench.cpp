// Installation by the agent's package engine against a plain `cp -a` of the
// same payload, in the same run: the demo package (fixed overhead: checks,
// receipt, postinstall script) and a generated package of 1,000 files / 50 MB,
// both signed with the build's key. Also the verified staging copy alone (the
// signature, every digest and the copy into the staging folder). Each
// iteration installs into a fresh folder; removing it is not timed.
#include "agent/package/PackageInstaller.h"
#include "agent/package/PackageManifest.h"
#include "agent/package/PackageStaging.h"
#include "platform/Signature.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

extern char** environ;

namespace {

/// A scratch folder for the whole run, removed at exit.
const std::string& scratch() {
    static const std::string path = [] {
        char pattern[] = "/tmp/qvt-bench.XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made ? made : "/tmp/qvt-bench");
    }();
    static const struct Remover {
        ~Remover() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } remover;
    return path;
}

int run(const std::vector<std::string>& argv);

/// The build's public key, which the packages are signed for.
std::string publicKey() {
    auto key = platform::Signature::readHexFile(QVT_PUBLIC_KEY_FILE, platform::Signature::kPublicKeyBytes);
    return key ? *key : std::string();
}

/// The generated package: 1,000 files of 50 KiB-ish (50 MB in all) in 20 folders.
const std::string& largePackage() {
    static const std::string path = [] {
        const std::string package = scratch() + "/LargePackage";
        fs::create_directories(package + "/Payload");
        std::ofstream(package + "/PackageInfo")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
               "\t<key>identifier</key>\n\t<string>com.quorvantis.bench.large</string>\n"
               "\t<key>version</key>\n\t<string>1.0</string>\n"
               "\t<key>install-location</key>\n\t<string>/opt/large</string>\n</dict>\n</plist>\n";
        std::string block(50 * 1000 * 1000 / 1000, '\0');
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>((i * 2654435761u) >> 13);
        for (int i = 0; i < 1000; ++i) {
            const std::string folder = package + "/Payload/dir" + std::to_string(i % 20);
            fs::create_directories(folder);
            block[0] = static_cast<char>(i);
            std::ofstream(folder + "/file" + std::to_string(i) + ".bin", std::ios::binary) << block;
        }
        if (run({QVT_SIGN_TOOL, "package", package, QVT_SECRET_KEY_FILE}) != 0)
            std::abort(); // without a signed package there is nothing to measure
        return package;
    }();
    return path;
}

int run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, args[0], nullptr, nullptr, args.data(), environ) != 0)
        return -1;
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void freshTarget(const std::string& target) {
    std::error_code ignored;
    fs::remove_all(target, ignored);
    fs::create_directories(target + "/root");
}

void installBench(benchmark::State& state, const std::string& package) {
    const std::string target = scratch() + "/target";
    PackageInstaller::Options options;
    options.installRoot = target + "/root";
    options.dataFolder = target + "/data";
    options.publicKey = publicKey();
    for (auto _ : state) {
        state.PauseTiming();
        freshTarget(target);
        state.ResumeTiming();
        PackageInstaller installer(options);
        const auto result = installer.install(package);
        if (!result.ok()) {
            state.SkipWithError(result.reason().c_str());
            break;
        }
    }
    freshTarget(target);
}

void stageBench(benchmark::State& state, const std::string& package) {
    const std::string target = scratch() + "/target";
    const std::string key = publicKey();
    for (auto _ : state) {
        state.PauseTiming();
        freshTarget(target);
        state.ResumeTiming();
        const auto staged = PackageStaging::stage(package, target + "/staging", key);
        if (!staged) {
            state.SkipWithError(staged.failure().description.c_str());
            break;
        }
    }
    freshTarget(target);
}

void copyBench(benchmark::State& state, const std::string& package) {
    const std::string target = scratch() + "/target";
    for (auto _ : state) {
        state.PauseTiming();
        freshTarget(target);
        state.ResumeTiming();
        if (run({"/bin/cp", "-a", package + "/Payload", target + "/root/payload"}) != 0) {
            state.SkipWithError("cp -a failed");
            break;
        }
    }
    freshTarget(target);
}

void BM_InstallDemoPackage(benchmark::State& state) {
    installBench(state, QVT_DEMO_PACKAGE);
}
void BM_CopyDemoPayload(benchmark::State& state) {
    copyBench(state, QVT_DEMO_PACKAGE);
}
void BM_InstallLargePackage(benchmark::State& state) {
    installBench(state, largePackage());
}
void BM_StageLargePackage(benchmark::State& state) {
    stageBench(state, largePackage());
}
void BM_CopyLargePayload(benchmark::State& state) {
    copyBench(state, largePackage());
}

BENCHMARK(BM_InstallDemoPackage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_CopyDemoPayload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_InstallLargePackage)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5)
    ->Repetitions(3);
BENCHMARK(BM_StageLargePackage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5)->Repetitions(3);
BENCHMARK(BM_CopyLargePayload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5)->Repetitions(3);

} // namespace

BENCHMARK_MAIN();
