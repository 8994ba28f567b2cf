// The simulator's browser console (simconsole): the register's state, its tape, the
// requests and answers, and the fault switches, served while the simulator runs.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "simulators/console/console.h"
#include "simulators/netreg/netsim.h"

namespace netsim {

class ConsoleLink {
public:
    // `listen` is "[ADDR:]PORT"; throws std::invalid_argument when it is not.
    ConsoleLink(const std::string& listen, Register& reg, Tape& tape, std::function<Faults()> faults,
                std::function<void(const Faults&)> setFaults);
    ~ConsoleLink();
    void start(); // throws std::runtime_error when it cannot listen
    void stop();
    std::string url() const;

    // One request served and its answer; the register's state may have changed with it.
    // Never throws.
    void exchange(const simconsole::Exchange& e);

private:
    Tape& tape_;
    simconsole::TapeFeed paper_;
    simconsole::ExchangeFeed exchanges_;
    std::unique_ptr<simconsole::Server> server_;
};

// What the console lists of one request: filled in while it is served, listed when
// serving ends, whichever way. Without a console it keeps nothing.
class ExchangeTrace {
public:
    ExchangeTrace(ConsoleLink* console, const std::string& method, const std::string& uri, const std::string& body);
    ~ExchangeTrace();
    ExchangeTrace(const ExchangeTrace&) = delete;
    ExchangeTrace& operator=(const ExchangeTrace&) = delete;
    // The answer sent, with the faults that shaped it by option name.
    void answer(int status, const std::string& body, const std::vector<std::string>& faults);
    // What happened instead of an answer, or besides it.
    void note(const std::string& text, bool ok);

private:
    ConsoleLink* const console_;
    simconsole::Exchange e_;
};

} // namespace netsim
