#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need.
# Idempotent: when every package and the locale are already present it prints nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  libplist-dev libelf-dev libpam0g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libspdlog-dev
  # Package and agent signatures: Ed25519 from libsodium, SHA-256 from OpenSSL.
  libsodium-dev libssl-dev
  clang libclang-rt-14-dev
  # Elevation for real: pkexec asks polkitd on the system bus; the tests start
  # both in the sandbox. systemd brings systemctl (the tests mount a stand-in
  # over it) and systemd-analyze, which checks the unit the service manager writes.
  pkexec polkitd dbus-daemon dbus-bin dbus-system-bus-common systemd
  # The test sandbox needs unshare and mount (util-linux, mount) and overlay mounts.
  util-linux mount
  # Offscreen Qt needs fonts to render readable screenshots.
  fonts-dejavu-core
  # The fleet playbook's test runs it with ansible-playbook against the sandbox.
  ansible-core
  # The wire codec's test writes and reads numbers under a decimal-comma locale.
  locales
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if ! locale -a 2>/dev/null | grep -qx 'de_DE.utf8'; then
  echo "Generating the locale de_DE.UTF-8"
  $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
