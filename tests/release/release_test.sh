#!/usr/bin/env bash
# The release folder passes its check, and the check fails on a copy of it with one fault
# each: a changed byte in a program, a wrong line in SHA256SUMS, a file missing, a file
# too many, a package of another program.
#   release_test.sh RELEASE_DIR SOURCE_ROOT
# Prints one "ok"/"FAIL" line per case and "failures: N".
set -u
dir=$1 src=$2
here=$(cd "$(dirname "$0")" && pwd)
failures=0
ok() { echo "ok $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== $dir"
if bash "$here/check_release.sh" "$dir" "$src"; then ok "release folder"; else fail "release folder"; fi

# faulty NAME COMMAND...: the check must fail on a copy changed by COMMAND (run in it).
faulty() {
    local name=$1; shift
    rm -rf "$work/copy"
    cp -a "$dir" "$work/copy"
    (cd "$work/copy" && "$@")
    if bash "$here/check_release.sh" "$work/copy" "$src" >"$work/out" 2>&1; then
        fail "check passes with $name"
    else
        ok "check fails with $name: $(grep '^FAIL' "$work/out" | head -n 2 | tr '\n' ' ')"
    fi
}
flip_byte() { printf 'X' | dd of="$1" bs=1 seek=$(( $(stat -c %s "$1") / 2 )) conv=notrunc status=none; }
other_sum() { sed -i -E "s/^[0-9a-f]{64}(  Oltranative.zip)$/$(printf '0%.0s' $(seq 64))\1/" SHA256SUMS; }
resum() { find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs -d '\n' sha256sum >SHA256SUMS; }

faulty "a changed byte in PELTRA44.exe" flip_byte PELTRA44.exe
faulty "a wrong checksum line" other_sum
faulty "oltra-netsim.exe missing" rm simulators/windows-x64/oltra-netsim.exe
faulty "a file too many (checksummed)" sh -c 'echo x >notes.txt && '"$(declare -f resum)"' && resum'
faulty "PELTRA44.exe changed and checksummed again" sh -c "$(declare -f flip_byte resum); flip_byte PELTRA44.exe; resum"

echo "failures: $failures"
[ "$failures" -eq 0 ]
