#!/bin/sh
# Runs test.js (the npm package "onvif", pinned by package-lock.json) against the simulator:
#   tests/onvif-client/run.sh BIN_DIR WORK_DIR
# npm ci takes the package from npm's cache when it is there, else from the registry; the
# client and the simulator then run in a network namespace of their own where one can be made.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
bin=$1
work=$2
command -v node >/dev/null && command -v npm >/dev/null || { echo "onvif-client: node and npm are needed"; exit 1; }
mkdir -p "$work"
cp "$here/package.json" "$here/package-lock.json" "$here/test.js" "$work/"
(cd "$work" && npm ci --prefer-offline --no-audit --no-fund --ignore-scripts --loglevel=error >/dev/null)
cat >"$work/inside.sh" <<'EOF'
set -eu
ip link set lo up 2>/dev/null || true
export IPCAM_BROADCAST_ADDR=127.255.255.255
log=$2/sim.log
"$1/ipcam-sim" --camera series=onvif,auth=digest --discovery --seconds 60 >"$log" 2>&1 &
sim=$!
i=0
until grep -q '^ready' "$log" 2>/dev/null; do
  i=$((i + 1)); [ $i -le 100 ] || { cat "$log"; kill $sim; exit 1; }
  sleep 0.1
done
rc=0
(cd "$2" && node test.js admin Onvif530274) || rc=$?
kill $sim 2>/dev/null || true
wait $sim 2>/dev/null || true
exit $rc
EOF
if unshare -n true 2>/dev/null; then
  exec unshare -n sh "$work/inside.sh" "$bin" "$work"
fi
exec sh "$work/inside.sh" "$bin" "$work"
