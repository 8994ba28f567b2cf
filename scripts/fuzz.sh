#!/usr/bin/env bash
# Builds the fuzz tree (-DFUZZ=ON, clang) and runs each registered fuzz target briefly.
#   scripts/fuzz.sh [SECONDS]     default 20 s per target
# Environment: BUILD_ROOT (default ./build; the tree is $BUILD_ROOT/fuzz), JOBS (default
# 2), FUZZ_CC/FUZZ_CXX (default clang/clang++), FUZZ_SECONDS.
# The targets are the add_fuzz_target calls (cmake/Fuzzing.cmake); each starts from its
# seeds and a corpus of its own kept in the tree. Exits non-zero when the tree does not
# build, lists no target, or a target finds a fault.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
B=${BUILD_ROOT:-$root/build}
J=${JOBS:-2}
secs=${1:-${FUZZ_SECONDS:-20}}
out="$B/fuzz"
mkdir -p "$out"

log="$out/build.log"
if ! { cmake -S "$root" -B "$out" -DFUZZ=ON -DCMAKE_BUILD_TYPE=Debug \
           -DCMAKE_C_COMPILER="${FUZZ_CC:-clang}" -DCMAKE_CXX_COMPILER="${FUZZ_CXX:-clang++}" &&
       cmake --build "$out" -j"$J"; } >"$log" 2>&1; then
    grep -E -B2 -A12 'error|Error' "$log" | head -n 100
    echo "fuzz: the fuzz tree does not build (full log: $log)"
    exit 1
fi
grep -E 'warning:' "$log" | sort -u | head -n 40 || true

list="$out/fuzz-targets.txt"
if [ ! -s "$list" ]; then
    echo "fuzz: no fuzz targets registered"
    exit 1
fi

rc=0
while read -r name program seeds maxlen; do
    corpus="$out/corpus/$name"
    mkdir -p "$corpus"
    echo "fuzz: running $name for ${secs}s"
    ( cd "$out" && "$program" -max_total_time="$secs" -max_len="$maxlen" -print_final_stats=1 \
          "$corpus" "$seeds" ) >"$out/$name.log" 2>&1
    status=$?
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done)' "$out/$name.log" || true
    if [ $status -ne 0 ]; then
        tail -n 60 "$out/$name.log"
        echo "fuzz: $name failed (exit $status, full log: $out/$name.log)"; rc=1
    else
        echo "fuzz: $name ok"
    fi
done <"$list"
exit $rc
