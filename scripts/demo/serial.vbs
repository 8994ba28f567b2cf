' Demo client of PELTRA44: what a point-of-sale program does with the serial register:
' connect, read its state, date and time, program a receipt header and the shop's logo,
' sell a receipt of two articles paid in cash with change, then end the shift: the X
' report printed and read back as a record, and the Z report. Late-bound, as scripting
' clients are. Usage: serial.vbs PORT LOGO-FILE
' (The file is kept in UTF-8; the demo hands it to the script host in the ANSI page.)
Option Explicit
Dim fp, port, logo, v, x
port = WScript.Arguments(0)
logo = WScript.Arguments(1)

' Kopiykas as hryvnias with a point, as the register prints them (the sums here are not
' negative).
Function Money(v)
    Money = (v \ 100) & "." & Right("0" & (v Mod 100), 2)
End Function

Sub Show(name, value)
    WScript.Echo "  " & name & ": " & value
End Sub

' Prints the outcome of the last call; a failure shows the driver's own description.
Sub Outcome(what)
    If Err.Number <> 0 Then
        WScript.Echo "  " & what & " failed: 0x" & Hex(Err.Number) & " " & Err.Description
        Err.Clear
    Else
        WScript.Echo "  " & what & ": ok"
    End If
End Sub

On Error Resume Next
Set fp = CreateObject("PELTRA44.FiscalPrinter")
If Err.Number <> 0 Then
    WScript.Echo "CreateObject failed: 0x" & Hex(Err.Number) & " " & Err.Description
    WScript.Quit 1
End If
Show "driver", fp.Name & " " & fp.Version

fp.Connect port, 19200
Outcome "Connect " & port
Show "register", fp.PrinterInfo
Show "fiscal number, date, tax number", fp.FiscalInfo
Show "taxpayer", fp.TaxPayerInfo(1) & " / " & fp.TaxPayerInfo(2) & " / " & fp.TaxPayerInfo(3)
v = fp.GetState()
Outcome "GetState"
Show "register state", "0x" & Hex(fp.EcrState) & ", error number " & fp.EcrErrorNumber
v = fp.GetDate()
Outcome "GetDate"
Show "register date", v
v = fp.GetTime()
Outcome "GetTime"
Show "register time", v

' Set up before the first receipt: two header lines (the first in double width) and
' the logo, both printed at the head of every receipt from now on.
fp.SetCheckCaption 0, "Крамниця Демо", True
Outcome "SetCheckCaption 0 (double width)"
fp.SetCheckCaption 1, "Ласкаво просимо!"
Outcome "SetCheckCaption 1"
fp.SetLogo 0, logo
Outcome "SetLogo " & logo

' A sale receipt. Money in kopiykas; counts with three decimals (1000 = one unit).
fp.DisplayString 0, "Кава 250г, Молоко"
Outcome "DisplayString"
v = fp.SaleArticle(1001, 1000, 18950, 128, "Кава мелена 250 г", 3)
Outcome "SaleArticle 1 x 189.50, group А"
Show "line sum / receipt total", v & " / " & fp.TotalSum
v = fp.SaleArticle(2002, 2000, 3475, 129, "Молоко 2,5% 0,9 л", 3)
Outcome "SaleArticle 2 x 34.75, group Б"
Show "line sum / receipt total", v & " / " & fp.TotalSum
v = fp.PayCheck(3, 30000, "Готівка")
Outcome "PayCheck cash 300.00"
Show "change", v
Show "TotalSum (due after the payment; negative: change)", fp.TotalSum
Show "register state", "0x" & Hex(fp.EcrState) & " (receipt closed)"
fp.PayCheck 3, 100
Outcome "PayCheck with no receipt open"

' The end of the shift: the register prints its X report, the driver reads the same
' totals back as an XReport record, then the Z report closes the shift.
fp.PrintXReport 0
Outcome "PrintXReport"
Set x = fp.GetXReport()
Outcome "GetXReport"
WScript.Echo "  XReport record (" & x.Name & "):"
WScript.Echo "X   receipts           " & x.ChecksCount
WScript.Echo "X   group A            " & Money(x.SumByTaxType.TaxTypeA)
WScript.Echo "X   group B            " & Money(x.SumByTaxType.TaxTypeB)
WScript.Echo "X   by card            " & Money(x.SumByPayType.ByCard)
WScript.Echo "X   in cash            " & Money(x.SumByPayType.ByCash)
WScript.Echo "X   markups            " & Money(x.MarkUp)
WScript.Echo "X   discounts          " & Money(x.Discount)
WScript.Echo "X   refund receipts    " & x.RefundChecksCount
WScript.Echo "X   cash deposited     " & Money(x.SafePlus)
WScript.Echo "X   cash withdrawn     " & Money(x.SafeMinus)
Show "cash in the drawer", Money(fp.GetSafeSum())
Set x = Nothing
v = fp.PrintZReport(0)
Outcome "PrintZReport"
Show "Z report number", v
fp.Disconnect
Outcome "Disconnect"
v = fp.GetDate()
Outcome "GetDate after Disconnect"
WScript.Echo "DONE"
