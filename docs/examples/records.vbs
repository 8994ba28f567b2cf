' The register's totals as record objects: the shift's X report, one article's counters
' and the tax table. Usage: cscript //nologo records.vbs COM5 (after receipt.vbs)
' A record is a snapshot taken when the method ran; reading it sends nothing.
' Every step is checked: a failure prints what failed and ends the script with status 1.
Option Explicit
Dim fp, x, art, tax
On Error Resume Next

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

Set fp = CreateObject("PELTRA44.FiscalPrinter")
Check "CreateObject(""PELTRA44.FiscalPrinter"")"
fp.Connect WScript.Arguments(0)
Check "Connect"

Set x = fp.GetXReport()
Check "GetXReport"
WScript.Echo "Receipts in the shift: " & x.ChecksCount
WScript.Echo "Sales in group A: " & x.SumByTaxType.TaxTypeA
WScript.Echo "Sales in group B: " & x.SumByTaxType.TaxTypeB
WScript.Echo "Paid in cash: " & x.SumByPayType.ByCash
WScript.Echo "Refund receipts: " & x.RefundChecksCount

Set art = fp.GetArticleInfo(1001)
Check "GetArticleInfo"
WScript.Echo "Article " & art.Code & ": " & art.Name & ", sold " & art.Count & _
    " (format " & art.CountFormat & "), turnover " & art.TurnoverSum

Set tax = fp.GetTaxData()
Check "GetTaxData"
WScript.Echo "Tax table of " & tax.Date & ": " & tax.Count & " rates, A " & tax.TaxRateA & _
    ", B " & tax.TaxRateB

' Release the records before the object: each one keeps the server running.
Set x = Nothing
Set art = Nothing
Set tax = Nothing
fp.Disconnect
Check "Disconnect"
WScript.Echo "DONE"
