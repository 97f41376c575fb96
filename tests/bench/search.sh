#!/usr/bin/env bash
# One search of a large site: N simulated cameras (200 of each series for 1000) and the default
# rounds, with the search's receive buffers as asked (4 MiB, as far as net.core.rmem_max lets
# them) and capped at 212 992 bytes (a desktop's usual rmem_max). Prints the share of each series
# listed, the peak memory of `search`, and the time from the end of its last wait to the printed
# rows. Runs in a network namespace of its own.
#
# The cap: net.core.rmem_max is not per network namespace (and read-only inside one), so it is
# not changed here; a small preloaded library clamps every SO_RCVBUF request of the command line
# to 212 992 bytes instead, which is what the kernel does with that rmem_max.
# Usage: tests/bench/search.sh [cameras]
set -euo pipefail
cd "$(dirname "$0")/../.."
if [ -z "${IPCAM_BENCH_NETNS:-}" ]; then
  exec unshare -n env IPCAM_BENCH_NETNS=1 "$0" "$@"
fi
ip link set lo up
n=${1:-1000}
cli=build/bin/ipcam-upgrade-cli sim=build/bin/ipcam-sim close=build/bin/search_close
for p in "$cli" "$sim" "$close"; do [ -x "$p" ] || { echo "build first: $p is missing"; exit 1; }; done
work=$(mktemp -d /tmp/ipcam-bench-XXXXXX)
sim_pid=
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
export IPCAM_BROADCAST_ADDR=127.255.255.255 LANG=C TMPDIR=$work
unset IPCAM_TIME_SCALE # the search's real seconds: a second between rounds

cat > "$work/cap.c" <<'C'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sys/socket.h>
int setsockopt(int fd, int level, int name, const void* value, socklen_t length) {
    static int (*real)(int, int, int, const void*, socklen_t);
    if (!real) real = (int (*)(int, int, int, const void*, socklen_t))dlsym(RTLD_NEXT, "setsockopt");
    int capped = 212992;
    if (level == SOL_SOCKET && name == SO_RCVBUF && length == sizeof(int) && *(const int*)value > capped)
        value = &capped;
    return real(fd, level, name, value, length);
}
C
cc -shared -fPIC -O2 -o "$work/cap.so" "$work/cap.c" -ldl

# The cameras stand in for hosts of their own, which take no processor time from the search: the
# simulator's 2 000 threads run at the lowest priority, so that the figures are the search's own.
# IPCAM_BENCH_SIM=idle runs them only on what CPU is left (SCHED_IDLE): on a busy machine the
# search then never waits for them, but they may answer too late.
# With two processors or more the cameras get the upper half of them and the search the lower
# half, as other hosts would not share the search's processor at all.
cpus=$(nproc)
pin_cli=() pin_sim=()
if [ "$cpus" -ge 2 ]; then
  pin_cli=(taskset -c "0-$((cpus / 2 - 1))") pin_sim=(taskset -c "$((cpus / 2))-$((cpus - 1))")
fi
if [ "${IPCAM_BENCH_SIM:-}" = idle ]; then
  "${pin_sim[@]}" chrt --idle 0 "$sim" --cameras "$n" --seconds 3600 > "$work/sim.log" 2>&1 &
else
  "${pin_sim[@]}" nice -n 19 "$sim" --cameras "$n" --seconds 3600 > "$work/sim.log" 2>&1 &
fi
sim_pid=$!
for _ in $(seq 1200); do grep -q '^ready' "$work/sim.log" && break; sleep 0.1; done
grep -q '^ready' "$work/sim.log" || { echo "the simulator did not start"; exit 1; }
# The cameras' own cost while nobody asks them anything: it is taken from the search under test.
ticks() { awk '{print $14 + $15}' "/proc/$sim_pid/stat"; }
idle_from=$(ticks); sleep 2; idle_to=$(ticks)
printf 'simulator idle: %d %% of one core\n' "$(( (idle_to - idle_from) * 100 / (2 * $(getconf CLK_TCK)) ))"
declare -A total
for s in E F H T C; do total[$s]=$(grep -c "^camera $s " "$work/sim.log" || true); done

search() {  # label preload
  local label=$1 preload=$2
  LD_PRELOAD=$preload "${pin_cli[@]}" /usr/bin/time -v -o "$work/time.$label" "$cli" search --csv --lang en \
    > "$work/rows.$label.csv" 2> "$work/notes.$label"
  local kib
  kib=$(awk -F': ' '/Maximum resident set size/{print $2}' "$work/time.$label")
  printf '%-30s' "$label"
  for s in E F H T C; do
    local got
    got=$(awk -F, -v s="$s" 'NR > 1 && $3 == s' "$work/rows.$label.csv" | sort -u | wc -l)
    printf ' %s %4d/%-4d %5.1f %%' "$s" "$got" "${total[$s]}" "$(awk -v a="$got" -v b="${total[$s]}" 'BEGIN{print b ? 100 * a / b : 0}')"
  done
  printf '   peak %5.1f MiB' "$(awk -v k="$kib" 'BEGIN{print k / 1024}')"
  local closing
  closing=$(LD_PRELOAD=$preload "${pin_cli[@]}" "$close")
  printf '   last wait to rows %6.2f ms\n' "$(awk '{print $1}' <<< "$closing")"
  awk '{printf "  of which: receivers woken and list copied %.2f ms, rows written %.2f ms (CPU time of" \
        " both %.2f ms); then, after the rows, receivers joined %.2f ms\n", $4, $6, $10, $8}' <<< "$closing"
  [ -s "$work/notes.$label" ] && sed 's/^/  note: /' "$work/notes.$label"
  return 0
}

printf '%d simulated cameras, %s rounds (default); goals: E F T C >= 99 %%, H >= 95 %%, < 32 MiB, < 10 ms\n' \
  "$n" 3
search "receive buffer 4 MiB asked" ""
search "receive buffer 212992 (capped)" "$work/cap.so"
awk '$1 == "Udp:" && ++k == 2 {print "UDP receive buffer errors in this namespace (simulator included): " $6}' /proc/net/snmp
