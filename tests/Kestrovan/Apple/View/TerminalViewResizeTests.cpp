// Set-up, the cell and the grid: cell measurement, the grid that fits a view size, the two resize
// paths (soft-resetting for fonts, plain for the frame) and the size queued for the next frame.
#include "TerminalViewTestSupport.h"

#include <cmath>

namespace kestrovan {
namespace {

using testing::ViewFixture;

TEST(TerminalViewResizeTests, TheCellIsMeasuredFromTheFontAtEachScaleAndLineSpacing)
{
    ViewFixture f;
    const platform::Font& font = *f.view->fontSet().normal;
    const platform::FontMetrics& metrics = font.metrics();
    const double advance = font.advance(*font.glyph(U'W'));
    for (const double scale : {1.0, 1.5, 2.0}) {
        for (const double spacing : {1.0, 1.25, 100000.0}) {
            f.host->setScale(scale);
            f.view->setLineSpacing(spacing);
            const double line = std::ceil((metrics.ascent + metrics.descent + metrics.leading) * spacing);
            const platform::Size cell = *f.view->cellDimension();
            EXPECT_DOUBLE_EQ(cell.width, std::max(1.0, std::round(advance * scale) / scale)) << scale;
            EXPECT_DOUBLE_EQ(cell.height, std::max(std::min(std::ceil(line * scale) / scale, 8192.0), 1.0))
                << scale << " " << spacing;
            EXPECT_EQ(f.view->cellDimensionBackingScale(), scale);
        }
    }
    // The cell in pixels reaches the terminal's pixel reports.
    f.view->setLineSpacing(1.0);
    const platform::Size cell = *f.view->cellDimension();
    const std::pair<int, int> pixels{int(std::round(cell.width * 2)), int(std::round(cell.height * 2))};
    EXPECT_EQ(f.view->crossThreadState().cachedCellPixelSize, pixels);
    f.feed("\x1b[16t");
    EXPECT_EQ(f.delegate->sentText(),
              "\x1b[6;" + std::to_string(pixels.second) + ";" + std::to_string(pixels.first) + "t");
}

TEST(TerminalViewResizeTests, AFrameSizeGivesItsGridAndTinyViewsStillGetTwoColumnsAndARow)
{
    ViewFixture f;
    const platform::Size cell = *f.view->cellDimension();
    const TerminalDimensions initial = f.view->terminalDimensions();
    EXPECT_EQ(initial.cols, int(640 / cell.width));
    EXPECT_EQ(initial.rows, int(480 / cell.height));

    struct Case
    {
        platform::Size size;
        int cols;
        int rows;
    };
    const std::vector<Case> cases = {
        {{cell.width * 30 + 0.5, cell.height * 10 + 0.5}, 30, 10},
        {{cell.width * 1.5, cell.height * 0.5}, 2, 1},
        {{1, 1}, 2, 1},
        {{0.25, 1000}, 2, int(1000 / cell.height)},
    };
    for (const Case& c : cases) {
        f.delegate->events.clear();
        f.host->resize(c.size);
        f.settle();
        EXPECT_EQ(f.view->terminalDimensions(), TerminalDimensions(c.cols, c.rows)) << c.size.width;
        EXPECT_EQ(f.view->gridFit(c.size), std::make_pair(c.cols, c.rows));
    }

    // The same grid again only refreshes the pixel geometry: no size change is reported.
    f.delegate->events.clear();
    EXPECT_FALSE(f.view->processSizeChange(f.host->size()));
    EXPECT_FALSE(f.view->processSizeChange(platform::Size{0, 0}));
    EXPECT_TRUE(f.delegate->events.empty());
    EXPECT_TRUE(f.view->processSizeChange(platform::Size{cell.width * 40, cell.height * 12}));
    EXPECT_EQ(f.delegate->events, std::vector<std::string>{"size 40x12"});
    EXPECT_TRUE(f.view->pendingFrameRequests().updateScroller);
}

TEST(TerminalViewResizeTests, AQueuedSizeKeepsOnlyTheLastOne)
{
    ViewFixture f;
    const platform::Size cell = *f.view->cellDimension();
    f.view->queueSizeChange(platform::Size{cell.width * 50, cell.height * 20});
    f.view->queueSizeChange(platform::Size{0, 0});
    f.view->queueSizeChange(platform::Size{cell.width * 60, cell.height * 30});
    EXPECT_EQ(f.view->pendingFrameRequests().pendingSize, (FrameTerminalSize{60, 30}));
    EXPECT_NE(f.view->terminalDimensions(), TerminalDimensions(60, 30)) << "applied by the next frame";
}

TEST(TerminalViewResizeTests, FontResizesSoftResetAndFrameResizesDoNot)
{
    ViewFixture f;
    // Application cursor keys and a scroll region, as a full-screen program leaves them.
    const auto programState = [&] {
        f.feed("\x1b[?1h\x1b[3;5r");
        return f.locked([](Terminal& terminal) {
            return std::make_tuple(terminal.mode(TerminalMode::applicationCursor),
                                   terminal.buffer().scrollTop(), terminal.buffer().scrollBottom());
        });
    };
    EXPECT_EQ(programState(), std::make_tuple(true, 2, 4));
    f.view->resize(30, 10);
    EXPECT_EQ(f.view->terminalDimensions(), TerminalDimensions(30, 10));
    EXPECT_EQ(f.locked([](Terminal& t) {
        return std::make_tuple(t.mode(TerminalMode::applicationCursor), t.buffer().scrollTop(),
                               t.buffer().scrollBottom());
    }),
              std::make_tuple(false, 0, 9))
        << "resize(cols:rows:) soft-resets";
    EXPECT_EQ(f.delegate->events.back(), "size 30x10");

    EXPECT_EQ(programState(), std::make_tuple(true, 2, 4));
    const platform::Size cell = *f.view->cellDimension();
    EXPECT_TRUE(f.view->processSizeChange(platform::Size{cell.width * 31, cell.height * 11}));
    EXPECT_TRUE(f.locked([](Terminal& t) { return t.mode(TerminalMode::applicationCursor); }))
        << "a window resize keeps modes";
}

TEST(TerminalViewResizeTests, ScaleChangesRemeasureOnlyWhenTheScaleChanged)
{
    ViewFixture f;
    EXPECT_FALSE(f.view->remeasureCellDimensionIfBackingScaleChanged());
    f.host->setScale(2);
    EXPECT_EQ(f.view->cellDimensionBackingScale(), 2);
    EXPECT_FALSE(f.view->remeasureCellDimensionIfBackingScaleChanged()) << "measured at this scale already";
    EXPECT_EQ(f.view->crossThreadState().cachedImageScale, 2.0);
    f.host->setWindow(false);
    EXPECT_EQ(f.view->crossThreadState().cachedImageScale, 1.0) << "no window: images at scale 1";
}

} // namespace
} // namespace kestrovan
