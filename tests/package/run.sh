#!/usr/bin/env bash
# The Debian packages of a build: made with CPack, unpacked into a temporary root (nothing is
# installed on the machine), then the unpacked programs run against the unpacked simulator on
# loopback, the desktop entry, manual pages and completion are checked, and lintian finds no
# error (its warnings are printed).
#   run.sh BUILD-DIR
set -euo pipefail
build=$(realpath "$1")
export IPCAM_BROADCAST_ADDR=127.255.255.255 IPCAM_TIME_SCALE=${IPCAM_TIME_SCALE:-0.01} LANG=C
work=$(mktemp -d)
cleanup() {
  [ -n "${sim_pid:-}" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package test: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/debs" >/dev/null) || fail "cpack failed"
upgrade=$(ls "$work"/debs/ipcam-upgrade_*.deb) sim=$(ls "$work"/debs/ipcam-sim_*.deb)
root=$work/root
dpkg-deb -x "$upgrade" "$root"
dpkg-deb -x "$sim" "$root"
cli=$root/usr/bin/ipcam-upgrade-cli
dpkg-deb -f "$upgrade" Depends | grep -q libcurl || fail "no dependencies from dpkg-shlibdeps"

"$cli" --help | grep -q batch || fail "the unpacked command line gives no help"
[ "$("$cli" --version)" = "ipcam-upgrade-cli $(dpkg-deb -f "$upgrade" Version)" ] || fail "version"

# Every option of every subcommand's --help is in the manual page.
page=$root/usr/share/man/man1/ipcam-upgrade-cli.1.gz
for sub in upgrade search batch mirror; do
  for option in $("$cli" "$sub" --help | grep -oE '^ +--?[a-z-]+' | sed 's/ //g'); do
    zcat "$page" | grep -qe "$option" || fail "$option of $sub is not in the manual page"
  done
done
for p in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(MANWIDTH=80 man --warnings -l "$p" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$p"): $warnings"
done
desktop-file-validate "$root/usr/share/applications/ipcam-upgrade.desktop" || fail "desktop entry"
[ -f "$root/usr/share/icons/hicolor/48x48/apps/ipcam-upgrade.png" ] || fail "no 48x48 icon"

complete_words() {  # words...: what completion offers for the last word
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _ipcam_upgrade_cli; echo "${COMPREPLY[*]}"' \
    _ "$root/usr/share/bash-completion/completions/ipcam-upgrade-cli" "$@"
}
[ "$(complete_words ipcam-upgrade-cli ba)" = batch ] || fail "completion of subcommands"
[ "$(complete_words ipcam-upgrade-cli upgrade --firmware "")" = "system ui both" ] || fail "completion of values"
complete_words ipcam-upgrade-cli batch --j | grep -q -- --jobs || fail "completion of options"

# The unpacked simulator and command line: a whole upgrade, and the search library found in
# the package's private folder.
"$root/usr/bin/ipcam-sim" --demo --seconds 120 > "$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q '^ready' "$work/sim.out" && break; sleep 0.1; done
grep -q '^ready' "$work/sim.out" || fail "the simulator did not start"
firmware=$(awk '/^firmware /{print $2}' "$work/sim.out")
port=$(awk '/^camera H /{split($3, a, ":"); print a[2]}' "$work/sim.out")
TMPDIR=$work "$cli" upgrade --ip 127.0.0.1 --port "$port" --series H --firmware system --yes --lang en \
  --firmware-server "$firmware" > "$work/upgrade.out" || { cat "$work/upgrade.out"; fail "the upgrade failed"; }
grep -q "IP Cam is Working!" "$work/upgrade.out" || fail "no working camera in the log"
TMPDIR=$work "$cli" search --rounds 1 --json > "$work/search.json"
grep -q "Standard Camera" "$work/search.json" || fail "the search library was not found: $(cat "$work/search.json")"

lintian --tag-display-limit 0 "$upgrade" "$sim" > "$work/lintian.out" 2>&1 || true
if grep -q '^E:' "$work/lintian.out"; then
  cat "$work/lintian.out"
  fail "lintian reports errors"
fi
grep -E '^[WI]:' "$work/lintian.out" || true
echo "packages: $(basename "$upgrade") $(basename "$sim") unpacked and working"
