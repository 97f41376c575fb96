#!/usr/bin/env bash
# Side by side on loopback: the camera upload against curl -F to the same simulated camera, and
# the command-line tool's peak memory over a whole upgrade with small and large images.
# Usage: tests/bench/upload.sh [image MiB]
set -euo pipefail
cd "$(dirname "$0")/../.."
mib=${1:-256}
[ -x build/bin/transfer_tool ] || scripts/build
tool=build/bin/transfer_tool
sim=build/bin/ipcam-sim
cli=build/bin/ipcam-upgrade-cli
work=$(mktemp -d /tmp/ipcam-bench-XXXXXX)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null; rm -rf "$work"' EXIT
export IPCAM_BROADCAST_ADDR=127.255.255.255 IPCAM_TIME_SCALE=0.001 TMPDIR="$work"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY all_proxy

start_sim() {  # log-file args...: starts the simulator and waits for it
  local log=$1
  shift
  "$sim" "$@" --seconds 900 > "$log" 2>&1 &
  pids+=($!)
  for _ in $(seq 600); do grep -q '^ready' "$log" && return 0; sleep 0.1; done
  cat "$log"
  return 1
}

measure() {  # label bytes command...
  local label=$1 bytes=$2 best=999999 rss=0
  shift 2
  for _ in 1 2 3; do
    /usr/bin/time -o "$work/time" -f '%e %M' "$@" >/dev/null 2>&1 || true
    read -r t m < "$work/time" || true
    t=${t##* }
    best=$(awk -v a="$best" -v b="$t" 'BEGIN{print (b<a)?b:a}')
    rss=$m
    sleep 0.3  # the camera reboots after every accepted upload
  done
  best=$(awk -v t="$best" 'BEGIN{print (t<0.01)?0.01:t}')
  printf '%-34s %7.2f s %8.1f MiB/s %7.1f MiB peak\n' "$label" "$best" \
    "$(awk -v s="$bytes" -v t="$best" 'BEGIN{print s/1048576/t}')" "$(awk -v k="$rss" 'BEGIN{print k/1024}')"
}

python3 - "$work/image.bin" "$mib" <<'PY'
import os, sys
with open(sys.argv[1], "wb") as f:
    f.write(b"\x42\x4e\x45\x47IPCAMSIM version=9.9.9.9\n")
    for _ in range(int(sys.argv[2])):
        f.write(os.urandom(1 << 20))
PY
size=$(stat -c %s "$work/image.bin")
start_sim "$work/cam.log" --camera series=H,reboot-ms=100
port=$(awk '$1 == "camera" {split($3, a, ":"); print a[2]; exit}' "$work/cam.log")
url="http://127.0.0.1:$port/cgi-bin/upgrade_htmls.cgi?next_url=reboot.htm"
echo "upload of a $mib MiB image to a simulated H camera"
measure "camera upload (DoUpgrade)" "$size" "$tool" upload "$port" "$work/image.bin"
# Without -H Expect:, curl would wait a second for an interim answer that cameras never send.
measure "curl -F" "$size" curl -s -o /dev/null -u admin:530274 -H "Expect:" \
  -F "file=@$work/image.bin;type=application/x-zip-compressed;headers=\"Content-Transfer-Encoding: binary\"" "$url"
grep -c 'accepted' "$work/cam.log" | xargs echo "uploads the camera accepted:"

for m in 16 "$mib"; do
  start_sim "$work/demo$m.log" --camera series=H,model=H264CAM,reboot-ms=100 --image-size $((m * 1048576))
  fw=$(awk '/^firmware/{print $2}' "$work/demo$m.log")
  hport=$(awk '$1 == "camera" {split($3, a, ":"); print a[2]; exit}' "$work/demo$m.log")
  rm -f "$work"/ipcam-upgrade-*/H-*.bin
  /usr/bin/time -o "$work/time" -f '%e %M' "$cli" upgrade --ip 127.0.0.1 --port "$hport" --series H \
    --firmware system --yes --firmware-server "$fw" > "$work/cli.log" 2>&1 || { cat "$work/cli.log"; }
  read -r t kb < "$work/time"
  printf 'whole CLI upgrade, %4s MiB image:   %7.2f s %7.1f MiB peak (%s)\n' "$m" "$t" "$(awk -v k="$kb" 'BEGIN{print k/1024}')" \
    "$(tail -n1 "$work/cli.log" | cut -d: -f4-)"
done
