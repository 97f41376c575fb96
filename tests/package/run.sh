#!/usr/bin/env bash
# The Debian packages of a build: made with CPack, unpacked into a temporary root (nothing is
# installed on the machine), then the unpacked programs run against the unpacked simulator on
# loopback; the command line's package must not need Qt; the desktop entry, the AppStream data,
# the manual pages and completion are checked, and lintian (-I --pedantic) finds no error and no
# hardening fault (its other tags are printed).
#   run.sh BUILD-DIR
set -euo pipefail
build=$(realpath "$1")
export IPCAM_BROADCAST_ADDR=127.255.255.255 IPCAM_TIME_SCALE=${IPCAM_TIME_SCALE:-0.01} LANG=C
work=$(mktemp -d)
# Nothing of this run lands in the home folder.
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state XDG_CACHE_HOME=$work/cache
cleanup() {
  [ -n "${sim_pid:-}" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package test: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/debs" >/dev/null) || fail "cpack failed"
upgrade=$(ls "$work"/debs/ipcam-upgrade_*.deb) sim=$(ls "$work"/debs/ipcam-sim_*.deb)
clideb=$(ls "$work"/debs/ipcam-upgrade-cli_*.deb)
root=$work/root
for deb in "$clideb" "$upgrade" "$sim"; do dpkg-deb -x "$deb" "$root"; done
cli=$root/usr/bin/ipcam-upgrade-cli
dpkg-deb -f "$clideb" Depends | grep -q libcurl || fail "no dependencies from dpkg-shlibdeps"
# A headless host takes the command line without the toolkit; the desktop tool takes it along.
if dpkg-deb -f "$clideb" Depends | grep -qi qt; then fail "the command line's package needs Qt"; fi
dpkg-deb -c "$clideb" | grep -q 'usr/bin/ipcam-upgrade$' && fail "the desktop tool is in the command line's package"
dpkg-deb -f "$upgrade" Depends | grep -q "ipcam-upgrade-cli (= " || fail "the desktop tool does not depend on the command line"
for deb in "$clideb" "$sim"; do
  dpkg-deb -f "$deb" Recommends | grep -q bash-completion || fail "$(basename "$deb") does not recommend bash-completion"
done
dpkg-deb -f "$upgrade" Recommends | grep -q qt6-translations-l10n || fail "the desktop tool does not recommend Qt's translations"
dpkg-deb --ctrl-tarfile "$clideb" | tar -xO ./conffiles | grep -qx /etc/ipcam-upgrade/option.ini ||
  fail "the administrator's option file is no conffile"
grep -q '^;FirmwareServer=' "$root/etc/ipcam-upgrade/option.ini" || fail "no commented example in /etc"

"$cli" --help | grep -q batch || fail "the unpacked command line gives no help"
[ "$("$cli" --version)" = "ipcam-upgrade-cli $(dpkg-deb -f "$upgrade" Version)" ] || fail "version"

# The manual pages: the sections of a manual page, every option of every --help, no line
# over 80 columns, no warning from man.
page=$root/usr/share/man/man1/ipcam-upgrade-cli.1.gz
# Unpacked once: "zcat | grep -q" in a loop fails under pipefail whenever grep stops early.
zcat "$page" > "$work/page-raw.txt"
sed 's/\\-/-/g' "$work/page-raw.txt" > "$work/page.txt"
for sub in upgrade search batch mirror cache history; do
  for option in $("$cli" "$sub" --help | grep -oE '^ +--?[a-z-]+' | sed 's/ //g'); do
    grep -qe "$option" "$work/page.txt" || fail "$option of $sub is not in the manual page"
  done
  grep -qi "^\.SH \"$sub options\"" "$work/page.txt" || fail "no section of the options of $sub"
done
for p in "$root"/usr/share/man/man1/*.1.gz; do
  name=$(basename "$p" .1.gz)
  zcat "$p" > "$work/this-page.txt"
  for section in NAME SYNOPSIS DESCRIPTION '"EXIT STATUS"' EXAMPLES '"SEE ALSO"'; do
    grep -q "^\.SH $section" "$work/this-page.txt" || fail "$name has no $section section"
  done
  sed -n '/^\.SH "SEE ALSO"/,$p' "$work/this-page.txt" | grep -q "^\.BR $name " && fail "$name's SEE ALSO names itself"
  warnings=$(MANWIDTH=80 man --warnings -l "$p" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$name: $warnings"
  long=$(MANWIDTH=80 man -l "$p" 2>/dev/null | awk 'length > 80')
  [ -z "$long" ] || fail "$name has lines over 80 columns: $long"
done
for section in ENVIRONMENT FILES; do
  grep -q "^\.SH $section" "$work/page-raw.txt" || fail "the command line's page has no $section section"
done
desktop-file-validate "$root/usr/share/applications/ipcam-upgrade.desktop" || fail "desktop entry"
grep -q '^Name\[ja\]=' "$root/usr/share/applications/ipcam-upgrade.desktop" || fail "no Japanese name"
grep -q '^Comment\[ja\]=' "$root/usr/share/applications/ipcam-upgrade.desktop" || fail "no Japanese comment"
metainfo=$root/usr/share/metainfo/ipcam-upgrade.metainfo.xml
appstreamcli validate --no-net --pedantic "$metainfo" || fail "the AppStream data does not validate"
[ "$(grep -c '<caption>' "$metainfo")" -ge 7 ] || fail "screenshots without captions"
[ -f "$root/usr/share/icons/hicolor/48x48/apps/ipcam-upgrade.png" ] || fail "no 48x48 icon"

complete_words() {  # words...: what completion offers for the last word
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _ipcam_upgrade_cli; echo "${COMPREPLY[*]}"' \
    _ "$root/usr/share/bash-completion/completions/ipcam-upgrade-cli" "$@"
}
[ "$(complete_words ipcam-upgrade-cli ba)" = batch ] || fail "completion of subcommands"
[ "$(complete_words ipcam-upgrade-cli upgrade --firmware "")" = "system ui both" ] || fail "completion of values"
complete_words ipcam-upgrade-cli batch --j | grep -q -- --jobs || fail "completion of options"
[ "$(complete_words ipcam-upgrade-cli ca)" = cache ] || fail "completion of the cache subcommand"
sim_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _ipcam_sim; echo "${COMPREPLY[*]}"' \
    _ "$root/usr/share/bash-completion/completions/ipcam-sim" "$@"
}
[ "$(sim_words ipcam-sim --de)" = --demo ] || fail "completion of the simulator's options"
sim_words ipcam-sim pk2 out.pk2 c | grep -q cmd: || fail "completion of pk2 items"

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

TMPDIR=$work "$cli" history --camera 127.0.0.1 | grep -q upgraded || fail "the session is not in the history"

lintian -I --pedantic --tag-display-limit 0 "$clideb" "$upgrade" "$sim" > "$work/lintian.out" 2>&1 || true
if grep -qE '^E:|hardening' "$work/lintian.out"; then
  cat "$work/lintian.out"
  fail "lintian reports errors or missing hardening"
fi
grep -E '^[WIP]:' "$work/lintian.out" || true
echo "packages: $(basename "$clideb") $(basename "$upgrade") $(basename "$sim") unpacked and working"
