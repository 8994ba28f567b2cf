// The register's login: Basic or Digest credentials checked against the configured user,
// the Digest nonces given in challenges, and the 401 challenge itself.
#pragma once

#include "simulators/netreg/netsim.h"

#include <Poco/Random.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <set>
#include <string>

namespace Poco {
namespace Net {
class HTTPServerRequest;
class HTTPServerResponse;
} // namespace Net
} // namespace Poco

namespace netsim {

class Login {
public:
    enum class Result { Accepted, Refused, Stale };

    explicit Login(const Config& config);
    // Whether the request's credentials log in, under the login faults of `f`; takes one use
    // of a Digest nonce when they do. Thread-safe.
    Result check(const Poco::Net::HTTPServerRequest& request, const Faults& f);
    // Answers 401 with a challenge: a new nonce for Digest, marked stale when asked; for Basic
    // the client's host is remembered as challenged.
    void challenge(const Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response, bool stale);

private:
    // A Digest nonce given in a challenge.
    struct Nonce {
        std::string value;
        std::chrono::steady_clock::time_point issued;
        int uses = 0;
        uint64_t lastNc = 0;
    };
    std::string newNonce();
    Result useNonce(const std::string& value, const std::string& ncText, const Faults& f);
    bool knownNonce(const std::string& value) const;

    const Auth auth_;
    const std::string user_;
    const std::string password_;
    const std::string serial_;
    mutable std::mutex mutex_; // guards the members below
    std::deque<Nonce> nonces_;
    std::set<std::string> challenged_; // client hosts sent a Basic challenge that no login used yet
    Poco::Random random_;
};

} // namespace netsim
