// The search state of one terminal: the last term, options, match and selection, so that "next"
// and "previous" continue from the current match, plus the line cache and engine that do the work.
//
// Every call runs under the terminal lock, taken by the view or host that calls. The view's find
// operations (find next or previous with scrolling, clear, the find bar's match summary) are thin
// wrappers: they take the lock, call `step` or `matchSummary`, and scroll to `revealTopRow`.
// `invalidate` keeps the term, so the next step restarts from the live selection; the owner calls
// it whenever the terminal is resized. Each feed of output calls `invalidateForOutput`, which
// keeps the line cache. `reset` forgets everything.
#pragma once

#include "Kestrovan/SearchEngine.h"
#include "Kestrovan/SearchLineCache.h"
#include "Kestrovan/SearchOptions.h"
#include "Kestrovan/SearchState.h"

#include <memory>
#include <optional>
#include <string_view>
#include <utility>

namespace kestrovan {

class SelectionService;
class Terminal;

class SearchService
{
public:
    explicit SearchService(std::weak_ptr<Terminal> terminal);

    SearchService(const SearchService&) = delete;
    SearchService& operator=(const SearchService&) = delete;

    /// One step forwards or backwards from `lastSelection`; an empty term forgets the search.
    std::optional<SearchResult> findNext(std::string_view term, const SearchOptions& options);
    std::optional<SearchResult> findPrevious(std::string_view term, const SearchOptions& options);
    /// A find-bar step on a selection: starts from the live selection (so a selection the user made
    /// between steps is the starting point), selects the match found, or clears the selection when
    /// there is none.
    std::optional<SearchResult> step(SelectionService& selection, std::string_view term,
                                     const SearchOptions& options, bool forward);
    /// Drops the line cache and the current match; the term and options stay.
    void invalidate();
    /// Output changed the buffer: drops the current match and the selection a step continues
    /// from, whose rows may now hold other text, but keeps the line cache, whose entries check
    /// their lines' identity and content generation when read. So a search after one new line of
    /// output re-reads that line, not the whole scrollback.
    void invalidateForOutput();
    /// Forgets the search entirely.
    void reset();
    /// Forgets the term, the options and the current match, so the next step starts afresh, but
    /// keeps the line cache: the lines did not change (clearing the find bar's field between two
    /// terms must not make the next term read the whole scrollback again).
    void forget();

    /// The find bar's summary: the current match's place among the first `limit` matches (from 1,
    /// or 0 when it is not among them or there is none) and how many there are.
    std::pair<int, int> matchSummary(std::string_view term, const SearchOptions& options, int limit);
    /// The top line that shows buffer row `row` in the middle of the screen, where scrollback allows;
    /// absent when the row is on screen already, on the alternate screen, or with no rows.
    std::optional<int64_t> revealTopRow(int64_t row) const;

    /// The cells of a match as a selection: from its first cell to the cell after it.
    static SearchSelection selectionFor(const SearchResult& result, int cols);
    /// The live selection's two ends, earlier first; absent when it is inactive.
    static std::optional<SearchSelection> currentSearchSelection(const SelectionService& selection);

    SearchState state;
    std::optional<SearchSelection> lastSelection;
    std::optional<SearchResult> lastResult;
    SearchLineCache lineCache;
    SearchEngine engine;

private:
    std::optional<SearchResult> find(std::string_view term, const SearchOptions& options, bool forward);

    std::weak_ptr<Terminal> terminal_;
};

} // namespace kestrovan
