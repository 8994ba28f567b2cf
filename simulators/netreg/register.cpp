// The simulated register's fiscal side: the requests routed to its parts (receipts.cpp,
// reports.cpp, display.cpp, journal.cpp, persistence.cpp), its state and tables, and the
// register clock.
#include "simulators/netreg/register_state.h"

#include <Poco/Exception.h>

#include <cstdio>
#include <ctime>

#ifdef _WIN32
// Windows' C library names the UTC conversion differently.
namespace {
std::time_t timegm(std::tm* tm) { return _mkgmtime(tm); }
} // namespace
#endif

namespace netsim {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;
using namespace fiscal;

Register::Register(const Config& config, Tape& tape) : config_(config), tape_(tape), s_(new State)
{
    if (!config_.clock.empty()) {
        fixedClock_ = parseClock(config_.clock);
        if (fixedClock_ < 0) throw Poco::InvalidArgumentException("clock", config_.clock);
    }
    load();
}

Register::~Register() = default;

int64_t Register::parseClock(const std::string& text)
{
    std::tm tm{};
    int y, mo, d, h, mi, se;
    char tail;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &se, &tail) != 6) return -1;
    if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59 || h < 0 || mi < 0 || se < 0)
        return -1;
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = se;
    return static_cast<int64_t>(timegm(&tm));
}

int64_t Register::now() const { return fixedClock_ >= 0 ? fixedClock_ : static_cast<int64_t>(std::time(nullptr)); }

Answer Register::handle(const std::string& method, const std::string& path, const std::string& query,
                        const std::string& body)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Answer a;
    if (path == "/cgi/state.php" && method == "GET") return state();
    if (path == "/desc" && method == "GET") {
        Object::Ptr err = new Object, uk = new Object, root = new Object;
        for (const auto& e : kErrors) err->set(e.code, std::string(e.text));
        uk->set("err", err);
        root->set("uk", uk);
        a.body = json(root);
        return a;
    }
    if (path == "/cgi/tbl/Tax" && method == "GET") {
        Array::Ptr table = new Array;
        for (const auto& g : kTaxGroups) {
            Object::Ptr o = new Object;
            o->set("id", g.id);
            o->set("Prc", g.rate);
            o->set("Name", std::string(g.letter));
            table->add(o);
        }
        a.body = json(table);
        return a;
    }
    if (path == "/cgi/tbl/Fsk" && method == "GET") {
        Object::Ptr o = new Object;
        o->set("NumChk", s_->nextNo);
        o->set("NumZ", s_->nextZ - 1);
        a.body = json(o);
        return a;
    }
    if (path == "/cgi/chk") {
        if (method == "GET") return journal(query);
        if (method == "POST") return postDocument(body);
    }
    if (path == "/cgi/proc/printreport" && method == "GET") return report(query);
    if (path == "/cgi/proc/printfmreport" && method == "GET") return fmReport(query);
    if (path == "/cgi/proc/openbox" && (method == "GET" || method == "POST")) return drawer();
    if (path == "/cgi/scr" && (method == "GET" || method == "POST")) return screen(method, body);
    a = errorAnswer(RegisterError::UnknownDocument);
    a.status = 404;
    return a;
}

Answer Register::state()
{
    Object::Ptr o = new Object;
    o->set("model", config_.model);
    o->set("name", config_.name);
    o->set("serial", config_.serial);
    o->set("time", now());
    o->set("JrnTime", s_->shiftOpened ? s_->shiftOpened : now());
    o->set("chkId", s_->nextId - 1);
    o->set("currZ", s_->nextZ);
    o->set("IsWrk", s_->shiftOpened ? 1 : 0);
    return Answer{200, json(o)};
}

std::string Register::tapeHeader() const { return "  " + config_.name + "  ЗН " + config_.serial + "\n"; }

} // namespace netsim
