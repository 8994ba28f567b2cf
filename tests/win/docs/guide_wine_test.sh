#!/usr/bin/env bash
# Section 2 of docs/simulators.md, done as written on a fresh Wine prefix: its shell
# blocks are taken from the page and run in a folder that looks like the source tree
# (build/native/... the simulator, build/win/comserver/PELTRA44.exe, docs/ the guide's
# own files). The first block runs in the background as the simulator's terminal; the
# next two run in one shell, with the pty path the simulator printed in place of the
# guide's /dev/pts/7. The receipt must come out as the guide shows, with exit status 0.
# Usage: guide_wine_test.sh SIMULATOR PELTRA44.exe DOCS_DIR RUN_DIR
set -u
sim=$1 exe=$2 docs=$3 run=$4

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

failures=0
ok() { echo "ok $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
check() { local d=$1; shift; if "$@"; then ok "$d"; else fail "$d"; fi; }
has() { grep -qxF -- "$2" "$1"; }

prefix=$run/build/guide-prefix
sim_pid=
cleanup() {
    # The block runs the simulator as a child of its shell: end both.
    if [ -n "$sim_pid" ]; then
        pkill -P "$sim_pid" 2>/dev/null
        kill "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
    fi
    if [ -d "$prefix" ]; then
        WINEPREFIX=$prefix wineserver -k 2>/dev/null
        WINEPREFIX=$prefix wineserver -w 2>/dev/null
    fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# A fresh prefix each time: the guide's steps must hold on one.
rm -rf "$run"
mkdir -p "$run/build/native/simulators/serialreg" "$run/build/win/comserver"
ln -s "$sim" "$run/build/native/simulators/serialreg/peltra-serialsim"
cp "$exe" "$run/build/win/comserver/PELTRA44.exe"
ln -s "$docs" "$run/docs"

# The shell blocks of section 2, indentation of the list removed: $run/block.N
awk -v dir="$run" '
    /^## 2\. / { in2 = 1; next }
    /^##/ && in2 && !/^## 2\. / { in2 = 0 }
    !in2 { next }
    /^ *```sh$/ { n++; code = 1; printf "" > (dir "/block." n); next }
    code && /^ *```$/ { code = 0; next }
    code { sub(/^   /, ""); print > (dir "/block." n) }
' "$docs/simulators.md"
for n in 1 2 3; do
    [ -s "$run/block.$n" ] || { echo "FAIL section 2 of simulators.md has no shell block $n"; exit 1; }
    echo "== block $n"; cat "$run/block.$n"
done

cd "$run" || exit 1
bash block.1 >sim.out 2>&1 &
sim_pid=$!
pty=
for _ in $(seq 100); do
    pty=$(sed -n 's/^PTY //p' sim.out 2>/dev/null)
    [ -n "$pty" ] && break
    sleep 0.1
done
if [ -z "$pty" ]; then echo "FAIL the simulator did not start:"; cat sim.out; exit 1; fi
check "block 2 points COM5 at the guide's /dev/pts/7" grep -q '/dev/pts/7' block.2
sed "s|/dev/pts/7|$pty|g" block.2 >steps.sh
cat block.3 >>steps.sh

# The second terminal. A prefix whose set-up is not waited for hangs its first program
# for minutes: the steps get a bound well above their usual half minute.
echo "== steps 2 and 3"
timeout 600 bash steps.sh >steps.out 2>steps.err
status=$?
iconv -f CP866 -t UTF-8 steps.out | tr -d '\r' >steps.txt
cat steps.txt
check "steps 2 and 3 end (status $status)" [ "$status" -ne 124 ]
for line in "Register: PELTRA-SIM" "State: 0x2000" "Receipt total: 25900" "Change: 4100" "DONE" "exit status 0"; do
    check "as the guide shows: $line" has steps.txt "$line"
done
check "tape: the receipt" grep -q '^ФІСКАЛЬНИЙ ЧЕК No 1' tape.txt
check "tape: the change" has tape.txt "РЕШТА                     41.00"
WINEPREFIX=$prefix WINEDEBUG=-all wine build/guide-prefix/PELTRA44.exe /u >/dev/null 2>&1
echo "failures: $failures"
[ "$failures" -eq 0 ]
