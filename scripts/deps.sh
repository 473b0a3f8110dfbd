#!/usr/bin/env bash
# Installs the Debian 12 packages that building and running the client need;
# with --tests also those only the tests and tools use (a UPnP router daemon
# and nftables for the port-forwarding tests, an MP3 encoder, python3 for a
# small web server, clang and its runtime for the fuzzers, a benchmark library,
# and window managers with X tools for the keyboard's tests on real desktops).
# Safe to run again: only what is missing is installed.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-multimedia-dev libqt6svg6
  zlib1g-dev libminiupnpc-dev libxcb1-dev
  xvfb xauth
)
if [ "${1:-}" = --tests ]; then
  packages+=(
    clang libclang-rt-14-dev libbenchmark-dev
    miniupnpd miniupnpd-nftables nftables iproute2 lame python3
    openbox kwin-x11 icewm metacity xfwm4 dbus-bin xdotool x11-utils
  )
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "All ${#packages[@]} Debian packages needed are installed already."
else
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
