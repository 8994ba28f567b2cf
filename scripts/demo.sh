#!/usr/bin/env bash
# The main job: builds the native tree and shows the add-in loading in a host.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
B=${BUILD_ROOT:-$root/build}
[ "${SKIP_SETUP:-0}" = 1 ] || bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$B/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$B/native" -j"${JOBS:-2}" >/dev/null
"$B/native/tools/addin-host" --list "$B/native/addin/libOltranative_x64.so"
