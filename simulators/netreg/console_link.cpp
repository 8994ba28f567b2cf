#include "simulators/netreg/console_link.h"

#include <stdexcept>

namespace netsim {

ConsoleLink::ConsoleLink(const std::string& listen, Register& reg, Tape& tape, std::function<Faults()> faults,
                         std::function<void(const Faults&)> setFaults)
    : tape_(tape)
{
    simconsole::Server::Options options;
    std::string error;
    if (!simconsole::parseListenAddress(listen, options.address, options.port, error))
        throw std::invalid_argument("--console: " + error);

    simconsole::Hooks hooks;
    hooks.state = [&reg] { return reg.consoleState(); };
    hooks.tape = [this](std::uint64_t since) { return paper_.json(since); };
    hooks.exchanges = [this](std::uint64_t since) { return exchanges_.json(since); };
    hooks.faults = [faults] {
        const Faults now = faults();
        std::vector<simconsole::FaultSwitch> list;
        for (const auto& o : faultOptions())
            list.push_back({o.name, o.help, o.argument, !o.values(now).empty(), faultValue(now, o)});
        return list;
    };
    hooks.setFault = [faults, setFaults](const std::string& name, bool on, const std::string& value,
                                         std::string& error) {
        Faults next = faults();
        try {
            switchFault(next, name, on, value);
        } catch (const std::invalid_argument& e) {
            error = e.what();
            return false;
        }
        setFaults(next);
        return true;
    };
    server_ = std::make_unique<simconsole::Server>(hooks, options);
    // The listener and exchange() run on the register's threads: what the console cannot
    // take (memory running out) is lost to the page, never to the register.
    tape_.setListener([this](const std::string& text) {
        try {
            paper_.print(text);
            server_->notify("tape");
        } catch (...) {}
    });
}

ConsoleLink::~ConsoleLink()
{
    tape_.setListener(nullptr);
    stop();
}

void ConsoleLink::start() { server_->start(); }

void ConsoleLink::stop() { server_->stop(); }

std::string ConsoleLink::url() const { return server_->url(); }

void ConsoleLink::exchange(const simconsole::Exchange& e)
{
    try {
        exchanges_.add(e);
        server_->notify("exchanges");
        server_->notify("state");
    } catch (...) {}
}

namespace {

std::string clip(const std::string& text)
{
    constexpr std::size_t kShown = 4000;
    return text.size() <= kShown ? text : text.substr(0, kShown) + " ... (" + std::to_string(text.size()) + " bytes)";
}

} // namespace

ExchangeTrace::ExchangeTrace(ConsoleLink* console, const std::string& method, const std::string& uri,
                             const std::string& body)
    : console_(console)
{
    if (!console_) return;
    e_.title = method + " " + uri;
    e_.request = clip(body);
    e_.note = "no answer";
    e_.ok = false;
}

ExchangeTrace::~ExchangeTrace()
{
    if (console_) console_->exchange(e_);
}

void ExchangeTrace::answer(int status, const std::string& body, const std::vector<std::string>& faults)
{
    if (!console_) return;
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

void ExchangeTrace::note(const std::string& text, bool ok)
{
    e_.note = text;
    e_.ok = ok;
}

} // namespace netsim
