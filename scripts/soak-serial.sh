#!/usr/bin/env bash
# Soak of PELTRA44 on a bad serial line: a fixed-seed run of COMMANDS commands (whole
# receipts, queries, records made and released) from a compiled COM client under Wine,
# against the simulator with faults switched at random before the commands (the register
# busy for a tenth of its usual time before each answer).
# Prints the client's figures (commands, failures by code, receipts and sales against
# the simulator's books, the longest call, the server's memory every 1,000 calls and its
# growth after the warm-up, the memory the platform keeps for records handed out
# early-bound and through IDispatch) and the server's open files from /proc, sampled
# each second (Wine tells no handle count).
# Exit code 1 on a sale booked twice or reported successful but missing, or a call
# over its bound.
#   scripts/soak-serial.sh [COMMANDS [SEED]]     (default 5000 commands, seed 15)
# Environment: BUILD_ROOT (default ./build; the Windows tree BUILD_ROOT/win, or WIN_BUILD,
# must be built),
# SOAK_RUN (work folder, default BUILD_ROOT/soak-serial), SOAK_PREFIX (the Wine prefix,
# default the Windows tree's), SOAK_SIM (the simulator,
# default the native tree's or the Windows tree's host build).
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
B=${BUILD_ROOT:-$root/build}
commands=${1:-5000}
seed=${2:-15}
win=${WIN_BUILD:-$B/win}
exe="$win/comserver/PELTRA44.exe"
client="$win/tests/win/comserial/comserial_soak.exe"
prefix=${SOAK_PREFIX:-$win/wineprefix}
run=${SOAK_RUN:-$B/soak-serial}
sim=${SOAK_SIM:-}
for s in "$sim" "$win/tests/win/host-serialsim/serialreg/peltra-serialsim" "$B/native/simulators/serialreg/peltra-serialsim"; do
    [ -n "$s" ] && [ -x "$s" ] && { sim=$s; break; }
done
[ -f "$exe" ] && [ -f "$client" ] && [ -x "$sim" ] || { echo "build the Windows tree first (PELTRA44, comserial_soak)"; exit 2; }

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

w() { "$root/scripts/wine-run.sh" "$prefix" "$@"; }
kill_wine() { WINEPREFIX="$prefix" wineserver -k 2>/dev/null; WINEPREFIX="$prefix" wineserver -w 2>/dev/null; }
winpath() { echo "Z:$(tr / '\\' <<<"$1")"; }
# The server's Unix process (Wine shows it by its Windows or Unix path).
server_pid() {
    ps -eo pid=,args= | A="$run/PELTRA44.exe" B="$(winpath "$run/PELTRA44.exe")" awk '
        tolower($2) == tolower(ENVIRON["A"]) || tolower($2) == tolower(ENVIRON["B"]) { print $1; exit }'
}
proc_figures() { # pid: "rss KB, fds N"
    local rss fds
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null)
    fds=$(ls "/proc/$1/fd" 2>/dev/null | wc -l)
    echo "VmRSS ${rss:-?} KB, open fds $fds"
}

com=com6
link="$prefix/dosdevices/$com"
sim_pid=
sampler=
cleanup() {
    [ -n "$sampler" ] && kill "$sampler" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    kill_wine
    rm -f "$link"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

kill_wine
rm -rf "$run"
mkdir -p "$run"
cp "$exe" "$run/PELTRA44.exe"
printf '[VAdazi]\r\nDoLog=0\r\n' >"$run/PELTRA44.ini"
export PELTRA44_MSGBOX_LOG="$(winpath "$run/boxes.txt")"
if [ ! -f "$prefix/system.reg" ]; then w cmd /c exit >/dev/null 2>&1 || true; fi

"$sim" --baud 19200 --busy-percent 10 --control "$run/control" --books "$run/books.txt" --log "$run/sim.log" >"$run/sim.out" 2>&1 &
sim_pid=$!
pty=
for _ in $(seq 100); do
    pty=$(sed -n 's/^PTY //p' "$run/sim.out" 2>/dev/null)
    [ -n "$pty" ] && [ -p "$run/control" ] && break
    sleep 0.1
done
[ -n "$pty" ] || { echo "simulator did not start"; cat "$run/sim.out"; exit 2; }
mkdir -p "$prefix/dosdevices"
ln -sfn "$pty" "$link"

w "$run/PELTRA44.exe" /r >/dev/null 2>&1 || { echo "registration failed"; exit 2; }

echo "== soak: $commands commands, seed $seed"
start=$(date +%s)
w "$client" COM6 "$commands" "$seed" "$(winpath "$run/control")" "$(winpath "$run/books.txt")" >"$run/client.txt" 2>&1 &
client_pid=$!
# The server's /proc figures, once a second while the client runs.
(
    while kill -0 "$client_pid" 2>/dev/null; do
        pid=$(server_pid)
        [ -n "$pid" ] && echo "$(date +%s) $(proc_figures "$pid")"
        sleep 1
    done
) >"$run/proc.txt" &
sampler=$!
wait "$client_pid"
rc=$?
wait "$sampler" 2>/dev/null
sampler=
tr -d '\r' <"$run/client.txt"
echo "duration: $(($(date +%s) - start)) s"
if [ -s "$run/proc.txt" ]; then
    # Wine keeps no handle count; the server's open files in /proc stand for it. The
    # first sample after the warm-up (5 s in), the highest, and the last.
    awk -v t=$((start + 5)) '
        $1 >= t && first == "" { first = $7 }
        { if ($7 > most) most = $7; last = $7 }
        END { if (first == "") first = last
              printf "server open files (/proc, each second): after the warm-up %s, highest %s, at the end %s\n", first, most, last }
    ' "$run/proc.txt"
fi
[ "$rc" -eq 0 ] && echo "soak passed" || echo "soak FAILED (exit $rc)"
exit "$rc"
