#include "comserver/driver_string.h"

#include <gtest/gtest.h>
#include <string>

TEST(DriverString, ToRegisterReplacesUkrainianIAndConvertsToOem)
{
    DriverString s("Іі Привет Ёё №");
    s.ToOem();
    // І/і become Latin I/i (the OEM page has no such letters); the rest is cp866.
    EXPECT_EQ(std::string("Ii \x8F\xE0\xA8\xA2\xA5\xE2 \xF0\xF1 \xFC"), s.Text());
    s.FromOem();
    EXPECT_EQ(std::string("Ii Привет Ёё №"), s.Text());
}

TEST(DriverString, AssignmentsAndWideCopies)
{
    DriverString s;
    EXPECT_STREQ("", s.Text());
    EXPECT_EQ(nullptr, s.DetachWide());

    s.AssignWide(L"Касса №1");
    EXPECT_EQ(std::string("Касса №1"), s.Text());
    BSTR a = s.DetachWide();
    BSTR b = s.DetachWide();
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_NE(a, b); // every read hands out its own copy
    EXPECT_STREQ(L"Касса №1", a);
    EXPECT_STREQ(L"Касса №1", b);
    SysFreeString(a);
    SysFreeString(b);

    // Appending drops the cached wide copy.
    BSTR cached = s.Wide();
    ASSERT_NE(nullptr, cached);
    s.Append(" ок");
    BSTR grown = s.DetachWide();
    EXPECT_STREQ(L"Касса №1 ок", grown);
    SysFreeString(grown);

    const char raw[] = {'\x8A', '\xA0', '\xE1', '\xE1', '\xA0'}; // "Касса" in cp866
    s.AssignBytes(raw, sizeof raw);
    EXPECT_EQ(5u, s.Length());
    s.FromOem();
    EXPECT_EQ(std::string("Касса"), s.Text());

    s.AssignUtf8(u8"Запуск");
    EXPECT_EQ(std::string("Запуск"), s.Text());

    DriverString copy = s;
    s.Assign("");
    EXPECT_TRUE(s.Empty());
    EXPECT_EQ(std::string("Запуск"), copy.Text());
}

// Assigning the string its own wide copy converts that copy before freeing it.
TEST(DriverString, AssignsItsOwnWideCopy)
{
    DriverString s("Чек №7");
    s.AssignWide(s.Wide());
    EXPECT_EQ(std::string("Чек №7"), s.Text());
    s.AssignWide(s.Wide(), 3);
    EXPECT_EQ(std::string("Чек"), s.Text());
}

TEST(DriverString, KeepsTheThreadsLastError)
{
    SetLastError(1234);
    {
        DriverString s;
        s.AssignWide(L"текст");
        s.Append("!");
        BSTR w = s.DetachWide();
        s.ToOem();
        s.FromOem();
        SysFreeString(w);
    }
    EXPECT_EQ(1234u, GetLastError());
}

TEST(DriverString, NumbersAndCodesMustFitTheRegisterPage)
{
    EXPECT_TRUE(DriverString::FitsRegisterPage(nullptr));
    EXPECT_TRUE(DriverString::FitsRegisterPage(L""));
    EXPECT_TRUE(DriverString::FitsRegisterPage(L"1234567890"));
    EXPECT_TRUE(DriverString::FitsRegisterPage(L"AB-12?")); // a "?" of its own is kept
    EXPECT_FALSE(DriverString::FitsRegisterPage(L"\x4E2D\x6587\x4E2D\x6587\x4E2D\x6587\x4E2D\x6587\x4E2D\x6587"));
    EXPECT_FALSE(DriverString::FitsRegisterPage(L"12345678901\x4E2D"));
    // Five emoji are ten UTF-16 units: they must not pass as ten characters.
    EXPECT_FALSE(DriverString::FitsRegisterPage(L"\xD83D\xDE00\xD83D\xDE00\xD83D\xDE00\xD83D\xDE00\xD83D\xDE00"));
    EXPECT_FALSE(DriverString::FitsRegisterPage(L"\x00E4")); // no best-fit "a"
}
