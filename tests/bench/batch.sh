#!/usr/bin/env bash
# A fleet on loopback: N simulated cameras of every series upgraded by one batch run with
# --jobs 1 and with --jobs J, each against fresh cameras and an empty image cache. Prints the
# times, their ratio to the ideal (serial time / J), the package downloads and the peak memory.
# Usage: tests/bench/batch.sh [cameras] [jobs] [time scale]
set -euo pipefail
cd "$(dirname "$0")/../.."
n=${1:-100} jobs=${2:-16} scale=${3:-0.01}
[ -x build/bin/ipcam-upgrade-cli ] || scripts/build
sim=build/bin/ipcam-sim
cli=build/bin/ipcam-upgrade-cli
work=$(mktemp -d /tmp/ipcam-bench-XXXXXX)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null; rm -rf "$work"' EXIT
export IPCAM_BROADCAST_ADDR=127.255.255.255 IPCAM_TIME_SCALE=$scale LANG=C
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY all_proxy

run() {  # jobs: prints "seconds peak-KiB downloads distinct-packages upgraded"
  local j=$1 dir=$work/jobs-$1
  mkdir -p "$dir/tmp"
  TMPDIR=$dir/tmp "$sim" --cameras "$n" --seconds 1800 > "$dir/sim.log" 2>&1 &
  local pid=$!
  pids+=($pid)
  for _ in $(seq 600); do grep -q '^ready' "$dir/sim.log" && break; sleep 0.1; done
  local firmware
  firmware=$(awk '/^firmware /{print $2}' "$dir/sim.log")
  { echo "ip,port,series"; awk '/^camera /{split($3, a, ":"); print a[1] "," a[2] "," $2}' "$dir/sim.log"; } \
    > "$dir/cameras.csv"
  TMPDIR=$dir/tmp /usr/bin/time -o "$dir/time" -f '%e %M' \
    "$cli" batch --cameras "$dir/cameras.csv" --jobs "$j" --firmware both --json --lang en \
    --firmware-server "$firmware" > "$dir/out.json" || true
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  read -r secs kib < "$dir/time"
  local downloads distinct upgraded
  downloads=$(grep -c 'firmware GET .*\.zip 200' "$dir/sim.log" || true)
  distinct=$(grep 'firmware GET .*\.zip 200' "$dir/sim.log" | sort -u | wc -l)
  upgraded=$(tail -1 "$dir/out.json" | sed 's/.*"upgraded": \([0-9]*\).*/\1/')
  echo "$secs $kib $downloads $distinct $upgraded"
}

read -r s1 m1 d1 p1 u1 < <(run 1)
read -r sj mj dj pj uj < <(run "$jobs")
printf 'cameras %d, sessions %d, time scale %s\n' "$n" $((n * 2)) "$scale"
printf '%-10s %9s %12s %10s %9s %9s\n' jobs seconds "peak MiB" downloads packages upgraded
printf '%-10s %9.2f %12.1f %10d %9d %9d\n' 1 "$s1" "$(awk -v k="$m1" 'BEGIN{print k/1024}')" "$d1" "$p1" "$u1"
printf '%-10s %9.2f %12.1f %10d %9d %9d\n' "$jobs" "$sj" "$(awk -v k="$mj" 'BEGIN{print k/1024}')" "$dj" "$pj" "$uj"
awk -v a="$s1" -v b="$sj" -v j="$jobs" \
  'BEGIN{printf "%d jobs took %.2f x the serial time / %d (goal: at most 1.2)\n", j, b / (a / j), j}'
