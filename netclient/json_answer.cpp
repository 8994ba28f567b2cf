#include "netclient/json_answer.h"

#include "netclient/client_log.h"

#include <Poco/Exception.h>
#include <Poco/JSON/JSONException.h>
#include <Poco/JSON/Parser.h>

namespace oltra {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;

Var parseJson(const std::string& text)
{
    Poco::JSON::Parser parser;
    return parser.parse(text);
}

Object::Ptr rootObject(const Var& v)
{
    if (v.type() != typeid(Object::Ptr) || v.extract<Object::Ptr>().isNull())
        throw Poco::JSON::JSONException("The answer is not a JSON object");
    return v.extract<Object::Ptr>();
}

Array::Ptr rootArray(const Var& v)
{
    if (v.type() != typeid(Array::Ptr) || v.extract<Array::Ptr>().isNull())
        throw Poco::JSON::JSONException("The answer is not a JSON array");
    return v.extract<Array::Ptr>();
}

Object::Ptr memberObject(const Object& parent, const std::string& key)
{
    Object::Ptr child = parent.getObject(key);
    if (child.isNull()) throw Poco::JSON::JSONException("Member \"" + key + "\" is not an object");
    return child;
}

std::string jsonText(const Var& v) { return v.convert<std::string>(); }

AnswerLabels AnswerLabels::named(const std::string& what)
{
    return {what + ", JSON parsing error: ", what + ", standart exception: "};
}

AnswerLabels AnswerLabels::ofPath(const std::string& path)
{
    return {"Read " + path + " - JSON parsing error: ", "Read " + path + " - standart exception: "};
}

bool readAnswer(const std::string& body, const AnswerLabels& labels, const std::function<void(const Var& root)>& read)
{
    try {
        read(parseJson(body));
        return true;
    } catch (const Poco::Exception& e) {
        netlog::error(labels.json + e.displayText());
    } catch (const std::exception& e) {
        netlog::error(labels.other + e.what());
    }
    return false;
}

} // namespace oltra
