#!/usr/bin/env bash
# Side by side on loopback: the ONVIF upgrade of a standard camera (the request for an upload
# address, then the image as one POST) against curl --data-binary to an address the same camera
# named, and the command-line tool's peak memory over a whole ONVIF upgrade from a local image.
# Usage: tests/bench/onvif.sh [image MiB]   (run it inside `unshare -n` where you can)
set -euo pipefail
cd "$(dirname "$0")/../.."
mib=${1:-64}
[ -x build/bin/transfer_tool ] || scripts/build
tool=build/bin/transfer_tool
sim=build/bin/ipcam-sim
cli=build/bin/ipcam-upgrade-cli
work=$(mktemp -d /tmp/ipcam-bench-XXXXXX)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null; rm -rf "$work"' EXIT
export IPCAM_BROADCAST_ADDR=127.255.255.255 IPCAM_TIME_SCALE=0.001 TMPDIR="$work"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY all_proxy

python3 - "$work/image.bin" "$mib" <<'PY'
import os, sys
with open(sys.argv[1], "wb") as f:
    f.write(b"\x42\x4e\x45\x47IPCAMSIM version=9.9.9.9\n")
    for _ in range(int(sys.argv[2])):
        f.write(os.urandom(1 << 20))
PY
size=$(stat -c %s "$work/image.bin")
"$sim" --camera series=onvif,reboot-ms=100,delay-ms=0 --seconds 900 > "$work/cam.log" 2>&1 &
pids+=($!)
for _ in $(seq 600); do grep -q '^ready' "$work/cam.log" && break; sleep 0.1; done
port=$(awk '$1 == "camera" && $2 == "ONVIF" {split($3, a, ":"); print a[2]; exit}' "$work/cam.log")

row() {  # label seconds kib
  printf '%-44s %7.2f s %8.1f MiB/s %7.1f MiB peak\n' "$1" "$2" "$(awk -v s="$size" -v t="$2" 'BEGIN{print s/1048576/(t<0.01?0.01:t)}')" \
    "$(awk -v k="$3" 'BEGIN{print k/1024}')"
}
best_ours=999 best_curl=999
echo "ONVIF upgrade of a $mib MiB image to a simulated standard camera (best of 3)"
for _ in 1 2 3; do
  /usr/bin/time -o "$work/t" -f '%e %M' "$tool" onvif "$port" "$work/image.bin" || { cat "$work/cam.log"; exit 1; }
  read -r t m < "$work/t"; best_ours=$(awk -v a="$best_ours" -v b="$t" 'BEGIN{print (b<a)?b:a}'); ours_m=$m
  sleep 0.5 # the camera reboots
  uri=$("$tool" onvif-uri "$port")
  /usr/bin/time -o "$work/t" -f '%e %M' curl -s -o /dev/null -H "Expect:" -H "Content-Type: application/octet-stream" \
    --data-binary "@$work/image.bin" "$uri"
  read -r t m < "$work/t"; best_curl=$(awk -v a="$best_curl" -v b="$t" 'BEGIN{print (b<a)?b:a}'); curl_m=$m
  sleep 0.5
done
row "ours: login, request, upload (transfer_tool)" "$best_ours" "$ours_m"
row "curl --data-binary to the named address" "$best_curl" "$curl_m"
awk -v a="$best_ours" -v b="$best_curl" 'BEGIN{printf "ratio ours/curl: %.2f (goal: at most 1.10)\n", a/(b<0.01?0.01:b)}'
grep -c 'accepted' "$work/cam.log" | xargs echo "uploads the camera accepted:"

for m in 4 "$mib"; do
  head -c $((m * 1048576)) "$work/image.bin" > "$work/img$m.bin"
  /usr/bin/time -o "$work/t" -f '%e %M' "$cli" upgrade --ip 127.0.0.1 --port "$port" --series onvif --user admin \
    --password Onvif530274 --package "$work/img$m.bin" --yes > "$work/cli.log" 2>&1 || { cat "$work/cli.log"; tail -5 "$work/cam.log"; }
  t=$(tail -n1 "$work/t" | cut -d' ' -f1); kb=$(tail -n1 "$work/t" | cut -d' ' -f2)
  printf 'whole CLI ONVIF upgrade, %4s MiB image:   %7.2f s %7.1f MiB peak (%s)\n' "$m" "$t" \
    "$(awk -v k="$kb" 'BEGIN{print k/1024}')" "$(tail -n1 "$work/cli.log" | cut -d: -f4-)"
  sleep 0.5
done
