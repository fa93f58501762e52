#!/usr/bin/env bash
# Builds everything and runs every test: the unit tests of each library, the
# Qt tests on the offscreen platform, the end-to-end tests inside the test
# sandbox, and a bounded run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -j "$(nproc)"
bash scripts/run-fuzzers.sh
