// The simulated register's fiscal side: documents, journal, counters, totals, reports,
// the display and the tape.
#include "simulators/netreg/netsim.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <Poco/NumberParser.h>
#include <Poco/StringTokenizer.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <deque>
#include <sstream>

#ifdef _WIN32
// Windows' C library names the UTC conversions differently.
namespace {
std::tm* gmtime_r(const std::time_t* t, std::tm* out) { return gmtime_s(out, t) == 0 ? out : nullptr; }
std::time_t timegm(std::tm* tm) { return _mkgmtime(tm); }
} // namespace
#endif

namespace netsim {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;

namespace {

constexpr std::size_t kJournalLimit = 5000;
constexpr int kDisplayLines = 6;

// The register's error codes: the code text sent in "err" and the description served by
// "/desc".
enum class RegisterError {
    BadRequest,
    UnknownDocument,
    UnknownReport,
    TaxGroupMissing,
    PaymentShort,
    NotEnoughCash,
    EmptyReceipt,
    BadNumber,
    DiscountTooLarge,
    BadPaymentType,
    BadReportParameters,
    NoReceiptToCopy,
    BadDisplayData,
    FiscalMemoryFull,
};

struct ErrorEntry { RegisterError error; const char* code; const char* text; };
const ErrorEntry kErrors[] = {
    {RegisterError::BadRequest, "1", "Помилка формату запиту"},
    {RegisterError::UnknownDocument, "2", "Невідомий документ або елемент документа"},
    {RegisterError::UnknownReport, "3", "Невідомий звіт"},
    {RegisterError::TaxGroupMissing, "10", "Податкова група не запрограмована"},
    {RegisterError::PaymentShort, "11", "Сума оплати менша за суму чека"},
    {RegisterError::NotEnoughCash, "12", "Недостатньо готівки в скриньці"},
    {RegisterError::EmptyReceipt, "13", "Порожній чек"},
    {RegisterError::BadNumber, "14", "Невірна кількість, ціна або сума"},
    {RegisterError::DiscountTooLarge, "15", "Знижка більша за суму рядка"},
    {RegisterError::BadPaymentType, "16", "Невірний вид оплати"},
    {RegisterError::BadReportParameters, "18", "Невірні параметри звіту"},
    {RegisterError::NoReceiptToCopy, "19", "Немає чека для копії"},
    {RegisterError::BadDisplayData, "1A", "Невірні дані для дисплея"},
    {RegisterError::FiscalMemoryFull, "3A", "Фіскальна пам'ять переповнена"},
};

std::string code(RegisterError error)
{
    for (const auto& e : kErrors)
        if (e.error == error) return e.code;
    return "1";
}

struct TaxGroup { int id; double rate; const char* letter; };
const std::vector<TaxGroup> kTaxGroups = {{1, 20, "А"}, {2, 7, "Б"}, {3, 0, "В"}, {4, 5, "Г"}};

const TaxGroup* findGroup(int id)
{
    for (const auto& g : kTaxGroups)
        if (g.id == id) return &g;
    return nullptr;
}

std::string json(const Var& v)
{
    std::ostringstream out;
    Poco::JSON::Stringifier::stringify(v, out);
    return out.str();
}

// {"err":"CODE"}
Answer errorAnswer(RegisterError error) { return Answer{200, "{\"err\":" + json(Var(code(error))) + "}"}; }

// {"err":[{"e":CODE, ...}, ...]}
Answer errorList(const Array::Ptr& errors)
{
    Object::Ptr root = new Object;
    root->set("err", errors);
    return Answer{200, json(root)};
}

// {"id":ID,"no":NO}: a document booked.
Answer booked(int64_t id, int32_t no)
{
    return Answer{200, "{\"id\":" + std::to_string(id) + ",\"no\":" + std::to_string(no) + "}"};
}

Object::Ptr errorItem(RegisterError error, const std::string& key = "", const std::string& value = "")
{
    Object::Ptr e = new Object;
    e->set("e", code(error));
    if (!key.empty()) e->set(key, value);
    return e;
}

std::string money(int64_t cents)
{
    char buf[48];
    const int64_t a = cents < 0 ? -cents : cents;
    std::snprintf(buf, sizeof buf, "%s%lld.%02lld", cents < 0 ? "-" : "", static_cast<long long>(a / 100),
                  static_cast<long long>(a % 100));
    return buf;
}

std::string timeText(int64_t t)
{
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm {};
    gmtime_r(&tt, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%d.%m.%Y %H:%M:%S", &tm);
    return buf;
}

// A number member of an element; throws when missing or not a number.
double number(const Object& o, const std::string& key)
{
    const Var v = o.get(key);
    if (v.isEmpty() || !v.isNumeric()) throw Poco::DataFormatException(key);
    const double d = v.convert<double>();
    if (!std::isfinite(d) || std::fabs(d) > 1e6) throw Poco::DataFormatException(key);
    return d;
}

int64_t cents(double d) { return std::llround(d * 100); }

std::string padRight(const std::string& s, std::size_t width)
{
    // Width in characters of UTF-8 text.
    std::size_t chars = 0;
    for (unsigned char c : s) chars += (c & 0xC0) != 0x80;
    return chars >= width ? s : s + std::string(width - chars, ' ');
}

} // namespace

struct Register::State {
    int64_t nextId = 1;          // journal record ids; chkId is the last one given
    int32_t nextNo = 1;          // number of the next receipt
    int32_t nextZ = 1;           // number of the next Z report
    int64_t shiftOpened = 0;     // 0: no shift open
    int64_t cash = 0;            // cents in the drawer
    std::map<int, int64_t> sales, returns;   // by tax group
    std::map<int, int64_t> paid;             // by payment type, sales minus returns
    int32_t receipts = 0;                    // receipts in the shift
    std::deque<Object::Ptr> journal;
    std::string lastReceiptTape;
    std::vector<std::pair<std::string, std::string>> display =
        std::vector<std::pair<std::string, std::string>>(kDisplayLines, {"l", ""});
};

Register::Register(const Config& config, Tape& tape) : config_(config), tape_(tape), s_(new State)
{
    if (!config_.clock.empty()) {
        fixedClock_ = parseClock(config_.clock);
        if (fixedClock_ < 0) throw Poco::InvalidArgumentException("clock", config_.clock);
    }
    load();
}

Register::~Register() = default;

int64_t Register::parseClock(const std::string& text)
{
    std::tm tm {};
    int y, mo, d, h, mi, se;
    char tail;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &se, &tail) != 6) return -1;
    if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59 || h < 0 || mi < 0 || se < 0)
        return -1;
    tm.tm_year = y - 1900; tm.tm_mon = mo - 1; tm.tm_mday = d; tm.tm_hour = h; tm.tm_min = mi; tm.tm_sec = se;
    return static_cast<int64_t>(timegm(&tm));
}

int64_t Register::now() const { return fixedClock_ >= 0 ? fixedClock_ : static_cast<int64_t>(std::time(nullptr)); }

Answer Register::handle(const std::string& method, const std::string& path, const std::string& query,
                        const std::string& body)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Answer a;
    if (path == "/cgi/state.php" && method == "GET") return state();
    if (path == "/desc" && method == "GET") {
        Object::Ptr err = new Object, uk = new Object, root = new Object;
        for (const auto& e : kErrors) err->set(e.code, std::string(e.text));
        uk->set("err", err);
        root->set("uk", uk);
        a.body = json(root);
        return a;
    }
    if (path == "/cgi/tbl/Tax" && method == "GET") {
        Array::Ptr table = new Array;
        for (const auto& g : kTaxGroups) {
            Object::Ptr o = new Object;
            o->set("id", g.id);
            o->set("Prc", g.rate);
            o->set("Name", std::string(g.letter));
            table->add(o);
        }
        a.body = json(table);
        return a;
    }
    if (path == "/cgi/tbl/Fsk" && method == "GET") {
        Object::Ptr o = new Object;
        o->set("NumChk", s_->nextNo);
        o->set("NumZ", s_->nextZ - 1);
        a.body = json(o);
        return a;
    }
    if (path == "/cgi/chk") {
        if (method == "GET") return journal(query);
        if (method == "POST") return postDocument(body);
    }
    if (path == "/cgi/proc/printreport" && method == "GET") return report(query);
    if (path == "/cgi/proc/printfmreport" && method == "GET") return fmReport(query);
    if (path == "/cgi/proc/openbox" && (method == "GET" || method == "POST")) return drawer();
    if (path == "/cgi/scr" && (method == "GET" || method == "POST")) return screen(method, body);
    a = errorAnswer(RegisterError::UnknownDocument);
    a.status = 404;
    return a;
}

Answer Register::state()
{
    Object::Ptr o = new Object;
    o->set("model", config_.model);
    o->set("name", config_.name);
    o->set("serial", config_.serial);
    o->set("time", now());
    o->set("JrnTime", s_->shiftOpened ? s_->shiftOpened : now());
    o->set("chkId", s_->nextId - 1);
    o->set("currZ", s_->nextZ);
    o->set("IsWrk", s_->shiftOpened ? 1 : 0);
    return Answer{200, json(o)};
}

Answer Register::journal(const std::string& query)
{
    // "id=N": the records from id N on (at most 200).
    int64_t from = 1;
    if (query.compare(0, 3, "id=") == 0) {
        Poco::Int64 v = 0;
        if (!Poco::NumberParser::tryParse64(query.substr(3), v)) return errorAnswer(RegisterError::BadRequest);
        from = v < 1 ? 1 : v;
    }
    Array::Ptr list = new Array;
    for (const auto& record : s_->journal) {
        if (record->getValue<Poco::Int64>("id") < from) continue;
        list->add(record);
        if (list->size() >= 200) break;
    }
    return Answer{200, json(list)};
}

namespace {

// A copy of a JSON value with every number written as a string.
Var numbersAsStrings(const Var& v)
{
    if (v.type() == typeid(Object::Ptr)) {
        const Object::Ptr in = v.extract<Object::Ptr>();
        Object::Ptr out = new Object;
        for (const auto& kv : *in) out->set(kv.first, numbersAsStrings(kv.second));
        return out;
    }
    if (v.type() == typeid(Array::Ptr)) {
        const Array::Ptr in = v.extract<Array::Ptr>();
        Array::Ptr out = new Array;
        for (std::size_t i = 0; i < in->size(); ++i) out->add(numbersAsStrings(in->get(static_cast<unsigned>(i))));
        return out;
    }
    if (v.isNumeric() && !v.isBoolean()) return v.convert<std::string>();
    return v;
}

// The first `chars` characters of UTF-8 text.
std::string firstChars(const std::string& text, int chars)
{
    std::size_t i = 0;
    for (int n = 0; i < text.size() && n < chars; ++n) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    }
    return text.substr(0, i);
}

// A copy of a journal record with its item names cut and without "id", as asked.
Object::Ptr shapedRecord(const Object::Ptr& record, const Faults::Journal& f)
{
    Object::Ptr out = new Object;
    for (const auto& kv : *record) {
        if (kv.first == "id" && f.noId) continue;
        if (f.names > 0 && kv.second.type() == typeid(Array::Ptr)) {
            const Array::Ptr items = kv.second.extract<Array::Ptr>();
            Array::Ptr cut = new Array;
            for (std::size_t i = 0; i < items->size(); ++i) {
                const Object::Ptr e = items->getObject(static_cast<unsigned>(i));
                if (e && e->isObject("S") && e->getObject("S")->has("name")) {
                    Object::Ptr line = new Object(*e->getObject("S"));
                    line->set("name", firstChars(line->getValue<std::string>("name"), f.names));
                    Object::Ptr element = new Object;
                    element->set("S", line);
                    cut->add(element);
                } else {
                    cut->add(items->get(static_cast<unsigned>(i)));
                }
            }
            out->set(kv.first, cut);
            continue;
        }
        out->set(kv.first, kv.second);
    }
    return out;
}

} // namespace

Answer Register::journalAnswer(const std::string& query, const Faults::Journal& f)
{
    if (!f.any()) return handle("GET", "/cgi/chk", query, "");
    if (f.empty) return Answer{200, "[]"};
    int64_t from = 1;
    if (query.compare(0, 3, "id=") == 0) {
        Poco::Int64 v = 0;
        if (!Poco::NumberParser::tryParse64(query.substr(3), v)) return handle("GET", "/cgi/chk", query, "");
        from = v < 1 ? 1 : v;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    const std::size_t limit = f.page > 0 ? static_cast<std::size_t>(f.page) : 200;
    const int64_t low = f.stale ? std::max<int64_t>(1, from - 10) : from;
    const int64_t high = f.stale ? from - 1 : INT64_MAX;
    Array::Ptr list = new Array;
    Object::Ptr last;
    for (const auto& record : s_->journal) {
        const int64_t id = record->getValue<Poco::Int64>("id");
        if (id < low || id > high) continue;
        last = shapedRecord(record, f);
        list->add(last);
        if (list->size() >= limit) break;
    }
    if (f.huge > 0 && last)
        while (list->size() < static_cast<std::size_t>(f.huge)) list->add(last);
    return Answer{200, json(f.strings ? numbersAsStrings(list) : Var(list))};
}

// A document POSTed to "/cgi/chk": its root key and elements, and the register time it is
// booked at.
struct Register::Document {
    bool null = false;       // {}: the null receipt
    std::string kind;        // the root key: "F", "R", "P", "IO", "L"
    Array::Ptr elements;
    int64_t time = 0;
};

namespace {

// Reads a document: one object with a single member whose value is an array, or {}.
bool parseDocument(const std::string& body, Register::Document& doc, RegisterError& error)
{
    Object::Ptr root;
    try {
        Poco::JSON::Parser parser;
        const Var v = parser.parse(body);
        if (v.type() != typeid(Object::Ptr)) {
            error = RegisterError::BadRequest;
            return false;
        }
        root = v.extract<Object::Ptr>();
    } catch (const Poco::Exception&) {
        error = RegisterError::BadRequest;
        return false;
    }
    if (root->size() == 0) {
        doc.null = true;
        doc.elements = new Array;
        return true;
    }
    if (root->size() != 1) {
        error = RegisterError::UnknownDocument;
        return false;
    }
    doc.kind = root->begin()->first;
    if (!root->isArray(doc.kind)) {
        error = RegisterError::BadRequest;
        return false;
    }
    doc.elements = root->getArray(doc.kind);
    return true;
}

} // namespace

// A receipt while its elements are checked: the errors found, the sums so far and the
// tape lines of its body.
struct Register::Receipt {
    explicit Receipt(int cash) : cashType(cash) {}
    const int cashType;                 // payment type that counts as cash
    Array::Ptr errors = new Array;
    int64_t total = 0;
    std::map<int, int64_t> byGroup;     // line totals by tax group
    std::map<int, int64_t> payments;    // by payment type
    int lastGroup = 0;                  // the line a D element adjusts
    int64_t lastLine = 0;
    bool haveLine = false;
    std::ostringstream tape;

    bool ok() const { return errors->size() == 0; }
    void refuse(RegisterError error, const std::string& key = "", const std::string& value = "")
    {
        errors->add(errorItem(error, key, value));
    }
};

namespace {

using ReceiptDraft = Register::Receipt;

// S: a sale line. Its total is quantity (thousandths) x price (cents), rounded to cents
// half away from zero.
void addSaleLine(ReceiptDraft& r, const Object& f, std::size_t pos)
{
    const double qty = number(f, "qty"), price = number(f, "price");
    const int group = static_cast<int>(number(f, "tax"));
    const std::string name = f.has("name") ? f.get("name").convert<std::string>() : "";
    const int64_t product = std::llround(qty * 1000) * std::llround(price * 100);
    const int64_t sum = (product + (product >= 0 ? 500 : -500)) / 1000;
    if (qty <= 0 || price < 0 || sum < 0 || name.empty()) {
        r.refuse(RegisterError::BadNumber, "pos", std::to_string(pos));
        return;
    }
    const TaxGroup* g = findGroup(group);
    if (!g) {
        r.refuse(RegisterError::TaxGroupMissing, "tax", std::to_string(group));
        return;
    }
    r.total += sum;
    r.byGroup[group] += sum;
    r.lastGroup = group;
    r.lastLine = sum;
    r.haveLine = true;
    char qtyText[32];
    std::snprintf(qtyText, sizeof qtyText, "%.3f", qty);
    r.tape << "  " << padRight(name, 20) << "\n     " << qtyText << " x " << money(cents(price)) << " = " << money(sum)
           << " " << g->letter << "\n";
}

// D: a discount (negative) or markup of the line before it.
void addAdjustment(ReceiptDraft& r, const Object& f)
{
    const int64_t d = cents(number(f, "sum"));
    if (!r.haveLine || r.lastLine + d < 0) {
        r.refuse(RegisterError::DiscountTooLarge, "sum", money(d));
        return;
    }
    r.total += d;
    r.byGroup[r.lastGroup] += d;
    r.lastLine += d;
    r.tape << "     " << (d < 0 ? "ЗНИЖКА" : "НАДБАВКА") << "  " << money(d) << "\n";
}

// P: a payment of type 1 to 4.
void addPayment(ReceiptDraft& r, const Object& f)
{
    const int type = static_cast<int>(number(f, "no"));
    const int64_t sum = cents(number(f, "sum"));
    if (type < 1 || type > 4 || sum <= 0) {
        r.refuse(RegisterError::BadPaymentType, "no", std::to_string(type));
        return;
    }
    r.payments[type] += sum;
    r.tape << "  ОПЛАТА " << type << (type == r.cashType ? " ГОТІВКА" : "") << "  " << money(sum) << "\n";
}

std::string member(const Object& f, const char* key) { return f.has(key) ? f.get(key).convert<std::string>() : std::string(); }

// Checks every element in order; each refusal names the element's position or value.
void readElements(ReceiptDraft& r, const Array& elements)
{
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const std::size_t pos = i + 1;
        const Object::Ptr e = elements.getObject(static_cast<unsigned>(i));
        if (e.isNull() || e->size() != 1 || !e->isObject(e->begin()->first)) {
            r.refuse(RegisterError::UnknownDocument, "pos", std::to_string(pos));
            continue;
        }
        const std::string key = e->begin()->first;
        const Object& f = *e->getObject(key);
        try {
            if (key == "S") addSaleLine(r, f, pos);
            else if (key == "D") addAdjustment(r, f);
            else if (key == "P") addPayment(r, f);
            else if (key == "N") r.tape << "  " << member(f, "cm") << "\n";
            else if (key == "BC") r.tape << "  ||| " << member(f, "code") << " |||\n";
            else r.refuse(RegisterError::UnknownDocument, "pos", std::to_string(pos));
        } catch (const Poco::Exception&) {
            r.refuse(RegisterError::BadNumber, "pos", std::to_string(pos));
        }
    }
}

} // namespace

std::string Register::documentKind(const std::string& body)
{
    Document doc;
    RegisterError error = RegisterError::BadRequest;
    if (!parseDocument(body, doc, error)) return std::string();
    return doc.null ? "{}" : doc.kind;
}

Answer Register::postDocument(const std::string& body)
{
    Document doc;
    RegisterError error = RegisterError::BadRequest;
    if (!parseDocument(body, doc, error)) return errorAnswer(error);
    doc.time = now();
    if (doc.null) return postNullReceipt(doc);
    if (doc.kind == "L") return postCopy();
    if (doc.kind == "IO") return postCash(doc);
    if (doc.kind == "F" || doc.kind == "R" || doc.kind == "P") return postReceipt(doc);
    return errorAnswer(RegisterError::UnknownDocument);
}

std::string Register::tapeHeader() const { return "  " + config_.name + "  ЗН " + config_.serial + "\n"; }

int64_t Register::record(const std::string& kind, const Var& content, int32_t no, int64_t time)
{
    Object::Ptr r = new Object;
    const int64_t id = s_->nextId++;
    r->set("id", id);
    r->set("no", no);
    r->set("time", time);
    r->set(kind, content);
    s_->journal.push_back(r);
    while (s_->journal.size() > kJournalLimit) s_->journal.pop_front();
    if (!s_->shiftOpened) s_->shiftOpened = time;
    return id;
}

Answer Register::postNullReceipt(const Document& doc)
{
    const int32_t no = s_->nextNo++;
    const int64_t id = record("F", doc.elements, no, doc.time);
    ++s_->receipts;
    std::ostringstream tape;
    tape << tapeHeader() << "  НУЛЬОВИЙ ЧЕК\n  СУМА                 0.00\n  ЧЕК №" << no << "  " << timeText(doc.time) << "\n";
    s_->lastReceiptTape = tape.str();
    tape_.print(tape.str());
    save();
    return booked(id, no);
}

Answer Register::postCopy()
{
    if (s_->lastReceiptTape.empty()) return errorAnswer(RegisterError::NoReceiptToCopy);
    tape_.print("  *** КОПІЯ ***\n" + s_->lastReceiptTape + "  *** КОПІЯ ***\n");
    return Answer{200, "{}"};
}

// Cash in (positive sums) or out (negative); the drawer never goes below zero.
Answer Register::postCash(const Document& doc)
{
    int64_t total = 0;
    for (std::size_t i = 0; i < doc.elements->size(); ++i) {
        const Object::Ptr e = doc.elements->getObject(static_cast<unsigned>(i));
        if (e.isNull() || !e->isObject("IO")) return errorAnswer(RegisterError::UnknownDocument);
        try {
            total += cents(number(*e->getObject("IO"), "sum"));
        } catch (const Poco::Exception&) {
            return errorAnswer(RegisterError::BadNumber);
        }
    }
    if (s_->cash + total < 0) {
        Array::Ptr errors = new Array;
        errors->add(errorItem(RegisterError::NotEnoughCash, "cash", money(s_->cash)));
        return errorList(errors);
    }
    s_->cash += total;
    const int64_t id = record("IO", doc.elements, s_->nextNo, doc.time);
    std::ostringstream tape;
    tape << tapeHeader() << (total >= 0 ? "  СЛУЖБОВЕ ВНЕСЕННЯ" : "  СЛУЖБОВА ВИДАЧА") << "\n  СУМА  "
         << money(total < 0 ? -total : total) << "\n  В СКРИНЬЦІ  " << money(s_->cash) << "\n  " << timeText(doc.time)
         << "\n";
    tape_.print(tape.str());
    save();
    return Answer{200, "{\"id\":" + std::to_string(id) + "}"};
}

Answer Register::postReceipt(const Document& doc)
{
    const bool family707 = config_.model.find("707") != std::string::npos;
    Receipt r(family707 ? 1 : 4);
    const std::string& kind = doc.kind;
    r.tape << tapeHeader() << (kind == "F" ? "  ПРОДАЖ\n" : kind == "R" ? "  ПОВЕРНЕННЯ\n" : "  НЕФІСКАЛЬНИЙ ЧЕК\n");
    readElements(r, *doc.elements);
    if (r.ok() && kind != "P") settle(kind, r);
    if (!r.ok()) return errorList(r.errors);

    const int32_t no = s_->nextNo;
    if (kind != "P") {
        ++s_->nextNo;
        ++s_->receipts;
    }
    const int64_t id = record(kind, doc.elements, no, doc.time);
    r.tape << "  " << (kind == "P" ? "" : "ЧЕК №" + std::to_string(no) + "  ") << timeText(doc.time) << "\n";
    if (kind != "P") s_->lastReceiptTape = r.tape.str();
    tape_.print(r.tape.str());
    save();
    return booked(id, no);
}

// A fiscal receipt's payments: cash when none was given; they must cover the total, change
// comes only from cash, and a return can't pay out more cash than the drawer holds. When
// they do, the receipt is booked into the shift totals and the drawer.
void Register::settle(const std::string& kind, Receipt& r)
{
    if (!r.haveLine) {
        r.refuse(RegisterError::EmptyReceipt);
        return;
    }
    auto& payments = r.payments;
    if (payments.empty()) payments[r.cashType] = r.total;
    int64_t paidTotal = 0;
    for (const auto& p : payments) paidTotal += p.second;
    const int64_t change = paidTotal - r.total;
    const int64_t cashPaid = payments.count(r.cashType) ? payments[r.cashType] : 0;
    if (change < 0 || change > cashPaid) r.refuse(RegisterError::PaymentShort, "sum", money(r.total));
    else if (kind == "R" && s_->cash < cashPaid - change)
        r.refuse(RegisterError::NotEnoughCash, "cash", money(s_->cash));
    if (!r.ok()) return;

    payments[r.cashType] = cashPaid - change;
    if (payments[r.cashType] == 0) payments.erase(r.cashType);
    const int sign = kind == "F" ? 1 : -1;
    s_->cash += sign * (cashPaid - change);
    for (const auto& g : r.byGroup) (kind == "F" ? s_->sales : s_->returns)[g.first] += g.second;
    for (const auto& p : payments) s_->paid[p.first] += sign * p.second;
    r.tape << "  СУМА  " << money(r.total) << "\n";
    if (change > 0) r.tape << "  РЕШТА  " << money(change) << "\n";
    for (const auto& g : r.byGroup) {
        const TaxGroup* tg = findGroup(g.first);
        const int64_t tax = std::llround(static_cast<double>(g.second) * tg->rate / (100 + tg->rate));
        r.tape << "  ПДВ " << tg->letter << " " << tg->rate << "%  " << money(tax) << "\n";
    }
}

Answer Register::report(const std::string& query)
{
    std::ostringstream tape;
    const std::string header = tapeHeader();
    auto totals = [&]() {
        for (const auto& g : kTaxGroups) {
            const int64_t sale = s_->sales.count(g.id) ? s_->sales[g.id] : 0;
            const int64_t ret = s_->returns.count(g.id) ? s_->returns[g.id] : 0;
            tape << "  " << g.letter << " " << g.rate << "%  ПРОДАЖ " << money(sale) << "  ПОВЕРН " << money(ret) << "\n";
        }
        for (const auto& p : s_->paid) tape << "  ОПЛАТА " << p.first << "  " << money(p.second) << "\n";
        tape << "  ЧЕКІВ " << s_->receipts << "  В СКРИНЬЦІ " << money(s_->cash) << "\n";
    };
    const int64_t t = now();
    if (query == "10") {
        tape << header << "  X-ЗВІТ\n";
        totals();
    } else if (query == "0") {
        const int32_t z = s_->nextZ++;
        tape << header << "  Z-ЗВІТ №" << z << "\n";
        totals();
        Object::Ptr content = new Object;
        content->set("no", z);
        content->set("receipts", s_->receipts);
        record("Z", content, s_->nextNo, t);
        s_->sales.clear();
        s_->returns.clear();
        s_->paid.clear();
        s_->receipts = 0;
        s_->shiftOpened = 0;
    } else if (query == "20" || query == "21") {
        tape << header << (query == "20" ? "  X-ЗВІТ ПО ТОВАРАХ\n" : "  Z-ЗВІТ ПО ТОВАРАХ\n");
    } else {
        return errorAnswer(RegisterError::UnknownReport);
    }
    tape << "  " << timeText(t) << "\n";
    tape_.print(tape.str());
    save();
    return Answer{200, "{}"};
}

Answer Register::fmReport(const std::string& query)
{
    Poco::StringTokenizer parts(query, "&");
    if (parts.count() != 5) return errorAnswer(RegisterError::BadReportParameters);
    int kind = 0;
    if (!Poco::NumberParser::tryParse(parts[0], kind) || kind < 1 || kind > 4) return errorAnswer(RegisterError::BadReportParameters);
    std::string from, to;
    if (kind == 1 || kind == 3) {
        from = parts[1];
        to = parts[2];
        if (from.empty() || to.empty()) return errorAnswer(RegisterError::BadReportParameters);
    } else {
        int a = 0, b = 0;
        if (!Poco::NumberParser::tryParse(parts[3], a) || !Poco::NumberParser::tryParse(parts[4], b) || a < 1 || a > b)
            return errorAnswer(RegisterError::BadReportParameters);
        from = "Z" + std::to_string(a);
        to = "Z" + std::to_string(b);
    }
    tape_.print(tapeHeader() + "  " + (kind <= 2 ? "ПОВНИЙ" : "СКОРОЧЕНИЙ") +
                " ЗВІТ ФП " + from + " - " + to + "\n  " + timeText(now()) + "\n");
    return Answer{200, "{}"};
}

Answer Register::drawer()
{
    tape_.print("  [скринька відкрита]\n");
    return Answer{200, "{}"};
}

Answer Register::screen(const std::string& method, const std::string& body)
{
    if (method == "GET") {
        Object::Ptr chars = new Object, root = new Object;
        chars->set("w", config_.displayWidth);
        chars->set("h", kDisplayLines);
        root->set("chars", chars);
        Array::Ptr lines = new Array;
        for (const auto& l : s_->display) lines->add(l.second);
        root->set("lines", lines);
        return Answer{200, json(root)};
    }
    try {
        Poco::JSON::Parser parser;
        const Var v = parser.parse(body);
        if (v.type() != typeid(Array::Ptr)) return errorAnswer(RegisterError::BadDisplayData);
        const Array::Ptr list = v.extract<Array::Ptr>();
        auto display = s_->display;
        for (std::size_t i = 0; i < list->size(); ++i) {
            const Object::Ptr line = list->getObject(static_cast<unsigned>(i));
            if (line.isNull()) return errorAnswer(RegisterError::BadDisplayData);
            const int id = line->getValue<int>("id");
            if (id < 1 || id > kDisplayLines) return errorAnswer(RegisterError::BadDisplayData);
            display[id - 1] = {line->has("align") ? line->getValue<std::string>("align") : "l",
                               line->has("str") ? line->getValue<std::string>("str") : ""};
        }
        s_->display = display;
    } catch (const Poco::Exception&) {
        return errorAnswer(RegisterError::BadDisplayData);
    }
    std::string out = "  +" + std::string(config_.displayWidth, '-') + "+\n";
    for (const auto& l : s_->display) out += "  |" + padRight(l.second, config_.displayWidth) + "|\n";
    out += "  +" + std::string(config_.displayWidth, '-') + "+\n";
    tape_.printDisplay(out);
    return Answer{200, "{}"};
}

void Register::load()
{
    if (config_.stateDir.empty()) return;
    Poco::File(config_.stateDir).createDirectories();
    const std::string path = config_.stateDir + "/register.json";
    if (!Poco::File(path).exists()) return;
    Poco::FileInputStream in(path);
    Poco::JSON::Parser parser;
    const Object::Ptr o = parser.parse(in).extract<Object::Ptr>();
    s_->nextId = o->getValue<Poco::Int64>("nextId");
    s_->nextNo = o->getValue<int>("nextNo");
    s_->nextZ = o->getValue<int>("nextZ");
    s_->shiftOpened = o->getValue<Poco::Int64>("shiftOpened");
    s_->cash = o->getValue<Poco::Int64>("cash");
    s_->receipts = o->getValue<int>("receipts");
    s_->lastReceiptTape = o->getValue<std::string>("lastReceiptTape");
    auto readMap = [&](const char* key, std::map<int, int64_t>& m) {
        const Object::Ptr src = o->getObject(key);
        if (src)
            for (const auto& kv : *src) m[std::stoi(kv.first)] = kv.second.convert<Poco::Int64>();
    };
    readMap("sales", s_->sales);
    readMap("returns", s_->returns);
    readMap("paid", s_->paid);
    const Array::Ptr journal = o->getArray("journal");
    if (journal)
        for (std::size_t i = 0; i < journal->size(); ++i) s_->journal.push_back(journal->getObject(static_cast<unsigned>(i)));
}

void Register::save()
{
    if (config_.stateDir.empty()) return;
    Object::Ptr o = new Object;
    o->set("nextId", s_->nextId);
    o->set("nextNo", s_->nextNo);
    o->set("nextZ", s_->nextZ);
    o->set("shiftOpened", s_->shiftOpened);
    o->set("cash", s_->cash);
    o->set("receipts", s_->receipts);
    o->set("lastReceiptTape", s_->lastReceiptTape);
    auto writeMap = [&](const char* key, const std::map<int, int64_t>& m) {
        Object::Ptr dst = new Object;
        for (const auto& kv : m) dst->set(std::to_string(kv.first), kv.second);
        o->set(key, dst);
    };
    writeMap("sales", s_->sales);
    writeMap("returns", s_->returns);
    writeMap("paid", s_->paid);
    Array::Ptr journal = new Array;
    for (const auto& r : s_->journal) journal->add(r);
    o->set("journal", journal);
    const std::string path = config_.stateDir + "/register.json";
    {
        Poco::FileOutputStream out(path + ".tmp");
        Poco::JSON::Stringifier::stringify(o, out);
    }
    Poco::File(path + ".tmp").renameTo(path);
}

namespace {

// A display line as the register shows it: cut to the width, aligned within it.
std::string displayLine(const std::string& text, const std::string& align, std::size_t width)
{
    std::vector<std::string> chars;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = 1;
        while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
        chars.push_back(text.substr(i, n));
        i += n;
    }
    if (chars.size() > width) chars.resize(width);
    const std::size_t room = width - chars.size();
    const std::size_t left = align == "r" ? room : align == "c" ? room / 2 : 0;
    std::string out(left, ' ');
    for (const auto& c : chars) out += c;
    return out + std::string(room - left, ' ');
}

} // namespace

std::string Register::consoleState()
{
    std::lock_guard<std::mutex> lock(mutex_);
    const State& s = *s_;
    const bool family707 = config_.model.find("707") != std::string::npos;
    const int cashType = family707 ? 1 : 4;

    Array::Ptr lines = new Array;
    for (const auto& l : s.display) lines->add(displayLine(l.second, l.first, static_cast<std::size_t>(config_.displayWidth)));
    Object::Ptr display = new Object(Poco::JSON_PRESERVE_KEY_ORDER);
    display->set("width", config_.displayWidth);
    display->set("lines", lines);

    Array::Ptr groups = new Array;
    for (const auto& g : kTaxGroups) {
        Object::Ptr row = new Object(Poco::JSON_PRESERVE_KEY_ORDER);
        row->set("group", std::to_string(g.id) + " " + g.letter);
        row->set("rate %", g.rate);
        row->set("sales", money(s.sales.count(g.id) ? s.sales.at(g.id) : 0));
        row->set("returns", money(s.returns.count(g.id) ? s.returns.at(g.id) : 0));
        groups->add(row);
    }
    Array::Ptr payments = new Array;
    for (const auto& p : s.paid) {
        Object::Ptr row = new Object(Poco::JSON_PRESERVE_KEY_ORDER);
        row->set("type", std::to_string(p.first) + (p.first == cashType ? " готівка" : ""));
        row->set("sum", money(p.second));
        payments->add(row);
    }
    Object::Ptr fiscal = new Object(Poco::JSON_PRESERVE_KEY_ORDER);
    fiscal->set("Clock", timeText(now()));
    fiscal->set("Shift open", s.shiftOpened != 0);
    if (s.shiftOpened) fiscal->set("Shift opened", timeText(s.shiftOpened));
    fiscal->set("Receipt open", "no (a receipt comes whole, in one request)");
    fiscal->set("Receipts in the shift", s.receipts);
    fiscal->set("Next receipt", s.nextNo);
    fiscal->set("Next Z report", s.nextZ);
    fiscal->set("Last journal record", s.nextId - 1);
    fiscal->set("Cash in the drawer", money(s.cash));
    fiscal->set("Totals by tax group", groups);
    fiscal->set("Payments by type", payments);

    Object::Ptr root = new Object(Poco::JSON_PRESERVE_KEY_ORDER);
    root->set("title", "oltra-netsim: " + config_.model + " «" + config_.name + "», ЗН " + config_.serial);
    root->set("display", display);
    root->set("logo", Var());
    root->set("fiscal", fiscal);
    return json(root);
}

Tape::Tape(const std::string& target)
{
    if (target == "-") {
        file_ = stdout;
    } else if (!target.empty()) {
        file_ = std::fopen(target.c_str(), "ab");
        if (!file_) throw Poco::OpenFileException(target);
        own_ = true;
    }
}

Tape::~Tape()
{
    if (own_ && file_) std::fclose(file_);
}

void Tape::print(const std::string& text)
{
    write(text);
    std::function<void(const std::string&)> listener;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        listener = listener_;
    }
    if (listener) listener(text);
}

void Tape::printDisplay(const std::string& text) { write(text); }

void Tape::setListener(std::function<void(const std::string&)> listener)
{
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = std::move(listener);
}

void Tape::write(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_) return;
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
}

} // namespace netsim
