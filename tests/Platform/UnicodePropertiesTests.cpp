#include "Platform/Regex/UnicodeProperties.h"

#include <gtest/gtest.h>

namespace {

TEST(UnicodeProperties, LettersNumbersAndFullCaseFolding)
{
    EXPECT_TRUE(platform::isLetter(U'a'));
    EXPECT_TRUE(platform::isLetter(U'\u00DF'));
    EXPECT_TRUE(platform::isLetter(U'\u4E2D'));
    EXPECT_FALSE(platform::isLetter(U'1'));
    EXPECT_FALSE(platform::isLetter(U'_'));
    EXPECT_TRUE(platform::isNumber(U'7'));
    EXPECT_TRUE(platform::isNumber(U'\u00BD')) << "vulgar fraction one half";
    EXPECT_TRUE(platform::isNumber(U'\u0663')) << "Arabic-Indic digit three";
    EXPECT_FALSE(platform::isNumber(U'x'));
    EXPECT_FALSE(platform::isLetter(0xD800)) << "a surrogate is no scalar";

    EXPECT_EQ(platform::caseFolded(u"STRASSE"), u"strasse");
    EXPECT_EQ(platform::caseFolded(u"Stra\u00DFe"), u"strasse") << "\u00DF folds to two letters";
    EXPECT_EQ(platform::caseFolded(u"\u0130"), u"i\u0307") << "capital I with dot above";
    EXPECT_EQ(platform::caseFolded(u"\u03A3\u03C3\u03C2"), u"\u03C3\u03C3\u03C3")
        << "every sigma folds alike";
    EXPECT_EQ(platform::caseFolded(u"\U00010400"), u"\U00010428") << "Deseret, outside the BMP";
    EXPECT_EQ(platform::caseFolded(std::u16string(1, char16_t(0xDC00))), u"\uFFFD") << "a lone surrogate";
}

} // namespace
