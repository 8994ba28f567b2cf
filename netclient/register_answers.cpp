#include "netclient/register_answers.h"
#include "netclient/json_answer.h"

#include "textconv/utf.h"

#include <Poco/Exception.h>
#include <Poco/JSON/JSONException.h>
#include <Poco/String.h>

#include <climits>
#include <cmath>

namespace oltra {

namespace {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;

bool isAsciiSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

void trim(std::u16string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && isAsciiSpace(s[b])) ++b;
    while (e > b && isAsciiSpace(s[e - 1])) --e;
    s = s.substr(b, e - b);
}

// ---- journal content

enum class Same { Yes, No, Unknown };

bool isMoneyElement(const std::string& key) { return key == "S" || key == "P" || key == "IO"; }

// The members a record must give for its element to be compared at all.
const char* const* requiredMembers(const std::string& key)
{
    static const char* const sale[] = {"name", "qty", "price", nullptr};
    static const char* const payment[] = {"no", "sum", nullptr};
    static const char* const cash[] = {"sum", nullptr};
    return key == "S" ? sale : key == "P" ? payment : cash;
}

// The money elements of a document's content, as (key, members) in order; false when an
// element is not an object of one member holding an object.
bool moneyElements(const Array& content, std::vector<std::pair<std::string, Object::Ptr>>& out)
{
    for (std::size_t i = 0; i < content.size(); ++i) {
        const Object::Ptr element = content.getObject(static_cast<unsigned>(i));
        if (element.isNull() || element->size() != 1) return false;
        const std::string key = element->begin()->first;
        if (!isMoneyElement(key)) continue;
        const Object::Ptr members = element->getObject(key);
        if (members.isNull()) return false;
        out.emplace_back(key, members);
    }
    return true;
}

bool sameValue(const Var& sent, const Var& recorded)
{
    if (sent.isNumeric() && recorded.isNumeric()) {
        const double a = sent.convert<double>(), b = recorded.convert<double>();
        // The documents carry at most three decimals.
        return std::isfinite(a) && std::isfinite(b) && std::fabs(a - b) < 0.0005;
    }
    if (sent.isString() && recorded.isString()) return sent.extract<std::string>() == recorded.extract<std::string>();
    if (sent.isEmpty() || recorded.isEmpty()) return sent.isEmpty() && recorded.isEmpty();
    if (sent.isNumeric() != recorded.isNumeric() || sent.isString() != recorded.isString()) return false;
    return sent.toString() == recorded.toString();
}

Same sameContent(const Array& sent, const Var& recorded)
{
    if (recorded.type() != typeid(Array::Ptr) || recorded.extract<Array::Ptr>().isNull()) return Same::Unknown;
    std::vector<std::pair<std::string, Object::Ptr>> ours, theirs;
    if (!moneyElements(sent, ours)) return Same::Unknown;
    if (!moneyElements(*recorded.extract<Array::Ptr>(), theirs)) return Same::Unknown;
    // A document without money lines can't be told from another one by its content.
    if (ours.empty()) return Same::Unknown;
    if (ours.size() != theirs.size()) return Same::No;
    bool comparable = true;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        if (ours[i].first != theirs[i].first) return Same::No;
        const Object& a = *ours[i].second;
        const Object& b = *theirs[i].second;
        for (const char* const* m = requiredMembers(ours[i].first); *m; ++m)
            if (!b.has(*m)) comparable = false;
        for (const auto& member : a) {
            if (!b.has(member.first)) continue;
            if (!sameValue(member.second, b.get(member.first))) return Same::No;
        }
    }
    return comparable ? Same::Yes : Same::Unknown;
}

} // namespace

void readStateMembers(const Var& root, RegisterState& state)
{
    const Object::Ptr o = rootObject(root);
    state.model = jsonText(o->get("model"));
    state.name = jsonText(o->get("name"));
    state.serial = jsonText(o->get("serial"));
    state.time = o->get("time").convert<Poco::Int64>();
    state.journalTime = o->get("JrnTime").convert<Poco::Int64>();
    state.chkId = o->get("chkId").convert<Poco::Int32>();
}

void readErrorDescriptions(const Var& root, std::map<std::string, std::u16string>& descriptions)
{
    const Object::Ptr errors = memberObject(*memberObject(*rootObject(root), "uk"), "err");
    for (const auto& member : *errors) descriptions.emplace(member.first, textconv::toUtf16(jsonText(member.second)));
}

void readTaxTable(const Var& root, std::map<double, int32_t>& groups)
{
    const Array::Ptr table = rootArray(root);
    for (std::size_t i = 0; i < table->size(); ++i) {
        const Object::Ptr entry = table->getObject(static_cast<unsigned>(i));
        if (entry.isNull()) throw Poco::JSON::JSONException("Tax table entry is not an object");
        const int32_t id = entry->get("id").convert<Poco::Int32>();
        const double rate = entry->get("Prc").convert<double>();
        groups.emplace(rate, id);   // the first entry with a rate wins
    }
}

void readNextReceiptNumber(const Var& root, int32_t& number)
{
    const Array::Ptr records = rootArray(root);
    if (records->size() == 0) throw Poco::JSON::JSONException("The journal answer holds no record");
    const Object::Ptr last = records->getObject(static_cast<unsigned>(records->size() - 1));
    if (last.isNull()) throw Poco::JSON::JSONException("The last journal record is not an object");
    number = last->get("no").convert<Poco::Int32>();
    // After a sale or return receipt the next one takes the following number.
    if (last->has("F") || last->has("R")) {
        if (number == INT32_MAX) throw Poco::RangeException("Receipt number out of range");
        ++number;
    }
}

int32_t displayWidth(const Var& root)
{
    return memberObject(*rootObject(root), "chars")->get("w").convert<Poco::Int32>();
}

void ErrorReader::read(const Var& answer)
{
    const Object::Ptr root = rootObject(answer);
    const Var err = root->get("err");
    if (err.isString()) {
        code = jsonText(err);
        text = describeCode(code);
    } else if (root->isArray("err")) {
        const Array::Ptr list = root->getArray("err");
        for (std::size_t i = 0; i < list->size(); ++i) {
            const Object::Ptr item = list->getObject(static_cast<unsigned>(i));
            // Anything but an object is still an error: its own text describes it.
            const std::u16string piece =
                item.isNull() ? textconv::toUtf16(jsonText(list->get(static_cast<unsigned>(i)))) : describeObject(*item);
            if (!text.empty()) text += u"; ";
            text += piece;
        }
    }
}

std::u16string ErrorReader::describeCode(const std::string& c) const
{
    const auto it = descriptions_.find(c);
    if (it == descriptions_.end()) return textconv::toUtf16(c);
    return u"(Код:" + textconv::toUtf16(code) + u") " + it->second;
}

std::u16string ErrorReader::describeObject(const Object& error)
{
    std::u16string result;
    for (const auto& member : error) {
        if (!result.empty()) result += u", ";
        if (member.first == "e") {
            code = jsonText(member.second);
            result += describeCode(code);
        } else {
            result += textconv::toUtf16(member.first + ": " + jsonText(member.second));
        }
    }
    trim(result);
    return result;
}

bool isJsonObjectAnswer(const std::string& answer)
{
    const std::string trimmed = Poco::trim(answer);
    if (trimmed.empty()) return true;
    try {
        const Var root = parseJson(trimmed);
        return root.type() == typeid(Object::Ptr) && !root.extract<Object::Ptr>().isNull();
    } catch (const Poco::Exception&) {
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

JournalPage findInJournal(const Var& journal, const std::string& type, const Array& sent, int64_t afterId)
{
    const Array::Ptr records = rootArray(journal);
    JournalPage page;
    page.records = records->size();
    bool unknown = false;
    for (std::size_t i = 0; i < records->size(); ++i) {
        const Object::Ptr record = records->getObject(static_cast<unsigned>(i));
        if (record.isNull()) continue;
        // The journal was asked for the records after afterId; one that gives its id is
        // judged by it.
        if (record->has("id")) {
            Poco::Int64 id = 0;
            const Var v = record->get("id");
            if (!v.isNumeric()) {
                unknown = unknown || record->has(type);
                continue;
            }
            id = v.convert<Poco::Int64>();
            if (id > page.lastId) page.lastId = id;
            if (id <= afterId) continue;
        }
        if (!record->has(type)) continue;
        switch (sameContent(sent, record->get(type))) {
        case Same::Yes: page.verdict = JournalVerdict::Recorded; return page;
        case Same::Unknown: unknown = true; break;
        case Same::No: break;
        }
    }
    page.verdict = unknown ? JournalVerdict::Unknown : JournalVerdict::Absent;
    return page;
}

Array::Ptr documentElements(const std::string& document, const std::string& type)
{
    const Object::Ptr root = rootObject(parseJson(document));
    const Array::Ptr elements = root->getArray(type);
    if (elements.isNull()) throw Poco::JSON::JSONException("The document has no \"" + type + "\" array");
    return elements;
}

} // namespace oltra
