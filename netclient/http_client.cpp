#include "netclient/http_client.h"

#include "netclient/client_log.h"
#include "textconv/utf.h"

#include <Poco/Exception.h>
#include <Poco/InflatingStream.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/NetException.h>
#include <Poco/URI.h>

#include <Poco/Net/StreamSocket.h>
#include <Poco/Net/StreamSocketImpl.h>

#include <algorithm>
#include <chrono>
#include <istream>

namespace oltra {

namespace {

const std::string kSeparator(54, '-');

using SteadyClock = std::chrono::steady_clock;

// Copies the stream into `out` until it ends or fails; more than `limit` bytes fail the
// exchange.
void readBounded(std::istream& in, std::string& out, std::size_t limit = kMaxResponseBytes)
{
    out.clear();
    char chunk[8192];
    while (in) {
        in.read(chunk, sizeof chunk);
        const std::size_t n = static_cast<std::size_t>(in.gcount());
        if (n == 0) break;
        if (out.size() + n > limit)
            throw Poco::Net::MessageException("Response body exceeds the limit of " + std::to_string(limit) + " bytes");
        out.append(chunk, n);
    }
}

// Sets the session's time-outs. The session keeps its connection between requests,
// and a connected socket keeps the values it was opened with, so they are set on the
// socket as well.
void applyTimeouts(Poco::Net::HTTPClientSession& session, const Poco::Timespan& t)
{
    session.setTimeout(t, t, t);
    if (session.connected()) {
        session.socket().setReceiveTimeout(t);
        session.socket().setSendTimeout(t);
    }
}

} // namespace

// The session's socket. Each read and write waits at most the per-read time-out (the
// socket's own), and none waits past the end of the exchange: an answer dripped a byte at
// a time can't hold the caller longer than the exchange's deadline.
class DeadlineSocketImpl final : public Poco::Net::StreamSocketImpl {
public:
    using Poco::Net::StreamSocketImpl::receiveBytes;
    using Poco::Net::StreamSocketImpl::sendBytes;

    void start(const Poco::Timespan& perStep, const Poco::Timespan& whole)
    {
        perStep_ = perStep;
        whole_ = whole;
        end_ = SteadyClock::now() + std::chrono::microseconds(whole.totalMicroseconds());
        active_ = true;
    }
    void stop() { active_ = false; }

    int receiveBytes(void* buffer, int length, int flags = 0) override
    {
        waitFor(SELECT_READ);
        return Poco::Net::StreamSocketImpl::receiveBytes(buffer, length, flags);
    }
    int sendBytes(const void* buffer, int length, int flags = 0) override
    {
        waitFor(SELECT_WRITE);
        return Poco::Net::StreamSocketImpl::sendBytes(buffer, length, flags);
    }

private:
    void waitFor(int mode)
    {
        if (!active_) return;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end_ - SteadyClock::now()).count();
        // Only when the exchange ends sooner than the socket's own time-out does this wait
        // for itself.
        if (left <= 0 || (left < perStep_.totalMicroseconds() && !poll(Poco::Timespan(left), mode)))
            throw Poco::TimeoutException("The exchange with the register took longer than " +
                                         std::to_string(whole_.totalSeconds()) + " s");
    }

    bool active_ = false;
    Poco::Timespan perStep_, whole_;
    SteadyClock::time_point end_;
};

HttpClient::HttpClient(const std::string& address, const std::string& user, const std::string& password,
                       const HttpTimeouts& timeouts)
    : bom_("\xEF\xBB\xBF"), timeouts_(timeouts)
{
    const std::string url = address.compare(0, 4, "http") == 0 ? address : "http://" + address;
    const Poco::URI uri(url);
    host_ = uri.getHost();
    port_ = uri.getPort() ? uri.getPort() : 80;
    credentials_ = std::make_unique<Poco::Net::HTTPCredentials>(user, password);
    socket_ = new DeadlineSocketImpl;
    session_ = std::make_unique<Poco::Net::HTTPClientSession>(Poco::Net::StreamSocket(socket_));
    session_->setHost(host_);
    session_->setPort(port_);
    // One connection for the whole session: without keep-alive every request (and every
    // answer to an authentication challenge) would open a TCP connection of its own.
    session_->setKeepAlive(true);
    netlog::debug("Create HTTP object host: " + host_);
}

HttpClient::~HttpClient() { netlog::debug(std::string("Destroy HTTP object")); }

bool HttpClient::get(const std::string& path, std::string& response)
{
    netlog::debug(kSeparator);
    netlog::debug("GET request: " + path);
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, path, Poco::Net::HTTPMessage::HTTP_1_1);
    return exchange(request, std::string(), response);
}

bool HttpClient::get(const std::string& path, std::string& response, const ExchangeLimits& limits)
{
    // A socket time-out of 0 would wait for ever.
    if (limits.deadline.totalMicroseconds() <= 0) throw Poco::TimeoutException("No time left for the exchange");
    const HttpTimeouts saved = timeouts_;
    if (limits.deadline < timeouts_.deadline) timeouts_.deadline = limits.deadline;
    if (limits.deadline < timeouts_.normal) timeouts_.normal = limits.deadline;
    if (limits.deadline < timeouts_.challenged) timeouts_.challenged = limits.deadline;
    if (limits.deadline < timeouts_.challengedDeadline) timeouts_.challengedDeadline = limits.deadline;
    maxBytes_ = std::min(limits.maxBytes, kMaxResponseBytes);
    struct Restore {
        HttpClient& c;
        const HttpTimeouts& t;
        ~Restore()
        {
            c.timeouts_ = t;
            c.maxBytes_ = kMaxResponseBytes;
        }
    } restore{*this, saved};
    return get(path, response);
}

bool HttpClient::post(const std::string& path, const std::u16string& body, std::string& response)
{
    return postUtf8(path, textconv::toUtf8(body), response);
}

bool HttpClient::postUtf8(const std::string& path, const std::string& body, std::string& response)
{
    netlog::debug(kSeparator);
    netlog::debug("POST request: " + path);
    if (!body.empty()) netlog::debug("Content:" + body);
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_POST, path, Poco::Net::HTTPMessage::HTTP_1_1);
    request.setContentLength(static_cast<std::streamsize>(body.size()));
    request.setContentType("application/json");
    return exchange(request, body, response);
}

std::string HttpClient::lastStatusText() const
{
    if (lastStatus_ == 0 || lastStatus_ == Poco::Net::HTTPResponse::HTTP_OK) return std::string();
    return "HTTP " + std::to_string(lastStatus_) + " " + lastReason_;
}

void HttpClient::startTimer(const Poco::Timespan& perStep, const Poco::Timespan& whole)
{
    applyTimeouts(*session_, perStep);
    socket_->start(perStep, whole);
}

void HttpClient::readBody(std::istream& in, bool inflate, std::string& body)
{
    bool failed = false;
    if (inflate) {
        Poco::InflatingInputStream inflater(in, Poco::InflatingStreamBuf::STREAM_ZLIB);
        readBounded(inflater, body, maxBytes_);
        failed = inflater.bad() || in.bad();
    } else {
        readBounded(in, body, maxBytes_);
        failed = in.bad();
    }
    if (!failed) return;
    // The stream only knows that it broke; the session keeps the network's reason (a
    // time-out, a reset connection), which is what the caller must see.
    if (const Poco::Exception* reason = session_->networkException()) reason->rethrow();
    // A corrupt deflate body, say: not an answer.
    throw Poco::Net::MessageException("Response body could not be read");
}

bool HttpClient::exchange(Poco::Net::HTTPRequest& request, const std::string& body, std::string& response)
{
    lastStatus_ = 0;
    lastReason_.clear();
    try {
        startTimer(timeouts_.normal, timeouts_.deadline);
        const bool isPost = request.getMethod() == Poco::Net::HTTPRequest::HTTP_POST;
        // After the register's first challenge the credentials go with every request.
        if (!authorization_.empty()) {
            request.set(Poco::Net::HTTPRequest::AUTHORIZATION, authorization_);
            credentials_->updateAuthInfo(request);
        }

        std::ostream& out = session_->sendRequest(request);
        if (isPost) out << body;
        Poco::Net::HTTPResponse head;
        std::istream* in = &session_->receiveResponse(head);

        if (head.getStatus() == Poco::Net::HTTPResponse::HTTP_UNAUTHORIZED) {
            // A first request, or credentials the register no longer takes (a stale or
            // changed nonce): answer the challenge. Let the connection be reused: drop the
            // refusal's body, or the connection when the body is too long to skip.
            std::string skipped;
            try {
                readBounded(*in, skipped);
                if (in->bad()) session_->reset();
            } catch (const Poco::Net::MessageException&) {
                session_->reset();
            }
            startTimer(timeouts_.challenged, timeouts_.challengedDeadline);
            // A challenge brings a new nonce, and the credentials keep a count for every
            // nonce they have answered: start afresh, or a register that changes its nonce
            // often makes the session grow for as long as it lives.
            credentials_ = std::make_unique<Poco::Net::HTTPCredentials>(credentials_->getUsername(),
                                                                        credentials_->getPassword());
            credentials_->authenticate(request, head);
            std::ostream& again = session_->sendRequest(request);
            if (isPost) again << body;
            head = Poco::Net::HTTPResponse();
            in = &session_->receiveResponse(head);
            if (head.getStatus() == Poco::Net::HTTPResponse::HTTP_UNAUTHORIZED) {
                authorization_.clear();
                throw Poco::Exception("Authentication error: Wrong username or password.", kAuthenticationErrorCode);
            }
        }
        if (request.has(Poco::Net::HTTPRequest::AUTHORIZATION))
            authorization_ = request.get(Poco::Net::HTTPRequest::AUTHORIZATION);

        std::string received;
        if (head.has("Content-Encoding") && head.get("Content-Encoding") == "deflate") {
            readBody(*in, true, received);
        } else {
            readBody(*in, false, received);
            if (head.hasContentLength() && head.getContentLength64() > static_cast<Poco::Int64>(received.size()))
                throw Poco::Net::MessageException("Response body truncated: " + std::to_string(received.size()) +
                                                  " of " + std::to_string(head.getContentLength64()) + " bytes");
        }
        socket_->stop();
        response.swap(received);
        if (response.size() > 2 && response.compare(0, 3, bom_) == 0) response.erase(0, 3);
        netlog::response(response);
        netlog::debug("Response status: " + head.getReason());
        lastStatus_ = static_cast<int>(head.getStatus());
        lastReason_ = head.getReason();
        return head.getStatus() == Poco::Net::HTTPResponse::HTTP_OK;
    } catch (const Poco::TimeoutException& e) {
        socket_->stop();
        netlog::error(e.displayText());
        // The late answer must not be taken for the next request's.
        session_->reset();
        throw;
    } catch (const Poco::Exception& e) {
        socket_->stop();
        netlog::error(e.displayText());
        // A half-read answer must not be taken for the next one.
        session_->reset();
        throw;
    } catch (const std::exception& e) {
        socket_->stop();
        netlog::error(std::string(e.what()));
        session_->reset();
        return false;
    }
}

} // namespace oltra
