// Requests to the simulated register in the tests: plain HTTP through POCO, and raw
// sockets where the bytes on the wire and their timing matter.
#pragma once

#include "simulators/netreg/netsim.h"

#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPCredentials.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/NullStream.h>
#include <Poco/StreamCopier.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace netsimtest {

struct Reply {
    int status = 0;
    std::string body;
    std::string encoding;
};

// One request; answers a challenge with the given credentials (none when user is empty).
inline Reply call(uint16_t port, const std::string& method, const std::string& target, const std::string& body = "",
                  const std::string& user = "", const std::string& password = "")
{
    Poco::Net::HTTPClientSession session("127.0.0.1", port);
    session.setTimeout(Poco::Timespan(5, 0));
    Poco::Net::HTTPRequest request(method, target, Poco::Net::HTTPMessage::HTTP_1_1);
    request.setContentLength(static_cast<std::streamsize>(body.size()));
    Poco::Net::HTTPResponse response;
    session.sendRequest(request) << body;
    std::istream* in = &session.receiveResponse(response);
    if (response.getStatus() == Poco::Net::HTTPResponse::HTTP_UNAUTHORIZED && !user.empty()) {
        Poco::NullOutputStream skip;
        Poco::StreamCopier::copyStream(*in, skip);
        Poco::Net::HTTPCredentials credentials(user, password);
        credentials.authenticate(request, response);
        session.sendRequest(request) << body;
        response = Poco::Net::HTTPResponse();
        in = &session.receiveResponse(response);
    }
    Reply r;
    r.status = response.getStatus();
    r.encoding = response.get("Content-Encoding", "");
    Poco::StreamCopier::copyToString(*in, r.body);
    return r;
}

inline std::string get(uint16_t port, const std::string& target) { return call(port, "GET", target).body; }
inline std::string post(uint16_t port, const std::string& target, const std::string& body)
{
    return call(port, "POST", target, body).body;
}

inline netsim::Config plain()
{
    netsim::Config c;
    c.auth = netsim::Auth::None;
    c.clock = "2026-12-08 10:00:00";
    return c;
}

// A sale of `qty` x `price` in group `tax`, paid with the given P elements.
inline std::string sale(const std::string& kind, double qty, double price, int tax, const std::string& payments)
{
    char item[200];
    std::snprintf(item, sizeof item,
                  "{\"S\":{\"code\":1,\"name\":\"Товар\",\"qty\":%.3f,\"price\":%.2f,\"dep\":1,\"grp\":1,\"tax\":%d}}",
                  qty, price, tax);
    return "{\"" + kind + "\":[" + item + (payments.empty() ? "" : "," + payments) + "]}";
}

inline std::string payment(int no, double sum)
{
    char p[80];
    std::snprintf(p, sizeof p, "{\"P\":{\"no\":%d, \"sum\" : %.2f}}", no, sum);
    return p;
}

// What a raw socket received: the bytes, and how the exchange ended.
struct Wire {
    std::string bytes;
    bool closed = false; // the register closed the connection
    bool reset = false;  // ... with a reset
};

// True when `bytes` hold a whole answer on a connection that stays open.
inline bool complete(const std::string& bytes)
{
    const auto end = bytes.find("\r\n\r\n");
    if (end == std::string::npos || bytes.find("Connection: Close") < end) return false;
    const auto length = bytes.find("Content-Length: ");
    if (length == std::string::npos || length > end) return false;
    return bytes.size() - end - 4 >= std::stoul(bytes.substr(length + 16));
}

// Sends `request` as is and collects what arrives for up to `ms` milliseconds, until the
// connection ends or a whole answer came on a connection that stays open.
inline Wire exchange(uint16_t port, const std::string& request, int ms)
{
    Poco::Net::StreamSocket socket(Poco::Net::SocketAddress("127.0.0.1", port));
    socket.sendBytes(request.data(), static_cast<int>(request.size()));
    Wire w;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    char buf[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        try {
            if (!socket.poll(Poco::Timespan(left.count()), Poco::Net::Socket::SELECT_READ)) break;
            const int n = socket.receiveBytes(buf, sizeof buf);
            if (n <= 0) {
                w.closed = true;
                break;
            }
            w.bytes.append(buf, static_cast<std::size_t>(n));
            if (complete(w.bytes)) break;
        } catch (const Poco::Net::ConnectionResetException&) {
            w.closed = w.reset = true;
            break;
        }
    }
    return w;
}

inline std::string rawGet(const std::string& target) { return "GET " + target + " HTTP/1.1\r\nHost: register\r\n\r\n"; }

inline std::string rawPost(const std::string& target, const std::string& body)
{
    return "POST " + target + " HTTP/1.1\r\nHost: register\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

// The body after the head; empty when the head is incomplete.
inline std::string bodyOf(const std::string& bytes)
{
    const auto end = bytes.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : bytes.substr(end + 4);
}

} // namespace netsimtest
