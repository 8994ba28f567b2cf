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
        } catch (...) {
        }
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
    } catch (...) {
    }
}

} // namespace netsim
