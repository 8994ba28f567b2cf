// Fiscal operations: each needs the register client, calls one of its operations and
// then shows the register's error text, if any, in the host's message box.
#include "addin/driver_errors.h"
#include "addin/driver_log.h"
#include "addin/method_tables.h"
#include "addin/oltranative.h"
#include "addin/variant_util.h"

namespace oltra {

namespace {

int32_t intArg(const tVariant& v)
{
    int32_t n = 0;
    readInt32(v, n); // anything but a whole number counts as 0
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
    // The register's text kept from an earlier call: one that succeeds without a new
    // answer leaves it, and it is not shown again as though this call had caused it.
    const std::u16string earlierText = client.lastErrorText();
    bool outcome = false;
    // An argument the register can't take ends the method before anything is sent, and
    // without showing the register's last error again.
    auto refused = [&] {
        setBool(returnValue, false);
        return true;
    };
    switch (method) {
    case eMethOpenShift:
        outcome = true; // nothing to send: the register opens the shift with the first receipt
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
        double quantity = 0, price = 0, amount = 0, taxRate = 0;
        if (!numberArg(2, u"количество", true, quantity) || !numberArg(3, u"цена", false, price) ||
            !numberArg(4, u"сумма", false, amount) || !numberArg(6, u"ставка налога", false, taxRate))
            return refused();
        const int32_t department = intArg(arg(5));
        outcome = client.printFiscalString(stringArg(1), quantity, price, amount, department, taxRate);
        break;
    }
    case eMethPrintNonFiscalString: outcome = client.printNonFiscalString(stringArg(1)); break;
    case eMethPrintBarCode: outcome = client.printBarCode(stringArg(1), stringArg(2)); break;
    case eMethCloseCheck: {
        double s1 = 0, s2 = 0, s3 = 0, s4 = 0;
        if (!paymentArg(1, u"оплата 1", s1) || !paymentArg(2, u"оплата 2", s2) || !paymentArg(3, u"оплата 3", s3) ||
            !paymentArg(4, u"оплата 4", s4))
            return refused();
        outcome = client.closeCheck(s1, s2, s3, s4);
        break;
    }
    case eMethCancelCheck: outcome = client.cancelCheck(); break;
    case eMethCashInOutcome: {
        double amount = 0;
        if (!numberArg(1, u"сумма", false, amount)) return refused();
        outcome = client.cashInOutcome(amount);
        break;
    }
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
    default: return false;
    }
    showRegisterError(outcome ? earlierText : std::u16string());
    setBool(returnValue, outcome);
    return true;
}

// A number the register can take. Anything else (a string, a flag, an empty value, NaN,
// infinity, a magnitude beyond what a document carries) is reported through AddError with
// the argument's name.
bool Oltranative::numberArg(long k, const char16_t* name, bool quantity, double& out)
{
    if (!readNumber(arg(k), out)) logError("tVariant to double conversion error!");
    else if (quantity ? RegisterClient::quantityFits(out) : RegisterClient::amountFits(out)) return true;
    reportError(connection, kErrorBadArgument, std::u16string(name));
    return false;
}

// A payment sum; one the host left out (an empty value) is no payment, 0, as it always was.
bool Oltranative::paymentArg(long k, const char16_t* name, double& out)
{
    if (arg(k).vt != VTYPE_EMPTY) return numberArg(k, name, false, out);
    logError("tVariant to double conversion error!");
    out = 0;
    return true;
}

void Oltranative::showRegisterError(const std::u16string& alreadyShown)
{
    if (!registerClient) return;
    const std::u16string text = registerClient->lastErrorText();
    if (text.empty() || text == alreadyShown) return;
    if (IMsgBox* box = messageBox()) box->Alert(text.c_str());
}

} // namespace oltra
