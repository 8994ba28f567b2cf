// Fuzz target: the console's request parser fed in pieces of any size, the flat JSON
// reader, and JSON quoting. The parser must never hold more than its limits plus one
// piece, and every request it takes must respect the limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace simconsole;
    if (size == 0) return 0;
    Limits limits;
    limits.maxHead = 512;
    limits.maxLine = 128;
    limits.maxHeaders = 8;
    limits.maxBody = 256;
    RequestParser parser(limits);
    // The first byte picks the piece size.
    const std::size_t piece = data[0] % 64 + 1;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const std::size_t length = size - 1;
    for (std::size_t at = 0; at < length; at += piece) {
        RequestParser::Result r = parser.feed(text + at, std::min(piece, length - at));
        while (r == RequestParser::Result::Done) {
            const Request& q = parser.request();
            if (q.body.size() > limits.maxBody || q.headers.size() > limits.maxHeaders ||
                q.target.size() > limits.maxLine || q.target.empty() || q.target[0] != '/')
                std::abort();
            r = parser.next();
        }
        if (parser.buffered() > limits.maxHead + limits.maxBody + piece + 4) std::abort();
        if (r == RequestParser::Result::Error) break;
    }

    const std::string whole(text, length);
    std::map<std::string, FlatValue> object;
    std::string error;
    parseFlatObject(whole, object, error);
    // Quoting always gives a string the reader takes back.
    const std::string quoted = "{\"k\":" + jsonQuote(whole) + "}";
    if (!parseFlatObject(quoted, object, error) || object.size() != 1) std::abort();
    return 0;
}
