#!/usr/bin/env bash
# The Ansible role of contrib/ansible against simulated cameras on loopback, with a local
# connection: every camera reported as changed, ok or failed from the command line's JSON.
#   run.sh CLI SIM
set -euo pipefail
cli=$(realpath "$1") sim=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
role_dir=$(cd "$here/../../contrib/ansible" && pwd)
export IPCAM_BROADCAST_ADDR=127.255.255.255 IPCAM_TIME_SCALE=${IPCAM_TIME_SCALE:-0.01}
work=$(mktemp -d)
export HOME=$work ANSIBLE_LOCAL_TEMP=$work/tmp ANSIBLE_REMOTE_TEMP=$work/tmp
export TMPDIR=$work ANSIBLE_NOCOLOR=1 ANSIBLE_STDOUT_CALLBACK=verdicts ANSIBLE_RETRY_FILES_ENABLED=0
export ANSIBLE_CALLBACK_PLUGINS=$here/callback_plugins
cleanup() {
  [ -n "${sim_pid:-}" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Four cameras of the demo's series and an H camera that refuses every upload.
"$sim" --cameras 4 --camera series=H,fault=upload-500,reboot-ms=1000 --seconds 300 > "$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do grep -q '^ready' "$work/sim.out" && break; sleep 0.1; done
grep -q '^ready' "$work/sim.out" || { echo "the simulator did not start"; exit 1; }
firmware=$(awk '/^firmware /{print $2}' "$work/sim.out")
{
  echo "ip,port,series,user"
  awk '/^camera /{split($3, a, ":"); print a[1] "," a[2] "," $2 ",admin"}' "$work/sim.out"
} > "$work/cameras.csv"

printf '[camera_sites]\nthis-site ansible_connection=local ansible_python_interpreter=/usr/bin/python3\n' \
  > "$work/inventory.ini"
cat > "$work/vars.json" <<JSON
{"ipcam_cli": "$cli", "ipcam_cameras": "$work/cameras.csv", "ipcam_firmware_server": "$firmware",
 "ipcam_firmware": "system", "ipcam_password": "530274",
 "ipcam_environment": {"IPCAM_BROADCAST_ADDR": "$IPCAM_BROADCAST_ADDR", "IPCAM_TIME_SCALE": "$IPCAM_TIME_SCALE",
                       "LANG": "C"}}
JSON

play() {  # output-file extra-args...
  local out=$1
  shift
  ANSIBLE_ROLES_PATH="$role_dir/roles" ansible-playbook -i "$work/inventory.ini" "$role_dir/site.yml" \
    -e "@$work/vars.json" "$@" > "$out" || true
}

# Per camera: changed, ok or failed, as the role's last task reports them.
verdicts() {
  /usr/bin/python3 - "$1" <<'PY'
import json, sys
for line in open(sys.argv[1]):
    fields = line.rstrip("\n").split("\t")
    if len(fields) == 4 and fields[0] == "ITEM" and fields[1] == "Camera":
        task, verdict, item = fields[1:]
        print(json.loads(item)["camera"]["series"], verdict)
PY
}

play "$work/upgrade.out"
got=$(verdicts "$work/upgrade.out" | sort | tr '\n' ' ')
want="E changed F changed H changed H failed T changed "
[ "$got" = "$want" ] || { echo "upgrade: got '$got', want '$want'"; cat "$work/upgrade.out"; exit 1; }

play "$work/check.out" -e ipcam_check=true
got=$(verdicts "$work/check.out" | sort | tr '\n' ' ')
want="E ok F ok H ok H ok T ok "
[ "$got" = "$want" ] || { echo "check: got '$got', want '$want'"; cat "$work/check.out"; exit 1; }
echo "ansible role: every camera reported"
