// The console's HTTP/1.1 and JSON pieces that touch no socket: the request parser with
// its size limits, the response text, query parameters, JSON string quoting and the small
// flat JSON object reader used for the fault switch requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace simconsole {

// Limits of one request. A request over a limit is refused with the status given.
struct Limits {
    std::size_t maxHead = 8 * 1024;  // request line and headers: 431 (or 414 for the line)
    std::size_t maxLine = 2 * 1024;  // request line: 414
    std::size_t maxHeaders = 50;     // header count: 431
    std::size_t maxBody = 16 * 1024; // body: 413
};

struct Request {
    std::string method;
    std::string version;                        // "HTTP/1.1" or "HTTP/1.0"
    std::string target;                         // as sent: "/api/tape?since=4"
    std::string path;                           // without the query: "/api/tape"
    std::map<std::string, std::string> query;   // decoded parameters
    std::map<std::string, std::string> headers; // names in lower case; repeated ones joined by ", "
    std::string body;
    bool keepAlive = true;

    // The header's value, or "" when absent.
    std::string header(const std::string& lowerName) const;
};

// Reads requests from the bytes of one connection, one after the other.
class RequestParser {
public:
    enum class Result { NeedMore, Done, Error };

    explicit RequestParser(Limits limits = Limits()) : limits_(limits) {}

    // Takes the bytes received. Done: `request()` holds a whole request and the bytes
    // after it stay buffered for the next call of `next()`. Error: `errorStatus()` and
    // `errorText()` say why; the connection is to be answered and closed.
    Result feed(const char* data, std::size_t size);
    // Parses what is still buffered after a request was taken.
    Result next() { return feed(nullptr, 0); }

    const Request& request() const { return request_; }
    int errorStatus() const { return errorStatus_; }
    const std::string& errorText() const { return errorText_; }
    std::size_t buffered() const { return buffer_.size(); }

private:
    Result fail(int status, const std::string& text);
    Result parseHead(std::size_t headEnd);

    Limits limits_;
    std::string buffer_;
    Request request_;
    bool haveHead_ = false;
    std::size_t bodyLength_ = 0;
    int errorStatus_ = 0;
    std::string errorText_;
};

// Whether `host`, a Host header's value, names one of `names` (lower case, IPv6
// addresses in brackets) with `port` (no port given: 80). Letters compare in any case.
bool hostAccepted(const std::string& host, const std::vector<std::string>& names, std::uint16_t port);
// Whether `origin`, an Origin header's value, is "http://" and a Host `hostAccepted` takes.
bool originAccepted(const std::string& origin, const std::vector<std::string>& names, std::uint16_t port);
// Whether a Content-Type value is of the media type `type` (lower case), parameters apart.
bool isMediaType(const std::string& contentType, const std::string& type);
// Whether the text holds a control byte (below 0x20, tab included, or 0x7F).
bool hasControlByte(const std::string& text);

// The lines of a text, ended by LF or CRLF (a last line end adds no empty line).
std::vector<std::string> splitLines(const std::string& text);

// Decodes %XX and '+' of a query component; false on a broken escape.
bool percentDecode(const std::string& in, std::string& out);
// "a=1&b=x%20y" into a map; false on a broken escape.
bool parseQuery(const std::string& query, std::map<std::string, std::string>& out);

// The reason phrase of a status code ("OK", "Not Found", ...).
const char* reasonPhrase(int status);

// A whole response: status line, the headers given, Content-Length and Connection.
// Throws std::invalid_argument when a header name is not a token or a value (the
// content type too) holds a control byte other than a tab: such a value would end the
// head early and forge what follows.
std::string responseText(int status, const std::string& contentType, const std::string& body, bool keepAlive,
                         const std::vector<std::pair<std::string, std::string>>& extraHeaders = {});

// The text as a JSON string literal with its quotes. Bytes that are not valid UTF-8
// become U+FFFD, so that the output is always valid JSON.
std::string jsonQuote(const std::string& text);

// A JSON object with string, number, boolean or null members only (no nesting), as the
// console's POST bodies are. Numbers are kept as their text, booleans as "true"/"false".
struct FlatValue {
    enum Kind { String, Number, Bool, Null } kind = Null;
    std::string text;
};
bool parseFlatObject(const std::string& json, std::map<std::string, FlatValue>& out, std::string& error);

// Builds one JSON object member by member.
class JsonObject {
public:
    JsonObject& str(const std::string& key, const std::string& value);
    JsonObject& num(const std::string& key, long long value);
    JsonObject& num(const std::string& key, unsigned long long value);
    JsonObject& num(const std::string& key, int value) { return num(key, static_cast<long long>(value)); }
    JsonObject& num(const std::string& key, unsigned value) { return num(key, static_cast<unsigned long long>(value)); }
    JsonObject& boolean(const std::string& key, bool value);
    // `json` must already be valid JSON (an object, an array, a number...).
    JsonObject& raw(const std::string& key, const std::string& json);
    std::string text() const { return text_ + "}"; }

private:
    void key(const std::string& k);
    std::string text_ = "{";
};

// "[a,b,c]" from JSON texts.
std::string jsonArray(const std::vector<std::string>& items);
std::string jsonStringArray(const std::vector<std::string>& items);

} // namespace simconsole
