// Appending to the foundation library's growable string and list, against the
// standard string and vector doing the same work.
#include "FType.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

using namespace FSpace;

namespace {

void FMStrAppendCharacter(benchmark::State& state) {
    long const n = state.range(0);
    for (auto _ : state) {
        FMStr<char> s;
        for (long i = 0; i < n; ++i) {
            s << 'x';
        }
        benchmark::DoNotOptimize(static_cast<char const*>(s));
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void StdStringAppendCharacter(benchmark::State& state) {
    long const n = state.range(0);
    for (auto _ : state) {
        std::string s;
        for (long i = 0; i < n; ++i) {
            s += 'x';
        }
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void FMStrAppendWord(benchmark::State& state) {
    long const n = state.range(0);
    for (auto _ : state) {
        FMStr<char> s;
        for (long i = 0; i < n; ++i) {
            s << "word ";
        }
        benchmark::DoNotOptimize(static_cast<char const*>(s));
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void StdStringAppendWord(benchmark::State& state) {
    long const n = state.range(0);
    for (auto _ : state) {
        std::string s;
        for (long i = 0; i < n; ++i) {
            s += "word ";
        }
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void FMStrAppendNumber(benchmark::State& state) {
    long const n = state.range(0);
    for (auto _ : state) {
        FMStr<char> s;
        for (long i = 0; i < n; ++i) {
            s << static_cast<int>(i);
        }
        benchmark::DoNotOptimize(static_cast<char const*>(s));
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void StdStringAppendNumber(benchmark::State& state) {
    long const n = state.range(0);
    for (auto _ : state) {
        std::string s;
        for (long i = 0; i < n; ++i) {
            s += std::to_string(static_cast<int>(i));
        }
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void FListAdd(benchmark::State& state) {
    long const n = state.range(0);
    for (auto _ : state) {
        FList<int> list;
        for (long i = 0; i < n; ++i) {
            list.add(static_cast<int>(i));
        }
        benchmark::DoNotOptimize(&list[0]);
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void StdVectorPushBack(benchmark::State& state) {
    long const n = state.range(0);
    for (auto _ : state) {
        std::vector<int> vector;
        for (long i = 0; i < n; ++i) {
            vector.push_back(static_cast<int>(i));
        }
        benchmark::DoNotOptimize(vector.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}

} // namespace

BENCHMARK(FMStrAppendCharacter)->Arg(64)->Arg(4096);
BENCHMARK(StdStringAppendCharacter)->Arg(64)->Arg(4096);
BENCHMARK(FMStrAppendWord)->Arg(64)->Arg(4096);
BENCHMARK(StdStringAppendWord)->Arg(64)->Arg(4096);
BENCHMARK(FMStrAppendNumber)->Arg(4096);
BENCHMARK(StdStringAppendNumber)->Arg(4096);
BENCHMARK(FListAdd)->Arg(64)->Arg(4096);
BENCHMARK(StdVectorPushBack)->Arg(64)->Arg(4096);

BENCHMARK_MAIN();
