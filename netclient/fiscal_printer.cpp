#include "netclient/fiscal_printer.h"

#include "driver_log.h"
#include "utf.h"

#include <Poco/Dynamic/Var.h>
#include <Poco/Exception.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/JSONException.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <Poco/NumberParser.h>
#include <Poco/String.h>

#include <cmath>
#include <cstdio>

namespace oltra {

namespace {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;

Var parseJson(const std::string& text)
{
    Poco::JSON::Parser parser;
    return parser.parse(text);
}

Object::Ptr rootObject(const Var& v)
{
    if (v.type() != typeid(Object::Ptr) || v.extract<Object::Ptr>().isNull())
        throw Poco::JSON::JSONException("The answer is not a JSON object");
    return v.extract<Object::Ptr>();
}

Array::Ptr rootArray(const Var& v)
{
    if (v.type() != typeid(Array::Ptr) || v.extract<Array::Ptr>().isNull())
        throw Poco::JSON::JSONException("The answer is not a JSON array");
    return v.extract<Array::Ptr>();
}

Object::Ptr memberObject(const Object& parent, const std::string& key)
{
    Object::Ptr child = parent.getObject(key);
    if (child.isNull()) throw Poco::JSON::JSONException("Member \"" + key + "\" is not an object");
    return child;
}

std::string text(const Var& v) { return v.convert<std::string>(); }

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
    logDebug(std::string("Create FiscalPrinter object"));
    http_ = std::make_unique<HttpClient>(address, user, password, timeouts);
    readState();
    logInfo("Found fiscal printer. Model: " + model_ + ", serial: " + serial_);
    fillErrorsMap();
    fillTaxGroups();
    receipt_ = std::make_unique<ReceiptBuffer>(u"F", model_);
}

FiscalPrinter::~FiscalPrinter()
{
    logDebug(std::string("Destroy FiscalPrinter object"));
    receipt_.reset();
    errorDescriptions_.clear();
    taxGroups_.clear();
    http_.reset();
}

bool FiscalPrinter::readState()
{
    std::string body;
    http_->get("/cgi/state.php", body);
    try {
        const Object::Ptr state = rootObject(parseJson(body));
        model_ = text(state->get("model"));
        name_ = text(state->get("name"));
        serial_ = text(state->get("serial"));
        time_ = state->get("time").convert<Poco::Int64>();
        journalTime_ = state->get("JrnTime").convert<Poco::Int64>();
        chkId_ = state->get("chkId").convert<Poco::Int32>();
        timeText_ = formatLocalTime(static_cast<std::time_t>(time_));
        journalTimeText_ = formatLocalTime(static_cast<std::time_t>(journalTime_));
        return true;
    } catch (const Poco::Exception& e) {
        logError("Read status, JSON parsing error: " + e.displayText());
    } catch (const std::exception& e) {
        logError(std::string("Read status, standart exception: ") + e.what());
    }
    return false;
}

void FiscalPrinter::fillErrorsMap()
{
    errorDescriptions_.clear();
    http_->get("/desc", lastResponse_);
    try {
        const Object::Ptr root = rootObject(parseJson(lastResponse_));
        const Object::Ptr errors = memberObject(*memberObject(*root, "uk"), "err");
        for (const auto& member : *errors)
            errorDescriptions_.emplace(member.first, toUtf16(text(member.second)));
    } catch (const Poco::Exception& e) {
        logError("Fill errors map, JSON parsing error: " + e.displayText());
    } catch (const std::exception& e) {
        logError(std::string("Fill errors map, standart exception: ") + e.what());
    }
}

void FiscalPrinter::fillTaxGroups()
{
    taxGroups_.clear();
    http_->get("/cgi/tbl/Tax", lastResponse_);
    try {
        const Array::Ptr table = rootArray(parseJson(lastResponse_));
        for (std::size_t i = 0; i < table->size(); ++i) {
            const Object::Ptr entry = table->getObject(static_cast<unsigned>(i));
            if (entry.isNull()) throw Poco::JSON::JSONException("Tax table entry is not an object");
            const int32_t id = entry->get("id").convert<Poco::Int32>();
            const double rate = entry->get("Prc").convert<double>();
            taxGroups_.emplace(rate, id);   // the first entry with a rate wins
        }
    } catch (const Poco::Exception& e) {
        logError("Fill tax groups, JSON parsing: " + e.displayText());
    } catch (const std::exception& e) {
        logError(std::string("Fill tax groups, standart exception: ") + e.what());
    }
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
    logError(std::string("В фискальном регистраторе не запрограммирована налоговая группа со ставкой: ") + number + "%");
    return 0;
}

int32_t FiscalPrinter::readNextReceiptNumber()
{
    const std::string path = "/cgi/chk?id=" + std::to_string(static_cast<int64_t>(chkId_) - 100);
    std::string body;
    http_->get(path, body);
    int32_t number = 0;
    try {
        const Array::Ptr records = rootArray(parseJson(body));
        if (records->size() == 0) throw Poco::JSON::JSONException("The journal answer holds no record");
        const Object::Ptr last = records->getObject(static_cast<unsigned>(records->size() - 1));
        if (last.isNull()) throw Poco::JSON::JSONException("The last journal record is not an object");
        number = last->get("no").convert<Poco::Int32>();
        // After a sale or return receipt the next one takes the following number.
        if (last->has("F") || last->has("R")) {
            if (number == INT32_MAX) throw Poco::RangeException("Receipt number out of range");
            ++number;
        }
        logDebug("Next receipt number from " + path + ": " + std::to_string(number));
    } catch (const Poco::Exception& e) {
        logError("Read " + path + " - JSON parsing error: " + e.displayText());
    } catch (const std::exception& e) {
        logError("Read " + path + " - standart exception: " + e.what());
    }
    return number;
}

int32_t FiscalPrinter::readReceiptCounter()
{
    const std::string path = "/cgi/tbl/Fsk";
    std::string body;
    http_->get(path, body);
    try {
        return rootObject(parseJson(body))->get("NumChk").convert<Poco::Int32>();
    } catch (const Poco::Exception& e) {
        logError("Read " + path + " - JSON parsing error: " + e.displayText());
    } catch (const std::exception& e) {
        logError("Read " + path + " - standart exception: " + e.what());
    }
    return 0;
}

void FiscalPrinter::parseResponseErrors()
{
    lastErrorText_.clear();
    lastErrorCode_.clear();
    Poco::trimInPlace(lastResponse_);
    if (lastResponse_.empty() || lastResponse_ == "{}") return;
    try {
        const Object::Ptr root = rootObject(parseJson(lastResponse_));
        const Var err = root->get("err");
        if (err.isString()) {
            lastErrorCode_ = text(err);
            lastErrorText_ = describeErrorCode(lastErrorCode_);
        } else if (root->isArray("err")) {
            const Array::Ptr list = root->getArray("err");
            for (std::size_t i = 0; i < list->size(); ++i) {
                const Object::Ptr item = list->getObject(static_cast<unsigned>(i));
                // Anything but an object is still an error: its own text describes it.
                const std::u16string piece = item.isNull() ? toUtf16(text(list->get(static_cast<unsigned>(i))))
                                                           : describeErrorObject(*item);
                if (!lastErrorText_.empty()) lastErrorText_ += u"; ";
                lastErrorText_ += piece;
            }
        }
    } catch (const Poco::Exception& e) {
        logError("Parse for response errors, JSON parsing error: " + e.displayText());
    } catch (const std::exception& e) {
        logError(std::string("Parse for response errors, standart exception: ") + e.what());
    }
    if (!lastErrorText_.empty()) logError(lastErrorText_);
}

std::u16string FiscalPrinter::describeErrorCode(const std::string& code) const
{
    const auto it = errorDescriptions_.find(code);
    if (it == errorDescriptions_.end()) return toUtf16(code);
    return u"(Код:" + toUtf16(lastErrorCode_) + u") " + it->second;
}

std::u16string FiscalPrinter::describeErrorObject(const Poco::JSON::Object& error)
{
    std::u16string result;
    for (const auto& member : error) {
        if (!result.empty()) result += u", ";
        if (member.first == "e") {
            lastErrorCode_ = text(member.second);
            result += describeErrorCode(lastErrorCode_);
        } else {
            result += toUtf16(member.first + ": " + text(member.second));
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
        logError("Exception in convertations error code from hex string to long. Hex value: " + lastErrorCode_);
        return 0;
    }
    return value;
}

bool FiscalPrinter::complete(bool transportOk)
{
    parseResponseErrors();
    const bool stateOk = readState();
    return stateOk && transportOk && lastErrorText_.empty();
}

} // namespace oltra
