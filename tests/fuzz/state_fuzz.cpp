// libFuzzer target: the register's state answer ("/cgi/state.php"), as the liveness probe
// reads it: any bytes give a state or a logged failure, never a fault.
#include "netclient/json_answer.h"
#include "netclient/register_answers.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string body(reinterpret_cast<const char*>(data), size);
    oltra::RegisterState state;
    oltra::readAnswer(body, oltra::AnswerLabels::named("Read status"),
                      [&](const Poco::Dynamic::Var& root) { oltra::readStateMembers(root, state); });
    return 0;
}
