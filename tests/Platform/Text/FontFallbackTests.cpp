#include "TextTestFonts.h"

#include "Platform/Text/FontFallback.h"

#include <gtest/gtest.h>
#include <string>

using namespace platform;

namespace {

std::u32string scalars(std::u16string_view text)
{
    std::u32string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t unit = text[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size())
            unit = 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00);
        out.push_back(unit);
    }
    return out;
}

TEST(FontFallbackTests, CharactersTheTerminalFontLacksGetAFaceThatHasThem)
{
    FontRef base = textfonts::terminalFont();
    ASSERT_TRUE(base);
    FontFallback fallback;
    const struct
    {
        std::u16string cluster;
        const char* familyPart;
        bool color;
    } cases[] = {
        {u"中", "CJK", false},
        {u"😀", "Emoji", true},
        {u"∯", "", false},                 // a contour integral, in DejaVu but not in JetBrains Mono
        {u"क्षि", "Devanagari", false},     // one cluster: KA, VIRAMA, SSA, VOWEL SIGN I
        {u"#\uFE0F\u20E3", "Emoji", true}, // a keycap sequence asks for colour
        {u"☺\uFE0F", "Emoji", true},       // U+FE0F turns a text-default smiley into emoji
        {u"↔\uFE0F", "Emoji", true},       // even where the terminal font has a plain arrow
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.familyPart) + " case " + std::to_string(c.cluster.size()) + " units");
        FontRef font = fallback.fontFor(base, c.cluster);
        ASSERT_TRUE(font);
        EXPECT_FALSE(font->isSameFont(*base)) << font->familyName();
        EXPECT_TRUE(FontFallback::covers(*font, scalars(c.cluster))) << font->familyName();
        EXPECT_NE(font->familyName().find(c.familyPart), std::string::npos) << font->familyName();
        EXPECT_EQ(font->isColor(), c.color) << font->familyName();
        EXPECT_EQ(font->pointSize(), base->pointSize());
    }

    // What the font has, it draws itself: ASCII, "∑", a combining accent on its base.
    for (std::u16string cluster : {u"W", u"∑", u"e\u0301", u"↔\uFE0E"})
        EXPECT_EQ(fallback.fontFor(base, cluster), base);

    // "∑" from a font that lacks it falls back like any other character.
    FontRef devanagari = fallback.fontFor(base, u"क");
    ASSERT_FALSE(devanagari->hasGlyph(U'∑'));
    FontRef sum = fallback.fontFor(devanagari, u"∑");
    EXPECT_TRUE(sum->hasGlyph(U'∑')) << sum->familyName();

    // Nothing anywhere draws an unassigned private-use scalar: the font keeps it (as its box).
    EXPECT_EQ(fallback.fontFor(base, u"\U0010FFFD"), base);
    EXPECT_EQ(fallback.fontFor(base, u""), base);
    EXPECT_EQ(fallback.fontFor(nullptr, u"中"), nullptr);
}

TEST(FontFallbackTests, AnswersAreCachedAndShareOneFontPerFace)
{
    FontRef base = textfonts::terminalFont();
    FontFallback fallback;
    FontRef first = fallback.fontFor(base, u"中");
    EXPECT_EQ(fallback.statistics().misses, 1u);
    EXPECT_EQ(fallback.fontFor(base, u"中"), first);
    EXPECT_EQ(fallback.statistics().hits, 1u);
    // Another character of the same face gets the same object, so runs of them stay together.
    EXPECT_EQ(fallback.fontFor(base, u"文"), first);
    // Another base font (here another size) is another key and another font.
    FontRef larger = fallback.fontFor(base->withSize(20), u"中");
    EXPECT_EQ(larger->pointSize(), 20);
    EXPECT_TRUE(larger->isSameFont(*first->withSize(20)));

    // Reaching the capacity empties the cache whole before the next answer is stored.
    for (char16_t c = 0x4E00; fallback.statistics().entries < FontFallback::capacity; ++c)
        fallback.fontFor(base, std::u16string(1, c));
    EXPECT_EQ(fallback.statistics().entries, FontFallback::capacity);
    fallback.fontFor(base, u"\u9FA0");
    EXPECT_EQ(fallback.statistics().entries, 1u);

    fallback.removeAll();
    EXPECT_EQ(fallback.statistics().entries, 0u);
    EXPECT_TRUE(fallback.fontFor(base, u"中")->isSameFont(*first));
}

TEST(FontFallbackTests, PresentationRules)
{
    const struct
    {
        std::u32string scalars;
        bool color;
    } cases[] = {
        {U"😀", true},           // emoji by default
        {U"😀\uFE0E", false},    // asked for text
        {U"☺", false},          // text by default
        {U"☺\uFE0F", true},     // asked for emoji
        {U"✌\U0001F3FD", true}, // a skin-tone modifier makes an emoji
        {U"🇩🇪", true},          // regional indicators
        {U"a", false},          {U"e\u0301", false}, {U"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FontFallback::prefersColor(c.scalars), c.color)
            << int(c.scalars.empty() ? 0 : c.scalars[0]);

    // Joiners and selectors need no glyph of their own.
    FontRef emoji = Font::named("Noto Color Emoji", 16);
    EXPECT_TRUE(FontFallback::covers(*emoji, U"👨\u200D👩\u200D👧"));
    EXPECT_TRUE(FontFallback::covers(*emoji, U"😀\uFE0F"));
    EXPECT_FALSE(FontFallback::covers(*emoji, U"a中"));
}

} // namespace
