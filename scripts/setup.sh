#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (apt), when missing.
# Usage: scripts/setup.sh [armhf]
set -euo pipefail
pkgs=(cmake make g++ gcc pkg-config binutils libgtest-dev googletest libbenchmark-dev)
if [ "${1:-}" = armhf ]; then
  pkgs+=(crossbuild-essential-armhf qemu-user)
fi
if [ "${1:-}" = python ]; then
  pkgs+=(python3 python3-venv python3-pip python3-setuptools python3-pytest)
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
