// The driver's model of one network fiscal register: its connection, its state, its
// error texts and tax groups, and the receipt being built. Operations report success as
// bool (or a number, 0 for failure) and keep the register's error text and code; JSON
// and conversion faults are logged and turned into a failed result. Only the network
// library's exceptions (Poco::TimeoutException, the authentication failure with code
// kAuthenticationErrorCode, refused connections, ...) leave the operations.
#pragma once

#include "netclient/http_client.h"
#include "netclient/receipt_buffer.h"
#include "netclient/register_answers.h"
#include "netclient/unsettled_document.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace Poco {
namespace Dynamic {
class Var;
}
namespace JSON {
class Object;
}
} // namespace Poco

namespace oltra {

struct AnswerLabels;

class FiscalPrinter {
public:
    // Connects: reads the state, the error texts ("/desc") and the tax table. Network
    // exceptions leave the constructor, and so does a Poco::Exception with code
    // kNoRegisterStateErrorCode when the address gives no register state (its message
    // says what came instead).
    FiscalPrinter(const std::string& address, const std::string& user, const std::string& password,
                  int32_t defaultTaxGroup, const HttpTimeouts& timeouts = HttpTimeouts());
    ~FiscalPrinter();
    FiscalPrinter(const FiscalPrinter&) = delete;
    FiscalPrinter& operator=(const FiscalPrinter&) = delete;

    // GET "/cgi/state.php": the liveness probe; fills model, name, serial, the clocks and chkId.
    bool readState();
    // The same GET for the host's device test; the raw body, whatever the status, is kept
    // as lastResponse. True when it is the register's state (status 200, a state object);
    // otherwise `failure` says what came instead.
    bool testState(std::string& failure);
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
    // The same for a register answer given.
    void parseResponseErrors(const std::string& answer);
    std::u16string describeErrorCode(const std::string& code) const;
    std::u16string describeErrorObject(const Poco::JSON::Object& error);

    std::u16string getLastErrorText() const { return lastErrorText_; }
    // The error code text read as hexadecimal ("0x1a" and "1A" give 26); 0 when none.
    uint32_t getLastErrorCode() const;
    const std::string& lastErrorCode() const { return lastErrorCode_; }

    // The common end of a register command whose answer was stored in lastResponse, called
    // right after the command's request: parses its errors and probes the state; true when
    // the state probe and the transport succeeded and the register reported no error. A
    // status other than 200 joins the error text ("HTTP 500 Internal Server Error").
    bool complete(bool transportOk);
    // A register command given whole: POSTs the UTF-8 document to `path` and ends it like
    // every command (complete). Nothing is settled: receipts and cash documents go through
    // closeCheck and cashInOutcome.
    bool command(const std::string& path, const std::string& document);

    // Receipts. Items go into the receipt buffer; closeCheck sends the whole document.
    bool openCheck(bool isFiscal, bool isReturn, bool cancelOpen, int32_t& number);
    bool printFiscalString(const std::u16string& name, double quantity, double price, double amount, int32_t department,
                           double taxRate);
    bool printNonFiscalString(const std::u16string& text);
    bool printBarCode(const std::u16string& type, const std::u16string& barcode);
    // Sums in the host's order. A receipt goes only after a state read right before it;
    // confirmed by its answer (200 and a JSON object without "err"), it is sold whatever
    // fails afterwards. One whose answer does not confirm it (none, an empty one, a page,
    // another status) is settled by the register's journal: recorded, absent, or unknown.
    // An unknown one stays unsettled, is never sent twice and takes no more items; the
    // next closeCheck looks again, cancelCheck or openCheck ends the wait.
    bool closeCheck(double sum1, double sum2, double sum3, double sum4);
    // Settles an unsettled document first and leaves what it found as the error text.
    bool cancelCheck();
    // A cash document, settled like a receipt. While one is unknown, the same amount asked
    // again settles it; another document is refused until the cashier has ended the wait.
    bool cashInOutcome(double amount);
    // Whether a document whose answer did not confirm it is waiting to be settled.
    bool hasUnsettledReceipt() const { return unsettled_ != nullptr; }
    // Before the connection goes: settles an unsettled document and drops it; what was found,
    // for the cashier (empty when nothing was waiting). Never throws.
    std::u16string settleBeforeClosing() noexcept;
    // The clock and the bounds of settling by the journal.
    void setSettling(UnsettledDocument::Clock clock, const SettleLimits& limits)
    {
        clock_ = std::move(clock);
        settleLimits_ = limits;
    }

    // Reports and service commands.
    bool printReport(const std::string& path);
    bool printXReport() { return printReport("/cgi/proc/printreport?10"); }
    bool printZReport() { return printReport("/cgi/proc/printreport?0"); }
    bool printXReportByGoods() { return printReport("/cgi/proc/printreport?20"); }
    bool printZReportByGoods() { return printReport("/cgi/proc/printreport?21"); }
    bool printFullFiscalReportByDates(const std::u16string& start, const std::u16string& end);
    bool printFullFiscalReportByZNumbers(int32_t first, int32_t last);
    bool printShortFiscalReportByDates(const std::u16string& start, const std::u16string& end);
    bool printShortFiscalReportByZNumbers(int32_t first, int32_t last);
    bool printReceiptCopy();
    bool printNullReceipt();
    bool openCashDrawer();
    int32_t getCurrentReceiptNumber();

    // The register display ("/cgi/scr"), lines 1 to 6.
    bool getLineLength(int32_t& width);
    bool showLines(const std::u16string& text, int32_t firstLine, const std::u16string& align);
    bool clearDisplay();
    bool showMessage(const std::u16string& text);

    // The receipt being built, and the body of the last answer kept (testState's, a command's).
    const ReceiptBuffer& receipt() const { return *receipt_; }
    const std::string& lastResponse() const { return lastResponse_; }

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

    // A money document sent whose answer did not confirm it, until it is settled.
    std::unique_ptr<UnsettledDocument> unsettled_;
    UnsettledDocument::Clock clock_;
    SettleLimits settleLimits_;
    // The error text tells what a settlement found: shown once, not again by the receipt
    // lines that follow.
    bool foundOnce_ = false;

    // GET of `path` into `body`, then readAnswer: true when the answer was read.
    bool getAnswer(const std::string& path, std::string& body, const AnswerLabels& labels,
                   const std::function<void(const Poco::Dynamic::Var& root)>& read);
    // Reads a state document into the state fields.
    bool readStateFrom(const std::string& body);
    // Why the last state request gave no state.
    std::string stateFailure() const;
    // getLineLength into lineLength, bounded to 0..1024.
    void learnLineLength();
    // Adds the status of a request that did not end with 200 to the error text.
    void noteStatus(const std::string& statusText);
    // How sending a money document ended.
    enum class Sent { NotSent, Confirmed, Refused, Recorded, Absent, Unknown };
    // Sends a money document of `kind` after a state read; one whose answer does not
    // confirm it becomes unsettled_ and is settled by the journal at once. Not sent (the
    // state read failed), the earlier unsettled_ stays as it was.
    Sent sendDocument(const std::string& kind, const std::u16string& document);
    // Settles the document just sent; settled, it is no longer kept (absent: the error text
    // says so, with `status`, the answer's status when it was not 200).
    Sent settleSent(const std::string& status);
    // Compares unsettled_ with the journal (a state read, then the journal since its
    // anchor); network failures make it unknown.
    Sent settleUnsettled() noexcept;
    // Settles unsettled_, drops it, and gives the text that tells the cashier what was found.
    std::u16string settleAndDrop() noexcept;
    // Puts what a settlement found before the error text of the operation that followed it.
    void withFound(const std::u16string& found);
    // Sets the error text of a document the journal can't settle: what to look for on the
    // tape, and which call ends the wait.
    void tellUnknown();
    // A sale receipt sold: thanks on the display; its failures don't matter any more.
    void thankCustomer(const std::string& kind) noexcept;
    // Sends (or settles) the receipt `document` of `kind` and ends it by the outcome.
    bool closeReceipt(const std::string& kind, const std::u16string& document);
    // While a receipt is unsettled, changes to it are refused: sets the error text, true
    // then. Otherwise a settlement's finding, already shown, is cleared.
    bool refuseWhileUnsettled();
};

} // namespace oltra
