// The add-in finding network registers on its own: SearchIP, GetParameters and Open with
// an empty IP, driven through the library the way the platform loads it, from inside a
// private network namespace joined to register namespaces by veth pairs:
//
//   client namespace  ac1 10.204.1.1/24  <-veth->  ar1 10.204.1.2/24  register namespace 1
//                     ac2 10.204.2.1/24  <-veth->  ar2 10.204.2.2/24  register namespace 2
//
// The add-in opens its sockets on the calling thread, so every call into it is made on one
// thread that has entered the client namespace.
#include "tests/support/addin_fixture.h"
#include "tests/support/netns.h"
#include "tests/support/netsim_process.h"

#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using namespace addinhost;
using namespace testsupport;

namespace {

const std::u16string kIpParameter = u"<Parameter Name=\"IP\" Caption=\"IP адрес\" TypeValue=\"String\" DefaultValue=\"";

class AddinDiscovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0) GTEST_SKIP() << "network namespaces need root; the add-in's discovery is not tested";
        const std::string stem = "adn" + std::to_string(::getpid());
        client_ = std::make_unique<Namespace>(stem + "c");
        if (!client_->ok()) GTEST_SKIP() << "cannot create network namespaces (ip netns add failed)";
        for (int n = 1; n <= 2; ++n) {
            registers_.push_back(std::make_unique<Namespace>(stem + "r" + std::to_string(n)));
            ASSERT_TRUE(registers_.back()->ok());
            ASSERT_TRUE(client_->linkTo(*registers_.back(), "ac" + std::to_string(n), "ar" + std::to_string(n),
                                        "10.204." + std::to_string(n) + "."));
        }
    }
    void TearDown() override
    {
        sims_.clear(); // the simulators go before their namespaces
        registers_.clear();
        client_.reset();
    }

    std::unique_ptr<Namespace> client_;
    std::vector<std::unique_ptr<Namespace>> registers_;
    std::vector<std::unique_ptr<NetsimProcess>> sims_;
};

TEST_F(AddinDiscovery, SearchParametersAndOpenFindTheRegistersAndNothingWhenTheyAreGone)
{
    // Two registers on the first network (the same address, HTTP on two ports), one on the
    // second; the one on port 80 of the first network is the one an empty IP connects to.
    const auto start = [this](const Namespace& ns, const std::string& address, int port, const std::string& serial) {
        sims_.push_back(std::make_unique<NetsimProcess>(
            std::vector<std::string>{"--bind", address, "--port", std::to_string(port), "--ssdp", "--serial", serial},
            ns.name()));
    };
    start(*registers_[0], "10.204.1.2", 80, "ON2040180");
    start(*registers_[0], "10.204.1.2", 8080, "ON2040181");
    start(*registers_[1], "10.204.2.2", 80, "ON2040280");

    inNamespace(*client_, [this] {
        AddinHost host(ADDIN_LIBRARY);
        {
            Component comp = host.create();
            ASSERT_TRUE(comp.set("LogLevel", Value::i4(1))); // INFO: no response files

            CallResult r = comp.call("SearchIP", {Value::str(u"")});
            EXPECT_TRUE(r.ok);
            EXPECT_EQ(r.result, Value::boolean(true)) << "registers found: a success";
            EXPECT_EQ(r.args[0], Value::str(u"10.204.1.2;10.204.2.2")) << "each address once, sorted";
            EXPECT_TRUE(r.errors.empty());

            r = comp.call("GetParameters", {Value::str(u"")});
            EXPECT_TRUE(r.ok);
            EXPECT_EQ(r.result, Value::boolean(true));
            EXPECT_NE(r.args[0].text.find(kIpParameter + u"10.204.1.2\" />"), std::u16string::npos)
                << r.args[0].describe();
            EXPECT_EQ(r.args[0].text.find(u"DEFAULT_IP"), std::u16string::npos);

            r = comp.call("Open", {Value::str(u"")});
            EXPECT_TRUE(r.ok);
            EXPECT_EQ(r.result, Value::boolean(true));
            EXPECT_EQ(r.args[0], Value::str(u"ON2040180")) << "the register on port 80 of the first address";
            EXPECT_TRUE(r.errors.empty());
            EXPECT_EQ(comp.get("IP").value, Value::str(u"10.204.1.2")) << "the address in use is shown";
            EXPECT_NE(logText().find("INFO: Connection to fiscal printer IP: 10.204.1.2, login: service, "
                                     "with default password\n"),
                      std::string::npos);
            EXPECT_TRUE(comp.call("Close", {Value::str(u"ON2040180")}).ok);
        }

        for (auto& sim : sims_) EXPECT_EQ(sim->stop(), 0) << sim->output();

        {
            // The interfaces are still up, so this is a real search that nobody answers.
            Component comp = host.create();
            ASSERT_TRUE(comp.set("LogLevel", Value::i4(1)));
            const CallResult r = comp.call("Open", {Value::str(u"")});
            EXPECT_FALSE(r.ok) << "a failed connection fails the host's call";
            EXPECT_EQ(r.result, Value::boolean(false));
            ASSERT_EQ(r.errors.size(), 1u);
            EXPECT_EQ(r.errors[0].wcode, 1004);
            EXPECT_EQ(r.errors[0].scode, 1004);
            EXPECT_EQ(comp.get("IP").value, Value::str(u"Необходимо вызвать метод Open")) << "no address, no client";
            EXPECT_EQ(countOf(logText(), " code:1004\n"), 1);
            comp.set("LogLevel", Value::i4(0)); // the process-wide level back at DEBUG
        }
        EXPECT_EQ(host.memory().outstanding(), 0u) << "strings handed to the host were not all freed";
        EXPECT_EQ(host.memory().badFrees(), 0u);
        EXPECT_EQ(host.memory().foreignStrings(), 0u);
    });
}

} // namespace
