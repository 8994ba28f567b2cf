#!/usr/bin/env bash
# The serial link benchmark against the register simulator at 19200 baud, natively and
# (when the Windows tree is built) under Wine; then GetDate through PELTRA44 from a
# VBScript client and from a compiled client, each beside the wire time.
#   tests/serial_bench/run_bench.sh [N]        (BUILD_ROOT defaults to ./build)
set -u
# One display for the whole run: the COM-started server lives on between its clients.
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
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
    "$root/scripts/wine-run.sh" "$prefix" "$winbench" COM58 "$n" 19200 | tee "$fifo.link"
    wire=$(sed -n 's/.*wire time \([0-9.]*\) ms.*/\1/p' "$fifo.link")
    server="$B/win/comserver/PELTRA44.exe"
    combench="$B/win/tests/serial_bench/serial_com_bench.exe"
    if [ -f "$server" ] && [ -f "$combench" ] && [ -n "$wire" ]; then
        run=$(mktemp -d "${TMPDIR:-/tmp}/serialbench-run.XXXXXX")
        cp "$server" "$run/PELTRA44.exe"
        printf '[VAdazi]\r\nDoLog=0\r\n' >"$run/PELTRA44.ini"
        cp "$root/tests/serial_bench/com_bench.vbs" "$run/"
        PELTRA44_MSGBOX_LOG="Z:$run/boxes.txt" "$root/scripts/wine-run.sh" "$prefix" "$run/PELTRA44.exe" /r >/dev/null 2>&1
        ratio() { awk -v t="$1" -v w="$wire" 'BEGIN { printf "%.2f", t / w }'; }
        echo "== through PELTRA44: VBScript (late-bound: IDispatchEx)"
        out=$("$root/scripts/wine-run.sh" "$prefix" cscript //nologo "Z:$run/com_bench.vbs" COM58 "$n" 19200 | tr -d '\r')
        t=$(sed -n 's/.*time per call \([0-9.,]*\) ms.*/\1/p' <<<"$out" | tr , .)
        echo "$out; wire time $wire ms, ratio $(ratio "${t:-0}")"
        echo "== through PELTRA44: C++ (early-bound)"
        out=$("$root/scripts/wine-run.sh" "$prefix" "$combench" COM58 "$n" 19200 | tr -d '\r')
        t=$(sed -n 's/.*time per call \([0-9.]*\) ms.*/\1/p' <<<"$out")
        echo "$out; wire time $wire ms, ratio $(ratio "${t:-0}")"
        rm -rf "$run"
    fi
    rm -f "$fifo.link"
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null
fi
