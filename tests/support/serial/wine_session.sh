# The common ground of the Wine tests that drive PELTRA44 against the serial register
# simulator (sourced, not run). The test sets, before sourcing:
#   sim     the simulator          exe     PELTRA44.exe as built
#   prefix  the Wine prefix        winerun scripts/wine-run.sh
#   run     the test's own folder (emptied here)
# and then calls, in order:
#   wine_session_start DOLOG         a fresh run folder with PELTRA44.exe and its
#                                    settings (work log on or off), message boxes to
#                                    run/boxes.txt, the prefix made, no Wine running
#   start_register COM5 ARGS...      the simulator (ARGS its switches; its output in
#                                    run/sim.out) and the prefix's COM5 pointed at its
#                                    pty; an earlier mapping is put back at exit
#   wine_session_end                 Wine stopped, the failure count printed; the
#                                    test's exit code is this function's
# Checks: check DESCRIPTION COMMAND... prints "ok"/"FAIL" lines and counts failures;
# has FILE LINE (a whole line), contains FILE TEXT (anywhere).

failures=0
ok() { echo "ok $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
check() { local d=$1; shift; if "$@"; then ok "$d"; else fail "$d"; fi; }
has() { grep -qxF -- "$2" "$1"; }
contains() { grep -qF -- "$2" "$1"; }

w() { "$winerun" "$prefix" "$@"; }
kill_wine() { WINEPREFIX="$prefix" wineserver -k 2>/dev/null; WINEPREFIX="$prefix" wineserver -w 2>/dev/null; }

link=
saved_link=
sim_pid=
wine_session_cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    kill_wine
    if [ -n "$link" ]; then
        rm -f "$link"
        [ -n "$saved_link" ] && ln -sfn "$saved_link" "$link"
    fi
}

wine_session_start() { # DOLOG: 1 or 0
    trap wine_session_cleanup EXIT
    trap 'exit 1' INT TERM
    kill_wine
    rm -rf "$run"
    mkdir -p "$run"
    cp "$exe" "$run/PELTRA44.exe"
    printf '[VAdazi]\r\nDoLog=%s\r\n' "$1" >"$run/PELTRA44.ini"
    export PELTRA44_MSGBOX_LOG="Z:$run/boxes.txt"
    if [ ! -f "$prefix/system.reg" ]; then w cmd /c exit >/dev/null 2>&1 || true; fi
}

start_register() { # COMn SIMULATOR-SWITCHES...
    local com i pty= control=
    com=$(tr '[:upper:]' '[:lower:]' <<<"$1")
    shift
    for ((i = 1; i <= $#; i++)); do
        [ "${!i}" = --control ] && { i=$((i + 1)); control=${!i}; }
    done
    "$sim" "$@" >"$run/sim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do
        pty=$(sed -n 's/^PTY //p' "$run/sim.out" 2>/dev/null)
        [ -n "$pty" ] && { [ -z "$control" ] || [ -p "$control" ]; } && break
        sleep 0.1
    done
    if [ -z "$pty" ]; then echo "simulator did not start"; cat "$run/sim.out"; exit 1; fi
    link="$prefix/dosdevices/$com"
    mkdir -p "$prefix/dosdevices"
    [ -L "$link" ] && saved_link=$(readlink "$link")
    ln -sfn "$pty" "$link"
}

wine_session_end() {
    kill_wine
    echo "failures: $failures"
    [ "$failures" -eq 0 ]
}
