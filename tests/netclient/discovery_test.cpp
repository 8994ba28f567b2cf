// Discovery: the answer filter, and real searches inside private network namespaces with
// simulated registers behind veth pairs.
#include "netclient/discovery.h"
#include "test_support.h"

#include "driver_log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <sched.h>

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
    EXPECT_EQ(oltra::searchMessage("urn:x"),
              "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nST:urn:x\r\nMAN: \"ssdp:discover\"\r\nMX:1\r\n\r\n");
    EXPECT_EQ(kTarget, "urn:veltor.ua:device:fp:1");
}

TEST(DiscoveryAnswers, FilterAndExtract)
{
    EXPECT_EQ(registerAddresses({answer("LOCATION: http://192.168.1.50:80/desc.xml")}, kTarget), Strings{"192.168.1.50"});
    EXPECT_EQ(registerAddresses({answer("Location: HTTP://192.168.1.51/x")}, kTarget), Strings{"192.168.1.51"});
    // A host name with a hyphen gives nothing.
    EXPECT_EQ(registerAddresses({answer("LOCATION: http://reg-1.local:80/")}, kTarget), Strings{});
    // Not a 200 answer, or not about the target: ignored.
    EXPECT_EQ(registerAddresses({answer("LOCATION: http://10.0.0.1:80/", kTarget, "NOTIFY * HTTP/1.1"),
                                 answer("LOCATION: http://10.0.0.2:80/", kTarget, "HTTP/1.1 404 Not Found"),
                                 answer("LOCATION: http://10.0.0.3:80/", "upnp:rootdevice"),
                                 answer("SERVER: x", kTarget)},
                                kTarget),
              Strings{});
    // Each address once, sorted.
    EXPECT_EQ(registerAddresses({answer("LOCATION: http://10.0.0.9:80/"), answer("LOCATION: http://10.0.0.10:80/"),
                                 answer("LOCATION: http://10.0.0.9:8080/")},
                                kTarget),
              (Strings{"10.0.0.10", "10.0.0.9"}));
}

// A private network namespace, removed with the object.
class Namespace {
public:
    explicit Namespace(std::string name) : name_(std::move(name))
    {
        ok_ = testsupport::run({"ip", "netns", "add", name_}) == 0;
    }
    ~Namespace()
    {
        if (ok_) testsupport::run({"ip", "netns", "del", name_});
    }
    bool ok() const { return ok_; }
    const std::string& name() const { return name_; }
    // Runs "ip -n NAME args..."; true on success.
    bool ip(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {"ip", "-n", name_});
        return testsupport::run(args) == 0;
    }

private:
    std::string name_;
    bool ok_ = false;
};

// Runs a discovery from inside a namespace (on a thread of its own, which alone enters it).
std::future<Strings> discoverIn(const std::string& ns)
{
    return std::async(std::launch::async, [ns]() -> Strings {
        const int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) throw std::runtime_error("cannot open namespace " + ns);
        const int rc = ::setns(fd, CLONE_NEWNET);
        ::close(fd);
        if (rc != 0) throw std::runtime_error("cannot enter namespace " + ns);
        return oltra::discoverRegister(oltra::kSearchTarget);
    });
}

class DiscoveryNetns : public ::testing::Test {
protected:
    void SetUp() override
    {
        oltra::setLogLevel(oltra::kLogInfo);
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
    EXPECT_EQ(discoverIn(client_->name()).get(), Strings{});
    // No local address: nothing to wait for.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

TEST_F(DiscoveryNetns, FindsRegistersBehindTwoInterfaces)
{
    // client vcN 10.203.N.1/24  <-veth->  register namespace N, vrN 10.203.N.2/24
    std::vector<std::unique_ptr<Namespace>> registers;
    for (int n = 1; n <= 2; ++n) {
        registers.push_back(std::make_unique<Namespace>(stem() + "r" + std::to_string(n)));
        const Namespace& r = *registers.back();
        ASSERT_TRUE(r.ok());
        const std::string c = "vc" + std::to_string(n), v = "vr" + std::to_string(n);
        const std::string net = "10.203." + std::to_string(n) + ".";
        ASSERT_EQ(testsupport::run({"ip", "link", "add", c, "netns", client_->name(), "type", "veth", "peer", "name", v,
                                    "netns", r.name()}),
                  0);
        ASSERT_TRUE(client_->ip({"addr", "add", net + "1/24", "dev", c}));
        ASSERT_TRUE(client_->ip({"link", "set", c, "up"}));
        ASSERT_TRUE(r.ip({"addr", "add", net + "2/24", "dev", v}));
        ASSERT_TRUE(r.ip({"link", "set", v, "up"}));
    }
    // Two registers on the first network (the same address twice), one on the second.
    std::vector<std::unique_ptr<testsupport::Child>> sims;
    std::vector<std::string> files;
    const std::pair<int, int> placement[] = {{1, 1}, {1, 2}, {2, 1}};
    for (const auto& place : placement) {
        const std::string ready = testsupport::tempPath("netsim-ready");
        files.push_back(ready);
        files.push_back(ready + ".out");
        sims.push_back(std::make_unique<testsupport::Child>(
            std::vector<std::string>{"ip", "netns", "exec", registers[place.first - 1]->name(), NETSIM_PATH, "--bind",
                                     "10.203." + std::to_string(place.first) + ".2", "--port", "0", "--auth", "none",
                                     "--ssdp", "--serial", "ON" + std::to_string(place.first * 10 + place.second),
                                     "--ready-file", ready},
            ready + ".out"));
    }
    for (std::size_t i = 0; i < sims.size(); ++i)
        ASSERT_FALSE(testsupport::waitForFile(files[2 * i], 5000).empty())
            << "simulator did not start: " << testsupport::readFile(files[2 * i + 1]);

    const Strings found = discoverIn(client_->name()).get();
    EXPECT_EQ(found, (Strings{"10.203.1.2", "10.203.2.2"}));

    for (auto& s : sims) EXPECT_EQ(s->stop(), 0);
    for (const auto& f : files) std::remove(f.c_str());
}

} // namespace
