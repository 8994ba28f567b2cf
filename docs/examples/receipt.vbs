' A sale receipt on the serial register through PELTRA44, late-bound as every script is.
' Usage: cscript //nologo receipt.vbs COM5
' Save the file in the Windows ANSI code page (1251): the script host reads it so.
' Money is in kopiykas (18950 = 189.50), counts in thousandths (2000 = 2 pieces).
' Every step is checked: a failure prints what failed and ends the script with status 1.
Option Explicit
Dim fp, sum, change
On Error Resume Next

' Stops the script with status 1 when the last step failed: with the driver's own number
' and text when the driver failed, else with the script host's.
Sub Check(what)
    Dim number, text
    If Err.Number = 0 Then Exit Sub
    number = Err.Number
    text = Err.Description
    If IsObject(fp) Then
        If fp.ErrorNumber <> 0 Then
            number = fp.ErrorNumber
            text = fp.ErrorDescription
        End If
    End If
    WScript.Echo what & " failed: 0x" & Hex(number) & " " & text
    WScript.Quit 1
End Sub

' The names below go onto the fiscal receipt as the script host read them: a file saved
' as UTF-8 would print garbage. Read in code page 1251, "Д" is one character, not two.
If Len("Д") <> 1 Then
    WScript.Echo "The script is not read in code page 1251 (saved as UTF-8?): nothing was sent."
    WScript.Quit 2
End If

Set fp = CreateObject("PELTRA44.FiscalPrinter")
Check "CreateObject(""PELTRA44.FiscalPrinter"")"
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
Check "Disconnect"
WScript.Echo "DONE"
