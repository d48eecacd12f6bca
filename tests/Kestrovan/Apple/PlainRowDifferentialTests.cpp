// The plain ASCII path against the attributed path: over seeded random rows of styled ASCII, with
// random frame settings, every column must get the same bytes, font, colours and decorations from
// both. The one intended difference, a link's text colour, is kept out by giving the frame no
// link colour.
#include "Kestrovan/Apple/FrameTestSupport.h"
#include "Kestrovan/Apple/SnapshotTextBuilder.h"
#include "Kestrovan/RecordingTerminalDelegate.h"

#include <gtest/gtest.h>
#include <random>
#include <string>

namespace kestrovan {
namespace {

std::string randomColor(std::mt19937& random, int base)
{
    switch (random() % 4) {
    case 0:
        return std::to_string(base + 9); // the default colour (39 or 49)
    case 1:
        return std::to_string(base + random() % 8);
    case 2:
        return std::to_string(base + 8) + ";5;" + std::to_string(random() % 256);
    default:
        return std::to_string(base + 8) + ";2;" + std::to_string(random() % 256) + ";" +
               std::to_string(random() % 256) + ";" + std::to_string(random() % 256);
    }
}

/// A row of ASCII in random runs of random SGR state.
std::string randomRow(std::mt19937& random, int cols)
{
    std::string out;
    for (int column = 0; column < cols;) {
        std::string sgr = "\x1b[0";
        for (const char* flag : {"1", "2", "3", "5", "7", "8", "9"}) {
            if (random() % 4 == 0)
                sgr += std::string(";") + flag;
        }
        if (random() % 3 == 0)
            sgr += ";4:" + std::to_string(random() % 6);
        if (random() % 4 == 0)
            sgr += random() % 2 ? ";58;5;" + std::to_string(random() % 256) : ";58;2;10;200;30";
        sgr += ";" + randomColor(random, 30) + ";" + randomColor(random, 40) + "m";
        out += sgr;
        const int length = 1 + int(random() % 6);
        for (int i = 0; i < length && column < cols; ++i, ++column)
            out.push_back(char(0x20 + random() % 95));
    }
    return out;
}

TEST(PlainRowDifferentialTests, ThePlainPathResolvesEveryColumnLikeTheAttributedPath)
{
    constexpr int cols = 40;
    constexpr int rows = 4;
    std::mt19937 random(20261207);
    for (int round = 0; round < 150; ++round) {
        testing::TerminalFixture terminal(cols, rows);
        for (int row = 0; row < rows; ++row)
            terminal.t().feed(std::string_view(randomRow(random, cols) + (row + 1 < rows ? "\r\n" : "")));
        FrameViewState state = testing::viewState(cols, rows);
        state.textBlinkVisible = random() % 2;
        state.useBrightColors = random() % 2;
        state.collapseBrightColorsToBase = random() % 2;
        state.minimumContrastRatio = std::array<double, 3>{1, 3, 7}[random() % 3];
        if (random() % 2)
            state.appearance.linkUnderlineColor = FrameColor{0.9, 0.1, 0.9, 1};
        if (random() % 3 == 0) {
            state.translucentCellBackgrounds = true;
            state.appearance.effectiveBackgroundColor.alpha = 0.8;
        }
        state.linkHighlightRange = std::vector<LinkMatch::RowRange>{
            {int64_t(random() % rows), {int(random() % cols), int(random() % cols)}}};
        SnapshotSelectionState selection;
        selection.active = random() % 2;
        selection.isBlock = random() % 2;
        selection.start = Position(int64_t(random() % cols), int64_t(random() % rows));
        selection.end = Position(int64_t(random() % cols), int64_t(random() % rows));

        TerminalSnapshot snapshot;
        testing::refresh(snapshot, terminal.t(), state, selection);
        const SnapshotRenderContext& context = *snapshot.renderContext;
        SnapshotTextBuilder builder;
        for (int row = 0; row < rows; ++row) {
            const TerminalSnapshotRow& snapshotRow = *snapshot.rows[size_t(row)];
            const std::optional<PlainRow> plain = builder.plainRow(snapshotRow, row, context);
            ASSERT_TRUE(plain) << "round " << round << " row " << row;
            const ViewLineInfo info = builder.buildAttributedString(snapshotRow, row, context);
            ASSERT_EQ(info.segments.size(), 1u);
            const ViewLineSegment& segment = info.segments[0];
            ASSERT_EQ(segment.attributedString.text().size(), size_t(cols));

            size_t runIndex = 0;
            size_t runEnd = segment.attributedString.runs()[0].length;
            for (int column = 0; column < cols; ++column) {
                while (size_t(column) >= runEnd) {
                    ++runIndex;
                    runEnd += segment.attributedString.runs()[runIndex].length;
                }
                const SnapshotTextAttributes& attributed =
                    *segment.attributedString.runs()[runIndex].attributes;
                const PlainRun& run =
                    *std::find_if(plain->runs.begin(), plain->runs.end(),
                                  [&](const PlainRun& r) { return r.start <= column && column < r.end; });
                const PlainRunStyle& style = run.style;
                const std::string where = "round " + std::to_string(round) + " row " + std::to_string(row) +
                                          " column " + std::to_string(column);
                EXPECT_EQ(char16_t(plain->bytes[size_t(column)]),
                          segment.attributedString.text()[size_t(column)])
                    << where;
                EXPECT_EQ(context.fonts.font(style.fontIndex), attributed.font) << where;
                EXPECT_EQ(builder.platformColor(style.foreground, context), attributed.foregroundColor)
                    << where;
                EXPECT_EQ(builder.platformColor(style.shapeColor, context), attributed.shapeColor) << where;
                EXPECT_EQ(builder.platformColor(style.background, context), attributed.backgroundColor)
                    << where;
                EXPECT_EQ(style.explicitBackground, attributed.explicitBackground) << where;
                EXPECT_EQ(style.selectionBackground, attributed.selectionBackgroundColor) << where;
                ASSERT_EQ(style.underline.has_value(), attributed.underlineColor.has_value()) << where;
                if (style.underline) {
                    EXPECT_EQ(builder.platformColor(style.underline->color, context),
                              *attributed.underlineColor)
                        << where;
                    EXPECT_EQ(style.underline->nsStyle, attributed.underlineStyle) << where;
                    EXPECT_EQ(style.underline->style, attributed.kestrovanUnderlineStyle) << where;
                }
                ASSERT_EQ(style.strikethrough.has_value(), attributed.strikethroughColor.has_value())
                    << where;
                if (style.strikethrough) {
                    EXPECT_EQ(builder.platformColor(*style.strikethrough, context),
                              *attributed.strikethroughColor)
                        << where;
                }
            }
            if (::testing::Test::HasFailure())
                return;
        }
    }
}

} // namespace
} // namespace kestrovan
