' A sale receipt on the serial register through PELTRA44, late-bound as every script is.
' Usage: cscript //nologo receipt.vbs COM5
' Save the file in the Windows ANSI code page (1251): the script host reads it so.
' Money is in kopiykas (18950 = 189.50), counts in thousandths (2000 = 2 pieces).
Option Explicit
Dim fp, sum, change
Set fp = CreateObject("PELTRA44.FiscalPrinter")

' Stops the script with the driver's own number and text when the last call failed.
Sub Check(what)
    If Err.Number <> 0 Then
        WScript.Echo what & " failed: 0x" & Hex(fp.ErrorNumber) & " " & fp.ErrorDescription
        WScript.Quit 1
    End If
End Sub

On Error Resume Next
fp.Connect WScript.Arguments(0), 19200
Check "Connect"
WScript.Echo "Register: " & fp.PrinterInfo
fp.GetState
Check "GetState"
WScript.Echo "State: 0x" & Hex(fp.EcrState)

' Code, count, price, tax group, name, count format (3 decimals), extended code
sum = fp.SaleArticle(1001, 1000, 18950, 128, "Кава мелена 250 г", 3, 0)
Check "SaleArticle"
sum = fp.SaleArticle(2002, 2000, 3475, 129, "Молоко 2,5%", 3, 0)
Check "SaleArticle"
WScript.Echo "Receipt total: " & fp.TotalSum
fp.CommentCheck "Дякуємо за покупку!"
Check "CommentCheck"
' Payment type 3 is cash; the answer is the change
change = fp.PayCheck(3, 30000, "Готівка")
Check "PayCheck"
WScript.Echo "Change: " & change
fp.Disconnect
WScript.Echo "DONE"
