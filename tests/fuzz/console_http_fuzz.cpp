// Fuzz target: the console's request parser fed in pieces of any size, the checks of the
// head a request passes (Host, Origin, Content-Type), the response writer given header
// values, the flat JSON reader, and JSON quoting. The parser must never hold more than
// its limits plus one piece, every request it takes must respect the limits, a Host or
// Origin taken must name the console with its port, and a head written must hold the
// header lines given and no more.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "simulators/console/http.h"

namespace {

using namespace simconsole;

const std::vector<std::string> kNames = {"127.0.0.1", "localhost", "[::1]"};

std::string lower(std::string s)
{
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// A Host taken is a name, or a name and the port.
void checkHost(const std::string& host, std::uint16_t port)
{
    if (!hostAccepted(host, kNames, port)) return;
    const std::string h = lower(host);
    bool named = false;
    for (const auto& n : kNames) named = named || h == n + ":" + std::to_string(port) || (port == 80 && h == n);
    if (!named) std::abort();
}

void checkHead(const Request& q, std::uint16_t port)
{
    checkHost(q.header("host"), port);
    const std::string origin = q.header("origin");
    if (originAccepted(origin, kNames, port) && origin.compare(0, 7, "http://") != 0) std::abort();
    checkHost(origin.size() > 7 ? origin.substr(7) : std::string(), port);
    const std::string type = q.header("content-type");
    if (isMediaType(type, "application/json") && lower(type).find("application/json") == std::string::npos)
        std::abort();
    // The head's own values written back: refused, or one line each.
    for (const auto& h : q.headers) {
        std::string text;
        try {
            text = responseText(200, "text/plain", "", true, {{h.first, h.second}});
        } catch (const std::invalid_argument&) {
            continue;
        }
        const std::string head = text.substr(0, text.find("\r\n\r\n") + 2);
        std::size_t lines = 0, returns = 0;
        for (char c : head) {
            lines += c == '\n';
            returns += c == '\r';
        }
        if (lines != 7 || returns != 7 || hasControlByte(h.first)) std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    Limits limits;
    limits.maxHead = 512;
    limits.maxLine = 128;
    limits.maxHeaders = 8;
    limits.maxBody = 256;
    RequestParser parser(limits);
    // The first byte picks the piece size and the console's port (80 or 8081).
    const std::size_t piece = data[0] % 64 + 1;
    const std::uint16_t port = data[0] & 0x80 ? 80 : 8081;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const std::size_t length = size - 1;
    for (std::size_t at = 0; at < length; at += piece) {
        RequestParser::Result r = parser.feed(text + at, std::min(piece, length - at));
        while (r == RequestParser::Result::Done) {
            const Request& q = parser.request();
            if (q.body.size() > limits.maxBody || q.headers.size() > limits.maxHeaders ||
                q.target.size() > limits.maxLine || q.target.empty() || q.target[0] != '/')
                std::abort();
            checkHead(q, port);
            r = parser.next();
        }
        if (parser.buffered() > limits.maxHead + limits.maxBody + piece + 4) std::abort();
        if (r == RequestParser::Result::Error) break;
    }

    const std::string whole(text, length);
    checkHost(whole, port);
    std::map<std::string, FlatValue> object;
    std::string error;
    parseFlatObject(whole, object, error);
    // Quoting always gives a string the reader takes back.
    const std::string quoted = "{\"k\":" + jsonQuote(whole) + "}";
    if (!parseFlatObject(quoted, object, error) || object.size() != 1) std::abort();
    return 0;
}
