// What the component needs from a connected network register. The network client
// (FiscalPrinter) is adapted to this interface in register_netclient.cpp, which also
// defines discoverRegisters and createRegisterClient. Every operation, the discovery and
// the connection may throw RegisterFailure: the method dispatcher reports it, a time-out
// as 1003 and a refused login as 1002.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace oltra {

// A failure of the connection to the register: no answer in time, the login refused, an
// address that answers without a register's state, or anything else the network reports,
// with its code and text (UTF-8).
class RegisterFailure : public std::runtime_error {
public:
    enum class Kind { Timeout, LoginRefused, NoRegisterState, Other };

    static RegisterFailure timeout(const std::string& text) { return {Kind::Timeout, 0, text}; }
    static RegisterFailure loginRefused(const std::string& text) { return {Kind::LoginRefused, 0, text}; }
    // text: what came instead of the state ("HTTP 404 Not Found").
    static RegisterFailure noRegisterState(const std::string& text) { return {Kind::NoRegisterState, 0, text}; }
    // What an Other failure says about the address, for the text that tells what to check.
    enum class Cause { Network, Refused, UnknownHost, BadAddress };
    static RegisterFailure other(int32_t code, const std::string& text, Cause cause = Cause::Network)
    {
        return {Kind::Other, code, text, cause};
    }

    Kind kind() const { return kind_; }
    int32_t code() const { return code_; } // of Other; 0 for the other kinds
    Cause cause() const { return cause_; } // of Other
    std::string text() const { return what(); }

private:
    RegisterFailure(Kind kind, int32_t code, const std::string& text, Cause cause = Cause::Network)
        : std::runtime_error(text), kind_(kind), code_(code), cause_(cause)
    {}

    Kind kind_;
    int32_t code_;
    Cause cause_;
};

class RegisterClient {
public:
    virtual ~RegisterClient() = default;

    // The numbers a receipt or cash document can carry: a quantity below kMaxQuantity in
    // absolute value, a price, sum, payment or cash amount below kMaxAmount. Beyond these
    // (or not finite) the component refuses a number before anything is sent. The client's
    // own limits: the adapter checks that they are the same.
    static constexpr double kMaxQuantity = 1e6;
    static constexpr double kMaxAmount = 1e9;
    static bool quantityFits(double quantity) { return std::isfinite(quantity) && std::fabs(quantity) < kMaxQuantity; }
    static bool amountFits(double amount) { return std::isfinite(amount) && std::fabs(amount) < kMaxAmount; }

    // Identification and the last register error.
    virtual std::string serial() const = 0;           // UTF-8, the device identifier
    virtual std::u16string lastErrorText() const = 0; // empty when the last answer held none
    virtual int32_t lastErrorCode() const = 0;        // getLastErrorCode
    // Reads the register's state document into `document` (the raw body, UTF-8, whatever
    // the status). True when it is the register's state; otherwise `failure` says what
    // came instead ("HTTP 500 Internal Server Error").
    virtual bool readStateDocument(std::string& document, std::string& failure) = 0;

    // Receipt.
    virtual bool openCheck(bool fiscal, bool isReturn, bool cancelOpen, int32_t& number) = 0;
    virtual bool printFiscalString(const std::u16string& name, double quantity, double price, double amount,
                                   int32_t department, double taxRate) = 0;
    virtual bool printNonFiscalString(const std::u16string& text) = 0;
    virtual bool printBarCode(const std::u16string& type, const std::u16string& barcode) = 0;
    virtual bool closeCheck(double sum1, double sum2, double sum3, double sum4) = 0;
    virtual bool cancelCheck() = 0;
    virtual bool cashInOutcome(double amount) = 0;
    // Before the client goes (Close, a new Open or SetParameter): settles a document whose
    // answer did not confirm it and gives what was found for the cashier; empty when none
    // waited. Never throws.
    virtual std::u16string settleBeforeClosing() noexcept = 0;

    // Reports and service.
    virtual bool printXReport() = 0;
    virtual bool printZReport() = 0;
    virtual bool printXReportByGoods() = 0;
    virtual bool printZReportByGoods() = 0;
    virtual bool openCashDrawer() = 0;
    virtual bool printFullFiscalReportByDates(const std::u16string& start, const std::u16string& end) = 0;
    virtual bool printFullFiscalReportByZNumbers(int32_t first, int32_t last) = 0;
    virtual bool printShortFiscalReportByDates(const std::u16string& start, const std::u16string& end) = 0;
    virtual bool printShortFiscalReportByZNumbers(int32_t first, int32_t last) = 0;
    virtual bool printReceiptCopy() = 0;
    virtual bool printNullReceipt() = 0;
    virtual int32_t getCurrentReceiptNumber() = 0;

    // Display.
    virtual bool getLineLength(int32_t& width) = 0;
    virtual bool clearDisplay() = 0;
    virtual bool showLines(const std::u16string& text, int32_t line, const std::string& align) = 0;
};

// Registers that answer a discovery, in the order found (IPv4 addresses, UTF-8).
std::vector<std::string> discoverRegisters();

// Connects to the register at address; throws RegisterFailure when the register cannot be
// reached, refuses the login or gives no state.
std::unique_ptr<RegisterClient> createRegisterClient(const std::string& address, const std::string& login,
                                                     const std::string& secret, int32_t defaultTaxGroup);

} // namespace oltra
