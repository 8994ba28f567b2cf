' Drives PELTRA44 over the serial link, late-bound. Usage: drive.vbs SCENARIO PORT
' Prints "Name=value" lines, errors as "Name=HEX|source|description", and DONE at the
' end (an unhandled error would end the script silently with exit code 0).
Option Explicit
Dim fp, scenario, port, v, i, x, c, t, a, m
scenario = WScript.Arguments(0)
port = WScript.Arguments(1)
Set fp = CreateObject("PELTRA44.FiscalPrinter")

Sub Show(name, value)
    WScript.Echo name & "=" & value
End Sub

' Booleans print in the user's language; this does not.
Function YesNo(value)
    If value Then YesNo = "yes" Else YesNo = "no"
End Function

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

' Record fields as "TAG key=value", with the keys of the register simulator's books, so
' that the test compares them with the simulator's own totals.
Sub Book(tag, key, value)
    WScript.Echo tag & " " & key & "=" & value
End Sub

Sub TaxSums(tag, prefix, s)
    Book tag, prefix & ".A", s.TaxTypeA
    Book tag, prefix & ".B", s.TaxTypeB
    Book tag, prefix & ".V", s.TaxTypeV
    Book tag, prefix & ".G", s.TaxTypeG
    Book tag, prefix & ".D", s.TaxTypeD
    Book tag, prefix & ".E", s.TaxTypeE
End Sub

Sub PaySums(tag, prefix, s)
    Book tag, prefix & ".0", s.ByCard
    Book tag, prefix & ".1", s.ByCredit
    Book tag, prefix & ".2", s.ByCheck
    Book tag, prefix & ".3", s.ByCash
    Book tag, prefix & ".4", s.ByOther4
    Book tag, prefix & ".5", s.ByOther5
    Book tag, prefix & ".6", s.ByOther6
    Book tag, prefix & ".7", s.ByOther7
    Book tag, prefix & ".8", s.ByOther8
    Book tag, prefix & ".9", s.ByOther9
End Sub

Sub XFields(tag, x)
    Book tag, "shift.sales.receipts", x.ChecksCount
    TaxSums tag, "shift.sales.group", x.SumByTaxType
    PaySums tag, "shift.sales.pay", x.SumByPayType
    Book tag, "shift.sales.markup", x.MarkUp
    Book tag, "shift.sales.discount", x.Discount
    Book tag, "shift.safe.in", x.SafePlus
    Book tag, "shift.refunds.receipts", x.RefundChecksCount
    TaxSums tag, "shift.refunds.group", x.RefundSumByTaxType
    PaySums tag, "shift.refunds.pay", x.RefundSumByPayType
    Book tag, "shift.refunds.markup", x.RefundMarkUp
    Book tag, "shift.refunds.discount", x.RefundDiscount
    Book tag, "shift.safe.out", x.SafeMinus
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
Case "template"
    ' Not connected: the template needs no register.
    Set x = Nothing
    Set t = fp.GetTaxData(1)
    Show "Template", Outcome()
    Show "TemplateName", t.Name
    Show "TemplateValues", t.Count & " " & t.Flags & " " & t.TaxRateA & " " & t.TaxRateB & " " & t.FeeRateE & " [" & t.Date & "]"
    t.Count = 6
    Show "TemplateCount6", Outcome()
    Show "TemplateCountAfter", t.Count
    t.Count = 5
    t.Flags = 2
    t.TaxRateD = 1400
    Show "TemplateChanged", t.Count & " " & t.Flags & " " & t.TaxRateD & "|" & Outcome()
    Show "TemplateParent", t.Parent.Name
    Set x = fp.GetXReport()
    Show "XDisconnected", Outcome()
    Show "XDisconnectedIsNothing", YesNo(x Is Nothing)
Case "books-open"
    ' A sales receipt left open after its first payment, and its sums.
    fp.Connect port
    Show "Connect", Outcome()
    v = fp.SaleArticle(123, 2000, 1550, 128, "Молоко", 3, 0)
    v = fp.SaleArticle(456, 1000, 2990, 129, "Хліб", 3, 0)
    v = fp.GiveDiscount(500, True, False, "Знижка", 2)
    v = fp.PayCheck(0, 2000, "Картка")
    Show "Receipt", Outcome()
    Set c = fp.GetCheckSum()
    Show "CheckSum", Outcome()
    Show "CheckSumNames", c.Name & " " & c.SumByTaxType.Name & " " & c.SumByPayType.Name & " " & c.SumByTaxType.Parent.Name
    TaxSums "C", "receipt.group", c.SumByTaxType
    PaySums "C", "receipt.pay", c.SumByPayType
    Book "C", "receipt.total", c.TotalSum
    Book "C", "receipt.paid", c.PayedSum
    fp.Disconnect
Case "books-close"
    ' The receipt paid in cash with change, a receipt with a markup, a refund receipt,
    ' cash in and out; then the running totals and the other readers.
    fp.Connect port
    Show "Connect", Outcome()
    v = fp.PayCheck(3, 5000, "Готівка")
    v = fp.SaleArticle(789, 1000, 1000, 130, "Чай")
    v = fp.GiveDiscount(-100, False, True, "Надбавка")
    v = fp.PayCheck()
    v = fp.RefundArticle(123, 1000, 1550, 128, "Молоко")
    v = fp.PayCheck(3, 1550)
    v = fp.ChangeSafeSum(2500)
    v = fp.ChangeSafeSum(-1000)
    Show "Shift", Outcome()
    fp.GetCheckSum
    Show "CheckSumClosed", Outcome()
    Set x = fp.GetXReport()
    Show "XReport", Outcome()
    Show "XNames", x.Name & " " & x.RefundSumByPayType.Name & " " & x.Parent.Name
    Show "XSameSubRecord", YesNo(x.SumByTaxType Is x.SumByTaxType)
    XFields "X", x
    Book "S", "safe", fp.GetSafeSum()
    Set a = fp.GetArticleInfo(123)
    Show "Article", Outcome()
    Book "A", "article.123.0.name", a.Name
    Book "A", "article.123.0.group", a.TaxType
    Book "A", "article.123.0.price", a.Price
    Book "A", "article.123.0.format", a.CountFormat
    Book "A", "article.123.0.sold", a.Count
    Book "A", "article.123.0.sold_sum", a.TurnoverSum
    Book "A", "article.123.0.refunded", a.RefundCount
    Book "A", "article.123.0.refunded_sum", a.RefundTurnoverSum
    Show "ArticleCode", a.Code & " " & a.CodeEx & " " & a.Parent.Name
    fp.GetArticleInfo 999
    Show "ArticleUnknown", Outcome()
    fp.GetArticleInfo 1, 70000
    Show "ArticleCodeEx", Outcome()
    Set t = fp.GetTaxData()
    Show "TaxData", Outcome()
    Book "T", "tax.date", t.Date
    Book "T", "tax.count", t.Count
    Book "T", "tax.rate.A", t.TaxRateA
    Book "T", "tax.rate.B", t.TaxRateB
    Book "T", "tax.rate.V", t.TaxRateV
    Book "T", "tax.rate.G", t.TaxRateG
    Book "T", "tax.rate.D", t.TaxRateD
    Book "T", "tax.flags", t.Flags
    Book "T", "tax.fee.A", t.FeeRateA
    Book "T", "tax.fee.B", t.FeeRateB
    Book "T", "tax.fee.V", t.FeeRateV
    Book "T", "tax.fee.G", t.FeeRateG
    Book "T", "tax.fee.D", t.FeeRateD
    Book "T", "tax.fee.E", t.FeeRateE
    v = fp.GetTimeToBlock(0)
    Show "TimeToBlock", v & "|" & Outcome()
    ' A byte array (vbArray + vbByte). The script host of the test platform cannot take
    ' the bounds of a byte array; the compiled client checks them (records_client.cpp).
    m = fp.ReadMemory(19, 0, 10)
    Show "ReadMemory", Outcome()
    Show "ReadMemoryType", VarType(m)
    fp.ReadMemory 0, 300, 1
    Show "ReadMemoryPage", Outcome()
    fp.ReadMemory 0, 0, 129
    Show "ReadMemoryCount", Outcome()
    fp.PrintXReport 0
    Show "PrintXReport", Outcome()
    fp.PrintArtReport 0, 100, 200
    Show "PrintArtReport", Outcome()
    fp.PrintArtReport 0, 0, 0, 70000
    Show "PrintArtReportCodeEx", Outcome()
    fp.Disconnect
Case "books-z"
    fp.Connect port
    Show "Connect", Outcome()
    v = fp.SaleArticle(1, 1000, 100, 128, "Відкритий чек")
    fp.PrintZReport 0
    Show "ZWithReceiptOpen", Outcome()
    fp.CancelCheck
    v = fp.PrintZReport(0)
    Show "PrintZReport", Outcome()
    Book "Z", "z.count", v
    Set x = fp.GetXReport()
    XFields "X0", x
    fp.PrintZReport 0
    Show "ZAgain", Outcome()
    fp.PrintReportByDate 0, "01/07/16", "31/07/16", False
    Show "ReportByDate", Outcome()
    fp.PrintReportByDate 0, "24/07/16", "24/07/16", True
    Show "ReportByDateShort", Outcome()
    fp.PrintReportByDate 0, "24/07/1", "24/07/16"
    Show "ReportByDateBad", Outcome()
    fp.PrintReportById 0, 1, 1, False
    Show "ReportById", Outcome()
    fp.PrintReportById 0, 70000, 1
    Show "ReportByIdWide", Outcome()
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
