// What came in: the requests counted per connection (and those answered 401), and the
// log of the requests received after the login.
#pragma once

#include "simulators/netreg/netsim.h"
#include "simulators/netreg/tape.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace netsim {

// One connection as the count sees it.
struct ConnectionState {
    std::shared_ptr<ConnectionCount> count;
    uint64_t generation = 0; // of the traffic count it is listed in
};

class TrafficCount {
public:
    // Numbers a new connection and lists it.
    void open(ConnectionState& conn);
    // Returns the connection's count of requests, this one included.
    uint64_t request(ConnectionState& conn);
    void unauthorised(ConnectionState& conn);
    Traffic traffic() const;
    void clear();

private:
    // Lists a connection in the current traffic count, its counts from zero.
    void list(ConnectionState& conn, uint64_t id);

    mutable std::mutex mutex_; // guards the members below
    Traffic totals_;           // its perConnection stays empty: see connections_
    uint64_t lastConnection_ = 0;
    uint64_t generation_ = 0; // of the traffic count, advanced when it is cleared
    std::deque<std::shared_ptr<ConnectionCount>> connections_;
};

class RequestLog {
public:
    // `file`: empty for none, else a file getting one JSON line per request.
    explicit RequestLog(const std::string& file);
    void record(const std::string& method, const std::string& uri, const std::string& body);
    std::vector<Request> requests() const; // the last 1000, oldest first
    void clear();

private:
    mutable std::mutex mutex_; // guards requests_
    std::deque<Request> requests_;
    const bool toFile_;
    Tape file_;
};

} // namespace netsim
