// The plain-font analysis over the generated test fonts and the terminal font, the probes on
// their own, and the analysis cache's bound.
#include "Kestrovan/Apple/Metal/MetalTestFonts.h"
#include "Kestrovan/Apple/Metal/OpenTypeSubstitutionCheck.h"
#include "Kestrovan/Apple/Metal/PlainTextFont.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

TEST(PlainTextFontTests, DecidesWhichFontsArePlain)
{
    struct Case
    {
        const char* name;
        platform::FontRef font;
        bool plain;
    };
    const Case cases[] = {
        {"a font without substitutions", metaltest::testFont("Plain.ttf"), true},
        {"JetBrains Mono, which has a GPOS table", metaltest::terminalFont(), false},
        {"an f-i ligature under liga", metaltest::testFont("LigaFI.ttf"), false},
        {"an f-i ligature under dlig only", metaltest::testFont("DligFI.ttf"), true},
        {"an f-i ligature under ss01 only", metaltest::testFont("Ss01FI.ttf"), true},
        {"GSUB 1.1 with feature variations", metaltest::testFont("GsubVariations.ttf"), false},
        {"a GSUB of 9 bytes", metaltest::testFont("GsubNineBytes.ttf"), false},
        {"a coverage range ending before it starts", metaltest::testFont("GsubBadRange.ttf"), false},
        {"no glyph for ~", metaltest::testFont("NoTilde.ttf"), false},
        {"huge glyphs, but one glyph a character", metaltest::testFont("HugeGlyph.ttf"), true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ASSERT_TRUE(test.font);
        const PlainFontAnalysis analysis = PlainTextFont::analyze(test.font);
        EXPECT_EQ(analysis != nullptr, test.plain);
        if (!analysis)
            continue;
        EXPECT_TRUE(analysis->shapedFont()->isSameFont(*test.font));
        ASSERT_EQ(analysis->glyphs().size(), 95u);
        for (char32_t c = 0x20; c <= 0x7E; ++c)
            ASSERT_EQ(analysis->glyph(c), test.font->glyph(c)) << "U+" << std::hex << uint32_t(c);
    }
}

TEST(PlainTextFontTests, ItsGsubTablesAnswerForTheReasonsTheyWereMadeFor)
{
    // The glyphs of the 95 characters in the generated fonts: .notdef is 0, space 1, "~" 95.
    std::vector<uint16_t> ascii;
    for (uint16_t glyph = 1; glyph <= 95; ++glyph)
        ascii.push_back(glyph);
    const std::optional<bool> none;
    struct Case
    {
        const char* file;
        std::optional<bool> canChange;
    };
    const Case cases[] = {
        {"LigaFI.ttf", true},         {"DligFI.ttf", false},       {"Ss01FI.ttf", false},
        {"GsubVariations.ttf", true}, {"GsubNineBytes.ttf", none}, {"GsubBadRange.ttf", none},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.file);
        const platform::FontRef font = metaltest::testFont(test.file);
        ASSERT_TRUE(font);
        const std::vector<uint8_t> gsub = font->table(platform::Font::tableTag("GSUB"));
        ASSERT_FALSE(gsub.empty());
        EXPECT_EQ(OpenTypeSubstitutionCheck::canChange(ascii, gsub), test.canChange);
    }
}

TEST(PlainTextFontTests, ProbesAcceptOnlyOneGlyphPerCharacterInOrder)
{
    const platform::FontRef plain = metaltest::testFont("Plain.ttf");
    const platform::FontRef liga = metaltest::testFont("LigaFI.ttf");
    const platform::FontRef terminal = metaltest::terminalFont();
    const auto glyphs = [](const platform::FontRef& font, std::u16string_view text) {
        std::vector<uint16_t> ids;
        for (char16_t c : text)
            ids.push_back(uint16_t(font->glyph(c).value_or(0)));
        return ids;
    };
    struct Case
    {
        const char* name;
        platform::FontRef font;
        std::u16string text;
        std::vector<uint16_t> expected;
        bool oneToOne;
    };
    const Case cases[] = {
        {"plain f i", plain, u"fi", glyphs(plain, u"fi"), true},
        {"f i shaped into a ligature", liga, u"fi", glyphs(liga, u"fi"), false},
        {"an arrow with contextual alternates", terminal, u"->", glyphs(terminal, u"->"), false},
        {"plain letters of JetBrains Mono", terminal, u"ab", glyphs(terminal, u"ab"), true},
        {"the glyphs in another order", plain, u"ab", glyphs(plain, u"ba"), false},
        {"fewer glyphs expected", plain, u"abc", glyphs(plain, u"ab"), false},
        {"more glyphs expected", plain, u"ab", glyphs(plain, u"abc"), false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const platform::FontRef shaped = PlainTextFont::shapesOneToOne(test.text, test.font, test.expected);
        EXPECT_EQ(shaped != nullptr, test.oneToOne);
        if (shaped) {
            EXPECT_TRUE(shaped->isSameFont(*test.font));
        }
    }
}

TEST(PlainTextFontTests, TheCacheKeepsAnalysesByFontObjectAndEmptiesAtThe33rdFont)
{
    const platform::FontRef base = metaltest::testFont("Plain.ttf");
    PlainTextFontCache cache;
    const PlainFontAnalysis first = cache.plainTextFont(base);
    ASSERT_TRUE(first);
    EXPECT_EQ(cache.plainTextFont(base), first) << "a hit answers the stored analysis";
    EXPECT_EQ(cache.plainTextFont(metaltest::terminalFont()), nullptr);

    std::vector<platform::FontRef> fonts;
    for (int i = 0; i < 30; ++i)
        fonts.push_back(base->withSize(20 + i));
    for (const platform::FontRef& font : fonts)
        cache.plainTextFont(font);
    EXPECT_EQ(cache.count(), 32u);
    EXPECT_EQ(cache.plainTextFont(fonts.back()), cache.plainTextFont(fonts.back()));
    EXPECT_EQ(cache.count(), 32u);

    // Another object of the same font is another key: the 33rd.
    const platform::FontRef sameFontAgain = metaltest::testFont("Plain.ttf");
    EXPECT_TRUE(cache.plainTextFont(sameFontAgain));
    EXPECT_EQ(cache.count(), 1u);
    EXPECT_NE(cache.plainTextFont(base), first) << "analysed again after the cache emptied";
    EXPECT_EQ(cache.count(), 2u);
}

} // namespace
} // namespace kestrovan
