#include "simulators/console/http.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace simconsole {

namespace {

bool isToken(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u)) return true;
    switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~': return true;
    default: return false;
    }
}

std::string lower(std::string s)
{
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

bool hasControlByte(const std::string& text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

bool hostAccepted(const std::string& host, const std::vector<std::string>& names, std::uint16_t port)
{
    // NAME or NAME:PORT, where NAME may be an IPv6 address in brackets.
    std::size_t nameEnd = 0;
    if (!host.empty() && host[0] == '[') {
        nameEnd = host.find(']');
        if (nameEnd == std::string::npos) return false;
        ++nameEnd;
    } else {
        nameEnd = host.find(':');
        if (nameEnd == std::string::npos) nameEnd = host.size();
    }
    const std::string name = lower(host.substr(0, nameEnd));
    std::string given = "80";
    if (nameEnd < host.size()) {
        if (host[nameEnd] != ':') return false;
        given = host.substr(nameEnd + 1);
    }
    if (given != std::to_string(port)) return false;
    for (const auto& n : names)
        if (!n.empty() && name == n) return true;
    return false;
}

bool originAccepted(const std::string& origin, const std::vector<std::string>& names, std::uint16_t port)
{
    return origin.compare(0, 7, "http://") == 0 && hostAccepted(origin.substr(7), names, port);
}

bool isMediaType(const std::string& contentType, const std::string& type)
{
    return lower(trim(contentType.substr(0, contentType.find(';')))) == type;
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        std::size_t end = nl;
        if (end > start && text[end - 1] == '\r') --end;
        lines.push_back(text.substr(start, end - start));
        start = nl + 1;
    }
    return lines;
}

std::string Request::header(const std::string& lowerName) const
{
    const auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
}

RequestParser::Result RequestParser::fail(int status, const std::string& text)
{
    errorStatus_ = status;
    errorText_ = text;
    buffer_.clear();
    return Result::Error;
}

RequestParser::Result RequestParser::feed(const char* data, std::size_t size)
{
    if (errorStatus_ != 0) return Result::Error;
    // The buffer stays bounded: a head is refused once it passes its limit, and a body
    // is never waited for past its announced (and limited) length; so it holds at most
    // one limit plus the bytes of one call.
    if (size > 0) buffer_.append(data, size);
    if (!haveHead_) {
        // Empty lines before a request are allowed and skipped.
        std::size_t skip = 0;
        while (skip < buffer_.size() && (buffer_[skip] == '\r' || buffer_[skip] == '\n')) ++skip;
        if (skip > 0) buffer_.erase(0, skip);
        const std::size_t firstNl = buffer_.find('\n');
        if ((firstNl == std::string::npos ? buffer_.size() : firstNl) > limits_.maxLine)
            return fail(414, "request line too long");
        std::size_t headEnd = std::string::npos, bodyStart = 0;
        for (std::size_t i = buffer_.find('\n'); i != std::string::npos; i = buffer_.find('\n', i + 1)) {
            if (i + 1 < buffer_.size() && buffer_[i + 1] == '\n') {
                headEnd = i + 1;
                bodyStart = i + 2;
                break;
            }
            if (i + 2 < buffer_.size() && buffer_[i + 1] == '\r' && buffer_[i + 2] == '\n') {
                headEnd = i + 1;
                bodyStart = i + 3;
                break;
            }
        }
        if (headEnd == std::string::npos) {
            if (buffer_.size() > limits_.maxHead) return fail(431, "request head too large");
            return Result::NeedMore;
        }
        if (headEnd > limits_.maxHead) return fail(431, "request head too large");
        const Result r = parseHead(headEnd);
        if (r == Result::Error) return r;
        buffer_.erase(0, bodyStart);
        haveHead_ = true;
    }
    if (buffer_.size() < bodyLength_) return Result::NeedMore;
    request_.body = buffer_.substr(0, bodyLength_);
    buffer_.erase(0, bodyLength_);
    haveHead_ = false;
    bodyLength_ = 0;
    return Result::Done;
}

RequestParser::Result RequestParser::parseHead(std::size_t headEnd)
{
    request_ = Request();
    bodyLength_ = 0;
    const std::vector<std::string> lines = splitLines(buffer_.substr(0, headEnd));
    if (lines.empty()) return fail(400, "empty request");

    // METHOD SP TARGET SP HTTP/1.x
    const std::string& line = lines[0];
    const std::size_t sp1 = line.find(' ');
    const std::size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos || line.find(' ', sp2 + 1) != std::string::npos)
        return fail(400, "malformed request line");
    request_.method = line.substr(0, sp1);
    request_.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string version = line.substr(sp2 + 1);
    request_.version = version;
    if (request_.method.empty()) return fail(400, "malformed request line");
    for (char c : request_.method)
        if (!isToken(c)) return fail(400, "malformed method");
    if (request_.target.empty() || request_.target[0] != '/') return fail(400, "the target must be a path");
    for (char c : request_.target)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return fail(400, "control byte in the target");
    if (version == "HTTP/1.1") request_.keepAlive = true;
    else if (version == "HTTP/1.0") request_.keepAlive = false;
    else if (version.compare(0, 5, "HTTP/") == 0) return fail(505, "only HTTP/1.0 and 1.1");
    else return fail(400, "malformed request line");

    if (lines.size() - 1 > limits_.maxHeaders) return fail(431, "too many header fields");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& h = lines[i];
        if (h.empty()) continue;
        if (h[0] == ' ' || h[0] == '\t') return fail(400, "folded header lines are not accepted");
        const std::size_t colon = h.find(':');
        if (colon == std::string::npos || colon == 0) return fail(400, "malformed header field");
        for (std::size_t k = 0; k < colon; ++k)
            if (!isToken(h[k])) return fail(400, "malformed header name");
        const std::string name = lower(h.substr(0, colon));
        const std::string value = trim(h.substr(colon + 1));
        for (char c : value)
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F)
                return fail(400, "control byte in a header value");
        auto it = request_.headers.find(name);
        if (it == request_.headers.end()) request_.headers[name] = value;
        else if (name == "content-length") {
            if (it->second != value) return fail(400, "conflicting Content-Length");
        } else it->second += ", " + value;
    }

    if (request_.headers.count("transfer-encoding")) return fail(501, "Transfer-Encoding is not supported");
    const std::string length = request_.header("content-length");
    if (!length.empty()) {
        if (length.size() > 12) return fail(413, "request body too large");
        std::size_t n = 0;
        for (char c : length) {
            if (c < '0' || c > '9') return fail(400, "malformed Content-Length");
            n = n * 10 + static_cast<std::size_t>(c - '0');
        }
        if (n > limits_.maxBody) return fail(413, "request body too large");
        bodyLength_ = n;
    }
    const std::string connection = lower(request_.header("connection"));
    if (connection.find("close") != std::string::npos) request_.keepAlive = false;
    else if (connection.find("keep-alive") != std::string::npos) request_.keepAlive = true;

    const std::size_t q = request_.target.find('?');
    request_.path = request_.target.substr(0, q);
    if (q != std::string::npos && !parseQuery(request_.target.substr(q + 1), request_.query))
        return fail(400, "malformed query");
    return Result::Done;
}

bool percentDecode(const std::string& in, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '+') {
            out += ' ';
        } else if (in[i] == '%') {
            if (i + 2 >= in.size()) return false;
            const int hi = hexDigit(in[i + 1]), lo = hexDigit(in[i + 2]);
            if (hi < 0 || lo < 0) return false;
            out += static_cast<char>(hi << 4 | lo);
            i += 2;
        } else {
            out += in[i];
        }
    }
    return true;
}

bool parseQuery(const std::string& query, std::map<std::string, std::string>& out)
{
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t amp = query.find('&', start);
        if (amp == std::string::npos) amp = query.size();
        const std::string pair = query.substr(start, amp - start);
        if (!pair.empty()) {
            const std::size_t eq = pair.find('=');
            std::string key, value;
            if (!percentDecode(pair.substr(0, eq), key)) return false;
            if (eq != std::string::npos && !percentDecode(pair.substr(eq + 1), value)) return false;
            out[key] = value;
        }
        start = amp + 1;
    }
    return true;
}

const char* reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 415: return "Unsupported Media Type";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Unknown";
    }
}

std::string responseText(int status, const std::string& contentType, const std::string& body, bool keepAlive,
                         const std::vector<std::pair<std::string, std::string>>& extraHeaders)
{
    if (hasControlByte(contentType)) throw std::invalid_argument("control byte in the content type");
    for (const auto& h : extraHeaders) {
        if (h.first.empty()) throw std::invalid_argument("empty header name");
        for (char c : h.first)
            if (!isToken(c)) throw std::invalid_argument("malformed header name");
        for (char c : h.second)
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F)
                throw std::invalid_argument("control byte in the value of " + h.first);
    }
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
    if (!contentType.empty()) out += "Content-Type: " + contentType + "\r\n";
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    out += "Cache-Control: no-store\r\n";
    out += "X-Content-Type-Options: nosniff\r\n";
    for (const auto& h : extraHeaders) out += h.first + ": " + h.second + "\r\n";
    out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    out += "\r\n";
    out += body;
    return out;
}

std::string jsonQuote(const std::string& text)
{
    std::string out = "\"";
    out.reserve(text.size() + 2);
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
            }
            ++i;
            continue;
        }
        // A UTF-8 sequence: its length and the smallest value it may carry.
        std::size_t len = 0;
        unsigned cp = 0, min = 0;
        if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
            min = 0x10000;
        }
        bool ok = len > 0 && i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) ok = false;
            else cp = cp << 6 | (s[i + k] & 0x3F);
        }
        if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
        if (!ok) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        out.append(text, i, len);
        i += len;
    }
    out += '"';
    return out;
}

namespace {

// Reads the JSON text of the flat objects the console accepts.
class FlatReader {
public:
    explicit FlatReader(const std::string& s) : s_(s) {}

    bool object(std::map<std::string, FlatValue>& out, std::string& error)
    {
        space();
        if (!take('{')) return bad(error, "an object is expected");
        space();
        if (take('}')) return end(error);
        for (;;) {
            space();
            std::string key;
            if (!string(key)) return bad(error, "a member name is expected");
            space();
            if (!take(':')) return bad(error, "':' is expected");
            space();
            FlatValue v;
            if (!value(v)) return bad(error, "a string, number, true, false or null is expected");
            out[key] = v;
            space();
            if (take('}')) return end(error);
            if (!take(',')) return bad(error, "',' or '}' is expected");
        }
    }

private:
    bool end(std::string& error)
    {
        space();
        if (i_ != s_.size()) return bad(error, "text after the object");
        return true;
    }
    bool bad(std::string& error, const char* what)
    {
        error = std::string(what) + " at byte " + std::to_string(i_);
        return false;
    }
    void space()
    {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) ++i_;
    }
    bool take(char c)
    {
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    bool word(const char* w)
    {
        const std::string t(w);
        if (s_.compare(i_, t.size(), t) != 0) return false;
        i_ += t.size();
        return true;
    }
    void utf8(unsigned cp, std::string& out)
    {
        if (cp < 0x80) out += static_cast<char>(cp);
        else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | cp >> 18);
            out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    bool hex4(unsigned& v)
    {
        if (i_ + 4 > s_.size()) return false;
        v = 0;
        for (int k = 0; k < 4; ++k) {
            const int d = hexDigit(s_[i_++]);
            if (d < 0) return false;
            v = v << 4 | static_cast<unsigned>(d);
        }
        return true;
    }
    bool string(std::string& out)
    {
        if (!take('"')) return false;
        while (i_ < s_.size()) {
            const char c = s_[i_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) return false;
            const char e = s_[i_++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned cp;
                if (!hex4(cp)) return false;
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    unsigned lo;
                    if (!word("\\u") || !hex4(lo) || lo < 0xDC00 || lo > 0xDFFF) return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    return false;
                }
                utf8(cp, out);
                break;
            }
            default: return false;
            }
        }
        return false;
    }
    bool value(FlatValue& v)
    {
        if (i_ >= s_.size()) return false;
        const char c = s_[i_];
        if (c == '"') {
            v.kind = FlatValue::String;
            return string(v.text);
        }
        if (word("true")) {
            v.kind = FlatValue::Bool;
            v.text = "true";
            return true;
        }
        if (word("false")) {
            v.kind = FlatValue::Bool;
            v.text = "false";
            return true;
        }
        if (word("null")) {
            v.kind = FlatValue::Null;
            v.text.clear();
            return true;
        }
        // -?digits[.digits][e[+-]digits]
        const std::size_t start = i_;
        take('-');
        std::size_t digits = 0;
        while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) {
            ++i_;
            ++digits;
        }
        if (digits == 0) return false;
        if (take('.')) {
            digits = 0;
            while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) {
                ++i_;
                ++digits;
            }
            if (digits == 0) return false;
        }
        if (take('e') || take('E')) {
            if (!take('+')) take('-');
            digits = 0;
            while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) {
                ++i_;
                ++digits;
            }
            if (digits == 0) return false;
        }
        v.kind = FlatValue::Number;
        v.text = s_.substr(start, i_ - start);
        return true;
    }

    const std::string& s_;
    std::size_t i_ = 0;
};

} // namespace

bool parseFlatObject(const std::string& json, std::map<std::string, FlatValue>& out, std::string& error)
{
    out.clear();
    FlatReader reader(json);
    if (reader.object(out, error)) return true;
    out.clear();
    return false;
}

void JsonObject::key(const std::string& k)
{
    if (text_.size() > 1) text_ += ',';
    text_ += jsonQuote(k);
    text_ += ':';
}

JsonObject& JsonObject::str(const std::string& k, const std::string& value)
{
    key(k);
    text_ += jsonQuote(value);
    return *this;
}

JsonObject& JsonObject::num(const std::string& k, long long value)
{
    key(k);
    text_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::num(const std::string& k, unsigned long long value)
{
    key(k);
    text_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::boolean(const std::string& k, bool value)
{
    key(k);
    text_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::raw(const std::string& k, const std::string& json)
{
    key(k);
    text_ += json;
    return *this;
}

std::string jsonArray(const std::vector<std::string>& items)
{
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += ',';
        out += items[i];
    }
    return out + "]";
}

std::string jsonStringArray(const std::vector<std::string>& items)
{
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += ',';
        out += jsonQuote(items[i]);
    }
    return out + "]";
}

} // namespace simconsole
