// The register's reports (X, Z, by items, from the fiscal memory) and the cash drawer.
#include "simulators/netreg/register_state.h"

#include <Poco/NumberParser.h>
#include <Poco/StringTokenizer.h>

#include <sstream>

namespace netsim {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;
using namespace fiscal;

Answer Register::report(const std::string& query)
{
    std::ostringstream tape;
    const std::string header = tapeHeader();
    auto totals = [&]() {
        for (const auto& g : kTaxGroups) {
            const int64_t sale = s_->sales.count(g.id) ? s_->sales[g.id] : 0;
            const int64_t ret = s_->returns.count(g.id) ? s_->returns[g.id] : 0;
            tape << "  " << g.letter << " " << g.rate << "%  ПРОДАЖ " << money(sale) << "  ПОВЕРН " << money(ret)
                 << "\n";
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
    if (!Poco::NumberParser::tryParse(parts[0], kind) || kind < 1 || kind > 4)
        return errorAnswer(RegisterError::BadReportParameters);
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
    tape_.print(tapeHeader() + "  " + (kind <= 2 ? "ПОВНИЙ" : "СКОРОЧЕНИЙ") + " ЗВІТ ФП " + from + " - " + to + "\n  " +
                timeText(now()) + "\n");
    return Answer{200, "{}"};
}

Answer Register::drawer()
{
    tape_.print("  [скринька відкрита]\n");
    return Answer{200, "{}"};
}

} // namespace netsim
