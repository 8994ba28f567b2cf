#!/usr/bin/env bash
# PELTRA44's programming and service members and SetLogo under Wine: the register
# simulator plays the register on a pty that COM5 of the prefix points to; VBScript
# clients set the clock, log users in, program headers, switch the line speed and load
# logos made by make-picture. The simulator's tape, log and logo file show what the
# register received.
# Usage: comprog_test.sh SIMULATOR PELTRA44.exe MAKE_PICTURE TAXDATA_CLIENT.exe WINEPREFIX wine-run.sh SRC_DIR RUN_DIR
set -u
sim=$1 exe=$2 maker=$3 taxclient=$4 prefix=$5 winerun=$6 src=$7 run=$8

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

. "$(dirname "$0")/../../support/serial/wine_session.sh"
vbs() { w cscript //nologo "Z:$run/program.vbs" "$@" | iconv -f CP866 -t UTF-8 | tr -d '\r'; }
control() { printf '%s\n' "$@" >"$run/control"; }
# expect FILE LINE...: every line is in the client's output.
expect() { local f=$1; shift; for line in "$@"; do check "$(basename "$f" .txt): $line" has "$f" "$line"; done; }

wine_session_start 1
iconv -f UTF-8 -t CP1251 "$src/program.vbs" >"$run/program.vbs"

# The clock starts the evening before the date the clients set, so that the shift
# opened at start is still under its 24 hours when they sell.
start_register COM5 --clock "2025-08-16 20:00:00" --frozen-clock --password 3=5813 --logo "$run/logo.pbm" \
    --control "$run/control" --log "$run/sim.log" --tape "$run/tape.txt"

w "$run/PELTRA44.exe" /r
check "/r exits with 0" [ $? -eq 0 ]

bad_arg() { echo "80070057|$1|Неверный аргумент."; }
ecr() { echo "A0042802|$1|Ошибка ЭККР $2"; }

echo "== clock"
control "fault slow=1000,cmd=01,count=3"
vbs clock1 COM5 >"$run/clock.txt"
sleep 3.5
control "fault slow=1000,cmd=01,count=3"
vbs clock2 COM5 >>"$run/clock.txt"
sleep 3.5
vbs clock3 COM5 >>"$run/clock.txt"
cat "$run/clock.txt"
expect "$run/clock.txt" "Connect=0||" "SetDateNine=$(bad_arg SetDate)" "SetDate=0||" "GetDate=17/08/25|0||" \
    "SetTime=0||" "GetTime=11:22:33|0||" "SetTimeEmpty=$(bad_arg SetTime)" \
    "SetDateNoSuchDay=$(ecr SetDate '30: ошибка формата даты/времени.')" "DONE"
# A register silent for a second is missed with the read time-out of 300 ms, after a
# failed SetDate and after a successful one alike.
check "clock: GetDate after the failed SetDate waits 300 ms" grep -qE '^GetDateSlowAfterFailedSet=A004200[36]\|GetDate\|' "$run/clock.txt"
check "clock: GetDate after SetDate waits 300 ms" grep -qE '^GetDateSlowAfterSet=A004200[36]\|GetDate\|' "$run/clock.txt"

echo "== users"
control clear
vbs users COM5 >"$run/users.txt"
cat "$run/users.txt"
expect "$run/users.txt" "Connect=0||" "LoginWrong=$(ecr Login '21: неправильный пароль.')" "EcrErrorNumber=21" \
    "LoginUser300=$(bad_arg Login)" "ChangePassword=0||" "Login=0||" "Logout=0||" "LoginNamed=0||" "DONE"

echo "== headers, pay type names, service"
vbs headers COM5 >"$run/headers.txt"
cat "$run/headers.txt"
expect "$run/headers.txt" "Connect=0||" "SetTaxPayerInfoShort=$(bad_arg SetTaxPayerInfo)" "SetTaxPayerInfo=0||" \
    "SetCheckCaption=0||" "SetCheckCaptionWide=0||" "SetCheckCaptionRow8=$(bad_arg SetCheckCaption)" \
    "SetFiscalNumber=0||" "SetPayTypeName=0||" "SetPayTypeNameCash=$(bad_arg SetPayTypeName)" "PrintVersion=0||" \
    "AlterCutterMode=0||" "AlterOnlineMode=0||" "Personalize=0||" "Sale=2500|0||" "Pay=0|0||" \
    "ChangeBitrate57600=$(bad_arg ChangeBitrate)" "DONE"

echo "== tax table and articles"
vbs tables COM5 >"$run/tables.txt"
cat "$run/tables.txt"
expect "$run/tables.txt" "Connect=0||" "GetTaxData=0||" "TaxBefore=4,2000,700,34,150" "SetTaxData=0||" \
    "SetTaxDataWide=$(bad_arg SetTaxData)" "TaxAfter=17/08/25,4,2000,900,34,75" "ProgramArticle=0||" \
    "ProgramArticleGroup134=$(bad_arg ProgramArticle)" "ProgramArticleCodeEx=$(bad_arg ProgramArticle)" \
    "GetArticleInfo=0||" "Article=Хлiб житнiй|1250|129|0" "DONE"

echo "== bitrate"
vbs bitrate COM5 >"$run/bitrate.txt"
cat "$run/bitrate.txt"
expect "$run/bitrate.txt" "Connect=0||" "ChangeBitrate9600=0||" "Connect9600=0||" "ChangeBitrate=0||" \
    "Connect38400=0||" "GetDate=17/08/25|0||" "ChangeBack=0||" "DONE"
check "bitrate: the old speed gets no answer" grep -qE '^GetDateOldSpeed=A0042003\|GetDate\|' "$run/bitrate.txt"
check "bitrate: the register ignored the frames at the old speed" grep -q 'the driver sends at 9600 baud, the register runs at 38400' "$run/sim.log"
# Figures only (no timed assertion): ten status queries at each speed, in seconds.
grep -E '^Time(9600|38400)=' "$run/bitrate.txt" | sed 's/^/figure: /'

echo "== tax table from the client's own ITaxData"
mark=$(wc -l <"$run/sim.log")
w "$taxclient" COM5 | tr -d '\r' >"$run/taxdata.txt"
tail -n +"$((mark + 1))" "$run/sim.log" >"$run/taxdata.log"
cat "$run/taxdata.txt"
invalid="80070057|80070057|Неверный аргумент."
expect "$run/taxdata.txt" "Connect=0|0|" "Table=0|0|" "NoFees=0|0|" "WideRate=$invalid" "Count6=$invalid" \
    "NoRecord=$invalid" "Released=0" "DONE"
check "taxdata: a failed read is the method's result" grep -qE '^FailingRead=80041234\|80041234\|' "$run/taxdata.txt"
# Count 2, two rates, flags 0x22, two fees and the fee of group E: 14 bytes after the code.
check "taxdata: the table as sent" grep -qE '^rx 10 02 [0-9A-F]{2} 19 00 00 02 D0 07 BC 02 22 96 00 00 00 64 00 [0-9A-F]{2} 10 03$' "$run/taxdata.log"
check "taxdata: no fees without flag 0x20" grep -qE '^rx 10 02 [0-9A-F]{2} 19 00 00 02 D0 07 BC 02 02 [0-9A-F]{2} 10 03$' "$run/taxdata.log"
check "taxdata: nothing sent for the refused tables" [ "$(grep -cE '^cmd 19 ' "$run/taxdata.log")" -eq 2 ]
expect "$run/taxdata.txt" "Connect2=0|0|" "FiscalCjk=$invalid" "FiscalEmoji=$invalid" "TaxCjk=$invalid" \
    "BarcodeCjk=$invalid" "QrCjk=$invalid"
check "taxdata: no number or code with \"?\" sent" bash -c "! grep -qE '^cmd (15|16|23|37) ' '$run/taxdata.log'"

echo "== logo"
# logo NAME FILE WIDTH HEIGHT: loads one logo; the register's log from this call on is
# $run/NAME.log, the client's output $run/NAME.txt.
logo() {
    local name=$1; shift
    local mark; mark=$(wc -l <"$run/sim.log")
    vbs logo COM5 "$@" >"$run/$name.txt"
    tail -n +"$((mark + 1))" "$run/sim.log" >"$run/$name.log"
    [ -e "$run/logo.pbm" ] && cp "$run/logo.pbm" "$run/$name.pbm"
    echo "-- $name: $(grep -E '^SetLogo=' "$run/$name.txt")"
}
blocks() { grep -c "rx extra block ($2 bytes)" "$run/$1.log"; }
pbm_size() { head -c 64 "$run/logo.pbm" | sed -n 2p; }
pbm_bytes() { tail -c +$(( $(head -n 2 "$run/logo.pbm" | wc -c) + 1 )) "$run/logo.pbm" | wc -c; }

"$maker" "$run/p300.bmp" 300 100 pattern
logo l300 "Z:$run/p300.bmp" 0 0
check "300 x 100: success" has "$run/l300.txt" "SetLogo=0||"
check "300 x 100: sent 320 x 100" [ "$(pbm_size)" = "320 100" ]
check "300 x 100: 4000 bytes" [ "$(pbm_bytes)" -eq 4000 ]
check "300 x 100: 62 blocks of 64 and one of 32" [ "$(blocks l300 64)" -eq 62 -a "$(blocks l300 32)" -eq 1 ]

logo l600 "Z:$run/p300.bmp" 600 500
check "width 600, height 500: sent 448 x 192" [ "$(pbm_size)" = "448 192" ]
logo l33 "Z:$run/p300.bmp" 33 0
check "width 33: sent 64 x 100" [ "$(pbm_size)" = "64 100" ]

"$maker" "$run/corner.bmp" 64 16 corner
logo corner "Z:$run/corner.bmp" 0 0
first=$(tail -c +$(( $(head -n 2 "$run/logo.pbm" | wc -c) + 1 )) "$run/logo.pbm" | od -An -v -tx1 | tr -s ' \n' ' ')
check "corner: the black top-left pixel is the first byte's top bit, nothing else set" \
    [ "$first" = " 80$(printf ' 00%.0s' $(seq 127)) " ]

# Pictures that need no scaling come back pixel for pixel, in every format the loader
# reads that make-picture writes.
"$maker" "$run/pattern.pbm" 96 40 pattern
for ext in bmp png gif; do
    "$maker" "$run/pattern.$ext" 96 40 pattern
    logo "pattern-$ext" "Z:$run/pattern.$ext" 0 0
    check "$ext: success" has "$run/pattern-$ext.txt" "SetLogo=0||"
    check "$ext: the register keeps the picture pixel for pixel" cmp -s "$run/pattern.pbm" "$run/logo.pbm"
done

# An icon loads as a picture without a bitmap: the conversion fails with E_FAIL, raised
# without a source, and nothing is sent.
"$maker" "$run/icon.ico" 32 32 pattern
logo icon "Z:$run/icon.ico" 0 0
check "icon: E_FAIL from the conversion" grep -qE '^SetLogo=80004005\|VAdazi\|' "$run/icon.txt"
check "icon: nothing sent" bash -c "! grep -q 'cmd 2D' '$run/icon.log'"

logo wrong-password "Z:$run/pattern.bmp" 0 0 7
check "wrong password: the register's error" has "$run/wrong-password.txt" "SetLogo=$(ecr SetLogo '21: неправильный пароль.')"

logo missing "Z:$run/no-such-file.bmp" 0 0
check "missing file: fails under SetLogo's name" grep -qE '^SetLogo=[89A-F][0-9A-F]{7}\|SetLogo\|.+' "$run/missing.txt"
check "missing file: nothing sent" bash -c "! grep -q 'cmd 2D' '$run/missing.log'"
check "missing file: the cause and the path" grep -qF "|Файл логотипа не найден: Z:$run/no-such-file.bmp" "$run/missing.txt"

# Files that are no pictures, or not whole ones: refused before anything is sent, with
# the cause and the path. (VBScript shows the invalid-picture result 800A01E1 as its own
# error 481, 1E1.)
head -c 554 "$run/p300.bmp" >"$run/cut.bmp"
: >"$run/empty.bmp"
echo "not a picture" >"$run/text.bmp"
logo cut "Z:$run/cut.bmp" 0 0
check "cut picture: refused" grep -qE '^SetLogo=(800A0)?1E1\|SetLogo\|Файл логотипа обрезан или повреждён.*: Z:' "$run/cut.txt"
logo empty "Z:$run/empty.bmp" 0 0
check "empty file: refused" grep -qE '^SetLogo=(800A0)?1E1\|SetLogo\|Файл логотипа пуст: Z:' "$run/empty.txt"
logo text "Z:$run/text.bmp" 0 0
check "text file: not a picture" grep -qE '^SetLogo=[89A-F][0-9A-F]{7}\|SetLogo\|Файл логотипа не является рисунком' "$run/text.txt"
logo folder "Z:$run" 0 0
check "directory: refused" grep -qE '^SetLogo=A0042801\|SetLogo\|Вместо файла логотипа указан каталог: Z:' "$run/folder.txt"
for name in cut empty text folder; do
    check "$name: nothing sent" bash -c "! grep -q 'cmd 2D' '$run/$name.log'"
done

logo clear "" 0 0
check "empty name: success" has "$run/clear.txt" "SetLogo=0||"
check "empty name: the clearing request" grep -qE '^rx 10 02 [0-9A-F]{2} 2D 00 00 00 00 00 00 00 [0-9A-F]{2} 10 03$' "$run/clear.log"
check "empty name: no image pulled" bash -c "! grep -q 'rx extra block' '$run/clear.log'"
check "empty name: the register dropped its logo" [ ! -e "$run/logo.pbm" ]

# A logo for the tape: drawn at the head of the next receipt.
"$maker" "$run/badge.bmp" 96 40 badge
logo badge "Z:$run/badge.bmp" 0 0
vbs receipt COM5 >"$run/receipt.txt"
expect "$run/receipt.txt" "Sale=1000|0||" "Pay=0|0||"

echo "== tape"
cat "$run/tape.txt"
for line in "Т О В   Л о г о т и п" "вул. Тестова, 5" "м. Київ" "ПН 123456789012" "Ласкаво просимо!" \
    "Д я к у є м о ,   щ о   в и   з   н а м" "ФН 4400000001" "КАСИР Оксана К." "PELTRA-SIM 44" "ВЕРСІЯ ПЗ 1.0"; do
    check "tape: $line" has "$run/tape.txt" "$line"
done
check "tape: the programmed pay type name" grep -qE '^Картка Visa +25\.00$' "$run/tape.txt"
check "tape: the logo drawn before the last receipt" bash -c "tail -n 30 '$run/tape.txt' | grep -q '█'"

echo "== arguments that do not fit their byte"
mark=$(wc -l <"$run/sim.log")
vbs refused COM5 >"$run/refused.txt"
tail -n +"$((mark + 1))" "$run/sim.log" >"$run/refused.log"
cat "$run/refused.txt"
expect "$run/refused.txt" "Sale=1000|0||" "Discount200=$(bad_arg GiveDiscount)" "DiscountMin=$(bad_arg GiveDiscount)" \
    "PayMinus1=$(bad_arg PayCheck)" "Pay65=$(bad_arg PayCheck)" "Cancel=0||" "DONE"
check "refused: no discount or payment sent" bash -c "! grep -qE '^cmd (31|12) ' '$run/refused.log'"

echo "== answers cut short"
# A sale answer without its sums is a protocol error that tells the cashier to check the
# receipt; a safe sum answer of 4 bytes is no sum.
control "fault short-data=3,cmd=14,count=1" "fault short-data=4,cmd=21,count=1"
vbs short COM5 >"$run/short.txt"
control clear
cat "$run/short.txt"
check "short sale answer: protocol error, check the receipt" \
    grep -qE '^Sale=[^|]*\|A0042006\|SaleArticle\|Ошибка протокола обмена: в ответе принтера нет сумм' "$run/short.txt"
check "short safe answer: protocol error" grep -qE '^SafeSum=[^|]*\|A0042006\|GetSafeSum\|Ошибка протокола обмена\.' "$run/short.txt"
expect "$run/short.txt" "Cancel=0||" "DONE"

echo "== work log"
cat "$run"/logday*.txt 2>/dev/null | iconv -f CP1251 -t UTF-8 | tr -d '\r' | cut -c14- >"$run/log.txt"
for line in "SetDate - 17/08/202" "SetDate - Неверный аргумент." "SetPassword - 'Оксана'" "SetPassword - Ok" \
    "Login - ''" "Login - Ошибка ЭККР 21: неправильный пароль." "SetTaxPayerInfo - Неверный аргумент." \
    "SetTaxPayerInfo - 0x10, '123456789012', 'ТОВ Логотип', 'вул. Тестова, 5', 'м. Київ'" \
    "SetCheckCaption - 1, 1, 0, 'Дякуємо, що ви з нами, до зустрічі!'" "SetPayTypeName - 00, 'Картка Visa'" \
    "ChangeBitrate - 38400" "SetTaxData - Ok" "SetTaxData - Неверный аргумент." \
    "ProgramArticle - 4001, 81, 03, 7, 'Хліб житній'" "ProgramArticle - Ok" "SetLogo - 0, 0, 'Z:$run/p300.bmp'" "SetLogo - 600, 500, 'Z:$run/p300.bmp'" "SetLogo - Ok"; do
    check "log: $line" has "$run/log.txt" "$line"
done
check "log: no password in the log" bash -c "! grep -qE '5813|6927' '$run/log.txt'"

wine_session_end
