// The register's programming and service commands: clock, users and passwords, fiscal
// number, tax payer header, receipt header lines, pay type names, line speed, online
// and cutter modes, version printout, personalisation and the logo.
//
// What they set shows on the tape: every receipt begins with the logo (as text art),
// the tax payer's lines and tax number, the header lines and the fiscal number.
// The received logo is also kept as a PBM file (--logo).
#include <cstdio>
#include <string>

#include "simulators/serialreg/simulator.h"
#include "simulators/serialreg/tape.h"

namespace serialsim {

namespace {

constexpr std::uint8_t kErrLogo = 19;     // logo programming error
constexpr std::uint8_t kErrPassword = 21; // wrong password
constexpr std::uint8_t kErrBeforeZ = 36;  // date before the last Z report's

constexpr std::uint8_t kDoubleWidth = 0x40;
constexpr std::uint8_t kExtNotPersonalized = 0x80;

Answer Ok() { return Answer{}; }

// Service lines (version printout) go to the tape only.
void Tape(RegisterState& st, const std::string& line)
{
    if (st.tape) {
        std::fprintf(st.tape, "%s\n", line.c_str());
        std::fflush(st.tape);
    }
}

// The service password: user 0's.
bool ServicePassword(const RegisterState& st, const Bytes& r) { return U16(r, 1) == st.users[0].password; }

// Date (dd mm yy) or time (hh mm ss) of three BCD bytes replaces that half of the clock.
Answer SetClock(RegisterState& st, const Bytes& r, bool date)
{
    if (r.size() != 4) return Error(kErrLength);
    const int a = FromBcd(r[1]), b = FromBcd(r[2]), c = FromBcd(r[3]);
    if (a < 0 || b < 0 || c < 0) return Error(kErrDate);
    const std::time_t now = st.Now();
    std::tm tm{};
    gmtime_r(&now, &tm);
    if (date) {
        static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        if (b < 1 || b > 12 || a < 1 || a > days[b - 1] || (b == 2 && a == 29 && c % 4 != 0)) return Error(kErrDate);
        tm.tm_mday = a;
        tm.tm_mon = b - 1;
        tm.tm_year = 100 + c;
    } else {
        if (a > 23 || b > 59 || c > 59) return Error(kErrDate);
        tm.tm_hour = a;
        tm.tm_min = b;
        tm.tm_sec = c;
    }
    const std::time_t set = timegm(&tm);
    if (!st.books.zReports.empty() && set / 86400 < st.books.zReports.back().when / 86400) return Error(kErrBeforeZ);
    st.clockBase = set;
    st.started = std::chrono::steady_clock::now();
    return Ok();
}

Answer SetDate(RegisterState& st, const Bytes& r, const Bytes&) { return SetClock(st, r, true); }
Answer SetTime(RegisterState& st, const Bytes& r, const Bytes&) { return SetClock(st, r, false); }

// Name field: length (1), text; `allowUnset` takes 0xFF as "no name".
bool NameField(const Bytes& r, std::size_t at, bool allowUnset, std::string& name, bool& set)
{
    if (r.size() <= at) return false;
    if (allowUnset && r[at] == 0xFF) {
        set = false;
        return r.size() == at + 1;
    }
    const std::size_t n = r[at];
    if (n > 15 || r.size() != at + 1 + n) return false;
    name.assign(r.begin() + static_cast<long>(at + 1), r.end());
    set = n > 0;
    return true;
}

// ChangePassword: old password (2), user (1), new password (2), name length, name.
Answer ChangePassword(RegisterState& st, const Bytes& r, const Bytes&)
{
    std::string name;
    bool named = false;
    if (!NameField(r, 6, false, name, named)) return Error(kErrLength);
    if (r[3] >= RegisterState::kUsers) return Error(kErrNumber);
    auto& user = st.users[r[3]];
    if (U16(r, 1) != user.password) return Error(kErrPassword);
    user.password = U16(r, 4);
    if (named) user.name = name;
    return Ok();
}

// Login: password (2), user (1), name length (0xFF: none), name; a length of 0 logs the
// user out.
Answer Login(RegisterState& st, const Bytes& r, const Bytes&)
{
    if (r.size() < 5) return Error(kErrLength);
    if (r[3] >= RegisterState::kUsers) return Error(kErrNumber);
    auto& user = st.users[r[3]];
    if (U16(r, 1) != user.password) return Error(kErrPassword);
    if (r[4] == 0) {
        if (r.size() != 5) return Error(kErrLength);
        if (st.cashier == r[3]) st.cashier = -1;
        return Ok();
    }
    std::string name;
    bool named = false;
    if (!NameField(r, 4, true, name, named)) return Error(kErrLength);
    if (named) user.name = name;
    st.cashier = r[3];
    return Ok();
}

// Fiscal number: password (2), 10 characters.
Answer SetFiscalNumber(RegisterState& st, const Bytes& r, const Bytes&)
{
    if (r.size() != 13) return Error(kErrLength);
    if (!ServicePassword(st, r)) return Error(kErrPassword);
    if (st.receipt.open) return Error(kErrOpen);
    st.fiscalNumber.assign(r.begin() + 3, r.end());
    return Ok();
}

// One header line at `at`: line byte (length in bits 0-5, 0x40 double width, 0x80
// double height), text. False when it does not fit.
bool HeaderLine(const Bytes& r, std::size_t& at, std::size_t max, std::size_t doubleMax, std::string& text,
                std::uint8_t& flags)
{
    if (at >= r.size()) return false;
    const std::size_t n = r[at] & 0x3F;
    flags = static_cast<std::uint8_t>(r[at] & 0xC0);
    if (n > ((flags & kDoubleWidth) ? doubleMax : max) || at + 1 + n > r.size()) return false;
    text.assign(r.begin() + static_cast<long>(at + 1), r.begin() + static_cast<long>(at + 1 + n));
    at += 1 + n;
    return true;
}

// Tax payer: password (2), three header lines (24 characters, 18 double width), the
// tax number line (12 characters).
Answer SetTaxPayerInfo(RegisterState& st, const Bytes& r, const Bytes&)
{
    std::string lines[4];
    std::uint8_t flags[4] = {};
    std::size_t at = 3;
    for (int i = 0; i < 3; ++i)
        if (!HeaderLine(r, at, 24, 18, lines[i], flags[i])) return Error(kErrLength);
    if (!HeaderLine(r, at, 12, 12, lines[3], flags[3]) || lines[3].size() != 12 || at != r.size())
        return Error(kErrLength);
    if (!ServicePassword(st, r)) return Error(kErrPassword);
    if (st.receipt.open) return Error(kErrOpen);
    for (int i = 0; i < 3; ++i) {
        st.taxPayer[i] = lines[i];
        st.taxPayerFlags[i] = flags[i];
    }
    st.taxNumber = lines[3];
    st.taxPayerFlags[3] = flags[3];
    return Ok();
}

// Receipt header line: row (0 to 7), line byte, text (36 characters, 20 double width).
Answer SetCheckCaption(RegisterState& st, const Bytes& r, const Bytes&)
{
    if (r[1] > 7) return Error(kErrNumber);
    std::size_t at = 2;
    std::string text;
    std::uint8_t flags = 0;
    if (!HeaderLine(r, at, 36, 20, text, flags) || at != r.size()) return Error(kErrLength);
    if (st.receipt.open) return Error(kErrOpen);
    st.header[r[1]] = text;
    st.headerFlags[r[1]] = flags;
    return Ok();
}

// Pay type name: password (2), type (0 to 9, not cash), length (at most 15), text.
Answer SetPayTypeName(RegisterState& st, const Bytes& r, const Bytes&)
{
    const std::size_t n = r[4];
    if (n > 15 || r.size() != 5 + n) return Error(kErrLength);
    if (r[3] > 9 || r[3] == 3) return Error(kErrPayType);
    if (!ServicePassword(st, r)) return Error(kErrPassword);
    st.payNames[r[3]].assign(r.begin() + 5, r.end());
    return Ok();
}

Answer PrintVersion(RegisterState& st, const Bytes&, const Bytes&)
{
    if (st.receipt.open) return Error(kErrOpen);
    Tape(st, st.model);
    Tape(st, "ВЕРСІЯ ПЗ " + st.version);
    return Ok();
}

Answer AlterOnlineMode(RegisterState& st, const Bytes&, const Bytes&)
{
    st.onlineMode = !st.onlineMode;
    return Ok();
}

Answer AlterCutterMode(RegisterState& st, const Bytes&, const Bytes&)
{
    st.cutterMode = !st.cutterMode;
    return Ok();
}

// Line speed: 0 = 9600, 1 = 19200, 2 = 38400; the register switches after its answer.
Answer ChangeBitrate(RegisterState& st, const Bytes& r, const Bytes&)
{
    static const std::uint32_t speeds[] = {9600, 19200, 38400};
    if (r.size() != 2) return Error(kErrLength);
    if (r[1] > 2) return Error(kErrNumber);
    st.switchBaud = speeds[r[1]];
    return Ok();
}

// Tax table: password (2), count (0 to 5), the rates (2 each), flags (1), and with flag
// 0x20 the fees (2 each) and the fee of group E (2). Dated with the register's date.
Answer SetTaxData(RegisterState& st, const Bytes& r, const Bytes&)
{
    const std::size_t count = r[3];
    if (count > 5) return Error(kErrNumber);
    if (r.size() < 5 + 2 * count) return Error(kErrLength);
    const std::uint8_t flags = r[4 + 2 * count];
    const bool fees = flags & 0x20;
    if (r.size() != 5 + 2 * count + (fees ? 2 * count + 2 : 0)) return Error(kErrLength);
    if (!ServicePassword(st, r)) return Error(kErrPassword);
    if (st.receipt.open) return Error(kErrOpen);
    TaxTable t;
    t.count = static_cast<int>(count);
    for (std::size_t i = 0; i < 5; ++i) {
        t.rates[i] = i < count ? static_cast<std::int16_t>(U16(r, 4 + 2 * i)) : 0;
        t.fees[i] = fees && i < count ? static_cast<std::int16_t>(U16(r, 5 + 2 * count + 2 * i)) : 0;
    }
    t.flags = flags;
    t.hasFeeE = fees;
    t.feeE = fees ? static_cast<std::int16_t>(U16(r, 5 + 4 * count)) : 0;
    const std::time_t now = st.Now();
    std::tm tm{};
    gmtime_r(&now, &tm);
    t.date[0] = Bcd(tm.tm_mday);
    t.date[1] = Bcd(tm.tm_mon + 1);
    t.date[2] = Bcd(tm.tm_year % 100);
    st.books.tax = t;
    return Ok();
}

// Article: password (2), count format (1), price (4, sign-magnitude), tax group (1),
// name length (1), name, code (4), extended code (2). What the article sold so far stays.
Answer ProgramArticle(RegisterState& st, const Bytes& r, const Bytes&)
{
    const std::size_t n = r[9];
    if (n > 75 || r.size() != 16 + n) return Error(kErrLength);
    const int group = r[8];
    if (group < 128 || group >= 128 + st.books.tax.count) return Error(kErrTaxGroup);
    if ((r[3] & 7) > 3) return Error(kErrArticle);
    if (!ServicePassword(st, r)) return Error(kErrPassword);
    if (st.receipt.open) return Error(kErrOpen);
    const std::uint32_t price = U32(r, 4);
    ArticleRecord& a = st.books.articles[{U32(r, 10 + n), U16(r, 14 + n)}];
    a.name.assign(r.begin() + 10, r.begin() + 10 + static_cast<long>(n));
    a.group = group;
    a.price = (price & 0x80000000u) ? -std::int64_t(price & 0x7FFFFFFF) : std::int64_t(price);
    a.decimals = r[3] & 7;
    return Ok();
}

// Personalisation: password (2).
Answer Personalize(RegisterState& st, const Bytes& r, const Bytes&)
{
    if (r.size() != 3) return Error(kErrLength);
    if (!ServicePassword(st, r)) return Error(kErrPassword);
    st.extStatus = static_cast<std::uint8_t>(st.extStatus & ~kExtNotPersonalized);
    return Ok();
}

// Logo: password (2), 1 = image follows / 0 = clear, width (2), height (2); the image
// (width / 8 x height bytes, top row first, a set bit dark) comes as extra data.
std::size_t LogoBytes(const Bytes& r)
{
    if (r.size() != 8 || r[3] != 1) return 0;
    const unsigned w = U16(r, 4), h = U16(r, 6);
    if (w == 0 || w > 448 || w % 32 != 0 || h == 0 || h > 192) return 0;
    return w / 8 * h;
}

void KeepLogoFile(const RegisterState& st)
{
    if (st.logoFile.empty()) return;
    if (st.logo.empty()) {
        std::remove(st.logoFile.c_str());
        return;
    }
    std::FILE* f = std::fopen(st.logoFile.c_str(), "wb");
    if (!f) return;
    std::fprintf(f, "P4\n%u %u\n", st.logoWidth, st.logoHeight);
    std::fwrite(st.logo.data(), 1, st.logo.size(), f);
    std::fclose(f);
}

Answer SetLogo(RegisterState& st, const Bytes& r, const Bytes& extra)
{
    if (r.size() != 8) return Error(kErrLength);
    if (!ServicePassword(st, r)) return Error(kErrPassword);
    if (r[3] == 0) {
        if (U16(r, 4) != 0 || U16(r, 6) != 0) return Error(kErrLogo);
        st.logo.clear();
        st.logoWidth = st.logoHeight = 0;
        KeepLogoFile(st);
        return Ok();
    }
    const std::size_t n = LogoBytes(r);
    if (n == 0 || extra.size() != n) return Error(kErrLogo);
    st.logo = extra;
    st.logoWidth = U16(r, 4);
    st.logoHeight = U16(r, 6);
    KeepLogoFile(st);
    return Ok();
}

const CommandSpec kProgrammingCommands[] = {
    {0x02, "SetDate", 4, 0, nullptr, SetDate, 1000},
    {0x04, "SetTime", 4, 0, nullptr, SetTime, 1000},
    {0x05, "ChangePassword", 7, 0, nullptr, ChangePassword},
    {0x06, "Login", 5, 0, nullptr, Login},
    {0x15, "SetFiscalNumber", 13, 100, nullptr, SetFiscalNumber},
    {0x16, "SetTaxPayerInfo", 17, 100, nullptr, SetTaxPayerInfo},
    {0x17, "SetCheckCaption", 3, 0, nullptr, SetCheckCaption},
    {0x19, "SetTaxData", 5, 200, nullptr, SetTaxData},
    {0x20, "PrintVersion", 1, 200, nullptr, PrintVersion},
    {0x22, "ProgramArticle", 16, 100, nullptr, ProgramArticle},
    {0x24, "AlterOnlineMode", 1, 0, nullptr, AlterOnlineMode},
    {0x26, "ChangeBitrate", 2, 0, nullptr, ChangeBitrate},
    {0x2D, "SetLogo", 8, 300, LogoBytes, SetLogo},
    {0x2E, "AlterCutterMode", 1, 0, nullptr, AlterCutterMode},
    {0x32, "SetPayTypeName", 5, 0, nullptr, SetPayTypeName},
    {0x34, "Personalize", 3, 100, nullptr, Personalize},
};

// A header line as printed: double width spreads the letters.
std::string Spread(const std::string& utf8, std::uint8_t flags)
{
    if (!(flags & kDoubleWidth)) return utf8;
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        out += utf8[i];
        const bool lastByte = i + 1 == utf8.size() || (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) != 0x80;
        if (lastByte && i + 1 < utf8.size()) out += ' ';
    }
    return out;
}

} // namespace

const CommandSpec* FindProgrammingCommand(std::uint8_t code) { return FindIn(kProgrammingCommands, code); }

std::vector<std::string> LogoArt(const Bytes& logo, unsigned width, unsigned height, unsigned columns)
{
    std::vector<std::string> art;
    if (width == 0 || height == 0 || columns == 0 || logo.size() != width / 8 * height) return art;
    // A character stands for a cell twice as high as wide, its upper and lower halves
    // drawn apart; a half is dark when at least half of its pixels are.
    const unsigned cell = (width + columns - 1) / columns;
    const auto dark = [&](unsigned left, unsigned top) {
        unsigned n = 0, all = 0;
        for (unsigned y = top; y < top + cell && y < height; ++y)
            for (unsigned x = left; x < left + cell && x < width; ++x) {
                ++all;
                n += (logo[y * (width / 8) + x / 8] >> (7 - x % 8)) & 1;
            }
        return all > 0 && 2 * n >= all;
    };
    static const char* const glyph[4] = {" ", "▄", "▀", "█"};
    for (unsigned top = 0; top < height; top += 2 * cell) {
        std::string line;
        std::size_t blanks = 0;
        for (unsigned left = 0; left < width; left += cell) {
            const int g = (dark(left, top) ? 2 : 0) | (dark(left, top + cell) ? 1 : 0);
            if (g == 0) {
                ++blanks;
                continue;
            }
            line.append(blanks, ' ');
            line += glyph[g];
            blanks = 0;
        }
        art.push_back(line);
    }
    return art;
}

void PrintReceiptHead(RegisterState& st, const std::function<void(const std::string&)>& print)
{
    for (const auto& line : LogoArt(st.logo, st.logoWidth, st.logoHeight, 62)) print(line);
    for (int i = 0; i < 3; ++i)
        if (!st.taxPayer[i].empty()) print(Spread(Utf8(st.taxPayer[i]), st.taxPayerFlags[i]));
    if (!st.taxNumber.empty()) print("ПН " + Utf8(st.taxNumber));
    for (int i = 0; i < 8; ++i)
        if (!st.header[i].empty()) print(Spread(Utf8(st.header[i]), st.headerFlags[i]));
    if (!st.fiscalNumber.empty()) print("ФН " + Utf8(st.fiscalNumber));
    if (st.cashier >= 0) {
        const auto& user = st.users[st.cashier];
        print("КАСИР " + (user.name.empty() ? std::to_string(st.cashier) : Utf8(user.name)));
    }
}

std::string PayTypeName(const RegisterState& st, int type)
{
    return type >= 0 && type < 10 ? Utf8(st.payNames[type]) : std::string();
}

} // namespace serialsim
