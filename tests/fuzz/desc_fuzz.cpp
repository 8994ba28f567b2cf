// libFuzzer target: the register's error texts ("/desc").
#include "netclient/json_answer.h"
#include "netclient/register_answers.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <map>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string body(reinterpret_cast<const char*>(data), size);
    std::map<std::string, std::u16string> descriptions;
    oltra::readAnswer(body, oltra::AnswerLabels::named("Fill errors map"),
                      [&](const Poco::Dynamic::Var& root) { oltra::readErrorDescriptions(root, descriptions); });
    return 0;
}
