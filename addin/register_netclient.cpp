// The component's register client on top of the network client: FiscalPrinter for the
// register operations, discoverRegister for the search.
//
// The network client gains its receipt, report and display operations step by step. Each
// operation below is looked up on FiscalPrinter at compile time; one that the client does
// not offer yet fails with Poco::NotImplementedException, which the method dispatcher
// reports to the host (AddError with the exception's text; the result is False).
#include "register_client.h"

#include "driver_log.h"
#include "utf.h"

#include "netclient/discovery.h"
#include "netclient/fiscal_printer.h"

#include <Poco/Exception.h>

#include <string>
#include <type_traits>
#include <utility>

namespace oltra {

namespace {

template <class T>
T& lvalue();

// Has_NAME<P>::value: P offers NAME(args...) with arguments of the given types.
#define OLTRA_DETECT(NAME, ...)                                                                   \
    template <class P, class = void>                                                              \
    struct Has_##NAME : std::false_type {};                                                       \
    template <class P>                                                                            \
    struct Has_##NAME<P, std::void_t<decltype(std::declval<P&>().NAME(__VA_ARGS__))>> : std::true_type {};

OLTRA_DETECT(openCheck, true, true, true, lvalue<int32_t>())
OLTRA_DETECT(printFiscalString, std::u16string(), 1.0, 1.0, 1.0, int32_t(), 1.0)
OLTRA_DETECT(printNonFiscalString, std::u16string())
OLTRA_DETECT(printBarCode, std::u16string(), std::u16string())
OLTRA_DETECT(closeCheck, 1.0, 1.0, 1.0, 1.0)
OLTRA_DETECT(cancelCheck)
OLTRA_DETECT(cashInOutcome, 1.0)
OLTRA_DETECT(printReport, std::string())
OLTRA_DETECT(openCashDrawer)
OLTRA_DETECT(printFullFiscalReportByDates, std::u16string(), std::u16string())
OLTRA_DETECT(printFullFiscalReportByZNumbers, int32_t(), int32_t())
OLTRA_DETECT(printShortFiscalReportByDates, std::u16string(), std::u16string())
OLTRA_DETECT(printShortFiscalReportByZNumbers, int32_t(), int32_t())
OLTRA_DETECT(printReceiptCopy)
OLTRA_DETECT(printNullReceipt)
OLTRA_DETECT(getCurrentReceiptNumber)
OLTRA_DETECT(getLineLength, lvalue<int32_t>())
OLTRA_DETECT(clearDisplay)
OLTRA_DETECT(showLines, std::u16string(), int32_t(), std::u16string())
#undef OLTRA_DETECT

[[noreturn]] void unavailable(const char* operation)
{
    throw Poco::NotImplementedException(std::string(operation) +
                                        " is not available in this build of the network register client");
}

// Calls P::NAME(args...) when P has it; otherwise the operation is unavailable. P stays a
// template parameter so that the call is only compiled where it exists.
#define OLTRA_FORWARD(NAME, ...)                                                                  \
    if constexpr (Has_##NAME<P>::value)                                                           \
        return printer.NAME(__VA_ARGS__);                                                         \
    else                                                                                          \
        unavailable(#NAME);

template <class P>
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
        OLTRA_FORWARD(openCheck, fiscal, isReturn, cancelOpen, number)
    }
    bool printFiscalString(const std::u16string& name, double quantity, double price, double amount,
                           int32_t department, double taxRate) override
    {
        OLTRA_FORWARD(printFiscalString, name, quantity, price, amount, department, taxRate)
    }
    bool printNonFiscalString(const std::u16string& text) override { OLTRA_FORWARD(printNonFiscalString, text) }
    bool printBarCode(const std::u16string& type, const std::u16string& barcode) override
    {
        OLTRA_FORWARD(printBarCode, type, barcode)
    }
    bool closeCheck(double sum1, double sum2, double sum3, double sum4) override
    {
        OLTRA_FORWARD(closeCheck, sum1, sum2, sum3, sum4)
    }
    bool cancelCheck() override { OLTRA_FORWARD(cancelCheck) }
    bool cashInOutcome(double amount) override { OLTRA_FORWARD(cashInOutcome, amount) }

    bool printReport(const std::string& path) override { OLTRA_FORWARD(printReport, path) }
    bool openCashDrawer() override { OLTRA_FORWARD(openCashDrawer) }
    bool printFullFiscalReportByDates(const std::u16string& start, const std::u16string& end) override
    {
        OLTRA_FORWARD(printFullFiscalReportByDates, start, end)
    }
    bool printFullFiscalReportByZNumbers(int32_t first, int32_t last) override
    {
        OLTRA_FORWARD(printFullFiscalReportByZNumbers, first, last)
    }
    bool printShortFiscalReportByDates(const std::u16string& start, const std::u16string& end) override
    {
        OLTRA_FORWARD(printShortFiscalReportByDates, start, end)
    }
    bool printShortFiscalReportByZNumbers(int32_t first, int32_t last) override
    {
        OLTRA_FORWARD(printShortFiscalReportByZNumbers, first, last)
    }
    bool printReceiptCopy() override { OLTRA_FORWARD(printReceiptCopy) }
    bool printNullReceipt() override { OLTRA_FORWARD(printNullReceipt) }
    int32_t getCurrentReceiptNumber() override { OLTRA_FORWARD(getCurrentReceiptNumber) }

    bool getLineLength(int32_t& width) override { OLTRA_FORWARD(getLineLength, width) }
    bool clearDisplay() override { OLTRA_FORWARD(clearDisplay) }
    bool showLines(const std::u16string& text, int32_t line, const std::string& align) override
    {
        OLTRA_FORWARD(showLines, text, line, toUtf16(align))
    }

private:
    P printer;
};

#undef OLTRA_FORWARD

} // namespace

std::vector<std::string> discoverRegisters()
{
    return discoverRegister(kSearchTarget);
}

std::unique_ptr<RegisterClient> createRegisterClient(const std::string& address, const std::string& login,
                                                     const std::string& secret, int32_t defaultTaxGroup)
{
    return std::make_unique<NetRegisterClient<FiscalPrinter>>(address, login, secret, defaultTaxGroup);
}

} // namespace oltra
