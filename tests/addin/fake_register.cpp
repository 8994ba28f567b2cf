#include "tests/addin/fake_register.h"
#include "addin/register_client.h"
#include "textconv/utf.h"

#include <cstdio>

extern "C" __attribute__((visibility("default"))) fake::Script* FakeRegister()
{
    static fake::Script script;
    return &script;
}

namespace {

fake::Script& script() { return *FakeRegister(); }

void failIf(fake::Failure f)
{
    switch (f) {
    case fake::Failure::None: return;
    case fake::Failure::Timeout: throw oltra::RegisterFailure::timeout("Timeout: no answer");
    case fake::Failure::Authentication: throw oltra::RegisterFailure::loginRefused("Unauthorized");
    case fake::Failure::NoRegisterState: throw oltra::RegisterFailure::noRegisterState("HTTP 404 Not Found");
    case fake::Failure::Other:
        throw oltra::RegisterFailure::other(fake::kOtherFailureCode, "I/O error: connection refused");
    }
}

std::string num(double d)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", d);
    return buf;
}

class FakeClient : public oltra::RegisterClient {
public:
    explicit FakeClient(std::string serial) : serial_(std::move(serial)) { ++script().liveClients; }
    ~FakeClient() override { --script().liveClients; }

    std::string serial() const override { return serial_; }
    std::u16string lastErrorText() const override { return lastErrorText_; }
    int32_t lastErrorCode() const override { return lastErrorCode_; }
    bool readStateDocument(std::string& document, std::string& failure) override
    {
        record("readStateDocument");
        document = script().stateBody;
        failure = script().stateFailure;
        return failure.empty();
    }

    bool openCheck(bool fiscal, bool isReturn, bool cancelOpen, int32_t& number) override
    {
        number = script().receiptNumber;
        return record("openCheck(" + flag(fiscal) + "," + flag(isReturn) + "," + flag(cancelOpen) + ")");
    }
    bool printFiscalString(const std::u16string& name, double quantity, double price, double amount, int32_t department,
                           double taxRate) override
    {
        return record("printFiscalString(" + textconv::toUtf8(name) + "," + num(quantity) + "," + num(price) + "," +
                      num(amount) + "," + std::to_string(department) + "," + num(taxRate) + ")");
    }
    bool printNonFiscalString(const std::u16string& text) override
    {
        return record("printNonFiscalString(" + textconv::toUtf8(text) + ")");
    }
    bool printBarCode(const std::u16string& type, const std::u16string& barcode) override
    {
        return record("printBarCode(" + textconv::toUtf8(type) + "," + textconv::toUtf8(barcode) + ")");
    }
    bool closeCheck(double a, double b, double c, double d) override
    {
        return record("closeCheck(" + num(a) + "," + num(b) + "," + num(c) + "," + num(d) + ")");
    }
    bool cancelCheck() override { return record("cancelCheck"); }
    std::u16string settleBeforeClosing() noexcept override
    {
        if (!script().unsettled.empty()) script().calls.push_back("settleBeforeClosing");
        return script().unsettled;
    }
    bool cashInOutcome(double amount) override { return record("cashInOutcome(" + num(amount) + ")"); }
    bool printXReport() override { return record("printXReport"); }
    bool printZReport() override { return record("printZReport"); }
    bool printXReportByGoods() override { return record("printXReportByGoods"); }
    bool printZReportByGoods() override { return record("printZReportByGoods"); }
    bool openCashDrawer() override { return record("openCashDrawer"); }
    bool printFullFiscalReportByDates(const std::u16string& s, const std::u16string& e) override
    {
        return record("fullByDates(" + textconv::toUtf8(s) + "," + textconv::toUtf8(e) + ")");
    }
    bool printFullFiscalReportByZNumbers(int32_t f, int32_t l) override
    {
        return record("fullByZ(" + std::to_string(f) + "," + std::to_string(l) + ")");
    }
    bool printShortFiscalReportByDates(const std::u16string& s, const std::u16string& e) override
    {
        return record("shortByDates(" + textconv::toUtf8(s) + "," + textconv::toUtf8(e) + ")");
    }
    bool printShortFiscalReportByZNumbers(int32_t f, int32_t l) override
    {
        return record("shortByZ(" + std::to_string(f) + "," + std::to_string(l) + ")");
    }
    bool printReceiptCopy() override { return record("printReceiptCopy"); }
    bool printNullReceipt() override { return record("printNullReceipt"); }
    int32_t getCurrentReceiptNumber() override
    {
        record("getCurrentReceiptNumber");
        return script().receiptNumber;
    }
    bool getLineLength(int32_t& width) override
    {
        width = script().lineWidth;
        return record("getLineLength");
    }
    bool clearDisplay() override { return record("clearDisplay"); }
    bool showLines(const std::u16string& text, int32_t line, const std::string& align) override
    {
        return record("showLines(" + textconv::toUtf8(text) + "," + std::to_string(line) + "," + align + ")");
    }

private:
    static std::string flag(bool b) { return b ? "1" : "0"; }

    bool record(const std::string& call)
    {
        script().calls.push_back(call);
        failIf(script().operationFailure);
        lastErrorText_ = script().errorText;
        lastErrorCode_ = script().errorCode;
        return script().operationResult;
    }

    std::string serial_;
    std::u16string lastErrorText_;
    int32_t lastErrorCode_ = 0;
};

} // namespace

namespace oltra {

std::vector<std::string> discoverRegisters()
{
    failIf(script().discoveryFailure);
    return script().discovered;
}

std::unique_ptr<RegisterClient> createRegisterClient(const std::string& address, const std::string& login,
                                                     const std::string& secret, int32_t defaultTaxGroup)
{
    script().connects.push_back(address + " " + login + " " + secret + " " + std::to_string(defaultTaxGroup));
    failIf(script().connectFailure);
    script().liveClientsAtLastConnect = script().liveClients;
    return std::make_unique<FakeClient>(script().serial);
}

} // namespace oltra
