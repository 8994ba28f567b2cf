// The Win32 serial port back end against the register simulator on a pty that
// run_with_sim.sh maps to a COM name of the Wine prefix (SERIALSIM_PORT names it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/serial/fake_port.h"
#include "serialproto/commands.h"
#include "serialproto/link.h"
#include "serialproto/port_win32.h"

using namespace serialproto;

TEST(SimulatorOverCom, GetDateStateTimeAndSilence)
{
    const char* name = std::getenv("SERIALSIM_PORT");
    ASSERT_TRUE(name && *name) << "SERIALSIM_PORT is not set";
    Win32Port port;
    ASSERT_TRUE(port.Open(name)) << "system error " << port.SystemError();
    ASSERT_TRUE(port.SetLine(19200)) << "system error " << port.SystemError();
    SystemClock clock;
    fake::RecordingLog log;
    Link link(clock, &log);
    link.Attach(&port);

    link.SetSequence(0x07);
    ASSERT_EQ(link.SendCommand(EncodeGetDate().data(), 1), fpresult::kOk);
    std::string text;
    ASSERT_EQ(DecodeDate(link.LastAnswer().Data(), link.LastAnswer().Size(), text), fpresult::kOk);
    EXPECT_EQ(text, "24/07/16");
    EXPECT_EQ(log.lines.at(0), "-> (7) 10 02 07 01 F8 10 03");
    EXPECT_EQ(log.lines.at(1).rfind("<- (15) 10 02 07 01 00 00 20 24 07 16 97 10 03", 0), 0u);

    RegisterState st;
    ASSERT_EQ(link.SendCommand(EncodeGetState().data(), 1), fpresult::kOk);
    ASSERT_EQ(DecodeGetState(link.LastAnswer().Data(), link.LastAnswer().Size(), st), fpresult::kOk);
    EXPECT_EQ(st.PrinterInfo.substr(0, 10), "PELTRA-SIM");
    ASSERT_EQ(link.SendCommand(EncodeGetTime().data(), 1), fpresult::kOk);
    ASSERT_EQ(DecodeTime(link.LastAnswer().Data(), link.LastAnswer().Size(), text), fpresult::kOk);
    EXPECT_EQ(text, "10:20:30");

    // The simulator is told to stay silent on line feeds.
    const std::uint8_t lineFeed = 0x0E;
    EXPECT_EQ(link.SendCommand(&lineFeed, 1), FPE_NO_ANSWER);
    EXPECT_EQ(log.lines.back(), "No answer");
    EXPECT_EQ(link.EcrState(), 0x2000u);
}
