#include "simulators/netreg/register_state.h"

#include <Poco/Exception.h>
#include <Poco/JSON/Stringifier.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <sstream>

#ifdef _WIN32
// Windows' C library names the UTC conversion differently.
namespace {
std::tm* gmtime_r(const std::time_t* t, std::tm* out) { return gmtime_s(out, t) == 0 ? out : nullptr; }
} // namespace
#endif

namespace netsim {
namespace fiscal {

const std::vector<ErrorEntry> kErrors = {
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

const std::vector<TaxGroup> kTaxGroups = {{1, 20, "А"}, {2, 7, "Б"}, {3, 0, "В"}, {4, 5, "Г"}};

const TaxGroup* findGroup(int id)
{
    for (const auto& g : kTaxGroups)
        if (g.id == id) return &g;
    return nullptr;
}

Family familyOf(const std::string& model)
{
    return model.find("707") != std::string::npos ? Family::Series707 : Family::Standard;
}

int cashType(Family family) { return family == Family::Series707 ? 1 : 4; }

std::string json(const Poco::Dynamic::Var& v)
{
    std::ostringstream out;
    Poco::JSON::Stringifier::stringify(v, out);
    return out.str();
}

Answer errorAnswer(RegisterError error)
{
    return Answer{200, "{\"err\":" + json(Poco::Dynamic::Var(code(error))) + "}"};
}

Answer errorList(const Poco::JSON::Array::Ptr& errors)
{
    Poco::JSON::Object::Ptr root = new Poco::JSON::Object;
    root->set("err", errors);
    return Answer{200, json(root)};
}

Answer booked(int64_t id, int32_t no)
{
    return Answer{200, "{\"id\":" + std::to_string(id) + ",\"no\":" + std::to_string(no) + "}"};
}

Poco::JSON::Object::Ptr errorItem(RegisterError error, const std::string& key, const std::string& value)
{
    Poco::JSON::Object::Ptr e = new Poco::JSON::Object;
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
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%d.%m.%Y %H:%M:%S", &tm);
    return buf;
}

double number(const Poco::JSON::Object& o, const std::string& key)
{
    const Poco::Dynamic::Var v = o.get(key);
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

} // namespace fiscal
} // namespace netsim
