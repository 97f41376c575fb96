#!/usr/bin/env bash
# Side by side on loopback: DownloadFile against curl -o, CheckMD5 against md5sum, UnzipFile
# against unzip; wall time, throughput and peak memory of each. Usage: tests/bench/transfer.sh [image MiB [digest MiB]]
set -euo pipefail
cd "$(dirname "$0")/../.."
mib=${1:-256}
md5mib=${2:-1024}
tool=build/bin/transfer_tool
[ -x "$tool" ] || scripts/build
work=$(mktemp -d /tmp/ipcam-bench-XXXXXX)
trap 'exec 3>&- 2>/dev/null; rm -rf "$work"' EXIT
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY all_proxy

# Compressible like a real image: random blocks with runs in between.
python3 - "$work/image.bin" "$mib" <<'PY'
import os, sys
with open(sys.argv[1], "wb") as f:
    for i in range(int(sys.argv[2]) * 4):
        f.write(os.urandom(128 * 1024) + bytes([i % 251]) * (128 * 1024))
PY
(cd "$work" && zip -q -1 image.zip image.bin)
md5=$(md5sum "$work/image.bin" | cut -c1-32)
size=$(stat -c %s "$work/image.bin")

coproc SERVER { exec "$tool" serve "$work/image.bin"; }
exec 3>&"${SERVER[1]}"
read -r url <&"${SERVER[0]}"

declare -A best peak
# One timed run; the best time and the peak memory of each label are kept. The two sides of a
# comparison take turns, so that a slow moment of the machine does not fall on one side only.
run() {  # label command...
  local label=$1
  shift
  rm -rf "$work/dl.bin" "$work/dl2.bin" "$work/a" "$work/b"
  mkdir -p "$work/a" "$work/b"
  sync
  /usr/bin/time -o "$work/time" -f '%e %M' "$@" >/dev/null 2>&1
  local t m
  read -r t m < "$work/time"
  best[$label]=$(awk -v a="${best[$label]:-999999}" -v b="$t" 'BEGIN{print (b<a)?b:a}')
  peak[$label]=$m
}
report() {  # bytes label...
  local bytes=$1
  shift
  for label in "$@"; do
    local t
    t=$(awk -v t="${best[$label]}" 'BEGIN{print (t<0.01)?0.01:t}')
    printf '%-28s %7.2f s %8.1f MiB/s %7.1f MiB peak\n' "$label" "$t" \
      "$(awk -v s="$bytes" -v t="$t" 'BEGIN{print s/1048576/t}')" "$(awk -v k="${peak[$label]}" 'BEGIN{print k/1024}')"
  done
}

echo "image: $mib MiB, $(stat -c %s "$work/image.zip" | awk '{printf "%.0f", $1/1048576}') MiB zipped"
for _ in 1 2 3; do
  run "DownloadFile" "$tool" download "$url" "$work/dl.bin"
  run "curl -o" curl -s -o "$work/dl2.bin" "$url"
done
report "$size" "DownloadFile" "curl -o"
head -c $((md5mib * 1048576)) /dev/urandom > "$work/big.bin"
bigmd5=$(md5sum "$work/big.bin" | cut -c1-32)
for _ in 1 2 3; do
  run "CheckMD5 ($md5mib MiB)" "$tool" md5 "$work/big.bin" "$bigmd5"
  run "md5sum" md5sum "$work/big.bin"
done
report $((md5mib * 1048576)) "CheckMD5 ($md5mib MiB)" "md5sum"
for _ in 1 2 3; do
  run "UnzipFile" "$tool" unzip "$work/image.zip" "$work/a/image.bin"
  run "unzip" unzip -o -q "$work/image.zip" -d "$work/b"
done
report "$size" "UnzipFile" "unzip"
"$tool" unzip "$work/image.zip" "$work/a/image.bin"
cmp -s "$work/a/image.bin" "$work/image.bin" && echo "unpacked image matches"
