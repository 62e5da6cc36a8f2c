#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (apt), when missing.
# Usage: scripts/setup.sh [MODE...]
#   (none)   native build and tests
#   armhf    cross compilers and qemu for the armhf suite
#   s390x    cross compilers and qemu for the big-endian s390x suite
#   bench    the peer libraries of the side-by-side benchmarks
#   python   what the Python package's install and tests need
#   docs     Doxygen and man for the generated reference
#   clang    clang-14 with its sanitizer and libFuzzer runtimes (also: fuzz)
#   valgrind valgrind memcheck
#   package  Debian packaging tools and the ABI checker
#   format   clang-format-14 (scripts/format.sh)
set -euo pipefail
pkgs=(cmake make g++ gcc pkg-config binutils libgtest-dev googletest libbenchmark-dev)
for mode in "$@"; do
  case "$mode" in
    armhf) pkgs+=(crossbuild-essential-armhf qemu-user) ;;
    s390x) pkgs+=(crossbuild-essential-s390x qemu-user) ;;
    bench) pkgs+=(libabsl-dev libmsgpack-dev libcbor-dev) ;;
    python) pkgs+=(python3 python3-venv python3-pip python3-setuptools python3-pytest) ;;
    docs) pkgs+=(doxygen man-db) ;;
    fuzz|clang) pkgs+=(clang-14 libclang-rt-14-dev llvm-14) ;;
    valgrind) pkgs+=(valgrind) ;;
    package) pkgs+=(dpkg-dev fakeroot file lintian abigail-tools) ;;
    format) pkgs+=(clang-format-14) ;;
    *) echo "setup.sh: unknown mode $mode" >&2; exit 2 ;;
  esac
done
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
