#include "Kestrovan/SearchService.h"

#include "Kestrovan/Buffer.h"
#include "Kestrovan/SelectionService.h"
#include "Kestrovan/Terminal.h"

#include <algorithm>

namespace kestrovan {

SearchService::SearchService(std::weak_ptr<Terminal> terminal)
    : lineCache(terminal), engine(terminal, lineCache), terminal_(std::move(terminal))
{}

SearchSelection SearchService::selectionFor(const SearchResult& result, int cols)
{
    const Position start(result.col, result.row);
    if (result.size < 1)
        return SearchSelection{start, start};
    // The match's size counts whole rows in steps of the width, so its end is found in a flat
    // cell index.
    const int64_t width = std::max(cols, 1);
    const int64_t endIndex = result.row * width + result.col + result.size;
    return SearchSelection{start, Position(endIndex % width, endIndex / width)};
}

std::optional<SearchSelection> SearchService::currentSearchSelection(const SelectionService& selection)
{
    if (!selection.active())
        return std::nullopt;
    return SearchSelection{std::min(selection.start(), selection.end()),
                           std::max(selection.start(), selection.end())};
}

// One step: the engine continues from `lastSelection` (after it for the same term, at it for a
// changed one), and the match found becomes the next step's starting point.
std::optional<SearchResult> SearchService::find(std::string_view term, const SearchOptions& options,
                                                bool forward)
{
    if (term.empty()) {
        lastResult.reset();
        lastSelection.reset();
        state = SearchState();
        return std::nullopt;
    }
    state.lastSearchOptions = options;
    std::optional<SearchResult> result =
        forward ? engine.findNextWithSelection(term, options, state.cachedSearchTerm, lastSelection)
                : engine.findPreviousWithSelection(term, options, state.cachedSearchTerm, lastSelection);
    state.cachedSearchTerm = std::string(term);
    lastResult = result;
    if (!result) {
        lastSelection.reset();
    } else {
        const std::shared_ptr<Terminal> owner = terminal_.lock();
        lastSelection = selectionFor(*result, owner ? owner->cols() : 1);
    }
    return result;
}

std::optional<SearchResult> SearchService::findNext(std::string_view term, const SearchOptions& options)
{
    return find(term, options, true);
}

std::optional<SearchResult> SearchService::findPrevious(std::string_view term, const SearchOptions& options)
{
    return find(term, options, false);
}

// The find bar's step. Starting from the live selection rather than the remembered match lets a
// selection the user made between steps be where the next step starts.
std::optional<SearchResult> SearchService::step(SelectionService& selection, std::string_view term,
                                                const SearchOptions& options, bool forward)
{
    lastSelection = currentSearchSelection(selection);
    std::optional<SearchResult> result = find(term, options, forward);
    if (!result) {
        selection.selectNone();
        return result;
    }
    const std::shared_ptr<Terminal> owner = terminal_.lock();
    const SearchSelection cells = selectionFor(*result, owner ? owner->cols() : 1);
    selection.setSelection(cells.start, cells.end);
    return result;
}

void SearchService::invalidate()
{
    lineCache.invalidate();
    lastResult.reset();
    lastSelection.reset();
}

void SearchService::invalidateForOutput()
{
    lastResult.reset();
    lastSelection.reset();
}

void SearchService::reset()
{
    invalidate();
    state = SearchState();
}

void SearchService::forget()
{
    lastResult.reset();
    lastSelection.reset();
    state = SearchState();
}

// The count is bounded by `limit` so that a term matching on every row of a long scrollback does
// not make every keystroke in the find bar count them all.
std::pair<int, int> SearchService::matchSummary(std::string_view term, const SearchOptions& options,
                                                int limit)
{
    const std::vector<SearchResult> matches =
        term.empty() ? std::vector<SearchResult>() : engine.findAll(term, options, limit);
    int index = 0;
    if (lastResult) {
        const auto found = std::find_if(matches.begin(), matches.end(), [&](const SearchResult& match) {
            return match.row == lastResult->row && match.col == lastResult->col;
        });
        if (found != matches.end())
            index = static_cast<int>(found - matches.begin()) + 1;
    }
    return {index, static_cast<int>(matches.size())};
}

// The alternate screen has no scrollback to move through, so a match there is always on screen.
std::optional<int64_t> SearchService::revealTopRow(int64_t row) const
{
    const std::shared_ptr<Terminal> owner = terminal_.lock();
    if (!owner || owner->isCurrentBufferAlternate())
        return std::nullopt;
    const Buffer& buffer = owner->buffer();
    const int64_t height = buffer.rows();
    const int64_t top = buffer.yDisp();
    if (height < 1 || (row >= top && row <= top + height - 1))
        return std::nullopt;
    return std::min(std::max<int64_t>(buffer.lines().count() - height, 0),
                    std::max<int64_t>(row - height / 2, 0));
}

} // namespace kestrovan
