// Reading the register's JSON answers: the root and members of the expected shape, and the
// one way a reading that fails is logged.
#pragma once

#include <Poco/Dynamic/Var.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>

#include <functional>
#include <string>

namespace oltra {

Poco::Dynamic::Var parseJson(const std::string& text);
// The root or a member of the expected kind; Poco::JSON::JSONException otherwise.
Poco::JSON::Object::Ptr rootObject(const Poco::Dynamic::Var& v);
Poco::JSON::Array::Ptr rootArray(const Poco::Dynamic::Var& v);
Poco::JSON::Object::Ptr memberObject(const Poco::JSON::Object& parent, const std::string& key);
std::string jsonText(const Poco::Dynamic::Var& v);

// How a failed reading is logged: `json` + the text of a fault of the JSON library (a bad
// document, a missing or mistyped value), `other` + the text of any other exception.
struct AnswerLabels {
    std::string json;
    std::string other;

    // "<what>, JSON parsing error: " and "<what>, standart exception: ".
    static AnswerLabels named(const std::string& what);
    // "Read <path> - JSON parsing error: " and "Read <path> - standart exception: ".
    static AnswerLabels ofPath(const std::string& path);
};

// Parses `body` and hands its root to `read`; true when both succeeded. A failure is
// logged at ERROR and gives false; what `read` stored before it failed stays.
bool readAnswer(const std::string& body, const AnswerLabels& labels,
                const std::function<void(const Poco::Dynamic::Var& root)>& read);

} // namespace oltra
