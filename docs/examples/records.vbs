' The register's totals as record objects: the shift's X report, one article's counters
' and the tax table. Usage: cscript //nologo records.vbs COM5 (after receipt.vbs)
' A record is a snapshot taken when the method ran; reading it sends nothing.
Option Explicit
Dim fp, x, art, tax
Set fp = CreateObject("PELTRA44.FiscalPrinter")
fp.Connect WScript.Arguments(0)

Set x = fp.GetXReport()
WScript.Echo "Receipts in the shift: " & x.ChecksCount
WScript.Echo "Sales in group A: " & x.SumByTaxType.TaxTypeA
WScript.Echo "Sales in group B: " & x.SumByTaxType.TaxTypeB
WScript.Echo "Paid in cash: " & x.SumByPayType.ByCash
WScript.Echo "Refund receipts: " & x.RefundChecksCount

Set art = fp.GetArticleInfo(1001)
WScript.Echo "Article " & art.Code & ": " & art.Name & ", sold " & art.Count & _
    " (format " & art.CountFormat & "), turnover " & art.TurnoverSum

Set tax = fp.GetTaxData()
WScript.Echo "Tax table of " & tax.Date & ": " & tax.Count & " rates, A " & tax.TaxRateA & _
    ", B " & tax.TaxRateB

' Release the records before the object: each one keeps the server running.
Set x = Nothing
Set art = Nothing
Set tax = Nothing
fp.Disconnect
WScript.Echo "DONE"
