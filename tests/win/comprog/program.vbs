' Drives PELTRA44's programming and service members, late-bound.
' Usage: program.vbs SCENARIO PORT [ARGS...]
' Prints "Name=value" lines, errors as "Name=HEX|source|description", and DONE at the
' end (an unhandled error would end the script silently with exit code 0).
Option Explicit
Dim fp, scenario, port, v, i, t0, r, t, a
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

On Error Resume Next
Select Case scenario
Case "clock1"
    ' The register is told (before this script) to stay silent for a second on the
    ' next date query frames: with the usual read time-out of 300 ms the query fails
    ' after three attempts. Between the scenarios the test waits for the register to
    ' work off the frames of those attempts, so that no late answer meets the next one.
    fp.Connect port, 19200
    Show "Connect", Outcome()
    fp.SetDate "17/08/202"
    Show "SetDateNine", Outcome()
    v = fp.GetDate()
    Show "GetDateSlowAfterFailedSet", Outcome()
Case "clock2"
    fp.Connect port, 19200
    Show "Connect", Outcome()
    fp.SetDate "17/08/25"
    Show "SetDate", Outcome()
    v = fp.GetDate()
    Show "GetDateSlowAfterSet", Outcome()
Case "clock3"
    fp.Connect port, 19200
    Show "Connect", Outcome()
    v = fp.GetDate()
    Show "GetDate", v & "|" & Outcome()
    fp.SetTime "11:22:33"
    Show "SetTime", Outcome()
    v = fp.GetTime()
    Show "GetTime", v & "|" & Outcome()
    fp.SetTime ""
    Show "SetTimeEmpty", Outcome()
    fp.SetDate "31/02/25"
    Show "SetDateNoSuchDay", Outcome()
Case "users"
    fp.Connect port, 19200
    Show "Connect", Outcome()
    fp.Login 3, 1111
    Show "LoginWrong", Outcome()
    Show "EcrErrorNumber", fp.EcrErrorNumber
    fp.Login 300, 5813
    Show "LoginUser300", Outcome()
    fp.ChangePassword 3, 5813, 6927, "Оксана"
    Show "ChangePassword", Outcome()
    fp.Login 3, 6927
    Show "Login", Outcome()
    fp.Logout 3, 6927
    Show "Logout", Outcome()
    fp.Login 3, 6927, "Оксана К."
    Show "LoginNamed", Outcome()
Case "headers"
    fp.Connect port, 19200
    Show "Connect", Outcome()
    fp.SetTaxPayerInfo 0, "12345678901", "ТОВ Логотип"
    Show "SetTaxPayerInfoShort", Outcome()
    fp.SetTaxPayerInfo 0, "123456789012", "ТОВ Логотип", "вул. Тестова, 5", "м. Київ", &H10
    Show "SetTaxPayerInfo", Outcome()
    fp.SetCheckCaption 0, "Ласкаво просимо!"
    Show "SetCheckCaption", Outcome()
    fp.SetCheckCaption 1, "Дякуємо, що ви з нами, до зустрічі!", True
    Show "SetCheckCaptionWide", Outcome()
    fp.SetCheckCaption 8, "x"
    Show "SetCheckCaptionRow8", Outcome()
    fp.SetFiscalNumber 0, "4400000001"
    Show "SetFiscalNumber", Outcome()
    fp.SetPayTypeName 0, 0, "Картка Visa"
    Show "SetPayTypeName", Outcome()
    fp.SetPayTypeName 0, 3, "Гроші"
    Show "SetPayTypeNameCash", Outcome()
    fp.PrintVersion
    Show "PrintVersion", Outcome()
    fp.AlterCutterMode
    Show "AlterCutterMode", Outcome()
    fp.AlterOnlineMode
    Show "AlterOnlineMode", Outcome()
    fp.Personalize 0
    Show "Personalize", Outcome()
    Show "EcrState", Hex(fp.EcrState)
    v = fp.SaleArticle(5, 1000, 2500, 128, "Чай", 3)
    Show "Sale", v & "|" & Outcome()
    v = fp.PayCheck(0, -1, "")
    Show "Pay", v & "|" & Outcome()
    fp.ChangeBitrate 57600
    Show "ChangeBitrate57600", Outcome()
Case "tables"
    ' The tax table as read, changed and written back, then read again; an article
    ' programmed, then read.
    fp.Connect port, 19200
    Show "Connect", Outcome()
    Set t = fp.GetTaxData()
    Show "GetTaxData", Outcome()
    Show "TaxBefore", t.Count & "," & t.TaxRateA & "," & t.TaxRateB & "," & t.Flags & "," & t.FeeRateE
    t.TaxRateB = 900
    t.FeeRateE = 75
    fp.SetTaxData 0, t
    Show "SetTaxData", Outcome()
    t.TaxRateA = 70000
    fp.SetTaxData 0, t
    Show "SetTaxDataWide", Outcome()
    Set t = fp.GetTaxData()
    Show "TaxAfter", t.Date & "," & t.Count & "," & t.TaxRateA & "," & t.TaxRateB & "," & t.Flags & "," & t.FeeRateE
    fp.ProgramArticle 0, 4001, 1250, 129, "Хліб житній", 3, 7
    Show "ProgramArticle", Outcome()
    fp.ProgramArticle 0, 4002, 100, 134, "Сіль"
    Show "ProgramArticleGroup134", Outcome()
    fp.ProgramArticle 0, 4002, 100, 128, "Сіль", 3, 65536
    Show "ProgramArticleCodeEx", Outcome()
    Set a = fp.GetArticleInfo(4001, 7)
    Show "GetArticleInfo", Outcome()
    Show "Article", a.Name & "|" & a.Price & "|" & a.TaxType & "|" & a.Count
Case "bitrate"
    ' Ten status queries at 9600 and at 38400 (figures only), and a query at the old
    ' speed after a switch.
    fp.Connect port, 19200
    Show "Connect", Outcome()
    fp.ChangeBitrate 9600
    Show "ChangeBitrate9600", Outcome()
    fp.Connect port, 9600
    Show "Connect9600", Outcome()
    t0 = Timer
    For i = 1 To 10
        v = fp.GetState()
    Next
    Show "Time9600", Outcome() & "|" & FormatNumber(Timer - t0, 3)
    fp.ChangeBitrate 38400
    Show "ChangeBitrate", Outcome()
    v = fp.GetDate()
    Show "GetDateOldSpeed", Outcome()
    fp.Connect port, 38400
    Show "Connect38400", Outcome()
    t0 = Timer
    For i = 1 To 10
        v = fp.GetState()
    Next
    Show "Time38400", Outcome() & "|" & FormatNumber(Timer - t0, 3)
    v = fp.GetDate()
    Show "GetDate", v & "|" & Outcome()
    fp.ChangeBitrate 19200
    Show "ChangeBack", Outcome()
Case "logo"
    ' program.vbs logo PORT FILE WIDTH HEIGHT [PASSWORD]
    fp.Connect port, 19200
    Show "Connect", Outcome()
    r = 0
    If WScript.Arguments.Count > 5 Then r = CInt(WScript.Arguments(5))
    fp.SetLogo r, WScript.Arguments(2), CLng(WScript.Arguments(3)), CLng(WScript.Arguments(4))
    Show "SetLogo", Outcome()
    Show "ErrorNumber", Hex(fp.ErrorNumber)
Case "receipt"
    fp.Connect port, 19200
    Show "Connect", Outcome()
    v = fp.SaleArticle(6, 1000, 1000, 128, "Кава", 3)
    Show "Sale", v & "|" & Outcome()
    v = fp.PayCheck(3, -1, "")
    Show "Pay", v & "|" & Outcome()
Case "refused"
    ' Arguments that do not fit their byte: refused before anything is sent.
    fp.Connect port, 19200
    Show "Connect", Outcome()
    v = fp.SaleArticle(6, 1000, 1000, 128, "Кава", 3)
    Show "Sale", v & "|" & Outcome()
    v = fp.GiveDiscount(500, False, False, "", 200)
    Show "Discount200", Outcome()
    v = fp.GiveDiscount(500, False, False, "", -32768)
    Show "DiscountMin", Outcome()
    v = fp.PayCheck(-1, -1, "")
    Show "PayMinus1", Outcome()
    v = fp.PayCheck(65, -1, "")
    Show "Pay65", Outcome()
    fp.CancelCheck
    Show "Cancel", Outcome()
Case "short"
    ' The register is told to cut the data of the next sale and safe answers.
    fp.Connect port, 19200
    Show "Connect", Outcome()
    v = fp.SaleArticle(6, 1000, 1000, 128, "Кава", 3)
    Show "Sale", v & "|" & Outcome()
    v = fp.GetSafeSum()
    Show "SafeSum", v & "|" & Outcome()
    fp.CancelCheck
    Show "Cancel", Outcome()
End Select
WScript.Echo "DONE"
