// Search over fed text: matches across soft wraps and wide characters, whole words, full case
// folding, regular expressions with empty matches, next and previous with wrap-around, the match
// summary, and the line cache's reuse and invalidation.
#include "RecordingTerminalDelegate.h"

#include "Kestrovan/SearchService.h"
#include "Kestrovan/SelectionService.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

constexpr SearchOptions plain{false, false, false};
constexpr SearchOptions exact{true, false, false};
constexpr SearchOptions regex{true, true, false};

struct SearchFixture : TerminalFixture
{
    SearchService search{terminal};
    std::shared_ptr<SelectionService> selection = SelectionService::create(terminal, false);

    SearchFixture(int cols, int rows, int scrollback = 100) : TerminalFixture(cols, rows, scrollback) {}

    /// (col, row, size) of every match.
    std::vector<std::tuple<int64_t, int64_t, int64_t>> all(std::string_view term, SearchOptions options,
                                                           int limit = 100)
    {
        std::vector<std::tuple<int64_t, int64_t, int64_t>> out;
        for (const SearchResult& r : search.engine.findAll(term, options, limit))
            out.emplace_back(r.col, r.row, r.size);
        return out;
    }
    std::optional<std::pair<int64_t, int64_t>> step(std::string_view term, SearchOptions options,
                                                    bool forward)
    {
        const auto result = search.step(*selection, term, options, forward);
        if (!result)
            return std::nullopt;
        return std::make_pair(result->col, result->row);
    }
};

using Matches = std::vector<std::tuple<int64_t, int64_t, int64_t>>;

TEST(SearchEngineTests, MatchesMapToTheCellsTheyCover)
{
    SearchFixture f(10, 4);
    // "hello" starts on column 7 and wraps into the next row.
    f.t().feed("xxxxxxxhello world\r\n\xe4\xb8\xad\xe6\x96\x87"
               "abc\r\nxx stra\xc3\x9f"
               "e yy");
    EXPECT_EQ(f.all("hello", plain), (Matches{{7, 0, 5}})) << "a term split by a soft wrap";
    EXPECT_EQ(f.all("abc", plain), (Matches{{4, 2, 3}})) << "wide characters shift the column by two";
    EXPECT_EQ(f.all("STRASSE", plain), (Matches{{3, 3, 6}}))
        << "full case folding: six cells for \"stra\xc3\x9f"
           "e\"";
    EXPECT_EQ(f.all("STRASSE", exact), Matches{});
    EXPECT_EQ(f.all("\xc3\x9f", plain), (Matches{{7, 3, 1}}));
    EXPECT_EQ(f.all("s", plain).size(), 1u) << "half of a folded \xc3\x9f is no match";

    const auto viaRegex = f.search.engine.findAll("wor.d", regex, 10);
    ASSERT_EQ(viaRegex.size(), 1u);
    EXPECT_EQ(viaRegex[0].term, "world") << "a regular-expression result names the matched text";
}

TEST(SearchEngineTests, WholeWordsAndCombiningMarks)
{
    SearchFixture f(40, 3);
    f.t().feed("foo_bar (bar) bar_ xbar bar\r\ncafe\xcc\x81 cafe");
    constexpr SearchOptions wholeWord{false, false, true};
    EXPECT_EQ(f.all("bar", wholeWord), (Matches{{9, 0, 3}, {24, 0, 3}}));
    EXPECT_EQ(f.all("bar", plain).size(), 5u);
    EXPECT_EQ(f.all("cafe", exact), (Matches{{5, 1, 4}})) << "no match ends inside \"e\" + U+0301";
    EXPECT_EQ(f.all("bar", SearchOptions{true, true, true}), (Matches{{9, 0, 3}, {24, 0, 3}}));
}

TEST(SearchEngineTests, EmptyRegularExpressionMatchesAreNeverResults)
{
    SearchFixture f(20, 3);
    f.t().feed("xxa xb\r\nnone here");
    EXPECT_EQ(f.all("x*", regex), (Matches{{0, 0, 2}, {4, 0, 1}})) << "find-all steps past empty matches";
    EXPECT_EQ(f.all("^", regex), Matches{}) << "a pattern of empty matches finds nothing";
    EXPECT_EQ(f.all("(", regex), Matches{}) << "an invalid pattern finds nothing";
    EXPECT_EQ(f.step("^", regex, true), std::nullopt);

    // Find-next moves through the non-empty matches and wraps instead of sticking on an empty one.
    EXPECT_EQ(f.step("x*", regex, true), std::make_pair(int64_t(0), int64_t(0)));
    EXPECT_EQ(f.step("x*", regex, true), std::make_pair(int64_t(4), int64_t(0)));
    EXPECT_EQ(f.step("x*", regex, true), std::make_pair(int64_t(0), int64_t(0)));
    EXPECT_EQ(f.step("x*", regex, false), std::make_pair(int64_t(4), int64_t(0)));
}

TEST(SearchEngineTests, AHostilePatternStopsTheSearchInsteadOfHoldingTheLock)
{
    SearchFixture f(40, 5, 500);
    for (int i = 0; i < 400; ++i)
        f.t().feed(std::string(30, 'a') + "b\r\n");
    EXPECT_EQ(f.all("(a+)+$", regex), Matches{});
    EXPECT_TRUE(f.search.engine.lastSearchStopped()) << "the step budget ran out long before the last line";
    EXPECT_EQ(f.all("b$", regex, 1000).size(), 400u);
    EXPECT_FALSE(f.search.engine.lastSearchStopped());
}

TEST(SearchEngineTests, NextAndPreviousWrapAndTheSummaryFollows)
{
    SearchFixture f(20, 3);
    f.t().feed("ab ab\r\nzz\r\nab");
    using P = std::pair<int64_t, int64_t>;
    EXPECT_EQ(f.step("ab", plain, true), P(0, 0));
    EXPECT_EQ(f.step("ab", plain, true), P(3, 0));
    EXPECT_EQ(f.search.matchSummary("ab", plain, 10), std::make_pair(2, 3));
    EXPECT_EQ(f.step("ab", plain, true), P(0, 2));
    EXPECT_EQ(f.search.matchSummary("ab", plain, 2), std::make_pair(0, 2)) << "beyond the limit";
    EXPECT_EQ(f.step("ab", plain, true), P(0, 0)) << "wraps from the last match to the first";
    EXPECT_EQ(f.step("ab", plain, false), P(0, 2)) << "and back from the first to the last";
    EXPECT_EQ(f.step("ab", plain, false), P(3, 0));
    EXPECT_EQ(f.selection->getSelectedText(), "ab");

    // A longer term keeps the current match while it still matches there.
    f.t().feed(" abc");
    EXPECT_EQ(f.step("ab", plain, true), P(0, 2));
    EXPECT_EQ(f.step("abc", plain, true), P(3, 2));

    EXPECT_EQ(f.step("", plain, true), std::nullopt);
    EXPECT_FALSE(f.selection->active()) << "an empty term clears the selection";
    f.search.reset();
    EXPECT_EQ(f.search.matchSummary("ab", plain, 10).first, 0);
}

TEST(SearchEngineTests, TheLineCacheRereadsOnlyChangedLines)
{
    SearchFixture f(20, 5, 2000);
    std::string output;
    for (int i = 0; i < 1000; ++i)
        output += (i % 100 == 0 ? "needle " : "hay ") + std::to_string(i) + "\r\n";
    f.t().feed(output);
    ASSERT_EQ(f.all("needle", plain, 100).size(), 10u);
    const SearchLineCacheCounters cold = f.search.lineCache.counters();
    EXPECT_GE(cold.rowsExtracted, 1000u);

    f.t().feed("one more needle\r\n");
    f.step("needle", plain, true);
    f.search.matchSummary("needle", plain, 100);
    const SearchLineCacheCounters warm = f.search.lineCache.counters();
    EXPECT_LE(warm.rowsExtracted - cold.rowsExtracted, 2u) << "one new line is read, not the scrollback";
    EXPECT_EQ(warm.drops, cold.drops);
    EXPECT_EQ(f.all("needle", plain, 100).size(), 11u);

    // Rewriting a row is seen; switching to the alternate screen drops the cache.
    f.t().feed("\x1b[1;1Hneedle");
    EXPECT_EQ(f.all("needle", plain, 100).size(), 12u);
    f.t().feed("\x1b[?1049hneedle");
    EXPECT_EQ(f.all("needle", plain, 100), (Matches{{6, 0, 6}})) << "only the alternate screen is searched";
    EXPECT_EQ(f.search.lineCache.counters().drops, warm.drops + 1);
}

TEST(SearchEngineTests, RevealRowPutsAMatchMidScreen)
{
    SearchFixture f(10, 4, 100);
    for (int i = 0; i < 20; ++i)
        f.t().feed("row\r\n");
    const int64_t top = f.buffer().yDisp();
    EXPECT_EQ(f.search.revealTopRow(top + 1), std::nullopt) << "already visible";
    EXPECT_EQ(f.search.revealTopRow(5), std::optional<int64_t>(3));
    EXPECT_EQ(f.search.revealTopRow(0), std::optional<int64_t>(0));
    f.t().feed("\x1b[?1049h");
    EXPECT_EQ(f.search.revealTopRow(0), std::nullopt) << "the alternate screen does not scroll";
}

TEST(SearchEngineTests, CellsPastANarrowedAlternateScreensEdgeAreNotSearched)
{
    // The alternate screen does not reflow: narrowed, its lines keep their cells past the new
    // edge, unseen. A search finds only what the screen shows.
    SearchFixture f(18, 4);
    f.terminal->feed("\x1b[?1049h\x1b[2;3Hab xb\x1b[3;1Hb");
    f.terminal->terminalLock().withLock([&] {
        f.terminal->resize(3, 4);
        f.search.invalidate();
    });
    EXPECT_EQ(f.all("b", exact), (std::vector<std::tuple<int64_t, int64_t, int64_t>>{{0, 2, 1}}));
    f.terminal->terminalLock().withLock([&] {
        f.terminal->resize(18, 4);
        f.search.invalidate();
    });
    EXPECT_EQ(f.all("b", exact).size(), 3u) << "widened again, the cells show and are found";
}

} // namespace
} // namespace kestrovan::testing
