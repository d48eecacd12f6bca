// The viewport: scroller values, moves, the user-scrolling state and the scrollback; prompt
// navigation over OSC 133 marks; and the find operations over the search service.
#include "TerminalViewTestSupport.h"

#include "Kestrovan/SearchService.h"

namespace kestrovan {
namespace {

using testing::ViewFixture;

/// A 10 x 24 grid with room for `scrollback` lines of history.
TerminalOptions gridOptions(int scrollback = 1000)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.scrollback = scrollback;
    return options;
}

/// A fixture whose terminal is 10 x 24 cells, whatever the font.
struct GridFixture : ViewFixture
{
    explicit GridFixture(int scrollback = 1000) : ViewFixture(gridOptions(scrollback))
    {
        const platform::Size cell = *view->cellDimension();
        host->resize(platform::Size{cell.width * 10, cell.height * 24});
        settle();
    }
    /// Prints `count` numbered lines.
    void print(int count, const std::string& prefix = "")
    {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += prefix + std::to_string(i) + "\r\n";
        feed(text);
    }
    int lineCount()
    {
        return locked([](Terminal& t) { return t.buffer().lines().count(); });
    }
    int yDisp()
    {
        return locked([](Terminal& t) { return t.buffer().yDisp(); });
    }
};

TEST(TerminalViewScrollTests, ThumbSizePositionAndTheAlternateScreen)
{
    GridFixture f(10000);
    ASSERT_EQ(f.view->terminalDimensions(), TerminalDimensions(10, 24));
    f.print(1024 - 1); // the first 23 line feeds only move the cursor down
    ASSERT_EQ(f.lineCount(), 1024);
    EXPECT_DOUBLE_EQ(f.view->scrollThumbsize(), 24.0 / 1024);
    EXPECT_DOUBLE_EQ(f.view->scrollPosition(), 1.0);
    EXPECT_TRUE(f.view->canScroll());
    f.print(9000);
    EXPECT_DOUBLE_EQ(f.view->scrollThumbsize(), 0.01) << "never below a hundredth";

    f.feed("\x1b[?1049h");
    EXPECT_EQ(f.view->scrollThumbsize(), 0);
    EXPECT_EQ(f.view->scrollPosition(), 0);
    EXPECT_FALSE(f.view->canScroll());
    f.delegate->clearSent();
    const int top = f.yDisp();
    f.view->pageUp();
    f.view->pageDown();
    f.settle();
    EXPECT_EQ(f.delegate->sentText(), "\x1b[5~\x1b[6~") << "full-screen programs page themselves";
    EXPECT_EQ(f.yDisp(), top);

    // Clearing the scrollback empties the normal screen's history even from the alternate screen.
    f.delegate->events.clear();
    f.view->clearScrollback();
    EXPECT_EQ(f.delegate->events, std::vector<std::string>{"scrolled 0.000000"});
    f.feed("\x1b[?1049l");
    EXPECT_EQ(f.lineCount(), 24);
}

TEST(TerminalViewScrollTests, MovesClampTrackUserScrollingAndReportOnlyChanges)
{
    GridFixture f;
    f.print(23 + 7); // maxScroll 7
    ASSERT_EQ(f.lineCount() - 24, 7);
    f.view->scroll(0.5);
    EXPECT_EQ(f.yDisp(), 3);
    EXPECT_TRUE(f.view->userScrolling());
    EXPECT_TRUE(f.locked([](Terminal& t) { return t.userScrolling(); }));

    f.delegate->events.clear();
    f.view->scrollTo(1000, true);
    EXPECT_EQ(f.yDisp(), 7) << "clamped to the live screen";
    EXPECT_FALSE(f.view->userScrolling());
    EXPECT_EQ(f.delegate->events, std::vector<std::string>{"scrolled 1.000000"});
    EXPECT_EQ(f.view->overlayScrollerShows(), 2u);

    f.tickUntilPaused();
    f.delegate->events.clear();
    f.view->scrollTo(7, true);
    f.settle();
    EXPECT_TRUE(f.delegate->events.empty()) << "no move, no report";
    EXPECT_FALSE(f.link().isRunning()) << "and no frame request";

    f.view->scrollTo(-5, false);
    EXPECT_EQ(f.yDisp(), 0);
    EXPECT_TRUE(f.view->pendingFrameRequests().suppressAccessibility);
    f.view->pageUp();
    EXPECT_EQ(f.yDisp(), 0);
    f.view->scrollDown(2);
    EXPECT_EQ(f.yDisp(), 2);
    f.view->scrollUp(1);
    EXPECT_EQ(f.yDisp(), 1);
    f.view->pageDown();
    EXPECT_EQ(f.yDisp(), 7);

    // Scrolled away, new output keeps the viewport on its lines; input brings the cursor back.
    f.view->scrollTo(2, true);
    f.print(3);
    EXPECT_LT(f.yDisp(), f.lineCount() - 24);
    f.view->send(std::string_view("x"));
    f.settle();
    EXPECT_EQ(f.yDisp(), f.lineCount() - 24);

    f.view->changeScrollback(5);
    EXPECT_LE(f.lineCount(), 24 + 5);
}

TEST(TerminalViewScrollTests, PromptNavigationFindsTheMarksAroundTheViewport)
{
    GridFixture f;
    // Prompts (OSC 133 A) on rows 0, 10 and 40 of the buffer.
    const auto prompt = [&](int outputLines) {
        f.feed("\x1b]133;A\x07$ cmd\r\n");
        f.print(outputLines, "o");
    };
    prompt(9);
    prompt(29);
    prompt(30);
    const auto promptRows = [&] {
        return std::make_pair(f.view->previousSemanticPromptRow(), f.view->nextSemanticPromptRow());
    };

    f.view->scrollTo(11, true);
    EXPECT_EQ(promptRows(), std::make_pair(std::optional<int>(10), std::optional<int>(40)));
    f.view->scrollTo(10, true);
    EXPECT_EQ(promptRows(), std::make_pair(std::optional<int>(0), std::optional<int>(40)))
        << "the mark on the viewport's top row is found by neither";
    f.view->scrollTo(0, true);
    EXPECT_EQ(f.view->previousSemanticPromptRow(), std::nullopt) << "at the top there is nothing above";

    f.view->scrollTo(11, true);
    f.feed("\x1b[?1049h");
    EXPECT_EQ(promptRows(), std::make_pair(std::optional<int>(), std::optional<int>()));
}

TEST(TerminalViewScrollTests, FindWrapsSelectsScrollsAndSummarises)
{
    GridFixture f;
    f.feed("needle\r\n");
    f.print(60, "hay");
    f.feed("needle\r\nneedle\r\n");
    const SearchOptions options;

    EXPECT_TRUE(f.view->findNext("needle", options, true));
    EXPECT_EQ(f.view->getSelection(), "needle");
    const int first = f.yDisp();
    EXPECT_EQ(f.view->searchMatchSummary("needle", options, 100), std::make_pair(1, 3));
    EXPECT_LT(first, f.lineCount() - 24) << "a match in the scrollback is scrolled to";
    EXPECT_TRUE(f.view->findNext("needle", options, true));
    EXPECT_EQ(f.view->searchMatchSummary("needle", options, 100), std::make_pair(2, 3));
    EXPECT_TRUE(f.view->findNext("needle", options, true));
    EXPECT_TRUE(f.view->findNext("needle", options, true));
    EXPECT_EQ(f.view->searchMatchSummary("needle", options, 100), std::make_pair(1, 3)) << "wrapped around";
    EXPECT_TRUE(f.view->findPrevious("needle", options, false));
    EXPECT_EQ(f.view->searchMatchSummary("needle", options, 2), std::make_pair(0, 2)) << "beyond the limit";

    // Clearing the field forgets the match, not the lines read: the next term reads none again.
    const SearchLineCacheCounters before =
        f.locked([&](Terminal&) { return f.view->search()->lineCache.counters(); });
    f.view->clearSearch();
    EXPECT_FALSE(f.view->selectionActive());
    EXPECT_EQ(f.view->searchMatchSummary("needle", options, 100), std::make_pair(0, 3));
    const SearchLineCacheCounters after =
        f.locked([&](Terminal&) { return f.view->search()->lineCache.counters(); });
    EXPECT_EQ(after.drops, before.drops);
    EXPECT_EQ(after.entriesBuilt, before.entriesBuilt);
    EXPECT_FALSE(f.view->findNext("", options, true));
    EXPECT_FALSE(f.view->findNext("absent", options, true));
    EXPECT_FALSE(f.view->selectionActive());
}

} // namespace
} // namespace kestrovan
