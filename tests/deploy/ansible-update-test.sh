#!/usr/bin/env bash
# The fleet playbook deploy/ansible/update.yml run for real against this
# machine (ansible-playbook -c local) with the build's installer bundle, inside
# the test sandbox:
#  1. the bundle with the demo package: the host ends ok, the demo service is
#     installed, and the run's log file and progress lines are collected;
#  2. the same when the system asks for a restart: the host is reported as
#     changed with a message and is not restarted;
#  3. a copy whose package was changed after signing: the agent refuses it, the
#     host fails, the installation stays as it was, and the log is collected.
#
#   tests/sandbox tests/deploy/ansible-update-test.sh <build folder>
#
# Exit status 0 passed, 1 failed, 77 skipped (no ansible-playbook, not root in
# the sandbox).
set -u

skip() {
  echo "SKIPPED: $*" >&2
  exit 77
}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: $0 <build folder>}" && pwd) || exit 1
playbook=$source_dir/deploy/ansible/update.yml
bundle=$build/QvtRSInstaller.app

command -v ansible-playbook >/dev/null 2>&1 || skip "ansible-playbook is not installed (Debian: ansible-core)"
[ -x /usr/bin/python3 ] || skip "/usr/bin/python3 is missing"
[ "${QVT_SANDBOX:-}" = "1" ] && [ "$(id -u)" -eq 0 ] || skip "installs for real: runs only as root inside tests/sandbox"
[ -x "$bundle/Contents/MacOS/QvtRSInstaller" ] || { echo "FAIL: no bundle at $bundle" >&2; exit 1; }

# /run is the sandbox's own tmpfs: nothing written below it outlives the test.
scratch=$(mktemp -d /run/qvt-ansible.XXXXXX) || exit 1
mkdir -p "$scratch/home" "$scratch/tmp"
# Ansible reads no configuration and writes nothing outside the scratch folder.
touch "$scratch/ansible.cfg"
export ANSIBLE_CONFIG=$scratch/ansible.cfg HOME=$scratch/home TMPDIR=$scratch/tmp
export ANSIBLE_LOCAL_TEMP=$scratch/tmp/local ANSIBLE_REMOTE_TEMP=$scratch/tmp/remote
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
log_dir=/var/log/com.quorvantis.remote
service=/opt/quorvantis-remote/bin/qvt-remote-service

# Runs the playbook with bundle $1, collecting into $scratch/$2; its output in
# $scratch/$2.out, its exit status in $status.
play() {
  (cd "$scratch" && ansible-playbook -c local -i "localhost," "$playbook" \
    -e "qvt_hosts=all qvt_bundle=$1 qvt_dest=/opt/rollout qvt_timeout=60" \
    -e "qvt_logs=$scratch/$2 qvt_local_tmp=$scratch/tmp" -e ansible_python_interpreter=/usr/bin/python3 \
    >"$scratch/$2.out" 2>&1)
  status=$?
}

# Checks the recap line of the run in $1: ok and failed counts for localhost.
expect_recap() {
  local recap
  recap=$(grep -E '^localhost +:' "$scratch/$1.out")
  [[ $recap =~ ok=([0-9]+).*failed=([0-9]+) ]] || { fail "$1: no play recap"; return; }
  local ok=${BASH_REMATCH[1]} failed=${BASH_REMATCH[2]}
  [ "$ok" -gt 0 ] || fail "$1: nothing ok: $recap"
  [ "$failed" -eq "$2" ] || fail "$1: failed=$failed, expected $2: $recap"
}

# Checks that exactly one log was collected for localhost in $1, that it is
# the newest installer log on the host, byte for byte, and that it holds $2.
# Sets $collected to its path.
expect_collected_log() {
  local newest
  collected=$(find "$scratch/$1/localhost" -name 'QvtRSInstaller_*.txt' 2>/dev/null)
  newest=$(ls "$log_dir"/QvtRSInstaller_*.txt 2>/dev/null | sort | tail -n 1)
  if [ "$(printf '%s' "$collected" | grep -c .)" -ne 1 ]; then
    fail "$1: expected one collected log, found: ${collected:-none}"
    collected=
    return
  fi
  cmp -s "$collected" "$newest" || fail "$1: collected $collected is not the run's log $newest"
  grep -q $'\tLaunched: QvtRSInstaller version: ' "$collected" || fail "$1: no launch line in $collected"
  grep -qF "$2" "$collected" || fail "$1: no \"$2\" in $collected"
}

# The progress lines kept next to log $1: each is one JSON object, and the last
# says the run exited with status $2.
expect_progress() {
  local progress=${1%.txt}.progress.jsonl
  [ -s "$progress" ] || { fail "no progress lines in $progress"; return; }
  /usr/bin/python3 - "$progress" "$2" <<'EOF' || fail "progress lines in $progress"
import json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
assert all(isinstance(event, dict) for event in events), events
assert events[-1].get("phase") == "exit", events[-1]
assert events[-1].get("exitStatus") == int(sys.argv[2]), events[-1]
EOF
}

start=$(date +%s%N)

# 1. The shipped bundle updates the host.
play "$bundle" good
[ "$status" -eq 0 ] || fail "good: ansible-playbook exited $status"
expect_recap good 0
for file in bin/qvt-remote-service etc/service.conf README.txt; do
  [ -f "/opt/quorvantis-remote/$file" ] || fail "good: /opt/quorvantis-remote/$file not installed"
done
[ -f /var/lib/com.quorvantis.remote/receipts/com.quorvantis.remote.service.plist ] || fail "good: no receipt"
[ -x /opt/rollout/QvtRSInstaller.app/Contents/Library/LaunchServices/com.quorvantis.remote.RInstallerAgent ] ||
  fail "good: the copied agent lost its executable bit"
expect_collected_log good '"Event":"CommandCompleted"'
[ -n "$collected" ] && expect_progress "$collected" 0
[ -z "$(ls -A "$scratch/tmp" | grep -v -e '^local$' -e '^remote$')" ] ||
  fail "good: the packed bundle was left on the controller: $(ls "$scratch/tmp")"

# 2. The system asks for a restart: the host is reported changed and stays up.
# The bundle is given through a link, as a site's "current release" often is.
touch /run/reboot-required
ln -s "$bundle" "$scratch/current"
play "$scratch/current/" reboot
rm -f /run/reboot-required
[ "$status" -eq 0 ] || fail "reboot: ansible-playbook exited $status"
expect_recap reboot 0
expect_collected_log reboot '"Event":"CommandCompleted"'
[ -n "$collected" ] && expect_progress "$collected" 10
grep -q "the host needs a reboot to finish (not rebooted" "$scratch/reboot.out" || fail "reboot: not reported"
grep -A1 '^TASK \[Report a reboot' "$scratch/reboot.out" | grep -q '^changed: \[localhost\]' ||
  fail "reboot: the host is not reported changed"

# 3. A bundle whose package changed after signing is refused and fails the host.
# The bundle folder's own name does not matter.
cp -a "$bundle" "$scratch/changed.app"
echo "echo changed after signing" >>"$scratch/changed.app/Contents/InstallerPackage/Payload/bin/qvt-remote-service"
play "$scratch/changed.app" changed
[ "$status" -ne 0 ] || fail "changed: ansible-playbook exited 0"
expect_recap changed 1
grep -q "The headless update exited with status [1-9]" "$scratch/changed.out" || fail "changed: no failure message"
cmp -s "$service" "$bundle/Contents/InstallerPackage/Payload/bin/qvt-remote-service" ||
  fail "changed: the installed service was changed"
expect_collected_log changed "Installation failed with error: "
[ -n "$collected" ] && expect_progress "$collected" 1

end=$(date +%s%N)
echo "three playbook runs took $(((end - start) / 1000000)) ms"

if [ "$failures" -ne 0 ]; then
  for run in good reboot changed; do
    echo "----- ansible-playbook output, $run -----" >&2
    cat "$scratch/$run.out" >&2
  done
  exit 1
fi
exit 0
