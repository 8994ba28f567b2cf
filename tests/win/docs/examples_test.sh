#!/usr/bin/env bash
# The guide's PELTRA44 examples against the serial register simulator, done the way the
# guide tells a reader: register PELTRA44.exe, map COM5 to the simulator's pty, run the
# VBScript receipt under cscript and the C++ receipt client, built with the guide's own
# command (its shell block under "A receipt from C++" in docs/peltra44.md, run in a
# folder laid out as the source tree: build/win/comserver is the folder of PELTRA44.exe);
# each receipt must reach the register's tape, and the work log must hold the exchange.
# Usage: examples_test.sh SIMULATOR PELTRA44.exe DOCS_DIR WINEPREFIX wine-run.sh RUN_DIR
set -u
sim=$1 exe=$2 docs=$3 prefix=$4 winerun=$5 run=$6
examples=$docs/examples

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

. "$(dirname "$0")/../../support/serial/wine_session.sh"

wine_session_start 1

echo "== receipt.exe built as the guide says"
mkdir -p "$run/tree/build/win"
ln -s "$(dirname "$exe")" "$run/tree/build/win/comserver"
ln -s "$docs" "$run/tree/docs"
awk '/^## A receipt from C\+\+/ { on = 1; next } /^## / { on = 0 }
     on && /^```sh$/ { code = 1; next } code && /^```$/ { exit } code { print }' \
    "$docs/peltra44.md" >"$run/tree/build.sh"
cat "$run/tree/build.sh"
(cd "$run/tree" && bash build.sh) >"$run/build.out" 2>&1
status=$?
cat "$run/build.out"
check "the guide's C++ build (status $status)" [ "$status" -eq 0 ]
check "the guide's C++ build: no warnings" [ ! -s "$run/build.out" ]
cp "$run/tree/receipt.exe" "$run/receipt.exe" || exit 1
# The guide: save the script in the ANSI code page.
for script in receipt records; do
    iconv -f UTF-8 -t CP1251 "$examples/$script.vbs" >"$run/$script.vbs"
done

start_register COM5 --clock "2026-12-08 09:00:00" --model "PELTRA-SIM" --fiscal-number "4000123456" \
    --taxpayer "ТОВ Крамниця" --tape "$run/tape.txt" --log "$run/sim.log"

w "$run/PELTRA44.exe" /r
check "registration exits with 0" [ $? -eq 0 ]
check "registration box" grep -q "успешно зарегистрирован" "$run/boxes.txt"

echo "== receipt.vbs"
w cscript //nologo "Z:$run/receipt.vbs" COM5 | iconv -f CP866 -t UTF-8 | tr -d '\r' >"$run/vbs.txt"
cat "$run/vbs.txt"
for line in "Register: PELTRA-SIM" "State: 0x2000" "Receipt total: 25900" "Change: 4100" "DONE"; do
    check "receipt.vbs: $line" has "$run/vbs.txt" "$line"
done

echo "== receipt.exe"
w "$run/receipt.exe" COM5 | tr -d '\r' >"$run/cpp.txt"
cat "$run/cpp.txt"
for line in "Register: PELTRA-SIM" "Receipt total: 7950" "Change: 2050" \
    "PayCheck without a receipt: 0xA0042802 Ошибка ЭККР 39: команда запрещена, чек не открыт." "DONE"; do
    check "receipt.exe: $line" has "$run/cpp.txt" "$line"
done

echo "== records.vbs"
w cscript //nologo "Z:$run/records.vbs" COM5 | iconv -f CP866 -t UTF-8 | tr -d '\r' >"$run/records.txt"
cat "$run/records.txt"
for line in "Receipts in the shift: 2" "Sales in group A: 23150" "Sales in group B: 10700" \
    "Paid in cash: 33850" "Refund receipts: 0" \
    "Article 1001: Кава мелена 250 г, sold 1000 (format 3), turnover 18950" "DONE"; do
    check "records.vbs: $line" has "$run/records.txt" "$line"
done

echo "== tape"
cat "$run/tape.txt"
check "tape: both receipts" [ "$(grep -c '^ФІСКАЛЬНИЙ ЧЕК No' "$run/tape.txt")" -eq 2 ]
for line in "Дякуємо за покупку!" "РЕШТА                     41.00" "РЕШТА                     20.50"; do
    check "tape: $line" has "$run/tape.txt" "$line"
done
check "tape: the first article" grep -q '^Кава мелена 250 г' "$run/tape.txt"
check "tape: the C++ client's article" grep -q '^Чай зелений' "$run/tape.txt"

echo "== work log"
cat "$run"/logday*.txt 2>/dev/null | iconv -f CP1251 -t UTF-8 | tr -d '\r' | cut -c14- >"$run/log.txt"
for line in "Connect - COM5 19200bps" "SaleArticle - Ok" "PayCheck - Ok" \
    "PayCheck - Ошибка ЭККР 39: команда запрещена, чек не открыт." "Disconnect - Ok"; do
    check "log: $line" has "$run/log.txt" "$line"
done
check "log: byte dumps" grep -q '^-> ([0-9]*) 10 02 ' "$run/log.txt"
# The support guide's sample of this log: each of its lines is one this run wrote.
sed -n '/^## PELTRA44/,$p' "$docs/support.md" | sed -n '/^```$/,/^```$/p' | sed '/^```$/d' | sed -n '2,$p' |
    cut -c14- >"$run/support-sample.txt"
check "support.md has a log sample" [ -s "$run/support-sample.txt" ]
while IFS= read -r line; do
    check "support.md's log line: $line" has "$run/log.txt" "$line"
done <"$run/support-sample.txt"

# Under Wine the script host ends an unhandled error silently with status 0: the examples
# handle every error, say what failed and end with a status other than 0.
echo "== receipt.vbs saved as UTF-8"
cp "$examples/receipt.vbs" "$run/utf8.vbs"
receipts=$(grep -c '^ФІСКАЛЬНИЙ ЧЕК No' "$run/tape.txt")
w cscript //nologo "Z:$run/utf8.vbs" COM5 | iconv -f CP866 -t UTF-8 | tr -d '\r' >"$run/utf8.txt"
status=${PIPESTATUS[0]}
cat "$run/utf8.txt"
check "UTF-8 script: refused with status 2 (was $status)" [ "$status" -eq 2 ]
check "UTF-8 script: says why" has "$run/utf8.txt" "The script is not read in code page 1251 (saved as UTF-8?): nothing was sent."
check "UTF-8 script: no receipt" [ "$(grep -c '^ФІСКАЛЬНИЙ ЧЕК No' "$run/tape.txt")" -eq "$receipts" ]

# The server ended (while one runs, a second start only shows its window), then
# unregistered: no object to create.
kill_wine
w "$run/PELTRA44.exe" /u
for script in receipt records; do
    echo "== $script.vbs after /u"
    w cscript //nologo "Z:$run/$script.vbs" COM5 | iconv -f CP866 -t UTF-8 | tr -d '\r' >"$run/$script-u.txt"
    status=${PIPESTATUS[0]}
    cat "$run/$script-u.txt"
    check "$script.vbs after /u: status 1 (was $status)" [ "$status" -eq 1 ]
    check "$script.vbs after /u: says what failed" grep -q '^CreateObject("PELTRA44.FiscalPrinter") failed: 0x' "$run/$script-u.txt"
done
wine_session_end
