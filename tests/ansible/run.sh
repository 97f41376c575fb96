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

# Four cameras of the demo's series and an H camera that refuses every upload, all with a password
# that appears nowhere else.
secret="vault-$$-$RANDOM-pw"
cams=""
for s in E F H T; do cams="$cams --camera series=$s,password=$secret"; done
# shellcheck disable=SC2086
"$sim" $cams --camera series=H,fault=upload-500,reboot-ms=1000,password=$secret --seconds 300 > "$work/sim.out" &
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
 "ipcam_firmware": "system", "ipcam_password": "$secret",
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

# Every process's command line and environment, read while the role runs: the password must be
# in none of them (but the simulator's, whose cameras know it). The watcher reads the password from a file, so its own arguments hold nothing.
printf '%s' "$secret" > "$work/secret"
/usr/bin/python3 - "$work/secret" "$work/watch.out" "$work/watch.stop" "$sim_pid" <<'PY' &
import os, sys, time
secret = open(sys.argv[1], 'rb').read()
seen_batch = False
leaks = set()
while not os.path.exists(sys.argv[3]):
    for pid in os.listdir('/proc'):
        # The simulated cameras know their password; everything else must not show it.
        if not pid.isdigit() or int(pid) in (os.getpid(), int(sys.argv[4])):
            continue
        for part in ('cmdline', 'environ'):
            try:
                data = open('/proc/%s/%s' % (pid, part), 'rb').read()
            except OSError:
                continue
            if secret in data:
                leaks.add('%s %s: %s' % (pid, part, data.replace(b'\0', b' ')[:300].decode('utf-8', 'replace')))
            if part == 'cmdline' and b'ipcam-upgrade-cli\0batch' in data:
                seen_batch = True
    time.sleep(0.02)
with open(sys.argv[2], 'w') as out:
    out.write('batch seen\n' if seen_batch else 'batch never seen\n')
    for leak in sorted(leaks):
        out.write('leak ' + leak + '\n')
PY
watch_pid=$!

play "$work/upgrade.out"
touch "$work/watch.stop"
wait "$watch_pid"
[ "$(cat "$work/watch.out")" = "batch seen" ] || { echo "password watch:"; cat "$work/watch.out"; exit 1; }
if ls -d "$work"/tmp/ipcam-password.* "$work"/ipcam-password.* 2>/dev/null | grep -q .; then
  echo "the password file was left behind"; exit 1
fi
grep -q "$secret" "$work/upgrade.out" && { echo "the password is in the play's output"; exit 1; }
got=$(verdicts "$work/upgrade.out" | sort | tr '\n' ' ')
want="E changed F changed H changed H failed T changed "
[ "$got" = "$want" ] || { echo "upgrade: got '$got', want '$want'"; cat "$work/upgrade.out"; exit 1; }

play "$work/check.out" -e ipcam_check=true
got=$(verdicts "$work/check.out" | sort | tr '\n' ' ')
want="E ok F ok H ok H ok T ok "
[ "$got" = "$want" ] || { echo "check: got '$got', want '$want'"; cat "$work/check.out"; exit 1; }

# ansible-playbook --check, an administrator's first dry run: batch --check, every camera reported.
play "$work/dry.out" --check
got=$(verdicts "$work/dry.out" | sort | tr '\n' ' ')
[ "$got" = "$want" ] || { echo "--check: got '$got', want '$want'"; cat "$work/dry.out"; exit 1; }
grep -q '"update-available"' "$work/dry.out" || { echo "--check compared no versions"; cat "$work/dry.out"; exit 1; }
echo "ansible role: every camera reported"
