// libFuzzer target: the register's "err" in an answer to a command, in both forms, described
// with a few error texts; and whether the answer confirms a document.
#include "netclient/json_answer.h"
#include "netclient/register_answers.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <map>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::map<std::string, std::u16string> descriptions = {
        {"1", u"Опис 1"}, {"13", u"Опис 13"}, {"3A", u"Опис 3A"}, {"", u"Порожній"}};
    const std::string body(reinterpret_cast<const char*>(data), size);
    oltra::ErrorReader reader(descriptions);
    oltra::readAnswer(body, oltra::AnswerLabels::named("Parse for response errors"),
                      [&](const Poco::Dynamic::Var& root) { reader.read(root); });
    oltra::isJsonObjectAnswer(body);
    return 0;
}
