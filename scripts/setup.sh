#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (apt), when missing.
# Usage: scripts/setup.sh [armhf|bench]  (bench: the peers of peers_bench)
set -euo pipefail
pkgs=(cmake make g++ gcc pkg-config binutils libgtest-dev googletest libbenchmark-dev)
if [ "${1:-}" = armhf ]; then
  pkgs+=(crossbuild-essential-armhf qemu-user)
fi
if [ "${1:-}" = bench ]; then
  pkgs+=(libabsl-dev libmsgpack-dev libcbor-dev)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
