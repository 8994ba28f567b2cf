// The component's register client on top of the network client: FiscalPrinter for the
// register operations, discoverRegister for the search. Network-library exceptions pass
// through unchanged; the method dispatcher reports them.
#include "register_client.h"

#include "utf.h"

#include "netclient/discovery.h"
#include "netclient/fiscal_printer.h"


#include <string>

namespace oltra {

namespace {

class NetRegisterClient final : public RegisterClient {
public:
    NetRegisterClient(const std::string& address, const std::string& login, const std::string& secret,
                      int32_t defaultTaxGroup)
        : printer(address, login, secret, defaultTaxGroup)
    {
    }

    std::string serial() const override { return printer.serial(); }
    std::u16string lastErrorText() const override { return printer.getLastErrorText(); }
    int32_t lastErrorCode() const override { return static_cast<int32_t>(printer.getLastErrorCode()); }

    // The device test's state read: the raw answer becomes the last response.
    std::string requestState() override
    {
        printer.http().get("/cgi/state.php", printer.lastResponse());
        return printer.lastResponse();
    }

    bool openCheck(bool fiscal, bool isReturn, bool cancelOpen, int32_t& number) override
    {
        return printer.openCheck(fiscal, isReturn, cancelOpen, number);
    }
    bool printFiscalString(const std::u16string& name, double quantity, double price, double amount,
                           int32_t department, double taxRate) override
    {
        return printer.printFiscalString(name, quantity, price, amount, department, taxRate);
    }
    bool printNonFiscalString(const std::u16string& text) override { return printer.printNonFiscalString(text); }
    bool printBarCode(const std::u16string& type, const std::u16string& barcode) override
    {
        return printer.printBarCode(type, barcode);
    }
    bool closeCheck(double sum1, double sum2, double sum3, double sum4) override
    {
        return printer.closeCheck(sum1, sum2, sum3, sum4);
    }
    bool cancelCheck() override { return printer.cancelCheck(); }
    bool cashInOutcome(double amount) override { return printer.cashInOutcome(amount); }

    bool printReport(const std::string& path) override { return printer.printReport(path); }
    bool openCashDrawer() override { return printer.openCashDrawer(); }
    bool printFullFiscalReportByDates(const std::u16string& start, const std::u16string& end) override
    {
        return printer.printFullFiscalReportByDates(start, end);
    }
    bool printFullFiscalReportByZNumbers(int32_t first, int32_t last) override
    {
        return printer.printFullFiscalReportByZNumbers(first, last);
    }
    bool printShortFiscalReportByDates(const std::u16string& start, const std::u16string& end) override
    {
        return printer.printShortFiscalReportByDates(start, end);
    }
    bool printShortFiscalReportByZNumbers(int32_t first, int32_t last) override
    {
        return printer.printShortFiscalReportByZNumbers(first, last);
    }
    bool printReceiptCopy() override { return printer.printReceiptCopy(); }
    bool printNullReceipt() override { return printer.printNullReceipt(); }
    int32_t getCurrentReceiptNumber() override { return printer.getCurrentReceiptNumber(); }

    bool getLineLength(int32_t& width) override { return printer.getLineLength(width); }
    bool clearDisplay() override { return printer.clearDisplay(); }
    bool showLines(const std::u16string& text, int32_t line, const std::string& align) override
    {
        return printer.showLines(text, line, toUtf16(align));
    }

private:
    FiscalPrinter printer;
};

} // namespace

std::vector<std::string> discoverRegisters()
{
    return discoverRegister(kSearchTarget);
}

std::unique_ptr<RegisterClient> createRegisterClient(const std::string& address, const std::string& login,
                                                     const std::string& secret, int32_t defaultTaxGroup)
{
    return std::make_unique<NetRegisterClient>(address, login, secret, defaultTaxGroup);
}

} // namespace oltra
