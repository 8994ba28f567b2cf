#!/usr/bin/env bash
# Adversarial soak of the 1C add-in against the simulated network register: a fixed-seed
# run of receipts and cash documents (cash in and out), each with a fault drawn at one of
# its steps (before the POST, on the POST, on the state probe and the display lines after
# the booking, in the journal the driver settles by, a second till selling the identical
# basket on the same register), the cashier's steps on every failure (close again, check
# the tape, CancelCheck, sell again), then the register's journal compared with what the
# host was told. Prints the figures; exits non-zero on a document booked twice, one
# reported sold but absent, one reported not recorded but booked, or one whose wait the
# cashier's CancelCheck did not end.
#   scripts/soak-addin.sh [--receipts N] [--cash N] [--seed S] [--items K] [--auth none|basic|digest] [--quick]
# Default: 2000 receipts and 200 cash documents. Builds what it needs in build/native
# (RelWithDebInfo) first.
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
