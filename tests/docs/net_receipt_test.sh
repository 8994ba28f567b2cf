#!/usr/bin/env bash
# The guide's network receipt (docs/examples/net-receipt.txt), run as the guide runs it:
# the simulated register on a free loopback port, the add-in loaded by addin-host with
# the address set on the command line before the script. Every call must succeed, the
# receipt must reach the register's tape, and the log must show the document sent.
# Usage: net_receipt_test.sh oltra-netsim addin-host LIBRARY SCRIPT RUN_DIR
set -u
netsim=$1 host=$2 library=$3 script=$4 run=$5
failures=0
check() { local d=$1; shift; if "$@"; then echo "ok $d"; else echo "FAIL $d"; failures=$((failures + 1)); fi; }

rm -rf "$run"
mkdir -p "$run/tmp"
"$netsim" --port 0 --ready-file "$run/port" --tape "$run/tape.txt" --clock "2026-12-08 10:00:00" \
    >"$run/netsim.out" 2>&1 &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null' EXIT
for _ in $(seq 100); do [ -s "$run/port" ] && break; sleep 0.1; done
[ -s "$run/port" ] || { cat "$run/netsim.out"; echo "the simulator did not start"; exit 1; }

TMPDIR="$run/tmp" "$host" "$library" set IP "str:127.0.0.1:$(cat "$run/port")" --script "$script" \
    >"$run/host.txt" 2>&1
rc=$?
cat "$run/host.txt"
check "addin-host exits with 0" [ "$rc" -eq 0 ]
check "every call succeeds" bash -c "! grep -E '^call .*(CallAsFunc false|result BOOL false)' '$run/host.txt'"
check "no message box" bash -c "! grep -q '^  Alert:' '$run/host.txt'"
check "Open gives the register's serial number" grep -qxF '  arg 0: PWSTR "ON40001234"' "$run/host.txt"
check "the next receipt is number 2" grep -qxF '  arg 1: I4 2' "$run/host.txt"

# The tape without the customer display's frames.
awk '/^  \+-+\+$/ { frame = !frame; next } !frame' "$run/tape.txt" >"$run/receipt.txt"
cat "$run/receipt.txt"
for line in "  ПРОДАЖ" "  Кава мелена 250 г" "     1.000 x 189.50 = 189.50 А" "     2.000 x 34.75 = 69.50 Б" \
    "  СУМА  259.00" "  РЕШТА  41.00"; do
    check "tape: $line" grep -qF -- "$line" "$run/receipt.txt"
done

log="$run/tmp/Oltra.log"
check "log: the connection line" grep -qF "INFO: Connection to fiscal printer IP: 127.0.0.1:" "$log"
check "log: the document sent" grep -qF 'DEBUG: Content:{"F":[{"S":{' "$log"
check "log: the password masked" grep -qF 'DEBUG: Password:********' "$log"
echo "failures: $failures"
[ "$failures" -eq 0 ]
