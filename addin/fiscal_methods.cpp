// Fiscal operations: each needs the register client, calls one of its operations and
// then shows the register's error text, if any, in the host's message box.
#include "driver_errors.h"
#include "driver_log.h"
#include "method_tables.h"
#include "oltranative.h"
#include "variant_util.h"

namespace oltra {

namespace {

int32_t intArg(const tVariant& v)
{
    int32_t n = 0;
    readInt32(v, n);  // anything but a whole number counts as 0
    return n;
}

bool flagArg(const tVariant& v)
{
    bool flag = false;
    readFlag(v, flag);
    return flag;
}

} // namespace

bool Oltranative::runFiscalMethod(long method)
{
    if (!registerClient) {
        reportError(connection, kErrorNotConnected);
        return false;
    }
    RegisterClient& client = *registerClient;
    bool outcome = false;
    switch (method) {
    case eMethOpenShift:
        outcome = true;  // nothing to send: the register opens the shift with the first receipt
        break;
    case eMethOpenCheck: {
        int32_t number = 0;
        const int32_t shiftNumber = intArg(arg(5));
        outcome = client.openCheck(flagArg(arg(1)), flagArg(arg(2)), flagArg(arg(3)), number);
        setI4(&arg(4), number);
        setI4(&arg(5), shiftNumber);
        break;
    }
    case eMethPrintFiscalString: {
        const double quantity = toDouble(arg(2));
        const double price = toDouble(arg(3));
        const double amount = toDouble(arg(4));
        const int32_t department = intArg(arg(5));
        const double taxRate = toDouble(arg(6));
        outcome = client.printFiscalString(stringArg(1), quantity, price, amount, department, taxRate);
        break;
    }
    case eMethPrintNonFiscalString: outcome = client.printNonFiscalString(stringArg(1)); break;
    case eMethPrintBarCode: outcome = client.printBarCode(stringArg(1), stringArg(2)); break;
    case eMethCloseCheck: {
        const double s1 = toDouble(arg(1)), s2 = toDouble(arg(2)), s3 = toDouble(arg(3)), s4 = toDouble(arg(4));
        outcome = client.closeCheck(s1, s2, s3, s4);
        break;
    }
    case eMethCancelCheck: outcome = client.cancelCheck(); break;
    case eMethCashInOutcome: outcome = client.cashInOutcome(toDouble(arg(1))); break;
    case eMethPrintXReport: outcome = client.printXReport(); break;
    case eMethPrintZReport: outcome = client.printZReport(); break;
    case eMethOpenCashDrawer: outcome = client.openCashDrawer(); break;
    case eMethGetLineLength: {
        int32_t width = 0;
        client.getLineLength(width);
        setI4(&arg(1), width);
        outcome = width > 0;
        break;
    }
    case eMethPrintXReportByGoods: outcome = client.printXReportByGoods(); break;
    case eMethPrintZReportByGoods: outcome = client.printZReportByGoods(); break;
    case eMethPrintFullFiscalReportByDates:
        outcome = client.printFullFiscalReportByDates(stringArg(1), stringArg(2));
        break;
    case eMethPrintFullFiscalReportByZNumbers: {
        const int32_t first = intArg(arg(1)), last = intArg(arg(2));
        logDebug("Long report, first Z:" + std::to_string(first));
        logDebug("Long report, last Z:" + std::to_string(last));
        outcome = client.printFullFiscalReportByZNumbers(first, last);
        break;
    }
    case eMethPrintShortFiscalReportByDates:
        outcome = client.printShortFiscalReportByDates(stringArg(1), stringArg(2));
        break;
    case eMethPrintShortFiscalReportByZNumbers: {
        const int32_t first = intArg(arg(1)), last = intArg(arg(2));
        logDebug("Short report, first Z:" + std::to_string(first));
        logDebug("Short report, last Z:" + std::to_string(last));
        outcome = client.printShortFiscalReportByZNumbers(first, last);
        break;
    }
    case eMethPrintReceiptCopy: outcome = client.printReceiptCopy(); break;
    case eMethPrintNullReceipt: outcome = client.printNullReceipt(); break;
    case eMethShowMessage:
        client.clearDisplay();
        outcome = client.showLines(stringArg(0), 1, "l");
        break;
    case eMethGetCurrentReceiptNumber: {
        const int32_t number = client.getCurrentReceiptNumber();
        setI4(&arg(1), number);
        outcome = number > 0;
        break;
    }
    default:
        return false;
    }
    showRegisterError();
    setBool(returnValue, outcome);
    return true;
}

void Oltranative::showRegisterError()
{
    if (!registerClient) return;
    const std::u16string text = registerClient->lastErrorText();
    if (text.empty()) return;
    if (IMsgBox* box = messageBox()) box->Alert(text.c_str());
}

} // namespace oltra
