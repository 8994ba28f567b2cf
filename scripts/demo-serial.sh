#!/usr/bin/env bash
# The serial half of the demo: PELTRA44.exe (mingw-w64 i686) under Wine, started by COM
# for a VBScript client, drives the serial register simulator through COM5, which the
# demo's private Wine prefix maps to the simulator's pseudo-terminal. Shows the client's
# output, the receipt tape the register printed (with the X report beside the record the
# client read back), what it received and answered, and the driver's work log. It ends
# with the addresses of the simulators' browser consoles (the network one comes from
# scripts/demo.sh as NETSIM_CONSOLE) and, on a terminal, waits for Enter before it stops
# the simulator.
# Called by scripts/demo.sh; runs on its own too (after scripts/setup.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
B=${BUILD_ROOT:-$root/build}
demo="$B/demo/serial"
prefix="$B/demo/wineprefix"

# Windows need a display: everything runs under one private X server.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

echo "== Building PELTRA44 with mingw-w64 ($B/win) and the serial simulator ($B/native)"
cmake -S "$root" -B "$B/win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$B/win" --target PELTRA44 -j"${JOBS:-2}" >/dev/null
cmake -S "$root" -B "$B/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$B/native" --target peltra-serialsim make-picture -j"${JOBS:-2}" >/dev/null
sim="$B/native/simulators/serialreg/peltra-serialsim"
[ -x "$sim" ] || sim=$(find "$B/native/simulators" -name peltra-serialsim -type f -perm -u+x | head -n 1)
maker="$B/native/tools/make-picture"

rm -rf "$demo"
mkdir -p "$demo"
cp "$B/win/comserver/PELTRA44.exe" "$demo/" 2>/dev/null || cp "$(find "$B/win" -name PELTRA44.exe | head -n 1)" "$demo/"
# The script host reads scripts in the ANSI code page.
iconv -f UTF-8 -t CP1251 "$root/scripts/demo/serial.vbs" >"$demo/serial.vbs"
printf '[VAdazi]\r\nDoLog=1\r\n' >"$demo/PELTRA44.ini"
# The shop's logo: a picture the client loads into the register before its first receipt.
"$maker" "$demo/logo.bmp" 160 64 badge
# Message boxes (registration) go to a file instead of waiting for a click.
export PELTRA44_MSGBOX_LOG="Z:$demo/boxes.txt"

w() { "$root/scripts/wine-run.sh" "$prefix" "$@"; }
sim_pid=
serial_console=
cleanup() {
    [ -n "$sim_pid" ] && { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; } || true
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$sim" --clock "2026-12-08 09:00:00" --model "PELTRA-SIM" --fiscal-number "4000123456" \
    --taxpayer "ТОВ Крамниця Демо" --taxpayer "вул. Хрещатик, 1" --taxpayer "м. Київ" \
    --tax-number "123456789012" --sw-version "1.2" --log "$demo/register.log" --tape "$demo/tape.txt" \
    --logo "$demo/register-logo.pbm" --console 0 >"$demo/sim.out" 2>&1 &
sim_pid=$!
pty=
for _ in $(seq 100); do
    pty=$(sed -n 's/^PTY //p' "$demo/sim.out" 2>/dev/null)
    serial_console=$(sed -n 's/^console on //p' "$demo/sim.out" 2>/dev/null)
    [ -n "$pty" ] && [ -n "$serial_console" ] && break
    sleep 0.1
done
[ -n "$pty" ] || { cat "$demo/sim.out" >&2; echo "the serial simulator did not start" >&2; exit 1; }
echo
echo "== Serial register (simulated) on $pty, COM5 in the Wine prefix $prefix"
echo "console: $serial_console"
w cmd /c exit >/dev/null 2>&1 || true
mkdir -p "$prefix/dosdevices"
ln -sfn "$pty" "$prefix/dosdevices/com5"

echo
echo "== Registering PELTRA44 (PELTRA44.exe /r)"
w "$demo/PELTRA44.exe" /r
echo
echo "== A VBScript client: CreateObject(\"PELTRA44.FiscalPrinter\")"
w cscript //nologo "Z:$demo/serial.vbs" COM5 "Z:$demo/logo.bmp" | iconv -f CP866 -t UTF-8 | tr -d '\r' | tee "$demo/client.txt"
grep -qx DONE "$demo/client.txt" || { echo "the client did not finish" >&2; exit 1; }

echo
echo "== The logo as the register keeps it ($demo/register-logo.pbm, from $demo/logo.bmp)"
head -n 2 "$demo/register-logo.pbm" | tr '\n' ' '
echo
echo
echo "== The register's receipt tape ($demo/tape.txt)"
cat "$demo/tape.txt"
echo
echo "== The X report on the tape, beside the XReport record the client read back"
# The tape's X report runs from its title to the next rule line.
awk '/^X-ЗВІТ$/ { on = 1 } on { print } on && /^=+$/ { exit }' "$demo/tape.txt" >"$demo/x-tape.txt"
sed -n 's/^X   //p' "$demo/client.txt" >"$demo/x-record.txt"
(
    export LC_ALL=C.UTF-8  # ${#line} counts characters
    mapfile -t left <"$demo/x-tape.txt"
    mapfile -t right <"$demo/x-record.txt"
    n=$(( ${#left[@]} > ${#right[@]} ? ${#left[@]} : ${#right[@]} ))
    for ((i = 0; i < n; i++)); do
        l=${left[i]:-}
        printf '%s%*s  |  %s\n' "$l" $((31 - ${#l} > 0 ? 31 - ${#l} : 0)) '' "${right[i]:-}"
    done
)
echo
echo "== What the register received and answered ($demo/register.log)"
cat "$demo/register.log"
echo
echo "== PELTRA44 work log"
for f in "$demo"/logday*.txt; do
    [ -f "$f" ] || continue
    echo "-- $f"
    iconv -f CP1251 -t UTF-8 "$f" | tr -d '\r'
done
w "$demo/PELTRA44.exe" /u

# The simulators' browser consoles: the tapes, displays, books, exchanges and fault
# switches. On a terminal the simulators stay up for them until Enter is pressed.
echo
echo "== Consoles"
[ -z "${NETSIM_CONSOLE:-}" ] || echo "network register: $NETSIM_CONSOLE"
echo "serial register:  $serial_console"
if [ -t 0 ]; then
    read -r -p "The simulators stay up for their consoles; press Enter to stop them. " _ || true
fi
echo "serial demo finished"
