// The component's register client on top of the network client: FiscalPrinter for the
// register operations, discoverRegister for the search. The network library's exceptions
// and the client's error codes become RegisterFailure here, the only place that knows
// them; the network client's log lines go into the driver log, and the network is started
// here before its first use.
#include "addin/register_client.h"

#include "addin/driver_log.h"
#include "textconv/utf.h"

#include "netclient/amounts.h"
#include "netclient/client_log.h"
#include "netclient/discovery.h"
#include "netclient/errors.h"
#include "netclient/fiscal_printer.h"

#include <Poco/Exception.h>
#include <Poco/Net/Net.h>
#include <Poco/Net/NetException.h>

#include <string>

namespace oltra {

// The component checks the numbers of a document against the limits of its contract before
// anything reaches the client; they are the client's own.
static_assert(RegisterClient::kMaxQuantity == kMaxQuantity, "the quantity limit is the network client's");
static_assert(RegisterClient::kMaxAmount == kMaxAmount, "the amount limit is the network client's");

namespace {

// The network client writes into the driver log, which keeps or drops by its own level.
class DriverLogSink final : public ClientLog {
public:
    bool enabled(Level level) const override
    {
        // DEBUG only at level 0 exactly, like the driver log itself.
        switch (level) {
        case Level::Debug: return logLevel() == kLogDebug;
        case Level::Info: return logLevel() <= kLogInfo;
        case Level::Error: return true;
        }
        return true;
    }
    void write(Level level, const std::string& utf8) override
    {
        switch (level) {
        case Level::Debug: logDebug(utf8); break;
        case Level::Info: logInfo(utf8); break;
        case Level::Error: logError(utf8); break;
        }
    }
    void response(const std::string& body) override { dumpResponse(body); }
};

void useDriverLog()
{
    static DriverLogSink sink;
    setClientLog(&sink);
}

// Windows sockets must be started before the first socket, and with POCO linked in
// statically nothing else starts them. Once per process, whatever the thread (a server runs
// many sessions on many threads), before the client's first use: never from DllMain, where
// starting them is not allowed.
void startNetwork()
{
#if defined(_WIN32)
    static const bool started = [] {
        try {
            Poco::Net::initializeNetwork();
            return true;
        } catch (...) {
            return false; // every request then fails with POCO's own error
        }
    }();
    (void)started;
#endif
}

// Before every search and connection: the client's log into the driver log, the network started.
void startClient()
{
    useDriverLog();
    startNetwork();
}

RegisterFailure failureOf(const Poco::Exception& e)
{
    if (dynamic_cast<const Poco::TimeoutException*>(&e)) return RegisterFailure::timeout(e.displayText());
    if (e.code() == kAuthenticationErrorCode) return RegisterFailure::loginRefused(e.displayText());
    if (e.code() == kNoRegisterStateErrorCode) return RegisterFailure::noRegisterState(e.message());
    using Cause = RegisterFailure::Cause;
    Cause cause = Cause::Network;
    if (dynamic_cast<const Poco::Net::ConnectionRefusedException*>(&e)) cause = Cause::Refused;
    else if (dynamic_cast<const Poco::Net::DNSException*>(&e)) cause = Cause::UnknownHost;
    else if (dynamic_cast<const Poco::SyntaxException*>(&e)) cause = Cause::BadAddress; // the address as a URI
    return RegisterFailure::other(e.code(), e.displayText(), cause);
}

// Runs one call of the network client; its network failure leaves as RegisterFailure.
template <typename Call>
auto translated(Call call) -> decltype(call())
{
    try {
        return call();
    } catch (const Poco::Exception& e) {
        throw failureOf(e);
    }
}

class NetRegisterClient final : public RegisterClient {
public:
    NetRegisterClient(const std::string& address, const std::string& login, const std::string& secret,
                      int32_t defaultTaxGroup)
        : printer(address, login, secret, defaultTaxGroup)
    {}

    std::string serial() const override { return printer.serial(); }
    std::u16string lastErrorText() const override { return printer.getLastErrorText(); }
    int32_t lastErrorCode() const override { return static_cast<int32_t>(printer.getLastErrorCode()); }
    bool readStateDocument(std::string& document, std::string& failure) override
    {
        return translated([&] {
            const bool ok = printer.testState(failure);
            document = printer.lastResponse();
            return ok;
        });
    }

    bool openCheck(bool fiscal, bool isReturn, bool cancelOpen, int32_t& number) override
    {
        return translated([&] { return printer.openCheck(fiscal, isReturn, cancelOpen, number); });
    }
    bool printFiscalString(const std::u16string& name, double quantity, double price, double amount, int32_t department,
                           double taxRate) override
    {
        return translated(
            [&] { return printer.printFiscalString(name, quantity, price, amount, department, taxRate); });
    }
    bool printNonFiscalString(const std::u16string& text) override
    {
        return translated([&] { return printer.printNonFiscalString(text); });
    }
    bool printBarCode(const std::u16string& type, const std::u16string& barcode) override
    {
        return translated([&] { return printer.printBarCode(type, barcode); });
    }
    bool closeCheck(double sum1, double sum2, double sum3, double sum4) override
    {
        return translated([&] { return printer.closeCheck(sum1, sum2, sum3, sum4); });
    }
    bool cancelCheck() override
    {
        return translated([&] { return printer.cancelCheck(); });
    }
    bool cashInOutcome(double amount) override
    {
        return translated([&] { return printer.cashInOutcome(amount); });
    }
    std::u16string settleBeforeClosing() noexcept override { return printer.settleBeforeClosing(); }

    bool printXReport() override
    {
        return translated([&] { return printer.printXReport(); });
    }
    bool printZReport() override
    {
        return translated([&] { return printer.printZReport(); });
    }
    bool printXReportByGoods() override
    {
        return translated([&] { return printer.printXReportByGoods(); });
    }
    bool printZReportByGoods() override
    {
        return translated([&] { return printer.printZReportByGoods(); });
    }
    bool openCashDrawer() override
    {
        return translated([&] { return printer.openCashDrawer(); });
    }
    bool printFullFiscalReportByDates(const std::u16string& start, const std::u16string& end) override
    {
        return translated([&] { return printer.printFullFiscalReportByDates(start, end); });
    }
    bool printFullFiscalReportByZNumbers(int32_t first, int32_t last) override
    {
        return translated([&] { return printer.printFullFiscalReportByZNumbers(first, last); });
    }
    bool printShortFiscalReportByDates(const std::u16string& start, const std::u16string& end) override
    {
        return translated([&] { return printer.printShortFiscalReportByDates(start, end); });
    }
    bool printShortFiscalReportByZNumbers(int32_t first, int32_t last) override
    {
        return translated([&] { return printer.printShortFiscalReportByZNumbers(first, last); });
    }
    bool printReceiptCopy() override
    {
        return translated([&] { return printer.printReceiptCopy(); });
    }
    bool printNullReceipt() override
    {
        return translated([&] { return printer.printNullReceipt(); });
    }
    int32_t getCurrentReceiptNumber() override
    {
        return translated([&] { return printer.getCurrentReceiptNumber(); });
    }

    bool getLineLength(int32_t& width) override
    {
        return translated([&] { return printer.getLineLength(width); });
    }
    bool clearDisplay() override
    {
        return translated([&] { return printer.clearDisplay(); });
    }
    bool showLines(const std::u16string& text, int32_t line, const std::string& align) override
    {
        return translated([&] { return printer.showLines(text, line, textconv::toUtf16(align)); });
    }

private:
    FiscalPrinter printer;
};

} // namespace

std::vector<std::string> discoverRegisters()
{
    startClient();
    return translated([] { return discoverRegister(kSearchTarget); });
}

std::unique_ptr<RegisterClient> createRegisterClient(const std::string& address, const std::string& login,
                                                     const std::string& secret, int32_t defaultTaxGroup)
{
    startClient();
    return translated([&]() -> std::unique_ptr<RegisterClient> {
        return std::make_unique<NetRegisterClient>(address, login, secret, defaultTaxGroup);
    });
}

} // namespace oltra
