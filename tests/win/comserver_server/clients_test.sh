#!/usr/bin/env bash
# PELTRA44 under Wine with real clients: registration and the keys it writes, COM
# activation with -Embedding, two clients on one object, VBScript and C++ calls, the
# work log, the idle exit, the hand-over to a running instance with its status dialog,
# unregistration.
# Usage: clients_test.sh PELTRA44.exe peltra44_client.exe WINEPREFIX wine-run.sh SRC_DIR RUN_DIR
set -u
exe=$1 client=$2 prefix=$3 winerun=$4 src=$5 run=$6

# One display for the whole run: the COM-started server lives on after its client.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

clsid='{00EB5842-C9C8-11DC-BD0B-001D6055E581}'
failures=0
ok() { echo "ok $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
# check DESCRIPTION COMMAND...
check() { local d=$1; shift; if "$@"; then ok "$d"; else fail "$d"; fi; }
has() { grep -qF -- "$2" "$1"; }
hasnt() { ! grep -qF -- "$2" "$1"; }

w() { "$winerun" "$prefix" "$@"; }
kill_wine() { WINEPREFIX="$prefix" wineserver -k 2>/dev/null; WINEPREFIX="$prefix" wineserver -w 2>/dev/null; }
# Server processes started from the run folder (Wine shows them by their Windows or Unix
# path); other Wine runs on the machine are not counted. servers [ARG]: only those whose
# first argument is ARG.
servers() {
    ps -eo args= | A="$run/PELTRA44.exe" B="Z:$(tr / '\\' <<<"$run")\\PELTRA44.exe" C="${1:-}" awk '
        (tolower($1) == tolower(ENVIRON["A"]) || tolower($1) == tolower(ENVIRON["B"])) &&
        (ENVIRON["C"] == "" || $2 == ENVIRON["C"]) { n++ }
        END { print n + 0 }'
}
# wait_servers N SECONDS: until N server processes run.
wait_servers() {
    local i
    for ((i = 0; i < $2 * 10; i++)); do [ "$(servers)" -eq "$1" ] && return 0; sleep 0.1; done
    return 1
}
wait_line() { # wait_line FILE TEXT SECONDS
    local i
    for ((i = 0; i < $3 * 10; i++)); do grep -qF -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
    return 1
}
# Registry values under HKCR as "key|name|data" lines (name @ = the default value).
regdump() {
    local k
    for k in "$@"; do
        w reg query "HKCR\\$k" /s 2>/dev/null | iconv -f CP866 -t UTF-8 | tr -d '\r' | awk '
            /^HKEY_/ { key = $0; sub(/^HKEY_CLASSES_ROOT\\/, "", key); next }
            /    REG_SZ    / { line = $0; sub(/^ +/, "", line); i = index(line, "    REG_SZ    ");
                name = substr(line, 1, i - 1); if (name ~ /^\(/) name = "@";
                print key "|" name "|" substr(line, i + 14) }'
    done
}
vbs() { w cscript //nologo "Z:$1" "${@:2}" | iconv -f CP866 -t UTF-8 | tr -d '\r'; }
log() { cat "$run"/logday*.txt 2>/dev/null | iconv -f CP1251 -t UTF-8 | tr -d '\r'; }

kill_wine
rm -rf "$run"
mkdir -p "$run"
cp "$exe" "$run/PELTRA44.exe"
cp "$src/basic.vbs" "$run/"
printf '[VAdazi]\r\nDoLog=1\r\n' >"$run/PELTRA44.ini"
# Ticks of 250 ms: an unused embedded start ends after 2.5 s (time enough for the
# client's activation call under Wine), an idle server 25 s after its last client.
export PELTRA44_MSGBOX_LOG="Z:$run/boxes.txt" PELTRA44_TICK_MS=250
winexe="Z:$(echo "$run" | tr / '\\')\\PELTRA44.exe"
desc='Фискальный принтер PELTRA44'

echo "== registration"
w "$run/PELTRA44.exe" /r
check "/r exits with 0" [ $? -eq 0 ]
check "/r shows its box" has "$run/boxes.txt" "VAdazi	$desc успешно зарегистрирован.	0x40"
regdump PELTRA44.FiscalPrinter.1 PELTRA44.FiscalPrinter "CLSID\\$clsid" "AppId\\$clsid" >"$run/reg.txt"
for line in "PELTRA44.FiscalPrinter.1|@|$desc" "PELTRA44.FiscalPrinter.1\\CLSID|@|$clsid" \
    "PELTRA44.FiscalPrinter|@|$desc" "PELTRA44.FiscalPrinter\\CLSID|@|$clsid" \
    "PELTRA44.FiscalPrinter\\CurVer|@|PELTRA44.FiscalPrinter.1" "CLSID\\$clsid|@|$desc" \
    "CLSID\\$clsid|AppId|$clsid" "CLSID\\$clsid\\LocalServer32|@|$winexe" \
    "AppId\\$clsid|@|$desc" "AppId\\$clsid|RunAs|Interactive User"; do
    check "key $line" has "$run/reg.txt" "$line"
done
check "no ProgID subkey under the CLSID" hasnt "$run/reg.txt" "CLSID\\$clsid\\ProgID"
check "the type library is registered" \
    bash -c "'$winerun' '$prefix' reg query 'HKCR\\TypeLib\\{00EB5840-C9C8-11DC-BD0B-001D6055E581}\\1.0' /s | grep -q 'PELTRA44.exe'"

echo "== clients"
# The first client is the C++ one: Wine's cscript drops its objects during
# WScript.Sleep, so a script cannot hold the object while the others run.
w "$client" hold "Z:$run/release" >"$run/holder.txt" &
holder=$!
check "first client holds the object" wait_line "$run/holder.txt" READY 60
check "one server, started with -Embedding" \
    [ "$(servers -Embedding)" -eq 1 ]
w "$client" errnum >"$run/errnum.txt"
check "second client sees the first one's error (same object)" has "$run/errnum.txt" "ErrorNumber=-2147024809"
w "$client" calls | tr -d '\r' >"$run/calls.txt"
check "C++ client checks" bash -c "grep -q '^ok' '$run/calls.txt' && ! grep -q FAIL '$run/calls.txt'"
vbs "$run/basic.vbs" >"$run/basic.txt"
for line in "Version=1.00.2999.2999" "Name=PELTRA44" "EcrState=-2147483648" \
    "TaxPayerInfo0=80070057|VAdazi|Неверный аргумент." "ErrorNumber=-2147024809" \
    "ErrorDescription=Неверный аргумент." "PayCheck=A0042002|PayCheck|Необходимо выполнить команду Connect." \
    "GetZReport=80004001|VAdazi|Не поддерживается." "DONE"; do
    check "VBScript $line" has "$run/basic.txt" "$line"
done
check "still one server" [ "$(servers)" -eq 1 ]
touch "$run/release"
wait "$holder"
check "first client sees the last client's error (E_NOTIMPL) and ends" \
    bash -c "grep -q '^ErrorNumber=-2147467263' '$run/holder.txt' && grep -q '^DONE' '$run/holder.txt'"
check "idle server exits after its last client" wait_servers 0 40
log >"$run/log.txt"
check "log: PayCheck entry with type 3 and sum -1" has "$run/log.txt" "PayCheck - 03, -1, ''"
check "log: PayCheck failure" has "$run/log.txt" "PayCheck - Необходимо выполнить команду Connect."
check "log: connected, disconnected, stopped" \
    bash -c "grep -o 'Объект подключён\|Объект отключён\|Остановка' '$run/log.txt' | tr '\n' ' ' | grep -q 'Объект подключён Объект отключён Остановка'"

echo "== hand-started server, second start"
boxes_before=$(wc -l <"$run/boxes.txt")
w "$run/PELTRA44.exe" &
first=$!
w "$client" dialog "Z:$run/status-dialog.bmp" | tr -d '\r' >"$run/dialog.txt"
for line in "2=Закрыть" "1000=Записывать протокол работы" "1011=Самое верхнее окно" "1001=Запуск" \
    "1002=" "1012=0x80000000" "1000checked=1" "visible=1"; do
    check "status dialog: $line" grep -qxF -- "$line" "$run/dialog.txt"
done
w "$run/PELTRA44.exe" /u
check "second start exits with 0" [ $? -eq 0 ]
check "second start unregistered nothing" bash -c "'$winerun' '$prefix' reg query 'HKCR\\CLSID\\$clsid\\LocalServer32' >/dev/null 2>&1"
check "second start showed no box" [ "$(wc -l <"$run/boxes.txt")" -eq $((boxes_before + 1)) ]
check "still one server" [ "$(servers)" -eq 1 ]
w "$client" close-dialog
check "closing the dialog ends the hand-started server" wait_servers 0 20
wait "$first"
check "hand-started server exits with 0" [ $? -eq 0 ]
[ -f "$run/status-dialog.bmp" ] && echo "screenshot of the status dialog: $run/status-dialog.bmp"

echo "== embedded start without a client"
boxes_before=$(wc -l <"$run/boxes.txt")
timeout 60 "$winerun" "$prefix" "$run/PELTRA44.exe" -Embedding
check "exits by itself with 0" [ $? -eq 0 ]
check "registers nothing" [ "$(wc -l <"$run/boxes.txt")" -eq "$boxes_before" ]

echo "== unregistration"
w "$run/PELTRA44.exe" /u
check "/u exits with 0" [ $? -eq 0 ]
check "/u shows its box" has "$run/boxes.txt" "VAdazi	Регистрация отменена.	0x40"
regdump PELTRA44.FiscalPrinter.1 PELTRA44.FiscalPrinter "CLSID\\$clsid" "AppId\\$clsid" >"$run/reg-after.txt"
check "CLSID key removed" hasnt "$run/reg-after.txt" "CLSID\\$clsid|"
check "AppId key removed" hasnt "$run/reg-after.txt" "AppId\\$clsid|"
check "ProgID keys kept" has "$run/reg-after.txt" "PELTRA44.FiscalPrinter\\CurVer|@|PELTRA44.FiscalPrinter.1"
check "type library kept" \
    bash -c "'$winerun' '$prefix' reg query 'HKCR\\TypeLib\\{00EB5840-C9C8-11DC-BD0B-001D6055E581}' >/dev/null 2>&1"

kill_wine
check "no server left" [ "$(servers)" -eq 0 ]
echo "failures: $failures"
[ "$failures" -eq 0 ]
