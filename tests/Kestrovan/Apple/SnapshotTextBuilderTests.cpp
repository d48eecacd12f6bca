#include "Kestrovan/Apple/FrameTestSupport.h"
#include "Kestrovan/Apple/SnapshotTextBuilder.h"
#include "Kestrovan/RecordingTerminalDelegate.h"
#include "Kestrovan/TerminalTestAccess.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrovan {
namespace {

using platform::NativeColor;

/// A terminal, its snapshot and a builder, with the frame's view state to adjust.
struct BuilderFixture
{
    testing::TerminalFixture terminal;
    TerminalSnapshot snapshot;
    SnapshotTextBuilder builder;
    FrameViewState state;

    explicit BuilderFixture(int cols = 10, int rows = 3)
        : terminal(cols, rows), state(testing::viewState(cols, rows))
    {}

    void feed(std::string_view bytes) { terminal.t().feed(bytes); }
    const SnapshotRenderContext& context(const SnapshotSelectionState& selection = {})
    {
        testing::refresh(snapshot, terminal.t(), state, selection);
        return *snapshot.renderContext;
    }
    ViewLineInfo row(int index = 0, const SnapshotSelectionState& selection = {})
    {
        const SnapshotRenderContext& frame = context(selection);
        return builder.buildAttributedString(*snapshot.rows[size_t(index)], snapshot.firstRow + index, frame);
    }
    std::optional<PlainRow> plain(int index = 0, const SnapshotSelectionState& selection = {})
    {
        const SnapshotRenderContext& frame = context(selection);
        return builder.plainRow(*snapshot.rows[size_t(index)], snapshot.firstRow + index, frame);
    }
    NativeColor palette(int index) const { return (*snapshot.renderContext->ansiColors)[size_t(index)]; }
};

/// The attributes and text of the cell drawn at visual column `column`.
struct DrawnCell
{
    SnapshotTextAttributes attributes;
    std::u16string text;
};

DrawnCell cellAt(const ViewLineInfo& info, int column)
{
    for (const ViewLineSegment& segment : info.segments) {
        const int cells = segment.utf16ToCellOrdinal.empty() ? 0 : segment.utf16ToCellOrdinal.back() + 1;
        if (column < segment.column || column >= segment.column + cells * segment.columnWidth)
            continue;
        const int ordinal = (column - segment.column) / segment.columnWidth;
        DrawnCell drawn;
        size_t runStart = 0;
        for (const auto& run : segment.attributedString.runs()) {
            for (size_t unit = runStart; unit < runStart + run.length; ++unit) {
                if (segment.utf16ToCellOrdinal[unit] == ordinal) {
                    drawn.attributes = *run.attributes;
                    drawn.text.push_back(segment.attributedString.text()[unit]);
                }
            }
            runStart += run.length;
        }
        return drawn;
    }
    ADD_FAILURE() << "no segment draws column " << column;
    return {};
}

const NativeColor clear = NativeColor::sRGB(0, 0, 0, 0);

TEST(SnapshotTextBuilderTests, SegmentsHoldCellsOfOneWidthAndMapTextBackToCells)
{
    BuilderFixture f(8, 2);
    f.feed("ab\xe4\xb8\xad"
           "cd");
    const ViewLineInfo info = f.row();
    ASSERT_EQ(info.segments.size(), 3u);
    const int widths[] = {1, 2, 1};
    const int columns[] = {0, 2, 4};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(info.segments[i].columnWidth, widths[i]) << "segment " << i;
        EXPECT_EQ(info.segments[i].column, columns[i]) << "segment " << i;
    }
    EXPECT_EQ(info.segments[0].attributedString.text(), u"ab");
    EXPECT_EQ(info.segments[1].attributedString.text(), u"\u4e2d");
    EXPECT_EQ(info.segments[2].attributedString.text(), u"cd  ") << "the blank tail joins the last run";
    EXPECT_EQ(info.segments[0].utf16ToCellOrdinal, (std::vector<int>{0, 1}));
    EXPECT_EQ(info.segments[0].cellOrdinals(1, 1), (std::pair<int, int>{1, 2}));
    EXPECT_EQ(info.segments[0].cellOrdinals(5, 1), (std::pair<int, int>{1, 2}))
        << "past the end: the last cell";

    // A surrogate pair and a text-presentation selector map to the cell they draw.
    BuilderFixture emoji(6, 1);
    emoji.feed("\xf0\x9f\x98\x80\xe2\x9d\xa4x");
    const ViewLineInfo emojiRow = emoji.row();
    ASSERT_EQ(emojiRow.segments.size(), 2u);
    EXPECT_EQ(emojiRow.segments[0].utf16ToCellOrdinal, (std::vector<int>{0, 0}));
    EXPECT_EQ(emojiRow.segments[1].attributedString.text().substr(0, 3), u"\u2764\uFE0Ex");
    EXPECT_EQ(emojiRow.segments[1].cellOrdinals(0, 2), (std::pair<int, int>{0, 1}));
    EXPECT_EQ(emojiRow.segments[1].cellOrdinals(2, 1), (std::pair<int, int>{1, 2}));

    // A row of default blanks is one run of spaces with nothing of its own.
    const ViewLineInfo blank = f.row(1);
    ASSERT_EQ(blank.segments.size(), 1u);
    ASSERT_EQ(blank.segments[0].attributedString.runs().size(), 1u);
    EXPECT_EQ(blank.segments[0].attributedString.text(), u"        ");
    const SnapshotTextAttributes& plain = *blank.segments[0].attributedString.runs()[0].attributes;
    EXPECT_FALSE(plain.explicitBackground);
    EXPECT_FALSE(plain.underlineColor);
    EXPECT_EQ(plain.foregroundColor, testing::native(testing::foregroundGrey));
    EXPECT_EQ(plain.font, testing::terminalFonts().normal());
}

TEST(SnapshotTextBuilderTests, ColoursFollowInverseBoldBrighteningAndCollapse)
{
    BuilderFixture f(12, 1);
    // Inverse with default colours; bold 3 and bold 7; plain 9 and 200.
    f.feed("\x1b[7mI\x1b[0m\x1b[1;33mY\x1b[37mW\x1b[0m\x1b[91mR\x1b[38;5;200mP");
    ViewLineInfo info = f.row();
    const DrawnCell inverse = cellAt(info, 0);
    EXPECT_EQ(inverse.attributes.foregroundColor, testing::native(testing::backgroundBlack));
    EXPECT_EQ(inverse.attributes.backgroundColor, testing::native(testing::foregroundGrey));
    EXPECT_TRUE(inverse.attributes.explicitBackground);
    EXPECT_EQ(cellAt(info, 1).attributes.foregroundColor, f.palette(11)) << "bold 3 brightens to 11";
    EXPECT_EQ(cellAt(info, 1).attributes.font, testing::terminalFonts().bold());
    EXPECT_EQ(cellAt(info, 2).attributes.foregroundColor, f.palette(7)) << "bold 7 stays 7";
    EXPECT_EQ(cellAt(info, 3).attributes.foregroundColor, f.palette(9))
        << "bright colours stay without collapse";

    // Collapse: only the bright colours 8-15 fall onto their base and take the bold font.
    f.state.useBrightColors = false;
    f.state.collapseBrightColorsToBase = true;
    info = f.row();
    EXPECT_EQ(cellAt(info, 3).attributes.foregroundColor, f.palette(1));
    EXPECT_EQ(cellAt(info, 3).attributes.font, testing::terminalFonts().bold());
    // Regression: 200 (a pink) was lowered by 8 to 192 (a green) and drawn bold.
    EXPECT_EQ(cellAt(info, 4).attributes.foregroundColor, f.palette(200));
    EXPECT_EQ(cellAt(info, 4).attributes.font, testing::terminalFonts().normal());
    EXPECT_EQ(mapColor(Attribute::Color::ansi256(15), true, false, *f.snapshot.renderContext), f.palette(7));
    EXPECT_EQ(mapColor(Attribute::Color::ansi256(16), true, false, *f.snapshot.renderContext), f.palette(16));
}

TEST(SnapshotTextBuilderTests, ConcealedAndBlinkHiddenTextKeepsOnlyItsBackground)
{
    BuilderFixture f(12, 1);
    // Regression: concealed text (a password echo) was drawn like any other.
    f.feed("\x1b[8;4;9;41mpw\xe2\x94\x80\x1b[0m\x1b[5;4;42mbl\x1b[0mok");
    for (const bool blinkVisible : {true, false}) {
        f.state.textBlinkVisible = blinkVisible;
        const ViewLineInfo info = f.row();
        for (const int column : {0, 1, 2}) {
            const DrawnCell cell = cellAt(info, column);
            EXPECT_EQ(cell.text, u" ") << "concealed column " << column;
            EXPECT_EQ(cell.attributes.foregroundColor, clear);
            EXPECT_EQ(cell.attributes.backgroundColor, f.palette(1));
            EXPECT_FALSE(cell.attributes.underlineColor);
            EXPECT_FALSE(cell.attributes.kestrovanUnderlineStyle);
            EXPECT_FALSE(cell.attributes.strikethroughColor);
        }
        EXPECT_TRUE(info.boxDrawings.empty()) << "a concealed box-drawing cell is no item";
        const DrawnCell blink = cellAt(info, 3);
        EXPECT_EQ(blink.text, blinkVisible ? u"b" : u" ");
        EXPECT_EQ(blink.attributes.foregroundColor == clear, !blinkVisible);
        EXPECT_EQ(blink.attributes.underlineColor.has_value(), blinkVisible);
        EXPECT_EQ(blink.attributes.backgroundColor, f.palette(2));
        EXPECT_EQ(cellAt(info, 5).text, u"o");
    }

    // The plain path hides the same cells: a space, a clear foreground, no decorations.
    BuilderFixture p(8, 1);
    p.feed("\x1b[8;4;41mpw\x1b[0m\x1b[5mbl\x1b[0mok");
    for (const bool blinkVisible : {true, false}) {
        p.state.textBlinkVisible = blinkVisible;
        const std::optional<PlainRow> plain = p.plain();
        ASSERT_TRUE(plain);
        EXPECT_EQ(std::string(plain->bytes.begin(), plain->bytes.begin() + 6),
                  blinkVisible ? "  blok" : "    ok");
        const PlainRunStyle& concealed = plain->runs[0].style;
        EXPECT_EQ(plain->runs[0].end, 2) << "the concealed run ends with the concealed cells";
        EXPECT_EQ(concealed.foreground, PlainColor::native(clear));
        EXPECT_FALSE(concealed.underline);
        EXPECT_TRUE(concealed.explicitBackground);
        EXPECT_EQ(p.builder.platformColor(concealed.background, *p.snapshot.renderContext), p.palette(1));
    }
}

TEST(SnapshotTextBuilderTests, SelectionLinksAndTextPresentation)
{
    BuilderFixture f(12, 2);
    f.state.appearance.linkColor = FrameColor{0, 0, 1, 1};
    f.state.appearance.linkUnderlineColor = FrameColor{1, 0, 1, 1};
    f.state.linkHighlightRange = std::vector<LinkMatch::RowRange>{{0, {0, 2}}};
    f.feed("\x1b[4;2mlnk\x1b[0m\x1b[4;9msel\x1b[0m\xe2\x9d\xa4");
    SnapshotSelectionState selection;
    selection.active = true;
    selection.start = Position(3, 0);
    selection.end = Position(6, 0);
    const ViewLineInfo info = f.row(0, selection);

    const DrawnCell link = cellAt(info, 0);
    EXPECT_EQ(link.attributes.underlineStyle, UnderlineStyleNumber::single);
    EXPECT_EQ(link.attributes.kestrovanUnderlineStyle, UnderlineStyle::dashed);
    EXPECT_EQ(link.attributes.underlineColor, testing::native(*f.state.appearance.linkUnderlineColor));
    EXPECT_EQ(link.attributes.foregroundColor, testing::native(*f.state.appearance.linkColor))
        << "a dim link: the link colour";
    EXPECT_EQ(cellAt(info, 2).attributes.kestrovanUnderlineStyle, UnderlineStyle::single) << "past the link";

    const DrawnCell selected = cellAt(info, 4);
    EXPECT_EQ(selected.attributes.selectionBackgroundColor, testing::native(testing::selectionBlue));
    EXPECT_EQ(selected.attributes.foregroundColor, testing::native(testing::selectedTextWhite));
    EXPECT_EQ(selected.attributes.underlineColor, testing::native(testing::selectedTextWhite));
    EXPECT_EQ(selected.attributes.strikethroughColor, testing::native(testing::selectedTextWhite));
    EXPECT_FALSE(cellAt(info, 6).attributes.selectionBackgroundColor) << "the end column is open";

    EXPECT_EQ(cellAt(info, 6).text, u"\u2764\uFE0E") << "an emoji that prefers text gets U+FE0E";

    // The plain path underlines the link but leaves its text in its own colour.
    const std::optional<PlainRow> plain = f.plain(0, selection);
    ASSERT_FALSE(plain) << "U+2764 is not ASCII";
    EXPECT_EQ(f.builder.cacheSizes().attributes, 4u) << "one entry per key and link state";
}

TEST(SnapshotTextBuilderTests, CustomDrawnCellsAndShapeColours)
{
    BuilderFixture f(8, 1);
    f.feed("\x1b[31m\xe2\x94\x80\xe2\x96\x88\xee\x82\xb0\xe2\x96\x91x");
    ViewLineInfo info = f.row();
    ASSERT_EQ(info.boxDrawings.size(), 1u);
    ASSERT_EQ(info.blockElements.size(), 2u);
    ASSERT_EQ(info.powerlineGlyphs.size(), 1u);
    EXPECT_EQ(info.boxDrawings[0].column, 0);
    EXPECT_EQ(info.blockElements[1].codePoint, 0x2591u);
    EXPECT_EQ(blockAlphaValue(info.blockElements[1].rects[0].alpha), 0.25);
    EXPECT_EQ(info.powerlineGlyphs[0].foregroundColor, f.palette(1));
    EXPECT_EQ(cellAt(info, 0).text, u" ") << "an item leaves a space in the text";

    // Kitty placeholder cells (image 42 in the foreground colour, row and column diacritics)
    // become placeholders, concealed or not: they stand for pieces of an image.
    BuilderFixture kitty(6, 1);
    kitty.feed("\x1b[38;5;42m\xf4\x8e\xbb\xae\xcc\x85\xcc\x85\x1b[8m\xf4\x8e\xbb\xae");
    const ViewLineInfo pieces = kitty.row();
    ASSERT_EQ(pieces.kittyPlaceholders.size(), 2u);
    EXPECT_EQ(pieces.kittyPlaceholders[0].imageId, 42u);
    EXPECT_EQ(pieces.kittyPlaceholders[1].placeholderCol, 1) << "the second cell continues the first";

    // Without custom glyphs and with a contrast floor, shapes keep their hue while text adjusts.
    f.state.customBlockGlyphs = false;
    f.state.minimumContrastRatio = 7;
    info = f.row();
    EXPECT_TRUE(info.boxDrawings.empty());
    EXPECT_EQ(cellAt(info, 0).attributes.foregroundColor, f.palette(1));
    EXPECT_NE(cellAt(info, 4).attributes.foregroundColor, f.palette(1)) << "text reaches the contrast floor";
}

TEST(SnapshotTextBuilderTests, CachesAreEmptiedWhenTheirSettingsChange)
{
    BuilderFixture f(6, 1);
    f.feed("\x1b[2;38;2;10;20;30mab\x1b[0m");
    ASSERT_TRUE(f.plain());
    EXPECT_EQ(f.builder.cacheSizes().dimmed, 1u);
    EXPECT_EQ(f.builder.cacheSizes().contrasted, 0u) << "a ratio of 1 needs no adjustment";
    f.state.minimumContrastRatio = 3;
    ASSERT_TRUE(f.plain());
    const size_t contrasted = f.builder.cacheSizes().contrasted;
    EXPECT_GE(contrasted, 1u);
    f.state.minimumContrastRatio = 4.5;
    f.builder.prepareAttributeCache(f.context());
    EXPECT_EQ(f.builder.cacheSizes().dimmed, 0u) << "a new context identity empties the dim cache";
    PlainColor adjusted = f.builder.contrastedColor(PlainColor::packed(0x101010), PlainColor::packed(0),
                                                    *f.snapshot.renderContext);
    EXPECT_EQ(f.builder.cacheSizes().contrasted, 1u) << "a new ratio empties the contrast cache";
    EXPECT_EQ(adjusted.kind, PlainColor::Kind::color);
    EXPECT_EQ(f.builder.contrastedColor(PlainColor::packed(0xFFFFFF), PlainColor::packed(0),
                                        *f.snapshot.renderContext),
              PlainColor::packed(0xFFFFFF))
        << "a colour that reaches the ratio stays packed";

    // After the context identity changes, the same attribute is built with the new colours.
    f.feed("\r\x1b[0;31mx");
    const NativeColor before = cellAt(f.row(), 0).attributes.foregroundColor;
    f.terminal.t().feed(std::string_view("\x1b]4;1;rgb:00/ff/00\x1b\\"));
    const NativeColor after = cellAt(f.row(), 0).attributes.foregroundColor;
    EXPECT_NE(before, after);
    EXPECT_EQ(after, NativeColor::sRGB(0, 1, 0, 1));
}

TEST(SnapshotTextBuilderTests, ThePlainPathRefusesRowsItCannotDraw)
{
    const char* refused[] = {"a\xe4\xb8\xad", "e\xcc\x81", "\xc3\xa9", "a"};
    for (const char* text : refused) {
        BuilderFixture f(6, 1);
        f.feed(text);
        // DEL never reaches a cell through the parser; it is written directly, through the
        // test-only hook.
        if (std::string_view(text) == "a")
            TerminalTestAccess::buffer(f.terminal.t()).lines()[0]->set(1, CharData(Attribute(), 0x7F, 1));
        EXPECT_FALSE(f.plain()) << text;
    }
    BuilderFixture bidi(6, 1);
    // BDSM reset, no autodetection, SCP right to left and no mirroring at the line's start, then
    // the text.
    bidi.feed("\x1b[8l\x1b[?2501l\x1b[2 k\x1b[?2500lab");
    ASSERT_EQ(bidi.terminal.buffer().lines().lineOrEmpty(0).bidiState(),
              (BidiPresentationState{BidiSupportMode::explicit_, false, BidiDirection::rightToLeft, false}));
    testing::refresh(bidi.snapshot, bidi.terminal.t(), bidi.state);
    ASSERT_TRUE(bidi.snapshot.rows[0]->bidiLayout);
    EXPECT_FALSE(bidi.builder.plainRow(*bidi.snapshot.rows[0], 0, *bidi.snapshot.renderContext));

    BuilderFixture blank(5, 1);
    const std::optional<PlainRow> row = blank.plain();
    ASSERT_TRUE(row);
    EXPECT_EQ(row->bytes, std::vector<uint8_t>(5, 0x20));
    ASSERT_EQ(row->runs.size(), 1u);
    EXPECT_EQ(row->runs[0].end, 5);
}

} // namespace
} // namespace kestrovan
