// The register's books and its report and query commands.
//
// A shift begins with the first receipt or safe operation after a Z report (or is open
// at start, as the extended status says). Each closed receipt adds its sums by tax group
// and pay type, its markups and discounts and its counter to the shift, and its lines to
// the article table; cancelled receipts add nothing. The X report prints the shift, the
// Z report prints it, keeps it in fiscal memory under the next number and closes the
// shift. Periodic reports print the kept Z reports by date or by number; the article
// report prints the article table. The query commands answer with the same books in the
// layouts the driver decodes.
#include <algorithm>
#include <cinttypes>
#include <cstring>

#include "simulators/serialreg/simulator.h"
#include "simulators/serialreg/tape.h"

namespace serialsim {

namespace {

constexpr std::time_t kShiftLimit = 24 * 3600; // a longer shift needs a Z report
constexpr std::time_t kSendLimit = 72 * 3600;  // data unsent longer: the register blocks
constexpr std::time_t kEpoch = 946684800;      // 2000-01-01 00:00:00, the register's epoch
constexpr int kFirstGroup = 128;

std::tm Fields(std::time_t t)
{
    std::tm tm{};
    gmtime_r(&t, &tm);
    return tm;
}

// yyyymmdd of register time, for comparing dates.
int DateKey(std::time_t t)
{
    const std::tm tm = Fields(t);
    return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

// yyyymmdd of a BCD date dd mm yy in a request, or -1 when it is no date.
int DateKey(const Bytes& r, std::size_t at)
{
    const int d = FromBcd(r[at]), m = FromBcd(r[at + 1]), y = FromBcd(r[at + 2]);
    if (d < 1 || d > 31 || m < 1 || m > 12 || y < 0) return -1;
    return (2000 + y) * 10000 + m * 100 + d;
}

std::string DateText(int key) { return Format("%02d.%02d.%02d", key % 100, key / 100 % 100, key / 10000 % 100); }

void Add(Totals& to, const Totals& from)
{
    to.receipts += from.receipts;
    for (int g = 0; g < 6; ++g) to.byGroup[g] += from.byGroup[g];
    for (int p = 0; p < 10; ++p) to.byPay[p] += from.byPay[p];
    to.markup += from.markup;
    to.discount += from.discount;
}

void Add(Shift& to, const Shift& from)
{
    Add(to.sales, from.sales);
    Add(to.refunds, from.refunds);
    to.safeIn += from.safeIn;
    to.safeOut += from.safeOut;
}

// Count in thousandths, shown with `decimals` places.
std::string Quantity(std::int64_t milli, int decimals)
{
    std::int64_t scale = 1;
    for (int i = decimals; i < 3; ++i) scale *= 10;
    const std::int64_t v = milli / scale;
    if (decimals == 0) return Format("%" PRId64, v);
    std::int64_t d = 1;
    for (int i = 0; i < decimals; ++i) d *= 10;
    return Format("%" PRId64 ".%0*" PRId64, v / d, decimals, v % d);
}

std::uint32_t Counter(std::int64_t milli, int decimals)
{
    std::int64_t v = milli;
    for (int i = decimals; i < 3; ++i) v /= 10;
    return static_cast<std::uint32_t>(std::min<std::int64_t>(v, 0xFFFFFF));
}

// Receipt counter: 4 packed BCD digits, low pair first.
void PutCounter(Bytes& out, int n)
{
    n %= 10000;
    out.push_back(Bcd(n % 100));
    out.push_back(Bcd(n / 100));
}

std::string Rate(int basisPoints) { return Format("%d.%02d%%", basisPoints / 100, basisPoints % 100); }

// One side of a shift on the tape; the tax lines use the current tax table.
void PrintTotals(RegisterState& st, const char* title, const Totals& t)
{
    const TaxTable& tax = st.books.tax;
    Print(st, title);
    Print(st, Columns("ЧЕКІВ", Format("%d", t.receipts)));
    for (int g = 0; g < 6; ++g) {
        if (g >= tax.count && t.byGroup[g] == 0) continue;
        Print(st, Columns(std::string("ОБІГ ") + kGroupLetter[g], Money(t.byGroup[g])));
        if (g < tax.count && tax.rates[g] > 0) {
            const std::int64_t v = t.byGroup[g] * tax.rates[g];
            const std::int64_t due = (v + (10000 + tax.rates[g]) / 2) / (10000 + tax.rates[g]);
            Print(st, Columns(std::string("  ПДВ ") + kGroupLetter[g] + " " + Rate(tax.rates[g]), Money(due)));
        }
    }
    if (t.markup) Print(st, Columns("НАДБАВКИ", Money(t.markup)));
    if (t.discount) Print(st, Columns("ЗНИЖКИ", Money(t.discount)));
    for (int p = 0; p < 10; ++p)
        if (t.byPay[p]) Print(st, Columns(PayName(p), Money(t.byPay[p])));
}

void PrintShift(RegisterState& st, const Shift& s)
{
    PrintTotals(st, "ПРОДАЖ", s.sales);
    Print(st, kThinRule);
    PrintTotals(st, "ПОВЕРНЕННЯ", s.refunds);
    Print(st, kThinRule);
    Print(st, Columns("СЛУЖБОВЕ ВНЕСЕННЯ", Money(s.safeIn)));
    Print(st, Columns("СЛУЖБОВА ВИДАЧА", Money(s.safeOut)));
}

// X report: password (2).
Answer PrintX(RegisterState& st, const Bytes&, const Bytes&)
{
    if (st.receipt.open) return Error(kErrOpen);
    const Shift& s = st.books.shift;
    Print(st, kRule);
    Print(st, "X-ЗВІТ");
    Print(st, Stamp(st.Now()));
    Print(st, st.ShiftOpen() ? "ЗМІНА ВІДКРИТА " + Stamp(s.opened) : std::string("ЗМІНА ЗАКРИТА"));
    Print(st, kThinRule);
    PrintShift(st, s);
    Print(st, Columns("В СЕЙФІ", Money(st.safe)));
    Print(st, kRule);
    return Answer{};
}

// Z report: password (2). Answer: the report's number (4).
Answer PrintZ(RegisterState& st, const Bytes&, const Bytes&)
{
    if (st.receipt.open) return Error(kErrOpen);
    if (!st.ShiftOpen()) return Error(kErrNoReceipts);
    Books& b = st.books;
    ZRecord z;
    z.number = static_cast<int>(b.zReports.size()) + 1;
    z.when = st.Now();
    z.shift = b.shift;
    Print(st, kRule);
    Print(st, Format("Z-ЗВІТ No %d", z.number));
    Print(st, Stamp(z.when));
    Print(st, "ЗМІНА ВІДКРИТА " + Stamp(b.shift.opened));
    Print(st, kThinRule);
    PrintShift(st, b.shift);
    Print(st, Columns("В СЕЙФІ", Money(st.safe)));
    Print(st, "ЗМІНУ ЗАКРИТО");
    Print(st, kRule);
    b.zReports.push_back(z);
    b.shift = Shift{};
    b.shift.opened = z.when;
    st.extStatus = static_cast<std::uint8_t>(st.extStatus & ~0x20);
    Answer a;
    Put32(a.data, z.number);
    return a;
}

std::string ArticleLabel(const ArticleKey& k, const ArticleRecord& a)
{
    std::string s = k.second ? Format("#%u.%u ", k.first, k.second) : Format("#%u ", k.first);
    return s + Utf8(a.name);
}

// Article report: password (2), and optionally the range: from code (4), from extended
// code (2), to code (4), to extended code (2).
Answer PrintArticles(RegisterState& st, const Bytes& r, const Bytes&)
{
    if (r.size() != 3 && r.size() != 15) return Error(kErrLength);
    if (st.receipt.open) return Error(kErrOpen);
    ArticleKey from{0, 0}, to{0xFFFFFFFFu, 0xFFFF};
    if (r.size() == 15) {
        from = {U32(r, 3), U16(r, 7)};
        to = {U32(r, 9), U16(r, 13)};
    }
    Print(st, kRule);
    Print(st, "ЗВІТ ПО ТОВАРАХ");
    Print(st, Stamp(st.Now()));
    Print(st, kThinRule);
    int shown = 0;
    for (const auto& [key, a] : st.books.articles) {
        if (key < from || to < key) continue;
        ++shown;
        Print(st, ArticleLabel(key, a));
        Print(st, Columns(std::string("  ЦІНА ") + kGroupLetter[a.group - kFirstGroup], Money(a.price)));
        Print(st, Columns("  ПРОДАНО " + Quantity(a.sold, a.decimals), Money(a.soldSum)));
        if (a.refunded || a.refundedSum)
            Print(st, Columns("  ПОВЕРНЕНО " + Quantity(a.refunded, a.decimals), Money(a.refundedSum)));
    }
    Print(st, shown ? Columns("ТОВАРІВ", Format("%d", shown)) : std::string("НЕМАЄ ДАНИХ"));
    Print(st, kRule);
    return Answer{};
}

// Kept Z reports one after another, then their sum.
void PrintZList(RegisterState& st, const std::vector<const ZRecord*>& list, bool full)
{
    Shift sum;
    for (const ZRecord* z : list) {
        Add(sum, z->shift);
        if (!full) continue;
        Print(st, Columns(Format("Z-ЗВІТ No %d", z->number), Stamp(z->when)));
        for (int g = 0; g < 6; ++g)
            if (z->shift.sales.byGroup[g])
                Print(st, Columns(std::string("  ОБІГ ") + kGroupLetter[g], Money(z->shift.sales.byGroup[g])));
        for (int g = 0; g < 6; ++g)
            if (z->shift.refunds.byGroup[g])
                Print(st, Columns(std::string("  ПОВЕРНЕННЯ ") + kGroupLetter[g], Money(z->shift.refunds.byGroup[g])));
    }
    if (list.empty()) {
        Print(st, "НЕМАЄ ДАНИХ");
    } else {
        if (full) Print(st, kThinRule);
        Print(st, Columns("Z-ЗВІТІВ", Format("%zu", list.size())));
        Print(st, "РАЗОМ");
        PrintShift(st, sum);
    }
    Print(st, kRule);
}

// Periodic report by date: password (2), from (3, BCD dd mm yy), to (3); the full form
// lists every Z report, the short one (0x1A) only their sum.
Answer PrintByDate(RegisterState& st, const Bytes& r, bool full)
{
    if (r.size() != 9) return Error(kErrLength);
    const int from = DateKey(r, 3), to = DateKey(r, 6);
    if (from < 0 || to < 0 || from > to) return Error(kErrDate);
    if (st.receipt.open) return Error(kErrOpen);
    std::vector<const ZRecord*> list;
    for (const auto& z : st.books.zReports) {
        const int d = DateKey(z.when);
        if (d >= from && d <= to) list.push_back(&z);
    }
    Print(st, kRule);
    Print(st, full ? "ПЕРІОДИЧНИЙ ЗВІТ" : "ПЕРІОДИЧНИЙ ЗВІТ СКОРОЧЕНИЙ");
    Print(st, "З " + DateText(from) + " ПО " + DateText(to));
    Print(st, kThinRule);
    PrintZList(st, list, full);
    return Answer{};
}

Answer ByDateFull(RegisterState& st, const Bytes& r, const Bytes&) { return PrintByDate(st, r, true); }
Answer ByDateShort(RegisterState& st, const Bytes& r, const Bytes&) { return PrintByDate(st, r, false); }

// Periodic report by number: password (2), first (2), last (2).
Answer PrintById(RegisterState& st, const Bytes& r, const Bytes&)
{
    if (r.size() != 7) return Error(kErrLength);
    if (st.receipt.open) return Error(kErrOpen);
    const int from = U16(r, 3), to = U16(r, 5);
    std::vector<const ZRecord*> list;
    for (const auto& z : st.books.zReports)
        if (z.number >= from && z.number <= to) list.push_back(&z);
    Print(st, kRule);
    Print(st, "ПЕРІОДИЧНИЙ ЗВІТ");
    Print(st, Format("Z-ЗВІТИ З No %d ПО No %d", from, to));
    Print(st, kThinRule);
    PrintZList(st, list, true);
    return Answer{};
}

void PutTotals(Bytes& d, const Totals& t)
{
    for (auto v : t.byGroup) Put32(d, v);
    for (auto v : t.byPay) Put32(d, v);
}

// Running totals of the shift: 156 bytes.
Answer XTotals(RegisterState& st, const Bytes&, const Bytes&)
{
    const Shift& s = st.books.shift;
    Answer a;
    Bytes& d = a.data;
    PutCounter(d, s.sales.receipts);
    PutTotals(d, s.sales);
    Put32(d, s.sales.markup);
    Put32(d, s.sales.discount);
    Put32(d, s.safeIn);
    PutCounter(d, s.refunds.receipts);
    PutTotals(d, s.refunds);
    Put32(d, s.refunds.markup);
    Put32(d, s.refunds.discount);
    Put32(d, s.safeOut);
    return a;
}

// Sums of the open receipt: 64 bytes.
Answer ReceiptSums(RegisterState& st, const Bytes&, const Bytes&)
{
    if (!st.receipt.open) return Error(kErrNotOpen);
    Answer a;
    PutTotals(a.data, st.receipt.sums);
    return a;
}

// Tax table: count (1), date (3), rates, flags, fee rates when flag 0x20, group Е's fee.
Answer TaxData(RegisterState& st, const Bytes&, const Bytes&)
{
    const TaxTable& t = st.books.tax;
    Answer a;
    Bytes& d = a.data;
    d.push_back(static_cast<std::uint8_t>(t.count));
    d.insert(d.end(), t.date, t.date + 3);
    for (int i = 0; i < t.count; ++i) PutN(d, static_cast<std::uint16_t>(t.rates[i]), 2);
    d.push_back(t.flags);
    if (t.flags & 0x20) {
        for (int i = 0; i < t.count; ++i) PutN(d, static_cast<std::uint16_t>(t.fees[i]), 2);
        if (t.hasFeeE) PutN(d, static_cast<std::uint16_t>(t.feeE), 2);
    }
    return a;
}

// Article: code (4), extended code (2).
Answer ArticleInfo(RegisterState& st, const Bytes& r, const Bytes&)
{
    if (r.size() != 7) return Error(kErrLength);
    const auto it = st.books.articles.find({U32(r, 1), U16(r, 5)});
    if (it == st.books.articles.end()) return Error(kErrNumber);
    const ArticleRecord& a = it->second;
    Answer ans;
    Bytes& d = ans.data;
    const std::size_t n = std::min<std::size_t>(a.name.size(), 75);
    d.push_back(static_cast<std::uint8_t>(n));
    d.insert(d.end(), a.name.begin(), a.name.begin() + static_cast<long>(n));
    PutN(d, Counter(a.sold, a.decimals), 3);
    d.push_back(static_cast<std::uint8_t>(a.decimals));
    Put32(d, a.price);
    d.push_back(static_cast<std::uint8_t>(a.group));
    PutN(d, static_cast<std::uint64_t>(a.soldSum), 5);
    PutN(d, Counter(a.refunded, a.decimals), 3);
    d.push_back(static_cast<std::uint8_t>(a.decimals));
    PutN(d, static_cast<std::uint64_t>(a.refundedSum), 5);
    return ans;
}

// Cash in the drawer: 5 bytes.
Answer SafeSum(RegisterState& st, const Bytes&, const Bytes&)
{
    Answer a;
    PutN(a.data, static_cast<std::uint64_t>(std::max<std::int64_t>(st.safe, 0)), 5);
    return a;
}

// Time to block: password (2), 1 (2), 4 (1). Answer of 168 bytes: 0 (all well), the
// fiscal number, the register time of the oldest unsent document at offset 16 (-1:
// none), the number of documents since, and the register time now at offset 164, all
// in seconds since 2000.
Answer TimeToBlock(RegisterState& st, const Bytes& r, const Bytes&)
{
    if (r.size() != 6) return Error(kErrLength);
    Answer a;
    Bytes& d = a.data;
    d.assign(168, 0);
    std::memcpy(&d[4], st.fiscalNumber.data(), std::min<std::size_t>(st.fiscalNumber.size(), 10));
    const std::int64_t first = st.books.firstUnsent < 0 ? -1 : st.books.firstUnsent - kEpoch;
    Bytes v;
    Put32(v, first);
    Put32(v, st.receiptNumber);
    std::copy(v.begin(), v.end(), d.begin() + 16);
    v.clear();
    Put32(v, st.Now() - kEpoch);
    std::copy(v.begin(), v.end(), d.begin() + 164);
    return a;
}

// Fiscal memory, page 0: the register's identity, then 64 bytes for each Z report
// (number, date and time in BCD, receipt counters, sales and refunds by tax group).
// Erased memory (0xFF) elsewhere.
Bytes MemoryPage(const RegisterState& st, int page)
{
    Bytes m(0x10000, 0xFF);
    if (page != 0) return m;
    Bytes h;
    PutText(h, st.model, 19);
    PutText(h, st.fiscalNumber, 10);
    h.insert(h.end(), st.fiscalized, st.fiscalized + 5);
    h.insert(h.end(), st.books.tax.date, st.books.tax.date + 3);
    PutN(h, st.books.zReports.size(), 2);
    std::copy(h.begin(), h.end(), m.begin());
    std::size_t at = 64;
    for (const auto& z : st.books.zReports) {
        if (at + 64 > m.size()) break;
        Bytes r;
        PutN(r, static_cast<std::uint64_t>(z.number), 2);
        const std::tm tm = Fields(z.when);
        r.insert(r.end(),
                 {Bcd(tm.tm_mday), Bcd(tm.tm_mon + 1), Bcd(tm.tm_year % 100), Bcd(tm.tm_hour), Bcd(tm.tm_min)});
        PutCounter(r, z.shift.sales.receipts);
        PutCounter(r, z.shift.refunds.receipts);
        for (auto v : z.shift.sales.byGroup) Put32(r, v);
        for (int g = 0; g < 5; ++g) Put32(r, z.shift.refunds.byGroup[g]);
        r.resize(64, 0);
        std::copy(r.begin(), r.end(), m.begin() + static_cast<long>(at));
        at += 64;
    }
    return m;
}

// Memory read: address (2), page (1), count (1, 1 to 128).
Answer ReadMemory(RegisterState& st, const Bytes& r, const Bytes&)
{
    if (r.size() != 5 || r[4] < 1 || r[4] > 128) return Error(kErrLength);
    const Bytes m = MemoryPage(st, r[3]);
    Answer a;
    for (unsigned i = 0, at = U16(r, 1); i < r[4]; ++i) a.data.push_back(m[(at + i) & 0xFFFF]);
    return a;
}

const CommandSpec kReportCommands[] = {
    {0x08, "PrintZReport", 3, 600, nullptr, PrintZ},           {0x09, "PrintXReport", 3, 400, nullptr, PrintX},
    {0x0A, "PrintArtReport", 3, 300, nullptr, PrintArticles},  {0x11, "ReportByDate", 9, 400, nullptr, ByDateFull},
    {0x1A, "ReportByDateShort", 9, 200, nullptr, ByDateShort}, {0x1C, "ReadMemory", 5, 0, nullptr, ReadMemory},
    {0x1F, "ReportById", 7, 400, nullptr, PrintById},          {0x21, "GetSafeSum", 1, 0, nullptr, SafeSum},
    {0x29, "GetArticleInfo", 7, 0, nullptr, ArticleInfo},      {0x2A, "GetXReport", 1, 0, nullptr, XTotals},
    {0x2B, "GetCheckSum", 1, 0, nullptr, ReceiptSums},         {0x2C, "GetTaxData", 1, 0, nullptr, TaxData},
    {0x35, "GetTimeToBlock", 6, 0, nullptr, TimeToBlock},
};

} // namespace

const CommandSpec* FindReportCommand(std::uint8_t code) { return FindIn(kReportCommands, code); }

std::uint8_t StartShiftWork(RegisterState& st)
{
    Books& b = st.books;
    const std::time_t now = st.Now();
    if (b.firstUnsent >= 0 && now - b.firstUnsent > kSendLimit) return kErrNotSent;
    if (!st.ShiftOpen()) {
        b.shift = Shift{};
        b.shift.opened = now;
        st.extStatus = static_cast<std::uint8_t>(st.extStatus | 0x20);
    } else if (now - b.shift.opened > kShiftLimit) {
        return kErrNeedZ;
    }
    return 0;
}

void BookReceipt(RegisterState& st)
{
    const auto& rc = st.receipt;
    Books& b = st.books;
    Totals& side = rc.payout ? b.shift.refunds : b.shift.sales;
    Totals one = rc.sums;
    one.receipts = 1;
    Add(side, one);
    for (const auto& line : rc.articles) {
        auto [it, added] = b.articles.try_emplace(line.key);
        ArticleRecord& a = it->second;
        if (added || !line.name.empty()) a.name = line.name;
        a.group = line.group;
        a.price = line.price;
        a.decimals = std::max(a.decimals, line.decimals);
        if (rc.payout) {
            a.refunded += line.milli;
            a.refundedSum += line.sum;
        } else {
            a.sold += line.milli;
            a.soldSum += line.sum;
        }
    }
    if (b.firstUnsent < 0) b.firstUnsent = st.Now();
}

std::string DumpBooks(const RegisterState& st)
{
    std::string out;
    auto put = [&out](const std::string& key, std::int64_t v) { out += Format("%s=%" PRId64 "\n", key.c_str(), v); };
    auto totals = [&](const std::string& prefix, const Totals& t) {
        put(prefix + ".receipts", t.receipts);
        for (int g = 0; g < 6; ++g) put(prefix + ".group." + kGroupLatin[g], t.byGroup[g]);
        for (int p = 0; p < 10; ++p) put(prefix + ".pay." + std::to_string(p), t.byPay[p]);
        put(prefix + ".markup", t.markup);
        put(prefix + ".discount", t.discount);
    };
    const Books& b = st.books;
    put("shift.open", st.ShiftOpen());
    out += "shift.opened=" + Stamp(b.shift.opened) + "\n";
    totals("shift.sales", b.shift.sales);
    totals("shift.refunds", b.shift.refunds);
    put("shift.safe.in", b.shift.safeIn);
    put("shift.safe.out", b.shift.safeOut);
    put("safe", st.safe);
    put("receipts", st.receiptNumber);
    put("z.count", static_cast<std::int64_t>(b.zReports.size()));
    put("receipt.open", st.receipt.open);
    put("receipt.payout", st.receipt.payout);
    put("receipt.total", st.receipt.total);
    put("receipt.paid", st.receipt.paid);
    totals("receipt", st.receipt.sums);
    const TaxTable& t = b.tax;
    out += Format("tax.date=%02X/%02X/%02X\n", t.date[0], t.date[1], t.date[2]);
    put("tax.count", t.count);
    for (int g = 0; g < 5; ++g) put(std::string("tax.rate.") + kGroupLatin[g], g < t.count ? t.rates[g] : 0);
    put("tax.flags", t.flags);
    for (int g = 0; g < 5; ++g)
        put(std::string("tax.fee.") + kGroupLatin[g], (t.flags & 0x20) && g < t.count ? t.fees[g] : 0);
    put("tax.fee.E", (t.flags & 0x20) && t.hasFeeE ? t.feeE : 0);
    for (const auto& [key, a] : b.articles) {
        const std::string p = Format("article.%u.%u", key.first, key.second);
        out += p + ".name=" + Utf8(a.name) + "\n";
        put(p + ".group", a.group);
        put(p + ".price", a.price);
        put(p + ".format", a.decimals);
        put(p + ".sold", Counter(a.sold, a.decimals));
        put(p + ".sold_sum", a.soldSum);
        put(p + ".refunded", Counter(a.refunded, a.decimals));
        put(p + ".refunded_sum", a.refundedSum);
    }
    return out;
}

} // namespace serialsim
