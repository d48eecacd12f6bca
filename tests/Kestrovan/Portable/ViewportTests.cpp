// The viewport API as a host drives it: scrolling clamped to the scrollback, feeding that keeps an
// untouched selection, and driving and reading the selection by screen cells.
#include "Kestrovan/Portable/Viewport.h"
#include "Kestrovan/RecordingTerminalDelegate.h"
#include "Kestrovan/SelectionService.h"

#include <gtest/gtest.h>
#include <limits>

namespace kestrovan::testing {
namespace {

void feed(Terminal& t, std::string_view bytes, SelectionService& selection)
{
    feedPreservingSelection(t, std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                            selection);
}

TEST(ViewportTests, ScrollingClampsToTheScrollback)
{
    TerminalFixture fixture(10, 3, 50);
    Terminal& t = fixture.t();
    for (int i = 0; i < 10; ++i)
        t.feed("line\r\n");
    const TerminalViewportState live = viewportState(t);
    EXPECT_EQ(live, (TerminalViewportState{8, 8, false}));

    scrollViewport(t, -3, false);
    EXPECT_EQ(viewportState(t).topRow, 5);
    EXPECT_TRUE(t.userScrolling());
    scrollViewport(t, -100, false);
    EXPECT_EQ(viewportState(t).topRow, 0) << "stops at the top";
    scrollViewport(t, std::numeric_limits<int64_t>::max(), false);
    EXPECT_EQ(viewportState(t).topRow, 8) << "saturates instead of overflowing";
    EXPECT_FALSE(t.userScrolling()) << "back on the live screen";
    scrollViewport(t, std::numeric_limits<int64_t>::min(), false);
    EXPECT_EQ(viewportState(t).topRow, 0);
    scrollViewport(t, 4, true);
    EXPECT_EQ(viewportState(t).topRow, 4);

    t.clearUpdateRange();
    scrollViewport(t, 4, true);
    EXPECT_FALSE(t.getUpdateRange().has_value()) << "scrolling to where the view is marks nothing";
    scrollViewport(t, 5, true);
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(0, 2)) << "a real scroll redraws the whole screen";

    t.feed("\x1b[?1049h");
    EXPECT_EQ(viewportState(t), (TerminalViewportState{0, 0, true}));
    scrollViewport(t, -5, false);
    EXPECT_EQ(viewportState(t).topRow, 0) << "the alternate screen has no scrollback";
}

TEST(ViewportTests, HostDrivesAndReadsTheSelection)
{
    TerminalFixture fixture(12, 3, 50);
    Terminal& t = fixture.t();
    auto selection = SelectionService::create(fixture.terminal, false);
    TerminalFixture other(10, 3);
    auto foreign = SelectionService::create(other.terminal, false);
    feed(t, "hello world\r\nsecond", *selection);

    EXPECT_FALSE(updateSelection(t, *selection, 0, 0, 3, 0)) << "row past the screen";
    EXPECT_FALSE(updateSelection(t, *selection, 0, -1, 0, 0)) << "negative column";
    EXPECT_FALSE(updateSelection(t, *selection, 4, 0, 0, 0)) << "unknown action";
    EXPECT_FALSE(updateSelection(t, *selection, 0, 0, 0, 4)) << "unknown mode";
    EXPECT_FALSE(updateSelection(t, *foreign, 0, 0, 0, 0)) << "another terminal's selection";
    EXPECT_FALSE(selection->active());
    EXPECT_TRUE(updateSelection(t, *selection, 2, 0, 0, 0)) << "clearing nothing is fine";

    ASSERT_TRUE(updateSelection(t, *selection, 0, 6, 0, 1)); // double click on "world"
    EXPECT_EQ(selectionText(t, *selection), "world");
    ASSERT_TRUE(updateSelection(t, *selection, 0, 1, 0, 0));
    ASSERT_TRUE(updateSelection(t, *selection, 1, 2, 1, 0)); // drag onto the second row
    EXPECT_EQ(selectionText(t, *selection), "ello world\nsec");
    TerminalSelectionState state = selectionState(t, *selection);
    EXPECT_TRUE(state.active);
    EXPECT_EQ(state.spans, (std::vector<TerminalSelectionSpan>{{0, 1, 12}, {1, 0, 3}}));

    // Output below keeps it; scrolling it into the scrollback keeps it without spans on screen.
    feed(t, "\r\nmore\r\nand more\r\nand more", *selection);
    EXPECT_TRUE(selection->active());
    state = selectionState(t, *selection);
    EXPECT_TRUE(state.active);
    EXPECT_TRUE(state.spans.empty());
    EXPECT_EQ(selectionText(t, *selection), "ello world\nsec");

    feed(t, "\x1b[2;1HX", *selection);
    EXPECT_TRUE(selection->active()) << "a rewritten row that is not selected keeps it";
    EXPECT_TRUE(updateSelection(t, *selection, 3, 0, 0, 0));
    EXPECT_TRUE(selection->active());
    feed(t, "\x1b[?1049h", *selection);
    EXPECT_FALSE(selection->active()) << "switching screens drops it";
    EXPECT_EQ(selectionText(t, *selection), "");
}

} // namespace
} // namespace kestrovan::testing
