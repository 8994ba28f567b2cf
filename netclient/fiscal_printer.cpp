#include "netclient/fiscal_printer.h"
#include "netclient/json_answer.h"

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
using Poco::JSON::Array;
using Poco::JSON::Object;

const char kState[] = "/cgi/state.php";

bool isAsciiSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

void trim(std::u16string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && isAsciiSpace(s[b])) ++b;
    while (e > b && isAsciiSpace(s[e - 1])) --e;
    s = s.substr(b, e - b);
}

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
    return readAnswer(body, AnswerLabels::named("Read status"), [this](const Var& root) {
        const Object::Ptr state = rootObject(root);
        model_ = jsonText(state->get("model"));
        name_ = jsonText(state->get("name"));
        serial_ = jsonText(state->get("serial"));
        time_ = state->get("time").convert<Poco::Int64>();
        journalTime_ = state->get("JrnTime").convert<Poco::Int64>();
        chkId_ = state->get("chkId").convert<Poco::Int32>();
        timeText_ = textconv::formatLocalTime(static_cast<std::time_t>(time_));
        journalTimeText_ = textconv::formatLocalTime(static_cast<std::time_t>(journalTime_));
    });
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
    getAnswer("/desc", lastResponse_, AnswerLabels::named("Fill errors map"), [this](const Var& root) {
        const Object::Ptr errors = memberObject(*memberObject(*rootObject(root), "uk"), "err");
        for (const auto& member : *errors)
            errorDescriptions_.emplace(member.first, textconv::toUtf16(jsonText(member.second)));
    });
}

void FiscalPrinter::fillTaxGroups()
{
    taxGroups_.clear();
    const AnswerLabels labels{"Fill tax groups, JSON parsing: ", "Fill tax groups, standart exception: "};
    getAnswer("/cgi/tbl/Tax", lastResponse_, labels, [this](const Var& root) {
        const Array::Ptr table = rootArray(root);
        for (std::size_t i = 0; i < table->size(); ++i) {
            const Object::Ptr entry = table->getObject(static_cast<unsigned>(i));
            if (entry.isNull()) throw Poco::JSON::JSONException("Tax table entry is not an object");
            const int32_t id = entry->get("id").convert<Poco::Int32>();
            const double rate = entry->get("Prc").convert<double>();
            taxGroups_.emplace(rate, id);   // the first entry with a rate wins
        }
    });
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
    netlog::error(std::string("В фискальном регистраторе не запрограммирована налоговая группа со ставкой: ") + number + "%");
    return 0;
}

int32_t FiscalPrinter::readNextReceiptNumber()
{
    const std::string path = "/cgi/chk?id=" + std::to_string(static_cast<int64_t>(chkId_) - 100);
    std::string body;
    int32_t number = 0;
    getAnswer(path, body, AnswerLabels::ofPath(path), [&](const Var& root) {
        const Array::Ptr records = rootArray(root);
        if (records->size() == 0) throw Poco::JSON::JSONException("The journal answer holds no record");
        const Object::Ptr last = records->getObject(static_cast<unsigned>(records->size() - 1));
        if (last.isNull()) throw Poco::JSON::JSONException("The last journal record is not an object");
        number = last->get("no").convert<Poco::Int32>();
        // After a sale or return receipt the next one takes the following number; at the
        // end of the range the last number is kept.
        if (last->has("F") || last->has("R")) {
            if (number == INT32_MAX) throw Poco::RangeException("Receipt number out of range");
            ++number;
        }
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
    lastErrorText_.clear();
    lastErrorCode_.clear();
    Poco::trimInPlace(lastResponse_);
    if (lastResponse_.empty() || lastResponse_ == "{}") return;
    readAnswer(lastResponse_, AnswerLabels::named("Parse for response errors"), [this](const Var& answer) {
        const Object::Ptr root = rootObject(answer);
        const Var err = root->get("err");
        if (err.isString()) {
            lastErrorCode_ = jsonText(err);
            lastErrorText_ = describeErrorCode(lastErrorCode_);
        } else if (root->isArray("err")) {
            const Array::Ptr list = root->getArray("err");
            for (std::size_t i = 0; i < list->size(); ++i) {
                const Object::Ptr item = list->getObject(static_cast<unsigned>(i));
                // Anything but an object is still an error: its own text describes it.
                const std::u16string piece = item.isNull()
                                                 ? textconv::toUtf16(jsonText(list->get(static_cast<unsigned>(i))))
                                                 : describeErrorObject(*item);
                if (!lastErrorText_.empty()) lastErrorText_ += u"; ";
                lastErrorText_ += piece;
            }
        }
    });
    if (!lastErrorText_.empty()) netlog::error(lastErrorText_);
}

std::u16string FiscalPrinter::describeErrorCode(const std::string& code) const
{
    const auto it = errorDescriptions_.find(code);
    if (it == errorDescriptions_.end()) return textconv::toUtf16(code);
    return u"(Код:" + textconv::toUtf16(lastErrorCode_) + u") " + it->second;
}

std::u16string FiscalPrinter::describeErrorObject(const Poco::JSON::Object& error)
{
    std::u16string result;
    for (const auto& member : error) {
        if (!result.empty()) result += u", ";
        if (member.first == "e") {
            lastErrorCode_ = jsonText(member.second);
            result += describeErrorCode(lastErrorCode_);
        } else {
            result += textconv::toUtf16(member.first + ": " + jsonText(member.second));
        }
    }
    trim(result);
    return result;
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

void FiscalPrinter::noteStatus(const std::string& statusText)
{
    if (statusText.empty()) return;
    netlog::error(statusText);
    if (!lastErrorText_.empty()) lastErrorText_ += u"; ";
    lastErrorText_ += textconv::toUtf16(statusText);
}

} // namespace oltra
