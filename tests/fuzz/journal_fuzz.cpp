// libFuzzer target: the register's journal ("/cgi/chk?id=N"), read for the next receipt
// number and compared with a receipt and a cash document sent after record 5.
#include "netclient/json_answer.h"
#include "netclient/register_answers.h"
#include "netclient/unsettled_document.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string body(reinterpret_cast<const char*>(data), size);
    int32_t number = 0;
    oltra::readAnswer(body, oltra::AnswerLabels::ofPath("/cgi/chk?id=-95"),
                      [&](const Poco::Dynamic::Var& root) { oltra::readNextReceiptNumber(root, number); });
    const oltra::UnsettledDocument::JournalReader read = [&](int64_t, std::chrono::milliseconds, std::size_t,
                                                             std::string& page) {
        page = body;
        return true;
    };
    const char* const documents[][2] = {
        {"F",
         "{\"F\":[{\"S\":{\"code\":3904355907,\"name\":\"a\",\"qty\":2.000,\"price\":10.50,\"sum\":20.00,"
         "\"dep\":1,\"grp\":1,\"tax\":1}},{\"D\":{\"sum\":-1.00,\"all\":0}},{\"P\":{\"no\":1, \"sum\" : 20.00}}]}"},
        {"IO", "{\"IO\":[{\"IO\":{\"sum\":-150.00}}]}"},
    };
    for (const auto& d : documents) {
        oltra::UnsettledDocument doc(d[0], d[1], oltra::JournalAnchor{5, 100, ""});
        doc.sendEnded(true);
        // Nothing in the journal since record 5: absent without a read.
        if (doc.settle(5, 200, read) != oltra::UnsettledDocument::State::Absent) std::abort();
        oltra::UnsettledDocument later(d[0], d[1], oltra::JournalAnchor{5, 100, ""});
        later.sendEnded(false);
        later.settle(8, 200, read);
    }
    return 0;
}
