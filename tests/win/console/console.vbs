' PELTRA44 as a till drives it, for the console's browser test. Usage: console.vbs SCENARIO PORT
' Prints "Name=value" lines, errors as "Name=HEX|source|description", and DONE at the end.
Option Explicit
Dim fp, scenario, port, v
scenario = WScript.Arguments(0)
port = WScript.Arguments(1)
Set fp = CreateObject("PELTRA44.FiscalPrinter")

Sub Show(name, value)
    WScript.Echo name & "=" & value
End Sub

Function Outcome()
    Outcome = Hex(Err.Number) & "|" & Err.Source & "|" & Err.Description
    Err.Clear
End Function

On Error Resume Next
fp.Connect port, 19200
Show "Connect", Outcome()
Select Case scenario
Case "sale"
    fp.DisplayString 0, "Молоко 2 x 15.50"
    Show "Display", Outcome()
    v = fp.SaleArticle(123, 2000, 1550, 128, "Молоко", 3, 0)
    Show "Sale1", v & "|" & Outcome()
    v = fp.SaleArticle(456, 1000, 2990, 129, "Хліб житній")
    Show "Sale2", v & "|" & Outcome()
    fp.CommentCheck "Дякуємо!"
    Show "Comment", Outcome()
    v = fp.PayCheck(3, 10000, "Готівка")
    Show "Pay", v & "|" & Outcome()
    fp.DisplayString 1, "Решта 39.10"
    Show "Display2", Outcome()
Case "date"
    v = fp.GetDate()
    Show "GetDate", v & "|" & Outcome()
    Show "EcrErrorNumber", fp.EcrErrorNumber
End Select
fp.Disconnect
On Error GoTo 0
WScript.Echo "DONE"
