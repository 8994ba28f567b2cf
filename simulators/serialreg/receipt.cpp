// The register's receipt, safe, display and printing commands.
//
// The register keeps one receipt: a sale or a comment opens it (a sales receipt, or a
// payout receipt for a refund), lines and discounts add to its total until the first
// payment, payments reduce what is due, and the receipt closes when it is paid; a cash
// payment may exceed what is due and gives change. Commands that do not fit the receipt
// state are refused with the register's error codes. Everything printed goes to the
// tape (--tape), one line per printed line, in UTF-8. The receipt keeps its own sums by
// tax group and pay type; they go to the shift's books when it closes (books.cpp).
#include <algorithm>
#include <cinttypes>
#include <cstring>

#include "simulators/serialreg/simulator.h"
#include "simulators/serialreg/tape.h"

namespace serialsim {

namespace {

constexpr std::uint8_t kExtPayout = 0x08; // fpsCheckType
constexpr std::uint8_t kExtOpen = 0x40;   // fpsCheckOpened

constexpr int kFirstGroup = 128;

void SetReceiptStatus(RegisterState& st)
{
    st.extStatus = static_cast<std::uint8_t>(st.extStatus & ~(kExtOpen | kExtPayout));
    if (st.receipt.open) st.extStatus |= static_cast<std::uint8_t>(kExtOpen | (st.receipt.payout ? kExtPayout : 0));
}

// Opens a receipt of the given kind, or checks that the open one is of that kind.
std::uint8_t OpenReceipt(RegisterState& st, bool payout)
{
    auto& r = st.receipt;
    if (r.open) {
        if (r.payout != payout) return payout ? kErrSalesOpen : kErrPayoutOpen;
        if (r.paying) return kErrPaying;
        return 0;
    }
    if (const std::uint8_t e = StartShiftWork(st)) return e;
    r = RegisterState::Receipt{};
    r.open = true;
    r.payout = payout;
    SetReceiptStatus(st);
    Print(st, kRule);
    // The head begins with the logo's text art, when one was loaded; the console draws
    // the picture in its place.
    std::size_t art = 0;
    if (!st.logo.empty() && st.logoPrinted) {
        art = LogoArt(st.logo, st.logoWidth, st.logoHeight, 62).size();
        st.logoPrinted();
    }
    PrintReceiptHead(st, [&st, &art](const std::string& line) {
        const bool logoLine = art > 0;
        if (art > 0) --art;
        Print(st, line, !logoLine);
    });
    Print(st, Format("%s No %d", payout ? "ЧЕК ВИПЛАТИ" : "ФІСКАЛЬНИЙ ЧЕК", st.receiptNumber + 1));
    return 0;
}

void CloseReceipt(RegisterState& st, const char* how)
{
    Print(st, how);
    Print(st, kRule);
    if (std::strcmp(how, "ЧЕК АНУЛЬОВАНО") != 0) {
        ++st.receiptNumber;
        st.lastReceipt = st.receipt.lines;
        BookReceipt(st);
    }
    st.receipt = RegisterState::Receipt{};
    SetReceiptStatus(st);
}

// Article: code, count (3), format (1), price (4, sign-magnitude), tax group (1), name
// length (1; 0xFF: none), name, code (4), extended code (2).
Answer Article(RegisterState& st, const Bytes& r, bool refund)
{
    const std::size_t n = r[10] == 0xFF ? 0 : r[10];
    if (r.size() != 17 + n) return Error(kErrLength);
    std::int32_t count = static_cast<std::int32_t>(r[1] | r[2] << 8 | r[3] << 16);
    if (count & 0x800000) count -= 0x1000000;
    const int decimals = r[4] & 7;
    const std::uint32_t priceField = U32(r, 5);
    const std::int64_t price = (priceField & 0x80000000u) ? -std::int64_t(priceField & 0x7FFFFFFF)
                                                          : std::int64_t(priceField);
    const int group = r[9];
    if (count == 0 || decimals > 3) return Error(kErrArticle);
    if (group < kFirstGroup || group >= kFirstGroup + st.books.tax.count) return Error(kErrTaxGroup);
    if (const std::uint8_t e = OpenReceipt(st, refund)) return Error(e);

    std::int64_t scale = 1;
    for (int i = 0; i < decimals; ++i) scale *= 10;
    const std::int64_t product = std::int64_t(count) * price;
    const std::int64_t sum = (product + (product >= 0 ? scale / 2 : -(scale / 2))) / scale;
    auto& rc = st.receipt;
    if (rc.total + sum < 0) return Error(kErrNegativeSale);
    if (rc.total + sum > kMaxSum || sum > kMaxSum || sum < -kMaxSum) return Error(kErrOverflow);
    rc.total += sum;
    rc.lastLine = sum;
    rc.lastGroup = group - kFirstGroup;
    rc.sums.byGroup[rc.lastGroup] += sum;
    rc.hasSales = true;

    const std::string name = Utf8(r.data() + 11, n);
    const std::uint32_t code = U32(r, 11 + n);
    std::int64_t milli = count;
    for (int i = decimals; i < 3; ++i) milli *= 10;
    rc.articles.push_back({{code, U16(r, 15 + n)},
                           std::string(reinterpret_cast<const char*>(r.data() + 11), n),
                           group,
                           price,
                           milli,
                           sum,
                           decimals});
    char qty[32];
    const std::int64_t absCount = count < 0 ? -std::int64_t(count) : count;
    if (decimals)
        std::snprintf(qty, sizeof qty, "%s%" PRId64 ".%0*" PRId64, count < 0 ? "-" : "", absCount / scale, decimals,
                      absCount % scale);
    else std::snprintf(qty, sizeof qty, "%" PRId32, count);
    Print(st, Format("%s x %s", qty, Money(price).c_str()));
    const std::string letter = std::string(" ") + kGroupLetter[group - kFirstGroup];
    Print(st, Columns(name.empty() ? Format("#%u", code) : name, Money(sum), letter.c_str()));
    Answer a;
    Put32(a.data, sum);
    Put32(a.data, rc.total);
    return a;
}

Answer Sale(RegisterState& st, const Bytes& r, const Bytes&) { return Article(st, r, false); }
Answer Refund(RegisterState& st, const Bytes& r, const Bytes&) { return Article(st, r, true); }

// Comment: length (1; bit 7: payout receipt), text.
Answer Comment(RegisterState& st, const Bytes& r, const Bytes&)
{
    const std::size_t n = r[1] & 0x7F;
    if (n > 27 || r.size() != 2 + n) return Error(kErrLength);
    if (const std::uint8_t e = OpenReceipt(st, (r[1] & 0x80) != 0)) return Error(e);
    Print(st, Utf8(r.data() + 2, n));
    return Answer{};
}

// A markup or discount on the whole receipt: shared out among the tax groups in
// proportion to their sums; what rounding leaves goes to the largest group.
void Spread(std::int64_t (&byGroup)[6], std::int64_t amount)
{
    std::int64_t base = 0;
    int largest = 0;
    for (int g = 0; g < 6; ++g) {
        base += byGroup[g];
        if (byGroup[g] > byGroup[largest]) largest = g;
    }
    if (base <= 0) {
        byGroup[largest] += amount;
        return;
    }
    std::int64_t given = 0;
    std::int64_t parts[6] = {};
    for (int g = 0; g < 6; ++g) {
        parts[g] = amount * byGroup[g] / base;
        given += parts[g];
    }
    parts[largest] += amount - given;
    for (int g = 0; g < 6; ++g) byGroup[g] += parts[g];
}

// Discount or markup: mode (1; 2 on the total, 1 a sum), value (4; bit 31 set: a
// discount; percent mode: bits 24 to 30 the decimals of the percentage), text.
Answer Discount(RegisterState& st, const Bytes& r, const Bytes&)
{
    const std::size_t n = r[6];
    if (n > 25 || r.size() != 7 + n) return Error(kErrLength);
    auto& rc = st.receipt;
    if (!rc.open) return Error(kErrNotOpen);
    if (rc.paying) return Error(kErrPaying);
    if (!rc.hasSales) return Error(kErrNoSales);
    const bool onTotal = r[1] & 2, sumMode = r[1] & 1;
    const std::uint32_t field = U32(r, 2);
    const bool discount = field & 0x80000000u;
    std::int64_t amount;
    std::string what;
    if (sumMode) {
        amount = field & 0x7FFFFFFF;
        what = Money(amount);
    } else {
        const std::int64_t value = field & 0xFFFFFF;
        const int decimals = (field >> 24) & 0x7F;
        if (decimals > 4) return Error(kErrMode);
        std::int64_t scale = 100;
        for (int i = 0; i < decimals; ++i) scale *= 10;
        const std::int64_t base = onTotal ? rc.total : rc.lastLine;
        amount = (base * value + scale / 2) / scale;
        what = Format("%" PRId64 "%%", value);
        if (decimals) {
            std::int64_t d = 1;
            for (int i = 0; i < decimals; ++i) d *= 10;
            what = Format("%" PRId64 ".%0*" PRId64 "%%", value / d, decimals, value % d);
        }
    }
    if (discount) amount = -amount;
    if (rc.total + amount < 0) return Error(kErrNegativeSale);
    if (rc.total + amount > kMaxSum) return Error(kErrOverflow);
    rc.total += amount;
    (amount < 0 ? rc.sums.discount : rc.sums.markup) += amount < 0 ? -amount : amount;
    if (onTotal) Spread(rc.sums.byGroup, amount);
    else rc.sums.byGroup[rc.lastGroup] += amount;
    const std::string text = Utf8(r.data() + 7, n);
    Print(st, Format("%s %s%s", discount ? "ЗНИЖКА" : "НАДБАВКА", what.c_str(), onTotal ? " НА ЧЕК" : ""));
    Print(st, Columns(text, Money(amount)));
    Answer a;
    Put32(a.data, SignMagnitude(amount));
    Put32(a.data, rc.total);
    return a;
}

// Payment: type (1), sum (4; -1: what is due), 0, text length (1), text. Answer: what is
// still due (sign-magnitude), then the change.
Answer Pay(RegisterState& st, const Bytes& r, const Bytes&)
{
    const std::size_t n = r[7];
    if (n > 27 || r.size() != 8 + n) return Error(kErrLength);
    const int type = r[1];
    if (type > 9 && type != 64) return Error(kErrPayType);
    auto& rc = st.receipt;
    if (!rc.open) return Error(kErrNotOpen);
    const std::int64_t due = rc.total - rc.paid;
    std::int64_t sum = static_cast<std::int32_t>(U32(r, 2));
    if (sum == -1) sum = due;
    if (sum < 0) return Error(kErrLength);
    std::int64_t change = 0;
    if (sum > due) {
        if (type != 3) return Error(kErrNoChange);
        change = sum - due;
    }
    if (type == 3 && rc.payout && sum - change > st.safe) return Error(kErrSafe);
    if (!rc.paying) {
        Print(st, kThinRule);
        Print(st, Columns("СУМА", Money(rc.total)));
        rc.paying = true;
    }
    rc.paid += sum;
    if (n) Print(st, Utf8(r.data() + 8, n));
    const std::string programmed = PayTypeName(st, type);
    Print(st, Columns(programmed.empty() ? PayName(type) : programmed, Money(sum)));
    if (type == 3) st.safe += rc.payout ? -(sum - change) : sum - change;
    if (type < 10) rc.sums.byPay[type] += sum - change;
    const std::int64_t rest = rc.total - rc.paid;
    if (change) Print(st, Columns("РЕШТА", Money(change)));
    Answer a;
    Put32(a.data, SignMagnitude(rest));
    Put32(a.data, change);
    if (rest <= 0) CloseReceipt(st, "ДЯКУЄМО ЗА ПОКУПКУ");
    return a;
}

Answer Cancel(RegisterState& st, const Bytes&, const Bytes&)
{
    if (!st.receipt.open) return Error(kErrNotOpen);
    CloseReceipt(st, "ЧЕК АНУЛЬОВАНО");
    return Answer{};
}

Answer Feed(RegisterState& st, const Bytes&, const Bytes&)
{
    Print(st, "");
    return Answer{};
}

// Display: row (1), length (1), text.
Answer Display(RegisterState& st, const Bytes& r, const Bytes&)
{
    const std::size_t n = r[2];
    if (r[1] > 1) return Error(kErrMode);
    if (n > 20 || r.size() != 3 + n) return Error(kErrLength);
    st.display[r[1]] = Utf8(r.data() + 3, n);
    if (st.tape) {
        std::fprintf(st.tape, "[display %d: %s]\n", r[1], st.display[r[1]].c_str());
        std::fflush(st.tape);
    }
    return Answer{};
}

// Deposit (0x10) and withdrawal (0x18): the sum (4). Answer: the cash in the drawer.
Answer Safe(RegisterState& st, const Bytes& r, bool deposit)
{
    if (r.size() != 5) return Error(kErrLength);
    if (st.receipt.open) return Error(kErrOpen);
    const std::int64_t sum = U32(r, 1);
    if (!deposit && sum > st.safe) return Error(kErrSafe);
    if (deposit && st.safe + sum > kMaxSum) return Error(kErrOverflow);
    if (const std::uint8_t e = StartShiftWork(st)) return Error(e);
    st.safe += deposit ? sum : -sum;
    (deposit ? st.books.shift.safeIn : st.books.shift.safeOut) += sum;
    Print(st, kRule);
    Print(st, Columns(deposit ? "СЛУЖБОВЕ ВНЕСЕННЯ" : "СЛУЖБОВА ВИДАЧА", Money(sum)));
    Print(st, Columns("В СЕЙФІ", Money(st.safe)));
    Print(st, kRule);
    Answer a;
    Put32(a.data, st.safe);
    return a;
}

Answer Deposit(RegisterState& st, const Bytes& r, const Bytes&) { return Safe(st, r, true); }
Answer Withdrawal(RegisterState& st, const Bytes& r, const Bytes&) { return Safe(st, r, false); }

Answer Drawer(RegisterState& st, const Bytes&, const Bytes&)
{
    if (st.tape) {
        std::fprintf(st.tape, "[drawer opened]\n");
        std::fflush(st.tape);
    }
    return Answer{};
}

// Copy of the last receipt: record number (4).
Answer Copy(RegisterState& st, const Bytes& r, const Bytes&)
{
    if (r.size() != 5) return Error(kErrLength);
    if (st.receipt.open) return Error(kErrOpen);
    if (st.lastReceipt.empty()) return Error(kErrNoReceipts);
    Print(st, "*** КОПІЯ ***");
    for (const auto& line : st.lastReceipt) Print(st, line);
    return Answer{};
}

// Barcode: one byte 0 (the receipt's number as a barcode) or 13 digits.
Answer Barcode(RegisterState& st, const Bytes& r, const Bytes&)
{
    if (r.size() == 2 && r[1] == 0) {
        Print(st, Format("|||| %d ||||", st.receiptNumber + 1));
        return Answer{};
    }
    if (r.size() != 14) return Error(kErrLength);
    for (std::size_t i = 1; i < 14; ++i)
        if (r[i] < '0' || r[i] > '9') return Error(kErrCharacters);
    Print(st, "|||| " + Utf8(r.data() + 1, 13) + " ||||");
    return Answer{};
}

// Receipt barcode: length (1, 2 to 16), text.
Answer CheckBarcode(RegisterState& st, const Bytes& r, const Bytes&)
{
    const std::size_t n = r[1];
    if (n < 2 || n > 16 || r.size() != 2 + n) return Error(kErrLength);
    Print(st, "[receipt barcode " + Utf8(r.data() + 2, n) + "]");
    return Answer{};
}

// QR code: length (2, 8 to 274), text.
Answer Qr(RegisterState& st, const Bytes& r, const Bytes&)
{
    const std::size_t n = r[1] | r[2] << 8;
    if (n < 8 || n > 274 || r.size() != 3 + n) return Error(kErrLength);
    Print(st, "[QR " + Utf8(r.data() + 3, n) + "]");
    return Answer{};
}

// Non-fiscal comment: length (1, at most 37; 0xFF: empty line), or 0xFE, length, text
// printed as a barcode.
Answer NonFiscal(RegisterState& st, const Bytes& r, const Bytes&)
{
    if (r[1] == 0xFF) {
        if (r.size() != 2) return Error(kErrLength);
        Print(st, "");
        return Answer{};
    }
    const bool barcode = r[1] == 0xFE;
    const std::size_t at = barcode ? 3 : 2;
    if (r.size() < at) return Error(kErrLength);
    const std::size_t n = r[at - 1];
    if (n > 37 || r.size() != at + n) return Error(kErrLength);
    const std::string text = Utf8(r.data() + at, n);
    Print(st, barcode ? "|||| " + text + " ||||" : text);
    return Answer{};
}

const CommandSpec kReceiptCommands[] = {
    {0x0B, "RefundArticle", 17, 100, nullptr, Refund}, {0x0D, "CommentCheck", 2, 50, nullptr, Comment},
    {0x0E, "LineFeed", 1, 150, nullptr, Feed},         {0x0F, "CancelCheck", 1, 100, nullptr, Cancel},
    {0x10, "Deposit", 5, 200, nullptr, Deposit},       {0x12, "PayCheck", 8, 200, nullptr, Pay},
    {0x14, "SaleArticle", 17, 100, nullptr, Sale},     {0x18, "Withdrawal", 5, 200, nullptr, Withdrawal},
    {0x1B, "DisplayString", 3, 0, nullptr, Display},   {0x1D, "OpenSafe", 1, 0, nullptr, Drawer},
    {0x1E, "PrintCopy", 5, 300, nullptr, Copy},        {0x23, "PrintBarcode", 2, 100, nullptr, Barcode},
    {0x28, "PrintComment", 2, 50, nullptr, NonFiscal}, {0x2F, "SetCheckBarcode", 2, 0, nullptr, CheckBarcode},
    {0x31, "GiveDiscount", 7, 100, nullptr, Discount}, {0x37, "PrintQR", 3, 200, nullptr, Qr},
};

} // namespace

const CommandSpec* FindReceiptCommand(std::uint8_t code) { return FindIn(kReceiptCommands, code); }

} // namespace serialsim
