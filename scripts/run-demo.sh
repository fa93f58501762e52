#!/usr/bin/env bash
# Builds the bundles and runs the installer's main job on the bundled demo
# package inside the test sandbox, so the real system is never touched: the
# window where a display exists, the headless automatic update otherwise.
# Afterwards it shows what was installed; everything disappears with the sandbox.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [ "${QVT_SANDBOX:-}" != "1" ]; then
  bash scripts/install-deps.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j "$(nproc)" --target bundle_QvtRSInstaller bundle_QvtRSUninstaller
  exec tests/sandbox "$0" "$@"
fi

installer=build/QvtRSInstaller.app/Contents/MacOS/QvtRSInstaller
set +e
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "== Starting the installer window (inside the test sandbox)"
  "$installer" "$@"
else
  echo "== No display: running the headless automatic update (inside the test sandbox)"
  "$installer" -gui NO "$@"
fi
status=$?
set -e
echo "== The installer exited with status $status."
# One log file per start: the installer's and the agent's (the lines above are
# the installer's echo of its own file on standard error).
echo "== Log files in /var/log/com.quorvantis.remote:"
ls -l /var/log/com.quorvantis.remote 2>/dev/null || echo "(none)"
if [ -d /opt/quorvantis-remote ]; then
  echo "== Installed below /opt/quorvantis-remote:"
  find /opt/quorvantis-remote -type f | sort
  /opt/quorvantis-remote/bin/qvt-remote-service --status || true
  echo "== Receipts: $(ls /var/lib/com.quorvantis.remote/receipts 2>/dev/null)"
fi
exit $status
