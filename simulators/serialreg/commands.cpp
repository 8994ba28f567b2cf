// The register's command table. Each entry: code, name, shortest request, busy time,
// extra data to pull, and the handler that turns a request into an answer.
#include <algorithm>
#include <cstring>

#include "simulators/serialreg/simulator.h"
#include "simulators/serialreg/tape.h"

namespace serialsim {

namespace {

std::tm Fields(std::time_t t)
{
    std::tm tm{};
    gmtime_r(&t, &tm);
    return tm;
}

Answer GetState(RegisterState& st, const Bytes&, const Bytes&)
{
    Answer a;
    Bytes& d = a.data;
    d.push_back(static_cast<std::uint8_t>(st.stateValue & 0xFF));
    d.push_back(static_cast<std::uint8_t>(st.stateValue >> 8));
    PutText(d, st.model, 19);
    d.insert(d.end(), st.fiscalized, st.fiscalized + 5);
    PutText(d, st.fiscalNumber, 10);
    // Texts after the fixed part: three tax-payer lines (6-bit length), the tax number
    // (8-bit length), then the firmware version; the list ends at the first empty one.
    int texts = 0;
    for (const auto& t : st.taxPayer) {
        if (t.empty()) break;
        const std::size_t n = std::min<std::size_t>(t.size(), 63);
        d.push_back(static_cast<std::uint8_t>(n));
        d.insert(d.end(), t.begin(), t.begin() + static_cast<long>(n));
        ++texts;
    }
    if (texts == 3 && !st.taxNumber.empty()) {
        const std::size_t n = std::min<std::size_t>(st.taxNumber.size(), 100);
        d.push_back(static_cast<std::uint8_t>(n));
        d.insert(d.end(), st.taxNumber.begin(), st.taxNumber.begin() + static_cast<long>(n));
        d.insert(d.end(), st.version.begin(), st.version.end());
    }
    if (d.size() > 249) d.resize(249);
    return a;
}

Answer GetDate(RegisterState& st, const Bytes&, const Bytes&)
{
    const std::tm tm = Fields(st.Now());
    return Answer{0, 0, {Bcd(tm.tm_mday), Bcd(tm.tm_mon + 1), Bcd(tm.tm_year % 100)}};
}

Answer GetTime(RegisterState& st, const Bytes&, const Bytes&)
{
    const std::tm tm = Fields(st.Now());
    return Answer{0, 0, {Bcd(tm.tm_hour), Bcd(tm.tm_min), Bcd(tm.tm_sec)}};
}

const CommandSpec kCommands[] = {
    {0x00, "GetState", 1, 0, nullptr, GetState},
    {0x01, "GetDate", 1, 0, nullptr, GetDate},
    {0x03, "GetTime", 1, 0, nullptr, GetTime},
};

} // namespace

const CommandSpec* FindCommand(std::uint8_t code)
{
    if (const CommandSpec* c = FindIn(kCommands, code)) return c;
    if (const CommandSpec* c = FindReceiptCommand(code)) return c;
    if (const CommandSpec* c = FindReportCommand(code)) return c;
    return FindProgrammingCommand(code);
}

std::time_t RegisterState::Now() const
{
    if (frozenClock) return clockBase;
    const auto elapsed = std::chrono::steady_clock::now() - started;
    return clockBase + std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
}

// Used by the engine for a request shorter than its command needs.
Answer LengthError() { return Error(kErrLength); }

} // namespace serialsim
