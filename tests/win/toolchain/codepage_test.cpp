// The Windows-side tests run under Wine with the Ukrainian locale: the driver's text
// conversions rely on ANSI 1251 and OEM 866 being the process code pages.
#include <windows.h>
#include <gtest/gtest.h>
#include <string>

TEST(WineEnvironment, CodePagesAreCyrillic)
{
    EXPECT_EQ(1251u, GetACP());
    EXPECT_EQ(866u, GetOEMCP());
}

TEST(WineEnvironment, AnsiToOemRoundTripsRussianLetters)
{
    // "Привет" in cp1251.
    const char ansi[] = "\xCF\xF0\xE8\xE2\xE5\xF2";
    char oem[sizeof ansi] = {};
    ASSERT_TRUE(CharToOemA(ansi, oem));
    EXPECT_EQ(std::string("\x8F\xE0\xA8\xA2\xA5\xE2"), std::string(oem));
    char back[sizeof ansi] = {};
    ASSERT_TRUE(OemToCharA(oem, back));
    EXPECT_EQ(std::string(ansi), std::string(back));
}
