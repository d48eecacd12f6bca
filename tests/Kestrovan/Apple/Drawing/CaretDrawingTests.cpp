// The caret: each style with and without focus, the character redrawn inside a block in the
// caret's text colour (fitted to two columns when wide), Powerline characters as their shapes
// including the halves of double-height rows, and a golden row of every case.
#include "DrawingTestSupport.h"

#include "Kestrovan/Apple/CaretDrawing.h"

#include <gtest/gtest.h>
#include <string>

using namespace kestrovan;
using drawing_test::Surface;
using platform::NativeColor;
using platform::Rect;
using platform::Size;
using Mode = BufferLine::RenderLineMode;

namespace {

const NativeColor caretColour = NativeColor::sRGB(1, 0, 0);
const NativeColor textColour = NativeColor::sRGB(0, 0, 1);

struct Fixture
{
    platform::FontRef font = drawing_test::terminalFont(13);
    platform::FontSet fonts = platform::FontSet::fromNormal(font);
    Size cell{8, 17};
    GlyphSlotFitter view{fonts, cell};

    CaretDrawState state(std::u16string_view text, CursorStyle style, int columns = 1) const
    {
        CaretDrawState made;
        made.bounds = Rect{0, 0, cell.width * columns, cell.height};
        const platform::FontRun run{uint32_t(text.size()), font};
        made.character =
            CaretCharacter{platform::ShapedLine::shape(text, std::span(&run, 1)), {std::nullopt}};
        made.glyphColumnWidth = columns;
        made.renderCursorColor = caretColour;
        made.renderTextColor = textColour;
        made.style = style;
        return made;
    }
};

/// 'C' caret, 'T' text, '.' clear, '?' anything else, for the pixel at (x, y) from the top.
char kind(const Surface& surface, int x, int yFromTop)
{
    const platform::PremultipliedPixel p = surface.bitmap.pixel(x, surface.bitmap.height() - 1 - yFromTop);
    if (p.alpha == 0)
        return '.';
    if (p.alpha == 255 && p.red == 255 && p.blue == 0)
        return 'C';
    if (p.alpha == 255 && p.blue == 255 && p.red == 0)
        return 'T';
    return '?';
}

Surface draw(const Fixture& f, const CaretDrawState& state, bool focus)
{
    Surface surface(int(state.bounds.width * 2), int(state.bounds.height * 2), 2);
    drawCursor(*surface.canvas, state, f.view, focus);
    return surface;
}

} // namespace

TEST(CaretDrawing, WithoutFocusEveryStyleIsTheSameHollowBox)
{
    Fixture f;
    for (CursorStyle style : allCursorStyles) {
        const Surface caret = draw(f, f.state(u"A", style), false);
        // 1.5 points is 3 device pixels at scale 2, inside the 16 x 34 pixel bounds.
        std::string across, down;
        for (int x = 0; x < 16; ++x)
            across += kind(caret, x, 17);
        for (int y = 0; y < 34; ++y)
            down += kind(caret, 8, y);
        EXPECT_EQ(across, "CCC..........CCC") << tagName(style);
        EXPECT_EQ(down, "CCC" + std::string(28, '.') + "CCC") << tagName(style) << ": no character";
    }
}

TEST(CaretDrawing, UnderlineAndBarAreTwoPointBandsThatLeaveTheCharacter)
{
    Fixture f;
    for (CursorStyle style : {CursorStyle::blinkUnderline, CursorStyle::steadyUnderline}) {
        const Surface caret = draw(f, f.state(u"A", style), true);
        std::string down;
        for (int y = 0; y < 34; ++y)
            down += kind(caret, 8, y);
        EXPECT_EQ(down, std::string(30, '.') + "CCCC") << tagName(style);
    }
    for (CursorStyle style : {CursorStyle::blinkBar, CursorStyle::steadyBar}) {
        const Surface caret = draw(f, f.state(u"A", style), true);
        std::string across;
        for (int x = 0; x < 16; ++x)
            across += kind(caret, x, 17);
        EXPECT_EQ(across, "CCCC" + std::string(12, '.')) << tagName(style);
    }
    CaretDrawState empty = f.state(u"A", CursorStyle::steadyBlock);
    empty.character.reset();
    const Surface nothing = draw(f, empty, true);
    EXPECT_EQ(kind(nothing, 8, 17), '.') << "no character, no caret";
}

TEST(CaretDrawing, ABlockRedrawsTheCharacterInTheTextColourFittedToItsColumns)
{
    Fixture f;
    const Surface block = draw(f, f.state(u"H", CursorStyle::steadyBlock), true);
    int text = 0, caret = 0;
    for (int y = 0; y < 34; ++y)
        for (int x = 0; x < 16; ++x) {
            text += kind(block, x, y) == 'T';
            caret += kind(block, x, y) == 'C';
        }
    EXPECT_GT(text, 20) << "the H's strokes";
    EXPECT_GT(caret, 300);

    // A wide character under a two-column caret is centred across both columns.
    const Surface wide = draw(f, f.state(u"中", CursorStyle::steadyBlock, 2), true);
    int left = 32, right = -1;
    for (int y = 0; y < 34; ++y)
        for (int x = 0; x < 32; ++x)
            if (kind(wide, x, y) != 'C') {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    ASSERT_GE(right, 0) << "a fallback font drew the character";
    EXPECT_NEAR(left, 31 - right, 2) << "ink from " << left << " to " << right;
    EXPECT_GT(right - left, 16) << "wider than one column";
}

TEST(CaretDrawing, ABlockOverAPowerlineCharacterDrawsItsShape)
{
    Fixture f;
    auto powerline = [&](uint32_t codePoint, Mode mode = Mode::single, int columns = 1) {
        CaretDrawState state = f.state(u"\uE0B0", CursorStyle::blinkBlock, columns);
        state.powerlineCodePoint = codePoint;
        state.powerlineRenderMode = mode;
        return draw(f, state, true);
    };
    // The filled arrow: its base on the left, the tip at mid-height on the right.
    const Surface arrow = powerline(0xE0B0);
    EXPECT_EQ(kind(arrow, 1, 17), 'T');
    EXPECT_EQ(kind(arrow, 14, 1), 'C');
    EXPECT_EQ(kind(arrow, 14, 32), 'C');
    // The chevron is only its outline: the inside of the arrow keeps the caret colour.
    const Surface chevron = powerline(0xE0B1);
    EXPECT_EQ(kind(chevron, 3, 17), 'C');
    // The cut-out: the cell filled, the arrow of U+E0B2 (tip on the left) left in caret colour.
    const Surface cutOut = powerline(0xE0D6);
    EXPECT_EQ(kind(cutOut, 1, 1), 'T');
    EXPECT_EQ(kind(cutOut, 14, 17), 'C');

    // Double-height rows show one half of a shape two cells high (and two wide): the top half
    // has the arrow's upper edge falling to the tip at the bottom right, the bottom half rises.
    const Surface top = powerline(0xE0B0, Mode::doubledTop, 2);
    EXPECT_EQ(kind(top, 1, 8), 'T');
    EXPECT_EQ(kind(top, 30, 2), 'C');
    EXPECT_EQ(kind(top, 2, 32), 'T');
    const Surface bottom = powerline(0xE0B0, Mode::doubledDown, 2);
    EXPECT_EQ(kind(bottom, 2, 1), 'T');
    EXPECT_EQ(kind(bottom, 30, 32), 'C');

    // With custom glyphs off the character is a glyph of the font, not the shape.
    CaretDrawState asGlyph = f.state(u"\uE0B0", CursorStyle::blinkBlock);
    asGlyph.powerlineCodePoint = 0xE0B0;
    asGlyph.renderCustomBlockGlyphs = false;
    const Surface glyph = draw(f, asGlyph, true);
    int differing = 0;
    for (int y = 0; y < 34; ++y)
        for (int x = 0; x < 16; ++x)
            differing += kind(glyph, x, y) != kind(arrow, x, y);
    EXPECT_GT(differing, 0);
}

TEST(CaretDrawing, GoldenRowOfCarets)
{
    // Block, underline and bar with focus; block and bar without; blocks over U+E0B0, U+E0B1 and
    // U+E0D6; a block over a wide character; blocks over U+E0B0 on both halves of a doubled row.
    Fixture f;
    struct Case
    {
        std::u16string text;
        CursorStyle style;
        bool focus;
        std::optional<uint32_t> powerline;
        Mode mode;
        int columns;
    };
    const Case cases[] = {
        {u"A", CursorStyle::steadyBlock, true, {}, Mode::single, 1},
        {u"A", CursorStyle::steadyUnderline, true, {}, Mode::single, 1},
        {u"A", CursorStyle::steadyBar, true, {}, Mode::single, 1},
        {u"A", CursorStyle::steadyBlock, false, {}, Mode::single, 1},
        {u"A", CursorStyle::blinkBar, false, {}, Mode::single, 1},
        {u"g", CursorStyle::blinkBlock, true, {}, Mode::single, 1},
        {u"\uE0B0", CursorStyle::blinkBlock, true, 0xE0B0, Mode::single, 1},
        {u"\uE0B1", CursorStyle::blinkBlock, true, 0xE0B1, Mode::single, 1},
        {u"\uE0D6", CursorStyle::blinkBlock, true, 0xE0D6, Mode::single, 1},
        {u"中", CursorStyle::blinkBlock, true, {}, Mode::single, 2},
        {u"\uE0B0", CursorStyle::blinkBlock, true, 0xE0B0, Mode::doubledTop, 2},
        {u"\uE0B0", CursorStyle::blinkBlock, true, 0xE0B0, Mode::doubledDown, 2},
    };
    int columns = 0;
    for (const Case& c : cases)
        columns += c.columns + 1;
    Surface sheet(columns * 16, 34, 2);
    sheet.fillWhite();
    double x = 0;
    for (const Case& c : cases) {
        CaretDrawState state = f.state(c.text, c.style, c.columns);
        state.powerlineCodePoint = c.powerline;
        state.powerlineRenderMode = c.mode;
        state.renderCursorColor = NativeColor::sRGB(0.85, 0.3, 0.2);
        state.renderTextColor = NativeColor::sRGB(1, 1, 1);
        sheet.canvas->save();
        sheet.canvas->translate(x, 0);
        drawCursor(*sheet.canvas, state, f.view, c.focus);
        sheet.canvas->restore();
        x += (c.columns + 1) * f.cell.width;
    }
    drawing_test::expectMatchesGolden(sheet.bitmap, "caret");
}
