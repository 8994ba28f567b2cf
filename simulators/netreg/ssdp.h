// The SSDP responder: answers M-SEARCH for the register's device type (or ssdp:all,
// upnp:rootdevice) with the address of its HTTP side.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace Poco {
namespace Net {
class DatagramSocket;
class SocketAddress;
} // namespace Net
} // namespace Poco

namespace netsim {

class SsdpResponder {
public:
    // `bind` is the HTTP side's address ("0.0.0.0": every interface); `serial` names the
    // device in USN.
    SsdpResponder(const std::string& bind, const std::string& serial);
    ~SsdpResponder();
    SsdpResponder(const SsdpResponder&) = delete;
    SsdpResponder& operator=(const SsdpResponder&) = delete;

    // Joins 239.255.255.250 on the bound interface (UDP 1900, shared) and answers from a
    // thread of its own, pointing at `httpPort`; throws when it cannot.
    void start(uint16_t httpPort);
    void stop(); // idempotent

private:
    void loop(Poco::Net::DatagramSocket socket);
    // The address to put in LOCATION: the bound one, or the one that reaches the asker.
    std::string advertisedHost(const Poco::Net::SocketAddress& asker) const;

    const std::string bind_;
    const std::string serial_;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace netsim
