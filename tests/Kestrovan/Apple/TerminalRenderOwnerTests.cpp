#include "Kestrovan/Apple/RenderTestSupport.h"
#include "Kestrovan/Apple/TerminalRenderOwner.h"
#include "Kestrovan/Buffer.h"
#include "Kestrovan/TerminalInnerState.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrovan {
namespace {

using testing::RenderOwnerFixture;

std::string sent(const testing::RecordingTerminalDelegate& delegate)
{
    std::string out;
    for (const auto& bytes : delegate.sends)
        out.append(bytes.begin(), bytes.end());
    return out;
}

TEST(TerminalRenderOwnerTests, WithoutASessionNothingHappens)
{
    TerminalRenderOwner owner;
    EXPECT_EQ(owner.feed("text"), std::nullopt);
    EXPECT_EQ(owner.dimensions(), (TerminalDimensions{0, 0}));
    EXPECT_TRUE(owner.visibleRowsText(0, 5).empty());
    const TerminalViewStateSnapshot state = owner.stateSnapshot();
    EXPECT_EQ(state.dimensions, (TerminalDimensions{0, 0}));
    EXPECT_EQ(state.cursorStyle, CursorStyle::blinkBlock);
    EXPECT_EQ(state.ansi256PaletteStrategy, Ansi256PaletteStrategy::base16Lab);
    EXPECT_EQ(state.currentBidiState, BidiPresentationState());
    EXPECT_TRUE(state.visibleRows.empty());
    EXPECT_EQ(owner.ansi256PaletteStrategy(), Ansi256PaletteStrategy::base16Lab);
    owner.setMaximumBidiParagraphRows(3);
    owner.registerUserInput(std::span<const uint8_t>());
    owner.setTerminalVisibility(TerminalVisibility::notVisible);
    EXPECT_EQ(owner.publishedVisibility(), TerminalVisibility::notVisible) << "kept for the next attach";
}

TEST(TerminalRenderOwnerTests, FeedsProtectTheSelectionAndArmTheWatchdogOutsideTheLock)
{
    RenderOwnerFixture f(10, 3);
    // The watchdog's timer must never be scheduled from inside the terminal lock.
    bool scheduledUnderLock = false;
    f.timer->onSchedule([&] { scheduledUnderLock |= f.terminal->terminalLock().isHeldByCurrentThread(); });
    EXPECT_EQ(f.feed("hello\r\nworld"), false);
    EXPECT_EQ(f.owner->visibleRowsText(0, 3), (std::vector<std::string>{"hello", "world", ""}));
    EXPECT_EQ(f.feed("\x1b[?2026h"), true);
    EXPECT_FALSE(scheduledUnderLock);
    EXPECT_EQ(f.owner->synchronizedOutputWatchdog().counters().armed, 1);
    EXPECT_FALSE(f.owner->pendingSynchronizedOutputWatchdogUpdate()) << "taken by the feed";
    f.feed("\x1b[?2026l");

    {
        TerminalLockGuard guard(f.terminal->terminalLock());
        f.selection->setSelection(Position(0, 1), Position(2, 1));
    }
    f.feed("\x1b[1;1HHELLO");
    EXPECT_TRUE(f.selection->active()) << "output elsewhere keeps the selection";
    f.feed("\x1b[2;2HO");
    EXPECT_FALSE(f.selection->active()) << "output over a selected cell clears it";

    // The accessors read the terminal under its lock.
    EXPECT_EQ(f.owner->dimensions(), (TerminalDimensions{10, 3}));
    EXPECT_EQ(f.owner->visibleRowsText(1, 99), (std::vector<std::string>{"wOrld", ""}));
    EXPECT_TRUE(f.owner->visibleRowsText(5, 9).empty());
    EXPECT_TRUE(f.owner->visibleRowsText(-4, -1).empty());
    f.feed("\x1b[?2004h\x1b[3;5H\xe4\xb8\x80");
    const TerminalViewStateSnapshot state = f.owner->stateSnapshot();
    EXPECT_TRUE(state.bracketedPasteMode);
    EXPECT_EQ(state.cursor, Position(6, 2));
    ASSERT_EQ(state.visibleRows.size(), 3u);
    EXPECT_EQ(state.visibleRows[2].text, "    \xe4\xb8\x80");
    EXPECT_EQ(state.visibleRows[2].cellWidths, (std::vector<int>{1, 1, 1, 1, 2, 0, 1, 1, 1, 1}));

    f.owner->setMaximumBidiParagraphRows(0);
    f.owner->setAnsi256PaletteStrategy(Ansi256PaletteStrategy::xterm);
    TerminalLockGuard guard(f.terminal->terminalLock());
    EXPECT_EQ(f.terminal->options().maximumBidiParagraphRows, 1);
    EXPECT_EQ(f.terminal->options().ansi256PaletteStrategy, Ansi256PaletteStrategy::xterm);
    EXPECT_EQ(f.terminal->getUpdateRange(), std::make_pair(0, 3)) << "the whole screen is redrawn";
}

TEST(TerminalRenderOwnerTests, FeedsKeepTheSearchLineCache)
{
    // A find-next in a 100,000-row scrollback after one new line of output must not read the whole
    // scrollback again: the feed drops the current match, not the cache of lines.
    RenderOwnerFixture f(20, 5, 100'000);
    std::string output;
    for (int i = 0; i < 100'000; ++i)
        output += (i % 1000 == 0 ? "needle " : "hay ") + std::to_string(i) + "\r\n";
    f.feed(output);
    SearchOptions options;
    const auto findNextAndCount = [&] {
        TerminalLockGuard guard(f.terminal->terminalLock());
        EXPECT_TRUE(f.search->step(*f.selection, "needle", options, true));
        return f.search->matchSummary("needle", options, 1000).second;
    };
    EXPECT_EQ(findNextAndCount(), 100);
    const SearchLineCacheCounters cold = f.search->lineCache.counters();
    EXPECT_GE(cold.rowsExtracted, 99'000u);

    f.feed("one more needle\r\n");
    EXPECT_FALSE(f.search->lastResult) << "the feed dropped the current match";
    EXPECT_EQ(findNextAndCount(), 101) << "the new line is searched";
    const SearchLineCacheCounters warm = f.search->lineCache.counters();
    EXPECT_LE(warm.rowsExtracted - cold.rowsExtracted, 2u) << "one new line is read, not the scrollback";
    EXPECT_EQ(warm.drops, cold.drops);
}

TEST(TerminalRenderOwnerTests, AttachPublishesVisibilityAndKeepsPendingUpdatesOfTheSameTerminal)
{
    RenderOwnerFixture f;
    f.feed("\x1b[?2033h");
    f.delegate->sends.clear();
    f.owner->setTerminalVisibility(TerminalVisibility::notVisible);
    EXPECT_EQ(sent(*f.delegate), "\x1b[?999;2n");
    f.owner->setTerminalVisibility(TerminalVisibility::notVisible);
    EXPECT_EQ(sent(*f.delegate), "\x1b[?999;2n") << "only a change is reported";

    // A pending watchdog update survives re-attaching the same terminal, not another one.
    f.owner->synchronizedOutputWatchdogHandler()(true, 7);
    f.owner->attach(f.terminal, f.selection, f.search);
    EXPECT_EQ(f.owner->pendingSynchronizedOutputWatchdogUpdate(),
              (PendingSynchronizedOutputWatchdogUpdate{true, 7}));
    RenderOwnerFixture other;
    f.owner->attach(other.terminal, other.selection, other.search);
    EXPECT_FALSE(f.owner->pendingSynchronizedOutputWatchdogUpdate());
    EXPECT_EQ(other.terminal->innerState().reportedVisibility, TerminalVisibility::notVisible)
        << "attach gives the published visibility to the new terminal";
}

TEST(TerminalRenderOwnerTests, UserInputSubmitsAnArmedCommandLine)
{
    RenderOwnerFixture f;
    f.feed("\x1b]133;A\x07$ \x1b]133;B\x07");
    auto input = [](std::string_view text) {
        return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    };
    {
        TerminalLockGuard guard(f.terminal->terminalLock());
        ASSERT_EQ(f.terminal->buffer().semanticPrompt().input(), SemanticInputState::armed);
    }
    f.owner->registerUserInput(input("ls"));
    {
        TerminalLockGuard guard(f.terminal->terminalLock());
        EXPECT_EQ(f.terminal->buffer().semanticPrompt().input(), SemanticInputState::armed);
    }
    f.owner->registerUserInput(input("\r"));
    TerminalLockGuard guard(f.terminal->terminalLock());
    EXPECT_EQ(f.terminal->buffer().semanticPrompt().input(), SemanticInputState::submitted);
}

TEST(TerminalRenderOwnerDeathTest, RegisteringUserInputWithTheLockHeldStops)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            RenderOwnerFixture f;
            TerminalLockGuard guard(f.terminal->terminalLock());
            f.owner->registerUserInput(std::span<const uint8_t>());
        },
        "TerminalRenderOwner.registerUserInput: called with the terminal lock held");
    EXPECT_DEATH(
        {
            RenderOwnerFixture f;
            TerminalLockGuard guard(f.terminal->terminalLock());
            f.owner->feed("x");
        },
        "already holds the terminal lock");
}

} // namespace
} // namespace kestrovan
