// The console's bounded logs and the --console address.
#include "simulators/console/console.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace simconsole {

std::uint64_t Feed::add(const std::string& members)
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(members);
    while (entries_.size() > capacity_) entries_.pop_front();
    return ++last_;
}

std::uint64_t Feed::last() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
}

std::string Feed::json(const std::string& listName, std::uint64_t since) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t first = entries_.empty() ? 0 : last_ - entries_.size() + 1;
    std::string out = "{\"first\":" + std::to_string(first) + ",\"last\":" + std::to_string(last_) + "," +
                      jsonQuote(listName) + ":[";
    if (!entries_.empty()) {
        std::uint64_t n = since < first ? first : since + 1;
        for (std::size_t count = 0; n <= last_ && count < perAnswer_; ++n, ++count) {
            const std::string& members = entries_[static_cast<std::size_t>(n - first)];
            if (count && out.size() + members.size() > kAnswerBytes) break; // the rest in the next answer
            if (count) out += ',';
            out += "{\"n\":" + std::to_string(n);
            if (!members.empty()) out += "," + members;
            out += '}';
        }
    }
    return out + "]}";
}

std::uint64_t TapeFeed::print(const std::string& text)
{
    std::uint64_t n = feed_.last();
    for (const auto& line : splitLines(text)) n = feed_.add("\"text\":" + jsonQuote(line));
    return n;
}

std::uint64_t TapeFeed::printLogo() { return feed_.add("\"logo\":true"); }

namespace {

// A field of an exchange as kept: at most kFieldBytes of it.
std::string clipped(const std::string& text)
{
    constexpr std::size_t kFieldBytes = 64 * 1024;
    if (text.size() <= kFieldBytes) return jsonQuote(text);
    return jsonQuote(text.substr(0, kFieldBytes) + " ... (" + std::to_string(text.size()) + " bytes)");
}

} // namespace

std::uint64_t ExchangeFeed::add(const Exchange& e)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const long ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03ld", tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    return feed_.add("\"time\":" + jsonQuote(stamp) + ",\"title\":" + clipped(e.title) +
                     ",\"request\":" + clipped(e.request) + ",\"answer\":" + clipped(e.answer) +
                     ",\"note\":" + clipped(e.note) + ",\"ok\":" + (e.ok ? "true" : "false"));
}

bool parseListenAddress(const std::string& text, std::string& address, std::uint16_t& port, std::string& error)
{
    std::string host = "127.0.0.1", digits = text;
    if (!text.empty() && text[0] == '[') {
        const std::size_t close = text.find("]:");
        if (close == std::string::npos) {
            error = "expected [ADDR]:PORT, got \"" + text + "\"";
            return false;
        }
        host = text.substr(1, close - 1);
        digits = text.substr(close + 2);
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon != std::string::npos) {
            host = text.substr(0, colon);
            digits = text.substr(colon + 1);
            if (host.find(':') != std::string::npos) {
                error = "an IPv6 address goes in brackets: [ADDR]:PORT";
                return false;
            }
        }
    }
    if (host.empty()) {
        error = "empty address in \"" + text + "\"";
        return false;
    }
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(digits) > 65535) {
        error = "\"" + digits + "\" is not a port number from 0 to 65535";
        return false;
    }
    address = host;
    port = static_cast<std::uint16_t>(std::stoul(digits));
    return true;
}

} // namespace simconsole
