#!/usr/bin/env bash
# Every fault kind of the serial register simulator (its table in
# simulators/serialreg/fault_options.cpp) is listed by `peltra-serialsim --help` on a line of
# its own kind: two blanks, the name, at least one blank, its meaning; and the guide
# (docs/simulators.md) names every kind.
# Usage: check_serial_faults.sh REPOSITORY_ROOT peltra-serialsim
set -u
root=$1 sim=$2
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
kinds=$(grep -oE '^ *\{"[a-z][a-z0-9-]*", Fault::' "$root/simulators/serialreg/fault_options.cpp" | grep -oE '"[^"]+"' | tr -d '"')
[ -n "$kinds" ] || fail "no fault kinds found in fault_options.cpp"
help=$("$sim" --help 2>&1)
guide=$root/docs/simulators.md
for kind in $kinds; do
    if grep -qE -- "^  $kind( +[^ ]|$)" <<<"$help"; then
        echo "ok --help lists $kind"
    else
        fail "--help does not list $kind apart from its meaning:"
        grep -F -- "$kind" <<<"$help"
    fi
    if grep -qE -- "\`$kind(\`|=)" "$guide"; then
        echo "ok the guide names $kind"
    else
        fail "docs/simulators.md does not name the fault $kind"
    fi
done
echo "failures: $failures"
[ "$failures" -eq 0 ]
