#!/usr/bin/env bash
# Builds PELTRA44.msi from PELTRA44.wxs.
#   build_msi.sh VERSION PELTRA44.EXE OUTPUT.msi
# VERSION has three parts (1.56.0). wixl writes the tables; then msibuild adds what wixl
# cannot write:
#   - the ANSI code page 1251 and the class description (the Russian doc string of the
#     type library's coclass, which "PELTRA44.exe /r" writes as the class's and the
#     ProgIDs' default value);
#   - the files the program itself writes in its folder (the settings file, the work
#     logs of the seven weekdays), removed on uninstall;
#   - an older version, or another build of the same version, removed after the new one
#     is installed (RemoveExistingProducts after InstallFinalize), so that the shared
#     component keeps its folder, settings and logs through an upgrade.
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: build_msi.sh VERSION PELTRA44.EXE OUTPUT.msi" >&2; exit 2; }
version=$1
exe=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
out=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
here=$(cd "$(dirname "$0")" && pwd)
description='Фискальный принтер PELTRA44'
placeholder='@CLASS_DESCRIPTION@'

[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "build_msi.sh: version \"$version\" is not N.N.N" >&2; exit 2; }
[ -f "$exe" ] || { echo "build_msi.sh: no $exe" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# wixl takes the file's source path relative to the working folder.
cp "$exe" "$work/PELTRA44.exe"
printf '\r\n\r\n1251\t_ForceCodepage\r\n' >"$work/_ForceCodepage.idt"
(
    cd "$work"
    wixl -D Version="$version" -D Exe=PELTRA44.exe -o package.msi "$here/PELTRA44.wxs"
    msibuild package.msi -i _ForceCodepage.idt
    msibuild package.msi -q "UPDATE \`Registry\` SET \`Value\` = '$description' WHERE \`Value\` = '$placeholder'"
    # InstallMode 2: on removal of the component.
    msibuild package.msi -q "INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`FileName\`, \`DirProperty\`, \`InstallMode\`) VALUES ('settings', 'PELTRA44', 'PELTRA44.ini', 'peltra44Folder', 2)"
    # One row per weekday's log: Wine's installer takes no wildcards there.
    for day in 0 1 2 3 4 5 6; do
        msibuild package.msi -q "INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`FileName\`, \`DirProperty\`, \`InstallMode\`) VALUES ('worklog$day', 'PELTRA44', 'logday$day.txt', 'peltra44Folder', 2)"
    done
    # A package of the same version (a rebuild has a product code of its own) replaces the
    # installed one too, instead of going in beside it: the upgrade's highest version is
    # inclusive (attribute 0x200 beside OnlyDetect's absence, 1: migrate features).
    # (Attributes is part of the key: the row is written anew.)
    code=$(msiinfo export package.msi Property | tr -d '\r' | awk -F'\t' '$1 == "UpgradeCode" { print $2 }')
    [ -n "$code" ] || { echo "build_msi.sh: no UpgradeCode" >&2; exit 1; }
    msibuild package.msi -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'"
    msibuild package.msi -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('$code', '$version', 513, 'WIX_UPGRADE_DETECTED')"
    finalize=$(msiinfo export package.msi InstallExecuteSequence | tr -d '\r' | awk -F'\t' '$1 == "InstallFinalize" { print $3 }')
    [ -n "$finalize" ] || { echo "build_msi.sh: no InstallFinalize" >&2; exit 1; }
    msibuild package.msi -q "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = $((finalize + 1)) WHERE \`Action\` = 'RemoveExistingProducts'"
)
# Every placeholder replaced, and as many values holding the description as the source
# names it.
expected=$(grep -c 'Value="$(var.ClassDescription)"' "$here/PELTRA44.wxs")
got=$(msiinfo export "$work/package.msi" Registry | grep -c -F "$description" || true)
left=$(msiinfo export "$work/package.msi" Registry | grep -c -F "$placeholder" || true)
if [ "$got" != "$expected" ] || [ "$left" != 0 ]; then
    echo "build_msi.sh: class description in $got of $expected registry values, $left placeholders left" >&2
    exit 1
fi
mv "$work/package.msi" "$out"
