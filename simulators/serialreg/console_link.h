// The register's browser console (simconsole): the tape as it prints, the display, the
// books, the frames with their meaning, and a switch for every fault kind.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "simulators/console/console.h"
#include "simulators/serialreg/simulator.h"

namespace serialsim {

class ConsoleLink : public Observer {
public:
    // `listen` is "[ADDR:]PORT" (already checked). Hooks itself into `st` to see what
    // prints; the simulator must be given this link as its observer.
    ConsoleLink(const std::string& listen, Simulator& sim, RegisterState& st);
    ~ConsoleLink() override;
    void Start(); // throws std::runtime_error when it cannot listen
    std::string Url() const { return server_->url(); }

    // Neither throws: what the console cannot take is lost to the page only.
    void Exchanged(const Exchange& e) override;
    void StateChanged(const RegisterState& st) override;

private:
    void Show(const Exchange& e);

    RegisterState& st_;
    simconsole::TapeFeed paper_;
    simconsole::ExchangeFeed exchanges_;
    std::mutex mutex_;
    std::string state_; // the last state, composed on the simulator's thread
    std::unique_ptr<simconsole::Server> server_;
};

// The state as the console shows it (JSON).
std::string ConsoleState(const RegisterState& st);

} // namespace serialsim
