#!/usr/bin/env bash
# Installs the Debian 12 packages the client, its tests and its tools need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-multimedia-dev libqt6svg6
  zlib1g-dev libminiupnpc-dev
  clang libclang-rt-14-dev libbenchmark-dev
  miniupnpd miniupnpd-nftables nftables iproute2 lame python3 xvfb xauth
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
