#!/usr/bin/env bash
# Every command-line option that the guide names (a word "--name" in docs/*.md) must be
# one that a program of ours lists in its --help: the two simulators and addin-host.
# Lines that run cmake are left out (its options are its own).
# Usage: check_options.sh DOCS_DIR oltra-netsim peltra-serialsim addin-host
set -u
docs=$1; shift
known=$(for program in "$@"; do "$program" --help 2>&1; done | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u)
failures=0
for option in $(cat "$docs"/*.md | grep -v 'cmake ' | grep -oE -- '(^|[^a-z0-9-])--[a-z][a-z0-9-]*' | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u); do
    if grep -qxF -- "$option" <<<"$known"; then
        echo "ok $option"
    else
        echo "FAIL the guide names $option, which no program lists in its --help"
        failures=$((failures + 1))
    fi
done
echo "failures: $failures"
[ "$failures" -eq 0 ]
