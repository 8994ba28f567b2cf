#!/usr/bin/env bash
# Figures for the 1C add-in against the simulated network register on loopback: receipts
# per second, HTTP requests per receipt, time per request beside a plain POCO client.
#   scripts/bench-addin.sh [--receipts N] [--auth digest|basic|none] [--compare-challenge-only] [--challenge-first]
# --compare-challenge-only also prints requests per receipt and receipts per second with
# the credentials as the driver sends them and with credentials only after a challenge;
# --challenge-first makes the simulated register take credentials only after a challenge.
# Builds what it needs in build/native (RelWithDebInfo) first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
B=${BUILD_ROOT:-$root/build}
cmake -S "$root" -B "$B/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$B/native" --target addin-bench -j"${JOBS:-2}" >/dev/null
cd "$B/native"
TMPDIR=$(mktemp -d)
trap 'rm -rf "$TMPDIR"' EXIT
export TMPDIR
exec_status=0
"$B/native/tools/addin-bench" "$@" || exec_status=$?
exit $exec_status
