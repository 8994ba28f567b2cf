#!/usr/bin/env bash
# Runs the MSVC-layout host on the add-in DLL under 64-bit Wine.
#   run_host.sh HOST.exe DLL PREFIX WORKDIR [NETSIM]
# With NETSIM, the network register simulator runs on a free loopback port for the
# session, and the receipt the register received is compared byte for byte with the
# documented one (from the simulator's request log). The Wine prefix is created on first
# use; the prefix's wineserver and the simulator are ended before the script returns.
set -u
host=$1 dll=$2 prefix=$3 work=$4 netsim=${5:-}
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$work"; mkdir -p "$work"

if [ ! -f "$prefix/system.reg" ]; then
    ( flock 9; [ -f "$prefix/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; } ) 9>"$prefix.lock"
fi

sim_pid=""
cleanup() {
    [ -z "$sim_pid" ] || { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; }
    wineserver -k 2>/dev/null
}
trap cleanup EXIT

address=()
if [ -n "$netsim" ]; then
    "$netsim" --port 0 --ready-file "$work/port" --request-log "$work/requests.jsonl" >"$work/netsim.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
    [ -s "$work/port" ] || { echo "simulator did not start"; cat "$work/netsim.log"; exit 1; }
    address=("127.0.0.1:$(tr -dc 0-9 <"$work/port")")
fi

# Wine takes a Unix path as it is through its Z: drive.
winpath() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }
start=$SECONDS
timeout 240 wine "$(winpath "$host")" "$(winpath "$dll")" "${address[@]}" >"$work/host.out" 2>"$work/host.err"
rc=$?
cat "$work/host.out"
echo "host: exit $rc after $((SECONDS - start)) s"
[ "$rc" -eq 0 ] || { grep -v '^$' "$work/host.err" | head -n 20; }
grep -q ' passed, 0 failed$' "$work/host.out" || rc=1

if [ -n "$netsim" ]; then
    # The receipt of the documented example, as the register received it (JSON-escaped).
    receipt='"body":"{\"F\":[{\"S\":{\"code\":891568578,\"name\":\"abc\",\"qty\":2.000,\"price\":10.50,\"sum\":20.00,\"dep\":1,\"grp\":1,\"tax\":1}},{\"D\":{\"sum\":-1.00,\"all\":0}},{\"P\":{\"no\":1, \"sum\" : 20.00}}]}"'
    n=$(grep -cF -- "$receipt" "$work/requests.jsonl" 2>/dev/null)
    if [ "${n:-0}" = 1 ]; then
        echo "ok    the register received the documented receipt byte for byte"
    else
        echo "FAIL  the register received the documented receipt ${n:-0} times; POSTs it received:"
        grep '"method":"POST"' "$work/requests.jsonl" | head -n 10
        rc=1
    fi
fi
exit "$rc"
