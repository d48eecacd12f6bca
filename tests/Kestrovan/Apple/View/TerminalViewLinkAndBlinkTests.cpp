// OSC 8 hyperlinks in the view (payloads, clicks by highlight mode, highlight rows, the switch)
// and the text-blink timer.
#include "TerminalViewTestSupport.h"

#include "Kestrovan/TerminalLinks.h"
#include "Kestrovan/TerminalTestAccess.h"

#include <chrono>

namespace kestrovan {
namespace {

using namespace std::chrono_literals;
using testing::ViewFixture;

TEST(TerminalViewLinkTests, PayloadsAndParametersUnderACell)
{
    ViewFixture f;
    // Row 0: a link on "web"; row 1: a link on a wide character; row 2 stays empty.
    f.feed("\x1b]8;id=x:foo=bar;https://example.com/a;b\x1b\\web\x1b]8;;\x1b\\ plain\r\n");
    f.feed("\x1b]8;;https://wide.example\x1b\\\xe4\xb8\xad\x1b]8;;\x1b\\");
    const int top = f.locked([](Terminal& t) { return t.buffer().yDisp(); });
    f.locked([&](Terminal&) {
        EXPECT_EQ(f.view->payloadStringLocked(Position(1, top)), "id=x:foo=bar;https://example.com/a;b");
        EXPECT_EQ(f.view->payloadStringLocked(Position(5, top)), std::nullopt);
        EXPECT_EQ(f.view->payloadStringLocked(Position(1, top + 1)), ";https://wide.example")
            << "the right half";
        EXPECT_EQ(f.view->payloadStringLocked(Position(-4, top + 1)), ";https://wide.example")
            << "column clamped";
        EXPECT_EQ(f.view->payloadStringLocked(Position(0, -1)), std::nullopt);
        EXPECT_EQ(f.view->payloadStringLocked(Position(0, 100000)), std::nullopt);
        EXPECT_EQ(f.view->payloadStringLocked(Position(3, top + 2)), std::nullopt);
        // A line with no cells at all has no payload and no cell to read; no sequence makes one, so
        // it is made through the test-only hook.
        TerminalTestAccess::buffer(f.terminal()).lines()[top + 2]->resize(0, CharData::Null());
        EXPECT_EQ(f.view->payloadStringLocked(Position(3, top + 2)), std::nullopt);
    });

    const std::vector<
        std::pair<std::string, std::optional<std::pair<std::string, std::map<std::string, std::string>>>>>
        payloads = {
            {"id=x:foo;https://a.example",
             std::make_pair("https://a.example", std::map<std::string, std::string>{{"id", "x"}})},
            {"a=b=c:k=v;u;rest", std::make_pair("u", std::map<std::string, std::string>{{"k", "v"}})},
            {"id=1;", std::make_pair("", std::map<std::string, std::string>{{"id", "1"}})},
            {"no separator", std::nullopt},
            {"::=:k=1:k=2;x", std::make_pair("x", std::map<std::string, std::string>{{"k", "2"}})},
        };
    for (const auto& [payload, expected] : payloads)
        EXPECT_EQ(TerminalView::urlAndParamsFrom(payload), expected) << payload;
}

TEST(TerminalViewLinkTests, ClicksOpenWhatTheHighlightModeAllows)
{
    ViewFixture f;
    f.feed("\x1b]8;id=7;https://osc8.example\x1b\\link\x1b]8;;\x1b\\ https://plain.example/x\r\n");
    const int top = f.locked([](Terminal& t) { return t.buffer().yDisp(); });
    const Position onLink(1, top);
    const Position onText(10, top);
    const auto click = [&](Position at, bool command) {
        return f.locked([&](Terminal&) { return f.view->linkForClickLocked(at, command); });
    };
    const auto highlight = [&](Position at) {
        const std::optional<LinkMatch> match = f.locked([&](Terminal& t) {
            std::optional<LinkMatch> found = explicitLinkMatch(t, at, t.buffer());
            return found ? found : implicitLinkMatch(t, at, t.buffer());
        });
        f.view->setLinkHighlightRange(match->rowRanges);
    };
    const TerminalView::LinkClick osc8{"https://osc8.example", {{"id", "7"}}, true};
    const TerminalView::LinkClick plain{"https://plain.example/x", {}, false};

    f.view->setLinkHighlightMode(LinkHighlightMode::hoverWithModifier);
    highlight(onLink);
    EXPECT_EQ(click(onLink, false), std::nullopt) << "hover with modifier needs the modifier";
    EXPECT_EQ(click(onLink, true), osc8);
    EXPECT_EQ(click(onText, true), std::nullopt) << "only the highlighted link";
    highlight(onText);
    EXPECT_EQ(click(onText, true), plain);

    f.view->setLinkHighlightMode(LinkHighlightMode::always);
    EXPECT_EQ(click(onText, false), std::nullopt) << "plain text never opens in always mode";
    EXPECT_EQ(click(onLink, false), osc8);
    f.view->setLinkHighlightMode(LinkHighlightMode::alwaysWithModifier);
    EXPECT_EQ(click(onLink, false), std::nullopt);
    EXPECT_EQ(click(Position(-3, top), true), osc8) << "positions are clamped";

    // Turned off, the open hyperlink closes: text printed next carries none.
    f.feed("\x1b]8;;https://open.example\x1b\\a");
    f.view->setEnableOsc8Hyperlinks(false);
    EXPECT_FALSE(f.view->enableOsc8Hyperlinks());
    f.view->setEnableOsc8Hyperlinks(true);
    f.feed("b");
    const int row = f.locked([](Terminal& t) { return t.buffer().yBase() + t.buffer().y(); });
    f.locked([&](Terminal&) { EXPECT_EQ(f.view->payloadStringLocked(Position(1, row)), std::nullopt); });
    EXPECT_EQ(f.view->linkHighlightRange(), std::nullopt);
}

TEST(TerminalViewLinkTests, HighlightRowsOutOfViewAreNotMarked)
{
    ViewFixture f;
    f.locked([](Terminal& t) { t.clearUpdateRange(); });
    const int top = f.locked([](Terminal& t) { return t.buffer().yDisp(); });
    f.view->invalidateLinkHighlight(std::vector<LinkMatch::RowRange>{{top + 2, {0, 3}}},
                                    std::vector<LinkMatch::RowRange>{{top + 5, {0, 3}}, {top - 1, {0, 3}}});
    EXPECT_EQ(f.locked([](Terminal& t) { return t.getUpdateRange(); }), (std::pair<int, int>{2, 5}));
    f.locked([](Terminal& t) { t.clearUpdateRange(); });
    f.view->invalidateLinkHighlight(std::vector<LinkMatch::RowRange>{{top + 1000, {0, 1}}}, std::nullopt);
    EXPECT_EQ(f.locked([](Terminal& t) { return t.getUpdateRange(); }), std::nullopt);
}

TEST(TerminalViewBlinkTests, BlinkingTextRunsTheTimerOnlyWhileItIsVisible)
{
    ViewFixture f;
    EXPECT_FALSE(f.view->textBlinkTimerRunning());
    f.feed("\x1b[5mblink\x1b[m");
    f.view->updateTextBlinkLifecycle(std::nullopt);
    EXPECT_TRUE(f.view->textBlinkTimerRunning());
    EXPECT_TRUE(f.view->textBlinkVisible());
    f.timers->advance(700ms);
    EXPECT_FALSE(f.view->textBlinkVisible());
    f.timers->advance(700ms);
    EXPECT_TRUE(f.view->textBlinkVisible());
    f.timers->advance(700ms);
    EXPECT_FALSE(f.view->textBlinkVisible());

    // The window going inactive in the hidden phase shows the text at once and redraws its row.
    f.locked([](Terminal& t) { t.clearUpdateRange(); });
    f.host->setWindowActive(false);
    EXPECT_FALSE(f.view->textBlinkTimerRunning());
    EXPECT_TRUE(f.view->textBlinkVisible());
    EXPECT_EQ(f.locked([](Terminal& t) { return t.getUpdateRange(); }), (std::pair<int, int>{0, 0}));
    f.host->setWindowActive(true);
    EXPECT_TRUE(f.view->textBlinkTimerRunning());
    f.view->setReduceMotion(true);
    EXPECT_FALSE(f.view->textBlinkTimerRunning()) << "less motion: blinking text shows steadily";
    f.view->setReduceMotion(false);

    // Once the blinking text is gone the timer stops and nothing is left to wake the view.
    f.feed("\x1b[2J");
    f.view->updateTextBlinkLifecycle(std::nullopt);
    EXPECT_FALSE(f.view->textBlinkTimerRunning());
    EXPECT_EQ(f.timers->activeCount(), 0u);
    f.host->setWindow(false);
    f.view->updateTextBlinkLifecycle(std::vector<int64_t>{0});
    EXPECT_FALSE(f.view->textBlinkTimerRunning()) << "no window, no blinking";
}

TEST(TerminalViewBlinkTests, BlinkRowRedrawsStayInsideTheBufferAndTheScreen)
{
    // Rows found by an earlier frame: one above the viewport, one now past the screen, one past
    // the buffer and one negative. Only existing rows are marked, and the screen range never leaves
    // the screen, so that the next frame never reads a row that is not there. The row above the
    // viewport marks its line only; the one below waits for the scroll that shows it.
    ViewFixture f;
    std::string lines;
    for (int i = 0; i < 60; ++i)
        lines += "x\r\n";
    f.feed(lines);
    f.view->scrollTo(f.locked([](Terminal& t) { return t.buffer().yDisp(); }) - 10, true);
    const auto [top, rows, count] = f.locked([](Terminal& t) {
        return std::make_tuple(t.buffer().yDisp(), t.rows(), t.buffer().lines().count());
    });
    ASSERT_LT(top + rows + 2, count);
    f.locked([](Terminal& t) { t.clearUpdateRange(); });
    f.view->invalidateTextBlinkRows({top - 3, top + 1, top + rows + 2, int64_t(count) + 5, -1});
    EXPECT_EQ(f.locked([](Terminal& t) { return t.getUpdateRange(); }), (std::pair<int, int>{1, 1}));
    EXPECT_EQ(f.locked([](Terminal& t) { return t.getScrollInvariantUpdateRange(); }),
              (std::pair<int, int>{top - 3, top + 1}));
}

} // namespace
} // namespace kestrovan
