// HTTP session with one network register: GET and POST of CGI paths with JSON bodies,
// the register's Basic or Digest challenge, "deflate" bodies and a UTF-8 BOM.
#pragma once

#include "netclient/errors.h"

#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPCredentials.h>
#include <Poco/Timespan.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace Poco {
namespace Net {
class HTTPRequest;
}
} // namespace Poco

namespace oltra {

// Largest response body accepted (after inflating); a longer one fails the call.
constexpr std::size_t kMaxResponseBytes = 16u * 1024u * 1024u;

// Time-outs of one exchange: `normal` for every read, write and connection, `challenged`
// once the register has answered 401 (until the next exchange). However slowly an answer
// trickles in, the whole exchange ends as a time-out once it has lasted `deadline`, or
// `challengedDeadline` counted from the register's 401.
struct HttpTimeouts {
    Poco::Timespan normal{5, 0};
    Poco::Timespan challenged{300, 0};
    Poco::Timespan deadline{15, 0};
    Poco::Timespan challengedDeadline{300, 0};
};

// Tighter bounds for one exchange: it ends as a time-out after `deadline` (or the
// client's own deadline, when that is shorter), and an answer longer than `maxBytes` fails
// it like an oversized one.
struct ExchangeLimits {
    Poco::Timespan deadline;
    std::size_t maxBytes = kMaxResponseBytes;
};

class DeadlineSocketImpl;

class HttpClient {
public:
    // address: "192.168.0.10", "192.168.0.10:8080" or "http://host:port/ignored-path"
    // (UTF-8). Sends nothing. Throws Poco::SyntaxException for an address the URI
    // parser rejects.
    HttpClient(const std::string& address, const std::string& user, const std::string& password,
               const HttpTimeouts& timeouts = HttpTimeouts());
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Both return true only for a final status 200; the body is handed out whenever the
    // exchange completed. Once the register has asked for credentials, every later request
    // carries them (Digest with an increasing nonce count); a 401 to such a request is
    // answered like the first challenge. Time-outs (Poco::TimeoutException, also for a
    // time-out while the body is read), the authentication failure
    // (Poco::Exception, code kAuthenticationErrorCode), an oversized body
    // (Poco::Net::MessageException) and other POCO exceptions are logged and thrown on;
    // other standard exceptions are logged and give false.
    bool get(const std::string& path, std::string& response);
    bool get(const std::string& path, std::string& response, const ExchangeLimits& limits);
    bool post(const std::string& path, const std::u16string& body, std::string& response);
    // The same with a body that is already UTF-8.
    bool postUtf8(const std::string& path, const std::string& body, std::string& response);

    const std::string& host() const { return host_; }
    std::uint16_t port() const { return port_; }

    // Final status and reason phrase of the last exchange; 0 and empty when it did not
    // complete.
    int lastStatus() const { return lastStatus_; }
    const std::string& lastReason() const { return lastReason_; }
    // "HTTP " + status + " " + reason of the last exchange; empty when it ended with 200 or
    // did not complete.
    std::string lastStatusText() const;

private:
    bool exchange(Poco::Net::HTTPRequest& request, const std::string& body, std::string& response);
    void readBody(std::istream& in, bool inflate, std::string& body);
    void startTimer(const Poco::Timespan& perStep, const Poco::Timespan& whole);

    const std::string bom_;
    std::string host_;
    std::uint16_t port_ = 80;
    HttpTimeouts timeouts_;
    std::unique_ptr<Poco::Net::HTTPClientSession> session_;
    std::unique_ptr<Poco::Net::HTTPCredentials> credentials_;
    DeadlineSocketImpl* socket_ = nullptr;     // owned by the session's socket
    std::string authorization_;                // of the last request the register accepted; empty before a challenge
    std::size_t maxBytes_ = kMaxResponseBytes; // of the exchange in progress
    int lastStatus_ = 0;
    std::string lastReason_;
};

} // namespace oltra
