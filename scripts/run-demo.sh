#!/usr/bin/env bash
# Builds the bundles and runs the installer's main job on the bundled demo
# package inside the test sandbox, so the real system is never touched: the
# window where a display exists, the headless automatic update otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target bundle_QvtRSInstaller bundle_QvtRSUninstaller

installer=build/QvtRSInstaller.app/Contents/MacOS/QvtRSInstaller
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Starting the installer window (inside the test sandbox)..."
  set +e
  tests/sandbox "$installer" "$@"
else
  echo "No display: running the headless automatic update (inside the test sandbox)..."
  set +e
  tests/sandbox "$installer" -gui NO "$@"
fi
status=$?
echo "The installer exited with status $status."
exit $status
