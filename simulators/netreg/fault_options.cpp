// The fault switches as options: parsed the same way from the command line and from the
// console, listed with their current values.
#include "netsim.h"

#include <Poco/NumberParser.h>

#include <stdexcept>

namespace netsim {

namespace {

[[noreturn]] void refuse(const std::string& text) { throw std::invalid_argument(text); }

constexpr int kMaxOversize = 17 * 1024 * 1024;

std::pair<std::string, std::string> pathValue(const std::string& arg, const std::string& option)
{
    const auto eq = arg.rfind('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == arg.size())
        refuse("--" + option + " expects PATH=VALUE, got \"" + arg + "\"");
    return {arg.substr(0, eq), arg.substr(eq + 1)};
}

// "VALUE:SUFFIX" as {VALUE, SUFFIX}; no colon gives an empty suffix.
std::pair<std::string, std::string> splitSuffix(const std::string& text)
{
    const auto colon = text.find(':');
    if (colon == std::string::npos) return {text, std::string()};
    return {text.substr(0, colon), text.substr(colon + 1)};
}

int number(const std::string& text, const std::string& option, int low, int high)
{
    int v = 0;
    if (!Poco::NumberParser::tryParse(text, v) || v < low || v > high)
        refuse("--" + option + ": \"" + text + "\" is not a number from " + std::to_string(low) + " to " +
               std::to_string(high));
    return v;
}

std::string path(const std::string& arg, const std::string& option)
{
    if (arg.empty()) refuse("--" + option + " expects PATH");
    return arg;
}

// The option's values as PATH=VALUE arguments, one per path.
template <class Map, class Text>
std::vector<std::string> perPath(const Map& map, Text text)
{
    std::vector<std::string> out;
    for (const auto& kv : map) out.push_back(kv.first + "=" + text(kv.second));
    return out;
}

std::vector<std::string> paths(const std::set<std::string>& set) { return {set.begin(), set.end()}; }

std::vector<std::string> flag(bool on) { return on ? std::vector<std::string>{""} : std::vector<std::string>{}; }

std::vector<std::string> count(int n, int off) { return n == off ? std::vector<std::string>{} : std::vector<std::string>{std::to_string(n)}; }

const char* badAnswerName(Faults::BadAnswer a)
{
    switch (a) {
    case Faults::BadAnswer::Html: return "html";
    case Faults::BadAnswer::Array: return "array";
    case Faults::BadAnswer::Broken: return "broken";
    case Faults::BadAnswer::None: break;
    }
    return "";
}

std::vector<FaultOption> makeOptions()
{
    using F = Faults;
    std::vector<FaultOption> o;
    auto add = [&](const char* name, const char* argument, bool perPathOption, const char* help,
                   std::function<void(F&, const std::string&)> apply, std::function<void(F&)> clear,
                   std::function<std::vector<std::string>(const F&)> values) {
        o.push_back(FaultOption{name, argument, help, perPathOption, apply, clear, values});
    };
    add("delay", "PATH=MS", true, "answer PATH only after MS milliseconds",
        [](F& f, const std::string& a) { auto kv = pathValue(a, "delay"); f.delayMs[kv.first] = number(kv.second, "delay", 0, 3600000); },
        [](F& f) { f.delayMs.clear(); },
        [](const F& f) { return perPath(f.delayMs, [](int v) { return std::to_string(v); }); });
    add("status", "PATH=CODE", true, "answer PATH with HTTP status CODE (404, 500, ...)",
        [](F& f, const std::string& a) { auto kv = pathValue(a, "status"); f.status[kv.first] = number(kv.second, "status", 100, 599); },
        [](F& f) { f.status.clear(); },
        [](const F& f) { return perPath(f.status, [](int v) { return std::to_string(v); }); });
    add("malformed", "PATH", true, "answer PATH with broken JSON",
        [](F& f, const std::string& a) { f.malformed.insert(path(a, "malformed")); },
        [](F& f) { f.malformed.clear(); }, [](const F& f) { return paths(f.malformed); });
    add("err", "PATH=CODE", true, "answer PATH with {\"err\":\"CODE\"}",
        [](F& f, const std::string& a) { auto kv = pathValue(a, "err"); f.err[kv.first] = kv.second; },
        [](F& f) { f.err.clear(); },
        [](const F& f) { return perPath(f.err, [](const std::string& v) { return v; }); });
    add("err-array", "PATH=C1[,C2...]", true, "answer PATH with {\"err\":[{\"e\":\"C1\"},...]}",
        [](F& f, const std::string& a) {
            auto kv = pathValue(a, "err-array");
            std::vector<std::string> codes;
            std::size_t start = 0;
            for (;;) {
                const auto comma = kv.second.find(',', start);
                const std::string code = kv.second.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                if (!code.empty()) codes.push_back(code);
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
            f.errArray[kv.first] = codes;
        },
        [](F& f) { f.errArray.clear(); },
        [](const F& f) {
            return perPath(f.errArray, [](const std::vector<std::string>& codes) {
                std::string s;
                for (const auto& c : codes) s += (s.empty() ? "" : ",") + c;
                return s.empty() ? std::string(",") : s;   // no codes: what sets none again
            });
        });
    add("oversize", "PATH=BYTES", true, "pad the answer of PATH with blanks to BYTES bytes (at most 17825792: 17 MiB)",
        [](F& f, const std::string& a) {
            auto kv = pathValue(a, "oversize");
            // Enough to pass the network client's 16 MiB answer limit, no more.
            f.oversize[kv.first] = static_cast<std::size_t>(number(kv.second, "oversize", 0, kMaxOversize));
        },
        [](F& f) { f.oversize.clear(); },
        [](const F& f) { return perPath(f.oversize, [](std::size_t v) { return std::to_string(v); }); });
    add("drop-after", "PATH", true, "carry out requests to PATH, then drop the connection unanswered",
        [](F& f, const std::string& a) { f.dropAfter.insert(path(a, "drop-after")); },
        [](F& f) { f.dropAfter.clear(); }, [](const F& f) { return paths(f.dropAfter); });
    add("stall-after", "PATH=MS", true, "carry out requests to PATH, then answer only after MS milliseconds",
        [](F& f, const std::string& a) { auto kv = pathValue(a, "stall-after"); f.stallAfterMs[kv.first] = number(kv.second, "stall-after", 0, 3600000); },
        [](F& f) { f.stallAfterMs.clear(); },
        [](const F& f) { return perPath(f.stallAfterMs, [](int v) { return std::to_string(v); }); });
    add("always-401", "", false, "refuse every login",
        [](F& f, const std::string&) { f.always401 = true; }, [](F& f) { f.always401 = false; },
        [](const F& f) { return flag(f.always401); });
    add("deflate", "", false, "send bodies with Content-Encoding: deflate",
        [](F& f, const std::string&) { f.deflate = true; }, [](F& f) { f.deflate = false; },
        [](const F& f) { return flag(f.deflate); });
    add("bom", "", false, "start bodies with a UTF-8 byte-order mark",
        [](F& f, const std::string&) { f.bom = true; }, [](F& f) { f.bom = false; },
        [](const F& f) { return flag(f.bom); });
    add("stall-body", "PATH=MS", true,
        "carry out requests to PATH, send the head and half the body, wait MS milliseconds, then send the rest and close",
        [](F& f, const std::string& a) { auto kv = pathValue(a, "stall-body"); f.stallBodyMs[kv.first] = number(kv.second, "stall-body", 0, 3600000); },
        [](F& f) { f.stallBodyMs.clear(); },
        [](const F& f) { return perPath(f.stallBodyMs, [](int v) { return std::to_string(v); }); });
    add("drip", "PATH=MS[:head|:body]", true,
        "send the answer of PATH one byte every MS milliseconds (head and body, or only the part named), then close",
        [](F& f, const std::string& a) {
            auto kv = pathValue(a, "drip");
            Faults::Drip drip;
            auto given = splitSuffix(kv.second);
            if (given.second == "head") drip.body = false;
            else if (given.second == "body") drip.head = false;
            else if (!given.second.empty()) refuse("--drip expects PATH=MS, PATH=MS:head or PATH=MS:body");
            drip.ms = number(given.first, "drip", 1, 3600000);
            f.drip[kv.first] = drip;
        },
        [](F& f) { f.drip.clear(); },
        [](const F& f) {
            return perPath(f.drip, [](const Faults::Drip& d) {
                return std::to_string(d.ms) + (d.head && d.body ? "" : d.head ? ":head" : ":body");
            });
        });
    add("reset", "PATH", true, "reset the connection (TCP RST) on requests to PATH, without carrying them out",
        [](F& f, const std::string& a) { f.reset.insert(path(a, "reset")); },
        [](F& f) { f.reset.clear(); }, [](const F& f) { return paths(f.reset); });
    add("reset-after", "N", false, "reset each connection at its request N+1, without carrying it out",
        [](F& f, const std::string& a) { f.resetAfter = number(a, "reset-after", 0, 1000000); },
        [](F& f) { f.resetAfter = -1; }, [](const F& f) { return count(f.resetAfter, -1); });
    add("not-a-register", "404|500", false, "answer every path with this status and an HTML page, no login",
        [](F& f, const std::string& a) {
            const int status = number(a, "not-a-register", 404, 500);
            if (status != 404 && status != 500) refuse("--not-a-register expects 404 or 500");
            f.notRegister = status;
        },
        [](F& f) { f.notRegister = 0; }, [](const F& f) { return count(f.notRegister, 0); });
    add("document-answer", "html|array|broken[:booked]", false,
        "answer documents POSTed to /cgi/chk with 200 and an HTML page, a JSON array or broken JSON; carried out "
        "only with :booked",
        [](F& f, const std::string& a) {
            auto given = splitSuffix(a);
            bool booked = false;
            if (given.second == "booked") booked = true;
            else if (!given.second.empty()) refuse("--document-answer expects KIND or KIND:booked");
            if (given.first == "html") f.documentAnswer = Faults::BadAnswer::Html;
            else if (given.first == "array") f.documentAnswer = Faults::BadAnswer::Array;
            else if (given.first == "broken") f.documentAnswer = Faults::BadAnswer::Broken;
            else refuse("--document-answer expects html, array or broken");
            f.documentAnswerBooked = booked;
        },
        [](F& f) { f.documentAnswer = Faults::BadAnswer::None; f.documentAnswerBooked = false; },
        [](const F& f) {
            if (f.documentAnswer == Faults::BadAnswer::None) return std::vector<std::string>{};
            return std::vector<std::string>{std::string(badAnswerName(f.documentAnswer)) +
                                             (f.documentAnswerBooked ? ":booked" : "")};
        });
    add("document-status", "CODE[:REASON]", false,
        "answer documents POSTed to /cgi/chk with HTTP status CODE, reason phrase REASON and an HTML page; not "
        "carried out",
        [](F& f, const std::string& a) {
            const auto colon = a.find(':');
            const int status = number(a.substr(0, colon), "document-status", 100, 599);
            const std::string reason = colon == std::string::npos ? std::string() : a.substr(colon + 1);
            // A line end would end the answer's head there and forge what follows.
            for (char c : reason)
                if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F)
                    refuse("--document-status: the reason may hold no control characters");
            f.documentStatus = status;
            f.documentReason = reason;
        },
        [](F& f) { f.documentStatus = 0; f.documentReason.clear(); },
        [](const F& f) {
            if (!f.documentStatus) return std::vector<std::string>{};
            return std::vector<std::string>{std::to_string(f.documentStatus) +
                                             (f.documentReason.empty() ? "" : ":" + f.documentReason)};
        });
    add("foreign-document", "JSON", false,
        "before each POST to /cgi/chk, book JSON (such as {} or a receipt) as another till's document",
        [](F& f, const std::string& a) {
            if (Register::documentKind(a).empty())
                refuse("--foreign-document expects a document such as {} or {\"F\":[...]}");
            f.foreignDocument = a;
        },
        [](F& f) { f.foreignDocument.clear(); },
        [](const F& f) {
            return f.foreignDocument.empty() ? std::vector<std::string>{} : std::vector<std::string>{f.foreignDocument};
        });
    add("challenge-first", "", false,
        "accept credentials only in answer to a challenge (a Digest nonce serves the one request answering it, Basic "
        "counts only in answer to a 401 sent to the client's host)",
        [](F& f, const std::string&) { f.challengeFirst = true; }, [](F& f) { f.challengeFirst = false; },
        [](const F& f) { return flag(f.challengeFirst); });
    add("nonce-uses", "N", false, "a nonce serves N requests, then the answer is 401 with stale=true",
        [](F& f, const std::string& a) { f.nonceUses = number(a, "nonce-uses", 1, 1000000); },
        [](F& f) { f.nonceUses = 0; }, [](const F& f) { return count(f.nonceUses, 0); });
    add("nonce-seconds", "N", false,
        "a nonce lasts N seconds, then the answer is 401 with stale=true",
        [](F& f, const std::string& a) { f.nonceSeconds = number(a, "nonce-seconds", 1, 86400); },
        [](F& f) { f.nonceSeconds = 0; }, [](const F& f) { return count(f.nonceSeconds, 0); });
    return o;
}

} // namespace

const std::vector<FaultOption>& faultOptions()
{
    static const std::vector<FaultOption> options = makeOptions();
    return options;
}

const FaultOption* findFaultOption(const std::string& name)
{
    for (const auto& o : faultOptions())
        if (name == o.name) return &o;
    return nullptr;
}

void switchFault(Faults& faults, const std::string& name, bool on, const std::string& value)
{
    const FaultOption* o = findFaultOption(name);
    if (!o) refuse("no fault switch \"" + name + "\"");
    Faults next = faults;
    o->clear(next);
    if (on) {
        if (!*o->argument) {
            o->apply(next, "");
        } else if (o->perPath) {
            // Several paths, separated by blanks.
            std::size_t start = 0, given = 0;
            while (start < value.size()) {
                std::size_t end = value.find_first_of(" \t", start);
                if (end == std::string::npos) end = value.size();
                if (end > start) {
                    o->apply(next, value.substr(start, end - start));
                    ++given;
                }
                start = end + 1;
            }
            if (!given) refuse(std::string(name) + " needs a value like " + o->argument);
        } else {
            if (value.empty()) refuse(std::string(name) + " needs a value like " + o->argument);
            o->apply(next, value);
        }
    }
    faults = next;
}

std::string faultValue(const Faults& faults, const FaultOption& option)
{
    std::string out;
    for (const auto& v : option.values(faults)) out += (out.empty() ? "" : " ") + v;
    return out;
}

} // namespace netsim
