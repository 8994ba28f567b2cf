#!/usr/bin/env bash
# The main job: builds the native tree, starts the simulated network register on a free
# loopback port, loads the 1C add-in into a stand-in host and runs a shift through it,
# then shows the register's tape and where the driver wrote its log. Then the serial
# half (scripts/demo-serial.sh): PELTRA44 under Wine against the serial simulator.
#
#   scripts/demo.sh                  set-up, build, demo
#   SKIP_SETUP=1 scripts/demo.sh     without the package set-up
#
# Everything the demo writes goes to build/demo/ (tape, driver log, host script). Both
# simulators serve their browser consoles; the demo prints their addresses and, when it
# runs on a terminal, keeps the simulators up until Enter is pressed. The simulators are
# stopped when the script ends, whichever way it ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
B=${BUILD_ROOT:-$root/build}
[ "${SKIP_SETUP:-0}" = 1 ] || bash "$root/scripts/setup.sh"

echo "== Building the native tree ($B/native)"
cmake -S "$root" -B "$B/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$B/native" -j"${JOBS:-2}" >/dev/null

host="$B/native/tools/addin-host"
library="$B/native/addin/libOltranative_x64.so"
netsim="$B/native/simulators/netreg/oltra-netsim"
demo="$B/demo"
rm -rf "$demo"
mkdir -p "$demo/tmp"

sim_pid=
stop_simulator() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=
    fi
}
trap stop_simulator EXIT
trap 'exit 130' INT TERM

echo
echo "== Network register (simulated): $netsim"
"$netsim" --port 0 --ready-file "$demo/port" --tape "$demo/tape.txt" --console 0 \
    --serial ON40007777 --name "Крамниця Демо" >"$demo/netsim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    [ -s "$demo/port" ] && break
    kill -0 "$sim_pid" 2>/dev/null || { cat "$demo/netsim.out" >&2; echo "the simulator did not start" >&2; exit 1; }
    sleep 0.1
done
[ -s "$demo/port" ] || { echo "the simulator did not listen within 10 s" >&2; exit 1; }
port=$(cat "$demo/port")
# The browser console: the tape, display, state, requests and fault switches, live.
netsim_console=$(sed -n 's/^console on //p' "$demo/netsim.out")
echo "listening on 127.0.0.1:$port, tape in $demo/tape.txt"
echo "console: $netsim_console"

# The shift, as an accounting program drives the driver through the platform.
# Arguments: DeviceID first; the sums of CloseCheck are in the host's order (cash first).
cat >"$demo/shift.txt" <<EOF
# Connection
call GetVersion
set IP str:127.0.0.1:$port
set Username str:service
set Password str:384190
set DefaultTaxGroup i4:1
set LogLevel i4:1
call Open empty
call DeviceTest empty empty
call GetLineLength empty empty
call ShowMessage "str:Каса відкрита"
call OpenShift empty

# A sale: three items in tax groups А (20 %), Б (7 %) and group 1 by default (rate 0), a
# discount on the second line, paid in two payment types (cash 50.00, card 29.50)
call OpenCheck empty bool:true bool:false bool:false empty i4:0
call PrintFiscalString empty "str:Хліб житній" r8:2 r8:18.50 r8:37.00 i4:1 r8:20
call PrintFiscalString empty "str:Ліки \"Цитрамон\"" r8:1 r8:45.00 r8:40.50 i4:1 r8:7
call PrintFiscalString empty "str:Пакет" i4:1 r8:2.00 r8:2.00 i4:1 r8:0
call PrintNonFiscalString empty "str:Дякуємо, що обрали нас"
call CloseCheck empty r8:50 r8:29.50 r8:0 r8:0
call GetCurrentReceiptNumber empty empty

# A return of one loaf
call OpenCheck empty bool:true bool:true bool:false empty i4:0
call PrintFiscalString empty "str:Хліб житній" r8:1 r8:18.50 r8:18.50 i4:1 r8:20
call CloseCheck empty r8:0 r8:18.50 r8:0 r8:0

# Cash into the drawer, the shift reports, and the end of the session
call CashInOutcome empty r8:500
call OpenCashDrawer empty
call PrintXReport empty
call PrintZReport empty
call GetLastError empty
call Close empty
EOF

echo
echo "== The shift through the add-in ($library)"
TMPDIR="$demo/tmp" "$host" "$library" --script "$demo/shift.txt"

echo
echo "== The register's tape ($demo/tape.txt; customer display frames left out here)"
awk '/^  \+-+\+$/ { frame = !frame; if (!frame) shown++; next } !frame' "$demo/tape.txt"
echo
echo "== Driver log: $demo/tmp/Oltra.log (level INFO)"
sed '1s/^\xEF\xBB\xBF//' "$demo/tmp/Oltra.log" | grep -v ' DEBUG: ' || true

# The serial register: PELTRA44.exe under Wine, driven by a VBScript client. The network
# register stays up meanwhile: on a terminal, the serial half shows both consoles and
# keeps both simulators up until Enter is pressed.
echo
SKIP_SETUP=1 BUILD_ROOT="$B" NETSIM_CONSOLE="$netsim_console" bash "$root/scripts/demo-serial.sh"
stop_simulator
echo "demo finished"
