// The register's journal: the records booked, served from an id on, and the shapes a
// hostile or odd register gives them (Faults::Journal).
#include "simulators/netreg/register_state.h"

#include <Poco/NumberParser.h>

#include <algorithm>
#include <cstdint>

namespace netsim {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;
using namespace fiscal;

Answer Register::journal(const std::string& query)
{
    // "id=N": the records from id N on (at most 200).
    int64_t from = 1;
    if (query.compare(0, 3, "id=") == 0) {
        Poco::Int64 v = 0;
        if (!Poco::NumberParser::tryParse64(query.substr(3), v)) return errorAnswer(RegisterError::BadRequest);
        from = v < 1 ? 1 : v;
    }
    Array::Ptr list = new Array;
    for (const auto& record : s_->journal) {
        if (record->getValue<Poco::Int64>("id") < from) continue;
        list->add(record);
        if (list->size() >= 200) break;
    }
    return Answer{200, json(list)};
}

namespace {

// A copy of a JSON value with every number written as a string.
Var numbersAsStrings(const Var& v)
{
    if (v.type() == typeid(Object::Ptr)) {
        const Object::Ptr in = v.extract<Object::Ptr>();
        Object::Ptr out = new Object;
        for (const auto& kv : *in) out->set(kv.first, numbersAsStrings(kv.second));
        return out;
    }
    if (v.type() == typeid(Array::Ptr)) {
        const Array::Ptr in = v.extract<Array::Ptr>();
        Array::Ptr out = new Array;
        for (std::size_t i = 0; i < in->size(); ++i) out->add(numbersAsStrings(in->get(static_cast<unsigned>(i))));
        return out;
    }
    if (v.isNumeric() && !v.isBoolean()) return v.convert<std::string>();
    return v;
}

// The first `chars` characters of UTF-8 text.
std::string firstChars(const std::string& text, int chars)
{
    std::size_t i = 0;
    for (int n = 0; i < text.size() && n < chars; ++n) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    }
    return text.substr(0, i);
}

// A copy of a journal record with its item names cut and without "id", as asked.
Object::Ptr shapedRecord(const Object::Ptr& record, const Faults::Journal& f)
{
    Object::Ptr out = new Object;
    for (const auto& kv : *record) {
        if (kv.first == "id" && f.noId) continue;
        if (f.names > 0 && kv.second.type() == typeid(Array::Ptr)) {
            const Array::Ptr items = kv.second.extract<Array::Ptr>();
            Array::Ptr cut = new Array;
            for (std::size_t i = 0; i < items->size(); ++i) {
                const Object::Ptr e = items->getObject(static_cast<unsigned>(i));
                if (e && e->isObject("S") && e->getObject("S")->has("name")) {
                    Object::Ptr line = new Object(*e->getObject("S"));
                    line->set("name", firstChars(line->getValue<std::string>("name"), f.names));
                    Object::Ptr element = new Object;
                    element->set("S", line);
                    cut->add(element);
                } else {
                    cut->add(items->get(static_cast<unsigned>(i)));
                }
            }
            out->set(kv.first, cut);
            continue;
        }
        out->set(kv.first, kv.second);
    }
    return out;
}

} // namespace

Answer Register::journalAnswer(const std::string& query, const Faults::Journal& f)
{
    if (!f.any()) return handle("GET", "/cgi/chk", query, "");
    if (f.empty) return Answer{200, "[]"};
    int64_t from = 1;
    if (query.compare(0, 3, "id=") == 0) {
        Poco::Int64 v = 0;
        if (!Poco::NumberParser::tryParse64(query.substr(3), v)) return handle("GET", "/cgi/chk", query, "");
        from = v < 1 ? 1 : v;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    const std::size_t limit = f.page > 0 ? static_cast<std::size_t>(f.page) : 200;
    const int64_t low = f.stale ? std::max<int64_t>(1, from - 10) : from;
    const int64_t high = f.stale ? from - 1 : INT64_MAX;
    Array::Ptr list = new Array;
    Object::Ptr last;
    for (const auto& record : s_->journal) {
        const int64_t id = record->getValue<Poco::Int64>("id");
        if (id < low || id > high) continue;
        last = shapedRecord(record, f);
        list->add(last);
        if (list->size() >= limit) break;
    }
    if (f.huge > 0 && last)
        while (list->size() < static_cast<std::size_t>(f.huge)) list->add(last);
    return Answer{200, json(f.strings ? numbersAsStrings(list) : Var(list))};
}

// A document POSTed to "/cgi/chk": its root key and elements, and the register time it is

int64_t Register::record(const std::string& kind, const Var& content, int32_t no, int64_t time)
{
    Object::Ptr r = new Object;
    const int64_t id = s_->nextId++;
    r->set("id", id);
    r->set("no", no);
    r->set("time", time);
    r->set(kind, content);
    s_->journal.push_back(r);
    while (s_->journal.size() > kJournalLimit) s_->journal.pop_front();
    if (!s_->shiftOpened) s_->shiftOpened = time;
    return id;
}

} // namespace netsim
