// The fault switches as options: parsed the same way from the command line and from the
// console, listed with their current values.
#include "simulators/netreg/netsim.h"

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

std::vector<std::string> count(int n, int off)
{
    return n == off ? std::vector<std::string>{} : std::vector<std::string>{std::to_string(n)};
}

const char* badAnswerName(Faults::BadAnswer a)
{
    switch (a) {
    case Faults::BadAnswer::Html: return "html";
    case Faults::BadAnswer::Array: return "array";
    case Faults::BadAnswer::Broken: return "broken";
    case Faults::BadAnswer::Empty: return "empty";
    case Faults::BadAnswer::Close: return "close";
    case Faults::BadAnswer::None: break;
    }
    return "";
}

// "[PATH@]N[+]:SWITCH[=VALUE]"; the switch and its value are checked when the rule is
// applied (see applyAfterDocument), and here by applying them to nothing.
Faults::AfterDocument afterDocumentRule(const std::string& a)
{
    Faults::AfterDocument r;
    const auto colon = a.find(':');
    if (colon == std::string::npos) refuse("--after-document expects [PATH@]N[+]:SWITCH[=VALUE], got \"" + a + "\"");
    std::string count = a.substr(0, colon);
    const auto at = count.rfind('@');
    if (at != std::string::npos) {
        r.path = count.substr(0, at);
        count = count.substr(at + 1);
        if (r.path.empty()) refuse("--after-document: empty PATH in \"" + a + "\"");
    }
    if (!count.empty() && count.back() == '+') {
        r.onward = true;
        count.pop_back();
    }
    r.nth = number(count, "after-document", 1, 1000000);
    const std::string fault = a.substr(colon + 1);
    const auto eq = fault.find('=');
    r.option = fault.substr(0, eq);
    r.value = eq == std::string::npos ? std::string() : fault.substr(eq + 1);
    if (r.option == "after-document") refuse("--after-document can't apply itself");
    Faults scratch;
    applyAfterDocument(scratch, r);
    return r;
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
    add(
        "delay", "PATH=MS", true, "answer PATH only after MS milliseconds",
        [](F& f, const std::string& a) {
            auto kv = pathValue(a, "delay");
            f.delayMs[kv.first] = number(kv.second, "delay", 0, 3600000);
        },
        [](F& f) { f.delayMs.clear(); },
        [](const F& f) { return perPath(f.delayMs, [](int v) { return std::to_string(v); }); });
    add(
        "status", "PATH=CODE", true, "answer PATH with HTTP status CODE (404, 500, ...)",
        [](F& f, const std::string& a) {
            auto kv = pathValue(a, "status");
            f.status[kv.first] = number(kv.second, "status", 100, 599);
        },
        [](F& f) { f.status.clear(); },
        [](const F& f) { return perPath(f.status, [](int v) { return std::to_string(v); }); });
    add(
        "malformed", "PATH", true, "answer PATH with broken JSON",
        [](F& f, const std::string& a) { f.malformed.insert(path(a, "malformed")); }, [](F& f) { f.malformed.clear(); },
        [](const F& f) { return paths(f.malformed); });
    add(
        "err", "PATH=CODE", true, "answer PATH with {\"err\":\"CODE\"}",
        [](F& f, const std::string& a) {
            auto kv = pathValue(a, "err");
            f.err[kv.first] = kv.second;
        },
        [](F& f) { f.err.clear(); }, [](const F& f) { return perPath(f.err, [](const std::string& v) { return v; }); });
    add(
        "err-array", "PATH=C1[,C2...]", true, "answer PATH with {\"err\":[{\"e\":\"C1\"},...]}",
        [](F& f, const std::string& a) {
            auto kv = pathValue(a, "err-array");
            std::vector<std::string> codes;
            std::size_t start = 0;
            for (;;) {
                const auto comma = kv.second.find(',', start);
                const std::string code = kv.second.substr(start, comma == std::string::npos ? std::string::npos
                                                                                            : comma - start);
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
                return s.empty() ? std::string(",") : s; // no codes: what sets none again
            });
        });
    add(
        "oversize", "PATH=BYTES", true, "pad the answer of PATH with blanks to BYTES bytes (at most 17825792: 17 MiB)",
        [](F& f, const std::string& a) {
            auto kv = pathValue(a, "oversize");
            // Enough to pass the network client's 16 MiB answer limit, no more.
            f.oversize[kv.first] = static_cast<std::size_t>(number(kv.second, "oversize", 0, kMaxOversize));
        },
        [](F& f) { f.oversize.clear(); },
        [](const F& f) { return perPath(f.oversize, [](std::size_t v) { return std::to_string(v); }); });
    add(
        "drop-after", "PATH", true, "carry out requests to PATH, then drop the connection unanswered",
        [](F& f, const std::string& a) { f.dropAfter.insert(path(a, "drop-after")); },
        [](F& f) { f.dropAfter.clear(); }, [](const F& f) { return paths(f.dropAfter); });
    add(
        "stall-after", "PATH=MS", true, "carry out requests to PATH, then answer only after MS milliseconds",
        [](F& f, const std::string& a) {
            auto kv = pathValue(a, "stall-after");
            f.stallAfterMs[kv.first] = number(kv.second, "stall-after", 0, 3600000);
        },
        [](F& f) { f.stallAfterMs.clear(); },
        [](const F& f) { return perPath(f.stallAfterMs, [](int v) { return std::to_string(v); }); });
    add(
        "always-401", "", false, "refuse every login", [](F& f, const std::string&) { f.always401 = true; },
        [](F& f) { f.always401 = false; }, [](const F& f) { return flag(f.always401); });
    add(
        "deflate", "", false, "send bodies with Content-Encoding: deflate",
        [](F& f, const std::string&) { f.deflate = true; }, [](F& f) { f.deflate = false; },
        [](const F& f) { return flag(f.deflate); });
    add(
        "bom", "", false, "start bodies with a UTF-8 byte-order mark", [](F& f, const std::string&) { f.bom = true; },
        [](F& f) { f.bom = false; }, [](const F& f) { return flag(f.bom); });
    add(
        "stall-body", "PATH=MS", true,
        "carry out requests to PATH, send the head and half the body, wait MS milliseconds, then send the rest and close",
        [](F& f, const std::string& a) {
            auto kv = pathValue(a, "stall-body");
            f.stallBodyMs[kv.first] = number(kv.second, "stall-body", 0, 3600000);
        },
        [](F& f) { f.stallBodyMs.clear(); },
        [](const F& f) { return perPath(f.stallBodyMs, [](int v) { return std::to_string(v); }); });
    add(
        "drip", "PATH=MS[:head|:body]", true,
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
    add(
        "reset", "PATH", true, "reset the connection (TCP RST) on requests to PATH, without carrying them out",
        [](F& f, const std::string& a) { f.reset.insert(path(a, "reset")); }, [](F& f) { f.reset.clear(); },
        [](const F& f) { return paths(f.reset); });
    add(
        "reset-after", "N", false, "reset each connection at its request N+1, without carrying it out",
        [](F& f, const std::string& a) { f.resetAfter = number(a, "reset-after", 0, 1000000); },
        [](F& f) { f.resetAfter = -1; }, [](const F& f) { return count(f.resetAfter, -1); });
    add(
        "not-a-register", "404|500", false, "answer every path with this status and an HTML page, no login",
        [](F& f, const std::string& a) {
            const int status = number(a, "not-a-register", 404, 500);
            if (status != 404 && status != 500) refuse("--not-a-register expects 404 or 500");
            f.notRegister = status;
        },
        [](F& f) { f.notRegister = 0; }, [](const F& f) { return count(f.notRegister, 0); });
    add(
        "document-answer", "html|array|broken|empty|close[:booked]", false,
        "answer documents POSTed to /cgi/chk with 200 and an HTML page, a JSON array, broken JSON, an empty body "
        "(Content-Length: 0) or the head alone and a close; carried out only with :booked",
        [](F& f, const std::string& a) {
            auto given = splitSuffix(a);
            bool booked = false;
            if (given.second == "booked") booked = true;
            else if (!given.second.empty()) refuse("--document-answer expects KIND or KIND:booked");
            if (given.first == "html") f.documentAnswer = Faults::BadAnswer::Html;
            else if (given.first == "array") f.documentAnswer = Faults::BadAnswer::Array;
            else if (given.first == "broken") f.documentAnswer = Faults::BadAnswer::Broken;
            else if (given.first == "empty") f.documentAnswer = Faults::BadAnswer::Empty;
            else if (given.first == "close") f.documentAnswer = Faults::BadAnswer::Close;
            else refuse("--document-answer expects html, array, broken, empty or close");
            f.documentAnswerBooked = booked;
        },
        [](F& f) {
            f.documentAnswer = Faults::BadAnswer::None;
            f.documentAnswerBooked = false;
        },
        [](const F& f) {
            if (f.documentAnswer == Faults::BadAnswer::None) return std::vector<std::string>{};
            return std::vector<std::string>{std::string(badAnswerName(f.documentAnswer)) +
                                            (f.documentAnswerBooked ? ":booked" : "")};
        });
    add(
        "document-status", "CODE[:booked][:REASON]", false,
        "answer documents POSTed to /cgi/chk with HTTP status CODE, reason phrase REASON and an HTML page; carried "
        "out only with :booked",
        [](F& f, const std::string& a) {
            auto given = splitSuffix(a);
            const int status = number(given.first, "document-status", 100, 599);
            bool booked = false;
            std::string reason = given.second;
            auto rest = splitSuffix(given.second);
            if (rest.first == "booked") {
                booked = true;
                reason = rest.second;
            }
            // A line end would end the answer's head there and forge what follows.
            for (char c : reason)
                if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F)
                    refuse("--document-status: the reason may hold no control characters");
            f.documentStatus = status;
            f.documentStatusBooked = booked;
            f.documentReason = reason;
        },
        [](F& f) {
            f.documentStatus = 0;
            f.documentStatusBooked = false;
            f.documentReason.clear();
        },
        [](const F& f) {
            if (!f.documentStatus) return std::vector<std::string>{};
            return std::vector<std::string>{std::to_string(f.documentStatus) +
                                            (f.documentStatusBooked ? ":booked" : "") +
                                            (f.documentReason.empty() ? "" : ":" + f.documentReason)};
        });
    add(
        "foreign-document", "JSON|same", false,
        "before each POST to /cgi/chk, book JSON (such as {} or a receipt) as another till's document; same: a copy "
        "of the receipt or cash document being POSTed",
        [](F& f, const std::string& a) {
            if (a != "same" && Register::documentKind(a).empty())
                refuse("--foreign-document expects same or a document such as {} or {\"F\":[...]}");
            f.foreignDocument = a;
        },
        [](F& f) { f.foreignDocument.clear(); },
        [](const F& f) {
            return f.foreignDocument.empty() ? std::vector<std::string>{} : std::vector<std::string>{f.foreignDocument};
        });
    add(
        "after-document", "[PATH@]N[+]:SWITCH[=VALUE]", true,
        "after each document POSTed to /cgi/chk, apply SWITCH (its value without a path) to the Nth request (N+: "
        "and every later one) to PATH, or to any path",
        [](F& f, const std::string& a) { f.afterDocument.push_back(afterDocumentRule(a)); },
        [](F& f) { f.afterDocument.clear(); },
        [](const F& f) {
            std::vector<std::string> out;
            for (const auto& r : f.afterDocument)
                out.push_back((r.path.empty() ? "" : r.path + "@") + std::to_string(r.nth) + (r.onward ? "+" : "") +
                              ":" + r.option + (r.value.empty() ? "" : "=" + r.value));
            return out;
        });
    add(
        "journal", "MODE[,MODE...]", false,
        "answer the journal (GET /cgi/chk?id=N) oddly: empty ([]), stale (records before N), page=K (K records at "
        "most), strings (numbers as strings), names=K (item names cut), no-id, huge=K (the last record repeated to "
        "K records)",
        [](F& f, const std::string& a) {
            Faults::Journal j;
            std::size_t start = 0;
            for (;;) {
                const auto comma = a.find(',', start);
                const std::string mode = a.substr(start,
                                                  comma == std::string::npos ? std::string::npos : comma - start);
                const auto eq = mode.find('=');
                const std::string name = mode.substr(0, eq);
                const std::string value = eq == std::string::npos ? std::string() : mode.substr(eq + 1);
                if (name == "empty" && value.empty()) j.empty = true;
                else if (name == "stale" && value.empty()) j.stale = true;
                else if (name == "strings" && value.empty()) j.strings = true;
                else if (name == "no-id" && value.empty()) j.noId = true;
                else if (name == "page" && !value.empty()) j.page = number(value, "journal", 1, 200);
                else if (name == "names" && !value.empty()) j.names = number(value, "journal", 1, 1000);
                else if (name == "huge" && !value.empty()) j.huge = number(value, "journal", 1, 1000000);
                else refuse("--journal: unknown mode \"" + mode + "\"");
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
            f.journal = j;
        },
        [](F& f) { f.journal = Faults::Journal(); },
        [](const F& f) {
            const Faults::Journal& j = f.journal;
            std::string s;
            auto add = [&s](const std::string& m) { s += (s.empty() ? "" : ",") + m; };
            if (j.empty) add("empty");
            if (j.stale) add("stale");
            if (j.page) add("page=" + std::to_string(j.page));
            if (j.strings) add("strings");
            if (j.names) add("names=" + std::to_string(j.names));
            if (j.noId) add("no-id");
            if (j.huge) add("huge=" + std::to_string(j.huge));
            return s.empty() ? std::vector<std::string>{} : std::vector<std::string>{s};
        });
    add(
        "challenge-first", "", false,
        "accept credentials only in answer to a challenge (a Digest nonce serves the one request answering it, Basic "
        "counts only in answer to a 401 sent to the client's host)",
        [](F& f, const std::string&) { f.challengeFirst = true; }, [](F& f) { f.challengeFirst = false; },
        [](const F& f) { return flag(f.challengeFirst); });
    add(
        "nonce-uses", "N", false, "a nonce serves N requests, then the answer is 401 with stale=true",
        [](F& f, const std::string& a) { f.nonceUses = number(a, "nonce-uses", 1, 1000000); },
        [](F& f) { f.nonceUses = 0; }, [](const F& f) { return count(f.nonceUses, 0); });
    add(
        "nonce-seconds", "N", false, "a nonce lasts N seconds, then the answer is 401 with stale=true",
        [](F& f, const std::string& a) { f.nonceSeconds = number(a, "nonce-seconds", 1, 86400); },
        [](F& f) { f.nonceSeconds = 0; }, [](const F& f) { return count(f.nonceSeconds, 0); });
    return o;
}

} // namespace

void applyAfterDocument(Faults& faults, const Faults::AfterDocument& rule)
{
    const FaultOption* o = findFaultOption(rule.option);
    if (!o) refuse("--after-document: no fault switch \"" + rule.option + "\"");
    if (!o->perPath) o->apply(faults, rule.value);
    else if (std::string(o->argument) == "PATH" && !rule.value.empty())
        refuse("--after-document: " + rule.option + " takes no value");
    else if (rule.value.empty()) o->apply(faults, "*");
    else o->apply(faults, "*=" + rule.value);
}

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
