// The simulator's HTTP side as a carrier: the listening server and its connections, each
// counted, and the pacing of answers (delays, one byte at a time, a stall mid-body) that
// stopping cuts short. What a request gets is decided by the Serve function it is given.
#pragma once

#include "simulators/netreg/netsim.h"
#include "simulators/netreg/traffic.h"

#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/ThreadPool.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace Poco {
namespace Net {
class HTTPServerRequest;
class HTTPServerResponse;
class SocketImpl;
class TCPServer;
} // namespace Net
} // namespace Poco

namespace netsim {

class Transport {
public:
    // Serves one request, read from a connection that `conn` counts.
    using Serve =
        std::function<void(Poco::Net::HTTPServerRequest&, Poco::Net::HTTPServerResponse&, ConnectionState& conn)>;

    Transport(TrafficCount& counts, Serve serve);
    ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // Listens on bind:port (0: any free one); throws std::runtime_error when it cannot.
    void start(const std::string& bind, uint16_t port);
    // The first step of stopping: wakes every delayed or paced answer and lets none go on.
    void interrupt();
    // Stops listening and aborts the open connections, their answers unsent; waits for
    // their threads. Idempotent.
    void stop();
    uint16_t port() const { return port_; }
    bool stopping() const { return stopping_; }

    // Sleeps up to ms; returns early when stopping.
    void pause(int ms);
    // Sends the head and body, one byte every drip->ms (the parts it names) or the head and
    // the first half of the body, a pause of *stallMs, and the rest; both close the
    // connection afterwards. Neither given: sent as usual.
    void send(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response, const std::string& body,
              const Faults::Drip* drip, const int* stallMs);
    // Writes text, one byte every ms when ms > 0; false when stopped.
    bool write(Poco::Net::StreamSocket& socket, const std::string& text, int ms);

    static Poco::Net::StreamSocket socketOf(Poco::Net::HTTPServerRequest& request);
    // Ends the connection with a TCP reset, leaving the request unanswered.
    static void resetConnection(Poco::Net::HTTPServerRequest& request);
    // Reads the body, bounded; false (and answered) when it is too long.
    static bool readBody(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                         std::string& body);

    // For the connections and their handlers (transport.cpp).
    struct Access;

private:
    TrafficCount& counts_;
    const Serve serve_;
    Poco::ThreadPool pool_{2, 16};
    std::unique_ptr<Poco::Net::TCPServer> server_;
    Poco::Net::HTTPRequestHandlerFactory::Ptr handlers_;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex waitMutex_;
    std::condition_variable waitCv_;
    // The open connections by their socket: a connection lists itself while it runs, and
    // the handler of each of its requests finds it by the request's socket.
    std::mutex connectionsMutex_;
    std::map<const Poco::Net::SocketImpl*, ConnectionState*> connections_;
};

} // namespace netsim
