// HTTP side of the simulated register: authentication, fault injection, encodings, and
// the SSDP responder.
#include "simulators/netreg/netsim.h"
#include "simulators/netreg/console_link.h"

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
#include <Poco/Net/HTTPServerConnection.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerSession.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerRequestImpl.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/TCPServer.h>
#include <Poco/Net/TCPServerConnectionFactory.h>
#include <Poco/Random.h>
#include <Poco/String.h>
#include <Poco/ThreadPool.h>
#include <Poco/URI.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#define MSG_NOSIGNAL 0   // no SIGPIPE there
#else
#include <netinet/in.h>
#include <arpa/inet.h>
#include <sys/socket.h>
#endif

#include <chrono>
#include <condition_variable>
#include <deque>
#include <sstream>
#include <stdexcept>

namespace netsim {

namespace {

constexpr std::size_t kMaxRequestBody = 1024 * 1024;
constexpr std::size_t kRequestLog = 1000;
constexpr std::size_t kConnectionLog = 1000;
constexpr std::size_t kNonces = 256;
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

std::string htmlPage(int status, const std::string& reason)
{
    return "<html><head><title>" + std::to_string(status) + " " + reason + "</title></head><body><h1>" + reason +
           "</h1></body></html>";
}

// One connection as the server sees it. Its handler thread reaches it through `current`.
struct ConnectionState {
    std::shared_ptr<ConnectionCount> count;
    uint64_t generation = 0;   // of the traffic count it is listed in
};
thread_local ConnectionState* current = nullptr;

enum class Login { Accepted, Refused, Stale };

// A Digest nonce given in a challenge.
struct Nonce {
    std::string value;
    std::chrono::steady_clock::time_point issued;
    int uses = 0;
    uint64_t lastNc = 0;
};

} // namespace

struct Simulator::Impl {
    explicit Impl(const Config& c) : config(c), tape(c.tape), requestLog(c.requestLog), reg(c, tape)
    {
        faults = c.faults;
        if (!c.console.empty())
            console = std::make_unique<ConsoleLink>(
                c.console, reg, tape, [this] { return snapshot(); },
                [this](const Faults& f) {
                    std::lock_guard<std::mutex> lock(mutex);
                    replaceFaults(f);
                });
    }

    Config config;
    Tape tape;
    Tape requestLog;
    Register reg;
    mutable std::mutex mutex;            // guards faults, requests, nonces, traffic
    Faults faults;
    std::deque<Request> requests;
    std::deque<Nonce> nonces;
    std::set<std::string> challenged;    // client hosts sent a Basic challenge that no login used yet
    Traffic totals;                      // its perConnection stays empty: see connections
    uint64_t lastConnection = 0;
    uint64_t generation = 0;             // of the traffic count, advanced when it is cleared
    std::deque<std::shared_ptr<ConnectionCount>> connections;
    bool documentSeen = false;           // requests after the last document, for afterDocument
    uint64_t sinceDocument = 0;
    std::map<std::string, uint64_t> sinceDocumentByPath;
    Poco::Random random;

    Poco::ThreadPool pool{2, 16};
    std::unique_ptr<Poco::Net::TCPServer> server;
    Poco::Net::HTTPRequestHandlerFactory::Ptr handlers;
    uint16_t port = 0;
    std::atomic<bool> stopping{false};
    std::mutex waitMutex;
    std::condition_variable waitCv;
    std::thread ssdpThread;
    std::unique_ptr<ConsoleLink> console;   // last: it reads the members above

    // What the console lists of one request: filled in while it is served, listed when
    // serving ends, whichever way.
    class Trace {
    public:
        Trace(Impl& impl, const Poco::Net::HTTPServerRequest& request, const std::string& body) : impl_(impl)
        {
            if (!impl_.console) return;
            e_.title = request.getMethod() + " " + request.getURI();
            e_.request = clip(body);
            e_.note = "no answer";
            e_.ok = false;
        }
        ~Trace()
        {
            if (impl_.console) impl_.console->exchange(e_);
        }
        void answer(int status, const std::string& body, const std::vector<std::string>& faults)
        {
            if (!impl_.console) return;
            e_.answer = clip(body);
            e_.note = std::to_string(status);
            const bool registerError = body.compare(0, 7, "{\"err\":") == 0;
            if (registerError) e_.note += ", register error";
            if (!faults.empty()) {
                e_.note += ", fault:";
                for (const auto& f : faults) e_.note += " " + f;
            }
            e_.ok = status == 200 && !registerError && faults.empty();
        }
        void note(const std::string& text, bool ok)
        {
            e_.note = text;
            e_.ok = ok;
        }

    private:
        static std::string clip(const std::string& text)
        {
            constexpr std::size_t kShown = 4000;
            return text.size() <= kShown ? text : text.substr(0, kShown) + " ... (" + std::to_string(text.size()) + " bytes)";
        }
        Impl& impl_;
        simconsole::Exchange e_;
    };

    // The faults that shape the answer to a request for `path`, by option name.
    static std::vector<std::string> faultsFor(const Faults& f, const std::string& path, bool post, bool document,
                                              const std::vector<std::string>& after)
    {
        std::vector<std::string> n = after;
        if (!post && path == "/cgi/chk" && f.journal.any()) n.push_back("journal");
        if (post && !f.foreignDocument.empty()) n.push_back("foreign-document");
        if (lookup(f.delayMs, path)) n.push_back("delay");
        if (document && f.documentStatus) {
            n.push_back("document-status");
        } else if (document && f.documentAnswer != Faults::BadAnswer::None) {
            n.push_back("document-answer");
        } else if (lookup(f.status, path)) {
            n.push_back("status");
        } else {
            if (lookup(f.stallAfterMs, path)) n.push_back("stall-after");
            if (lookup(f.err, path)) n.push_back("err");
            if (lookup(f.errArray, path)) n.push_back("err-array");
            if (matches(f.malformed, path)) n.push_back("malformed");
            if (lookup(f.oversize, path)) n.push_back("oversize");
        }
        if (f.bom) n.push_back("bom");
        if (f.deflate) n.push_back("deflate");
        if (lookup(f.drip, path)) n.push_back("drip");
        if (lookup(f.stallBodyMs, path)) n.push_back("stall-body");
        return n;
    }

    // With mutex held. The requests after a document are counted from the next document on.
    void replaceFaults(const Faults& f)
    {
        faults = f;
        documentSeen = false;
        sinceDocument = 0;
        sinceDocumentByPath.clear();
    }

    // Counts the request among those after the last document and adds to `f` the switches
    // of the after-document rules it meets; returns their names ("after-document status").
    // A document starts the count afresh.
    std::vector<std::string> countAfterDocument(Faults& f, const std::string& path, bool document)
    {
        std::vector<std::string> applied;
        if (f.afterDocument.empty() && !document) return applied;
        uint64_t any = 0, onPath = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (document) {
                documentSeen = true;
                sinceDocument = 0;
                sinceDocumentByPath.clear();
                return applied;
            }
            if (!documentSeen) return applied;
            any = ++sinceDocument;
            onPath = ++sinceDocumentByPath[path];
        }
        const std::vector<Faults::AfterDocument> rules = f.afterDocument;
        for (const auto& r : rules) {
            if (!r.path.empty() && r.path != path) continue;
            const uint64_t n = r.path.empty() ? any : onPath;
            if (n < static_cast<uint64_t>(r.nth) || (!r.onward && n != static_cast<uint64_t>(r.nth))) continue;
            try {
                applyAfterDocument(f, r);
                applied.push_back("after-document " + r.option);
            } catch (const std::invalid_argument&) {
                // Checked when the rule was given.
            }
        }
        return applied;
    }

    // Sleeps up to ms; returns early when the simulator stops.
    void pause(int ms)
    {
        std::unique_lock<std::mutex> lock(waitMutex);
        waitCv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping.load(); });
    }

    void openConnection(ConnectionState& conn)
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++totals.connections;
        list(conn, ++lastConnection);
    }

    // Lists a connection in the current traffic count, its counts from zero.
    void list(ConnectionState& conn, uint64_t id)
    {
        conn.count = std::make_shared<ConnectionCount>();
        conn.count->id = id;
        conn.generation = generation;
        connections.push_back(conn.count);
        if (connections.size() > kConnectionLog) connections.pop_front();
    }

    // Returns the connection's count of requests, this one included.
    uint64_t countRequest(ConnectionState& conn)
    {
        std::lock_guard<std::mutex> lock(mutex);
        // A connection opened before the count was cleared joins it on its next request.
        if (conn.generation != generation) list(conn, conn.count->id);
        ++totals.requests;
        return ++conn.count->requests;
    }

    void countUnauthorised(ConnectionState& conn)
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++totals.unauthorised;
        ++conn.count->unauthorised;
    }

    std::string newNonce()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::ostringstream n;
        n << std::hex << random.next() << random.next() << random.next() << random.next();
        nonces.push_back(Nonce{n.str(), std::chrono::steady_clock::now(), 0, 0});
        if (nonces.size() > kNonces) nonces.pop_front();
        return n.str();
    }

    // Takes one use of a nonce whose answer was right, when its lifetime allows it.
    Login useNonce(const std::string& value, const std::string& ncText, const Faults& f)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& n : nonces) {
            if (n.value != value) continue;
            if (f.challengeFirst) {
                if (n.uses > 0) return Login::Stale;
            } else {
                const auto age = std::chrono::steady_clock::now() - n.issued;
                if (f.nonceUses > 0 && n.uses >= f.nonceUses) return Login::Stale;
                if (f.nonceSeconds > 0 && age >= std::chrono::seconds(f.nonceSeconds)) return Login::Stale;
                if (!ncText.empty()) {
                    uint64_t nc = 0;
                    try {
                        nc = std::stoull(ncText, nullptr, 16);
                    } catch (const std::exception&) {
                        return Login::Refused;
                    }
                    if (nc <= n.lastNc) return Login::Stale;
                    n.lastNc = nc;
                }
            }
            ++n.uses;
            return Login::Accepted;
        }
        return Login::Refused;
    }

    bool knownNonce(const std::string& value) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& n : nonces)
            if (n.value == value) return true;
        return false;
    }

    Login login(const Poco::Net::HTTPServerRequest& request, const Faults& f)
    {
        if (f.always401) return Login::Refused;
        if (config.auth == Auth::None) return Login::Accepted;
        if (!request.hasCredentials()) return Login::Refused;
        std::string scheme, info;
        request.getCredentials(scheme, info);
        try {
            if (config.auth == Auth::Basic) {
                if (Poco::icompare(scheme, "Basic") != 0) return Login::Refused;
                const Poco::Net::HTTPBasicCredentials basic(info);
                if (basic.getUsername() != config.user || basic.getPassword() != config.password) return Login::Refused;
                // Without a challenge pending for the client, the credentials came before it.
                std::lock_guard<std::mutex> lock(mutex);
                if (!challenged.erase(request.clientAddress().host().toString()) && f.challengeFirst) return Login::Refused;
                return Login::Accepted;
            }
            if (Poco::icompare(scheme, "Digest") != 0) return Login::Refused;
            const Poco::Net::HTTPAuthenticationParams p(info);
            if (p.get("username", "") != config.user || p.get("realm", "") != kRealm) return Login::Refused;
            if (!knownNonce(p.get("nonce", "")) || p.get("uri", "") != request.getURI()) return Login::Refused;
            const std::string ha1 = md5(config.user + ":" + kRealm + ":" + config.password);
            const std::string ha2 = md5(request.getMethod() + ":" + p.get("uri"));
            const std::string expected =
                p.has("qop") ? md5(ha1 + ":" + p.get("nonce") + ":" + p.get("nc", "") + ":" + p.get("cnonce", "") + ":" +
                                   p.get("qop") + ":" + ha2)
                             : md5(ha1 + ":" + p.get("nonce") + ":" + ha2);
            if (p.get("response", "") != expected) return Login::Refused;
            return useNonce(p.get("nonce"), p.has("qop") ? p.get("nc", "") : std::string(), f);
        } catch (const Poco::Exception&) {
            return Login::Refused;
        }
    }

    void challenge(const Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response, bool stale,
                   ConnectionState& conn)
    {
        countUnauthorised(conn);
        if (config.auth == Auth::Basic) {
            std::lock_guard<std::mutex> lock(mutex);
            challenged.insert(request.clientAddress().host().toString());
        }
        const std::string challenge =
            config.auth == Auth::Basic
                ? std::string("Basic realm=\"") + kRealm + "\""
                : std::string("Digest realm=\"") + kRealm + "\", qop=\"auth\", nonce=\"" + newNonce() + "\", opaque=\"" +
                      md5(config.serial) + "\", algorithm=MD5" + (stale ? ", stale=true" : "");
        response.set("WWW-Authenticate", challenge);
        response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_UNAUTHORIZED);
        response.setContentType("text/html");
        const std::string page = "<html><body>401 Unauthorized</body></html>";
        response.setContentLength(static_cast<std::streamsize>(page.size()));
        response.send() << page;
    }

    static Poco::Net::StreamSocket socketOf(Poco::Net::HTTPServerRequest& request)
    {
        return static_cast<Poco::Net::HTTPServerRequestImpl&>(request).socket();
    }

    // Ends the connection with a TCP reset, leaving the request unanswered.
    static void resetConnection(Poco::Net::HTTPServerRequest& request)
    {
        Poco::Net::StreamSocket socket = socketOf(request);
        socket.setLinger(true, 0);
        socket.close();
    }

    void record(const Poco::Net::HTTPServerRequest& request, const std::string& body)
    {
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
    }

    // Reads the body, bounded; false (and answered) when it is too long.
    static bool readBody(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
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

    void serve(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response)
    {
        ConnectionState single;   // a request reaching here outside a counted connection
        if (!current) openConnection(single);
        ConnectionState& conn = current ? *current : single;
        std::string body;
        if (!readBody(request, response, body)) return;
        Trace trace(*this, request, body);
        const uint64_t onConnection = countRequest(conn);
        Faults f = snapshot();
        if (f.notRegister) {
            const auto status = static_cast<Poco::Net::HTTPResponse::HTTPStatus>(f.notRegister);
            response.setStatusAndReason(status);
            response.setContentType("text/html");
            const std::string page = htmlPage(f.notRegister, response.getReason());
            trace.answer(f.notRegister, page, {"not-a-register"});
            response.setContentLength(static_cast<std::streamsize>(page.size()));
            response.send() << page;
            return;
        }
        if (f.resetAfter >= 0 && onConnection > static_cast<uint64_t>(f.resetAfter)) {
            trace.note("connection reset, fault: reset-after", false);
            resetConnection(request);
            return;
        }
        const Login login = this->login(request, f);
        if (login != Login::Accepted) {
            trace.note(f.always401 ? "401, fault: always-401" : login == Login::Stale ? "401, nonce stale" : "401, login asked",
                       !f.always401);
            challenge(request, response, login == Login::Stale, conn);
            return;
        }
        const Poco::URI uri(request.getURI());
        const std::string path = uri.getPath();
        const std::string query = uri.getRawQuery();
        record(request, body);
        const bool post = request.getMethod() == "POST" && path == "/cgi/chk";
        const std::string kind = post ? Register::documentKind(body) : std::string();
        const bool document = kind == "F" || kind == "R" || kind == "P" || kind == "IO";
        const std::vector<std::string> after = countAfterDocument(f, path, document);
        if (post && !f.foreignDocument.empty()) {
            if (f.foreignDocument != "same") reg.handle("POST", "/cgi/chk", "", f.foreignDocument);
            else if (document) reg.handle("POST", "/cgi/chk", "", body);
        }
        if (matches(f.reset, path)) {
            trace.note("connection reset, fault: reset", false);
            resetConnection(request);
            return;
        }
        if (const int* ms = lookup(f.delayMs, path)) pause(*ms);
        if (stopping) return;

        Answer a;
        std::string contentType = "application/json; charset=utf-8";
        std::string reason;
        if (document && f.documentStatus) {
            if (f.documentStatusBooked) reg.handle(request.getMethod(), path, query, body);
            a.status = f.documentStatus;
            reason = f.documentReason.empty()
                         ? Poco::Net::HTTPResponse::getReasonForStatus(static_cast<Poco::Net::HTTPResponse::HTTPStatus>(a.status))
                         : f.documentReason;
            a.body = htmlPage(a.status, reason);
            contentType = "text/html";
        } else if (document && f.documentAnswer != Faults::BadAnswer::None) {
            if (f.documentAnswerBooked) a = reg.handle(request.getMethod(), path, query, body);
            a.status = 200;
            a.body = badAnswer(f.documentAnswer, f.documentAnswerBooked ? a.body : std::string());
            if (f.documentAnswer == Faults::BadAnswer::Html) contentType = "text/html";
            if (f.documentAnswer == Faults::BadAnswer::Close) {
                // The head without a length, then the close: a body of nothing.
                trace.answer(a.status, a.body, faultsFor(f, path, post, document, after));
                response.setKeepAlive(false);
                response.setContentType(contentType);
                response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_OK);
                std::ostringstream head;
                response.write(head);
                Poco::Net::StreamSocket socket = socketOf(request);
                if (write(socket, head.str(), 0)) socket.shutdown();
                return;
            }
        } else if (const int* status = lookup(f.status, path)) {
            a.status = *status;
            a.body = "<html><body>" + std::to_string(*status) + "</body></html>";
        } else {
            a = request.getMethod() == "GET" && path == "/cgi/chk" ? reg.journalAnswer(query, f.journal)
                                                                   : reg.handle(request.getMethod(), path, query, body);
            if (matches(f.dropAfter, path)) {
                // The request was carried out; its answer is lost.
                trace.answer(a.status, a.body, {"drop-after"});
                trace.note("carried out, then the connection dropped, fault: drop-after", false);
                socketOf(request).shutdown();
                return;
            }
            if (const int* ms = lookup(f.stallAfterMs, path)) pause(*ms);
            if (stopping) return;
            answerFaults(f, path, a);
        }
        trace.answer(a.status, a.body, faultsFor(f, path, post, document, after));
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
        const auto status = static_cast<Poco::Net::HTTPResponse::HTTPStatus>(a.status);
        if (reason.empty()) response.setStatusAndReason(status);
        else response.setStatusAndReason(status, reason);
        response.setContentType(contentType);
        response.setContentLength(static_cast<std::streamsize>(a.body.size()));
        send(request, response, a.body, f, path);
    }

    // The answer switches that rewrite a register answer.
    static void answerFaults(const Faults& f, const std::string& path, Answer& a)
    {
        if (const std::string* code = lookup(f.err, path)) a.body = "{\"err\":" + simconsole::jsonQuote(*code) + "}";
        if (const auto* codes = lookup(f.errArray, path)) {
            a.body = "{\"err\":[";
            for (std::size_t i = 0; i < codes->size(); ++i)
                a.body += (i ? ",{\"e\":" : "{\"e\":") + simconsole::jsonQuote((*codes)[i]) + "}";
            a.body += "]}";
        }
        if (matches(f.malformed, path)) a.body = broken(a.body);
        if (const std::size_t* size = lookup(f.oversize, path))
            if (a.body.size() < *size) a.body.append(*size - a.body.size(), ' ');
    }

    static std::string broken(const std::string& json) { return json.substr(0, json.size() / 2) + ",,{"; }

    // What stands in for a document's answer: built around the register's own answer when
    // the document was carried out.
    static std::string badAnswer(Faults::BadAnswer kind, const std::string& answer)
    {
        switch (kind) {
        case Faults::BadAnswer::Html: return htmlPage(200, "OK");
        case Faults::BadAnswer::Array: return "[" + answer + "]";
        case Faults::BadAnswer::Broken: return answer.empty() ? std::string("{\"id\":") : broken(answer);
        case Faults::BadAnswer::Empty:
        case Faults::BadAnswer::Close: return std::string();
        case Faults::BadAnswer::None: break;
        }
        return answer;
    }

    // Sends the head and body, paced or cut when a fault asks for it.
    void send(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response, const std::string& body,
              const Faults& f, const std::string& path)
    {
        const Faults::Drip* drip = lookup(f.drip, path);
        const int* stall = lookup(f.stallBodyMs, path);
        if (!drip && !stall) {
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
        pause(*stall);
        if (!stopping) write(socket, body.substr(half), 0);
    }

    // Writes text, one byte every ms when ms > 0; false when stopped.
    bool write(Poco::Net::StreamSocket& socket, const std::string& text, int ms)
    {
        std::size_t done = 0;
        while (done < text.size()) {
            if (stopping) return false;
            const std::size_t n = ms > 0 ? 1 : text.size() - done;
            const int sent = socket.sendBytes(text.data() + done, static_cast<int>(n), MSG_NOSIGNAL);
            if (sent <= 0) return false;
            done += static_cast<std::size_t>(sent);
            if (ms > 0 && done < text.size()) pause(ms);
        }
        return !stopping;
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
    // Shuts the open connections down, their answers unsent.
    void abortConnections() { serverStopped(this, true); }

private:
    Simulator::Impl& impl_;
};

// An HTTP connection that counts its requests: its thread's handlers find it in `current`.
class Connection : public Poco::Net::HTTPServerConnection {
public:
    Connection(const Poco::Net::StreamSocket& socket, Poco::Net::HTTPServerParams::Ptr params,
               Poco::Net::HTTPRequestHandlerFactory::Ptr factory, Simulator::Impl& impl)
        : HTTPServerConnection(socket, params, factory), impl_(impl)
    {
    }
    void run() override
    {
        ConnectionState state;
        impl_.openConnection(state);
        current = &state;
        try {
            HTTPServerConnection::run();
        } catch (...) {
            current = nullptr;
            throw;
        }
        current = nullptr;
    }

private:
    Simulator::Impl& impl_;
};

class ConnectionFactory : public Poco::Net::TCPServerConnectionFactory {
public:
    ConnectionFactory(Poco::Net::HTTPServerParams::Ptr params, Poco::Net::HTTPRequestHandlerFactory::Ptr handlers,
                      Simulator::Impl& impl)
        : params_(params), handlers_(handlers), impl_(impl)
    {
    }
    Poco::Net::TCPServerConnection* createConnection(const Poco::Net::StreamSocket& socket) override
    {
        return new Connection(socket, params_, handlers_, impl_);
    }

private:
    Poco::Net::HTTPServerParams::Ptr params_;
    Poco::Net::HTTPRequestHandlerFactory::Ptr handlers_;
    Simulator::Impl& impl_;
};

} // namespace

Simulator::Simulator(const Config& config) : impl_(new Impl(config)) {}

Simulator::~Simulator() { stop(); }

void Simulator::start()
{
    Impl& d = *impl_;
    Poco::Net::ServerSocket socket;
    // Address reuse only (a restart need not wait for old connections), never port reuse:
    // a second simulator on a taken port must fail here, not share the connections.
    try {
        socket.bind(Poco::Net::SocketAddress(d.config.bind, d.config.port), true, false);
    } catch (const Poco::Net::NetException& e) {
        throw std::runtime_error("port " + std::to_string(d.config.port) + " on " + d.config.bind +
                                " is already in use or not available (" + e.displayText() +
                                "): stop the program that listens there, or choose another --port");
    }
    socket.listen(64);
    d.port = socket.address().port();
    Poco::Net::HTTPServerParams::Ptr params = new Poco::Net::HTTPServerParams;
    params->setMaxThreads(16);
    params->setMaxQueued(64);
    params->setKeepAlive(true);
    params->setKeepAliveTimeout(Poco::Timespan(10, 0));
    params->setTimeout(Poco::Timespan(10, 0));
    d.handlers = new Factory(d);
    d.server = std::make_unique<Poco::Net::TCPServer>(new ConnectionFactory(params, d.handlers, d), d.pool, socket,
                                                      params);
    d.server->start();
    if (d.console) d.console->start();

    if (d.config.ssdp) {
        Poco::Net::DatagramSocket udp(Poco::Net::SocketAddress::IPv4);
        udp.bind(Poco::Net::SocketAddress("0.0.0.0", 1900), true, true);
        ip_mreq group {};
        group.imr_multiaddr.s_addr = inet_addr("239.255.255.250");
        group.imr_interface.s_addr = d.config.bind == "0.0.0.0" ? htonl(INADDR_ANY) : inet_addr(d.config.bind.c_str());
        if (::setsockopt(udp.impl()->sockfd(), IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&group),
                         sizeof group) != 0)
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
    if (d.console) d.console->stop();
    if (d.ssdpThread.joinable()) d.ssdpThread.join();
    if (d.server) {
        d.server->stop();
        static_cast<Factory&>(*d.handlers).abortConnections();
        d.server.reset();
        d.pool.joinAll();
    }
}

uint16_t Simulator::port() const { return impl_->port; }

std::string Simulator::address() const { return impl_->config.bind + ":" + std::to_string(impl_->port); }

std::string Simulator::consoleUrl() const { return impl_->console ? impl_->console->url() : std::string(); }

void Simulator::setFaults(const Faults& faults)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->replaceFaults(faults);
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

Traffic Simulator::traffic() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Traffic t = impl_->totals;
    for (const auto& c : impl_->connections) t.perConnection.push_back(*c);
    return t;
}

void Simulator::clearTraffic()
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->totals = Traffic();
    impl_->connections.clear();
    ++impl_->generation;
}

std::string Simulator::bookForeign(const std::string& document)
{
    return impl_->reg.handle("POST", "/cgi/chk", "", document).body;
}

} // namespace netsim
