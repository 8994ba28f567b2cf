// Discovery: the answer filter, and real searches inside private network namespaces with
// simulated registers behind veth pairs.
#include "netclient/discovery.h"
#include "tests/support/netns.h"
#include "tests/support/netsim_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <unistd.h>

namespace {

using oltra::registerAddresses;
using Strings = std::vector<std::string>;

const std::string kTarget = oltra::kSearchTarget;

std::string answer(const std::string& location, const std::string& st = kTarget,
                   const std::string& status = "HTTP/1.1 200 OK")
{
    return status + "\r\nCACHE-CONTROL: max-age=1800\r\n" + location + "\r\nST: " + st + "\r\n\r\n";
}

TEST(DiscoveryAnswers, TheSearchMessage)
{
    EXPECT_EQ(
        oltra::searchMessage("urn:x"),
        "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nST:urn:x\r\nMAN: \"ssdp:discover\"\r\nMX:1\r\n\r\n");
    EXPECT_EQ(kTarget, "urn:veltor.ua:device:fp:1");
}

TEST(DiscoveryAnswers, FilterAndExtract)
{
    EXPECT_EQ(registerAddresses({answer("LOCATION: http://192.168.1.50:80/desc.xml")}, kTarget),
              Strings{"192.168.1.50"});
    EXPECT_EQ(registerAddresses({answer("Location: HTTP://192.168.1.51/x")}, kTarget), Strings{"192.168.1.51"});
    // A host name with a hyphen gives nothing.
    EXPECT_EQ(registerAddresses({answer("LOCATION: http://reg-1.local:80/")}, kTarget), Strings{});
    // Not a 200 answer, or not about the target: ignored.
    EXPECT_EQ(
        registerAddresses({answer("LOCATION: http://10.0.0.1:80/", kTarget, "NOTIFY * HTTP/1.1"),
                           answer("LOCATION: http://10.0.0.2:80/", kTarget, "HTTP/1.1 404 Not Found"),
                           answer("LOCATION: http://10.0.0.3:80/", "upnp:rootdevice"), answer("SERVER: x", kTarget)},
                          kTarget),
        Strings{});
    // Each address once, sorted.
    EXPECT_EQ(registerAddresses({answer("LOCATION: http://10.0.0.9:80/"), answer("LOCATION: http://10.0.0.10:80/"),
                                 answer("LOCATION: http://10.0.0.9:8080/")},
                                kTarget),
              (Strings{"10.0.0.10", "10.0.0.9"}));
}

using testsupport::Namespace;

// Runs a discovery from inside a namespace (on a thread of its own, which alone enters it).
Strings discoverIn(const Namespace& ns)
{
    return testsupport::inNamespace(ns, [] { return oltra::discoverRegister(oltra::kSearchTarget); });
}

class DiscoveryNetns : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0) GTEST_SKIP() << "network namespaces need root; discovery over veth pairs not tested";
        const std::string stem = "ncd" + std::to_string(::getpid());
        client_ = std::make_unique<Namespace>(stem + "c");
        if (!client_->ok()) GTEST_SKIP() << "cannot create network namespaces (ip netns add failed)";
    }
    std::string stem() const { return "ncd" + std::to_string(::getpid()); }

    std::unique_ptr<Namespace> client_;
};

TEST_F(DiscoveryNetns, NoInterfaceMeansNoSearch)
{
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(discoverIn(*client_), Strings{});
    // No local address: nothing to wait for.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

TEST_F(DiscoveryNetns, FindsRegistersBehindTwoInterfaces)
{
    // client vcN 10.203.N.1/24  <-veth->  register namespace N, vrN 10.203.N.2/24
    std::vector<std::unique_ptr<Namespace>> registers;
    for (int n = 1; n <= 2; ++n) {
        registers.push_back(std::make_unique<Namespace>(stem() + "r" + std::to_string(n)));
        ASSERT_TRUE(registers.back()->ok());
        ASSERT_TRUE(client_->linkTo(*registers.back(), "vc" + std::to_string(n), "vr" + std::to_string(n),
                                    "10.203." + std::to_string(n) + "."));
    }
    // Two registers on the first network (the same address twice), one on the second.
    std::vector<std::unique_ptr<testsupport::NetsimProcess>> sims;
    const std::pair<int, int> placement[] = {{1, 1}, {1, 2}, {2, 1}};
    for (const auto& place : placement)
        sims.push_back(std::make_unique<testsupport::NetsimProcess>(
            std::vector<std::string>{"--bind", "10.203." + std::to_string(place.first) + ".2", "--auth", "none",
                                     "--ssdp", "--serial", "ON" + std::to_string(place.first * 10 + place.second)},
            registers[place.first - 1]->name()));

    const Strings found = discoverIn(*client_);
    EXPECT_EQ(found, (Strings{"10.203.1.2", "10.203.2.2"}));

    for (auto& s : sims) EXPECT_EQ(s->stop(), 0) << s->output();
}

} // namespace
