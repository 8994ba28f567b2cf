#include "simulator.h"

#include "frame_reader.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace serialsim {

Answer LengthError();

namespace {

constexpr std::uint8_t STX = 0x02, ETX = 0x03, ENQ = 0x05, ACK = 0x06, DLE = 0x10, NAK = 0x15, SYN = 0x16;
constexpr int kFrameByteMs = 500;  // silence that ends an incomplete frame
constexpr std::uint32_t kSynEveryMs = 100;
constexpr std::size_t kTraceBytes = 4096;  // of what was sent, kept for an observer

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
bool ParseNumber(const std::string& s, long& out) {
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0]))) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtol(s.c_str(), &end, 0);
    return *end == '\0' && errno != ERANGE;
}

constexpr long kMaxFaultCount = 1000000;

// The largest value a fault kind takes: a byte of the answer for the error code and the
// status bits, milliseconds for the rest.
long MaxFaultValue(Fault::Kind kind) {
    return kind == Fault::Error || kind == Fault::Status || kind == Fault::ExtStatus ? 255 : 600000;
}

std::string Hex(const Bytes& b) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i) s += ' ';
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    return s;
}

void Stuff(Bytes& out, std::uint8_t b) {
    out.push_back(b);
    if (b == DLE) out.push_back(DLE);
}

} // namespace

bool ParseFault(const std::string& spec, Fault& fault, std::string& error) {
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

bool ParseClock(const char* text, std::time_t& out) {
    std::tm tm{};
    int y, mo, d, h, mi, s;
    char tail;
    if (std::sscanf(text, "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6) return false;
    if (y < 2000 || y > 2099 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
        s < 0 || s > 59)
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

void Simulator::PollControl() {
    if (control_ < 0) return;
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(control_, buf, sizeof buf);
        if (n <= 0) break;
        controlBuffer_.append(buf, static_cast<std::size_t>(n));
        if (controlBuffer_.size() > 65536) controlBuffer_.clear();  // no line end in sight
    }
    std::size_t eol;
    while ((eol = controlBuffer_.find('\n')) != std::string::npos) {
        std::string line = controlBuffer_.substr(0, eol);
        controlBuffer_.erase(0, eol + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) ApplyControl(line);
    }
}

void Simulator::ApplyControl(const std::string& line) {
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
            if (!wasOpen && state_.ShiftOpen()) state_.books.shift.opened = state_.Now();  // a shift begins
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

std::vector<FaultKindInfo> FaultKinds() {
    std::vector<FaultKindInfo> out;
    for (const auto& k : kFaultKinds) out.push_back({k.name, k.help, k.needsValue || k.defaultValue != 0});
    return out;
}

const char* FaultName(Fault::Kind kind) {
    for (const auto& k : kFaultKinds)
        if (k.kind == kind) return k.name;
    return "?";
}

std::string FaultTail(const Fault& f) {
    std::string out;
    for (const auto& k : kFaultKinds) {
        if (k.kind != f.kind || !(k.needsValue || k.defaultValue != 0)) continue;
        char buf[16];
        // Status bits read best in hex, the rest in decimal.
        std::snprintf(buf, sizeof buf, f.kind == Fault::Status || f.kind == Fault::ExtStatus ? "0x%02X" : "%d", f.value);
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

std::vector<Fault> Simulator::Faults() const {
    std::lock_guard<std::mutex> lock(faultsMutex_);
    std::vector<Fault> live;
    for (const auto& f : faults_)
        if (f.count != 0) live.push_back(f);
    return live;
}

bool Simulator::SwitchFault(const std::string& kind, bool on, const std::string& tail, std::string& error) {
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

std::string FaultHelp() {
    std::string s;
    for (const auto& k : kFaultKinds) {
        std::string n = std::string("  ") + k.name;
        n.resize(24, ' ');
        s += n + k.help + "\n";
    }
    return s;
}

void Simulator::Log(const char* fmt, ...) {
    if (!log_) return;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(log_, fmt, ap);
    va_end(ap);
    std::fputc('\n', log_);
    std::fflush(log_);
}

void Simulator::LogBytes(const char* label, const Bytes& bytes) { Log("%s %s", label, Hex(bytes).c_str()); }

void Simulator::Send(const Bytes& bytes, const char* what) {
    if (what)
        Log("tx %s", what);
    else
        LogBytes("tx", bytes);
    if (trace_ && trace_->sent.size() < kTraceBytes)
        trace_->sent.insert(trace_->sent.end(), bytes.begin(),
                            bytes.begin() + static_cast<long>(std::min(bytes.size(), kTraceBytes - trace_->sent.size())));
    line_.Write(bytes);
}

void Simulator::Report(Exchange& e) {
    if (!observer_) return;
    observer_->Exchanged(e);
    observer_->StateChanged(state_);
}

void Simulator::Run(const volatile bool& stop) {
    for (;;) {
        std::uint8_t b = 0;
        if (line_.ReadByte(b, -1, stop) != Line::Read::Byte) return;
        if (b != DLE) {
            Log("rx stray %02X", b);
            continue;
        }
        const auto t0 = std::chrono::steady_clock::now();
        FrameReader reader;
        reader.Begin();
        FrameReader::Step step = FrameReader::Step::More;
        while (step == FrameReader::Step::More) {
            const Line::Read r = line_.ReadByte(b, kFrameByteMs, stop);
            if (r == Line::Read::Stopped) return;
            if (r == Line::Read::Timeout) break;
            step = reader.Feed(b);
        }
        if (step != FrameReader::Step::Complete) {
            LogBytes(step == FrameReader::Step::Bad ? "rx bad frame" : "rx incomplete frame", reader.Raw());
            Exchange e;
            e.received = reader.Raw();
            e.problem = step == FrameReader::Step::Bad ? "bad frame" : "incomplete frame";
            Report(e);
            continue;
        }
        line_.WaitWireTime(t0, reader.Raw().size());
        if (line_.SpeedMismatch()) {
            LogBytes("rx garbled", reader.Raw());
            Log("the driver sends at %u baud, the register runs at %u: no answer", line_.DriverBaud(), line_.Baud());
            continue;
        }
        LogBytes("rx", reader.Raw());
        const Bytes& payload = reader.Payload();
        Exchange e;
        e.received = reader.Raw();
        trace_ = &e;
        if (!reader.PayloadValid()) {
            e.problem = payload.size() < 3 ? "frame too short" : "checksum error";
            Log("%s", e.problem.c_str());
            Send({NAK}, "NAK");
        } else {
            Handle(payload[0], Bytes(payload.begin() + 1, payload.end() - 1), stop, e);
        }
        trace_ = nullptr;
        Report(e);
    }
}

void Simulator::WriteBooks() {
    if (booksPath_.empty()) return;
    const std::string text = DumpBooks(state_);
    const std::string temp = booksPath_ + ".new";
    std::FILE* f = std::fopen(temp.c_str(), "w");
    if (!f) {
        Log("books: cannot write %s", temp.c_str());
        return;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !ok || std::rename(temp.c_str(), booksPath_.c_str()) != 0)
        Log("books: cannot write %s", booksPath_.c_str());
}

bool Simulator::PullExtra(std::size_t count, Bytes& extra, const volatile bool& stop) {
    while (extra.size() < count) {
        const std::size_t n = std::min<std::size_t>(64, count - extra.size());
        Send({ENQ}, "ENQ");
        Bytes block;
        std::uint8_t b;
        while (block.size() < n + 1) {
            const Line::Read r = line_.ReadByte(b, 1000, stop);
            if (r != Line::Read::Byte) {
                LogBytes("extra data cut short", block);
                return false;
            }
            block.push_back(b);
        }
        std::uint8_t sum = 0;
        for (auto x : block) sum = static_cast<std::uint8_t>(sum + x);
        Log("rx extra block (%zu bytes)%s", n, sum ? ": checksum error" : "");
        if (sum != 0) {
            Send({NAK}, "NAK");
            return false;
        }
        extra.insert(extra.end(), block.begin(), block.end() - 1);
        if (trace_ && trace_->received.size() < kTraceBytes) trace_->received.insert(trace_->received.end(), block.begin(), block.end());
    }
    return true;
}

void Simulator::Handle(std::uint8_t seq, const Bytes& request, const volatile bool& stop, Exchange& e) {
    PollControl();
    const std::uint8_t cmd = request[0];
    const CommandSpec* spec = FindCommand(cmd);
    Log("cmd %02X %s seq %02X, %zu request bytes", cmd, spec ? spec->name : "(unknown)", seq, request.size());
    e.cmd = cmd;
    e.name = spec ? spec->name : "";
    e.seq = seq;

    // The faults for this answer; each one used counts against its limit.
    bool has[Fault::KindCount] = {};
    int value[Fault::KindCount] = {};
    {
        std::lock_guard<std::mutex> lock(faultsMutex_);
        for (auto& f : faults_) {
            if (f.count == 0 || (f.cmd >= 0 && f.cmd != cmd)) continue;
            if (f.count > 0) --f.count;
            if (!has[f.kind]) e.faults.push_back(FaultName(f.kind));
            has[f.kind] = true;
            value[f.kind] |= f.value;
            if (f.kind == Fault::SynStorm || f.kind == Fault::Error || f.kind == Fault::Slow) value[f.kind] = f.value;
        }
    }

    if (has[Fault::Nak]) {
        Send({NAK}, "NAK");
        return;
    }
    if (has[Fault::Silence]) {
        Log("silent");
        return;
    }
    if (has[Fault::Garbage]) {
        Send({0x47, 0x61, 0x72, 0x62, 0xFF, 0x00});
        return;
    }
    if (has[Fault::SynFirst]) Send({SYN}, "SYN");
    if (has[Fault::AckLost])
        Log("ACK lost");
    else
        Send({ACK}, "ACK");
    if (has[Fault::SilenceAfterAck]) {
        Log("silent");
        return;
    }

    // A frame with the sequence number and bytes of the last command executed is the
    // driver's retry after a lost or damaged answer: the register answers it again from
    // its memory and executes nothing (with extra data, those must match too).
    const bool sameFrame = haveLast_ && seq == lastSeq_ && request == lastRequest_;
    std::uint32_t busy = spec && !sameFrame ? spec->busyMs * busyPercent_ / 100 : 0;
    if (has[Fault::SynStorm]) busy += static_cast<std::uint32_t>(value[Fault::SynStorm]);
    if (busy > 0) {
        Log("tx SYN every %u ms for %u ms", kSynEveryMs, busy);
        for (std::uint32_t t = 0; t < busy && !stop; t += kSynEveryMs) {
            if (trace_ && trace_->sent.size() < kTraceBytes) trace_->sent.push_back(SYN);
            line_.Write({SYN});
            std::this_thread::sleep_for(std::chrono::milliseconds(kSynEveryMs));
        }
    }
    std::uint32_t silent = spec && !sameFrame ? spec->silentMs : 0;
    if (has[Fault::Slow]) silent += static_cast<std::uint32_t>(value[Fault::Slow]);
    if (silent > 0) {
        Log("silent for %u ms", silent);
        for (std::uint32_t t = 0; t < silent && !stop; t += 50)
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<std::uint32_t>(50, silent - t)));
    }
    if (has[Fault::StrayEnq]) Send({ENQ}, "ENQ");

    Answer answer;
    const std::size_t extraCount = spec && spec->extraBytes && request.size() >= spec->minLength
                                       ? spec->extraBytes(request) : 0;
    Bytes extra;
    if (extraCount > 0 && !PullExtra(extraCount, extra, stop)) {
        e.problem = "extra data not received";
        return;
    }
    if (sameFrame && extra == lastExtra_) {
        Log("repeated frame: same answer, not executed again");
        answer = lastAnswer_;
        e.repeated = true;
    } else {
        if (!spec) {
            answer.status = 0x80;  // no such command
        } else if (request.size() < spec->minLength) {
            answer = LengthError();
        } else {
            answer = spec->run(state_, request, extra);
        }
        // The books are on disk before the answer goes out, so whoever reads them after
        // the answer sees this command's effect.
        WriteBooks();
        haveLast_ = true;
        lastSeq_ = seq;
        lastRequest_ = request;
        lastExtra_ = std::move(extra);
        lastAnswer_ = answer;
    }
    e.answer = answer;
    if (has[Fault::AnswerLostAfterExec]) {
        Log("answer lost");
        return;
    }

    // Frame the answer, with the faults that concern it.
    Bytes payload{static_cast<std::uint8_t>(has[Fault::WrongSeq] ? seq + 1 : seq),
                  static_cast<std::uint8_t>(has[Fault::WrongCmd] ? cmd ^ 0x40 : cmd),
                  static_cast<std::uint8_t>(answer.status | value[Fault::Status]),
                  static_cast<std::uint8_t>(has[Fault::Error] ? value[Fault::Error] : answer.error),
                  static_cast<std::uint8_t>(state_.extStatus | value[Fault::ExtStatus])};
    payload.insert(payload.end(), answer.data.begin(), answer.data.end());
    if (has[Fault::ShortData] && payload.size() > 5 + static_cast<std::size_t>(value[Fault::ShortData]))
        payload.resize(5 + static_cast<std::size_t>(value[Fault::ShortData]));
    if (has[Fault::Oversize]) payload.resize(300, 0x4F);
    std::uint8_t sum = 0;
    for (auto p : payload) sum = static_cast<std::uint8_t>(sum + p);
    payload.push_back(static_cast<std::uint8_t>(0u - sum + (has[Fault::BadChecksum] ? 1 : 0)));
    if (has[Fault::AnswerDamagedAfterExec]) payload[2] ^= 0x04;  // a bit flipped on the way
    e.answer.status = payload[2];
    e.answer.error = payload[3];

    Bytes frame{DLE, STX};
    for (std::size_t i = 0; i < payload.size(); ++i) {
        Stuff(frame, payload[i]);
        if (i == 1 && has[Fault::StrayDle]) frame.insert(frame.end(), {DLE, 0x41});
    }
    frame.insert(frame.end(), {DLE, ETX});
    if (has[Fault::Truncate]) {
        frame.resize(frame.size() / 2);
    } else if (!has[Fault::NoTrailer]) {
        // Two bytes after the frame: the status and extended status again.
        frame.push_back(payload[2]);
        frame.push_back(payload[4]);
    }
    Send(frame);
    e.answered = true;
    // A new line speed takes effect once the answer is out.
    if (state_.switchBaud) {
        line_.SwitchTo(state_.switchBaud);
        Log("line speed now %u baud", state_.switchBaud);
        state_.switchBaud = 0;
    }
}

} // namespace serialsim
