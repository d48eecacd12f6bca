#include "TextTestFonts.h"

#include "Platform/Text/AttributedText.h"
#include "Platform/Text/FontFallback.h"
#include "Platform/Text/FontSet.h"
#include "Platform/Text/ShapedLine.h"

#include <gtest/gtest.h>
#include <set>
#include <thread>

using namespace platform;

namespace {

ShapedLine shapeIn(const FontRef& font, std::u16string_view text)
{
    const FontRun run{uint32_t(text.size()), font};
    return ShapedLine::shape(text, std::span(&run, 1));
}

std::vector<uint32_t> clustersOf(const ShapedLine& line)
{
    std::vector<uint32_t> clusters;
    for (const ShapedGlyph& glyph : line.glyphs()) {
        if (clusters.empty() || clusters.back() != glyph.cluster)
            clusters.push_back(glyph.cluster);
    }
    return clusters;
}

// The glyphs of a line laid out left to right: positions grow, runs tile the text and the glyphs.
void expectWellFormed(const ShapedLine& line, size_t textSize)
{
    uint32_t text = 0, glyphs = 0;
    for (const ShapedRun& run : line.runs()) {
        EXPECT_EQ(run.textStart, text);
        EXPECT_EQ(run.glyphStart, glyphs);
        EXPECT_LT(run.textStart, run.textEnd);
        text = run.textEnd;
        glyphs = run.glyphEnd;
        for (const ShapedGlyph& glyph : line.glyphs(run)) {
            EXPECT_GE(glyph.cluster, run.textStart);
            EXPECT_LT(glyph.cluster, run.textEnd);
        }
    }
    EXPECT_EQ(text, textSize);
    EXPECT_EQ(glyphs, line.glyphs().size());
    double pen = 0;
    for (const ShapedGlyph& glyph : line.glyphs())
        pen += glyph.advance;
    EXPECT_NEAR(pen, line.width(), 1e-6);
}

TEST(ShapedLineTests, AsciiInTheTerminalFontIsOneGlyphPerCellOnTheGrid)
{
    FontRef font = textfonts::terminalFont(16);
    const ShapedLine line = shapeIn(font, u"abc W");
    ASSERT_EQ(line.runs().size(), 1u);
    EXPECT_EQ(line.runs()[0].font, font);
    EXPECT_FALSE(line.runs()[0].isFallback);
    ASSERT_EQ(line.glyphs().size(), 5u);
    for (uint32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(line.glyphs()[i].cluster, i);
        EXPECT_NEAR(line.glyphs()[i].x, 9.6 * i, 1e-3);
        EXPECT_EQ(line.glyphs()[i].y, 0);
        EXPECT_EQ(line.glyphs()[i].glyph, *font->glyph(u"abc W"[i]));
    }
    EXPECT_NEAR(line.width(), 48, 1e-3);
    expectWellFormed(line, 5);
}

TEST(ShapedLineTests, ClustersMapBackToStringIndexes)
{
    FontRef font = textfonts::terminalFont(16);
    const struct
    {
        std::u16string text;
        std::vector<uint32_t> clusters;
        size_t fallbackRuns;
    } cases[] = {
        // A surrogate pair is one cluster at the pair's first unit.
        {u"a😀b", {0, 1, 3}, 1},
        // U+FE0E belongs to its base: no glyph and no cluster of its own.
        {u"a↔\uFE0Eb", {0, 1, 3}, 0},
        {u"😀\uFE0E中", {0, 3}, 2},
        // Combining marks stay in their base's cluster, whatever font the base needs.
        {u"e\u0301x", {0, 2}, 0},
        {u"aक्षिb", {0, 1, 5}, 1},
        {u"中\u0301文", {0, 2}, 1},
        // A ZWJ sequence is one cluster in the colour face.
        {u"👨\u200D👩\u200D👧!", {0, 8}, 1},
        // A lone surrogate still gets a glyph (the replacement's) and keeps its index.
        {u"a\xD800z", {0, 1, 2}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.clusters));
        const ShapedLine line = shapeIn(font, c.text);
        EXPECT_EQ(clustersOf(line), c.clusters);
        size_t fallbackRuns = 0;
        for (const ShapedRun& run : line.runs())
            fallbackRuns += run.isFallback ? 1 : 0;
        EXPECT_EQ(fallbackRuns, c.fallbackRuns);
        expectWellFormed(line, c.text.size());
    }
}

TEST(ShapedLineTests, FallbackRunsCarryTheirFontsAndSourceRuns)
{
    FontRef regular = textfonts::terminalFont(16);
    const FontSet set = FontSet::fromNormal(regular);
    // "ab" regular, "中😀" bold, "cd" italic.
    const std::u16string text = u"ab中😀cd";
    const FontRun runs[] = {{2, set.normal}, {3, set.bold}, {2, set.italic}};
    const ShapedLine line = ShapedLine::shape(text, runs);
    expectWellFormed(line, text.size());
    ASSERT_EQ(line.runs().size(), 4u);
    EXPECT_EQ(line.runs()[0].font, set.normal);
    EXPECT_EQ(line.runs()[1].sourceRun, 1u);
    EXPECT_NE(line.runs()[1].font->familyName().find("CJK"), std::string::npos);
    EXPECT_EQ(line.runs()[2].sourceRun, 1u);
    EXPECT_TRUE(line.runs()[2].font->isColor());
    EXPECT_TRUE(line.runs()[1].isFallback && line.runs()[2].isFallback);
    EXPECT_EQ(line.runs()[3].font, set.italic);
    EXPECT_EQ(line.runs()[3].sourceRun, 2u);

    // Neighbouring characters of one fallback face are one run.
    EXPECT_EQ(shapeIn(regular, u"中文字").runs().size(), 1u);

    // Text past the runs takes the last run's font; runs past the text give nothing; a run
    // without a font gives no glyphs for its text.
    const FontRun short_[] = {{1, set.normal}, {1, set.bold}};
    const ShapedLine tail = ShapedLine::shape(u"abcd", short_);
    ASSERT_EQ(tail.runs().size(), 2u);
    EXPECT_EQ(tail.runs()[1].textEnd, 4u);
    const FontRun long_[] = {{100, set.normal}, {5, set.bold}};
    EXPECT_EQ(ShapedLine::shape(u"abcd", long_).runs().size(), 1u);
    const FontRun hole[] = {{1, set.normal}, {2, nullptr}, {1, set.normal}};
    EXPECT_EQ(clustersOf(ShapedLine::shape(u"abcd", hole)), (std::vector<uint32_t>{0, 3}));
    EXPECT_TRUE(ShapedLine::shape(u"", long_).glyphs().empty());
    EXPECT_TRUE(ShapedLine::shape(u"abc", std::span<const FontRun>()).glyphs().empty());
}

struct Style
{
    FontRef font;
    int colour = 0;
};

TEST(ShapedLineTests, AttributedTextShapesInItsRunsFonts)
{
    FontRef regular = textfonts::terminalFont(16);
    const FontSet set = FontSet::fromNormal(regular);
    auto plain = std::make_shared<const Style>(Style{set.normal, 1});
    auto bold = std::make_shared<const Style>(Style{set.bold, 2});

    AttributedText<Style> text;
    text.append(u"ab", plain);
    text.append(u"c", plain); // the same attributes object extends the run
    text.append(u"", bold);   // empty text appends nothing
    text.append(u"中d", bold);
    ASSERT_EQ(text.runs().size(), 2u);
    EXPECT_EQ(text.runs()[0].length, 3u);
    EXPECT_EQ(text.text(), u"abc中d");

    const ShapedLine line = text.shape();
    expectWellFormed(line, text.text().size());
    for (const ShapedRun& run : line.runs()) {
        const Style& style = *text.runs()[run.sourceRun].attributes;
        EXPECT_EQ(style.colour, run.textStart < 3 ? 1 : 2);
        if (!run.isFallback) {
            EXPECT_EQ(run.font, style.font);
        }
    }
    text.clear();
    EXPECT_TRUE(text.empty() && text.runs().empty());
}

TEST(ShapedLineTests, FontsAndTheFallbackCacheServeSeveralThreadsAtOnce)
{
    FontRef font = textfonts::terminalFont(16);
    FontFallback fallback;
    const std::u16string lines[] = {u"plain ascii -> => !=", u"中文 😀 ∯ क्षि e\u0301",
                                    u"👍🏽🇩🇪 ☺\uFE0E"};
    std::vector<std::vector<ShapedGlyph>> expected;
    for (const auto& text : lines) {
        const FontRun run{uint32_t(text.size()), font};
        expected.push_back(ShapedLine::shape(text, std::span(&run, 1), fallback).glyphs());
    }
    fallback.removeAll();
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                const size_t which = size_t(i + t) % std::size(lines);
                const FontRun run{uint32_t(lines[which].size()), font};
                if (ShapedLine::shape(lines[which], std::span(&run, 1), fallback).glyphs() != expected[which])
                    ++mismatches;
                if (i % 17 == 0)
                    fallback.removeAll();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

} // namespace
