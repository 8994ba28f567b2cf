' Demo client of PELTRA44: what a point-of-sale program does first with the serial
' register. Late-bound, as scripting clients are. Usage: serial.vbs PORT
Option Explicit
Dim fp, port, v
port = WScript.Arguments(0)

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
fp.Disconnect
Outcome "Disconnect"
v = fp.GetDate()
Outcome "GetDate after Disconnect"
WScript.Echo "DONE"
