#include "netclient/fiscal_printer.h"
#include "netclient/json_answer.h"
#include "netclient/register_answers.h"

#include "netclient/client_log.h"
#include "textconv/local_time.h"
#include "textconv/utf.h"

#include <Poco/Dynamic/Var.h>
#include <Poco/Exception.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/JSONException.h>
#include <Poco/NumberParser.h>
#include <Poco/String.h>

#include <cmath>
#include <cstdio>

namespace oltra {

namespace {

using Poco::Dynamic::Var;
using Poco::JSON::Object;

const char kState[] = "/cgi/state.php";

} // namespace

FiscalPrinter::FiscalPrinter(const std::string& address, const std::string& user, const std::string& password,
                             int32_t defaultTaxGroup, const HttpTimeouts& timeouts)
    : defaultTaxGroup_(defaultTaxGroup)
{
    netlog::debug(std::string("Create FiscalPrinter object"));
    http_ = std::make_unique<HttpClient>(address, user, password, timeouts);
    // Something that answers HTTP but gives no state is no register to work with.
    if (!readState()) throw Poco::Exception(stateFailure(), kNoRegisterStateErrorCode);
    netlog::info("Found fiscal printer. Model: " + model_ + ", serial: " + serial_);
    fillErrorsMap();
    fillTaxGroups();
    receipt_ = std::make_unique<ReceiptBuffer>(u"F", model_);
}

FiscalPrinter::~FiscalPrinter()
{
    netlog::debug(std::string("Destroy FiscalPrinter object"));
    if (unsettled_) netlog::error(u"Unsettled document dropped with the connection: " + unsettled_->summary());
    receipt_.reset();
    errorDescriptions_.clear();
    taxGroups_.clear();
    http_.reset();
}

bool FiscalPrinter::getAnswer(const std::string& path, std::string& body, const AnswerLabels& labels,
                              const std::function<void(const Var& root)>& read)
{
    http_->get(path, body);
    return readAnswer(body, labels, read);
}

bool FiscalPrinter::readState()
{
    std::string body;
    http_->get(kState, body);
    return readStateFrom(body);
}

bool FiscalPrinter::readStateFrom(const std::string& body)
{
    RegisterState state{model_, name_, serial_, time_, journalTime_, chkId_};
    const bool read = readAnswer(body, AnswerLabels::named("Read status"),
                                 [&state](const Var& root) { readStateMembers(root, state); });
    model_ = state.model;
    name_ = state.name;
    serial_ = state.serial;
    time_ = state.time;
    journalTime_ = state.journalTime;
    chkId_ = state.chkId;
    if (read) {
        timeText_ = textconv::formatLocalTime(static_cast<std::time_t>(time_));
        journalTimeText_ = textconv::formatLocalTime(static_cast<std::time_t>(journalTime_));
    }
    return read;
}

std::string FiscalPrinter::stateFailure() const
{
    const std::string status = http_->lastStatusText();
    return status.empty() ? std::string("ответ не является состоянием регистратора") : status;
}

bool FiscalPrinter::testState(std::string& failure)
{
    const bool ok = http_->get(kState, lastResponse_);
    if (ok && readStateFrom(lastResponse_)) return true;
    failure = stateFailure();
    return false;
}

void FiscalPrinter::fillErrorsMap()
{
    errorDescriptions_.clear();
    getAnswer("/desc", lastResponse_, AnswerLabels::named("Fill errors map"),
              [this](const Var& root) { readErrorDescriptions(root, errorDescriptions_); });
}

void FiscalPrinter::fillTaxGroups()
{
    taxGroups_.clear();
    const AnswerLabels labels{"Fill tax groups, JSON parsing: ", "Fill tax groups, standart exception: "};
    getAnswer("/cgi/tbl/Tax", lastResponse_, labels, [this](const Var& root) { readTaxTable(root, taxGroups_); });
}

int32_t FiscalPrinter::findTaxGroup(double rate) const
{
    // Rates from 100 up name the group itself; beyond the range of a group number they
    // name none.
    if (rate >= 100 && rate - 100 < 2147483648.0) return static_cast<int32_t>(rate - 100);
    if (rate < 100) {
        const auto it = taxGroups_.find(rate);
        if (it != taxGroups_.end()) return it->second;
    }
    char number[64];
    std::snprintf(number, sizeof number, "%f", rate);
    netlog::error(std::string("В фискальном регистраторе не запрограммирована налоговая группа со ставкой: ") + number +
                  "%");
    return 0;
}

int32_t FiscalPrinter::readNextReceiptNumber()
{
    const std::string path = "/cgi/chk?id=" + std::to_string(static_cast<int64_t>(chkId_) - 100);
    std::string body;
    int32_t number = 0;
    getAnswer(path, body, AnswerLabels::ofPath(path), [&](const Var& root) {
        oltra::readNextReceiptNumber(root, number);
        netlog::debug("Next receipt number from " + path + ": " + std::to_string(number));
    });
    return number;
}

int32_t FiscalPrinter::readReceiptCounter()
{
    const std::string path = "/cgi/tbl/Fsk";
    std::string body;
    int32_t counter = 0;
    getAnswer(path, body, AnswerLabels::ofPath(path),
              [&](const Var& root) { counter = rootObject(root)->get("NumChk").convert<Poco::Int32>(); });
    return counter;
}

void FiscalPrinter::parseResponseErrors()
{
    Poco::trimInPlace(lastResponse_);
    parseResponseErrors(lastResponse_);
}

void FiscalPrinter::parseResponseErrors(const std::string& answer)
{
    foundOnce_ = false;
    lastErrorText_.clear();
    lastErrorCode_.clear();
    const std::string trimmed = Poco::trim(answer);
    if (trimmed.empty() || trimmed == "{}") return;
    ErrorReader reader(errorDescriptions_);
    readAnswer(trimmed, AnswerLabels::named("Parse for response errors"),
               [&reader](const Var& root) { reader.read(root); });
    lastErrorText_ = reader.text;
    lastErrorCode_ = reader.code;
    if (!lastErrorText_.empty()) netlog::error(lastErrorText_);
}

std::u16string FiscalPrinter::describeErrorCode(const std::string& code) const
{
    ErrorReader reader(errorDescriptions_);
    reader.code = lastErrorCode_;
    return reader.describeCode(code);
}

std::u16string FiscalPrinter::describeErrorObject(const Poco::JSON::Object& error)
{
    ErrorReader reader(errorDescriptions_);
    reader.code = lastErrorCode_;
    const std::u16string text = reader.describeObject(error);
    lastErrorCode_ = reader.code;
    return text;
}

uint32_t FiscalPrinter::getLastErrorCode() const
{
    if (lastErrorCode_.empty()) return 0;
    std::string hex = Poco::toUpper(lastErrorCode_);
    hex = Poco::remove(hex, 'X');
    unsigned value = 0;
    if (hex.empty() || !Poco::NumberParser::tryParseHex(hex, value)) {
        netlog::error("Exception in convertations error code from hex string to long. Hex value: " + lastErrorCode_);
        return 0;
    }
    return value;
}

bool FiscalPrinter::complete(bool transportOk)
{
    const std::string status = http_->lastStatusText();
    parseResponseErrors();
    const bool stateOk = readState();
    noteStatus(status);
    return stateOk && transportOk && lastErrorText_.empty();
}

bool FiscalPrinter::command(const std::string& path, const std::string& document)
{
    const bool sent = http_->postUtf8(path, document, lastResponse_);
    return complete(sent);
}

void FiscalPrinter::noteStatus(const std::string& statusText)
{
    if (statusText.empty()) return;
    netlog::error(statusText);
    if (!lastErrorText_.empty()) lastErrorText_ += u"; ";
    lastErrorText_ += textconv::toUtf16(statusText);
}

} // namespace oltra
