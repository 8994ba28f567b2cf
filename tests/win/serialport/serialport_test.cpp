// The Win32 serial port back end without a device.
#include <gtest/gtest.h>

#include "serialproto/link.h"
#include "serialproto/port_win32.h"

using namespace serialproto;

TEST(Win32Port, MissingPortIsASystemError)
{
    Win32Port port;
    EXPECT_FALSE(port.Open("COM199"));
    EXPECT_NE(port.SystemError(), 0u);
    EXPECT_FALSE(port.IsOpen());
    SystemClock clock;
    Link link(clock);
    const std::uint8_t cmd = 0;
    EXPECT_EQ(link.SendCommand(&cmd, 1), FPE_NOT_CONNECTED);
}
