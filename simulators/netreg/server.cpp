// HTTP side of the simulated register: authentication, fault injection, encodings, and
// the SSDP responder.
#include "netsim.h"

#include <Poco/DeflatingStream.h>
#include <Poco/DigestEngine.h>
#include <Poco/Exception.h>
#include <Poco/JSON/Object.h>
#include <Poco/MD5Engine.h>
#include <Poco/Net/DatagramSocket.h>
#include <Poco/Net/HTTPAuthenticationParams.h>
#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerRequestImpl.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Random.h>
#include <Poco/String.h>
#include <Poco/ThreadPool.h>
#include <Poco/URI.h>

#include <netinet/in.h>
#include <arpa/inet.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <sstream>

namespace netsim {

namespace {

constexpr std::size_t kMaxRequestBody = 1024 * 1024;
constexpr std::size_t kRequestLog = 1000;
const char kRealm[] = "Oltra";

std::string md5(const std::string& text)
{
    Poco::MD5Engine engine;
    engine.update(text);
    return Poco::DigestEngine::digestToHex(engine.digest());
}

// The value configured for a path, or for "*".
template <class Map>
const typename Map::mapped_type* lookup(const Map& map, const std::string& path)
{
    auto it = map.find(path);
    if (it == map.end()) it = map.find("*");
    return it == map.end() ? nullptr : &it->second;
}

bool matches(const std::set<std::string>& set, const std::string& path) { return set.count(path) || set.count("*"); }

} // namespace

struct Simulator::Impl {
    explicit Impl(const Config& c) : config(c), tape(c.tape), requestLog(c.requestLog), reg(c, tape)
    {
        faults = c.faults;
    }

    Config config;
    Tape tape;
    Tape requestLog;
    Register reg;
    mutable std::mutex mutex;            // guards faults, requests, nonces
    Faults faults;
    std::deque<Request> requests;
    std::deque<std::string> nonces;
    Poco::Random random;

    Poco::ThreadPool pool{2, 16};
    std::unique_ptr<Poco::Net::HTTPServer> server;
    uint16_t port = 0;
    std::atomic<bool> stopping{false};
    std::mutex waitMutex;
    std::condition_variable waitCv;
    std::thread ssdpThread;

    // Sleeps up to ms; returns early when the simulator stops.
    void pause(int ms)
    {
        std::unique_lock<std::mutex> lock(waitMutex);
        waitCv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping.load(); });
    }

    std::string newNonce()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::ostringstream n;
        n << std::hex << random.next() << random.next() << random.next() << random.next();
        nonces.push_back(n.str());
        if (nonces.size() > 256) nonces.pop_front();
        return n.str();
    }

    bool knownNonce(const std::string& nonce) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& n : nonces)
            if (n == nonce) return true;
        return false;
    }

    bool authorised(const Poco::Net::HTTPServerRequest& request, bool always401)
    {
        if (always401) return false;
        if (config.auth == Auth::None) return true;
        if (!request.hasCredentials()) return false;
        std::string scheme, info;
        request.getCredentials(scheme, info);
        try {
            if (config.auth == Auth::Basic) {
                if (Poco::icompare(scheme, "Basic") != 0) return false;
                const Poco::Net::HTTPBasicCredentials basic(info);
                return basic.getUsername() == config.user && basic.getPassword() == config.password;
            }
            if (Poco::icompare(scheme, "Digest") != 0) return false;
            const Poco::Net::HTTPAuthenticationParams p(info);
            if (p.get("username", "") != config.user || p.get("realm", "") != kRealm) return false;
            if (!knownNonce(p.get("nonce", "")) || p.get("uri", "") != request.getURI()) return false;
            const std::string ha1 = md5(config.user + ":" + kRealm + ":" + config.password);
            const std::string ha2 = md5(request.getMethod() + ":" + p.get("uri"));
            const std::string expected =
                p.has("qop") ? md5(ha1 + ":" + p.get("nonce") + ":" + p.get("nc", "") + ":" + p.get("cnonce", "") + ":" +
                                   p.get("qop") + ":" + ha2)
                             : md5(ha1 + ":" + p.get("nonce") + ":" + ha2);
            return p.get("response", "") == expected;
        } catch (const Poco::Exception&) {
            return false;
        }
    }

    void serve(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response)
    {
        // Read the body, bounded.
        std::string body;
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
                    return;
                }
                body.append(chunk, n);
            }
        }
        const Faults f = snapshot();
        if (!authorised(request, f.always401)) {
            std::string challenge = config.auth == Auth::Basic
                                        ? std::string("Basic realm=\"") + kRealm + "\""
                                        : std::string("Digest realm=\"") + kRealm + "\", qop=\"auth\", nonce=\"" +
                                              newNonce() + "\", opaque=\"" + md5(config.serial) + "\", algorithm=MD5";
            response.set("WWW-Authenticate", challenge);
            response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_UNAUTHORIZED);
            response.setContentType("text/html");
            const std::string page = "<html><body>401 Unauthorized</body></html>";
            response.setContentLength(static_cast<std::streamsize>(page.size()));
            response.send() << page;
            return;
        }
        const Poco::URI uri(request.getURI());
        const std::string path = uri.getPath();
        const std::string query = uri.getRawQuery();
        {
            std::lock_guard<std::mutex> lock(mutex);
            requests.push_back(Request{request.getMethod(), request.getURI(), body});
            if (requests.size() > kRequestLog) requests.pop_front();
        }
        if (!config.requestLog.empty()) {
            Poco::JSON::Object line;
            line.set("method", request.getMethod());
            line.set("uri", request.getURI());
            line.set("body", body);
            std::ostringstream text;
            line.stringify(text);
            requestLog.print(text.str() + "\n");
        }
        if (const int* ms = lookup(f.delayMs, path)) pause(*ms);
        if (stopping) return;

        Answer a;
        if (const int* status = lookup(f.status, path)) {
            a.status = *status;
            a.body = "<html><body>" + std::to_string(*status) + "</body></html>";
        } else {
            a = reg.handle(request.getMethod(), path, query, body);
            if (matches(f.dropAfter, path)) {
                // The request was carried out; its answer is lost.
                static_cast<Poco::Net::HTTPServerRequestImpl&>(request).socket().shutdown();
                return;
            }
            if (const int* ms = lookup(f.stallAfterMs, path)) pause(*ms);
            if (stopping) return;
            if (const std::string* code = lookup(f.err, path)) a.body = "{\"err\":\"" + *code + "\"}";
            if (const auto* codes = lookup(f.errArray, path)) {
                a.body = "{\"err\":[";
                for (std::size_t i = 0; i < codes->size(); ++i)
                    a.body += (i ? ",{\"e\":\"" : "{\"e\":\"") + (*codes)[i] + "\"}";
                a.body += "]}";
            }
            if (matches(f.malformed, path)) a.body = a.body.substr(0, a.body.size() / 2) + ",,{";
            if (const std::size_t* size = lookup(f.oversize, path))
                if (a.body.size() < *size) a.body.append(*size - a.body.size(), ' ');
        }
        if (f.bom) a.body = "\xEF\xBB\xBF" + a.body;
        if (f.deflate) {
            std::ostringstream packed;
            {
                Poco::DeflatingOutputStream deflater(packed, Poco::DeflatingStreamBuf::STREAM_ZLIB);
                deflater << a.body;
                deflater.close();
            }
            a.body = packed.str();
            response.set("Content-Encoding", "deflate");
        }
        response.setStatusAndReason(static_cast<Poco::Net::HTTPResponse::HTTPStatus>(a.status));
        response.setContentType("application/json; charset=utf-8");
        response.setContentLength(static_cast<std::streamsize>(a.body.size()));
        response.send().write(a.body.data(), static_cast<std::streamsize>(a.body.size()));
    }

    Faults snapshot() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return faults;
    }

    // Answers M-SEARCH for the device type (or ssdp:all / upnp:rootdevice) until stopped.
    void ssdpLoop(Poco::Net::DatagramSocket socket)
    {
        char buffer[2048];
        while (!stopping) {
            Poco::Net::SocketAddress sender;
            int n = 0;
            try {
                if (!socket.poll(Poco::Timespan(0, 200000), Poco::Net::Socket::SELECT_READ)) continue;
                n = socket.receiveFrom(buffer, sizeof buffer - 1, sender);
            } catch (const Poco::Exception&) {
                continue;
            }
            if (n <= 0) continue;
            const std::string message(buffer, static_cast<std::size_t>(n));
            if (message.compare(0, 8, "M-SEARCH") != 0) continue;
            std::string st;
            std::istringstream lines(message);
            for (std::string line; std::getline(lines, line);) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (line.size() >= 3 && Poco::icompare(line.substr(0, 3), "ST:") == 0) st = Poco::trim(line.substr(3));
            }
            if (st != kDeviceType && st != "ssdp:all" && st != "upnp:rootdevice") continue;
            try {
                const std::string host = advertisedHost(sender);
                const std::string answer = "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nEXT:\r\nLOCATION: http://" +
                                           host + ":" + std::to_string(port) +
                                           "/desc\r\nSERVER: Linux UPnP/1.1 oltra-netsim/1.0\r\nST: " + kDeviceType +
                                           "\r\nUSN: uuid:" + config.serial + "::" + kDeviceType + "\r\n\r\n";
                socket.sendTo(answer.data(), static_cast<int>(answer.size()), sender);
            } catch (const Poco::Exception&) {
            }
        }
    }

    // The address to put in LOCATION: the bound one, or the one that reaches the asker.
    std::string advertisedHost(const Poco::Net::SocketAddress& asker) const
    {
        if (config.bind != "0.0.0.0") return config.bind;
        Poco::Net::DatagramSocket probe(Poco::Net::SocketAddress::IPv4);
        probe.connect(asker);
        return probe.address().host().toString();
    }
};

namespace {

class Handler : public Poco::Net::HTTPRequestHandler {
public:
    explicit Handler(Simulator::Impl& impl) : impl_(impl) {}
    void handleRequest(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response) override
    {
        try {
            impl_.serve(request, response);
        } catch (const std::exception&) {
            // The connection is dropped; the simulator carries on.
        }
    }

private:
    Simulator::Impl& impl_;
};

class Factory : public Poco::Net::HTTPRequestHandlerFactory {
public:
    explicit Factory(Simulator::Impl& impl) : impl_(impl) {}
    Poco::Net::HTTPRequestHandler* createRequestHandler(const Poco::Net::HTTPServerRequest&) override
    {
        return new Handler(impl_);
    }

private:
    Simulator::Impl& impl_;
};

} // namespace

Simulator::Simulator(const Config& config) : impl_(new Impl(config)) {}

Simulator::~Simulator() { stop(); }

void Simulator::start()
{
    Impl& d = *impl_;
    Poco::Net::ServerSocket socket;
    socket.bind(Poco::Net::SocketAddress(d.config.bind, d.config.port), true);
    socket.listen(64);
    d.port = socket.address().port();
    Poco::Net::HTTPServerParams::Ptr params = new Poco::Net::HTTPServerParams;
    params->setMaxThreads(16);
    params->setMaxQueued(64);
    params->setKeepAlive(true);
    params->setKeepAliveTimeout(Poco::Timespan(10, 0));
    params->setTimeout(Poco::Timespan(10, 0));
    d.server = std::make_unique<Poco::Net::HTTPServer>(new Factory(d), d.pool, socket, params);
    d.server->start();

    if (d.config.ssdp) {
        Poco::Net::DatagramSocket udp(Poco::Net::SocketAddress::IPv4);
        udp.bind(Poco::Net::SocketAddress("0.0.0.0", 1900), true, true);
        ip_mreq group {};
        group.imr_multiaddr.s_addr = inet_addr("239.255.255.250");
        group.imr_interface.s_addr = d.config.bind == "0.0.0.0" ? htonl(INADDR_ANY) : inet_addr(d.config.bind.c_str());
        if (::setsockopt(udp.impl()->sockfd(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) != 0)
            throw Poco::IOException("cannot join the SSDP multicast group on " + d.config.bind);
        d.ssdpThread = std::thread([&d, udp] { d.ssdpLoop(udp); });
    }
}

void Simulator::stop()
{
    Impl& d = *impl_;
    {
        std::lock_guard<std::mutex> lock(d.waitMutex);
        d.stopping = true;
    }
    d.waitCv.notify_all();
    if (d.ssdpThread.joinable()) d.ssdpThread.join();
    if (d.server) {
        d.server->stopAll(true);
        d.server.reset();
        d.pool.joinAll();
    }
}

uint16_t Simulator::port() const { return impl_->port; }

std::string Simulator::address() const { return impl_->config.bind + ":" + std::to_string(impl_->port); }

void Simulator::setFaults(const Faults& faults)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->faults = faults;
}

Faults Simulator::faults() const { return impl_->snapshot(); }

std::vector<Request> Simulator::requests() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return std::vector<Request>(impl_->requests.begin(), impl_->requests.end());
}

void Simulator::clearRequests()
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->requests.clear();
}

} // namespace netsim
