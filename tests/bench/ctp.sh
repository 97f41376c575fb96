#!/usr/bin/env bash
# The CTP upload of a .pk2 to a simulated E camera on loopback, without the dialogue's fixed
# waits, against the stop-and-wait floor measured in the same run: ctp_floor, two processes that
# exchange the same number of DATA-sized messages and answers and do nothing else. Each run times
# both, one right after the other; the median ratio of the runs is the figure.
# Usage: tests/bench/ctp.sh [MiB [runs]]
set -euo pipefail
cd "$(dirname "$0")/../.."
mib=${1:-32}
runs=${2:-5}
[ -x build/bin/transfer_tool ] && [ -x build/bin/ctp_floor ] || scripts/build
work=$(mktemp -d /tmp/ipcam-bench-XXXXXX)
sim=""
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
export IPCAM_BROADCAST_ADDR=127.255.255.255 TMPDIR="$work"
head -c $((mib * 1048576 - 64)) /dev/urandom > "$work/payload"
{ printf '\x42\x4e\x45\x47IPCAMSIM version=47.2.9.18\n'; cat "$work/payload"; } > "$work/rootfs.img"
build/bin/ipcam-sim pk2 "$work/fw.pk2" "file:$work/rootfs.img" "cmd:upgrade rootfs.img" > /dev/null
build/bin/ipcam-sim --camera series=E,reboot-ms=100 --seconds 3600 > "$work/sim.log" 2>&1 &
sim=$!
for _ in $(seq 100); do grep -q '^ready' "$work/sim.log" && break; sleep 0.1; done
port=$(awk '$1 == "camera" {split($3, a, ":"); print a[2]; exit}' "$work/sim.log")
ratios=()
for run in $(seq "$runs"); do
    # The camera reboots after each upload; the next one waits until it answers again.
    for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
    read -r _ secs messages bytes < <(IPCAM_TIME_SCALE=1 build/bin/transfer_tool ctp "$port" "$work/fw.pk2")
    read -r _ floor _ < <(build/bin/ctp_floor "$messages")
    ratio=$(awk -v u="$secs" -v f="$floor" 'BEGIN { printf "%.3f", u / f }')
    ratios+=("$ratio")
    awk -v r="$run" -v u="$secs" -v f="$floor" -v m="$messages" -v b="$bytes" -v q="$ratio" 'BEGIN {
        printf "run %d: upload of %.1f MiB in %d messages %.3f s (%.1f MiB/s, %.1f us a message); floor %.3f s (%.1f us); ratio %s\n",
               r, b / 1048576, m, u, b / 1048576 / u, u / m * 1e6, f, f / m * 1e6, q }'
done
median=$(printf '%s\n' "${ratios[@]}" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
echo "upload / floor, median of $runs runs: $median"
