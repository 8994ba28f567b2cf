// The UTF-8/UTF-16 conversions and the local time text.
#include "textconv/local_time.h"
#include "textconv/utf.h"

#include <gtest/gtest.h>

#include <regex>

using textconv::toUtf16;
using textconv::toUtf8;

TEST(Utf, RoundTripsEveryEncodedLength)
{
    // One, two, three and four bytes in UTF-8; the last is a surrogate pair in UTF-16.
    const std::u16string text = u"A\u00E9\u0416\u20AC\U0001F600z";
    const std::string utf8 = "A\xC3\xA9\xD0\x96\xE2\x82\xAC\xF0\x9F\x98\x80z";
    EXPECT_EQ(toUtf8(text), utf8);
    EXPECT_EQ(toUtf16(utf8), text);
    EXPECT_EQ(toUtf8(text.data(), 2), "A\xC3\xA9");
    EXPECT_EQ(toUtf8(u""), "");
    EXPECT_EQ(toUtf16(""), u"");
}

TEST(Utf, UnpairedSurrogatesBecomeTheReplacementCharacter)
{
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(toUtf8(std::u16string(u"a") + char16_t(0xD800)), "a" + replacement);    // lead at the end
    EXPECT_EQ(toUtf8(std::u16string(1, char16_t(0xD800)) + u"b"), replacement + "b"); // lead, no trail
    EXPECT_EQ(toUtf8(std::u16string(1, char16_t(0xDC00)) + u"c"), replacement + "c"); // lone trail
}

TEST(Utf, MalformedUtf8BecomesTheReplacementCharacterAndGoesOn)
{
    EXPECT_EQ(toUtf16("\xFF"
                      "a"),
              u"\uFFFDa");                 // no lead byte
    EXPECT_EQ(toUtf16("\xC3"), u"\uFFFD"); // cut short at the end
    EXPECT_EQ(toUtf16("\xE2\x82"
                      "a"),
              u"\uFFFDa");                             // cut short: the next one survives
    EXPECT_EQ(toUtf16("\xC0\xAF"), u"\uFFFD");         // overlong
    EXPECT_EQ(toUtf16("\xED\xA0\x80"), u"\uFFFD");     // an encoded surrogate
    EXPECT_EQ(toUtf16("\xF4\x90\x80\x80"), u"\uFFFD"); // beyond U+10FFFF
}

TEST(LocalTime, FormatsAndRefusesWithoutPattern)
{
    EXPECT_TRUE(std::regex_match(textconv::formatLocalTime(std::time(nullptr)),
                                 std::regex(R"(\d\d-\d\d-\d{4} \d\d:\d\d:\d\d)")));
    EXPECT_EQ(textconv::formatLocalTime(std::time(nullptr), nullptr), "");
}
