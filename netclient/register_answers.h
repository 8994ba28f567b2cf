// The readers of the register's answers, apart from the connection: each takes a parsed
// answer (or its text) and nothing else, so that the register model uses them after its
// requests and the fuzz targets feed them any bytes. A reader that meets a missing or
// mistyped member throws (Poco::JSON::JSONException or the conversion's own exception),
// keeping what it stored before.
#pragma once

#include <Poco/Dynamic/Var.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>

#include <cstdint>
#include <map>
#include <string>

namespace oltra {

// "/cgi/state.php": the members the driver keeps, read in this order.
struct RegisterState {
    std::string model;
    std::string name;
    std::string serial;
    int64_t time = 0;
    int64_t journalTime = 0;
    int32_t chkId = 0;
};
void readStateMembers(const Poco::Dynamic::Var& root, RegisterState& state);

// "/desc": {"uk":{"err":{CODE: text}}} into code -> description (UTF-16).
void readErrorDescriptions(const Poco::Dynamic::Var& root, std::map<std::string, std::u16string>& descriptions);

// "/cgi/tbl/Tax": [{"id":N,"Prc":R},...] into rate -> group; the first entry with a rate wins.
void readTaxTable(const Poco::Dynamic::Var& root, std::map<double, int32_t>& groups);

// "/cgi/chk?id=N": the number of the next receipt after the last record, into `number`
// ("no" of the last record, plus one after a sale or return receipt). A failure after
// "no" was read leaves that value.
void readNextReceiptNumber(const Poco::Dynamic::Var& root, int32_t& number);

// "/cgi/scr": {"chars":{"w":N}}, the display width as the register gives it.
int32_t displayWidth(const Poco::Dynamic::Var& root);

// The register's "err" in an answer, in both forms ("err":"CODE" and "err":[{"e":CODE,...},...]),
// described with the texts of "/desc".
class ErrorReader {
public:
    explicit ErrorReader(const std::map<std::string, std::u16string>& descriptions) : descriptions_(descriptions) {}

    // A parsed answer (the root must be an object): "err" as a text or an array of error
    // objects; anything else is no error. What was described before a failure stays.
    void read(const Poco::Dynamic::Var& root);
    // "(Код:" + the current code + ") " + description, or the code itself when undescribed.
    std::u16string describeCode(const std::string& code) const;
    // The members of one error object in key order, joined by ", ", trimmed; "e" sets the code.
    std::u16string describeObject(const Poco::JSON::Object& error);

    std::u16string text; // empty when the answer holds no error
    std::string code;    // the last code text read

private:
    const std::map<std::string, std::u16string>& descriptions_;
};

// Whether an answer (ASCII white space around it allowed) is a JSON object: what a
// register answers a document it took. An empty answer is none.
bool isJsonObjectAnswer(const std::string& answer);

} // namespace oltra
