// Finding network registers by an SSDP M-SEARCH from every local IPv4 address.
#pragma once

#include <Poco/Net/IPAddress.h>

#include <string>
#include <vector>

namespace oltra {

// Device type under which the registers announce themselves.
extern const char kSearchTarget[]; // "urn:veltor.ua:device:fp:1"

// Addresses (host parts of the answers' "location" headers) of the registers that answer
// a search for `searchTarget` ("upnp:rootdevice" when empty): sorted, each once, empty
// when none answers. Searches from all local addresses at once and returns about 2 s
// after the last answer. Network silence throws nothing; a socket that can't be opened,
// bound or sent from raises the POCO exception.
std::vector<std::string> discoverRegister(const std::string& searchTarget = kSearchTarget);

// The local addresses searched from: IPv4 (or IPv4-compatible) addresses of interfaces
// that are up and running, neither loopback nor point-to-point.
std::vector<Poco::Net::IPAddress> localSearchAddresses();

// The M-SEARCH datagram for a target.
std::string searchMessage(const std::string& searchTarget);

// Register addresses named by a list of SSDP answers: only "HTTP/1.1 200 OK" answers that
// mention the target count; sorted, each once.
std::vector<std::string> registerAddresses(const std::vector<std::string>& answers, const std::string& searchTarget);

} // namespace oltra
