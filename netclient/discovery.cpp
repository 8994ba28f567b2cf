#include "netclient/discovery.h"

#include "netclient/client_log.h"

#include <Poco/Exception.h>
#include <Poco/Net/DatagramSocket.h>
#include <Poco/Net/NetworkInterface.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/RegularExpression.h>
#include <Poco/Timespan.h>
#include <Poco/Timestamp.h>

#include <algorithm>
#include <iostream>
#include <memory>

namespace oltra {

const char kSearchTarget[] = "urn:veltor.ua:device:fp:1";

namespace {

constexpr int kMaxAnswersPerAddress = 1000;
constexpr std::size_t kMaxAnswerBytes = 1023;
const Poco::Timespan kSilence(2, 0); // an address is done after this long without an answer
const Poco::Timespan kSendTimeout(1, 0);

struct Probe {
    Poco::Net::DatagramSocket socket;
    Poco::Timestamp deadline;
    int answers = 0;
};

} // namespace

std::vector<Poco::Net::IPAddress> localSearchAddresses()
{
    std::vector<Poco::Net::IPAddress> result;
    try {
        const Poco::Net::NetworkInterface::Map interfaces = Poco::Net::NetworkInterface::map(true, true);
        for (const auto& entry : interfaces) {
            const Poco::Net::NetworkInterface& nif = entry.second;
            if (nif.isLoopback() || nif.isPointToPoint() || !nif.isRunning() || !nif.supportsIPv4()) continue;
            for (const auto& tuple : nif.addressList()) {
                const Poco::Net::IPAddress& address = tuple.get<Poco::Net::NetworkInterface::IP_ADDRESS>();
                if (address.isIPv4Compatible()) result.push_back(address);
            }
        }
    } catch (const Poco::Exception& e) {
        std::cout << e.displayText() << std::endl;
    }
    return result;
}

std::string searchMessage(const std::string& searchTarget)
{
    return "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nST:" + searchTarget +
           "\r\nMAN: \"ssdp:discover\"\r\nMX:1\r\n\r\n";
}

std::vector<std::string> registerAddresses(const std::vector<std::string>& answers, const std::string& searchTarget)
{
    static const Poco::RegularExpression location("(location:.*://)([a-zA-Z_0-9\\.]*)([:/])",
                                                  Poco::RegularExpression::RE_CASELESS);
    std::vector<std::string> result;
    for (const std::string& answer : answers) {
        if (answer.compare(0, 15, "HTTP/1.1 200 OK") != 0) continue;
        if (answer.find(searchTarget) == std::string::npos) continue;
        try {
            Poco::RegularExpression::MatchVec groups;
            if (location.match(answer, 0, groups) == 0 || groups.size() < 3) continue;
            const auto& host = groups[2];
            if (host.offset != std::string::npos && host.length > 0)
                result.push_back(answer.substr(host.offset, host.length));
        } catch (const Poco::RegularExpressionException&) {
            netlog::error(std::string("RegularExpressionException"));
        }
    }
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

std::vector<std::string> discoverRegister(const std::string& searchTarget)
{
    const std::string target = searchTarget.empty() ? "upnp:rootdevice" : searchTarget;
    const std::string message = searchMessage(target);
    const Poco::Net::SocketAddress group("239.255.255.250", 1900);

    // One socket per local address, all listening at the same time.
    std::vector<std::unique_ptr<Probe>> probes;
    for (const Poco::Net::IPAddress& address : localSearchAddresses()) {
        auto probe = std::make_unique<Probe>();
        probe->socket.bind(Poco::Net::SocketAddress(address, 0), false);
        probe->socket.setSendTimeout(kSendTimeout);
        probe->socket.sendTo(message.data(), static_cast<int>(message.size()), group);
        probe->deadline = Poco::Timestamp() + kSilence;
        probes.push_back(std::move(probe));
    }

    std::vector<std::string> answers;
    char buffer[kMaxAnswerBytes + 1];
    while (!probes.empty()) {
        const Poco::Timestamp now;
        probes.erase(std::remove_if(probes.begin(), probes.end(),
                                    [&](const std::unique_ptr<Probe>& p) {
                                        return p->deadline <= now || p->answers >= kMaxAnswersPerAddress;
                                    }),
                     probes.end());
        if (probes.empty()) break;
        Poco::Timestamp first = probes.front()->deadline;
        Poco::Net::Socket::SocketList readable, writable, failed;
        for (const auto& p : probes) {
            first = std::min(first, p->deadline);
            readable.push_back(p->socket);
        }
        if (Poco::Net::Socket::select(readable, writable, failed, Poco::Timespan(first - now)) <= 0) continue;
        for (const auto& p : probes) {
            if (std::find(readable.begin(), readable.end(), p->socket) == readable.end()) continue;
            const int n = p->socket.receiveBytes(buffer, static_cast<int>(kMaxAnswerBytes));
            if (n < 0) continue;
            buffer[n] = '\0';
            answers.emplace_back(buffer); // up to the first zero byte
            ++p->answers;
            p->deadline = Poco::Timestamp() + kSilence;
        }
    }
    return registerAddresses(answers, target);
}

} // namespace oltra
