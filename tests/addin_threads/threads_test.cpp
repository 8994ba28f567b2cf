// Four components in four threads, each against a simulated register of its own (child
// processes, so that only the add-in's side runs in this process), selling receipts and
// cash documents while one of them keeps changing the log level and the others log at
// every step. The add-in's process-wide state (the log, its level and file, the error
// table) is shared by them all.
#include "tools/addin-host/addin_host.h"
#include "tests/support/netsim_process.h"
#include "tests/support/private_tmpdir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace addinhost;

namespace {

constexpr int kThreads = 4;
constexpr int kReceipts = 12;

bool succeeded(const CallResult& r) { return r.ok && r.result == Value::boolean(true); }

struct Till {
    std::unique_ptr<testsupport::NetsimProcess> reg;
    std::unique_ptr<AddinHost> host;
    int sold = 0, cash = 0, levelChanges = 0;
    std::string failure;
};

// One session: Open, receipts of two lines, a cash document after every fourth receipt;
// the first session also changes the log level before each receipt.
void session(Till& till, bool changesLevel)
{
    Component comp = till.host->create();
    comp.set("DefaultTaxGroup", Value::i4(1));
    comp.set("IP", Value::str(toUtf16(till.reg->address())));
    comp.set("Password", Value::str(u"384190"));
    if (!succeeded(comp.call("Open", {Value::str(u"")}))) {
        till.failure = "Open failed";
        return;
    }
    auto level = [&](int n) {
        if (!changesLevel) return;
        // SetParameter connects again with the new settings: between receipts only.
        if (succeeded(comp.call("SetParameter", {Value::str(u"LogLevel"), Value::i4(n % 3)}))) ++till.levelChanges;
    };
    for (int n = 0; n < kReceipts; ++n) {
        level(n);
        if (!succeeded(comp.call("OpenCheck", {Value::str(u""), Value::boolean(true), Value::boolean(false),
                                               Value::boolean(true), Value::i4(0), Value::i4(0)}))) {
            till.failure = "OpenCheck failed at receipt " + std::to_string(n);
            return;
        }
        for (int k = 0; k < 2; ++k) {
            const std::u16string name = toUtf16("threads-" + std::to_string(n) + "/" + std::to_string(k));
            if (!succeeded(
                    comp.call("PrintFiscalString", {Value::str(u""), Value::str(name), Value::r8(1), Value::r8(2.5 + k),
                                                    Value::r8(2.5 + k), Value::i4(1), Value::r8(0)}))) {
                till.failure = "PrintFiscalString failed at receipt " + std::to_string(n);
                return;
            }
        }
        if (!succeeded(
                comp.call("CloseCheck", {Value::str(u""), Value::r8(0), Value::r8(6), Value::r8(0), Value::r8(0)}))) {
            till.failure = "CloseCheck failed at receipt " + std::to_string(n);
            return;
        }
        ++till.sold;
        if (n % 4 == 3) {
            if (!succeeded(comp.call("CashInOutcome", {Value::str(u""), Value::r8(n % 8 == 3 ? 10 : -5)}))) {
                till.failure = "CashInOutcome failed after receipt " + std::to_string(n);
                return;
            }
            ++till.cash;
        }
    }
    comp.call("Close", {Value::str(u"")});
}

} // namespace

TEST(AddinThreads, FourSessionsOnFourThreadsShareTheProcessSafely)
{
    std::vector<Till> tills(kThreads);
    // The registers and the hosts come up before any thread of the add-in's runs.
    for (Till& t : tills) {
        t.reg = std::make_unique<testsupport::NetsimProcess>();
        t.host = std::make_unique<AddinHost>(ADDIN_LIBRARY);
    }
    {
        // The log at DEBUG to begin with, so that every call writes to it.
        Component first = tills[0].host->create();
        first.set("LogLevel", Value::i4(0));
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&tills, i] { session(tills[static_cast<std::size_t>(i)], i == 0); });
    for (std::thread& t : threads) t.join();

    for (int i = 0; i < kThreads; ++i) {
        const Till& t = tills[static_cast<std::size_t>(i)];
        SCOPED_TRACE("session " + std::to_string(i));
        EXPECT_EQ(t.failure, "");
        EXPECT_EQ(t.sold, kReceipts);
        EXPECT_EQ(t.cash, kReceipts / 4);
        EXPECT_EQ(t.host->memory().outstanding(), 0u);
    }
    EXPECT_GT(tills[0].levelChanges, 0);
    // The level is process-wide: DEBUG again for whatever runs next.
    Component last = tills[0].host->create();
    last.set("LogLevel", Value::i4(0));
}
