#!/usr/bin/env bash
# PELTRA44.msi as a shop installs it, under Wine:
#   1. the registration "PELTRA44.exe /r" writes, from the installed program's own folder
#      (C:\Program Files\PELTRA44), is taken as the registry's difference from a prefix
#      without PELTRA44, then removed again;
#   2. a silent install (msiexec /i /qn, no message box) must write the same keys and
#      values under Software\Classes, put the program in place, and let the guide's
#      VBScript receipt be sold on the serial register simulator;
#   3. a silent uninstall must leave no key, no value, no file, and CreateObject must fail;
#      Before that uninstall, another build of the same version (a product code of its
#      own) must replace the installed one: one product left, the same registration;
#   4. an older version's package (built here with a lower version), then this one: one
#      product left, of this version, the same registration, the settings file and the
#      work log written under the older version kept, a receipt sold again; the
#      uninstall then removes those files too.
# Usage: msi_test.sh SIMULATOR PELTRA44.exe PELTRA44.msi VERSION WINEPREFIX wine-run.sh
#                    EXAMPLES_DIR RUN_DIR
set -u
sim=$1 exe=$2 msi=$3 version=$4 prefix=$5 winerun=$6 examples=$7 run=$8

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../support/serial/wine_session.sh"
regtool() { python3 "$here/regtool.py" "$@"; }

wine_session_start 0
folder="$prefix/drive_c/Program Files/PELTRA44"
installed='C:\Program Files\PELTRA44\PELTRA44.exe'

# snapshot NAME: HKLM\Software exported to run/NAME.reg.
snapshot() {
    rm -f "$run/$1.reg"
    w reg export 'HKLM\Software' "Z:$run/$1.reg" /y >/dev/null 2>&1
    [ -s "$run/$1.reg" ] || { echo "registry export $1 failed"; exit 1; }
}
# unregister SNAPSHOT: deletes PELTRA44's keys that the snapshot holds.
unregister() {
    local key
    for key in $(regtool ours "$run/$1.reg"); do
        w reg delete "HKLM\\Software\\$key" /f >/dev/null 2>&1
    done
}
msiexec() { # ARGS...: msiexec, its exit code checked by the caller; boxes emptied first
    : >"$run/boxes.txt"
    w msiexec "$@" >"$run/msiexec.out" 2>&1
}
no_boxes() { [ ! -s "$run/boxes.txt" ]; }
sell() { # NAME: the guide's receipt through CreateObject, its output in run/NAME.txt
    w cscript //nologo "Z:$run/receipt.vbs" COM5 | iconv -f CP866 -t UTF-8 | tr -d '\r' >"$run/$1.txt"
    cat "$run/$1.txt"
    check "$1: receipt total" has "$run/$1.txt" "Receipt total: 25900"
    check "$1: script ended" has "$run/$1.txt" "DONE"
    # The server would wait for its idle time-out: end it with the prefix.
    kill_wine
}
same_registration() { # WHAT SNAPSHOT: Software\Classes gained what "/r" wrote, nothing else
    regtool added "$run/base.reg" "$run/$2.reg" classes >"$run/$2.classes.txt"
    if diff -u "$run/by-r.classes.txt" "$run/$2.classes.txt" >"$run/$2.diff"; then
        ok "$1: registry equals the registration of /r ($(wc -l <"$run/by-r.classes.txt") keys and values)"
    else
        fail "$1: registry differs from the registration of /r (- /r, + package):"
        cat "$run/$2.diff"
    fi
}
clean() { # WHAT SNAPSHOT: nothing left of the package against the base
    regtool leftover "$run/base.reg" "$run/$2.reg" >"$run/$2.left.txt"
    if [ -s "$run/$2.left.txt" ]; then
        fail "$1: keys or values left:"
        head -n 40 "$run/$2.left.txt"
    else
        ok "$1: no key or value left"
    fi
    check "$1: no program folder" [ ! -e "$folder" ]
}
products() { # SNAPSHOT: the installed PELTRA44 packages, "CODE<TAB>VERSION" lines
    regtool products "$run/$1.reg"
}

iconv -f UTF-8 -t CP1251 "$examples/receipt.vbs" >"$run/receipt.vbs"
cat >"$run/create.vbs" <<'EOF'
On Error Resume Next
Set fp = CreateObject("PELTRA44.FiscalPrinter")
If Err.Number <> 0 Then
    WScript.Echo "CreateObject failed: " & Err.Number
Else
    WScript.Echo "CreateObject worked"
End If
EOF

echo "== a prefix without PELTRA44"
# The script host registers its own type library on its first run: before the base.
# (It may start a server registered by an earlier run, which would take over the "/r"
# below as a running instance: Wine is ended after it.)
w cscript //nologo "Z:$run/create.vbs" >/dev/null 2>&1
kill_wine
snapshot start
for code in $(products start | cut -f1); do
    echo "removing an earlier installation $code"
    msiexec /x "$code" /qn
done
snapshot start2
unregister start2
rm -rf "$folder"
snapshot base
check "base: no PELTRA44 key" [ -z "$(regtool ours "$run/base.reg")" ]

echo "== registration by PELTRA44.exe /r"
mkdir -p "$folder"
cp "$exe" "$folder/PELTRA44.exe"
w "$installed" /r
check "/r exits with 0" [ $? -eq 0 ]
check "/r shows its box" contains "$run/boxes.txt" "успешно зарегистрирован"
snapshot by-r
regtool added "$run/base.reg" "$run/by-r.reg" classes >"$run/by-r.classes.txt"
check "/r: LocalServer32 is the program" grep -qiF 'localserver32	@="C:\\Program Files\\PELTRA44\\PELTRA44.exe"' "$run/by-r.classes.txt"
check "/r: the type library" grep -qF 'typelib\{00eb5840-c9c8-11dc-bd0b-001d6055e581}\1.0\0\win32	@=' "$run/by-r.classes.txt"
unregister by-r
kill_wine
rm -rf "$folder"
snapshot base2
regtool added "$run/base.reg" "$run/base2.reg" >"$run/base2.txt"
check "registration of /r removed again" [ ! -s "$run/base2.txt" ]

echo "== msiexec /i PELTRA44.msi /qn"
check "package version $version" [ "$(msiinfo export "$msi" Property | tr -d '\r' | sed -n 's/^ProductVersion\t//p')" = "$version" ]
msiexec /i "Z:$msi" /qn
check "install exits with 0" [ $? -eq 0 ]
check "install: no message box" no_boxes
snapshot installed
same_registration install installed
check "install: the program in Program Files" cmp -s "$exe" "$folder/PELTRA44.exe"
check "install: one product, version $version" [ "$(products installed | cut -f2)" = "$version" ]

start_register COM5 --clock "2026-12-08 09:00:00" --model "PELTRA-SIM" --tape "$run/tape.txt" --log "$run/sim.log"
sell installed

echo "== another build of the same version"
# A rebuild has a product code of its own; it must replace the installed package too.
# (Done on a package installed afresh: Wine's installer, when it removes the older product
# after an upgrade, drops the whole upgrade-code entry, the new product's with it, so a
# product installed by an upgrade is not found by the next one there; Windows removes only
# the older product's entry.)
bash "$here/../../../comserver/installer/build_msi.sh" "$version" "$exe" "$run/PELTRA44-rebuilt.msi"
rebuilt=$(msiinfo export "$run/PELTRA44-rebuilt.msi" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p')
msiexec /i "Z:$run/PELTRA44-rebuilt.msi" /qn
check "rebuild: install exits with 0" [ $? -eq 0 ]
snapshot rebuilt
check "rebuild: one product left, the rebuilt one $rebuilt" [ "$(products rebuilt)" = "$rebuilt	$version" ]
same_registration rebuild rebuilt
check "rebuild: the settings file the server wrote kept" [ -f "$folder/PELTRA44.ini" ]
check "rebuild: the program in Program Files" cmp -s "$exe" "$folder/PELTRA44.exe"
echo "== msiexec /x PELTRA44.msi /qn (the rebuilt one)"
msiexec /x "Z:$run/PELTRA44-rebuilt.msi" /qn
check "uninstall exits with 0" [ $? -eq 0 ]
check "uninstall: no message box" no_boxes
snapshot removed
clean uninstall removed
w cscript //nologo "Z:$run/create.vbs" | tr -d '\r' >"$run/create.txt"
cat "$run/create.txt"
check "uninstall: CreateObject fails" grep -q '^CreateObject failed: ' "$run/create.txt"
kill_wine

echo "== upgrade from an older version"
IFS=. read -r major minor _ <<<"$version"
if [ "$minor" -gt 0 ]; then old="$major.$((minor - 1)).0"; else old="$((major - 1)).99.0"; fi
bash "$here/../../../comserver/installer/build_msi.sh" "$old" "$exe" "$run/PELTRA44-$old.msi"
check "older package $old built" [ -s "$run/PELTRA44-$old.msi" ]
msiexec /i "Z:$run/PELTRA44-$old.msi" /qn
check "install $old exits with 0" [ $? -eq 0 ]
snapshot old
check "one product, version $old" [ "$(products old | cut -f2)" = "$old" ]
# The shop turns the work log on.
printf '[VAdazi]\r\nDoLog=1\r\n' >"$folder/PELTRA44.ini"
sell old
check "$old: the work log written" ls "$folder"/logday?.txt
msiexec /i "Z:$msi" /qn
check "upgrade exits with 0" [ $? -eq 0 ]
check "upgrade: no message box" no_boxes
snapshot upgraded
check "upgrade: one product left, version $version" [ "$(products upgraded | cut -f2)" = "$version" ]
same_registration upgrade upgraded
check "upgrade: the program in Program Files" cmp -s "$exe" "$folder/PELTRA44.exe"
check "upgrade: the settings kept" grep -q '^DoLog=1' "$folder/PELTRA44.ini"
check "upgrade: the work log kept" ls "$folder"/logday?.txt
sell upgraded

msiexec /x "Z:$msi" /qn
check "uninstall after the upgrade exits with 0" [ $? -eq 0 ]
snapshot removed2
clean "uninstall after the upgrade" removed2

echo "== tape"
check "tape: three receipts" [ "$(grep -c '^ФІСКАЛЬНИЙ ЧЕК No' "$run/tape.txt")" -eq 3 ]
wine_session_end
