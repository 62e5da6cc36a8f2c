#!/usr/bin/env bash
# Measures how reliably fresh processes attach to a region at its fixed
# address: creates a region, runs tests/platform's region_attach_probe N
# times as separate processes (each exec re-rolls the address-space layout),
# counts the failures and removes the region. A runner (e.g. "qemu-arm -L
# /usr/arm-linux-gnueabihf") runs the probe under an emulator.
# Usage: scripts/region-attach.sh PROBE [N] [RUNNER...]
set -euo pipefail
probe=$1
n=${2:-1000}
shift $(( $# >= 2 ? 2 : 1 ))
name=attach.$$
"$@" "$probe" create "$name"
trap '"$@" "$probe" remove "$name" >/dev/null 2>&1 || true' EXIT
taken=0 other=0
for ((i = 0; i < n; i++)); do
  rc=0
  "$@" "$probe" attach "$name" 2>>"${TMPDIR:-/tmp}/region-attach.$$.log" || rc=$?
  case $rc in
    0) ;;
    1) taken=$((taken + 1)) ;;
    *) other=$((other + 1)) ;;
  esac
done
echo "region attach: $n tries, $taken with the range taken, $other other failures"
[ $((taken + other)) -eq 0 ]
