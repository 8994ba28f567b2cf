#!/usr/bin/env bash
# Builds everything and runs every test.
#   scripts/test.sh            all stages: format, native, asan, tsan, win, win64, release, fuzz
#   scripts/test.sh native win only the named stages
# Stages:
#   format  clang-format --dry-run --Werror over the tracked C/C++ files (.clang-format);
#           lists the files that are not formatted
#   native  Linux build (add-in, network client, serial protocol, simulators, tools) + tests
#   asan    the same tests again under AddressSanitizer and UndefinedBehaviorSanitizer
#   tsan    ThreadSanitizer build (build/tsan) of one test only: four add-in components on
#           four threads, each against a simulator of its own (tests/addin_threads)
#   win     mingw-w64 i686 build of PELTRA44 and its tests, run under Wine with Xvfb
#   win64   mingw-w64 x86_64 build of the add-in DLL, driven under 64-bit Wine by the
#           MSVC-layout host against the network simulator (the Linux one and the
#           tree's own oltra-netsim.exe, which the Linux add-in host drives too); the package with both
#           add-in libraries (build/win64/addin/Oltranative.zip)
#   release scripts/release.sh (reusing the native, win and win64 trees) writes
#           build/release/; tests/release/release_test.sh checks it: the files, SHA256SUMS,
#           and that the check fails on a folder with a wrong file or checksum
#   fuzz    clang build of the fuzz targets (build/fuzz) and a short libFuzzer run of each
# The add-in's trees link a static POCO built once from Debian's sources and kept in
# build/poco (scripts/build-poco.sh).
# Environment: BUILD_ROOT (default ./build), JOBS (default 2), SKIP_SETUP=1.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
B=${BUILD_ROOT:-$root/build}
J=${JOBS:-2}
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(format native asan tsan win win64 release fuzz)

if [ "${SKIP_SETUP:-0}" != 1 ]; then
    bash "$root/scripts/setup.sh" || exit 1
fi

total_pass=0; total_fail=0; failed_stages=()

# Native tests run in a network namespace of their own with only the loopback interface:
# the tests that search for registers by SSDP then reach nothing outside this machine
# (the discovery tests build their own networks of namespaces and veth pairs).
netjail=()
if [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
    netjail=(unshare -n sh -c 'ip link set lo up && exec "$@"' netjail)
else
    echo "note: not root, so the native tests run in this machine's network namespace"
fi

# tally PASSED FAILED: adds a stage's counts to the totals.
tally() { total_pass=$((total_pass + $1)); total_fail=$((total_fail + $2)); }

# tally_ctest STAGE LOG [EMPTY_OK]: adds the counts of the last "N% tests passed, F tests
# failed out of M" line of a ctest log. A log without one counts as one failure, except
# that with EMPTY_OK a log saying no tests were found counts nothing.
tally_ctest() {
    local stage=$1 log=$2 empty_ok=${3:-}
    local line; line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -n "$line" ]; then
        local failed all
        failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
        all=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
        tally $((all - failed)) "$failed"
    elif [ -n "$empty_ok" ] && grep -q 'No tests were found' "$log"; then
        echo "$stage: no tests"
    else
        tally 0 1
    fi
}

# fail STAGE: the stage failed without a test count of its own (one failure).
fail() { failed_stages+=("$1"); tally 0 1; }

# run_ctest STAGE DIR [ctest args...]: runs ctest (native tests in the network namespace).
run_ctest() {
    local stage=$1 dir=$2; shift 2
    local log="$B/$stage-ctest.log"
    "${netjail[@]}" ctest --test-dir "$dir" -j"$J" --output-on-failure --timeout 600 "$@" 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    tally_ctest "$stage" "$log" empty-ok
    [ "$rc" -eq 0 ] || failed_stages+=("$stage")
}

# build STAGE DIR [cmake args...]: configures and builds a tree; its warnings are shown.
build() {
    local stage=$1 dir=$2; shift 2
    local log="$B/$stage-build.log"
    if ! { cmake -S "$root" -B "$dir" "$@" && cmake --build "$dir" -j"$J"; } >"$log" 2>&1; then
        grep -E -B2 -A12 'error|Error' "$log" | head -n 150
        echo "$stage: build failed (full log: $log)"
        fail "$stage"; return 1
    fi
    grep -E 'warning:' "$log" | sort -u | head -n 40 || true
}

# poco TARGET: the static POCO build for a tree (reused when cached), timed.
poco() {
    BUILD_ROOT="$B" JOBS="$J" bash "$root/scripts/build-poco.sh" "$1" || {
        echo "static POCO ($1): build failed"; fail "poco-$1"; return 1; }
}

# The C/C++ files of the repository (two of them CMake templates); none is generated or
# another project's.
format_files() {
    git -C "$root" ls-files -- '*.cpp' '*.h' '*.c' 'addin/addin_version.h.in' 'simulators/console/page.cpp.in'
}

stage_format() {
    local files; mapfile -t files < <(format_files)
    if ! command -v clang-format >/dev/null || [ ${#files[@]} -eq 0 ]; then
        echo "format: clang-format or the list of tracked files is missing"; fail format; return
    fi
    local log="$B/format.log" rc bad
    (cd "$root" && clang-format --dry-run --Werror "${files[@]}") >"$log" 2>&1
    rc=$?
    bad=$(grep -oE '^[^:]+:[0-9]+:[0-9]+: (error|warning):' "$log" | cut -d: -f1 | sort -u)
    if [ -n "$bad" ]; then
        echo "format: $(wc -l <<<"$bad") of ${#files[@]} files are not formatted (clang-format -i FILE...):"
        sed 's/^/  /' <<<"$bad"
        fail format
    elif [ "$rc" -ne 0 ]; then
        head -n 20 "$log"; echo "format: clang-format failed (log: $log)"
        fail format
    else
        echo "format: ${#files[@]} files formatted"
        tally 1 0
    fi
}

stage_native() {
    poco linux && build native "$B/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo && run_ctest native "$B/native"
}

stage_asan() {
    poco linux && build asan "$B/asan" -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON &&
        ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_ctest asan "$B/asan"
}

# Only the threads test and what it needs. A race report makes the test process exit 66,
# so the test fails (the report is in the ctest output).
stage_tsan() {
    poco linux || return
    if ! { cmake -S "$root" -B "$B/tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE=thread &&
           cmake --build "$B/tsan" -j"$J" --target addin_threads_test; } >"$B/tsan-build.log" 2>&1; then
        grep -E -B2 -A12 'error|Error' "$B/tsan-build.log" | head -n 150
        echo "tsan: build failed (full log: $B/tsan-build.log)"
        fail tsan; return
    fi
    grep -E 'warning:' "$B/tsan-build.log" | sort -u | head -n 40 || true
    TSAN_OPTIONS="halt_on_error=0 second_deadlock_stack=1 suppressions=$root/tests/addin_threads/tsan.supp" \
        run_ctest tsan "$B/tsan" -L threads
}

stage_win() {
    build win "$B/win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo || return
    # One display for the whole run; the prefix's wineserver is ended afterwards so
    # nothing lingers.
    local log="$B/win-ctest.log"
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        ctest --test-dir "$1" -j"$2" --output-on-failure --timeout 600; rc=$?
        WINEPREFIX="$1/wineprefix" wineserver -k 2>/dev/null
        exit $rc' _ "$B/win" "$J" 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    tally_ctest win "$log"
    [ "$rc" -eq 0 ] || failed_stages+=(win)
}

# The tests need the native tree's network simulator, and the package takes the native
# tree's Linux library beside the DLL: build those two targets first.
stage_win64() {
    poco linux && poco mingw64 || return
    if ! { cmake -S "$root" -B "$B/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
           cmake --build "$B/native" -j"$J" --target oltra-netsim Oltranative_x64 addin-host; } \
            >"$B/win64-native-build.log" 2>&1; then
        tail -n 40 "$B/win64-native-build.log"; echo "win64: native parts failed"; failed_stages+=(win64); return
    fi
    build win64 "$B/win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DOLTRA_NETSIM="$B/native/simulators/netreg/oltra-netsim" \
        -DOLTRA_PACKAGE_LINUX_LIBRARY="$B/native/addin/libOltranative_x64.so" \
        -DOLTRA_ADDIN_HOST="$B/native/tools/addin-host" &&
        run_ctest win64 "$B/win64"
}

stage_release() {
    local log="$B/release-test.log"
    if ! BUILD_ROOT="$B" JOBS="$J" bash "$root/scripts/release.sh" >"$B/release.log" 2>&1; then
        tail -n 40 "$B/release.log"; echo "release: scripts/release.sh failed (log: $B/release.log)"
        fail release; return
    fi
    cat "$B/release.log"
    bash "$root/tests/release/release_test.sh" "$B/release" "$root" 2>&1 | tee "$log"
    [ "${PIPESTATUS[0]}" -eq 0 ] || failed_stages+=(release)
    tally "$(grep -c '^ok ' "$log")" "$(grep -c '^FAIL ' "$log")"
}

stage_fuzz() {
    BUILD_ROOT="$B" JOBS="$J" "$root/scripts/fuzz.sh" || fail fuzz
}

mkdir -p "$B"
for stage in "${stages[@]}"; do
    echo "=== $stage"
    case $stage in
    format|native|asan|tsan|win|win64|release|fuzz) "stage_$stage" ;;
    *) echo "unknown stage: $stage"; exit 2 ;;
    esac
done

echo
if [ ${#failed_stages[@]} -gt 0 ]; then
    echo "failed stages: ${failed_stages[*]}"
fi
echo "all: $total_pass passed, $total_fail failed"
[ ${#failed_stages[@]} -eq 0 ] && [ "$total_fail" -eq 0 ]
