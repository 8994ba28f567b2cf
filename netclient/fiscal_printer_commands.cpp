// FiscalPrinter: receipts, reports and service commands, and the register display.
#include "netclient/fiscal_printer.h"
#include "netclient/amounts.h"
#include "netclient/errors.h"
#include "netclient/json_answer.h"
#include "netclient/text_format.h"

#include "netclient/client_log.h"
#include "textconv/utf.h"

#include <Poco/Dynamic/Var.h>
#include <Poco/Exception.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/JSONException.h>

#include <algorithm>
#include <chrono>
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
const char kStatePath[] = "/cgi/state.php";
const char16_t kUnsettledText[] = u"Предыдущий чек отправлен, но ответ регистратора не получен: чек нельзя изменить. "
                                  u"Повторите закрытие чека или отмените его";
const char16_t kNotRecordedText[] =
    u"Ответ регистратора на документ не распознан, и в журнале регистратора документа нет: документ не проведён";
const char16_t kNotSentText[] = u"Документ не отправлен: регистратор не сообщил своё состояние перед отправкой. "
                                u"Повторите операцию, когда регистратор будет доступен";

// While the wait lasts: what to look for on the tape, and which call ends the wait.
std::u16string unknownText(const std::u16string& summary)
{
    return u"Не удалось установить по журналу регистратора, проведён ли " + summary +
           u". Проверьте ленту регистратора: если документ напечатан, он проведён, не пробивайте его снова; "
           u"если не напечатан, пробейте его заново. Повторно документ не отправляется; "
           u"ожидание завершает ОтменитьЧек (CancelCheck)";
}
// When the wait ends: what was found.
std::u16string recordedText(const std::u16string& summary)
{
    return u"Предыдущий документ (" + summary +
           u") найден в журнале регистратора: он проведён, не пробивайте его снова";
}
std::u16string absentText(const std::u16string& summary)
{
    return u"Предыдущий документ (" + summary +
           u") в журнале регистратора не найден: он не проведён, пробейте его заново";
}
std::u16string droppedUnknownText(const std::u16string& summary)
{
    return u"Не удалось установить по журналу регистратора, проведён ли предыдущий документ (" + summary +
           u"). Проверьте ленту регистратора: если документ напечатан, он проведён; если не напечатан, пробейте его заново";
}

std::u16string ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

double finiteOrZero(double v) { return std::isfinite(v) ? v : 0; }

// A display amount: with decimals only when it has a fractional part.
std::u16string displayNumber(double v, int decimals) { return fixedNumber16(v, v != std::floor(v) ? decimals : 0); }

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
    if (!cancelOpen && !receipt_->empty()) {
        if (unsettled_) tellUnknown();
        return false;
    }
    // Nothing unsettled goes unseen: what the journal says is the cashier's to read.
    const std::u16string found = settleAndDrop();
    const std::u16string type = isReturn ? u"R" : isFiscal ? u"F" : u"P";
    readState();
    int32_t next = readNextReceiptNumber();
    if (next <= 0) next = readReceiptCounter();
    number = next;
    receipt_ = std::make_unique<ReceiptBuffer>(type, model_);
    const bool ok = readState();
    // A new receipt: an earlier alert is not shown again.
    lastErrorText_ = found;
    lastErrorCode_.clear();
    foundOnce_ = !found.empty();
    return ok;
}

bool FiscalPrinter::refuseWhileUnsettled()
{
    if (foundOnce_) {
        foundOnce_ = false;
        lastErrorText_.clear();
    }
    if (!unsettled_ || unsettled_->kind() == "IO") return false;
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

void FiscalPrinter::tellUnknown()
{
    lastErrorText_ = unknownText(unsettled_->summary());
    lastErrorCode_.clear();
    foundOnce_ = false;
    netlog::error(lastErrorText_);
}

void FiscalPrinter::thankCustomer(const std::string& kind) noexcept
{
    if (kind != "F") return;
    try {
        clearDisplay();
        showLines(u"Дякуэмо", 3, u"c");
        showLines(u"за покупку!", 4, u"c");
    } catch (const std::exception& e) {
        netlog::error(std::string("Thank-you lines not shown, the receipt is sold all the same: ") + e.what());
    }
}

bool FiscalPrinter::closeCheck(double sum1, double sum2, double sum3, double sum4)
{
    if (!amountFits(sum1) || !amountFits(sum2) || !amountFits(sum3) || !amountFits(sum4)) {
        netlog::error(std::string("Close check: payment out of range, nothing sent"));
        return false;
    }
    if (unsettled_) {
        const std::string kind = unsettled_->kind();
        const Sent settled = settleUnsettled();
        if (settled == Sent::Unknown) {
            tellUnknown();
            return false;
        }
        if (kind != "IO") {
            // The receipt sent before: the one this call closes.
            if (settled == Sent::Recorded) {
                netlog::info(
                    std::string("Unanswered receipt found in the register's journal: recorded, not sent again"));
                unsettled_.reset();
                receipt_ = std::make_unique<ReceiptBuffer>(u"F", model_);
                lastErrorText_.clear();
                lastErrorCode_.clear();
                thankCustomer(kind);
                return true;
            }
            netlog::info(std::string("Unanswered receipt not recorded by the register: sent again"));
            return closeReceipt(kind, textconv::toUtf16(unsettled_->document()));
        }
    }
    // A cash document settled: what was found goes with this receipt's outcome.
    const std::u16string found = settleAndDrop();
    // The buffer stays as it is until the receipt has gone.
    ReceiptBuffer finished = *receipt_;
    const std::u16string document = finished.finishReceipt(sum1, sum2, sum3, sum4);
    const bool ok = closeReceipt(textconv::toUtf8(receipt_->type()), document);
    withFound(found);
    return ok;
}

void FiscalPrinter::withFound(const std::u16string& found)
{
    if (found.empty()) return;
    lastErrorText_ = lastErrorText_.empty() ? found : found + u"; " + lastErrorText_;
    foundOnce_ = true;
}

bool FiscalPrinter::closeReceipt(const std::string& kind, const std::u16string& document)
{
    const Sent sent = sendDocument(kind, document);
    switch (sent) {
    case Sent::NotSent: return false;
    case Sent::Unknown: tellUnknown(); return false;
    case Sent::Confirmed:
    case Sent::Recorded:
        if (sent == Sent::Recorded) netlog::info(std::string("Receipt found in the register's journal: recorded"));
        receipt_ = std::make_unique<ReceiptBuffer>(u"F", model_);
        lastErrorText_.clear();
        lastErrorCode_.clear();
        thankCustomer(kind);
        return true;
    case Sent::Refused:
    case Sent::Absent:
        // The host builds the receipt again.
        receipt_ = std::make_unique<ReceiptBuffer>(u"F", model_);
        return false;
    }
    return false;
}

FiscalPrinter::Sent FiscalPrinter::sendDocument(const std::string& kind, const std::u16string& document)
{
    // The state right before the document: what the journal is compared from.
    if (!readState()) {
        lastErrorText_ = kNotSentText;
        lastErrorCode_.clear();
        netlog::error(lastErrorText_);
        return Sent::NotSent;
    }
    unsettled_ = std::make_unique<UnsettledDocument>(kind, textconv::toUtf8(document),
                                                     JournalAnchor{chkId_, time_, timeText_}, clock_);
    bool ok = false;
    try {
        ok = http_->post(kReceipts, document, lastResponse_);
    } catch (const Poco::Exception& e) {
        if (e.code() == kAuthenticationErrorCode) {
            // Refused at the login: not carried out, and nothing of it changed here.
            unsettled_.reset();
            throw;
        }
        // No answer: the register may have booked it, or may yet.
        unsettled_->sendEnded(false);
        lastResponse_.clear();
        return settleSent(std::string());
    }
    const std::string status = http_->lastStatusText();
    const bool object = isJsonObjectAnswer(lastResponse_);
    if (object) parseResponseErrors();
    else {
        lastErrorText_.clear();
        lastErrorCode_.clear();
    }
    if (object && !lastErrorText_.empty()) {
        // The register refused it, with its reason.
        unsettled_.reset();
        noteStatus(status);
        try {
            readState();
        } catch (const Poco::Exception&) {}
        return Sent::Refused;
    }
    if (ok && object) {
        // Booked: a sale, whatever the state read after it says.
        unsettled_.reset();
        try {
            readState();
        } catch (const Poco::Exception&) {
            netlog::error(std::string("The state read after a booked document failed; the document stands"));
        }
        return Sent::Confirmed;
    }
    // An answer that says nothing about the document (empty, a page, another status): the
    // register is done with it, and its journal decides.
    netlog::error(std::string(status.empty()
                                  ? "The register's answer to the document does not confirm it: its journal decides"
                                  : "The register answered the document with " + status + ": its journal decides"));
    unsettled_->sendEnded(true);
    return settleSent(status);
}

FiscalPrinter::Sent FiscalPrinter::settleSent(const std::string& status)
{
    const Sent settled = settleUnsettled();
    if (settled == Sent::Recorded) unsettled_.reset();
    if (settled == Sent::Absent) {
        unsettled_.reset();
        lastErrorText_ = kNotRecordedText;
        lastErrorCode_.clear();
        noteStatus(status);
        netlog::error(lastErrorText_);
    }
    return settled;
}

FiscalPrinter::Sent FiscalPrinter::settleUnsettled() noexcept
{
    UnsettledDocument& document = *unsettled_;
    if (!document.settled()) {
        try {
            // One deadline for the whole settlement, the state read included.
            const auto now = [this] { return clock_ ? clock_() : std::chrono::steady_clock::now(); };
            const auto started = now();
            std::string state;
            http_->get(kStatePath, state, ExchangeLimits{Poco::Timespan(settleLimits_.deadline.count() * 1000)});
            SettleLimits limits = settleLimits_;
            limits.deadline -= std::chrono::duration_cast<std::chrono::milliseconds>(now() - started);
            if (readStateFrom(state)) {
                const UnsettledDocument::JournalReader read = [this](int64_t from, std::chrono::milliseconds left,
                                                                     std::size_t maxBytes, std::string& body) {
                    const std::string path = "/cgi/chk?id=" + std::to_string(from);
                    return http_->get(path, body, ExchangeLimits{Poco::Timespan(left.count() * 1000), maxBytes});
                };
                document.settle(chkId_, time_, read, limits);
            } else {
                netlog::error(std::string("Journal check: the register's state can't be read"));
            }
        } catch (const std::exception& e) {
            netlog::error(std::string("Journal check: the journal can't be read: ") + e.what());
        }
    }
    switch (document.state()) {
    case UnsettledDocument::State::Recorded: return Sent::Recorded;
    case UnsettledDocument::State::Absent: return Sent::Absent;
    default: return Sent::Unknown;
    }
}

std::u16string FiscalPrinter::settleAndDrop() noexcept
{
    if (!unsettled_) return std::u16string();
    std::u16string text;
    try {
        const Sent settled = settleUnsettled();
        const std::u16string summary = unsettled_->summary();
        switch (settled) {
        case Sent::Recorded:
            text = recordedText(summary);
            netlog::info(std::string("Unanswered document found in the register's journal: recorded"));
            break;
        case Sent::Absent:
            text = absentText(summary);
            netlog::info(std::string("Unanswered document not recorded by the register: dropped"));
            break;
        default:
            text = droppedUnknownText(summary);
            netlog::error(std::string("Unanswered document of unknown fate dropped at the host's request"));
            break;
        }
        netlog::info(text);
        if (unsettled_->kind() != "IO") receipt_ = std::make_unique<ReceiptBuffer>(u"F", model_);
    } catch (const std::exception& e) {
        netlog::error(std::string("Unsettled document: ") + e.what());
    }
    unsettled_.reset();
    return text;
}

std::u16string FiscalPrinter::settleBeforeClosing() noexcept { return settleAndDrop(); }

bool FiscalPrinter::cancelCheck()
{
    const std::u16string found = settleAndDrop();
    receipt_ = std::make_unique<ReceiptBuffer>(u"F", model_);
    // The wait is over: an earlier alert is not shown again, only what was found.
    lastErrorText_ = found;
    lastErrorCode_.clear();
    foundOnce_ = !found.empty();
    return readState();
}

bool FiscalPrinter::cashInOutcome(double amount)
{
    if (!amountFits(amount)) {
        netlog::error(std::string("Cash in/out: amount out of range, nothing sent"));
        return false;
    }
    const std::u16string body = u"{\"IO\":[{\"IO\":{\"sum\":" + fixedNumber16(amount, 2) + u"}}]}";
    std::u16string found;
    if (unsettled_) {
        const Sent settled = settleUnsettled();
        if (settled == Sent::Unknown) {
            tellUnknown();
            return false;
        }
        const bool same = unsettled_->kind() == "IO" && unsettled_->document() == textconv::toUtf8(body);
        if (same && settled == Sent::Recorded) {
            // The host asks again for the one the register booked: not booked twice.
            netlog::info(
                std::string("Unanswered cash document found in the register's journal: recorded, not sent again"));
            unsettled_.reset();
            lastErrorText_.clear();
            lastErrorCode_.clear();
            return true;
        }
        if (same) {
            netlog::info(std::string("Unanswered cash document not recorded by the register: sent again"));
            unsettled_.reset();
        } else {
            found = settleAndDrop();
        }
    }
    bool ok = false;
    switch (sendDocument("IO", body)) {
    case Sent::Confirmed:
    case Sent::Recorded:
        lastErrorText_.clear();
        lastErrorCode_.clear();
        ok = true;
        break;
    case Sent::Unknown: tellUnknown(); break;
    default: break;
    }
    withFound(found);
    return ok;
}

// ---- reports and service commands

bool FiscalPrinter::printReport(const std::string& path)
{
    const bool sent = http_->get(path, lastResponse_);
    return complete(sent);
}

bool FiscalPrinter::printFullFiscalReportByDates(const std::u16string& start, const std::u16string& end)
{
    return printReport("/cgi/proc/printfmreport?1&" + queryValue(textconv::toUtf8(start)) + "&" +
                       queryValue(textconv::toUtf8(end)) + "&1&1");
}

bool FiscalPrinter::printFullFiscalReportByZNumbers(int32_t first, int32_t last)
{
    return printReport("/cgi/proc/printfmreport?2&1&1&" + std::to_string(first) + "&" + std::to_string(last));
}

bool FiscalPrinter::printShortFiscalReportByDates(const std::u16string& start, const std::u16string& end)
{
    return printReport("/cgi/proc/printfmreport?3&" + queryValue(textconv::toUtf8(start)) + "&" +
                       queryValue(textconv::toUtf8(end)) + "&1&1");
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
    const bool read = readAnswer(lastResponse_, labels, [&](const Var& root) { width = displayWidth(root); });
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
