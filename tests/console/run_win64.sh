#!/usr/bin/env bash
# Runs the console's tests (a Windows x64 program) under 64-bit Wine.
#   run_win64.sh console_test.exe PREFIX
# The prefix is created on first use; its wineserver is ended before the script returns.
set -u
exe=$1 prefix=$2
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
    ( flock 9; [ -f "$prefix/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; } ) 9>"$prefix.lock"
fi
trap 'wineserver -k 2>/dev/null' EXIT
timeout 240 wine "Z:$(realpath "$exe" | tr / '\\')"
