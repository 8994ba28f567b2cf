#!/bin/sh
# Runs the Windows serial port test against the native register simulator: starts the
# simulator on a pty, maps COM57 of the Wine prefix to it, runs the test, stops the
# simulator.
# Usage: run_with_sim.sh SIMULATOR WINE_RUN PREFIX TEST_EXE
set -u
sim=$1 winerun=$2 prefix=$3 exe=$4
com=com57
if [ ! -f "$prefix/system.reg" ]; then
    "$winerun" "$prefix" "$exe" --gtest_list_tests >/dev/null 2>&1 || true
fi
fifo=$(mktemp -u "${TMPDIR:-/tmp}/serialsim.XXXXXX")
mkfifo "$fifo" || exit 1
"$sim" --clock "2016-07-24 10:20:30" --frozen-clock --fault silence,cmd=0E >"$fifo" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -f "$fifo" "$prefix/dosdevices/$com"' EXIT INT TERM
read -r word pty <"$fifo"
if [ "$word" != PTY ] || [ -z "$pty" ]; then
    echo "simulator did not start"; exit 1
fi
mkdir -p "$prefix/dosdevices"
ln -sfn "$pty" "$prefix/dosdevices/$com"
SERIALSIM_PORT=COM57 "$winerun" "$prefix" "$exe"
