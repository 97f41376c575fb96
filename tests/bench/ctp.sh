#!/usr/bin/env bash
# The CTP upload of a .pk2 to a simulated E camera on loopback, without the dialogue's fixed
# waits, against the stop-and-wait bound (messages times the measured round trip).
# Usage: tests/bench/ctp.sh [MiB]
set -euo pipefail
cd "$(dirname "$0")/../.."
mib=${1:-32}
[ -x build/bin/transfer_tool ] || scripts/build
work=$(mktemp -d /tmp/ipcam-bench-XXXXXX)
sim=""
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
export IPCAM_BROADCAST_ADDR=127.255.255.255 TMPDIR="$work"
head -c $((mib * 1048576 - 64)) /dev/urandom > "$work/payload"
{ printf '\x42\x4e\x45\x47IPCAMSIM version=47.2.9.18\n'; cat "$work/payload"; } > "$work/rootfs.img"
build/bin/ipcam-sim pk2 "$work/fw.pk2" "file:$work/rootfs.img" "cmd:upgrade rootfs.img" > /dev/null
build/bin/ipcam-sim --camera series=E,reboot-ms=100 --seconds 600 > "$work/sim.log" 2>&1 &
sim=$!
for _ in $(seq 100); do grep -q '^ready' "$work/sim.log" && break; sleep 0.1; done
port=$(awk '$1 == "camera" {split($3, a, ":"); print a[2]; exit}' "$work/sim.log")
IPCAM_TIME_SCALE=1 build/bin/transfer_tool ctp "$port" "$work/fw.pk2"
