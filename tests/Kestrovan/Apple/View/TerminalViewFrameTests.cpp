// The frame tick: the mailbox hand-over to a render loop, the main-thread path and the order of a
// frame's effects, the caret's place and look, the CPU path's dirty rectangle, and blinking text
// driven by frames.
#include "TerminalViewTestSupport.h"

#include "Platform/Graphics/Bitmap.h"
#include "Platform/Graphics/Canvas.h"

#include <chrono>

namespace kestrovan {
namespace {

using namespace std::chrono_literals;
using testing::ViewFixture;

/// The snapshot's text of screen row `row`, as the last frame copied it.
std::string snapshotRow(ViewFixture& f, int row)
{
    const std::shared_ptr<TerminalSnapshot> snapshot = f.view->renderOwner().snapshot();
    if (!snapshot || row >= int(snapshot->rows.size()))
        return {};
    return snapshot->rows[size_t(row)]->line->translateToString(true);
}

TEST(TerminalViewFrameTests, ATickPreparesTheFrameAndItsEffectsComeInOrder)
{
    ViewFixture f;
    f.view->notifyUpdateChanges = true;
    f.tickUntilPaused();
    f.delegate->events.clear();
    f.host->redrawRects.clear();

    // A size queued by a live resize and output on row 2: the size is announced before the rows.
    const platform::Size cell = *f.view->cellDimension();
    f.view->queueSizeChange(platform::Size{cell.width * 30, cell.height * 12});
    f.view->feed(std::string_view("\r\n\r\nhello"));
    f.settle();
    f.link().tick();
    EXPECT_EQ(f.view->terminalDimensions(), TerminalDimensions(30, 12));
    ASSERT_GE(f.delegate->events.size(), 2u);
    EXPECT_EQ(f.delegate->events[0], "size 30x12");
    EXPECT_EQ(f.delegate->events[1].substr(0, 6), "range ");
    EXPECT_EQ(snapshotRow(f, 2), "hello");
    EXPECT_FALSE(f.host->redrawRects.empty()) << "the CPU path is asked to redraw the changed rows";
    // The scroller was recomputed by a frame after the resize.
    f.tickUntilPaused();
    EXPECT_EQ(f.host->scrollers.back()->state().isEnabled, false);

    // The mailbox's requests are taken once: a second frame carries no pending size.
    EXPECT_EQ(f.view->pendingFrameRequests().pendingSize, std::nullopt);
    EXPECT_FALSE(f.view->pendingFrameRequests().updateScroller);
}

TEST(TerminalViewFrameTests, WithARunningRenderLoopATickOnlyHandsOverTheViewState)
{
    ViewFixture f;
    int renders = 0;
    auto loop = std::make_shared<RenderLoop>([&renders] { ++renders; });
    f.view->setRenderLoop(loop);
    f.tickUntilPaused();

    f.view->queueSizeChange(platform::Size{100, 100});
    f.link().start();
    f.view->frameTick(); // not started: the main thread prepares the frame
    EXPECT_EQ(f.view->pendingFrameRequests().pendingSize, std::nullopt);

    loop->start();
    f.view->queueSizeChange(platform::Size{200, 200});
    f.view->frameTick();
    const TerminalRenderMailbox::State box = f.view->pendingFrameRequests();
    EXPECT_TRUE(box.pendingSize.has_value()) << "the render thread takes it";
    ASSERT_TRUE(box.latestViewState.has_value());
    EXPECT_EQ(box.latestViewState->cellDimension, *f.view->cellDimension());
    EXPECT_GE(loop->counters().signals, 1);
    loop->invalidate();
    f.view->setRenderLoop(nullptr);
}

TEST(TerminalViewFrameTests, SelectionChangesAreAnnouncedOnce)
{
    ViewFixture f;
    f.feed("text");
    f.tickUntilPaused();
    const uint64_t before = f.view->accessibilitySelectionChanges();
    f.view->selectAll();
    f.settle();
    f.tickUntilPaused();
    f.view->selectNone();
    f.settle();
    f.tickUntilPaused();
    EXPECT_EQ(f.view->accessibilitySelectionChanges(), before + 2);
    f.view->requestRedraw();
    f.settle();
    f.tickUntilPaused();
    EXPECT_EQ(f.view->accessibilitySelectionChanges(), before + 2) << "the same selection again: nothing";
}

TEST(TerminalViewFrameTests, TheCaretFollowsTheCursorAndDrawsInItsColour)
{
    ViewFixture f;
    const platform::Size cell = *f.view->cellDimension();
    const double height = f.host->size().height;
    f.feed("abc");
    f.tickUntilPaused();
    CaretView& caret = *f.view->caretView();
    EXPECT_TRUE(caret.isInSuperview());
    EXPECT_EQ(caret.frame(), (platform::Rect{cell.width * 3, height - cell.height, cell.width, cell.height}));

    // A double-width row draws the caret twice as wide, at twice the offset.
    f.feed("\x1b#6");
    f.tickUntilPaused();
    EXPECT_EQ(caret.frame(),
              (platform::Rect{cell.width * 6, height - cell.height, cell.width * 2, cell.height}));

    // A hidden cursor, or one off the rows, takes the caret away.
    f.feed("\x1b[?25l");
    f.tickUntilPaused();
    EXPECT_FALSE(caret.isInSuperview());
    f.feed("\x1b[?25h");
    f.tickUntilPaused();
    EXPECT_TRUE(caret.isInSuperview());
    SnapshotCursor last;
    last.screenRow = 5;
    f.view->updateCursorPosition(last, 5);
    EXPECT_FALSE(caret.isInSuperview());
    f.view->updateCursorPosition();
    EXPECT_TRUE(caret.isInSuperview()) << "the out-of-band refresh puts it back over the cursor";

    // The colour a program gives the caret reaches its drawing with the next frame.
    f.feed("\x1b]12;#ff0000\x07");
    f.tickUntilPaused();
    EXPECT_EQ(caret.drawState().renderCursorColor, platform::NativeColor::sRGB(1, 0, 0));
    platform::Bitmap bitmap =
        std::move(*platform::Bitmap::create(int(caret.frame().width), int(cell.height)));
    platform::Canvas canvas(bitmap, 1.0);
    caret.draw(platform::DrawRequest{
        &canvas, {0, 0, caret.frame().width, cell.height}, {caret.frame().width, cell.height}, 1});
    const platform::PremultipliedPixel edge = bitmap.pixel(0, bitmap.height() / 2);
    EXPECT_EQ(edge.alpha, 255) << "the unfocused caret's hollow box";
    EXPECT_EQ(edge.red, 255);
}

TEST(TerminalViewFrameTests, TheCaretShowsTheCharacterUnderItInItsFont)
{
    // The caret keeps its shaped character from frame to frame: a new character or font under it
    // must still show.
    ViewFixture f;
    struct Step
    {
        const char* what;
        const char* feed;
        char16_t character;
        bool bold;
    };
    const Step steps[] = {
        {"over the a", "ab\x1b[2D", u'a', false},
        {"over the next cell's character", "\x1b[C", u'b', false},
        {"over the same character again", "\x1b[C\x1b[D", u'b', false},
        {"over the same character in bold", "\x1b[1mb\x1b[D", u'b', true},
        {"over it plain again", "\x1b[0mb\x1b[D", u'b', false},
        {"over a blank", "\x1b[2C", u' ', false},
    };
    for (const Step& step : steps) {
        f.feed(step.feed);
        f.tickUntilPaused();
        const CaretDrawState& state = f.view->caretView()->drawState();
        ASSERT_TRUE(state.character) << step.what;
        const platform::ShapedLine& line = state.character->line;
        ASSERT_FALSE(line.runs().empty()) << step.what;
        const platform::FontRef font = line.runs().front().font;
        EXPECT_EQ(font != state.renderNormalFont, step.bold) << step.what;
        const std::u16string text(1, step.character);
        const platform::FontRun run{1, font};
        EXPECT_EQ(line.glyphs(), platform::ShapedLine::shape(text, std::span(&run, 1)).glyphs()) << step.what;
    }
}

TEST(TerminalViewFrameTests, LinkPreviewsGoWhenLinksAreSwitchedOffAndEmptyFramesDrawNothing)
{
    ViewFixture f;
    f.view->urlPreview = f.host->addLabel();
    f.locked([](Terminal& t) { t.setEnableOsc8Hyperlinks(false); });
    f.view->requestRedraw();
    f.settle();
    f.link().tick();
    EXPECT_EQ(f.view->urlPreview, nullptr);

    f.tickUntilPaused();
    f.host->redrawRects.clear();
    f.view->submitFrameDraw(PreparedFrame{});
    EXPECT_TRUE(f.host->redrawRects.empty());

    // A draw paints the background the view's colours give and counts itself.
    const int64_t renders = f.view->diagnostics().renders;
    int presented = 0;
    terminalFramePresentedHandler().replace([&presented] { ++presented; });
    f.host->setNeedsDisplay();
    EXPECT_TRUE(f.host->drawIfNeeded());
    terminalFramePresentedHandler().replace(nullptr);
    EXPECT_EQ(f.view->diagnostics().renders, renders + 1);
    EXPECT_EQ(presented, 1);
    const platform::PremultipliedPixel pixel = f.host->bitmap()->pixel(1, 1);
    EXPECT_EQ(std::make_tuple(pixel.red, pixel.green, pixel.blue, pixel.alpha), std::make_tuple(0, 0, 0, 255))
        << "black, the terminal's default background";
}

TEST(TerminalViewFrameTests, FramesStartAndStopTheBlinkTimer)
{
    ViewFixture f;
    f.feed("\x1b[5mblink\x1b[m");
    f.tickUntilPaused();
    EXPECT_TRUE(f.view->textBlinkTimerRunning()) << "the frame found blinking text";
    f.timers->advance(700ms);
    EXPECT_FALSE(f.view->textBlinkVisible());
    f.settle();
    EXPECT_TRUE(f.link().isRunning()) << "the phase change asked for a frame of the blinking row";
    f.tickUntilPaused();
    f.feed("\x1b[2J");
    f.tickUntilPaused();
    EXPECT_FALSE(f.view->textBlinkTimerRunning());
    EXPECT_TRUE(f.view->textBlinkVisible());
    EXPECT_EQ(f.timers->activeCount(), 0u) << "nothing wakes an idle view";
}

} // namespace
} // namespace kestrovan
