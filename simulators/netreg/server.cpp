// The simulated register on the network: its parts put together (login.h, fault_state.h,
// transport.h, traffic.h, ssdp.h, console_link.h), and the way one request goes through
// them to the register and back.
#include "simulators/netreg/netsim.h"

#include "simulators/netreg/console_link.h"
#include "simulators/netreg/fault_state.h"
#include "simulators/netreg/login.h"
#include "simulators/netreg/ssdp.h"
#include "simulators/netreg/tape.h"
#include "simulators/netreg/traffic.h"
#include "simulators/netreg/transport.h"

#include <Poco/DeflatingStream.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/URI.h>

#include <sstream>

namespace netsim {

struct Simulator::Impl {
    explicit Impl(const Config& c)
        : config(c), tape(c.tape), requests(c.requestLog), reg(c, tape), faults(c.faults), login(c),
          transport(counts, [this](Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                                   ConnectionState& conn) { serve(request, response, conn); }),
          ssdp(c.bind, c.serial)
    {
        if (!c.console.empty())
            console = std::make_unique<ConsoleLink>(
                c.console, reg, tape, [this] { return faults.snapshot(); },
                [this](const Faults& f) { faults.replace(f); });
    }

    void serve(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response, ConnectionState& conn);

    Config config;
    Tape tape;
    RequestLog requests;
    Register reg;
    FaultState faults;
    Login login;
    TrafficCount counts;
    Transport transport;
    SsdpResponder ssdp;
    std::unique_ptr<ConsoleLink> console; // last: it reads the members above
};

void Simulator::Impl::serve(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                            ConnectionState& conn)
{
    std::string body;
    if (!Transport::readBody(request, response, body)) return;
    ExchangeTrace trace(console.get(), request.getMethod(), request.getURI(), body);
    const uint64_t onConnection = counts.request(conn);
    Faults f = faults.snapshot();
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
        Transport::resetConnection(request);
        return;
    }
    const Login::Result verdict = login.check(request, f);
    if (verdict != Login::Result::Accepted) {
        trace.note(f.always401                       ? "401, fault: always-401"
                   : verdict == Login::Result::Stale ? "401, nonce stale"
                                                     : "401, login asked",
                   !f.always401);
        counts.unauthorised(conn);
        login.challenge(request, response, verdict == Login::Result::Stale);
        return;
    }
    const Poco::URI uri(request.getURI());
    const std::string path = uri.getPath();
    const std::string query = uri.getRawQuery();
    requests.record(request.getMethod(), request.getURI(), body);
    const bool post = request.getMethod() == "POST" && path == "/cgi/chk";
    const std::string kind = post ? Register::documentKind(body) : std::string();
    const bool document = kind == "F" || kind == "R" || kind == "P" || kind == "IO";
    const std::vector<std::string> after = faults.countAfterDocument(f, path, document);
    if (post && !f.foreignDocument.empty()) {
        if (f.foreignDocument != "same") reg.handle("POST", "/cgi/chk", "", f.foreignDocument);
        else if (document) reg.handle("POST", "/cgi/chk", "", body);
    }
    if (matches(f.reset, path)) {
        trace.note("connection reset, fault: reset", false);
        Transport::resetConnection(request);
        return;
    }
    if (const int* ms = lookup(f.delayMs, path)) transport.pause(*ms);
    if (transport.stopping()) return;

    Answer a;
    std::string contentType = "application/json; charset=utf-8";
    std::string reason;
    if (document && f.documentStatus) {
        if (f.documentStatusBooked) reg.handle(request.getMethod(), path, query, body);
        a.status = f.documentStatus;
        reason = f.documentReason.empty() ? Poco::Net::HTTPResponse::getReasonForStatus(
                                                static_cast<Poco::Net::HTTPResponse::HTTPStatus>(a.status))
                                          : f.documentReason;
        a.body = htmlPage(a.status, reason);
        contentType = "text/html";
    } else if (document && f.documentAnswer != Faults::BadAnswer::None) {
        if (f.documentAnswerBooked) a = reg.handle(request.getMethod(), path, query, body);
        a.status = 200;
        a.body = FaultState::badAnswer(f.documentAnswer, f.documentAnswerBooked ? a.body : std::string());
        if (f.documentAnswer == Faults::BadAnswer::Html) contentType = "text/html";
        if (f.documentAnswer == Faults::BadAnswer::Close) {
            // The head without a length, then the close: a body of nothing.
            trace.answer(a.status, a.body, FaultState::shaping(f, path, post, document, after));
            response.setKeepAlive(false);
            response.setContentType(contentType);
            response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_OK);
            std::ostringstream head;
            response.write(head);
            Poco::Net::StreamSocket socket = Transport::socketOf(request);
            if (transport.write(socket, head.str(), 0)) socket.shutdown();
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
            Transport::socketOf(request).shutdown();
            return;
        }
        if (const int* ms = lookup(f.stallAfterMs, path)) transport.pause(*ms);
        if (transport.stopping()) return;
        FaultState::rewrite(f, path, a);
    }
    trace.answer(a.status, a.body, FaultState::shaping(f, path, post, document, after));
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
    transport.send(request, response, a.body, lookup(f.drip, path), lookup(f.stallBodyMs, path));
}

Simulator::Simulator(const Config& config) : impl_(new Impl(config)) {}

Simulator::~Simulator() { stop(); }

void Simulator::start()
{
    Impl& d = *impl_;
    d.transport.start(d.config.bind, d.config.port);
    if (d.console) d.console->start();
    if (d.config.ssdp) d.ssdp.start(d.transport.port());
}

void Simulator::stop()
{
    Impl& d = *impl_;
    d.transport.interrupt();
    if (d.console) d.console->stop();
    d.ssdp.stop();
    d.transport.stop();
}

uint16_t Simulator::port() const { return impl_->transport.port(); }

std::string Simulator::address() const { return impl_->config.bind + ":" + std::to_string(impl_->transport.port()); }

std::string Simulator::consoleUrl() const { return impl_->console ? impl_->console->url() : std::string(); }

void Simulator::setFaults(const Faults& faults) { impl_->faults.replace(faults); }

Faults Simulator::faults() const { return impl_->faults.snapshot(); }

std::vector<Request> Simulator::requests() const { return impl_->requests.requests(); }

void Simulator::clearRequests() { impl_->requests.clear(); }

Traffic Simulator::traffic() const { return impl_->counts.traffic(); }

void Simulator::clearTraffic() { impl_->counts.clear(); }

std::string Simulator::bookForeign(const std::string& document)
{
    return impl_->reg.handle("POST", "/cgi/chk", "", document).body;
}

} // namespace netsim
