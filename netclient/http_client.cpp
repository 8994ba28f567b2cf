#include "netclient/http_client.h"

#include "netclient/client_log.h"
#include "textconv/utf.h"

#include <Poco/Exception.h>
#include <Poco/InflatingStream.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/NetException.h>
#include <Poco/URI.h>

#include <istream>

namespace oltra {

namespace {

const std::string kSeparator(54, '-');

// Copies the stream into `out`; more than kMaxResponseBytes fails the exchange.
void readBounded(std::istream& in, std::string& out)
{
    out.clear();
    char chunk[8192];
    while (in) {
        in.read(chunk, sizeof chunk);
        const std::size_t n = static_cast<std::size_t>(in.gcount());
        if (n == 0) break;
        if (out.size() + n > kMaxResponseBytes)
            throw Poco::Net::MessageException("Response body exceeds the limit of " +
                                              std::to_string(kMaxResponseBytes) + " bytes");
        out.append(chunk, n);
    }
    // A stream error (a corrupt deflate body, a broken connection) is not an answer.
    if (in.bad()) throw Poco::Net::MessageException("Response body could not be read");
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

HttpClient::HttpClient(const std::string& address, const std::string& user, const std::string& password,
                       const HttpTimeouts& timeouts)
    : bom_("\xEF\xBB\xBF"), timeouts_(timeouts)
{
    const std::string url = address.compare(0, 4, "http") == 0 ? address : "http://" + address;
    const Poco::URI uri(url);
    host_ = uri.getHost();
    port_ = uri.getPort() ? uri.getPort() : 80;
    credentials_ = std::make_unique<Poco::Net::HTTPCredentials>(user, password);
    session_ = std::make_unique<Poco::Net::HTTPClientSession>(host_, port_);
    // One connection for the whole session: without keep-alive every request (and every
    // answer to an authentication challenge) would open a TCP connection of its own.
    session_->setKeepAlive(true);
    netlog::debug("Create HTTP object host: " + host_);
}

HttpClient::~HttpClient()
{
    netlog::debug(std::string("Destroy HTTP object"));
}

bool HttpClient::get(const std::string& path, std::string& response)
{
    netlog::debug(kSeparator);
    netlog::debug("GET request: " + path);
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, path, Poco::Net::HTTPMessage::HTTP_1_1);
    return exchange(request, std::string(), response);
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

bool HttpClient::exchange(Poco::Net::HTTPRequest& request, const std::string& body, std::string& response)
{
    try {
        applyTimeouts(*session_, timeouts_.normal);
        const bool isPost = request.getMethod() == Poco::Net::HTTPRequest::HTTP_POST;

        std::ostream& out = session_->sendRequest(request);
        if (isPost) out << body;
        Poco::Net::HTTPResponse head;
        std::istream* in = &session_->receiveResponse(head);

        if (head.getStatus() == Poco::Net::HTTPResponse::HTTP_UNAUTHORIZED) {
            // Let the connection be reused: drop the refusal's body, or the connection
            // when the body is too long to skip.
            std::string skipped;
            try {
                readBounded(*in, skipped);
            } catch (const Poco::Net::MessageException&) {
                session_->reset();
            }
            applyTimeouts(*session_, timeouts_.challenged);
            credentials_->authenticate(request, head);
            std::ostream& again = session_->sendRequest(request);
            if (isPost) again << body;
            head = Poco::Net::HTTPResponse();
            in = &session_->receiveResponse(head);
            if (head.getStatus() == Poco::Net::HTTPResponse::HTTP_UNAUTHORIZED)
                throw Poco::Exception("Authentication error: Wrong username or password.", kAuthenticationErrorCode);
        }

        std::string received;
        if (head.has("Content-Encoding") && head.get("Content-Encoding") == "deflate") {
            Poco::InflatingInputStream inflater(*in, Poco::InflatingStreamBuf::STREAM_ZLIB);
            readBounded(inflater, received);
        } else {
            readBounded(*in, received);
            if (head.hasContentLength() && head.getContentLength64() > static_cast<Poco::Int64>(received.size()))
                throw Poco::Net::MessageException("Response body truncated: " + std::to_string(received.size()) +
                                                  " of " + std::to_string(head.getContentLength64()) + " bytes");
        }
        response.swap(received);
        if (response.size() > 2 && response.compare(0, 3, bom_) == 0) response.erase(0, 3);
        netlog::response(response);
        netlog::debug("Response status: " + head.getReason());
        return head.getStatus() == Poco::Net::HTTPResponse::HTTP_OK;
    } catch (const Poco::TimeoutException& e) {
        netlog::error(e.displayText());
        // The late answer must not be taken for the next request's.
        session_->reset();
        throw;
    } catch (const Poco::Exception& e) {
        netlog::error(e.displayText());
        // A half-read answer must not be taken for the next one.
        session_->reset();
        throw;
    } catch (const std::exception& e) {
        netlog::error(std::string(e.what()));
        session_->reset();
        return false;
    }
}

} // namespace oltra
