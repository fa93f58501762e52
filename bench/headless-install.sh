#!/usr/bin/env bash
# Wall time of a whole headless installation (start, agent installation or
# connection, package installation, exit) against `cp -a` of the same payload,
# in the same run: the demo package, and a generated package of 1,000 files
# and 50 MB. Runs inside the test sandbox, so nothing reaches the real system.
#
#   bench/headless-install.sh [build folder]     (default: build)
#
# Targets, each against `cp -a` of the same payload in the same run: the demo
# package's run at most 60 ms over its copy; the large package's run at most
# 1.5 times its copy. The figures are medians of QVT_BENCH_ROUNDS rounds
# (default 5), with the fastest round beside them: on a shared machine the
# fastest shows what the installation costs, the median what it costs there.
#
# QVT_BENCH_DISK=<folder> compares on a disk: that folder is mounted over
# /var/lib in the sandbox, and the large package is installed into
# /var/lib/quorvantis-remote and copied into /var/lib/copy. The agent's data
# folder (where it stages the verified copy of a package) and the installation
# then share one mount, as /opt and /var/lib share the root file system on most
# machines, so staged files are placed by hard links rather than copied again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
if [ "${QVT_SANDBOX:-}" != "1" ]; then
  exec "$root/tests/sandbox" "$0" "$build"
fi

rounds=${QVT_BENCH_ROUNDS:-5}
demo_overhead_target=60 large_ratio_target=1.5
label=com.quorvantis.remote.RInstallerAgent
work=/opt/bench
mkdir -p "$work"

now() { date +%s%N; }
# Milliseconds taken by the command.
millis() {
  local start end
  start=$(now)
  "$@" >/dev/null 2>&1 || { echo "FAILED: $*" >&2; exit 1; }
  end=$(now)
  echo $(( (end - start) / 1000000 ))
}
# Each timed step starts with nothing left to write back: a run's syncfs would
# otherwise also write out what the step before it left behind (on a disk,
# 50 MB that cp -a left unwritten), and the figures grew round by round.
settle() { sync; }
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
fastest() { printf '%s\n' "$@" | sort -n | head -n 1; }
# "met" when the condition holds, "NOT met" otherwise.
verdict() { if awk "BEGIN { exit !($1) }"; then echo met; else echo "NOT met"; fi; }
data=/var/lib/com.quorvantis.remote
forget_installation() {
  rm -rf /opt/quorvantis-remote
  # The contents only: on a disk the folder is a mount point.
  mkdir -p "$data" && find "$data" -mindepth 1 -delete
  [ -z "${QVT_BENCH_DISK:-}" ] || rm -rf /var/lib/quorvantis-remote
}
headless() { env -u DISPLAY -u WAYLAND_DISPLAY "$1/Contents/MacOS/QvtRSInstaller" -gui NO; }

demo=$work/demo/QvtRSInstaller.app
mkdir -p "$work/demo" && cp -a "$build/QvtRSInstaller.app" "$demo"

large=$work/large/QvtRSInstaller.app
mkdir -p "$work/large" && cp -a "$build/QvtRSInstaller.app" "$large"
payload=$large/Contents/InstallerPackage/Payload
copies=$work
if [ -n "${QVT_BENCH_DISK:-}" ]; then
  mkdir -p "$QVT_BENCH_DISK"
  mount --bind "$QVT_BENCH_DISK" /var/lib
  mkdir -p "$data"
  copies=/var/lib
  sed -i "s|<string>/opt/quorvantis-remote</string>|<string>/var/lib/quorvantis-remote</string>|" \
    "$large/Contents/InstallerPackage/PackageInfo"
fi
for i in $(seq -w 1 1000); do
  dir=$payload/data/$(( 10#$i % 20 ))
  mkdir -p "$dir"
  head -c 52429 /dev/urandom > "$dir/file-$i.bin"
done
echo "generated payload: $(find "$payload" -type f | wc -l) files, $(du -sm "$payload" | cut -f1) MB"
# Signed like the shipped package, with the build's key.
"$build/tools/qvt-sign" package "$large/Contents/InstallerPackage" "$build/signing/secret.key"

# The first run also installs the agent; later runs find it running at the
# shipped version and keep it.
forget_installation && settle
first=$(millis headless "$demo")
echo "demo package, first run (installs the agent too): ${first} ms"

# The installation makes what it wrote durable (syncfs) before it reports
# success; `cp -a` leaves it in the page cache. The durable copy is shown
# beside the targets, for what a copy that survives a power cut costs.
durable_copy() { cp -a "$1" "$2" && sync -f "$2"; }

demo_runs=() demo_copies=() large_runs=() large_copies=() large_durable=()
for _ in $(seq $rounds); do
  forget_installation && settle
  demo_runs+=("$(millis headless "$demo")")
  rm -rf "$work/copy" && settle
  demo_copies+=("$(millis cp -a "$demo/Contents/InstallerPackage/Payload" "$work/copy")")
  forget_installation && settle
  large_runs+=("$(millis headless "$large")")
  rm -rf "$copies/copy" && settle
  large_copies+=("$(millis cp -a "$payload" "$copies/copy")")
  rm -rf "$copies/copy" && settle
  large_durable+=("$(millis durable_copy "$payload" "$copies/copy")")
done
sync

d=$(median "${demo_runs[@]}") dc=$(median "${demo_copies[@]}")
l=$(median "${large_runs[@]}") lc=$(median "${large_copies[@]}") ld=$(median "${large_durable[@]}")
df=$(fastest "${demo_runs[@]}") dcf=$(fastest "${demo_copies[@]}")
lf=$(fastest "${large_runs[@]}") lcf=$(fastest "${large_copies[@]}")
ratio() { awk "BEGIN { printf \"%.2f\", $1 / ($2 > 0 ? $2 : 1) }"; }
echo "where: $([ -n "${QVT_BENCH_DISK:-}" ] && echo "large package on disk, $QVT_BENCH_DISK" || echo tmpfs), $rounds rounds"
echo "demo package:  headless run ${d} ms, cp -a ${dc} ms, overhead $(( d - dc )) ms" \
     "(target at most ${demo_overhead_target} ms: $(verdict "$d - $dc <= $demo_overhead_target"));" \
     "fastest ${df} ms vs ${dcf} ms, overhead $(( df - dcf )) ms"
echo "large package: headless run ${l} ms, cp -a ${lc} ms, ratio $(ratio "$l" "$lc")x" \
     "(target at most ${large_ratio_target}x: $(verdict "$l <= $large_ratio_target * $lc"));" \
     "fastest ${lf} ms vs ${lcf} ms, ratio $(ratio "$lf" "$lcf")x"
echo "large package against a durable copy (cp -a, then syncfs): ${ld} ms, ratio $(ratio "$l" "$ld")x"
# A run that copies at cp's speed cannot install the large package faster
# than its fixed cost (the demo package's overhead: start, agent check,
# scripts, exit) plus one copy of the payload, even if it verified nothing:
# shown against the target, so that a target below it shows as such.
floor=$(( d - dc + lc ))
echo "large package floor (demo overhead + one cp -a, nothing verified): ${floor} ms," \
     "ratio $(ratio "$floor" "$lc")x"
# Where the agent spent the last large run, from its log's timestamps (the
# last update in the log is the last round's large package).
agent_log=/var/log/$label.log
millis_of() { awk -F'[T:]' '{ printf "%d\n", ($2 * 3600 + $3 * 60 + $4) * 1000 }' <<<"$1"; }
last_run=$(awk '/PackageInstaller: Update of /{ block = "" } { block = block $0 "\n" } END { printf "%s", block }' "$agent_log")
at() { local line; line=$(grep -m1 "$1" <<<"$last_run") || return 1; millis_of "${line%% *}"; }
if start=$(at "PackageInstaller: Update of") && verified=$(at "contents are verified") &&
   scripts=$(at "running .*postinstall") && ended=$(at "PackageInstaller: Update completed"); then
  echo "agent, last large run: staging and verifying $(( verified - start )) ms," \
       "placing files $(( scripts - verified )) ms, postinstall to completion $(( ended - scripts )) ms"
fi
[ -z "${QVT_BENCH_DISK:-}" ] || { umount /var/lib; rm -rf "$QVT_BENCH_DISK"; }
echo "rounds: demo ${demo_runs[*]} / ${demo_copies[*]}; large ${large_runs[*]} / ${large_copies[*]}" \
     "/ ${large_durable[*]}"
