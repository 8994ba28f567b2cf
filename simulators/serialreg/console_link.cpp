#include "simulators/serialreg/console_link.h"

#include <cstdio>

#include "simulators/serialreg/tape.h"

namespace serialsim {

namespace {

using simconsole::jsonArray;
using simconsole::JsonObject;

std::string Hex(const Bytes& b)
{
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
        s += buf;
    }
    return s;
}

// What the register's error codes mean.
const char* ErrorText(std::uint8_t code)
{
    switch (code) {
    case kErrMode: return "not allowed in this mode";
    case 19: return "logo not accepted";
    case kErrLength: return "wrong length of a field";
    case 21: return "wrong password";
    case kErrNumber: return "no such number";
    case kErrTaxGroup: return "tax group not set";
    case kErrPayType: return "no such pay type";
    case kErrCharacters: return "characters not allowed";
    case kErrNegativeSale: return "refund above the receipt's sales";
    case kErrArticle: return "bad article description";
    case kErrDate: return "bad date or time";
    case kErrOverflow: return "sum too large";
    case kErrSafe: return "payout above the cash in the drawer";
    case kErrPayoutOpen: return "payout receipt open";
    case kErrSalesOpen: return "sales receipt open";
    case kErrNotOpen: return "no receipt open";
    case kErrNeedZ: return "shift too long: Z report first";
    case kErrNoReceipts: return "nothing done yet";
    case kErrNoChange: return "no change from this payment";
    case kErrOpen: return "receipt open";
    case kErrNoSales: return "discount before any sale";
    case kErrPaying: return "after payments began";
    case kErrNotSent: return "data not sent for 72 hours";
    default: return "register error";
    }
}

std::string Base64(const Bytes& bytes)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned v = bytes[i] << 16;
        if (i + 1 < bytes.size()) v |= bytes[i + 1] << 8;
        if (i + 2 < bytes.size()) v |= bytes[i + 2];
        out += digits[v >> 18 & 63];
        out += digits[v >> 12 & 63];
        out += i + 1 < bytes.size() ? digits[v >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? digits[v & 63] : '=';
    }
    return out;
}

std::string Rate(std::int16_t hundredths) { return Format("%d.%02d", hundredths / 100, hundredths % 100); }

} // namespace

std::string ConsoleState(const RegisterState& st)
{
    const Books& b = st.books;
    const auto& r = st.receipt;

    std::vector<std::string> groups;
    for (int g = 0; g < 6; ++g) {
        const std::int64_t sold = b.shift.sales.byGroup[g], back = b.shift.refunds.byGroup[g];
        const bool set = g < b.tax.count;
        if (!set && !sold && !back) continue;
        groups.push_back(JsonObject()
                             .str("group", kGroupLetter[g])
                             .str("rate %", set ? Rate(b.tax.rates[g]) : "—")
                             .str("sales", Money(sold))
                             .str("refunds", Money(back))
                             .text());
    }
    std::vector<std::string> pays;
    for (int p = 0; p < 10; ++p) {
        const std::int64_t sold = b.shift.sales.byPay[p], back = b.shift.refunds.byPay[p];
        if (!sold && !back) continue;
        pays.push_back(JsonObject()
                           .str("type", std::to_string(p) + " " + PayName(p))
                           .str("sales", Money(sold))
                           .str("refunds", Money(back))
                           .text());
    }
    const std::string counters = JsonObject()
                                     .num("Sales receipts", b.shift.sales.receipts)
                                     .num("Refund receipts", b.shift.refunds.receipts)
                                     .num("Receipts since start", st.receiptNumber)
                                     .num("Z reports", static_cast<long long>(b.zReports.size()))
                                     .str("Markups", Money(b.shift.sales.markup + b.shift.refunds.markup))
                                     .str("Discounts", Money(b.shift.sales.discount + b.shift.refunds.discount))
                                     .str("Deposits", Money(b.shift.safeIn))
                                     .str("Withdrawals", Money(b.shift.safeOut))
                                     .text();
    JsonObject fiscal;
    fiscal.str("Clock", Stamp(st.Now())).boolean("Shift open", st.ShiftOpen());
    if (st.ShiftOpen() && b.shift.opened) fiscal.str("Shift opened", Stamp(b.shift.opened));
    fiscal.str("Receipt",
               r.open ? std::string(r.payout ? "payout" : "sale") + (r.paying ? ", paying" : "") : "none open");
    if (r.open) fiscal.str("Receipt total", Money(r.total)).str("Receipt paid", Money(r.paid));
    fiscal.raw("Counters", counters)
        .raw("Totals by tax group", jsonArray(groups))
        .raw("Totals by payment type", jsonArray(pays))
        .str("Safe (cash in the drawer)", Money(st.safe))
        .str("Extended status", Format("0x%02X", st.extStatus));

    const std::string display =
        JsonObject().num("width", 20).raw("lines", simconsole::jsonStringArray({st.display[0], st.display[1]})).text();
    const std::string logo =
        st.logo.empty()
            ? "null"
            : JsonObject().num("width", st.logoWidth).num("height", st.logoHeight).str("bits", Base64(st.logo)).text();
    return JsonObject()
        .str("title", "peltra-serialsim: " + st.model + ", ФН " + st.fiscalNumber)
        .raw("display", display)
        .raw("logo", logo)
        .raw("fiscal", fiscal.text())
        .text();
}

ConsoleLink::ConsoleLink(const std::string& listen, Simulator& sim, RegisterState& st) : st_(st)
{
    simconsole::Server::Options options;
    std::string error;
    simconsole::parseListenAddress(listen, options.address, options.port, error);
    state_ = ConsoleState(st);

    simconsole::Hooks hooks;
    hooks.state = [this] {
        std::lock_guard<std::mutex> lock(mutex_);
        return state_;
    };
    hooks.tape = [this](std::uint64_t since) { return paper_.json(since); };
    hooks.exchanges = [this](std::uint64_t since) { return exchanges_.json(since); };
    hooks.faults = [&sim] {
        const auto faults = sim.Faults();
        std::vector<simconsole::FaultSwitch> list;
        for (const auto& k : FaultKinds()) {
            simconsole::FaultSwitch s{k.name, k.help, k.takesValue ? "N[,cmd=HEX][,count=N]" : "[cmd=HEX][,count=N]",
                                      false, ""};
            for (const auto& f : faults)
                if (!s.on && FaultName(f.kind) == s.name) {
                    s.on = true;
                    s.value = FaultTail(f);
                }
            list.push_back(s);
        }
        return list;
    };
    hooks.setFault = [&sim](const std::string& name, bool on, const std::string& value, std::string& error) {
        return sim.SwitchFault(name, on, value, error);
    };
    server_ = std::make_unique<simconsole::Server>(hooks, options);
    // These run on the simulator's thread: what the console cannot take (memory running
    // out) is lost to the page, never to the register.
    st_.printed = [this](const std::string& line) {
        try {
            paper_.print(line);
            server_->notify("tape");
        } catch (...) {}
    };
    st_.logoPrinted = [this] {
        try {
            paper_.printLogo();
            server_->notify("tape");
        } catch (...) {}
    };
}

ConsoleLink::~ConsoleLink()
{
    st_.printed = nullptr;
    st_.logoPrinted = nullptr;
    server_->stop();
}

void ConsoleLink::Start() { server_->start(); }

void ConsoleLink::Exchanged(const Exchange& e)
{
    try {
        Show(e);
    } catch (...) {}
}

void ConsoleLink::Show(const Exchange& e)
{
    simconsole::Exchange x;
    x.title = e.cmd < 0 ? "(no command)" : Format("%02X %s", e.cmd, *e.name ? e.name : "(unknown command)");
    x.request = Hex(e.received);
    x.answer = Hex(e.sent);
    std::string note;
    if (e.cmd >= 0) note = Format("seq %02X", e.seq);
    if (!e.problem.empty()) note += (note.empty() ? "" : "; ") + e.problem;
    if (e.answered) {
        if (e.answer.status & 0x80) note += "; no such command";
        else if (e.answer.error) note += Format("; error %u: %s", e.answer.error, ErrorText(e.answer.error));
        else note += e.repeated ? "; repeated, answered again" : "; ok";
    } else if (e.cmd >= 0 && e.problem.empty()) {
        note += "; no answer";
    }
    if (!e.faults.empty()) {
        note += "; fault:";
        for (const auto& f : e.faults) note += " " + f;
    }
    x.note = note;
    x.ok = e.answered && e.problem.empty() && e.faults.empty() && !e.answer.error && !(e.answer.status & 0x80);
    exchanges_.add(x);
    server_->notify("exchanges");
}

void ConsoleLink::StateChanged(const RegisterState& st)
{
    try {
        std::string s = ConsoleState(st);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (s == state_) return;
            state_.swap(s);
        }
        server_->notify("state");
    } catch (...) {}
}

} // namespace serialsim
