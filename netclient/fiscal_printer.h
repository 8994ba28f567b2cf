// The driver's model of one network fiscal register: its connection, its state, its
// error texts and tax groups, and the receipt being built. Operations report success as
// bool (or a number, 0 for failure) and keep the register's error text and code; JSON
// and conversion faults are logged and turned into a failed result. Only the network
// library's exceptions (Poco::TimeoutException, the authentication failure with code
// kAuthenticationErrorCode, refused connections, ...) leave the operations.
#pragma once

#include "netclient/http_client.h"
#include "netclient/receipt_buffer.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace Poco { namespace JSON { class Object; } }

namespace oltra {

class FiscalPrinter {
public:
    // Connects: reads the state, the error texts ("/desc") and the tax table. Network
    // exceptions leave the constructor.
    FiscalPrinter(const std::string& address, const std::string& user, const std::string& password,
                  int32_t defaultTaxGroup, const HttpTimeouts& timeouts = HttpTimeouts());
    ~FiscalPrinter();
    FiscalPrinter(const FiscalPrinter&) = delete;
    FiscalPrinter& operator=(const FiscalPrinter&) = delete;

    // GET "/cgi/state.php": the liveness probe; fills model, name, serial, the clocks and chkId.
    bool readState();
    // GET "/desc": the register's error texts by code.
    void fillErrorsMap();
    // GET "/cgi/tbl/Tax": tax rate (percent) to tax group.
    void fillTaxGroups();
    // Group for a rate; rates from 100 up name a group directly (101 is group 1); 0 when unknown.
    int32_t findTaxGroup(double rate) const;
    // Number of the next receipt from the journal ("/cgi/chk?id="); 0 on failure.
    int32_t readNextReceiptNumber();
    // "NumChk" of "/cgi/tbl/Fsk"; 0 on failure.
    int32_t readReceiptCounter();

    // Sets lastErrorText/lastErrorCode from the register's "err" in lastResponse.
    void parseResponseErrors();
    std::u16string describeErrorCode(const std::string& code) const;
    std::u16string describeErrorObject(const Poco::JSON::Object& error);

    std::u16string getLastErrorText() const { return lastErrorText_; }
    // The error code text read as hexadecimal ("0x1a" and "1A" give 26); 0 when none.
    uint32_t getLastErrorCode() const;
    const std::string& lastErrorCode() const { return lastErrorCode_; }

    // The common end of a register command whose answer was stored in lastResponse:
    // parses its errors and probes the state; true when the state probe and the
    // transport succeeded and the register reported no error.
    bool complete(bool transportOk);

    HttpClient& http() { return *http_; }
    ReceiptBuffer& receipt() { return *receipt_; }
    std::string& lastResponse() { return lastResponse_; }

    int32_t defaultTaxGroup() const { return defaultTaxGroup_; }
    const std::map<std::string, std::u16string>& errorDescriptions() const { return errorDescriptions_; }
    const std::map<double, int32_t>& taxGroups() const { return taxGroups_; }
    int32_t lineLength() const { return lineLength_; }
    const std::string& model() const { return model_; }
    const std::string& name() const { return name_; }
    const std::string& serial() const { return serial_; }
    int64_t time() const { return time_; }
    int64_t journalTime() const { return journalTime_; }
    const std::string& timeText() const { return timeText_; }
    const std::string& journalTimeText() const { return journalTimeText_; }
    int32_t chkId() const { return chkId_; }

private:
    std::unique_ptr<HttpClient> http_;
    std::unique_ptr<ReceiptBuffer> receipt_;
    int32_t defaultTaxGroup_ = 0;
    std::string lastResponse_;
    std::map<std::string, std::u16string> errorDescriptions_;
    std::map<double, int32_t> taxGroups_;
    int32_t lineLength_ = 0;
    std::u16string lastErrorText_;
    std::string lastErrorCode_;
    std::string model_;
    std::string name_;
    std::string serial_;
    int64_t time_ = 0;
    int64_t journalTime_ = 0;
    std::string timeText_;
    std::string journalTimeText_;
    int32_t chkId_ = 0;
};

} // namespace oltra
