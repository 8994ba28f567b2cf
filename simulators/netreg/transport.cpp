#include "simulators/netreg/transport.h"

#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPServerConnection.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerRequestImpl.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/TCPServer.h>
#include <Poco/Net/TCPServerConnectionFactory.h>

#ifdef _WIN32
#include <winsock2.h>
#define MSG_NOSIGNAL 0 // no SIGPIPE there
#else
#include <sys/socket.h>
#endif

#include <chrono>
#include <sstream>
#include <stdexcept>

namespace netsim {

namespace {

constexpr std::size_t kMaxRequestBody = 1024 * 1024;

} // namespace

struct Transport::Access {
    static void listConnection(Transport& t, const Poco::Net::StreamSocket& socket, ConnectionState& conn)
    {
        t.counts_.open(conn);
        std::lock_guard<std::mutex> lock(t.connectionsMutex_);
        t.connections_[socket.impl()] = &conn;
    }

    static void unlistConnection(Transport& t, const Poco::Net::StreamSocket& socket)
    {
        std::lock_guard<std::mutex> lock(t.connectionsMutex_);
        t.connections_.erase(socket.impl());
    }

    static void serve(Transport& t, Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response)
    {
        ConnectionState* conn = nullptr;
        {
            const Poco::Net::StreamSocket& socket = static_cast<Poco::Net::HTTPServerRequestImpl&>(request).socket();
            std::lock_guard<std::mutex> lock(t.connectionsMutex_);
            const auto it = t.connections_.find(socket.impl());
            if (it != t.connections_.end()) conn = it->second;
        }
        ConnectionState single; // a request reaching here outside a counted connection
        if (!conn) {
            t.counts_.open(single);
            conn = &single;
        }
        t.serve_(request, response, *conn);
    }
};

namespace {

class Handler : public Poco::Net::HTTPRequestHandler {
public:
    explicit Handler(Transport& transport) : transport_(transport) {}
    void handleRequest(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response) override
    {
        try {
            Transport::Access::serve(transport_, request, response);
        } catch (const std::exception&) {
            // The connection is dropped; the simulator carries on.
        }
    }

private:
    Transport& transport_;
};

class Factory : public Poco::Net::HTTPRequestHandlerFactory {
public:
    explicit Factory(Transport& transport) : transport_(transport) {}
    Poco::Net::HTTPRequestHandler* createRequestHandler(const Poco::Net::HTTPServerRequest&) override
    {
        return new Handler(transport_);
    }
    // Shuts the open connections down, their answers unsent.
    void abortConnections() { serverStopped(this, true); }

private:
    Transport& transport_;
};

// An HTTP connection that counts its requests: listed under its socket while it runs, for
// the handlers of its requests to find.
class Connection : public Poco::Net::HTTPServerConnection {
public:
    Connection(const Poco::Net::StreamSocket& socket, Poco::Net::HTTPServerParams::Ptr params,
               Poco::Net::HTTPRequestHandlerFactory::Ptr factory, Transport& transport)
        : HTTPServerConnection(socket, params, factory), transport_(transport)
    {}
    void run() override
    {
        ConnectionState state;
        Transport::Access::listConnection(transport_, socket(), state);
        try {
            HTTPServerConnection::run();
        } catch (...) {
            Transport::Access::unlistConnection(transport_, socket());
            throw;
        }
        Transport::Access::unlistConnection(transport_, socket());
    }

private:
    Transport& transport_;
};

class ConnectionFactory : public Poco::Net::TCPServerConnectionFactory {
public:
    ConnectionFactory(Poco::Net::HTTPServerParams::Ptr params, Poco::Net::HTTPRequestHandlerFactory::Ptr handlers,
                      Transport& transport)
        : params_(params), handlers_(handlers), transport_(transport)
    {}
    Poco::Net::TCPServerConnection* createConnection(const Poco::Net::StreamSocket& socket) override
    {
        return new Connection(socket, params_, handlers_, transport_);
    }

private:
    Poco::Net::HTTPServerParams::Ptr params_;
    Poco::Net::HTTPRequestHandlerFactory::Ptr handlers_;
    Transport& transport_;
};

} // namespace

Transport::Transport(TrafficCount& counts, Serve serve) : counts_(counts), serve_(std::move(serve)) {}

Transport::~Transport()
{
    interrupt();
    stop();
}

void Transport::start(const std::string& bind, uint16_t port)
{
    Poco::Net::ServerSocket socket;
    // Address reuse only (a restart need not wait for old connections), never port reuse:
    // a second simulator on a taken port must fail here, not share the connections.
    try {
        socket.bind(Poco::Net::SocketAddress(bind, port), true, false);
    } catch (const Poco::Net::NetException& e) {
        throw std::runtime_error("port " + std::to_string(port) + " on " + bind +
                                 " is already in use or not available (" + e.displayText() +
                                 "): stop the program that listens there, or choose another --port");
    }
    socket.listen(64);
    port_ = socket.address().port();
    Poco::Net::HTTPServerParams::Ptr params = new Poco::Net::HTTPServerParams;
    params->setMaxThreads(16);
    params->setMaxQueued(64);
    params->setKeepAlive(true);
    params->setKeepAliveTimeout(Poco::Timespan(10, 0));
    params->setTimeout(Poco::Timespan(10, 0));
    handlers_ = new Factory(*this);
    server_ = std::make_unique<Poco::Net::TCPServer>(new ConnectionFactory(params, handlers_, *this), pool_, socket,
                                                     params);
    server_->start();
}

void Transport::interrupt()
{
    {
        std::lock_guard<std::mutex> lock(waitMutex_);
        stopping_ = true;
    }
    waitCv_.notify_all();
}

void Transport::stop()
{
    if (server_) {
        server_->stop();
        static_cast<Factory&>(*handlers_).abortConnections();
        server_.reset();
        pool_.joinAll();
    }
}

void Transport::pause(int ms)
{
    std::unique_lock<std::mutex> lock(waitMutex_);
    waitCv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping_.load(); });
}

void Transport::send(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                     const std::string& body, const Faults::Drip* drip, const int* stallMs)
{
    if (!drip && !stallMs) {
        response.send().write(body.data(), static_cast<std::streamsize>(body.size()));
        return;
    }
    // Written here rather than through the response: the connection closes afterwards.
    response.setKeepAlive(false);
    std::ostringstream headText;
    response.write(headText);
    const std::string head = headText.str();
    Poco::Net::StreamSocket socket = socketOf(request);
    if (drip) {
        if (!write(socket, head, drip->head ? drip->ms : 0)) return;
        write(socket, body, drip->body ? drip->ms : 0);
        return;
    }
    const std::size_t half = body.size() / 2 + body.size() % 2;
    if (!write(socket, head + body.substr(0, half), 0)) return;
    pause(*stallMs);
    if (!stopping_) write(socket, body.substr(half), 0);
}

bool Transport::write(Poco::Net::StreamSocket& socket, const std::string& text, int ms)
{
    std::size_t done = 0;
    while (done < text.size()) {
        if (stopping_) return false;
        const std::size_t n = ms > 0 ? 1 : text.size() - done;
        const int sent = socket.sendBytes(text.data() + done, static_cast<int>(n), MSG_NOSIGNAL);
        if (sent <= 0) return false;
        done += static_cast<std::size_t>(sent);
        if (ms > 0 && done < text.size()) pause(ms);
    }
    return !stopping_;
}

Poco::Net::StreamSocket Transport::socketOf(Poco::Net::HTTPServerRequest& request)
{
    return static_cast<Poco::Net::HTTPServerRequestImpl&>(request).socket();
}

void Transport::resetConnection(Poco::Net::HTTPServerRequest& request)
{
    Poco::Net::StreamSocket socket = socketOf(request);
    socket.setLinger(true, 0);
    socket.close();
}

bool Transport::readBody(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                         std::string& body)
{
    std::istream& in = request.stream();
    char chunk[8192];
    while (in) {
        in.read(chunk, sizeof chunk);
        const std::size_t n = static_cast<std::size_t>(in.gcount());
        if (n == 0) break;
        if (body.size() + n > kMaxRequestBody) {
            response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_REQUEST_ENTITY_TOO_LARGE);
            response.setKeepAlive(false);
            response.send() << "{\"err\":\"1\"}";
            return false;
        }
        body.append(chunk, n);
    }
    return true;
}

} // namespace netsim
