// libFuzzer target: the register display's answer ("/cgi/scr"), read for its width.
#include "netclient/json_answer.h"
#include "netclient/register_answers.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string body(reinterpret_cast<const char*>(data), size);
    int32_t width = 0;
    oltra::readAnswer(body, oltra::AnswerLabels::named("Get line length"),
                      [&](const Poco::Dynamic::Var& root) { width = oltra::displayWidth(root); });
    return 0;
}
