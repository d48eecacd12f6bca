#include "Kestrovan/Apple/TerminalBidi.h"
#include "Kestrovan/Buffer.h"
#include "Kestrovan/RecordingTerminalDelegate.h"

#include <atomic>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace kestrovan {
namespace {

/// The controls that give a paragraph start `state`: BDSM, direction autodetection, SCP and box
/// mirroring, each applying its own part.
std::string bidiControls(const BidiPresentationState& state)
{
    std::string out = state.supportMode == BidiSupportMode::implicit ? "\x1b[8h" : "\x1b[8l";
    out += state.autodetectDirection ? "\x1b[?2501h" : "\x1b[?2501l";
    out += state.fallbackDirection == BidiDirection::rightToLeft ? "\x1b[2 k" : "\x1b[1 k";
    out += state.boxMirroring ? "\x1b[?2500h" : "\x1b[?2500l";
    return out;
}

constexpr BidiDirection ltr = BidiDirection::leftToRight;
constexpr BidiDirection rtl = BidiDirection::rightToLeft;

const BidiPresentationState implicitAuto(BidiSupportMode::implicit, true, ltr, false);
const BidiPresentationState implicitRTL(BidiSupportMode::implicit, false, rtl, false);
const BidiPresentationState explicitRTL(BidiSupportMode::explicit_, false, rtl, false);

struct BidiFixture : testing::TerminalFixture
{
    BidiFixture(int cols, int rows, int maximumParagraphRows = 500)
        : testing::TerminalFixture(options(cols, rows, maximumParagraphRows))
    {}

    static TerminalOptions options(int cols, int rows, int maximumParagraphRows)
    {
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = cols;
        options.rows = rows;
        options.maximumBidiParagraphRows = maximumParagraphRows;
        return options;
    }

    /// Writes `text` from the top left (wrapping as it goes) and gives rows 0 ... rows - 1 `state`.
    void write(std::string_view text, const BidiPresentationState& state)
    {
        // The state's controls at the start of every (blank) row give it to that row, and make it
        // the state in effect; then the text.
        t().feed(std::string_view("\x1b[H\x1b[2J"));
        const std::string controls = bidiControls(state);
        for (int row = 0; row < t().rows(); ++row)
            t().feed("\x1b[" + std::to_string(row + 1) + "H" + controls);
        t().feed(std::string_view("\x1b[H"));
        t().feed(text);
    }

    /// The layout of absolute row `row`, typeset at once when it was deferred.
    std::optional<BidiRowLayout> layout(int row)
    {
        TerminalLockGuard guard(t().terminalLock());
        TerminalBidi::LayoutOutcome outcome =
            TerminalBidi::collectLayout(row, buffer(), t().cols(), t(), BidiHostPolicy::respectTerminal);
        if (auto* resolved = std::get_if<std::optional<BidiRowLayout>>(&outcome))
            return *resolved;
        auto deferred = std::get<std::shared_ptr<TerminalBidi::DeferredParagraph>>(outcome);
        TerminalBidi::finish({deferred});
        if (!deferred->result)
            return std::nullopt;
        const auto found = deferred->result->rows.find(row);
        if (found == deferred->result->rows.end())
            return std::nullopt;
        return found->second;
    }
};

std::vector<int> descending(int from)
{
    std::vector<int> out;
    for (int i = from; i >= 0; --i)
        out.push_back(i);
    return out;
}

/// The text each visual cell shows, left to right: its replacement or "." for one left as stored.
std::u32string displays(const BidiRowLayout& layout)
{
    std::u32string out;
    for (const BidiCell& cell : layout.visualCells)
        out += cell.display ? cell.display->scalars : U".";
    return out;
}

TEST(TerminalBidiLayoutTests, RowsAreReversedOrLeftAlone)
{
    BidiFixture f(5, 3);
    f.write("", implicitAuto);
    EXPECT_FALSE(f.layout(0)) << "a blank left-to-right row needs nothing";
    f.write("", implicitRTL);
    const auto blank = f.layout(0);
    ASSERT_TRUE(blank);
    EXPECT_EQ(blank->logicalToVisualCol, descending(4)) << "a blank right-to-left row mirrors its columns";

    f.write("ab", explicitRTL);
    const auto explicitRow = f.layout(0);
    ASSERT_TRUE(explicitRow);
    EXPECT_EQ(explicitRow->visualToLogicalCol, descending(4));
    std::vector<int> order;
    for (const BidiCell& cell : explicitRow->visualCells)
        order.push_back(cell.logicalCol);
    EXPECT_EQ(order, (std::vector<int>{4, 3, 2, 1, 0})) << "blank tail at the left, then b, then a";
    EXPECT_EQ(explicitRow->baseDirection, rtl);

    f.write("ab", BidiPresentationState(BidiSupportMode::explicit_, false, ltr, false));
    EXPECT_FALSE(f.layout(0)) << "explicit left-to-right rows stay in logical order";
    f.write("\xd7\x90\xd7\x91", explicitRTL);
    {
        TerminalLockGuard guard(f.t().terminalLock());
        EXPECT_FALSE(std::get<std::optional<BidiRowLayout>>(
            TerminalBidi::collectLayout(0, f.buffer(), 5, f.t(), BidiHostPolicy::legacyLeftToRight)))
            << "the legacy host policy lays nothing out";
        EXPECT_FALSE(std::get<std::optional<BidiRowLayout>>(
            TerminalBidi::collectLayout(99, f.buffer(), 5, f.t(), BidiHostPolicy::respectTerminal)));
    }
}

TEST(TerminalBidiLayoutTests, AWideCharacterTakesTwoAdjacentVisualColumns)
{
    BidiFixture f(8, 2);
    for (const BidiPresentationState& state : {explicitRTL, implicitRTL}) {
        // Hebrew alef and bet, then a wide ideograph at columns 2-3, then "c".
        f.write("\xd7\x90\xd7\x91\xe4\xb8\x80"
                "c",
                state);
        const auto row = f.layout(0);
        ASSERT_TRUE(row);
        const int lead = row->logicalToVisualCol[2];
        EXPECT_EQ(row->logicalToVisualCol[3], lead + 1);
        EXPECT_EQ(row->visualToLogicalCol[size_t(lead)], 2);
        EXPECT_EQ(row->visualToLogicalCol[size_t(lead + 1)], 2);
        std::vector<int> seen(8, 0);
        for (int logical : row->visualToLogicalCol)
            ++seen[size_t(logical)];
        EXPECT_EQ(seen, (std::vector<int>{1, 1, 2, 0, 1, 1, 1, 1})) << "every column drawn once";
    }
}

TEST(TerminalBidiLayoutTests, AWrappedParagraphSharesDirectionAndRevision)
{
    BidiFixture f(5, 3);
    // "shalom olam", nine cells over two rows; the second row has no letter of its own before its
    // Hebrew, but the paragraph's direction comes from the first.
    f.write("\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d \xd7\xa2\xd7\x95\xd7\x9c\xd7\x9d", implicitAuto);
    ASSERT_TRUE(f.buffer().lines().lineOrEmpty(1).isWrapped());
    const auto first = f.layout(0);
    const auto second = f.layout(1);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->baseDirection, rtl);
    EXPECT_EQ(second->baseDirection, rtl);
    EXPECT_EQ(first->paragraphRevision, second->paragraphRevision);
    EXPECT_EQ(first->visualToLogicalCol, descending(4));
    EXPECT_EQ(second->visualToLogicalCol, descending(4)) << "blank tail at the left";
    {
        TerminalLockGuard guard(f.t().terminalLock());
        EXPECT_EQ(TerminalBidi::layoutRevision(1, f.buffer(), 500), first->paragraphRevision);
        EXPECT_EQ(TerminalBidi::renderingDependencyRange({1, 1}, f.buffer(), 500),
                  (TerminalBidi::RowRange{0, 1}));
        EXPECT_EQ(TerminalBidi::renderingDependencyRange({0, 2}, f.buffer(), 500),
                  (TerminalBidi::RowRange{0, 2}));
    }

    // Arabic letters join across the soft wrap: five behs over two rows of three.
    BidiFixture arabic(3, 2);
    arabic.write("\xd8\xa8\xd8\xa8\xd8\xa8\xd8\xa8", implicitAuto);
    const auto top = arabic.layout(0);
    const auto bottom = arabic.layout(1);
    ASSERT_TRUE(top && bottom);
    EXPECT_EQ(displays(*top), U"\uFE92\uFE92\uFE91") << "initial at the right edge, then medial";
    EXPECT_EQ(displays(*bottom), U"..\uFE90") << "the last beh joins the row above";
}

TEST(TerminalBidiLayoutTests, AnOverLongParagraphGetsNoLayout)
{
    BidiFixture f(3, 4, 2);
    f.write("\xd7\x90\xd7\x90\xd7\x90\xd7\x90\xd7\x90\xd7\x90\xd7\x90", implicitAuto);
    for (int row = 0; row < 3; ++row)
        EXPECT_FALSE(f.layout(row)) << "row " << row << " of a three-row paragraph with a cap of two";
    TerminalLockGuard guard(f.t().terminalLock());
    EXPECT_EQ(TerminalBidi::renderingDependencyRange({1, 1}, f.buffer(), 2), (TerminalBidi::RowRange{1, 1}));
    EXPECT_EQ(TerminalBidi::layoutRevision(1, f.buffer(), 2), 0);
    EXPECT_FALSE(TerminalBidi::paragraphBounds(1, f.buffer(), 2));
    EXPECT_EQ(TerminalBidi::paragraphBounds(1, f.buffer(), 3), (TerminalBidi::RowRange{0, 2}));
}

TEST(TerminalBidiLayoutTests, DirectionIsDetectedFromTheFirstLetter)
{
    BidiFixture f(6, 2);
    const BidiPresentationState autoRTL(BidiSupportMode::implicit, true, rtl, false);
    f.write("12 ab", autoRTL);
    EXPECT_FALSE(f.layout(0)) << "the first letter is Latin: left to right, nothing to reorder";
    f.write("12 3", autoRTL);
    const auto digits = f.layout(0);
    ASSERT_TRUE(digits) << "no letter: the right-to-left fallback holds";
    EXPECT_EQ(digits->baseDirection, rtl);
    EXPECT_EQ(digits->visualToLogicalCol, (std::vector<int>{5, 4, 3, 2, 0, 1}))
        << "blank tail at the left; numbers read left to right inside the right-to-left row";
    f.write("a \xd7\x90", autoRTL);
    const auto latinFirst = f.layout(0);
    ASSERT_TRUE(latinFirst);
    EXPECT_EQ(latinFirst->baseDirection, ltr);
    EXPECT_EQ(latinFirst->visualToLogicalCol, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST(TerminalBidiLayoutTests, MirroringOnlyInsideRightToLeftRuns)
{
    BidiFixture f(12, 2);
    // alef ( bet ) x ( y ): a right-to-left paragraph with a Latin run at its end.
    f.write("\xd7\x90(\xd7\x91) x(y)", implicitAuto);
    const auto row = f.layout(0);
    ASSERT_TRUE(row);
    std::map<int, std::u32string> shown;
    for (const BidiCell& cell : row->visualCells)
        shown[cell.logicalCol] = cell.display ? cell.display->scalars : U".";
    EXPECT_EQ(shown[1], U")") << "mirrored in the right-to-left run";
    EXPECT_EQ(shown[3], U"(");
    EXPECT_EQ(shown[6], U".") << "kept in the left-to-right run";
    EXPECT_EQ(shown[8], U".");

    // Box-drawing corners swap only when the paragraph asks for it.
    f.write("\xd7\x90\xe2\x94\x8c\xd7\x91", implicitRTL);
    auto box = f.layout(0);
    ASSERT_TRUE(box);
    EXPECT_EQ(displays(*box).substr(9), U"...");
    f.write("\xd7\x90\xe2\x94\x8c\xd7\x91",
            BidiPresentationState(BidiSupportMode::implicit, false, rtl, true));
    box = f.layout(0);
    ASSERT_TRUE(box);
    EXPECT_EQ(displays(*box).substr(9), U".\u2510.");
    f.write("\xe2\x94\x8c", BidiPresentationState(BidiSupportMode::explicit_, false, rtl, true));
    box = f.layout(0);
    ASSERT_TRUE(box);
    EXPECT_EQ(displays(*box).back(), U'\u2510') << "explicit rows mirror every cell";
}

TEST(TerminalBidiLayoutTests, DeferredParagraphsAreTypesetOnceAndCached)
{
    TerminalBidi::clearCaches();
    BidiFixture f(4, 4);
    f.write("\xd7\x90\xd7\x91\xd7\x92\xd7\x93\xd7\x94\xd7\x95", implicitAuto);
    std::shared_ptr<TerminalBidi::DeferredParagraph> first;
    std::shared_ptr<TerminalBidi::DeferredParagraph> second;
    {
        TerminalLockGuard guard(f.t().terminalLock());
        first = std::get<std::shared_ptr<TerminalBidi::DeferredParagraph>>(
            TerminalBidi::collectLayout(0, f.buffer(), 4, f.t(), BidiHostPolicy::respectTerminal));
        second = std::get<std::shared_ptr<TerminalBidi::DeferredParagraph>>(
            TerminalBidi::collectLayout(1, f.buffer(), 4, f.t(), BidiHostPolicy::respectTerminal));
    }
    EXPECT_EQ(first->firstRow, 0);
    EXPECT_EQ(first->lastRow, 1);
    TerminalBidi::finish({first, second, first});
    ASSERT_TRUE(first->result);
    EXPECT_EQ(first->result, second->result) << "an equal paragraph is typeset once per call";
    EXPECT_EQ(first->result->rows.size(), 2u);
    EXPECT_EQ(TerminalBidi::cacheStatistics().contentCacheMisses, 1u);

    {
        TerminalLockGuard guard(f.t().terminalLock());
        EXPECT_TRUE(std::holds_alternative<std::optional<BidiRowLayout>>(
            TerminalBidi::collectLayout(1, f.buffer(), 4, f.t(), BidiHostPolicy::respectTerminal)))
            << "unchanged rows are answered from the cache";
    }
    // The same text scrolled down a row is re-based from the content cache, not typeset again.
    f.t().feed(std::string_view("\x1b[H\x1bM"));
    f.t().feed(bidiControls(implicitAuto)); // the new top row takes the state
    const auto moved = f.layout(2);
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->visualToLogicalCol, (std::vector<int>{3, 2, 1, 0}));
    EXPECT_EQ(TerminalBidi::cacheStatistics().contentCacheHits, 1u);
    EXPECT_EQ(TerminalBidi::cacheStatistics().contentCacheMisses, 1u);
}

TEST(TerminalBidiLayoutTests, CachesAreEmptiedWholeAtTheirLimit)
{
    TerminalBidi::clearCaches();
    const int rows = int(TerminalBidi::cacheLimit) + 1;
    BidiFixture f(6, rows);
    std::string text;
    for (int row = 0; row < rows; ++row)
        text += "\xd7\x90" + std::to_string(row) + (row + 1 < rows ? "\r\n" : "");
    f.write(text, implicitAuto);
    for (int row = 0; row < rows - 1; ++row)
        ASSERT_TRUE(f.layout(row));
    EXPECT_EQ(TerminalBidi::cacheStatistics().paragraphEntries, TerminalBidi::cacheLimit);
    EXPECT_EQ(TerminalBidi::cacheStatistics().contentEntries, TerminalBidi::cacheLimit);
    ASSERT_TRUE(f.layout(rows - 1));
    EXPECT_EQ(TerminalBidi::cacheStatistics().paragraphEntries, 1u) << "emptied, then the new entry";
    EXPECT_EQ(TerminalBidi::cacheStatistics().contentEntries, 1u);
}

TEST(TerminalBidiLayoutTests, TerminalsOnSeveralThreadsShareTheCaches)
{
    // Every view's render thread uses the one process-wide cache; typesetting runs outside its
    // lock while other threads look up and store.
    std::vector<std::thread> threads;
    std::atomic<int> laidOut{0};
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&laidOut, t] {
            BidiFixture f(6, 4);
            for (int round = 0; round < 40; ++round) {
                f.write("\xd7\x90" + std::to_string(round % 7 + t) + " \xd8\xa8\xd8\xa8 (x)", implicitAuto);
                for (int row = 0; row < 3; ++row)
                    laidOut += f.layout(row).has_value();
                if (round % 10 == 0)
                    TerminalBidi::clearCaches();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_GE(laidOut.load(), 3 * 40);
    EXPECT_LE(TerminalBidi::cacheStatistics().paragraphEntries, TerminalBidi::cacheLimit);
}

TEST(TerminalBidiLayoutDeathTest, CollectingReadsTheBufferOnlyUnderTheTerminalLock)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            BidiFixture f(4, 2);
            TerminalBidi::collectLayout(0, f.buffer(), 4, f.t(), BidiHostPolicy::respectTerminal);
        },
        "the calling thread must hold the terminal lock");
}

} // namespace
} // namespace kestrovan
