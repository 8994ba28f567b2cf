' Late-bound client: properties, an index out of range, PayCheck without arguments,
' a member without support. Prints one line per value and DONE at the end (an
' unhandled error would end the script silently).
Set fp = CreateObject("PELTRA44.FiscalPrinter")
WScript.Echo "Version=" & fp.Version
WScript.Echo "Name=" & fp.Name
WScript.Echo "EcrState=" & fp.EcrState
On Error Resume Next
x = fp.TaxPayerInfo(0)
WScript.Echo "TaxPayerInfo0=" & Hex(Err.Number) & "|" & Err.Source & "|" & Err.Description
WScript.Echo "ErrorNumber=" & fp.ErrorNumber
WScript.Echo "ErrorDescription=" & fp.ErrorDescription
Err.Clear
r = fp.PayCheck()
WScript.Echo "PayCheck=" & Hex(Err.Number) & "|" & Err.Source & "|" & Err.Description
Err.Clear
Set z = fp.GetZReport(1)
WScript.Echo "GetZReport=" & Hex(Err.Number) & "|" & Err.Source & "|" & Err.Description
Err.Clear
On Error GoTo 0
WScript.Echo "DONE"
