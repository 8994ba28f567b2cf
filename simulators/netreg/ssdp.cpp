#include "simulators/netreg/ssdp.h"

#include "simulators/netreg/netsim.h"

#include <Poco/Exception.h>
#include <Poco/Net/DatagramSocket.h>
#include <Poco/String.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <arpa/inet.h>
#include <sys/socket.h>
#endif

#include <sstream>

namespace netsim {

SsdpResponder::SsdpResponder(const std::string& bind, const std::string& serial) : bind_(bind), serial_(serial) {}

SsdpResponder::~SsdpResponder() { stop(); }

void SsdpResponder::start(uint16_t httpPort)
{
    port_ = httpPort;
    Poco::Net::DatagramSocket udp(Poco::Net::SocketAddress::IPv4);
    udp.bind(Poco::Net::SocketAddress("0.0.0.0", 1900), true, true);
    ip_mreq group{};
    group.imr_multiaddr.s_addr = inet_addr("239.255.255.250");
    group.imr_interface.s_addr = bind_ == "0.0.0.0" ? htonl(INADDR_ANY) : inet_addr(bind_.c_str());
    if (::setsockopt(udp.impl()->sockfd(), IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&group),
                     sizeof group) != 0)
        throw Poco::IOException("cannot join the SSDP multicast group on " + bind_);
    thread_ = std::thread([this, udp] { loop(udp); });
}

void SsdpResponder::stop()
{
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
}

void SsdpResponder::loop(Poco::Net::DatagramSocket socket)
{
    char buffer[2048];
    while (!stopping_) {
        Poco::Net::SocketAddress sender;
        int n = 0;
        try {
            if (!socket.poll(Poco::Timespan(0, 200000), Poco::Net::Socket::SELECT_READ)) continue;
            n = socket.receiveFrom(buffer, sizeof buffer - 1, sender);
        } catch (const Poco::Exception&) {
            continue;
        }
        if (n <= 0) continue;
        const std::string message(buffer, static_cast<std::size_t>(n));
        if (message.compare(0, 8, "M-SEARCH") != 0) continue;
        std::string st;
        std::istringstream lines(message);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() >= 3 && Poco::icompare(line.substr(0, 3), "ST:") == 0) st = Poco::trim(line.substr(3));
        }
        if (st != kDeviceType && st != "ssdp:all" && st != "upnp:rootdevice") continue;
        try {
            const std::string host = advertisedHost(sender);
            const std::string answer = "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nEXT:\r\nLOCATION: http://" +
                                       host + ":" + std::to_string(port_) +
                                       "/desc\r\nSERVER: Linux UPnP/1.1 oltra-netsim/1.0\r\nST: " + kDeviceType +
                                       "\r\nUSN: uuid:" + serial_ + "::" + kDeviceType + "\r\n\r\n";
            socket.sendTo(answer.data(), static_cast<int>(answer.size()), sender);
        } catch (const Poco::Exception&) {}
    }
}

std::string SsdpResponder::advertisedHost(const Poco::Net::SocketAddress& asker) const
{
    if (bind_ != "0.0.0.0") return bind_;
    Poco::Net::DatagramSocket probe(Poco::Net::SocketAddress::IPv4);
    probe.connect(asker);
    return probe.address().host().toString();
}

} // namespace netsim
