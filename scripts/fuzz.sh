#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each briefly.
#   scripts/fuzz.sh [SECONDS]     default 30 s per target
# Environment: BUILD_ROOT (default ./build); the targets go to $BUILD_ROOT/fuzz.
# Exits non-zero when a target does not build or finds a crash.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
B=${BUILD_ROOT:-$root/build}
secs=${1:-${FUZZ_SECONDS:-30}}
out="$B/fuzz"
mkdir -p "$out"
CXX=${FUZZ_CXX:-clang++}
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -Wall -Wextra)

# name: sources and include directories
declare -A targets=(
    [link_fuzz]="tests/fuzz/link_fuzz.cpp serialproto/framing.cpp serialproto/link.cpp serialproto/commands.cpp"
)
includes=(-I"$root/serialproto" -I"$root/tests/serialproto")

rc=0
for name in "${!targets[@]}"; do
    srcs=()
    for s in ${targets[$name]}; do srcs+=("$root/$s"); done
    echo "fuzz: building $name"
    if ! "$CXX" "${flags[@]}" "${includes[@]}" "${srcs[@]}" -o "$out/$name"; then
        echo "fuzz: $name does not build"; rc=1; continue
    fi
    corpus="$out/$name-corpus"
    mkdir -p "$corpus"
    seeds="$root/tests/fuzz/seeds/$name"
    echo "fuzz: running $name for ${secs}s"
    ( cd "$out" && "./$name" -max_total_time="$secs" -max_len=1024 -print_final_stats=1 \
          "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) ) >"$out/$name.log" 2>&1
    status=$?
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done)' "$out/$name.log" || true
    if [ $status -ne 0 ]; then
        tail -n 60 "$out/$name.log"
        echo "fuzz: $name failed (exit $status, full log: $out/$name.log)"; rc=1
    else
        echo "fuzz: $name ok"
    fi
done
exit $rc
