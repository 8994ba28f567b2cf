#!/usr/bin/env bash
# PELTRA44 over a serial line under Wine: the register simulator plays the register on
# a pty that COM5 of the prefix points to; VBScript clients connect, query the status,
# date and time, meet a register error, a silent register and a bad port name, run a
# shift whose report records must equal the simulator's own books; a C++ client keeps a
# sub-record alive after its report; the work log must hold the bytes of the exchanges.
# Usage: comserial_test.sh SIMULATOR PELTRA44.exe DIALOG_STATUS.exe WINEPREFIX wine-run.sh SRC_DIR RUN_DIR RECORDS_CLIENT.exe
set -u
sim=$1 exe=$2 dialog=$3 prefix=$4 winerun=$5 src=$6 run=$7 records=$8

# One display for the whole run: the COM-started server lives on between clients.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

. "$(dirname "$0")/../../support/serial/wine_session.sh"
# Servers started from the run directory (Wine shows them by their Windows or Unix path).
servers() { ps -eo args= | cut -d' ' -f1 | grep -ciFx -e "$run/PELTRA44.exe" -e "Z:$(tr / '\\' <<<"$run")\\PELTRA44.exe" || true; }
# wait_servers N SECONDS: until N server processes run.
wait_servers() {
    local i
    for ((i = 0; i < $2 * 10; i++)); do [ "$(servers)" -eq "$1" ] && return 0; sleep 0.1; done
    return 1
}
wait_line() { # wait_line FILE TEXT SECONDS: a line TEXT (with or without CR)
    local i
    for ((i = 0; i < $3 * 10; i++)); do grep -qx -- "$2"$'\r\\?' "$1" 2>/dev/null && return 0; sleep 0.1; done
    return 1
}
# books TAG OUTPUT COUNT: the client's "TAG key=value" lines (record fields under the
# keys of the simulator's books) equal the simulator's books as they are now, and there
# are COUNT of them.
books() {
    local tag=$1 out=$2 want=$3 n=0 bad=0 line
    cp "$run/books.txt" "$run/books-$tag.txt"
    while IFS= read -r line; do
        n=$((n + 1))
        if ! grep -qxF -- "$line" "$run/books-$tag.txt"; then
            echo "  record: $line; books: $(grep -F -- "${line%%=*}=" "$run/books-$tag.txt" | head -n 1)"
            bad=$((bad + 1))
        fi
    done < <(sed -n "s/^$tag //p" "$out")
    check "books $tag: the $n fields equal the simulator's ($want expected)" [ "$n" -eq "$want" -a "$bad" -eq 0 ]
}
vbs() { w cscript //nologo "Z:$run/drive.vbs" "$@" | iconv -f CP866 -t UTF-8 | tr -d '\r'; }
control() { printf '%s\n' "$@" >"$run/control"; }

wine_session_start 1
# The script is kept in UTF-8; the script host reads it in the ANSI code page.
iconv -f UTF-8 -t CP1251 "$src/drive.vbs" >"$run/drive.vbs"

# The register: a fixed clock (the date and time of the worked GetDate exchange), the
# texts of the status answer (tax-payer lines in the register's code page), faults set
# through the control pipe between the clients.
start_register COM5 --clock "2016-07-24 10:20:30" --frozen-clock --model "PELTRA-SIM" --fiscal-number "1234567890" \
    --taxpayer "ТОВ Тест" --taxpayer "вул. Хрещатик, 1" --taxpayer "м. Київ" \
    --tax-number "123456789012" --sw-version "1.2" \
    --control "$run/control" --log "$run/sim.log" --tape "$run/tape.txt" --books "$run/books.txt"

echo "== registration"
w "$run/PELTRA44.exe" /r
check "/r exits with 0" [ $? -eq 0 ]

echo "== status, time and date"
vbs main COM5 >"$run/main.txt"
cat "$run/main.txt"
for line in "EcrStateBefore=-2147483648" "Connect=0||" "EcrState=8192" "EcrErrorNumber=0" \
    "ErrorNumber=0" "PrinterInfo=PELTRA-SIM ver 1.2" "TaxPayerInfo1=ТОВ Тест" \
    "TaxPayerInfo2=вул. Хрещатик, 1" "TaxPayerInfo3=м. Київ" \
    "GetState=1|0||" "GetTime=10:20:30|0||" "GetStates=0||" "GetDate=24/07/16|0||" "Disconnect=0||" \
    "GetDateDisconnected=A0042002|GetDate|Необходимо выполнить команду Connect." "DONE"; do
    check "main: $line" has "$run/main.txt" "$line"
done
check "main: FiscalInfo: number, date and time of fiscalisation, tax number" \
    grep -qE '^FiscalInfo=1234567890 [0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2} 123456789012$' "$run/main.txt"

echo "== register error"
control "fault error=21,cmd=01"
vbs register-error COM5 >"$run/register-error.txt"
cat "$run/register-error.txt"
for line in "Connect=0||" "GetDate=A0042802|GetDate|Ошибка ЭККР 21: неправильный пароль." \
    "EcrErrorNumber=21" "ErrorNumber=A0042802" "ErrorDescription=Ошибка ЭККР 21: неправильный пароль." \
    "GetState=1|0||" "EcrErrorNumberAfter=0" "DONE"; do
    check "register error: $line" has "$run/register-error.txt" "$line"
done

echo "== receipt"
control clear
vbs receipt COM5 >"$run/receipt.txt"
cat "$run/receipt.txt"
e39="A0042802|PayCheck|Ошибка ЭККР 39: команда запрещена, чек не открыт."
for line in "Connect=0||" "PayCheckNotOpen=$e39" "ErrorNumber=A0042802" "EcrErrorNumber=39" \
    "Sale1=3100|0||" "TotalSum1=3100" "EcrState1=6000" "Sale2=2990|0||" "TotalSum2=6090" \
    "SaleGroupE=A0042802|SaleArticle|Ошибка ЭККР 23: налоговая группа не существует или не установлена, налоги не вводились." \
    "SaleZero=80070057|SaleArticle|Неверный аргумент." \
    "Discount=-305|0||" "TotalSum3=5785" "Comment=0||" "Pay=4215|0||" "TotalSum4=-4215" "EcrState4=2000" \
    "Withdraw=A0042802|ChangeSafeSum|Ошибка ЭККР 35: сумма \"выдано\" больше, чем в денежном ящике." \
    "Deposit=8285|0||" "BarcodeShort=80070057|PrintBarcode|Неверный аргумент." "Display=0||" \
    "Refund=1550|0||" "Cancel=0||" "EcrState5=2000" \
    "CancelAgain=A0042802|CancelCheck|Ошибка ЭККР 39: команда запрещена, чек не открыт." \
    "OpenSafe=0||" "LineFeed=0||" "DONE"; do
    check "receipt: $line" has "$run/receipt.txt" "$line"
done
cat "$run/tape.txt"
# The register has no Ukrainian І/і: the driver sends Latin I/i instead.
for line in "ФІСКАЛЬНИЙ ЧЕК No 1" "2.000 x 15.50" 'Молоко                    31.00 А' \
    'Хлiб житнiй               29.90 Б' "ЗНИЖКА 5.00% НА ЧЕК" 'Знижка                    -3.05' \
    "Дякуємо!" 'СУМА                      57.85' "Готiвка" 'ГОТІВКА                  100.00' \
    'РЕШТА                     42.15' "ДЯКУЄМО ЗА ПОКУПКУ" 'СЛУЖБОВЕ ВНЕСЕННЯ         25.00' \
    "[display 0: Сума 59.62]" "ЧЕК ВИПЛАТИ No 2" "ЧЕК АНУЛЬОВАНО" "[drawer opened]"; do
    check "tape: $line" has "$run/tape.txt" "$line"
done

echo "== report records against the simulator's books"
vbs template COM5 >"$run/template.txt"
cat "$run/template.txt"
for line in "Template=0||" "TemplateName=TaxData" "TemplateValues=2 34 2000 0 0 []" \
    "TemplateCount6=80070057|VAdazi|Неверный аргумент." "TemplateCountAfter=2" "TemplateChanged=5 2 1400|0||" \
    "TemplateParent=PELTRA44" "XDisconnected=A0042002|GetXReport|Необходимо выполнить команду Connect." \
    "XDisconnectedIsNothing=yes" "DONE"; do
    check "template: $line" has "$run/template.txt" "$line"
done
vbs books-open COM5 >"$run/books-open.txt"
cat "$run/books-open.txt"
for line in "Connect=0||" "Receipt=0||" "CheckSum=0||" "CheckSumNames=CheckSum SumByTaxType SumByPayType CheckSum" "DONE"; do
    check "open receipt: $line" has "$run/books-open.txt" "$line"
done
books C "$run/books-open.txt" 18
vbs books-close COM5 >"$run/books-close.txt"
cat "$run/books-close.txt"
for line in "Connect=0||" "Shift=0||" "CheckSumClosed=A0042802|GetCheckSum|Ошибка ЭККР 39: команда запрещена, чек не открыт." \
    "XReport=0||" "XNames=XReport SumByPayType PELTRA44" "XSameSubRecord=yes" "Article=0||" "ArticleCode=123 0 PELTRA44" \
    "ArticleUnknown=A0042802|GetArticleInfo|Ошибка ЭККР 22: несуществующий номер (пароля, строки)." \
    "ArticleCodeEx=80070057|GetArticleInfo|Неверный аргумент." "TaxData=0||" "TimeToBlock=259200|0||" \
    "ReadMemory=0||" "ReadMemoryType=8209" \
    "ReadMemoryPage=80070057|ReadMemory|Неверный аргумент." "ReadMemoryCount=80070057|ReadMemory|Неверный аргумент." \
    "PrintXReport=0||" "PrintArtReport=0||" "PrintArtReportCodeEx=80070057|PrintArtReport|Неверный аргумент." "DONE"; do
    check "shift: $line" has "$run/books-close.txt" "$line"
done
books X "$run/books-close.txt" 40
books S "$run/books-close.txt" 1
books A "$run/books-close.txt" 8
books T "$run/books-close.txt" 14
check "the shift has sales, refunds and both kinds of safe operation" \
    bash -c "grep -qx 'X shift.refunds.receipts=[1-9][0-9]*' '$run/books-close.txt' && grep -qx 'X shift.sales.markup=[1-9][0-9]*' '$run/books-close.txt' && grep -qx 'X shift.sales.discount=[1-9][0-9]*' '$run/books-close.txt' && grep -qx 'X shift.safe.out=[1-9][0-9]*' '$run/books-close.txt' && grep -qx 'X shift.sales.pay.0=[1-9][0-9]*' '$run/books-close.txt'"
vbs books-z COM5 >"$run/books-z.txt"
cat "$run/books-z.txt"
for line in "Connect=0||" "ZWithReceiptOpen=A0042802|PrintZReport|Ошибка ЭККР 44: команда запрещена, чек открыт." \
    "PrintZReport=0||" "ZAgain=A0042802|PrintZReport|Ошибка ЭККР 42: команда запрещена, не было чеков." \
    "ReportByDate=0||" "ReportByDateShort=0||" "ReportByDateBad=80070057|PrintReportByDate|Неверный аргумент." \
    "ReportById=0||" "ReportByIdWide=80070057|PrintReportById|Неверный аргумент." "DONE"; do
    check "Z report: $line" has "$run/books-z.txt" "$line"
done
books Z "$run/books-z.txt" 1
books X0 "$run/books-z.txt" 40
check "Z report: the next running totals are all 0" bash -c "! grep '^X0 ' '$run/books-z.txt' | grep -qv '=0\$'"
for line in "X-ЗВІТ" "Z-ЗВІТ No 1" "ЗМІНУ ЗАКРИТО" "ЗВІТ ПО ТОВАРАХ" "#123 Молоко" "ПЕРІОДИЧНИЙ ЗВІТ" \
    "ПЕРІОДИЧНИЙ ЗВІТ СКОРОЧЕНИЙ" "Z-ЗВІТИ З No 1 ПО No 1" "ЧЕК АНУЛЬОВАНО"; do
    check "tape: $line" has "$run/tape.txt" "$line"
done

echo "== silent register"
control clear "fault silence"
vbs silent COM5 >"$run/silent.txt"
cat "$run/silent.txt"
for line in "Connect=A0042003|Connect|Нет ответа от принтера." "ErrorNumber=A0042003" \
    "GetStateAfterFailedConnect=A0042002|GetState|Необходимо выполнить команду Connect." "DONE"; do
    check "silent: $line" has "$run/silent.txt" "$line"
done

echo "== bad port"
vbs bad-port COM98 >"$run/bad-port.txt"
cat "$run/bad-port.txt"
# The system's own text follows the number of the system error.
check "bad port: system error with its text" grep -qE '^Connect=A0042800\|Connect\|Ошибка [0-9]+: .+' "$run/bad-port.txt"
# ... and then the port's name and what to check.
check "bad port: names the port" grep -qE '^Connect=A0042800\|Connect\|Ошибка [0-9]+: .+ Порт "COM98" не открыт: проверьте имя порта' "$run/bad-port.txt"
check "bad port: ErrorNumber" has "$run/bad-port.txt" "ErrorNumber=A0042800"
check "bad port: 101 characters" has "$run/bad-port.txt" "ConnectLongName=80070057|Connect|Неверный аргумент."
check "bad port: DONE" has "$run/bad-port.txt" "DONE"

echo "== status dialog"
# A start by hand opens the status dialog of the running server; each accepted answer
# redraws its status line.
w "$run/PELTRA44.exe" >/dev/null 2>&1 &
hand_started=$!
w "$dialog" | tr -d '\r' >"$run/dialog-before.txt"
control clear "ext-status 0x30"
vbs register-error COM5 >"$run/dialog-client.txt"
w "$dialog" | tr -d '\r' >"$run/dialog-after.txt"
check "dialog: status not known before" has "$run/dialog-before.txt" "status=0x80000000"
check "dialog: status of the last answer after" has "$run/dialog-after.txt" "status=0x3000"

echo "== work log"
cat "$run"/logday*.txt 2>/dev/null | iconv -f CP1251 -t UTF-8 | tr -d '\r' | cut -c14- >"$run/log.txt"
for line in "Connect - COM5 19200bps" "Connect - Ok" "GetState - Ok" "GetTime - 10:20:30" \
    "-> (7) 10 02 07 01 F8 10 03" "data (3) 24 07 16" "GetDate - 24/07/16" "Disconnect - Ok" \
    "GetDate - Ошибка ЭККР 21: неправильный пароль." "No answer" \
    "Connect - Нет ответа от принтера." "GetState - Необходимо выполнить команду Connect." \
    "Connect - Неверный аргумент." "PayCheck - Ошибка ЭККР 39: команда запрещена, чек не открыт." \
    "SaleArticle - 123, 2000, 80, 03, 0, 'Молоко'" "SaleArticle - Ok" "SaleArticle - 1, 0, 80, 83, 0, ''" \
    "SaleArticle - Неверный аргумент." "GiveDiscount - 500, 1, 0, 2, 'Знижка'" "GiveDiscount - Ok" \
    "CommentCheck - 'Дякуємо!'" "PayCheck - 03, 10000, 'Готівка'" "PayCheck - Ok" "ChangeSafeSum - 2500" \
    "PrintBarcode - '12345'" "DisplayString - 0, 'Сума 59.62'" "RefundArticle - Ok" "CancelCheck - Ok" \
    "GetXReport - Ok" "GetCheckSum - Ok" "GetTaxData - Ok" "GetArticleInfo - 123, 0" "GetArticleInfo - Ok" \
    "ReadMemory - 19, 0, 10" "PrintArtReport - 100, 200, 0, 0" "PrintZReport - Ok" \
    "PrintReportByDate - 01/07/16 - 31/07/16, 0" "PrintReportByDate - 24/07/16 - 24/07/16, 1" \
    "PrintReportById - 1, 1, 0" "PrintReportById - 70000, 1, 1" "PrintReportById - Неверный аргумент."; do
    check "log: $line" has "$run/log.txt" "$line"
done
# The worked exchange: the answer to GetDate with sequence 7, then the trailer bytes.
check "log: answer of the worked exchange" grep -qE '^<- \(1[35]\) 10 02 07 01 00 00 20 24 07 16 97 10 03( [0-9A-F]{2}){0,2}$' "$run/log.txt"
# The first sale with sequence 3, the name in the register's code page.
check "log: the sale's request frame" grep -qE '^-> \([0-9]+\) 10 02 03 14 D0 07 00 03 0E 06 00 00 80 06 8C AE AB AE AA AE 7B 00 00 00 00 00 [0-9A-F]{2} 10 03$' "$run/log.txt"
check "log: bad port event" grep -qE '^Connect - Ошибка [0-9]+: .+' "$run/log.txt"
check "log: no entry for the long port name" bash -c "! grep -q '^Connect - CCCC' '$run/log.txt'"

check "one server ran all the clients (it idles now)" [ "$(servers)" -eq 1 ]
kill_wine
wait "$hand_started" 2>/dev/null
check "no server left" [ "$(servers)" -eq 0 ]

echo "== record lifetime"
# A compiled client keeps only XReport.SumByTaxType and lets go of the XReport and of
# FiscalPrinter: the record keeps the server connected and running past its idle time
# (ticks of 100 ms: 10 s), and the server ends once the last reference goes.
export PELTRA44_TICK_MS=100
w "$records" keep-sums COM5 "Z:$run/release-sums" >"$run/keep-sums.raw" &
holder=$!
check "records client holds only a SumByTaxType" wait_line "$run/keep-sums.raw" READY 60
sleep 12
check "the server stays up while the record lives" [ "$(servers)" -eq 1 ]
touch "$run/release-sums"
wait "$holder"
tr -d '\r' <"$run/keep-sums.raw" >"$run/keep-sums.txt"
cat "$run/keep-sums.txt"
check "records client: every check passed" bash -c "grep -q '^ok' '$run/keep-sums.txt' && ! grep -q FAIL '$run/keep-sums.txt' && grep -qx DONE '$run/keep-sums.txt'"
check "the server exits after the last record goes" wait_servers 0 40
wine_session_end
