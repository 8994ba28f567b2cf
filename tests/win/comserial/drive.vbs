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
Case "bad-port"
    fp.Connect port
    Show "Connect", Outcome()
    Props
    fp.Connect String(101, "C")
    Show "ConnectLongName", Outcome()
End Select
On Error GoTo 0
WScript.Echo "DONE"
