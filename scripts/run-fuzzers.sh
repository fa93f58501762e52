#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in a build folder of their own and runs
# each for a bounded time. Exits non-zero when a build fails or a target finds a
# crash (the input is kept as <build>/tests/fuzz/<target>-crash-*); prints a skip
# line and exits 0 when clang is not installed.
#
#   scripts/run-fuzzers.sh            # 60 seconds per target
#   QVT_FUZZ_SECONDS=10 scripts/run-fuzzers.sh
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
build=${QVT_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${QVT_FUZZ_SECONDS:-60}
targets=(fuzz_deserialize fuzz_frame_header fuzz_manifest)

if ! command -v clang >/dev/null 2>&1 || ! command -v clang++ >/dev/null 2>&1; then
  echo "SKIPPED: fuzzing needs clang, which is not installed"
  exit 0
fi

mkdir -p "$build"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DQVT_BUILD_FUZZ=ON -DQVT_BUILD_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/configure.log" 2>&1 \
  || { cat "$build/configure.log"; echo "FAILED: configuring the fuzz build"; exit 1; }
ninja -C "$build" "${targets[@]}" || { echo "FAILED: building the fuzz targets"; exit 1; }

status=0
for target in "${targets[@]}"; do
  seeds=$root/tests/fuzz/seeds/${target#fuzz_}
  corpus=$build/tests/fuzz/corpus-$target
  mkdir -p "$corpus"
  echo "== $target: ${seconds}s"
  if ! "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$build/tests/fuzz/$target-" -print_final_stats=1 "$corpus" "$seeds"; then
    echo "FAILED: $target found a crash; see $build/tests/fuzz/$target-*"
    status=1
  fi
done
[ $status -eq 0 ] && echo "fuzzing passed: ${targets[*]}"
exit $status
