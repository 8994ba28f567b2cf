// libFuzzer target: the register's journal ("/cgi/chk?id=N"), read for the next receipt
// number and searched for a receipt and a cash document sent after record 5.
#include "netclient/json_answer.h"
#include "netclient/register_answers.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Poco::JSON::Array::Ptr receipt = oltra::documentElements(
        "{\"F\":[{\"S\":{\"code\":3904355907,\"name\":\"a\",\"qty\":2.000,\"price\":10.50,\"sum\":20.00,"
        "\"dep\":1,\"grp\":1,\"tax\":1}},{\"D\":{\"sum\":-1.00,\"all\":0}},{\"P\":{\"no\":1, \"sum\" : 20.00}}]}",
        "F");
    static const Poco::JSON::Array::Ptr cash = oltra::documentElements("{\"IO\":[{\"IO\":{\"sum\":-150.00}}]}", "IO");
    const std::string body(reinterpret_cast<const char*>(data), size);
    int32_t number = 0;
    oltra::readAnswer(body, oltra::AnswerLabels::ofPath("/cgi/chk?id=-95"),
                      [&](const Poco::Dynamic::Var& root) { oltra::readNextReceiptNumber(root, number); });
    oltra::readAnswer(body, oltra::AnswerLabels::ofPath("/cgi/chk?id=6"), [&](const Poco::Dynamic::Var& root) {
        const oltra::JournalPage page = oltra::findInJournal(root, "F", *receipt, 5);
        if (page.records == 0 && page.verdict != oltra::JournalVerdict::Absent) std::abort();
        oltra::findInJournal(root, "IO", *cash, 5);
    });
    return 0;
}
