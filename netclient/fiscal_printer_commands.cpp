// FiscalPrinter: receipts, reports and service commands, and the register display.
#include "netclient/fiscal_printer.h"
#include "netclient/amounts.h"
#include "netclient/json_answer.h"
#include "netclient/text_format.h"

#include "netclient/client_log.h"
#include "textconv/utf.h"

#include <Poco/Dynamic/Var.h>
#include <Poco/Exception.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/JSONException.h>

#include <algorithm>
#include <cmath>

namespace oltra {

namespace {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;

constexpr int32_t kDisplayLines = 6;
constexpr int32_t kMaxDisplayWidth = 1024;
const char kScreen[] = "/cgi/scr";
const char kReceipts[] = "/cgi/chk";
const char kDrawer[] = "/cgi/proc/openbox";
// Journal pages read to settle one document (the register gives a limited number of records
// per answer).
constexpr int kMaxJournalPages = 20;

const char16_t kUnsettledText[] =
    u"Предыдущий чек отправлен, но ответ регистратора не получен: чек нельзя изменить. "
    u"Повторите закрытие чека или отмените его";
const char16_t kNotRecordedText[] =
    u"Ответ регистратора на документ не распознан, и в журнале регистратора документа нет: документ не проведён";
const char16_t kUnknownText[] =
    u"Не удалось установить по журналу регистратора, проведён ли документ: документ не отправлен повторно";

std::u16string ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

double finiteOrZero(double v) { return std::isfinite(v) ? v : 0; }

// A display amount: with decimals only when it has a fractional part.
std::u16string displayNumber(double v, int decimals)
{
    return fixedNumber16(v, v != std::floor(v) ? decimals : 0);
}

// round(thousandths x cents / 1000), half away from zero, exactly: the register's line total in cents.
long long lineCents(double quantity, double price)
{
    // Beyond these magnitudes the exact product would not fit in 64 bits.
    if (std::fabs(quantity) > 1e6 || std::fabs(price) > 1e6) return std::llround(quantity * price * 100);
    const long long q = std::llround(quantity * 1000), p = std::llround(price * 100);
    const long long product = q * p;
    const long long whole = product / 1000, rest = product % 1000;
    if (rest >= 500) return whole + 1;
    if (rest <= -500) return whole - 1;
    return whole;
}

} // namespace

// ---- receipts

bool FiscalPrinter::openCheck(bool isFiscal, bool isReturn, bool cancelOpen, int32_t& number)
{
    if (!cancelOpen && !receipt_->empty()) return false;
    if (!pendingDocument_.empty()) {
        bool ignored = false;
        settlePending(false, ignored);
    }
    const std::u16string type = isReturn ? u"R" : isFiscal ? u"F" : u"P";
    readState();
    int32_t next = readNextReceiptNumber();
    if (next <= 0) next = readReceiptCounter();
    number = next;
    receipt_ = std::make_unique<ReceiptBuffer>(type, model_);
    return readState();
}

bool FiscalPrinter::refuseWhileUnsettled()
{
    if (pendingDocument_.empty()) return false;
    lastErrorText_ = kUnsettledText;
    lastErrorCode_.clear();
    netlog::error(lastErrorText_);
    return true;
}

bool FiscalPrinter::printFiscalString(const std::u16string& name, double quantity, double price, double amount,
                                      int32_t department, double taxRate)
{
    if (refuseWhileUnsettled()) return false;
    if (!quantityFits(quantity) || !amountFits(price) || !amountFits(amount)) {
        netlog::error(std::string("Print fiscal string: quantity, price or amount out of range, nothing added"));
        return false;
    }
    clearDisplay();
    showLines(name, 1, u"l");
    const double q = std::round(finiteOrZero(quantity) * 1000) / 1000;
    const double p = std::round(finiteOrZero(price) * 100) / 100;
    const double s = std::round(finiteOrZero(amount) * 100) / 100;
    if (q != 1) showLines(displayNumber(q, 3) + u"x" + displayNumber(p, 2) + u"грн", 4, u"l");
    showLines(displayNumber(s, 2) + u"грн", 5, u"r");
    const int32_t tax = taxRate != 0 ? findTaxGroup(taxRate) : defaultTaxGroup_;
    receipt_->addItem(name, q, p, s, department, tax);
    // The register totals the line as quantity x price in whole cents; a discount or
    // markup brings it to the host's amount to the cent.
    const long long difference = std::llround(s * 100) - lineCents(q, p);
    if (difference != 0) receipt_->addDiscount(static_cast<double>(difference) / 100);
    return readState();
}

bool FiscalPrinter::printNonFiscalString(const std::u16string& text)
{
    if (refuseWhileUnsettled()) return false;
    receipt_->addText(text);
    clearDisplay();
    showLines(text, 1, u"l");
    return readState();
}

bool FiscalPrinter::printBarCode(const std::u16string& type, const std::u16string& barcode)
{
    if (refuseWhileUnsettled()) return false;
    receipt_->addBarcode(type, barcode);
    return readState();
}

bool FiscalPrinter::closeCheck(double sum1, double sum2, double sum3, double sum4)
{
    if (!amountFits(sum1) || !amountFits(sum2) || !amountFits(sum3) || !amountFits(sum4)) {
        netlog::error(std::string("Close check: payment out of range, nothing sent"));
        return false;
    }
    if (!pendingDocument_.empty()) {
        bool result = false;
        settlePending(true, result);
        return result;
    }
    const std::u16string type = receipt_->type();
    const std::u16string document = receipt_->finishReceipt(sum1, sum2, sum3, sum4);
    return sendReceipt(document, type);
}

void FiscalPrinter::freshenJournalId()
{
    if (!chkIdFresh_) readState();
}

void FiscalPrinter::clearPending()
{
    pendingDocument_.clear();
    pendingType_.clear();
    pendingFresh_ = false;
    pendingSent_ = false;
}

bool FiscalPrinter::sendReceipt(const std::u16string& document, const std::u16string& type)
{
    // Until the answer arrives the receipt may or may not be recorded.
    pendingDocument_ = document;
    pendingType_ = type;
    pendingChkId_ = chkId_;
    pendingFresh_ = false;
    pendingSent_ = false;
    freshenJournalId();
    pendingChkId_ = chkId_;
    pendingFresh_ = chkIdFresh_;
    chkIdFresh_ = false;
    pendingSent_ = true;
    const bool sent = http_->post(kReceipts, document, lastResponse_);
    if (sent && !isJsonObjectAnswer(lastResponse_)) return settleUnconfirmed();
    clearPending();
    receipt_ = std::make_unique<ReceiptBuffer>(u"F", model_);
    const bool result = complete(sent);
    if (type == u"F" && result) {
        clearDisplay();
        showLines(u"Дякуэмо", 3, u"c");
        showLines(u"за покупку!", 4, u"c");
    }
    return result;
}

bool FiscalPrinter::settleUnconfirmed()
{
    netlog::error(std::string("The register's answer to the receipt is not a JSON object: its journal decides"));
    lastErrorCode_.clear();
    const JournalVerdict verdict = readState() ? journalHolds(textconv::toUtf8(pendingType_), pendingDocument_,
                                                              pendingChkId_, pendingFresh_)
                                               : JournalVerdict::Unknown;
    if (verdict == JournalVerdict::Unknown) {
        // Like a lost answer: the next closeCheck settles it.
        lastErrorText_ = kUnknownText;
        netlog::error(lastErrorText_);
        return false;
    }
    const std::u16string type = pendingType_;
    clearPending();
    receipt_ = std::make_unique<ReceiptBuffer>(u"F", model_);
    if (verdict == JournalVerdict::Absent) {
        lastErrorText_ = kNotRecordedText;
        netlog::error(lastErrorText_);
        return false;
    }
    netlog::info(std::string("Receipt found in the register's journal: recorded"));
    lastErrorText_.clear();
    if (type == u"F") {
        clearDisplay();
        showLines(u"Дякуэмо", 3, u"c");
        showLines(u"за покупку!", 4, u"c");
    }
    return true;
}

JournalVerdict FiscalPrinter::journalHolds(const std::string& type, const std::u16string& document, int32_t afterId,
                                          bool fresh)
{
    if (!fresh) return JournalVerdict::Unknown;
    if (chkId_ <= afterId) return JournalVerdict::Absent;
    Poco::JSON::Array::Ptr sent;
    try {
        sent = documentElements(textconv::toUtf8(document), type);
    } catch (const Poco::Exception& e) {
        netlog::error("Journal check, the document sent can't be read: " + e.displayText());
        return JournalVerdict::Unknown;
    }
    bool unknown = false;
    int64_t from = static_cast<int64_t>(afterId) + 1;
    for (int page = 0; page < kMaxJournalPages; ++page) {
        const std::string path = "/cgi/chk?id=" + std::to_string(from);
        std::string body;
        JournalPage found;
        if (!getAnswer(path, body, AnswerLabels::ofPath(path),
                       [&](const Var& root) { found = findInJournal(root, type, *sent, afterId); }))
            return JournalVerdict::Unknown;
        if (found.verdict == JournalVerdict::Recorded) return found.verdict;
        if (found.verdict == JournalVerdict::Unknown) unknown = true;
        // The answer ends before the last record: read on from where it stopped.
        if (found.records == 0 || found.lastId < from || found.lastId >= chkId_)
            return unknown ? JournalVerdict::Unknown : JournalVerdict::Absent;
        from = found.lastId + 1;
    }
    return JournalVerdict::Unknown;
}

bool FiscalPrinter::settlePending(bool resend, bool& result)
{
    result = false;
    // Without a fresh journal id the journal can't be judged; a receipt never sent is not
    // in it.
    const JournalVerdict verdict = !pendingSent_ ? JournalVerdict::Absent
                                   : readState() ? journalHolds(textconv::toUtf8(pendingType_), pendingDocument_,
                                                              pendingChkId_, pendingFresh_)
                                               : JournalVerdict::Unknown;
    if (verdict == JournalVerdict::Recorded) {
        netlog::info(std::string("Unanswered receipt found in the register's journal: recorded, not sent again"));
        clearPending();
        receipt_ = std::make_unique<ReceiptBuffer>(u"F", model_);
        lastErrorText_.clear();
        lastErrorCode_.clear();
        result = true;
        return true;
    }
    if (!resend) {
        netlog::info(std::string(verdict == JournalVerdict::Absent
                                     ? "Unanswered receipt not recorded by the register: dropped, a new receipt is opened"
                                     : "Unanswered receipt of unknown fate dropped, a new receipt is opened"));
        clearPending();
        return true;
    }
    if (verdict == JournalVerdict::Unknown) {
        // Sending again might record it twice.
        netlog::error(std::string("Cannot tell whether the unanswered receipt was recorded: not sent again"));
        lastErrorText_ = kUnknownText;
        lastErrorCode_.clear();
        return false;
    }
    netlog::info(std::string("Unanswered receipt not recorded by the register: sent again"));
    const std::u16string document = pendingDocument_, type = pendingType_;
    result = sendReceipt(document, type);
    return true;
}

bool FiscalPrinter::cancelCheck()
{
    if (!pendingDocument_.empty()) {
        netlog::info(std::string("Unanswered receipt left unsettled at the host's request"));
        clearPending();
    }
    receipt_ = std::make_unique<ReceiptBuffer>(u"F", model_);
    return readState();
}

bool FiscalPrinter::cashInOutcome(double amount)
{
    if (!amountFits(amount)) {
        netlog::error(std::string("Cash in/out: amount out of range, nothing sent"));
        return false;
    }
    const std::u16string body = u"{\"IO\":[{\"IO\":{\"sum\":" + fixedNumber16(amount, 2) + u"}}]}";
    freshenJournalId();
    const int32_t afterId = chkId_;
    const bool fresh = chkIdFresh_;
    chkIdFresh_ = false;
    const bool sent = http_->post(kReceipts, body, lastResponse_);
    if (sent && !isJsonObjectAnswer(lastResponse_)) {
        // Counts only when the journal has it.
        netlog::error(std::string("The register's answer to the cash document is not a JSON object: its journal decides"));
        lastErrorCode_.clear();
        const JournalVerdict verdict =
            readState() ? journalHolds("IO", body, afterId, fresh) : JournalVerdict::Unknown;
        if (verdict == JournalVerdict::Recorded) {
            lastErrorText_.clear();
            return true;
        }
        lastErrorText_ = verdict == JournalVerdict::Absent ? kNotRecordedText : kUnknownText;
        netlog::error(lastErrorText_);
        return false;
    }
    return complete(sent);
}

// ---- reports and service commands

bool FiscalPrinter::printReport(const std::string& path)
{
    chkIdFresh_ = false;   // a Z report adds to the journal
    const bool sent = http_->get(path, lastResponse_);
    return complete(sent);
}

bool FiscalPrinter::printFullFiscalReportByDates(const std::u16string& start, const std::u16string& end)
{
    return printReport("/cgi/proc/printfmreport?1&" + queryValue(textconv::toUtf8(start)) + "&" + queryValue(textconv::toUtf8(end)) + "&1&1");
}

bool FiscalPrinter::printFullFiscalReportByZNumbers(int32_t first, int32_t last)
{
    return printReport("/cgi/proc/printfmreport?2&1&1&" + std::to_string(first) + "&" + std::to_string(last));
}

bool FiscalPrinter::printShortFiscalReportByDates(const std::u16string& start, const std::u16string& end)
{
    return printReport("/cgi/proc/printfmreport?3&" + queryValue(textconv::toUtf8(start)) + "&" + queryValue(textconv::toUtf8(end)) + "&1&1");
}

bool FiscalPrinter::printShortFiscalReportByZNumbers(int32_t first, int32_t last)
{
    return printReport("/cgi/proc/printfmreport?4&1&1&" + std::to_string(first) + "&" + std::to_string(last));
}

bool FiscalPrinter::printReceiptCopy()
{
    const bool sent = http_->post(kReceipts, u"{\"L\":[]}", lastResponse_);
    return complete(sent);
}

bool FiscalPrinter::printNullReceipt()
{
    chkIdFresh_ = false;
    const bool sent = http_->post(kReceipts, u"{}", lastResponse_);
    return complete(sent);
}

bool FiscalPrinter::openCashDrawer()
{
    const bool asked = http_->get(kDrawer, lastResponse_);
    const std::string askedStatus = http_->lastStatusText();
    parseResponseErrors();
    std::string answer;
    const bool opened = http_->post(kDrawer, u"", answer);
    const std::string openedStatus = http_->lastStatusText();
    const bool stateOk = readState();
    noteStatus(askedStatus);
    if (openedStatus != askedStatus) noteStatus(openedStatus);
    return stateOk && opened && asked && lastErrorText_.empty();
}

int32_t FiscalPrinter::getCurrentReceiptNumber()
{
    readState();
    int32_t number = readNextReceiptNumber();
    if (number < 1) number = readReceiptCounter();
    return number;
}

// ---- display

bool FiscalPrinter::getLineLength(int32_t& width)
{
    const bool sent = http_->get(kScreen, lastResponse_);
    parseResponseErrors();
    const AnswerLabels labels{"Get line length, JSON parsing: ", "Get line length, standart exception: "};
    const bool read = readAnswer(lastResponse_, labels, [&](const Var& root) {
        width = displayWidth(root);
    });
    const bool stateOk = readState();
    return stateOk && sent && read && lastErrorText_.empty();
}

void FiscalPrinter::learnLineLength()
{
    int32_t width = 0;
    getLineLength(width);
    // The register's answer is kept within what a display can be: a width beyond any
    // display would make every write huge, and one below 1 is asked for again next time.
    lineLength_ = std::min(std::max(width, 0), kMaxDisplayWidth);
}

bool FiscalPrinter::showLines(const std::u16string& text, int32_t firstLine, const std::u16string& align)
{
    if (lineLength_ == 0) learnLineLength();
    std::vector<std::u16string> pieces = splitCharacters(text, lineLength_);
    if (pieces.size() > static_cast<std::size_t>(kDisplayLines)) pieces.resize(kDisplayLines);
    std::u16string body = u"[";
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i) body += u",";
        body += u"{\"id\":" + ascii(std::to_string(static_cast<int64_t>(firstLine) + static_cast<int64_t>(i))) +
                u",\"align\":\"" + jsonEscape(align) + u"\",\"str\":\"" + jsonEscape(trimmed(pieces[i])) + u"\"}";
    }
    body += u"]";
    std::string answer;
    return http_->post(kScreen, body, answer);
}

bool FiscalPrinter::clearDisplay()
{
    if (lineLength_ == 0) learnLineLength();
    const std::u16string blanks(static_cast<std::size_t>(lineLength_), u' ');
    std::u16string body = u"[";
    for (int line = 1; line <= 5; ++line) {
        if (line > 1) body += u",";
        body += u"{\"id\":" + ascii(std::to_string(line)) + u",\"align\":\"l\",\"str\":\"" + blanks + u"\"}";
    }
    body += u"]";
    std::string answer;
    return http_->post(kScreen, body, answer);
}

bool FiscalPrinter::showMessage(const std::u16string& text)
{
    clearDisplay();
    return showLines(text, 1, u"l");
}

} // namespace oltra
