#!/usr/bin/env bash
# oltra-netsim.exe, the network register simulator built for Windows x64, under 64-bit
# Wine on a free loopback port, with its browser console:
#   - the MSVC-layout host drives the add-in DLL against it (its own checks, and the
#     documented receipt reaches the simulator's request log byte for byte);
#   - the Linux add-in host drives the Linux library against it through the guide's
#     network receipt, which then stands on the simulator's tape;
#   - the console answers: its page, the fiscal state with the receipts, the tape, the
#     faults (one switched on and seen in an answer, then off).
# Usage: netsim_win_test.sh oltra-netsim.exe MSVC_HOST.exe DLL PREFIX WORKDIR
#                           [addin-host libOltranative_x64.so net-receipt.txt]
set -u
netsim=$1 host=$2 dll=$3 prefix=$4 work=$5
linux_host=${6:-} linux_library=${7:-} script=${8:-}
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$work"; mkdir -p "$work"
failures=0
ok() { echo "ok    $*"; }
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }
check() { local d=$1; shift; if "$@"; then ok "$d"; else fail "$d"; fi; }

if [ ! -f "$prefix/system.reg" ]; then
    ( flock 9; [ -f "$prefix/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; } ) 9>"$prefix.lock"
fi
sim_pid=""
cleanup() {
    [ -z "$sim_pid" ] || { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; }
    wineserver -k 2>/dev/null
}
trap cleanup EXIT

# Wine takes a Unix path as it is through its Z: drive.
winpath() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }
# get PATH: the console's answer to GET PATH on standard output; fails on any other status.
get() { python3 - "$console" "$1" <<'EOF'
import sys, urllib.request
with urllib.request.urlopen("http://%s%s" % (sys.argv[1], sys.argv[2]), timeout=10) as r:
    sys.stdout.write(r.read().decode("utf-8"))
EOF
}
post() { python3 - "$console" "$1" "$2" <<'EOF'
import sys, urllib.request
req = urllib.request.Request("http://%s%s" % (sys.argv[1], sys.argv[2]), data=sys.argv[3].encode("utf-8"),
                             headers={"Content-Type": "application/json"}, method="POST")
with urllib.request.urlopen(req, timeout=10) as r:
    sys.stdout.write(r.read().decode("utf-8"))
EOF
}

echo "== oltra-netsim.exe"
wine "$(winpath "$netsim")" --port 0 --console 127.0.0.1:0 --ready-file "$(winpath "$work")\\port" \
    --request-log "$(winpath "$work")\\requests.jsonl" --tape "$(winpath "$work")\\tape.txt" \
    --clock "2026-12-08 10:00:00" >"$work/netsim.out" 2>"$work/netsim.err" &
sim_pid=$!
for _ in $(seq 300); do [ -s "$work/port" ] && grep -q '^console on ' "$work/netsim.out" && break; sleep 0.1; done
if [ ! -s "$work/port" ]; then
    echo "simulator did not start"; cat "$work/netsim.out" "$work/netsim.err"; exit 1
fi
cat "$work/netsim.out"
port=$(tr -dc 0-9 <"$work/port")
console=$(sed -n 's|^console on http://\([^/]*\)/.*|\1|p' "$work/netsim.out" | tr -d '\r')
check "listening on 127.0.0.1:$port" grep -q "^oltra-netsim listening on http://127.0.0.1:$port/" "$work/netsim.out"
check "console address printed" [ -n "$console" ]

echo "== the MSVC-layout host with the DLL"
timeout 240 wine "$(winpath "$host")" "$(winpath "$dll")" "127.0.0.1:$port" >"$work/host.out" 2>"$work/host.err"
rc=$?
cat "$work/host.out"
check "host exits with 0" [ "$rc" -eq 0 ]
check "host: every check passed" grep -q ' passed, 0 failed' "$work/host.out"
receipt='"body":"{\"F\":[{\"S\":{\"code\":891568578,\"name\":\"abc\",\"qty\":2.000,\"price\":10.50,\"sum\":20.00,\"dep\":1,\"grp\":1,\"tax\":1}},{\"D\":{\"sum\":-1.00,\"all\":0}},{\"P\":{\"no\":1, \"sum\" : 20.00}}]}"'
check "the simulator received the documented receipt once" [ "$(grep -cF -- "$receipt" "$work/requests.jsonl")" = 1 ]

if [ -n "$linux_host" ]; then
    echo "== the Linux add-in host with the Linux library"
    TMPDIR="$work" "$linux_host" "$linux_library" set IP "str:127.0.0.1:$port" --script "$script" >"$work/linux.out" 2>&1
    rc=$?
    tail -n 12 "$work/linux.out"
    check "Linux host exits with 0" [ "$rc" -eq 0 ]
    check "the guide's receipt on the tape" grep -q 'Кава мелена 250 г' "$work/tape.txt"
fi

echo "== the console"
get / >"$work/page.html"
check "the page" grep -qi '<html' "$work/page.html"
get /api/state >"$work/state.json"
check "the state: JSON with the fiscal part" python3 -c 'import json,sys; s=json.load(open(sys.argv[1])); assert "fiscal" in s and "display" in s' "$work/state.json"
get '/api/tape?since=0' >"$work/tape.json"
check "the tape through the console" grep -q 'abc' "$work/tape.json"
get /api/faults >"$work/faults.json"
check "the faults list challenge-first" grep -q '"challenge-first"' "$work/faults.json"
post /api/faults '{"name":"always-401","on":true,"value":""}' >"$work/switch.json"
check "a fault switched on" python3 -c 'import json,sys; f=[x for x in json.load(open(sys.argv[1]))["faults"] if x["name"]=="always-401"]; assert f and f[0]["on"]' "$work/switch.json"
status=$(python3 -c 'import sys,urllib.request,urllib.error
try: urllib.request.urlopen("http://127.0.0.1:%s/cgi/state.php" % sys.argv[1], timeout=10); print(200)
except urllib.error.HTTPError as e: print(e.code)' "$port")
check "the register then refuses the login (401)" [ "$status" = 401 ]
post /api/faults '{"name":"always-401","on":false,"value":""}' >/dev/null

echo "failures: $failures"
[ "$failures" -eq 0 ]
