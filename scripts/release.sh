#!/usr/bin/env bash
# Builds everything a release holds and writes the release folder:
#   scripts/release.sh              builds (or brings up to date) the native, Windows and
#                                   Windows x64 trees, then writes build/release/
# What the folder holds, and which file each reader takes, is in the README ("Release").
# The trees are the test command's own (scripts/test.sh): what they hold already is
# reused, nothing is built twice. tests/release/check_release.sh checks the folder.
# Environment: BUILD_ROOT (default ./build), JOBS (default 2), RELEASE_DIR (default
# BUILD_ROOT/release).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
B=${BUILD_ROOT:-$root/build}
J=${JOBS:-2}
out=${RELEASE_DIR:-$B/release}

step() { echo "release: $*"; }
# tree DIR TARGETS... -- CMAKE-ARGS...: configures DIR (a no-op when it is configured the
# same way) and builds the targets; the log goes to DIR-release.log.
tree() {
    local dir=$1; shift
    local targets=()
    while [ "$1" != -- ]; do targets+=("$1"); shift; done
    shift
    local log="$dir-release.log"
    if ! { cmake -S "$root" -B "$dir" "$@" && cmake --build "$dir" -j"$J" --target "${targets[@]}"; } >"$log" 2>&1; then
        tail -n 40 "$log"
        echo "release: building ${targets[*]} in $dir failed (log: $log)" >&2
        exit 1
    fi
}

BUILD_ROOT="$B" JOBS="$J" bash "$root/scripts/build-poco.sh" linux >/dev/null
BUILD_ROOT="$B" JOBS="$J" bash "$root/scripts/build-poco.sh" mingw64 >/dev/null

step "native tree: the Linux add-in library and simulators"
tree "$B/native" Oltranative_x64 oltra-netsim peltra-serialsim addin-host -- -DCMAKE_BUILD_TYPE=RelWithDebInfo
step "Windows tree: PELTRA44.exe and PELTRA44.msi"
tree "$B/win" PELTRA44 peltra44_msi -- -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo
step "Windows x64 tree: the add-in package and the network simulator"
tree "$B/win64" oltra_package oltra-netsim -- -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DOLTRA_NETSIM="$B/native/simulators/netreg/oltra-netsim" \
    -DOLTRA_PACKAGE_LINUX_LIBRARY="$B/native/addin/libOltranative_x64.so" \
    -DOLTRA_ADDIN_HOST="$B/native/tools/addin-host"

step "writing $out"
rm -rf "$out"
mkdir -p "$out/simulators/linux-x86_64" "$out/simulators/windows-x64" "$out/guides/examples"
cp "$B/win64/addin/Oltranative.zip" "$out/"
cp "$B/win/comserver/installer/PELTRA44.msi" "$B/win/comserver/PELTRA44.exe" "$out/"
cp "$B/native/simulators/netreg/oltra-netsim" "$B/native/simulators/serialreg/peltra-serialsim" \
    "$out/simulators/linux-x86_64/"
# The Linux simulators without their debugging sections (the tree keeps them).
strip "$out/simulators/linux-x86_64/"*
cp "$B/win64/simulators/netreg/oltra-netsim.exe" "$out/simulators/windows-x64/"
cp "$root"/docs/*.md "$out/guides/"
cp "$root"/docs/examples/* "$out/guides/examples/"
cp "$root/CHANGELOG.md" "$out/"
(cd "$out" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs -d '\n' sha256sum >SHA256SUMS)
step "done:"
(cd "$out" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | while read -r f; do
    printf '  %-44s %10s bytes\n' "$f" "$(stat -c %s "$f")"; done)
