// The simulator's browser console (simconsole): the register's state, its tape, the
// requests and answers, and the fault switches, served while the simulator runs.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "simulators/console/console.h"
#include "simulators/netreg/netsim.h"

namespace netsim {

class ConsoleLink {
public:
    // `listen` is "[ADDR:]PORT"; throws std::invalid_argument when it is not.
    ConsoleLink(const std::string& listen, Register& reg, Tape& tape, std::function<Faults()> faults,
                std::function<void(const Faults&)> setFaults);
    ~ConsoleLink();
    void start();   // throws std::runtime_error when it cannot listen
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

} // namespace netsim
