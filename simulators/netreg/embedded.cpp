#include "simulators/netreg/embedded.h"

#include "simulators/netreg/netsim.h"

namespace netsim {

namespace {

Faults faultsOf(const std::vector<EmbeddedSimulator::FaultSwitch>& switches)
{
    Faults f;
    for (const auto& s : switches) switchFault(f, s.first, true, s.second);
    return f;
}

Config configOf(const EmbeddedSimulator::Options& o)
{
    Config c;
    c.bind = o.bind;
    c.port = o.port;
    c.auth = o.auth == EmbeddedSimulator::Auth::None    ? Auth::None
             : o.auth == EmbeddedSimulator::Auth::Basic ? Auth::Basic
                                                        : Auth::Digest;
    c.faults = faultsOf(o.faults);
    return c;
}

} // namespace

EmbeddedSimulator::EmbeddedSimulator(const Options& options) : sim_(new Simulator(configOf(options))) {}

EmbeddedSimulator::~EmbeddedSimulator() = default;

void EmbeddedSimulator::start() { sim_->start(); }

void EmbeddedSimulator::stop() { sim_->stop(); }

uint16_t EmbeddedSimulator::port() const { return sim_->port(); }

std::string EmbeddedSimulator::address() const { return sim_->address(); }

void EmbeddedSimulator::setFaults(const std::vector<FaultSwitch>& switches) { sim_->setFaults(faultsOf(switches)); }

std::vector<EmbeddedSimulator::Request> EmbeddedSimulator::requests() const
{
    std::vector<Request> out;
    for (const auto& r : sim_->requests()) out.push_back(Request{r.method, r.uri, r.body});
    return out;
}

void EmbeddedSimulator::clearRequests() { sim_->clearRequests(); }

} // namespace netsim
