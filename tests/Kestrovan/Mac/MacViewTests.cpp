// The window-system half's view: window-size reports and pseudo-terminal sizes that cannot be
// stated, the GPU fallback, shutdown, the visual bell, the progress bar and the caret's blink.

#include "Kestrovan/Mac/LocalProcessTerminalView.h"
#include "Kestrovan/Mac/MacTerminalView.h"
#include "Kestrovan/Mac/MacViewTestSupport.h"
#include "Kestrovan/Mac/TerminalDebugView.h"
#include "Platform/Log/Log.h"

#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace kestrovan::testing {
namespace {

using namespace std::chrono_literals;

TEST(MacViewTests, WindowSizesSaturateToSixteenBits)
{
    struct Case
    {
        int cols, rows;
        double width, height, scale;
        unsigned short wsCol, wsRow, xpixel, ypixel;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {80, 24, 7, 14, 1, 80, 24, 560, 336},
        {80, 24, 7.5, 14.5, 2, 80, 24, 1200, 696},
        {80, 24, 0, 0, 1, 80, 24, 0, 0},
        {100000, 70000, 1, 1, 1, 65535, 65535, 65535, 65535},
        {80, 24, 1e9, 1e9, 4, 80, 24, 65535, 65535},
        {80, 24, inf, nan, 1, 80, 24, 0, 0},
        {80, 24, 7, 14, -1, 80, 24, 0, 0},
        {-5, -5, 7, 14, 1, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const winsize size = windowSizeFor(c.cols, c.rows, c.width, c.height, c.scale);
        EXPECT_EQ(size.ws_col, c.wsCol) << c.cols << "x" << c.rows << " " << c.width;
        EXPECT_EQ(size.ws_row, c.wsRow);
        EXPECT_EQ(size.ws_xpixel, c.xpixel) << c.width << " at " << c.scale;
        EXPECT_EQ(size.ws_ypixel, c.ypixel) << c.height << " at " << c.scale;
    }
}

TEST(MacViewTests, PixelSizeReportsThatOverflowGetNoReply)
{
    MacViewFixture f;
    const platform::Size cell = *f.view->cellDimension();
    const TerminalDimensions grid = f.view->terminalDimensions();
    EXPECT_EQ(f.reply("\x1b[16t"), "\x1b[6;" + std::to_string(int(std::round(cell.height))) + ";" +
                                       std::to_string(int(std::round(cell.width))) + "t");
    EXPECT_EQ(f.reply("\x1b[14t"), "\x1b[4;" + std::to_string(int(std::round(cell.height)) * grid.rows) +
                                       ";" + std::to_string(int(std::round(cell.width)) * grid.cols) + "t");
    // A scale so large that the cell's pixels do not fit: no reply, and the program goes on.
    f.host->setScale(1e12);
    f.settle();
    EXPECT_EQ(f.reply("\x1b[14t"), "");
    EXPECT_EQ(f.reply("\x1b[16t"), "");
    f.host->setScale(1);
    f.settle();
    EXPECT_FALSE(f.reply("\x1b[16t").empty());
}

TEST(MacViewTests, GpuRendererFallsBackToTheCpuAndShutdownRunsOnce)
{
    // The binary's tests run with Mesa's software rasterizer forced (LIBGL_ALWAYS_SOFTWARE=1): the
    // only GL renderer would be llvmpipe, which is no GPU device. The log says why, once, as
    // information: a machine without a GPU is nothing to report as an error.
    std::vector<std::pair<platform::LogLevel, std::string>> log;
    platform::setLogSink(
        [&](const platform::LogRecord& record) { log.emplace_back(record.level, record.message); });
    MacViewFixture f;
    EXPECT_EQ(f.mac().setUseMetal(true), MetalError::deviceUnavailable);
    EXPECT_EQ(f.mac().setUseMetal(true), MetalError::deviceUnavailable);
    platform::setLogSink({});
    EXPECT_EQ(MetalError::deviceUnavailable.description(), "No GPU device is available.");
    ASSERT_EQ(log.size(), 1u) << "said once";
    EXPECT_EQ(log[0].first, platform::LogLevel::info);
    EXPECT_EQ(log[0].second,
              "Kestrovan: LIBGL_ALWAYS_SOFTWARE asks for a software GL renderer; drawing on the CPU");
    EXPECT_FALSE(f.mac().isUsingMetalRenderer());
    EXPECT_EQ(f.mac().setUseMetal(false), std::nullopt);
    // The CPU path still draws the text.
    f.feed("hello");
    f.tickUntilPaused();
    EXPECT_TRUE(f.host->drawIfNeeded());
    EXPECT_GT(f.mac().frameDrawer().counters().rowsDrawn, 0u);

    EXPECT_TRUE(f.mac().updateUiClosed());
    EXPECT_EQ(f.mac().uiShutdownState(), MacTerminalView::UIShutdownState::stopped);
    EXPECT_TRUE(f.mac().updateUiClosed());
    f.host->setWindow(false);
    f.host->setWindow(true);
    f.settle();
    EXPECT_EQ(f.mac().uiShutdownState(), MacTerminalView::UIShutdownState::stopped);
}

TEST(MacViewTests, FramesAreOpaqueInTheViewBackgroundBeyondTheGridToo)
{
    // A size that leaves strips beyond the last whole row and column.
    ViewFixture f(TerminalOptions::defaults(), {645, 485},
                  [](platform::Size size, TerminalView::Configuration c) {
                      return MacTerminalView::create(size, std::move(c));
                  });
    f.feed("hi\x1b[42m  \x1b[m");
    f.tickUntilPaused();
    f.host->setNeedsDisplay();
    ASSERT_TRUE(f.host->drawIfNeeded());
    const platform::Bitmap& bitmap = *f.host->bitmap();
    const platform::NativeColor background = f.view->backingLayerColor();
    const auto expected = uint8_t(std::lround(background.red * 255));
    int clear = 0, other = 0;
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x) {
            const platform::PremultipliedPixel pixel = bitmap.pixel(x, y);
            clear += pixel.alpha != 255;
            other += pixel.red != expected;
        }
    EXPECT_EQ(clear, 0) << "nothing for the window's own background to show through";
    EXPECT_GT(other, 0) << "the text and the green cells";
    EXPECT_EQ(bitmap.pixel(2, 1).red, expected) << "the strip below the grid";
    EXPECT_EQ(bitmap.pixel(bitmap.width() - 2, bitmap.height() / 2).red, expected) << "the strip beside it";
}

TEST(MacViewTests, VisualBellFlashesOnceForTwoBellsAndFades)
{
    MacViewFixture f;
    f.view->setBellStyle(BellStyle::visual);
    f.feed("\a");
    f.timers->advance(50ms);
    f.feed("\a");
    EXPECT_EQ(f.view->visualBellFlashes(), 1u);
    EXPECT_TRUE(f.mac().visualBellFlashing());
    // The flash darkens the frame towards the foreground colour, then leaves it as it was.
    const platform::Bitmap* bitmap = f.host->bitmap();
    f.host->drawIfNeeded();
    f.timers->advance(60ms);
    f.host->drawIfNeeded();
    bitmap = f.host->bitmap();
    ASSERT_TRUE(bitmap);
    const platform::PremultipliedPixel flashed = bitmap->pixel(bitmap->width() - 2, bitmap->height() / 2);
    for (int step = 0; step < 20; ++step) {
        f.timers->advance(20ms);
        f.host->drawIfNeeded();
    }
    EXPECT_FALSE(f.mac().visualBellFlashing());
    const platform::PremultipliedPixel after =
        f.host->bitmap()->pixel(bitmap->width() - 2, bitmap->height() / 2);
    EXPECT_NE(flashed, after);
}

TEST(MacViewTests, TheOverlayScrollerShowsOnScrollingAndFadesAfterTheLastScroll)
{
    MacViewFixture f;
    ASSERT_FALSE(f.host->scrollers.empty());
    platform::RecordingScroller& bar = *f.host->scrollers.back();
    EXPECT_TRUE(bar.isHidden()) << "nothing scrolled yet";
    EXPECT_EQ(bar.frame(), (platform::Rect{640 - bar.preferredWidth(), 0, bar.preferredWidth(), 480}))
        << "along the right edge";
    f.view->scrollUp(1);
    EXPECT_TRUE(bar.isHidden()) << "nothing to scroll: stays hidden";

    for (int line = 0; line < 100; ++line)
        f.feed("line\r\n");
    f.tickUntilPaused();
    ASSERT_TRUE(bar.state().isEnabled);
    f.view->scrollUp(5);
    EXPECT_FALSE(bar.isHidden());
    EXPECT_EQ(bar.opacity(), 1);
    // A second scroll a second later keeps it 1.5 s from then; the fade takes a quarter second.
    f.timers->advance(1s);
    f.view->scrollUp(5);
    f.timers->advance(1400ms);
    EXPECT_EQ(bar.opacity(), 1);
    f.timers->advance(200ms);
    EXPECT_GT(bar.opacity(), 0);
    EXPECT_LT(bar.opacity(), 1);
    EXPECT_FALSE(bar.isHidden()) << "fading";
    // A scroll during the fade shows it again, and the fade's later steps leave it alone.
    f.view->scrollDown(1);
    EXPECT_EQ(bar.opacity(), 1);
    f.timers->advance(1400ms);
    EXPECT_EQ(bar.opacity(), 1);
    f.timers->advance(400ms);
    EXPECT_TRUE(bar.isHidden());
    EXPECT_EQ(bar.opacity(), 0);

    // While the user presses it, no fade is scheduled; the release schedules it.
    bar.onTrackingChanged(true);
    f.timers->advance(5s);
    EXPECT_FALSE(bar.isHidden());
    bar.onTrackingChanged(false);
    f.timers->advance(1800ms);
    EXPECT_TRUE(bar.isHidden());

    // With less motion wished for, the scroller goes at once; with nothing to scroll, at once too.
    platform::Appearance still = f.view->appearance();
    still.reduceMotion = true;
    f.view->appearanceChanged(still);
    f.view->scrollUp(1);
    f.timers->advance(1500ms);
    EXPECT_TRUE(bar.isHidden());
    f.view->scrollUp(1);
    ASSERT_FALSE(bar.isHidden());
    f.feed("\x1b[?1049h");
    f.tickUntilPaused();
    EXPECT_FALSE(bar.state().isEnabled);
    EXPECT_TRUE(bar.isHidden()) << "the alternate screen has no scrollback";
}

TEST(MacViewTests, ProgressBarShowsAlongTheTopAndLeaves)
{
    MacViewFixture f;
    f.feed("\x1b]9;4;1;50\a");
    EXPECT_FALSE(f.view->progressBar().isHidden());
    f.host->drawIfNeeded();
    f.timers->advance(300ms);
    f.host->setNeedsDisplay();
    f.host->drawIfNeeded();
    const platform::Bitmap* bitmap = f.host->bitmap();
    ASSERT_TRUE(bitmap);
    // Pixel rows count from the bottom: the top edge is the last rows.
    const int top = bitmap->height() - 2;
    const platform::PremultipliedPixel bar = bitmap->pixel(2, top);
    const platform::PremultipliedPixel below = bitmap->pixel(2, top - 8);
    EXPECT_NE(bar, below) << "a bar along the top edge";
    f.feed("\x1b]9;4;0\a");
    EXPECT_TRUE(f.view->progressBar().isHidden());
    f.host->drawIfNeeded();
    EXPECT_EQ(f.host->bitmap()->pixel(2, top), below);
}

TEST(MacViewTests, ProgressBarComesToRestAtItsWidth)
{
    using namespace std::chrono_literals;
    // The bar eases from half to full width, the second report arriving at some point of the
    // redraw timer's period; the window draws soon after each request. However the frames fall
    // against the animation, the last one drawn shows the bar at its full width.
    for (const auto later : {5ms, 10ms, 15ms}) {
        SCOPED_TRACE(later.count());
        MacViewFixture f;
        f.feed("\x1b]9;4;1;50\a");
        f.timers->advance(later);
        f.feed("\x1b]9;4;1;100\a");
        for (auto elapsed = 0ms; elapsed < 500ms; elapsed += 5ms) {
            f.timers->advance(5ms);
            f.host->drawIfNeeded();
        }
        const platform::Bitmap* bitmap = f.host->bitmap();
        ASSERT_TRUE(bitmap);
        const int top = bitmap->height() - 2;
        EXPECT_NE(bitmap->pixel(0, top), bitmap->pixel(0, top - 8)) << "a bar along the top edge";
        EXPECT_EQ(bitmap->pixel(bitmap->width() - 1, top), bitmap->pixel(0, top)) << "up to the right edge";
    }
}

TEST(MacViewTests, CaretBlinksWhileFocusedAndStaysWhenNot)
{
    MacViewFixture f;
    f.view->setCursorStyle(CursorStyle::blinkBlock);
    f.settle();
    const auto caret = f.view->caretView()->presentation();
    ASSERT_TRUE(caret);
    f.timers->advance(700ms);
    EXPECT_TRUE(f.mac().caretBlinkHidden());
    EXPECT_EQ(caret->opacity(), 0);
    f.timers->advance(700ms);
    EXPECT_EQ(caret->opacity(), 1);
    f.timers->advance(700ms);
    EXPECT_EQ(caret->opacity(), 0);
    // Typing shows it at once.
    f.view->send(std::string_view("x"));
    f.timers->advance(700ms);
    EXPECT_EQ(caret->opacity(), 1);
    // Without focus the caret stays, drawn hollow.
    f.host->setFocus(false);
    f.settle();
    EXPECT_EQ(caret->opacity(), 1);
    f.timers->advance(1400ms);
    EXPECT_EQ(caret->opacity(), 1);
    // A steady style never blinks.
    f.host->setFocus(true);
    f.view->setCursorStyle(CursorStyle::steadyBlock);
    f.settle();
    f.timers->advance(2100ms);
    EXPECT_EQ(caret->opacity(), 1);
}

TEST(MacViewTests, DebugViewShowsTheRingAndTheCursor)
{
    MacViewFixture f;
    auto debug = std::make_shared<TerminalDebugView>(f.view);
    EXPECT_EQ(debug->status(), "WAITING");
    f.mac().setDebugView(debug);
    f.feed("abc\r\nde");
    f.tickUntilPaused();
    ASSERT_TRUE(debug->latestSnapshot());
    EXPECT_EQ(debug->status().substr(0, 28), "x: 2 y: 1 yDisp: 0 yBase: 0 ");
    const auto& rows = debug->latestSnapshot()->rows;
    ASSERT_GT(rows.size(), 2u);
    EXPECT_EQ(TerminalDebugView::format(rows[0]).substr(0, 14), "[000:000]DBabc");
    EXPECT_EQ(rows[1].logicalText.substr(0, 2), "de");
    EXPECT_EQ(rows.back().physicalText, "<empty>");
    f.mac().setDebugView(nullptr);
    debug.reset();
}

} // namespace
} // namespace kestrovan::testing
