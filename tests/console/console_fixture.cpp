// A console with no register behind it, for the page's own browser test. It prints
// "URL http://..." and then takes lines on standard input:
//   tape TEXT         prints TEXT ("\n" for a line end)
//   logo              loads a 64 x 24 test logo and prints it
//   display A|B       the display's lines
//   exchange T|Q|A|N|ok|bad
//   title TEXT
// It ends at the end of its input.
#include <iostream>
#include <mutex>
#include <string>

#include "simulators/console/console.h"

using namespace simconsole;

namespace {

std::vector<std::string> split(const std::string& s, char sep)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = s.find(sep, start);
        parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

std::string base64(const std::string& bytes)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
        out += digits[v >> 18 & 63];
        out += digits[v >> 12 & 63];
        out += i + 1 < bytes.size() ? digits[v >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? digits[v & 63] : '=';
    }
    return out;
}

} // namespace

int main()
{
    std::mutex mutex;
    std::string title = "Fixture", logo = "null";
    std::vector<std::string> display{"", ""};
    bool on = false;
    std::string value;
    TapeFeed tape;
    ExchangeFeed exchanges;

    Hooks h;
    h.state = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return JsonObject()
            .str("title", title)
            .raw("display", JsonObject().num("width", 20).raw("lines", jsonStringArray(display)).text())
            .raw("logo", logo)
            .raw("fiscal",
                 JsonObject()
                     .boolean("Shift open", true)
                     .raw("Totals", "[{\"group\":\"А\",\"sum\":\"10.00\"},{\"group\":\"Б\",\"sum\":\"0.00\"}]")
                     .text())
            .text();
    };
    h.tape = [&](std::uint64_t since) { return tape.json(since); };
    h.exchanges = [&](std::uint64_t since) { return exchanges.json(since); };
    h.faults = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return std::vector<FaultSwitch>{{"err", "answer an error", "CODE", on, value}};
    };
    h.setFault = [&](const std::string&, bool o, const std::string& v, std::string& error) {
        std::lock_guard<std::mutex> lock(mutex);
        if (o && v.empty()) {
            error = "err needs a code";
            return false;
        }
        on = o;
        value = v;
        return true;
    };
    Server server(h, Server::Options());
    server.start();
    std::cout << "URL " << server.url() << std::endl;

    for (std::string line; std::getline(std::cin, line);) {
        const std::size_t space = line.find(' ');
        const std::string word = line.substr(0, space);
        std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
        for (std::size_t at; (at = arg.find("\\n")) != std::string::npos;) arg.replace(at, 2, "\n");
        if (word == "tape") {
            tape.print(arg);
            server.notify("tape");
        } else if (word == "logo") {
            // A frame with a diagonal cross.
            std::string bits(8 * 24, '\0');
            for (int y = 0; y < 24; ++y)
                for (int x = 0; x < 64; ++x)
                    if (y == 0 || y == 23 || x == 0 || x == 63 || x / 2 == y + 4 || (63 - x) / 2 == y + 4)
                        bits[static_cast<std::size_t>(y * 8 + x / 8)] |= static_cast<char>(0x80 >> (x % 8));
            {
                std::lock_guard<std::mutex> lock(mutex);
                logo = JsonObject().num("width", 64).num("height", 24).str("bits", base64(bits)).text();
            }
            tape.printLogo();
            server.notify("state");
            server.notify("tape");
        } else if (word == "display") {
            std::lock_guard<std::mutex> lock(mutex);
            display = split(arg, '|');
            server.notify("state");
        } else if (word == "title") {
            std::lock_guard<std::mutex> lock(mutex);
            title = arg;
            server.notify("state");
        } else if (word == "exchange") {
            auto p = split(arg, '|');
            p.resize(5);
            exchanges.add(Exchange{p[0], p[1], p[2], p[3], p[4] != "bad"});
            server.notify("exchanges");
        }
        std::cout << "OK" << std::endl;
    }
    server.stop();
    return 0;
}
