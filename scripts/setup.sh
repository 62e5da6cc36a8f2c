#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (apt), when missing.
# Usage: scripts/setup.sh [armhf|s390x|clang|valgrind]
set -euo pipefail
pkgs=(cmake make g++ gcc pkg-config binutils libgtest-dev googletest libbenchmark-dev)
case "${1:-}" in
  armhf) pkgs+=(crossbuild-essential-armhf qemu-user) ;;
  s390x) pkgs+=(crossbuild-essential-s390x qemu-user) ;;
  clang) pkgs+=(clang-14 libclang-rt-14-dev) ;;
  valgrind) pkgs+=(valgrind) ;;
esac
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
