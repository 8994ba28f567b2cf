#!/usr/bin/env bash
# Soak of the 1C add-in against the simulated network register: a fixed-seed run of many
# receipts with faults drawn at random for each CloseCheck (answer dropped after the
# receipt is recorded, stall past the time-out, 500, broken JSON, deflate, a 401 loop,
# connection reset, HTML answers), then the register's journal compared with what the
# host was told. Prints the figures; exits non-zero on a receipt recorded twice, one
# reported successful but missing, or one reported failed but recorded that the driver
# could have known about or that the next CloseCheck did not settle.
#   scripts/soak-addin.sh [--receipts N] [--seed S] [--items K] [--auth none|basic|digest]
# Default: 2000 receipts. Builds what it needs in build/native (RelWithDebInfo) first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
B=${BUILD_ROOT:-$root/build}
cmake -S "$root" -B "$B/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$B/native" --target addin-soak -j"${JOBS:-2}" >/dev/null
TMPDIR=$(mktemp -d)
trap 'rm -rf "$TMPDIR"' EXIT
export TMPDIR
status=0
"$B/native/tools/addin-soak" "$@" || status=$?
exit $status
