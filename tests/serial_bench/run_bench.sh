#!/bin/sh
# The serial link benchmark against the register simulator at 19200 baud, natively and
# (when the Windows tree is built) under Wine.
#   tests/serial_bench/run_bench.sh [N]        (BUILD_ROOT defaults to ./build)
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
B=${BUILD_ROOT:-$root/build}
n=${1:-200}
sim="$B/native/simulators/serialreg/peltra-serialsim"
bench="$B/native/tests/serial_bench/serial_link_bench"
winbench="$B/win/tests/serial_bench/serial_link_bench.exe"
prefix="$B/win/wineprefix"
[ -x "$sim" ] && [ -x "$bench" ] || { echo "build the native tree first"; exit 1; }

fifo=$(mktemp -u "${TMPDIR:-/tmp}/serialbench.XXXXXX")
mkfifo "$fifo" || exit 1
"$sim" --baud 19200 >"$fifo" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -f "$fifo" "$prefix/dosdevices/com58"' EXIT INT TERM
read -r word pty <"$fifo"
[ "$word" = PTY ] || { echo "simulator did not start"; exit 1; }

echo "== native (POSIX port)"
"$bench" "$pty" "$n" 19200 || exit 1
if [ -f "$winbench" ]; then
    echo "== Wine (Win32 port)"
    if [ ! -f "$prefix/system.reg" ]; then
        "$root/scripts/wine-run.sh" "$prefix" "$winbench" --help >/dev/null 2>&1
    fi
    mkdir -p "$prefix/dosdevices"
    ln -sfn "$pty" "$prefix/dosdevices/com58"
    "$root/scripts/wine-run.sh" "$prefix" "$winbench" COM58 "$n" 19200
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null
fi
