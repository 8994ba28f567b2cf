// The fault switches as the command line and the console set them: every switch shows the
// value it was given, and that value sets the same faults again.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "simulators/netreg/netsim.h"

using namespace netsim;

namespace {

// One value each switch takes (as the console and --help write it).
const std::map<std::string, std::string> kSamples = {
    {"delay", "/cgi/chk=5 /cgi/scr=70"},
    {"status", "*=500"},
    {"malformed", "/cgi/state.php /desc"},
    {"err", "/cgi/chk=3A"},
    {"err-array", "/cgi/chk=10,14"},
    {"oversize", "/desc=70000"},
    {"drop-after", "/cgi/chk"},
    {"stall-after", "/cgi/chk=900"},
    {"always-401", ""},
    {"deflate", ""},
    {"bom", ""},
    {"stall-body", "/cgi/chk=300"},
    {"drip", "/cgi/chk=5 /desc=7:head /x=9:body"},
    {"reset", "/cgi/scr"},
    {"reset-after", "2"},
    {"not-a-register", "404"},
    {"document-answer", "array:booked"},
    {"document-status", "500:booked:Internal Error"},
    {"foreign-document", "{\"F\":[]}"},
    {"challenge-first", ""},
    {"after-document", "/cgi/state.php@1:status=500 2+:malformed"},
    {"journal", "stale,page=3,strings,names=4,no-id"},
    {"nonce-uses", "3"},
    {"nonce-seconds", "60"},
};

} // namespace

TEST(NetsimFaultOptions, EverySwitchShowsItsValueAndTheValueSetsItAgain)
{
    ASSERT_EQ(faultOptions().size(), kSamples.size()) << "a switch without a sample here";
    for (const auto& o : faultOptions()) {
        SCOPED_TRACE(o.name);
        ASSERT_TRUE(kSamples.count(o.name));
        const std::string sample = kSamples.at(o.name);
        Faults f;
        EXPECT_TRUE(o.values(f).empty()) << "on by default";
        switchFault(f, o.name, true, sample);
        EXPECT_FALSE(o.values(f).empty());
        EXPECT_EQ(faultValue(f, o), sample);
        // Only this switch is on.
        for (const auto& other : faultOptions())
            if (&other != &o) {
                EXPECT_TRUE(other.values(f).empty()) << other.name;
            }
        // Its value, given again, changes nothing; off clears it.
        Faults again = f;
        switchFault(again, o.name, true, faultValue(f, o));
        EXPECT_EQ(faultValue(again, o), sample);
        switchFault(f, o.name, false, "");
        EXPECT_TRUE(o.values(f).empty());
    }
}

TEST(NetsimFaultOptions, OnReplacesTheValueAndABadValueChangesNothing)
{
    Faults f;
    switchFault(f, "status", true, "/cgi/chk=500 /desc=404");
    switchFault(f, "status", true, "/cgi/scr=503");
    EXPECT_EQ(f.status, (std::map<std::string, int>{{"/cgi/scr", 503}}));
    switchFault(f, "err", true, "/cgi/chk=3A");
    for (const auto& bad : std::vector<std::pair<std::string, std::string>>{{"status", "/cgi/chk=5000"},
                                                                            {"status", "/cgi/chk=1 /desc"},
                                                                            {"status", ""},
                                                                            {"status", "  "},
                                                                            {"drip", "/x=5:tail"},
                                                                            {"not-a-register", "403"},
                                                                            {"document-answer", "xml"},
                                                                            {"foreign-document", "[1]"},
                                                                            {"reset-after", "-1"},
                                                                            {"journal", "page=x"},
                                                                            {"after-document", "1:bad"},
                                                                            {"no-such-fault", ""}}) {
        const Faults before = f;
        EXPECT_THROW(switchFault(f, bad.first, true, bad.second), std::invalid_argument)
            << bad.first << " " << bad.second;
        EXPECT_EQ(f.status, before.status);
        EXPECT_EQ(f.err, before.err);
        EXPECT_EQ(f.drip.size(), before.drip.size());
        EXPECT_EQ(f.notRegister, before.notRegister);
    }
    // A switch without a value ignores one given.
    switchFault(f, "always-401", true, "whatever");
    EXPECT_TRUE(f.always401);
}

// Values are range-checked as the command line checks them, and nothing that would end
// the answer's head early (a line end in a reason phrase) is taken.
TEST(NetsimFaultOptions, RefusesValuesOutOfRangeOrWithControlBytes)
{
    for (const auto& bad :
         std::vector<std::pair<std::string, std::string>>{{"document-status", "500:Paper out\r\nX-Forged: 1"},
                                                          {"document-status", "500:a\nb"},
                                                          {"document-status", "500:a\rb"},
                                                          {"document-status", "500:a\x01"},
                                                          {"document-status", "500:a\x7F"},
                                                          {"document-status", std::string("500:a\0b", 7)},
                                                          {"oversize", "*=536870912"},
                                                          {"oversize", "/desc=17825793"},
                                                          {"oversize", "/desc=4294967296"},
                                                          {"status", "/x=4294967796"},
                                                          {"delay", "/x=2147483648"}}) {
        Faults f;
        EXPECT_THROW(switchFault(f, bad.first, true, bad.second), std::invalid_argument)
            << bad.first << " " << bad.second;
        const FaultOption* o = findFaultOption(bad.first);
        ASSERT_NE(o, nullptr);
        EXPECT_THROW(o->apply(f, bad.second), std::invalid_argument) << "the command line took " << bad.second;
        EXPECT_TRUE(o->values(f).empty());
    }
    Faults f;
    switchFault(f, "document-status", true, "503:Paper out\tfor now");
    EXPECT_EQ(f.documentReason, "Paper out\tfor now");
    switchFault(f, "oversize", true, "*=17825792");
    EXPECT_EQ(f.oversize.at("*"), 17825792u);
}
