// The simulated network register run inside another program (the add-in's benchmark and
// soak tools): started on loopback with a login scheme and fault switches, switched while
// it runs, and asked for the requests it received. Library target `netsim`; the rest of
// the simulator stays behind this header.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace netsim {

class Simulator;

class EmbeddedSimulator {
public:
    enum class Auth { None, Basic, Digest };
    // A fault switch on, as the simulator's option "--NAME VALUE" ("challenge-first", "";
    // "status", "/cgi/chk=500"); a per-path switch takes several PATH=VALUE separated by blanks.
    using FaultSwitch = std::pair<std::string, std::string>;

    struct Options {
        std::string bind = "127.0.0.1";
        uint16_t port = 0;               // 0: any free port
        Auth auth = Auth::Digest;        // user "service", password "384190"
        std::vector<FaultSwitch> faults; // on from the start
    };

    // One request as received (after the login).
    struct Request {
        std::string method;
        std::string uri;
        std::string body;
    };

    // Throws std::invalid_argument for a switch it does not know or a bad value.
    explicit EmbeddedSimulator(const Options& options);
    ~EmbeddedSimulator();
    EmbeddedSimulator(const EmbeddedSimulator&) = delete;
    EmbeddedSimulator& operator=(const EmbeddedSimulator&) = delete;

    void start(); // listens; throws on failure
    void stop();  // idempotent; aborts open connections and delayed answers
    uint16_t port() const;
    std::string address() const; // "host:port" to hand to a client

    // Replaces every fault switch by these (none: no faults) from the next request on.
    // Throws std::invalid_argument, leaving the switches as they were.
    void setFaults(const std::vector<FaultSwitch>& switches);
    std::vector<Request> requests() const; // last 1000 requests, oldest first
    void clearRequests();

private:
    std::unique_ptr<Simulator> sim_;
};

} // namespace netsim
