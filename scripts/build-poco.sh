#!/usr/bin/env bash
# POCO as static libraries (Foundation, Net and JSON only), built from Debian's source
# package, for the add-in's self-contained builds.
#   scripts/build-poco.sh fetch     the source package into $BUILD_ROOT/poco/src
#   scripts/build-poco.sh linux     Linux x86_64, position-independent code (the .so)
#   scripts/build-poco.sh mingw64   Windows x86_64 with mingw-w64 (the DLL)
# Each build installs into $BUILD_ROOT/poco/<target>/install and is reused while its
# stamp matches the recipe below and the source version; remove the directory to redo it.
# The source needs a deb-src entry for bookworm (scripts/setup.sh adds one).
# Environment: BUILD_ROOT (default ./build), JOBS (default 2).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
B=${BUILD_ROOT:-$root/build}
J=${JOBS:-2}
P="$B/poco"
what=${1:-}
# Bump when the build options below change, so cached builds are redone.
RECIPE=1

log() { echo "build-poco: $*"; }

# Unpacks the source once; later calls find it in place.
fetch() {
    local src
    src=$(ls -d "$P"/src/poco-*/ 2>/dev/null | head -n 1 || true)
    if [ -n "$src" ] && [ -f "$src/.unpacked" ]; then
        echo "${src%/}"; return 0
    fi
    mkdir -p "$P/dl" "$P/src"
    if ! ls "$P"/dl/poco_*.dsc >/dev/null 2>&1; then
        log "downloading Debian's source package" >&2
        # As root, apt drops to its own user for downloads, which can't write here.
        local sandbox=()
        [ "$(id -u)" -ne 0 ] || sandbox=(-o APT::Sandbox::User=root)
        (cd "$P/dl" && apt-get source --download-only -qq "${sandbox[@]}" poco) >&2 || {
            echo "build-poco: apt-get source poco failed (is there a deb-src entry? run scripts/setup.sh)" >&2
            return 1
        }
    fi
    local dsc version
    dsc=$(ls "$P"/dl/poco_*.dsc | head -n 1)
    version=$(sed -n 's/^Version: \([0-9.]*\).*/\1/p' "$dsc")
    src="$P/src/poco-$version"
    rm -rf "$src"
    dpkg-source --no-check -x "$dsc" "$src" >/dev/null
    patch_source "$src"
    touch "$src/.unpacked"
    echo "$src"
}

# Fixes for the mingw-w64 build, applied to our unpacked copy.
patch_source() {
    local src=$1
    # <wincrypt.h> defines TIMESTAMP_REQUEST as a macro, which breaks this enum.
    local icmp="$src/Net/include/Poco/Net/ICMPv4PacketImpl.h"
    if ! grep -q 'undef TIMESTAMP_REQUEST' "$icmp"; then
        sed -i '0,/^\(\s*\)enum MessageType/s//#ifdef TIMESTAMP_REQUEST\n#undef TIMESTAMP_REQUEST\n#endif\n&/' "$icmp"
        grep -q 'undef TIMESTAMP_REQUEST' "$icmp" || { echo "build-poco: cannot patch $icmp" >&2; return 1; }
    fi
}

# POCO includes <Winsock2.h> and <Iphlpapi.h>; mingw-w64's headers are lower case.
# These forwarders go into the installed include directory, so code that includes POCO's
# headers finds them as well.
write_case_forwarders() {
    local dir=$1
    mkdir -p "$dir"
    printf '#pragma once\n#include <winsock2.h>\n' >"$dir/Winsock2.h"
    printf '#pragma once\n#include <iphlpapi.h>\n' >"$dir/Iphlpapi.h"
}

build() {
    local target=$1 src=$2
    local dir="$P/$target" stamp key
    key="recipe $RECIPE $(basename "$src")"
    stamp="$dir/install/.built"
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$key" ]; then
        log "$target: reusing $dir/install"; return 0
    fi
    rm -rf "$dir"; mkdir -p "$dir"
    local lean="-ffunction-sections -fdata-sections"
    local args=(-S "$src" -B "$dir/build" -DCMAKE_INSTALL_PREFIX="$dir/install"
        -DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_BUILD_TYPE=Release
        -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
        -DBUILD_SHARED_LIBS=OFF -DPOCO_UNBUNDLED=OFF -DENABLE_TESTS=OFF
        -DENABLE_FOUNDATION=ON -DENABLE_NET=ON -DENABLE_JSON=ON)
    local off
    for off in ENCODINGS ENCODINGS_COMPILER XML MONGODB REDIS PDF UTIL ZIP SEVENZIP \
        DATA DATA_SQLITE DATA_MYSQL DATA_POSTGRESQL DATA_ODBC ACTIVERECORD ACTIVERECORD_COMPILER \
        NETSSL NETSSL_WIN CRYPTO JWT APACHECONNECTOR CPPPARSER POCODOC PAGECOMPILER \
        PAGECOMPILER_FILE2PAGE; do
        args+=(-DENABLE_$off=OFF)
    done
    case $target in
    linux)
        args+=(-DCMAKE_POSITION_INDEPENDENT_CODE=ON
            -DCMAKE_C_FLAGS="$lean -fvisibility=hidden"
            -DCMAKE_CXX_FLAGS="$lean -fvisibility=hidden -fvisibility-inlines-hidden") ;;
    mingw64)
        write_case_forwarders "$dir/install/include"
        args+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"
            -DCMAKE_C_FLAGS="$lean -I$dir/install/include"
            -DCMAKE_CXX_FLAGS="$lean -I$dir/install/include") ;;
    *) echo "build-poco: unknown target $target (linux or mingw64)" >&2; return 2 ;;
    esac
    log "$target: building in $dir"
    local start=$SECONDS
    if ! { cmake "${args[@]}" && cmake --build "$dir/build" -j"$J" && cmake --install "$dir/build"; } \
        >"$dir/build.log" 2>&1; then
        tail -n 40 "$dir/build.log"
        echo "build-poco: $target failed (full log: $dir/build.log)" >&2
        return 1
    fi
    echo "$key" >"$stamp"
    log "$target: built in $((SECONDS - start)) s"
}

case $what in
fetch) fetch >/dev/null ;;
linux | mingw64) src=$(fetch); build "$what" "$src" ;;
*) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
