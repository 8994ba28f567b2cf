' Drives PELTRA44 over the serial link, late-bound. Usage: drive.vbs SCENARIO PORT
' Prints "Name=value" lines, errors as "Name=HEX|source|description", and DONE at the
' end (an unhandled error would end the script silently with exit code 0).
Option Explicit
Dim fp, scenario, port, v, i
scenario = WScript.Arguments(0)
port = WScript.Arguments(1)
Set fp = CreateObject("PELTRA44.FiscalPrinter")

Sub Show(name, value)
    WScript.Echo name & "=" & value
End Sub

' The error of the last call, then cleared.
Function Outcome()
    Outcome = Hex(Err.Number) & "|" & Err.Source & "|" & Err.Description
    Err.Clear
End Function

Sub Props()
    Show "EcrState", fp.EcrState
    Show "EcrErrorNumber", fp.EcrErrorNumber
    Show "ErrorNumber", Hex(fp.ErrorNumber)
    Show "ErrorDescription", fp.ErrorDescription
End Sub

On Error Resume Next
Select Case scenario
Case "main"
    ' Sequence numbers: Connect's two status queries take 0 and 1.
    Show "EcrStateBefore", fp.EcrState
    fp.Connect port
    Show "Connect", Outcome()
    Props
    Show "PrinterInfo", fp.PrinterInfo
    Show "FiscalInfo", fp.FiscalInfo
    Show "TaxPayerInfo1", fp.TaxPayerInfo(1)
    Show "TaxPayerInfo2", fp.TaxPayerInfo(2)
    Show "TaxPayerInfo3", fp.TaxPayerInfo(3)
    v = fp.GetState()
    Show "GetState", v & "|" & Outcome()
    v = fp.GetTime()
    Show "GetTime", v & "|" & Outcome()
    For i = 1 To 3
        v = fp.GetState()
    Next
    Show "GetStates", Outcome()
    ' Sequence 7.
    v = fp.GetDate()
    Show "GetDate", v & "|" & Outcome()
    fp.Disconnect
    Show "Disconnect", Outcome()
    v = fp.GetDate()
    Show "GetDateDisconnected", Outcome()
    Props
Case "register-error"
    fp.Connect port, 19200
    Show "Connect", Outcome()
    v = fp.GetDate()
    Show "GetDate", Outcome()
    Props
    v = fp.GetState()
    Show "GetState", v & "|" & Outcome()
    Show "EcrErrorNumberAfter", fp.EcrErrorNumber
Case "silent"
    fp.Connect port
    Show "Connect", Outcome()
    Props
    v = fp.GetState()
    Show "GetStateAfterFailedConnect", Outcome()
Case "receipt"
    ' Sequence numbers: Connect's two status queries take 0 and 1.
    fp.Connect port, 19200
    Show "Connect", Outcome()
    fp.PayCheck 3, 100, ""
    Show "PayCheckNotOpen", Outcome()
    Show "ErrorNumber", Hex(fp.ErrorNumber)
    Show "EcrErrorNumber", fp.EcrErrorNumber
    v = fp.SaleArticle(123, 2000, 1550, 128, "Молоко", 3, 0)
    Show "Sale1", v & "|" & Outcome()
    Show "TotalSum1", fp.TotalSum
    Show "EcrState1", Hex(fp.EcrState)
    v = fp.SaleArticle(456, 1000, 2990, 129, "Хліб" & vbTab & "житній")
    Show "Sale2", v & "|" & Outcome()
    Show "TotalSum2", fp.TotalSum
    ' Failed calls as statements: a failed call assigns nothing.
    fp.SaleArticle 1, 1000, 100, 133, "Group E"
    Show "SaleGroupE", Outcome()
    fp.SaleArticle 1, 0, 100, 128
    Show "SaleZero", Outcome()
    v = fp.GiveDiscount(500, True, False, "Знижка", 2)
    Show "Discount", v & "|" & Outcome()
    Show "TotalSum3", fp.TotalSum
    fp.CommentCheck "Дякуємо!"
    Show "Comment", Outcome()
    v = fp.PayCheck(3, 10000, "Готівка")
    Show "Pay", v & "|" & Outcome()
    Show "TotalSum4", fp.TotalSum
    Show "EcrState4", Hex(fp.EcrState)
    fp.ChangeSafeSum -20000
    Show "Withdraw", Outcome()
    v = fp.ChangeSafeSum(2500)
    Show "Deposit", v & "|" & Outcome()
    fp.PrintBarcode "12345"
    Show "BarcodeShort", Outcome()
    fp.DisplayString 0, "Сума 59.62"
    Show "Display", Outcome()
    v = fp.RefundArticle(123, 1000, 1550, 128, "Молоко")
    Show "Refund", v & "|" & Outcome()
    fp.CancelCheck
    Show "Cancel", Outcome()
    Show "EcrState5", Hex(fp.EcrState)
    fp.CancelCheck
    Show "CancelAgain", Outcome()
    fp.OpenSafe
    Show "OpenSafe", Outcome()
    fp.LineFeed
    Show "LineFeed", Outcome()
    fp.Disconnect
Case "bad-port"
    fp.Connect port
    Show "Connect", Outcome()
    Props
    fp.Connect String(101, "C")
    Show "ConnectLongName", Outcome()
End Select
On Error GoTo 0
WScript.Echo "DONE"
