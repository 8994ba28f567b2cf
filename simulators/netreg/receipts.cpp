// The documents POSTed to "/cgi/chk" and the register's rules for them: receipts (sale,
// return, non-fiscal) checked element by element and settled, the null receipt, the copy,
// and cash in and out.
#include "simulators/netreg/register_state.h"

#include <Poco/Exception.h>
#include <Poco/JSON/Parser.h>

#include <cmath>
#include <cstdio>
#include <sstream>

namespace netsim {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;
using namespace fiscal;

// booked at.
struct Register::Document {
    bool null = false; // {}: the null receipt
    std::string kind;  // the root key: "F", "R", "P", "IO", "L"
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
    const int cashType; // payment type that counts as cash
    Array::Ptr errors = new Array;
    int64_t total = 0;
    std::map<int, int64_t> byGroup;  // line totals by tax group
    std::map<int, int64_t> payments; // by payment type
    int lastGroup = 0;               // the line a D element adjusts
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

std::string member(const Object& f, const char* key)
{
    return f.has(key) ? f.get(key).convert<std::string>() : std::string();
}

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

Answer Register::postNullReceipt(const Document& doc)
{
    const int32_t no = s_->nextNo++;
    const int64_t id = record("F", doc.elements, no, doc.time);
    ++s_->receipts;
    std::ostringstream tape;
    tape << tapeHeader() << "  НУЛЬОВИЙ ЧЕК\n  СУМА                 0.00\n  ЧЕК №" << no << "  " << timeText(doc.time)
         << "\n";
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
    Receipt r(cashType(familyOf(config_.model)));
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

} // namespace netsim
