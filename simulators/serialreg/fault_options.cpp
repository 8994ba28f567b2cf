// The fault table and the control channel of the simulator: the faults as the command
// line, the console and the control FIFO give them, and the control commands.
#include "simulators/serialreg/simulator.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <unistd.h>

namespace serialsim {

namespace {

const struct {
    const char* name;
    Fault::Kind kind;
    bool needsValue;
    int defaultValue;
    const char* help;
} kFaultKinds[] = {
    {"nak", Fault::Nak, false, 0, "answer NAK instead of ACK"},
    {"syn-first", Fault::SynFirst, false, 0, "send SYN before the ACK"},
    {"syn-storm", Fault::SynStorm, false, 12000, "=MS: send SYN every 100 ms for MS ms (default 12000) after the ACK"},
    {"silence", Fault::Silence, false, 0, "send nothing at all"},
    {"silence-after-ack", Fault::SilenceAfterAck, false, 0, "send the ACK, then nothing"},
    {"garbage", Fault::Garbage, false, 0, "send garbage bytes instead of ACK"},
    {"bad-checksum", Fault::BadChecksum, false, 0, "answer with a wrong checksum"},
    {"wrong-seq", Fault::WrongSeq, false, 0, "echo a wrong sequence number"},
    {"wrong-cmd", Fault::WrongCmd, false, 0, "echo a wrong command code"},
    {"truncate", Fault::Truncate, false, 0, "send only the first half of the answer frame"},
    {"stray-dle", Fault::StrayDle, false, 0, "put DLE and a stray byte inside the answer frame"},
    {"oversize", Fault::Oversize, false, 0, "answer with more than 255 payload bytes"},
    {"error", Fault::Error, true, 0, "=N: answer with register error code N"},
    {"status", Fault::Status, true, 0, "=BITS: set these status bits in the answer"},
    {"ext-status", Fault::ExtStatus, true, 0, "=BITS: set these extended status bits in the answer"},
    {"no-trailer", Fault::NoTrailer, false, 0, "send no trailer bytes after DLE ETX"},
    {"stray-enq", Fault::StrayEnq, false, 0, "ask for extra data with ENQ although the command has none"},
    {"slow", Fault::Slow, true, 0, "=MS: stay silent for MS ms after the ACK"},
    {"ack-lost", Fault::AckLost, false, 0, "execute and answer, but the ACK before the answer is lost"},
    {"answer-lost-after-exec", Fault::AnswerLostAfterExec, false, 0, "send the ACK, execute, then send no answer"},
    {"answer-damaged-after-exec", Fault::AnswerDamagedAfterExec, false, 0,
     "execute, then send the answer with a byte damaged on the way"},
    {"short-data", Fault::ShortData, true, 0, "=N: execute, then answer with at most N data bytes"},
};

// A whole number (decimal, or hex after 0x) that fits a long.
bool ParseNumber(const std::string& s, long& out)
{
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0]))) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtol(s.c_str(), &end, 0);
    return *end == '\0' && errno != ERANGE;
}

constexpr long kMaxFaultCount = 1000000;

// The largest value a fault kind takes: a byte of the answer for the error code and the
// status bits, milliseconds for the rest.
long MaxFaultValue(Fault::Kind kind)
{
    return kind == Fault::Error || kind == Fault::Status || kind == Fault::ExtStatus ? 255 : 600000;
}

} // namespace

bool ParseFault(const std::string& spec, Fault& fault, std::string& error)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = spec.find(',', start);
        parts.push_back(spec.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    const std::string head = parts[0];
    const std::size_t eq = head.find('=');
    const std::string name = head.substr(0, eq);
    bool found = false;
    for (const auto& k : kFaultKinds) {
        if (name != k.name) continue;
        found = true;
        fault = Fault{};
        fault.kind = k.kind;
        fault.value = k.defaultValue;
        if (eq != std::string::npos) {
            long v;
            if (!ParseNumber(head.substr(eq + 1), v) || v < 0 || v > MaxFaultValue(k.kind)) {
                error = "bad value in fault '" + spec + "': a number from 0 to " +
                        std::to_string(MaxFaultValue(k.kind)) + " is expected";
                return false;
            }
            fault.value = static_cast<int>(v);
        } else if (k.needsValue) {
            error = "fault '" + name + "' needs a value";
            return false;
        }
    }
    if (!found) {
        error = "unknown fault '" + name + "'";
        return false;
    }
    for (std::size_t i = 1; i < parts.size(); ++i) {
        long v;
        if (parts[i].rfind("cmd=", 0) == 0 && ParseNumber("0x" + parts[i].substr(4), v) && v >= 0 && v <= 255) {
            fault.cmd = static_cast<int>(v);
        } else if (parts[i].rfind("count=", 0) == 0 && ParseNumber(parts[i].substr(6), v) && v >= 1 &&
                   v <= kMaxFaultCount) {
            fault.count = static_cast<int>(v);
        } else {
            error = "bad option '" + parts[i] + "' in fault '" + spec + "'";
            return false;
        }
    }
    return true;
}

bool ParseClock(const char* text, std::time_t& out)
{
    std::tm tm{};
    int y, mo, d, h, mi, s;
    char tail;
    if (std::sscanf(text, "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6) return false;
    if (y < 2000 || y > 2099 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 ||
        s > 59)
        return false;
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    out = timegm(&tm);
    return true;
}

void Simulator::PollControl()
{
    if (control_ < 0) return;
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(control_, buf, sizeof buf);
        if (n <= 0) break;
        controlBuffer_.append(buf, static_cast<std::size_t>(n));
        if (controlBuffer_.size() > 65536) controlBuffer_.clear(); // no line end in sight
    }
    std::size_t eol;
    while ((eol = controlBuffer_.find('\n')) != std::string::npos) {
        std::string line = controlBuffer_.substr(0, eol);
        controlBuffer_.erase(0, eol + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) ApplyControl(line);
    }
}

void Simulator::ApplyControl(const std::string& line)
{
    const std::size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string arg = space == std::string::npos ? std::string() : line.substr(space + 1);
    std::string error;
    if (word == "fault") {
        Fault f;
        if (ParseFault(arg, f, error)) {
            std::lock_guard<std::mutex> lock(faultsMutex_);
            faults_.push_back(f);
        }
    } else if (word == "clear") {
        std::lock_guard<std::mutex> lock(faultsMutex_);
        faults_.clear();
    } else if (word == "ext-status") {
        long v;
        if (ParseNumber(arg, v) && v >= 0 && v <= 255) {
            const bool wasOpen = state_.ShiftOpen();
            state_.extStatus = static_cast<std::uint8_t>(v);
            if (!wasOpen && state_.ShiftOpen()) state_.books.shift.opened = state_.Now(); // a shift begins
        } else {
            error = "bad value";
        }
    } else if (word == "clock") {
        std::time_t t;
        if (ParseClock(arg.c_str(), t)) {
            state_.clockBase = t;
            state_.started = std::chrono::steady_clock::now();
        } else {
            error = "bad time";
        }
    } else {
        error = "unknown control command";
    }
    Log("control: %s%s%s", line.c_str(), error.empty() ? "" : ": ", error.c_str());
    if (observer_) observer_->StateChanged(state_);
}

std::vector<FaultKindInfo> FaultKinds()
{
    std::vector<FaultKindInfo> out;
    for (const auto& k : kFaultKinds) out.push_back({k.name, k.help, k.needsValue || k.defaultValue != 0});
    return out;
}

const char* FaultName(Fault::Kind kind)
{
    for (const auto& k : kFaultKinds)
        if (k.kind == kind) return k.name;
    return "?";
}

std::string FaultTail(const Fault& f)
{
    std::string out;
    for (const auto& k : kFaultKinds) {
        if (k.kind != f.kind || !(k.needsValue || k.defaultValue != 0)) continue;
        char buf[16];
        // Status bits read best in hex, the rest in decimal.
        std::snprintf(buf, sizeof buf, f.kind == Fault::Status || f.kind == Fault::ExtStatus ? "0x%02X" : "%d",
                      f.value);
        out = buf;
    }
    char buf[32];
    if (f.cmd >= 0) {
        std::snprintf(buf, sizeof buf, "cmd=%02X", f.cmd);
        out += (out.empty() ? "" : ",") + std::string(buf);
    }
    if (f.count >= 0) out += (out.empty() ? "" : ",") + std::string("count=") + std::to_string(f.count);
    return out;
}

std::vector<Fault> Simulator::Faults() const
{
    std::lock_guard<std::mutex> lock(faultsMutex_);
    std::vector<Fault> live;
    for (const auto& f : faults_)
        if (f.count != 0) live.push_back(f);
    return live;
}

bool Simulator::SwitchFault(const std::string& kind, bool on, const std::string& tail, std::string& error)
{
    const FaultKindInfo* info = nullptr;
    const auto kinds = FaultKinds();
    for (const auto& k : kinds)
        if (kind == k.name) info = &k;
    if (!info) {
        error = "unknown fault '" + kind + "'";
        return false;
    }
    Fault f;
    if (on) {
        // The tail as given after the name, with or without its "=" or ",".
        std::string spec = kind;
        if (!tail.empty()) {
            const bool option = tail.rfind("cmd=", 0) == 0 || tail.rfind("count=", 0) == 0;
            if (tail[0] == '=' || tail[0] == ',') spec += tail;
            else spec += (info->takesValue && !option ? "=" : ",") + tail;
        }
        if (!ParseFault(spec, f, error)) return false;
    }
    std::lock_guard<std::mutex> lock(faultsMutex_);
    std::vector<Fault> kept;
    for (const auto& x : faults_)
        if (FaultName(x.kind) != kind) kept.push_back(x);
    if (on) kept.push_back(f);
    faults_ = kept;
    return true;
}

std::string FaultHelp()
{
    std::string s;
    for (const auto& k : kFaultKinds) {
        // The meanings start in column 25; a longer name has its meaning on the next line.
        std::string n = std::string("  ") + k.name;
        if (n.size() >= 24) n += "\n";
        n.resize(n.back() == '\n' ? n.size() + 24 : 24, ' ');
        s += n + k.help + "\n";
    }
    return s;
}

} // namespace serialsim
