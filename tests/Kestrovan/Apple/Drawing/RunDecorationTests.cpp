// Run decorations: the underline style a run resolves to, thicknesses snapped and never below
// half a point, the second line of a double underline, one unbroken wave of a curly underline
// over a wide cell, dashed strikethroughs, and a golden sheet of every style under text.
#include "DrawingTestSupport.h"

#include "Kestrovan/Apple/RunDecorations.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kestrovan;
using drawing_test::Surface;
using platform::NativeColor;
using platform::Point;

namespace {

const NativeColor ink = NativeColor::sRGB(0.1, 0.1, 0.1);

DecorationContext contextFor(const platform::FontRef& font)
{
    return DecorationContext{font, ink};
}

/// The centres (in device pixels from the top) of the runs of ink down column `x`.
std::vector<double> bandCentres(const Surface& surface, int x)
{
    std::vector<double> centres;
    int start = -1;
    for (int y = 0; y <= surface.bitmap.height(); ++y) {
        const bool inked = y < surface.bitmap.height() && surface.alphaAt(x, y) > 128;
        if (inked && start < 0)
            start = y;
        if (!inked && start >= 0) {
            centres.push_back((start + y) / 2.0);
            start = -1;
        }
    }
    return centres;
}

RunDecorationStyle underline(UnderlineStyle style)
{
    RunDecorationStyle decoration;
    decoration.underlineStyle = 0x1;
    decoration.terminalUnderlineStyle = style;
    return decoration;
}

} // namespace

TEST(RunDecorations, UnderlineStylesResolveFromTheTerminalStyleThenTheStyleNumber)
{
    EXPECT_EQ(resolveUnderlineStyle(UnderlineStyle::curly, 0x1), UnderlineStyle::curly);
    EXPECT_EQ(resolveUnderlineStyle(std::nullopt, std::nullopt), UnderlineStyle::none);
    const std::pair<int, UnderlineStyle> numbers[] = {
        {0x0, UnderlineStyle::none},      {0x1, UnderlineStyle::single},   {0x2, UnderlineStyle::single},
        {0x9, UnderlineStyle::double_},   {0x8, UnderlineStyle::single},   {0x101, UnderlineStyle::dotted},
        {0x109, UnderlineStyle::double_}, {0x201, UnderlineStyle::dashed}, {0x401, UnderlineStyle::dashed},
        {0x301, UnderlineStyle::dotted},
    };
    for (const auto& [number, expected] : numbers)
        EXPECT_EQ(resolveUnderlineStyle(std::nullopt, number), expected) << std::hex << number;
}

TEST(RunDecorations, ThicknessIsSnappedAndNeverBelowHalfAPoint)
{
    EXPECT_EQ(decorationThickness(0.2, 1), 0.5);
    EXPECT_EQ(decorationThickness(0.2, 2), 0.5);
    EXPECT_EQ(decorationThickness(1.3, 2), 1.5);
    EXPECT_EQ(decorationThickness(1.3, 1), 1.0);
    EXPECT_EQ(decorationThickness(NAN, 2), 0.5);

    // A 4-point font has a hairline underline: drawn half a point (one pixel at scale 2) thick.
    const platform::FontRef tiny = drawing_test::terminalFont(4);
    ASSERT_TRUE(tiny);
    ASSERT_LT(tiny->metrics().underlineThickness * 2, 0.5);
    Surface surface(40, 40, 2);
    const Point cell{2, 10};
    drawRunAttributes(*surface.canvas, underline(UnderlineStyle::single), std::span(&cell, 1), 8,
                      contextFor(tiny));
    int rows = 0;
    for (int y = 0; y < 40; ++y)
        rows += surface.alphaAt(8, y) == 255;
    EXPECT_EQ(rows, 1);
}

TEST(RunDecorations, ADoubleUnderlinesSecondLineIsOnePointAndOneThicknessBelow)
{
    const platform::FontRef font = drawing_test::terminalFont(13);
    ASSERT_TRUE(font);
    const double scale = 2;
    const double thickness = decorationThickness(font->metrics().underlineThickness, scale);
    Surface surface(40, 60, scale);
    const Point cell{2, 20};
    drawRunAttributes(*surface.canvas, underline(UnderlineStyle::double_), std::span(&cell, 1), 8,
                      contextFor(font));
    const std::vector<double> centres = bandCentres(surface, 10);
    ASSERT_EQ(centres.size(), 2u);
    EXPECT_NEAR(centres[1] - centres[0], (thickness + 1) * scale, 1.0);
    // The first line is at the font's underline position below the baseline (y-up points).
    const double expectedTop = 30 - (20 + font->metrics().underlinePosition);
    EXPECT_NEAR(centres[0] / scale, expectedTop, 0.75);
}

TEST(RunDecorations, ACurlyUnderlineRunsAsOneWaveAcrossCellsAndWideCells)
{
    // One wide cell and two narrow cells covering the same span draw the same wave: the phase
    // runs on from the run's first cell instead of starting again at each cell.
    const platform::FontRef font = drawing_test::terminalFont(13);
    ASSERT_TRUE(font);
    Surface wide(60, 30, 2), narrow(60, 30, 2);
    const Point wideCell{3.3, 10};
    drawRunAttributes(*wide.canvas, underline(UnderlineStyle::curly), std::span(&wideCell, 1), 15.6,
                      contextFor(font));
    const Point narrowCells[] = {{3.3, 10}, {11.1, 10}};
    drawRunAttributes(*narrow.canvas, underline(UnderlineStyle::curly), narrowCells, 7.8, contextFor(font));
    int inked = 0, differing = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 60; ++x) {
            inked += wide.alphaAt(x, y) > 0;
            differing += (wide.alphaAt(x, y) > 0) != (narrow.alphaAt(x, y) > 0);
        }
    EXPECT_GT(inked, 40);
    // Only where the narrow cells join may the sampled wave land a pixel differently.
    EXPECT_LE(differing * 8, inked);
    // The wave has no gap: every pixel column along the span has ink.
    for (int x = 7; x < 37; ++x) {
        int column = 0;
        for (int y = 0; y < 30; ++y)
            column += wide.alphaAt(x, y) > 0;
        EXPECT_GT(column, 0) << "gap at x " << x;
    }
}

TEST(RunDecorations, StrikethroughsAreSolidDashedOrDouble)
{
    const platform::FontRef font = drawing_test::terminalFont(13);
    ASSERT_TRUE(font);
    auto strike = [&](int style) {
        Surface surface(24, 30);
        RunDecorationStyle decoration;
        decoration.strikethroughStyle = style;
        const Point cell{2, 10};
        drawRunAttributes(*surface.canvas, decoration, std::span(&cell, 1), 20, contextFor(font));
        return surface;
    };
    const Surface solid = strike(0x1);
    const std::vector<double> rows = bandCentres(solid, 10);
    ASSERT_EQ(rows.size(), 1u);
    const double thickness = decorationThickness(font->metrics().underlineThickness, 1);
    EXPECT_NEAR(30 - rows[0], 10 + (font->metrics().xHeight + thickness) * 0.5, 1.0)
        << "at half the x-height";

    // Dashed: 2-point dashes and gaps from the cell's left edge.
    const Surface dashed = strike(0x201);
    const int row = int(rows[0]);
    std::string pattern;
    for (int x = 2; x < 14; ++x)
        pattern += dashed.alphaAt(x, row) > 128 ? '#' : '.';
    EXPECT_EQ(pattern, "##..##..##..");

    EXPECT_EQ(bandCentres(strike(0x9), 10).size(), 2u) << "single and double bits: two lines";
    EXPECT_EQ(bandCentres(strike(0x0), 10).size(), 0u);
}

TEST(RunDecorations, GoldenSheet)
{
    // Each underline style, then strikethroughs, under text at scale 2: one style per line, in
    // cells of the terminal font's advance, with a wide character in the curly line.
    const platform::FontRef font = drawing_test::terminalFont(13);
    ASSERT_TRUE(font);
    const platform::FontRef cjk = platform::Font::named("Noto Sans CJK JP", 13);
    const double cellWidth = font->advance(*font->glyph(U'M'));
    const double cellHeight = 17, scale = 2;
    struct Line
    {
        std::u32string text;
        RunDecorationStyle style;
    };
    std::vector<Line> lines;
    for (UnderlineStyle style : {UnderlineStyle::single, UnderlineStyle::double_, UnderlineStyle::curly,
                                 UnderlineStyle::dotted, UnderlineStyle::dashed})
        lines.push_back(Line{U"Underline gyp", underline(style)});
    lines[2].text = U"Curly 中文 wave";
    lines[4].style.underlineColor = NativeColor::sRGB(0.8, 0.2, 0.2);
    for (int strike : {0x1, 0x201, 0x9}) {
        RunDecorationStyle style;
        style.strikethroughStyle = strike;
        lines.push_back(Line{U"Struck out xz", style});
    }
    Surface surface(int(16 * cellWidth * scale), int(double(lines.size()) * cellHeight * scale), scale);
    surface.fillWhite();
    surface.canvas->setFillColor(ink);
    for (size_t row = 0; row < lines.size(); ++row) {
        const double baseline = (double(lines.size()) - 1 - double(row)) * cellHeight + 4;
        // Decorations take one point per cell and the width of a cell of the run, so narrow and
        // wide characters are decorated as two runs, as the row drawing's segments are.
        std::vector<Point> narrowCells, wideCells;
        double x = cellWidth * 0.5;
        for (char32_t c : lines[row].text) {
            const bool wide = c >= 0x3000;
            const platform::FontRef& drawing = wide && cjk ? cjk : font;
            const Point origin{x, baseline};
            if (std::optional<platform::GlyphId> glyph = drawing->glyph(c))
                surface.canvas->drawGlyphs(*drawing, std::span(&*glyph, 1), std::span(&origin, 1));
            (wide ? wideCells : narrowCells).push_back(origin);
            x += wide ? 2 * cellWidth : cellWidth;
        }
        drawRunAttributes(*surface.canvas, lines[row].style, narrowCells, cellWidth, contextFor(font));
        drawRunAttributes(*surface.canvas, lines[row].style, wideCells, 2 * cellWidth, contextFor(font));
    }
    drawing_test::expectMatchesGolden(surface.bitmap, "run-decorations");
}
