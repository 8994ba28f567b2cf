// One host and one component per test. Afterwards every block the add-in took from the
// host must have come back, and the process-wide log level is back at DEBUG.
#pragma once

#include "tools/addin-host/addin_host.h"
#include "tests/support/private_tmpdir.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

class AddinFixture : public ::testing::Test {
protected:
    explicit AddinFixture(const char* library) : library_(library) {}

    void SetUp() override
    {
        testsupport::removeFile(testsupport::logPath());
        host.emplace(library_);
        comp.emplace(host->create());
    }

    void TearDown() override
    {
        if (comp) {
            comp->set("LogLevel", addinhost::Value::i4(0));
            comp.reset();
        }
        EXPECT_EQ(host->memory().outstanding(), 0u) << "strings handed to the host were not all freed";
        EXPECT_EQ(host->memory().badFrees(), 0u);
        EXPECT_EQ(host->memory().foreignStrings(), 0u) << "a string did not come from AllocMemory";
        EXPECT_EQ(host->memory().allocations(), host->memory().frees());
        host.reset();
    }

    std::optional<addinhost::AddinHost> host;
    std::optional<addinhost::Component> comp;

private:
    const char* library_;
};

namespace addinhost {
// Readable values in test failures.
inline void PrintTo(const Value& v, std::ostream* os) { *os << v.describe(); }
} // namespace addinhost

inline int countOf(const std::string& text, const std::string& piece)
{
    int n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}
