' N GetDate calls through PELTRA44 from a script client (late-bound: the script engine's name lookup and call, through IDispatchEx).
'   cscript //nologo com_bench.vbs PORT [N] [BAUD]
Dim fp, n, baud, i, t0, t1, failures, d
n = 200 : baud = 19200
If WScript.Arguments.Count > 1 Then n = CLng(WScript.Arguments(1))
If WScript.Arguments.Count > 2 Then baud = CLng(WScript.Arguments(2))
Set fp = CreateObject("PELTRA44.FiscalPrinter")
On Error Resume Next
fp.Connect WScript.Arguments(0), baud
d = fp.GetDate()
If Err.Number <> 0 Then
    WScript.Echo "Connect or GetDate failed: " & Hex(Err.Number)
    WScript.Quit 1
End If
failures = 0
t0 = Timer
For i = 1 To n
    Err.Clear
    d = fp.GetDate()
    If Err.Number <> 0 Then failures = failures + 1
Next
t1 = Timer
' A property the server answers without the line: the cost of the call alone.
Dim t2, t3, s
t2 = Timer
For i = 1 To n
    s = fp.EcrState
Next
t3 = Timer
' A record's property: records answer IDispatch only (no IDispatchEx), so each read
' also costs the refused questions.
Dim x, t4, t5
Set x = fp.GetXReport()
t4 = Timer
For i = 1 To n
    s = x.ChecksCount
Next
t5 = Timer
Set x = Nothing
fp.Disconnect
WScript.Echo "calls " & n & ", failed " & failures & ", time per call " & FormatNumber((t1 - t0) * 1000 / n, 2, True, False, False) & _
    " ms (EcrState, no line traffic: " & FormatNumber((t3 - t2) * 1000 / n, 2, True, False, False) & _
    " ms; XReport.ChecksCount: " & FormatNumber((t5 - t4) * 1000 / n, 2, True, False, False) & " ms)"
If failures > 0 Then WScript.Quit 1
