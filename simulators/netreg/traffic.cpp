#include "simulators/netreg/traffic.h"

#include <Poco/JSON/Object.h>

#include <sstream>

namespace netsim {

namespace {

constexpr std::size_t kRequestLog = 1000;
constexpr std::size_t kConnectionLog = 1000;

} // namespace

void TrafficCount::open(ConnectionState& conn)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++totals_.connections;
    list(conn, ++lastConnection_);
}

void TrafficCount::list(ConnectionState& conn, uint64_t id)
{
    conn.count = std::make_shared<ConnectionCount>();
    conn.count->id = id;
    conn.generation = generation_;
    connections_.push_back(conn.count);
    if (connections_.size() > kConnectionLog) connections_.pop_front();
}

uint64_t TrafficCount::request(ConnectionState& conn)
{
    std::lock_guard<std::mutex> lock(mutex_);
    // A connection opened before the count was cleared joins it on its next request.
    if (conn.generation != generation_) list(conn, conn.count->id);
    ++totals_.requests;
    return ++conn.count->requests;
}

void TrafficCount::unauthorised(ConnectionState& conn)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++totals_.unauthorised;
    ++conn.count->unauthorised;
}

Traffic TrafficCount::traffic() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    Traffic t = totals_;
    for (const auto& c : connections_) t.perConnection.push_back(*c);
    return t;
}

void TrafficCount::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    totals_ = Traffic();
    connections_.clear();
    ++generation_;
}

RequestLog::RequestLog(const std::string& file) : toFile_(!file.empty()), file_(file) {}

void RequestLog::record(const std::string& method, const std::string& uri, const std::string& body)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(Request{method, uri, body});
        if (requests_.size() > kRequestLog) requests_.pop_front();
    }
    if (toFile_) {
        Poco::JSON::Object line;
        line.set("method", method);
        line.set("uri", uri);
        line.set("body", body);
        std::ostringstream text;
        line.stringify(text);
        file_.print(text.str() + "\n");
    }
}

std::vector<Request> RequestLog::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<Request>(requests_.begin(), requests_.end());
}

void RequestLog::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

} // namespace netsim
