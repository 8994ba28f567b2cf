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
        groups.emplace(rate, id); // the first entry with a rate wins
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
            const std::u16string piece = item.isNull()
                                             ? textconv::toUtf16(jsonText(list->get(static_cast<unsigned>(i))))
                                             : describeObject(*item);
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
    if (trimmed.empty()) return false;
    try {
        const Var root = parseJson(trimmed);
        return root.type() == typeid(Object::Ptr) && !root.extract<Object::Ptr>().isNull();
    } catch (const Poco::Exception&) {
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace oltra
