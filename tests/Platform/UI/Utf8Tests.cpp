// UTF-8 to and from scalars, with what is not text replaced rather than passed on.
#include "Platform/UI/Utf8.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(Utf8, ConvertsBothWaysAndReplacesWhatIsNotText)
{
    const std::u32string text = U"a\u00e9\u20ac\U0001F600";
    EXPECT_EQ(utf8FromScalars(text), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(scalarsFromUtf8(utf8FromScalars(text)), text);
    EXPECT_EQ(utf8FromScalars(std::u32string{char32_t(0xD800), char32_t(0x110000)}),
              "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(scalarsFromUtf8("\xC3"), U"\uFFFD") << "cut short";
    EXPECT_EQ(scalarsFromUtf8("\xC0\xAF"), U"\uFFFD\uFFFD") << "overlong";
    EXPECT_EQ(scalarsFromUtf8("\xED\xA0\x80z"), U"\uFFFD\uFFFD\uFFFDz") << "a surrogate";
}
