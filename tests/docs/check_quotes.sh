#!/usr/bin/env bash
# The guide quotes its examples: a line "<!-- quote: examples/FILE -->" in a page of
# docs/ is followed by a fenced code block whose text must equal docs/examples/FILE.
# Every file of docs/examples must be quoted at least once, and README.md must link
# every page of docs/.
# Usage: check_quotes.sh REPOSITORY_ROOT
set -u
root=$1
docs=$root/docs
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

quoted=()
for page in "$docs"/*.md; do
    # Writes each quoted block to $tmp/N.block and its file name to $tmp/N.name.
    rm -f "$tmp"/*.block "$tmp"/*.name
    awk -v dir="$tmp" '
        /^<!-- quote: .* -->$/ { name = $3; n++; print name > (dir "/" n ".name"); want = 1; next }
        want == 1 && /^```/ { want = 2; printf "" > (dir "/" n ".block"); next }
        want == 1 { print "missing code block after the quote of " name > "/dev/stderr"; want = 0 }
        want == 2 && /^```$/ { want = 0; next }
        want == 2 { print > (dir "/" n ".block") }
    ' "$page" || fail "$page: cannot be read"
    for name_file in "$tmp"/*.name; do
        [ -e "$name_file" ] || continue
        name=$(cat "$name_file")
        block=${name_file%.name}.block
        quoted+=("$name")
        if [ ! -f "$docs/$name" ]; then
            fail "$(basename "$page") quotes $name, which does not exist"
        elif [ ! -f "$block" ]; then
            fail "$(basename "$page"): no code block after the quote of $name"
        elif ! diff -u "$docs/$name" "$block" >"$tmp/diff"; then
            fail "$(basename "$page"): the quote of $name differs from the file:"
            cat "$tmp/diff"
        else
            echo "ok $(basename "$page") quotes $name"
        fi
    done
done

for file in "$docs"/examples/*; do
    name=examples/$(basename "$file")
    printf '%s\n' "${quoted[@]}" | grep -qxF "$name" || fail "$name is quoted by no page"
done
for page in "$docs"/*.md; do
    grep -qF "(docs/$(basename "$page"))" "$root/README.md" || fail "README.md does not link docs/$(basename "$page")"
done
echo "failures: $failures"
[ "$failures" -eq 0 ]
