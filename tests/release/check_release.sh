#!/usr/bin/env bash
# Checks a release folder (scripts/release.sh): the files a release holds and nothing
# else, SHA256SUMS over every one of them, and what each file must be.
#   check_release.sh RELEASE_DIR SOURCE_ROOT
# Prints one "ok"/"FAIL" line per check and "failures: N"; exit status 0 only when
# nothing failed.
set -u
dir=$1 src=$2
failures=0
ok() { echo "ok $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
check() { local d=$1; shift; if "$@" >/dev/null 2>&1; then ok "$d"; else fail "$d"; fi; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\) .*/\1/p' "$src/CMakeLists.txt")
IFS=. read -r major minor patch <<<"$version"
msi_version="$major.$minor.${patch:-0}"

# The files, in order.
expected=(CHANGELOG.md Oltranative.zip PELTRA44.exe PELTRA44.msi SHA256SUMS
    simulators/linux-x86_64/oltra-netsim simulators/linux-x86_64/peltra-serialsim
    simulators/windows-x64/oltra-netsim.exe)
for f in "$src"/docs/*.md; do expected+=("guides/$(basename "$f")"); done
for f in "$src"/docs/examples/*; do expected+=("guides/examples/$(basename "$f")"); done
printf '%s\n' "${expected[@]}" | LC_ALL=C sort >"$work/expected"
(cd "$dir" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$work/present"
missing=$(LC_ALL=C comm -23 "$work/expected" "$work/present")
extra=$(LC_ALL=C comm -13 "$work/expected" "$work/present")
if [ -z "$missing" ]; then ok "every file present (${#expected[@]})"; else fail "missing: $(echo $missing)"; fi
if [ -z "$extra" ]; then ok "no other file"; else fail "not a release file: $(echo $extra)"; fi

# SHA256SUMS: one line per file but itself, each sum right.
if [ -f "$dir/SHA256SUMS" ]; then
    sed -E 's/^[0-9a-f]{64}  //' "$dir/SHA256SUMS" | LC_ALL=C sort >"$work/summed"
    grep -vx SHA256SUMS "$work/present" >"$work/files"
    check "SHA256SUMS names every file once" cmp -s "$work/summed" "$work/files"
    check "SHA256SUMS lines are sums" sh -c "! grep -qvE '^[0-9a-f]{64}  [^ ]' '$dir/SHA256SUMS'"
    if (cd "$dir" && sha256sum --quiet --strict -c SHA256SUMS) >"$work/sums" 2>&1; then
        ok "every checksum right"
    else
        fail "checksums: $(grep -v '^sha256sum: WARNING' "$work/sums" | tr '\n' ' ')"
    fi
fi

# machine FILE: the machine field of a PE file (14c i386, 8664 x86-64), empty otherwise.
machine() {
    [ "$(head -c 2 "$1" 2>/dev/null)" = MZ ] || return 0
    local pe; pe=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
    [ "$(od -An -c -j "$pe" -N 2 "$1" | tr -d ' ')" = PE ] || return 0
    od -An -t x2 -j $((pe + 4)) -N 2 "$1" | tr -d ' '
}
# subsystem FILE: 2 for a window program, 3 for a console one (PE32 and PE32+ alike).
subsystem() {
    local pe; pe=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
    od -An -t u2 -j $((pe + 24 + 68)) -N 2 "$1" | tr -d ' '
}
elf_x86_64() { [ "$(od -An -c -N 4 "$1" | tr -d ' ')" = 177ELF ] && [ "$(od -An -t x2 -j 18 -N 2 "$1" | tr -d ' ')" = 003e ]; }

if [ -f "$dir/PELTRA44.exe" ]; then
    check "PELTRA44.exe: 32-bit Windows program" [ "$(machine "$dir/PELTRA44.exe")" = 014c ]
fi
if [ -f "$dir/simulators/windows-x64/oltra-netsim.exe" ]; then
    check "oltra-netsim.exe: Windows x64 console program" \
        [ "$(machine "$dir/simulators/windows-x64/oltra-netsim.exe")" = 8664 -a "$(subsystem "$dir/simulators/windows-x64/oltra-netsim.exe")" = 3 ]
fi
for f in oltra-netsim peltra-serialsim; do
    [ -f "$dir/simulators/linux-x86_64/$f" ] || continue
    check "$f: Linux x86_64 program" elf_x86_64 "$dir/simulators/linux-x86_64/$f"
    check "$f: --help answers" "$dir/simulators/linux-x86_64/$f" --help
done

if [ -f "$dir/Oltranative.zip" ]; then
    unzip -Z1 "$dir/Oltranative.zip" 2>/dev/null | LC_ALL=C sort >"$work/zip"
    check "Oltranative.zip: MANIFEST.XML and both libraries" \
        cmp -s "$work/zip" <(printf '%s\n' MANIFEST.XML Oltranative_x64.dll libOltranative_x64.so | LC_ALL=C sort)
    unzip -p "$dir/Oltranative.zip" MANIFEST.XML >"$work/manifest" 2>/dev/null
    check "Oltranative.zip: the manifest names Windows and Linux" \
        sh -c "grep -q 'os=\"Windows\"' '$work/manifest' && grep -q 'os=\"Linux\"' '$work/manifest'"
fi

if [ -f "$dir/PELTRA44.msi" ]; then
    got=$(msiinfo export "$dir/PELTRA44.msi" Property 2>/dev/null | tr -d '\r' | sed -n 's/^ProductVersion\t//p')
    check "PELTRA44.msi: version $msi_version (the project version)" [ "$got" = "$msi_version" ]
    mkdir -p "$work/msi"
    msiextract -C "$work/msi" "$dir/PELTRA44.msi" >/dev/null 2>&1
    inside=$(find "$work/msi" -type f -iname PELTRA44.exe | head -n 1)
    check "PELTRA44.msi installs the folder's PELTRA44.exe" cmp -s "$inside" "$dir/PELTRA44.exe"
fi

check "CHANGELOG.md: the tree's" cmp -s "$src/CHANGELOG.md" "$dir/CHANGELOG.md"
check "CHANGELOG.md: a section for $major.$minor" grep -q "^## $major\.$minor\b" "$dir/CHANGELOG.md"
same_guides=1
for f in "$src"/docs/*.md "$src"/docs/examples/*; do
    rel=guides/${f#"$src"/docs/}
    cmp -s "$f" "$dir/$rel" || same_guides=0
done
check "guides: the tree's" [ $same_guides -eq 1 ]

echo "failures: $failures"
[ "$failures" -eq 0 ]
