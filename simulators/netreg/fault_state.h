// The fault switches in force, the count of requests after a document that the
// after-document rules act on, and what the switches make of one request's answer.
#pragma once

#include "simulators/netreg/netsim.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace netsim {

// The value configured for a path, or for "*".
template <class Map>
const typename Map::mapped_type* lookup(const Map& map, const std::string& path)
{
    auto it = map.find(path);
    if (it == map.end()) it = map.find("*");
    return it == map.end() ? nullptr : &it->second;
}

inline bool matches(const std::set<std::string>& set, const std::string& path)
{
    return set.count(path) || set.count("*");
}

// "<html>...<h1>REASON</h1>...</html>", titled with the status.
std::string htmlPage(int status, const std::string& reason);

class FaultState {
public:
    explicit FaultState(const Faults& faults) : faults_(faults) {}

    Faults snapshot() const;
    // The requests after a document are counted from the next document on.
    void replace(const Faults& faults);
    // Counts the request among those after the last document and adds to `f` the switches
    // of the after-document rules it meets; returns their names ("after-document status").
    // A document starts the count afresh.
    std::vector<std::string> countAfterDocument(Faults& f, const std::string& path, bool document);

    // The faults that shape the answer to a request for `path`, by option name.
    static std::vector<std::string> shaping(const Faults& f, const std::string& path, bool post, bool document,
                                            const std::vector<std::string>& after);
    // The answer switches that rewrite a register answer.
    static void rewrite(const Faults& f, const std::string& path, Answer& a);
    // What stands in for a document's answer: built around the register's own answer when
    // the document was carried out.
    static std::string badAnswer(Faults::BadAnswer kind, const std::string& answer);

private:
    mutable std::mutex mutex_; // guards the members below
    Faults faults_;
    bool documentSeen_ = false; // requests after the last document, for afterDocument
    uint64_t sinceDocument_ = 0;
    std::map<std::string, uint64_t> sinceDocumentByPath_;
};

} // namespace netsim
