// libFuzzer target: the register's tax table ("/cgi/tbl/Tax").
#include "netclient/json_answer.h"
#include "netclient/register_answers.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <map>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string body(reinterpret_cast<const char*>(data), size);
    std::map<double, int32_t> groups;
    oltra::readAnswer(body, oltra::AnswerLabels::named("Fill tax groups"),
                      [&](const Poco::Dynamic::Var& root) { oltra::readTaxTable(root, groups); });
    return 0;
}
