#include "Kestrovan/SearchEngine.h"

#include "Kestrovan/Buffer.h"
#include "Kestrovan/SearchLineCache.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/Utf8.h"
#include "Platform/Regex/RegexText.h"
#include "Platform/Regex/UnicodeProperties.h"

#include <algorithm>

namespace kestrovan {

namespace {

/// The space and every ASCII punctuation character but "_": what may stand beside a whole word.
bool isNonWordUnit(char16_t unit)
{
    return unit < 0x80 &&
           std::u16string_view(u" ~!@#$%^&*()+`-=[]{}|\\;:\"',./<>?").find(unit) != std::u16string_view::npos;
}

std::u16string utf16(std::string_view text)
{
    return std::u16string(platform::RegexText::fromUtf8(text).units());
}

std::string utf8(std::u16string_view units)
{
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        char32_t scalar = units[i];
        if (scalar >= 0xD800 && scalar <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            scalar = 0x10000 + ((scalar - 0xD800) << 10) + (char32_t(units[i + 1]) - 0xDC00);
            ++i;
        } else if (scalar >= 0xD800 && scalar <= 0xDFFF) {
            scalar = 0xFFFD;
        }
        appendUtf8(out, scalar);
    }
    return out;
}

/// The text a literal search runs over, the line as it is or its case-folded copy, and the way
/// back from a unit offset in it to the character that starts there.
class LiteralText
{
public:
    LiteralText(const SearchLineEntry& entry, bool folded) : entry_(entry), folded_(folded)
    {
        if (folded)
            entry.buildFolded();
    }

    std::u16string_view units() const
    {
        return folded_ ? std::u16string_view(entry_.folded->text) : std::u16string_view(entry_.text);
    }

    /// The unit offset where character `character` (or the end, one past the last) starts.
    size_t unitOf(int32_t character) const
    {
        return static_cast<size_t>(folded_ ? entry_.folded->starts[static_cast<size_t>(character)]
                                           : entry_.unitOffset(character));
    }

    /// The characters `length` units at `unit` cover, when both ends fall on a character's start
    /// and, for `wholeWord`, no word goes on past either end. Only whole characters match: "e" is
    /// not found inside "é" written as e + U+0301.
    std::optional<std::pair<int32_t, int32_t>> match(size_t unit, size_t length, bool wholeWord) const
    {
        const std::optional<int32_t> first = characterStartingAt(unit);
        const std::optional<int32_t> last = characterStartingAt(unit + length);
        if (!first || !last || (wholeWord && !SearchEngine::isWholeWord(entry_, *first, *last)))
            return std::nullopt;
        return std::pair{*first, *last};
    }

private:
    std::optional<int32_t> characterStartingAt(size_t unit) const
    {
        if (!folded_)
            return entry_.characterStartingAt(static_cast<int32_t>(unit));
        const auto found = std::lower_bound(entry_.folded->starts.begin(), entry_.folded->starts.end(),
                                            static_cast<int32_t>(unit));
        if (found == entry_.folded->starts.end() || *found != static_cast<int32_t>(unit))
            return std::nullopt;
        return static_cast<int32_t>(found - entry_.folded->starts.begin());
    }

    const SearchLineEntry& entry_;
    bool folded_;
};

} // namespace

/// One operation's prepared term: the needle for plain text (folded when case does not matter),
/// or the compiled expression, and the operation's step budget.
struct SearchEngine::Query
{
    std::string term;
    SearchOptions options;
    std::u16string needle;
    const platform::Regex* regex = nullptr;
    platform::RegexStepBudget budget{operationStepBudget};
    bool stopped = false;

    bool folded() const { return !options.regex && !options.caseSensitive; }
};

SearchEngine::SearchEngine(std::weak_ptr<Terminal> terminal, SearchLineCache& lineCache)
    : terminal_(std::move(terminal)), lineCache_(lineCache)
{}

int SearchEngine::terminalCols() const
{
    const std::shared_ptr<Terminal> owner = terminal_.lock();
    return owner ? owner->cols() : 0;
}

int64_t SearchEngine::lineCount() const
{
    const std::shared_ptr<Terminal> owner = terminal_.lock();
    return owner ? owner->buffer().lines().count() : 0;
}

bool SearchEngine::isContinuation(int64_t row) const
{
    const std::shared_ptr<Terminal> owner = terminal_.lock();
    if (!owner || row < 0 || row >= owner->buffer().lines().count())
        return false;
    // Selections and searches are used under their terminal's lock.
    owner->terminalLock().assumeHeldByCaller();
    return owner->activeBuffer().lines()[static_cast<int>(row)]->isWrapped();
}

// Everything that depends only on the term is done once per operation, not once per line: the
// needle's conversion to UTF-16 and its case folding, or the expression's compilation.
SearchEngine::Query SearchEngine::prepare(std::string_view term, const SearchOptions& options)
{
    Query query;
    query.term = std::string(term);
    query.options = options;
    lastSearchStopped_ = false;
    if (!options.regex) {
        query.needle = utf16(term);
        if (query.folded())
            query.needle = platform::caseFolded(query.needle);
        return query;
    }
    // The compiled expression is kept for the next search with the same pattern and case rule,
    // also when it failed to compile, so a bad pattern is not compiled again on every keystroke.
    if (!compiledRegex_ || compiledRegex_->pattern != term ||
        compiledRegex_->caseSensitive != options.caseSensitive) {
        platform::RegexOptions regexOptions;
        regexOptions.caseInsensitive = !options.caseSensitive;
        compiledRegex_ = CompiledRegex{std::string(term), options.caseSensitive,
                                       platform::Regex::compile(term, regexOptions).regex};
    }
    query.regex = compiledRegex_->regex ? &*compiledRegex_->regex : nullptr;
    return query;
}

// --- Matching one line ---------------------------------------------------------------------------

bool SearchEngine::isWholeWord(const SearchLineEntry& entry, int32_t from, int32_t to)
{
    const auto nonWord = [&](int32_t character) {
        if (character < 0 || character >= entry.characterCount())
            return true;
        const std::u16string_view units = entry.characterUnits(character);
        return units.size() == 1 && isNonWordUnit(units[0]);
    };
    return nonWord(from - 1) && nonWord(to);
}

template <typename Handler>
void SearchEngine::forEachRegexMatch(const SearchLineEntry& entry, Query& query, Handler&& handler) const
{
    if (!query.regex || query.stopped)
        return;
    platform::RegexLimits limits;
    limits.budget = &query.budget;
    const platform::RegexOutcome outcome = query.regex->enumerateMatches(
        entry.text,
        [&](platform::RegexRange match) {
            // A match is widened to the characters it touches; one that covers no whole
            // character (an empty match, or one inside a cluster's gap) is no result.
            const CharacterRange range{entry.characterAtOrBefore(match.start),
                                       entry.characterAtOrAfter(match.end)};
            if (range.to <= range.from)
                return true;
            if (query.options.wholeWord && !isWholeWord(entry, range.from, range.to))
                return true;
            return handler(range);
        },
        limits);
    // Out of steps: the operation stops here. A single line that timed out on its own is only
    // skipped, while the operation's budget lasts.
    if (!outcome.completed() && query.budget.exhausted())
        query.stopped = true;
}

// The first match starting at or after character `from`. A regular expression is run over the
// whole line, not from `from`, so that anchors and look-behinds see the line as it is; matches
// that start earlier are passed over.
std::optional<SearchEngine::CharacterRange> SearchEngine::matchForward(const SearchLineEntry& entry,
                                                                       int32_t from, Query& query) const
{
    if (query.options.regex) {
        std::optional<CharacterRange> found;
        forEachRegexMatch(entry, query, [&](CharacterRange range) {
            if (range.from < from)
                return true;
            found = range;
            return false;
        });
        return found;
    }
    if (query.needle.empty())
        return std::nullopt;
    const LiteralText text(entry, query.folded());
    const std::u16string_view hay = text.units();
    size_t position = text.unitOf(from);
    while (true) {
        const size_t found = hay.find(query.needle, position);
        if (found == std::u16string_view::npos)
            return std::nullopt;
        if (const auto match = text.match(found, query.needle.size(), query.options.wholeWord))
            return CharacterRange{match->first, match->second};
        position = found + 1;
    }
}

// The last match ending at or before character `to`.
std::optional<SearchEngine::CharacterRange> SearchEngine::matchBackward(const SearchLineEntry& entry,
                                                                        int32_t to, Query& query) const
{
    if (query.options.regex) {
        std::optional<CharacterRange> found;
        forEachRegexMatch(entry, query, [&](CharacterRange range) {
            // Matches come in order without overlap: once one ends past `to`, so do the rest.
            if (range.to > to)
                return false;
            found = range;
            return true;
        });
        return found;
    }
    if (query.needle.empty())
        return std::nullopt;
    const LiteralText text(entry, query.folded());
    const std::u16string_view hay = text.units();
    const size_t limit = text.unitOf(to);
    if (limit < query.needle.size())
        return std::nullopt;
    size_t position = limit - query.needle.size();
    while (true) {
        const size_t found = hay.rfind(query.needle, position);
        if (found == std::u16string_view::npos)
            return std::nullopt;
        if (const auto match = text.match(found, query.needle.size(), query.options.wholeWord))
            return CharacterRange{match->first, match->second};
        if (found == 0)
            return std::nullopt;
        position = found - 1;
    }
}

// --- Offsets and results -------------------------------------------------------------------------

int32_t SearchEngine::bufferColsToStringOffset(const SearchLineEntry& entry, int64_t cols, int terminalCols)
{
    const size_t rowCount = entry.rowCount();
    size_t row = 0;
    // Columns past a row's width continue in its wrapped rows.
    while (terminalCols > 0 && cols > terminalCols && row + 1 < rowCount) {
        cols -= terminalCols;
        ++row;
    }
    const int32_t rowStart = entry.rowStart(row);
    const int32_t rowEnd = entry.rowEnd(row);
    if (cols <= 0)
        return rowStart;
    if (!entry.details)
        return static_cast<int32_t>(std::min<int64_t>(rowStart + cols, rowEnd));
    // The characters that start before the column.
    int32_t offset = rowStart;
    while (offset < rowEnd && entry.details->columns[static_cast<size_t>(offset)] < cols)
        ++offset;
    return offset;
}

// A match's cells: its first character's column and row, and its length counted across rows in
// steps of the terminal's width. A match that ends exactly at a row's end ends at column 0 of the
// next row, which gives the same length as the row's last column plus one.
SearchResult SearchEngine::resultFor(const SearchLineEntry& entry, int64_t row, CharacterRange range,
                                     const Query& query) const
{
    const size_t first = entry.rowIndexOf(range.from);
    const size_t last = entry.rowIndexOf(range.to);
    const int64_t col = entry.columnOf(range.from, first);
    const int64_t endCol = range.to == entry.rowStart(last) ? 0 : entry.columnAfter(range.to - 1, last);
    SearchResult result;
    if (query.options.regex) {
        const int32_t from = entry.unitOffset(range.from);
        result.term = utf8(
            std::u16string_view(entry.text)
                .substr(static_cast<size_t>(from), static_cast<size_t>(entry.unitOffset(range.to) - from)));
    } else {
        result.term = query.term;
    }
    result.col = col;
    result.row = row + static_cast<int64_t>(first);
    result.size = (endCol - col) + static_cast<int64_t>(terminalCols()) * static_cast<int64_t>(last - first);
    return result;
}

// --- Operations ----------------------------------------------------------------------------------

std::optional<SearchResult> SearchEngine::findInLine(std::string_view term, SearchPosition& position,
                                                     const SearchOptions& options, bool isReverseSearch)
{
    if (term.empty())
        return std::nullopt;
    lineCache_.initLinesCache();
    Query query = prepare(term, options);
    const std::optional<SearchResult> result = findInLine(position, query, isReverseSearch);
    lastSearchStopped_ = query.stopped;
    return result;
}

std::optional<SearchResult> SearchEngine::findInLine(SearchPosition& position, Query& query,
                                                     bool isReverseSearch)
{
    if (query.stopped || position.row < 0 || position.row >= lineCount())
        return std::nullopt;
    const int cols = terminalCols();
    // The line's text starts at its first row; a position on a continuation row is that many
    // widths into it.
    if (isContinuation(position.row)) {
        if (isReverseSearch) {
            // The row above holds the start of this line; it searches this part too.
            position.col += cols;
            return std::nullopt;
        }
        while (isContinuation(position.row)) {
            if (position.row == 0) {
                position.row = -1;
                return std::nullopt;
            }
            --position.row;
            position.col += cols;
        }
    }
    const SearchLineEntry* entry = lineCache_.entry(position.row);
    if (!entry)
        return std::nullopt;
    const int32_t offset =
        std::min(bufferColsToStringOffset(*entry, position.col, cols), entry->characterCount());
    const std::optional<CharacterRange> range =
        isReverseSearch ? matchBackward(*entry, offset, query) : matchForward(*entry, offset, query);
    if (!range)
        return std::nullopt;
    return resultFor(*entry, position.row, *range, query);
}

template <typename Search>
std::optional<SearchResult> SearchEngine::runSearch(std::string_view term, const SearchOptions& options,
                                                    Search&& search)
{
    if (term.empty())
        return std::nullopt;
    lineCache_.initLinesCache();
    Query query = prepare(term, options);
    std::optional<SearchResult> result = search(query);
    lastSearchStopped_ = query.stopped;
    return result;
}

std::optional<SearchResult>
SearchEngine::findNextWithSelection(std::string_view term, const SearchOptions& options,
                                    const std::optional<std::string>& cachedSearchTerm,
                                    const std::optional<SearchSelection>& previousSelection)
{
    return runSearch(term, options, [&](Query& query) -> std::optional<SearchResult> {
        // The same term continues after the current match; a changed one starts at it, so that a
        // growing term keeps its match while it still matches there.
        Position from;
        if (previousSelection)
            from = cachedSearchTerm && *cachedSearchTerm == term ? previousSelection->end
                                                                 : previousSelection->start;
        SearchPosition position{from.col, from.row};
        if (auto result = findInLine(position, query, false))
            return result;
        const int64_t count = lineCount();
        for (int64_t row = from.row + 1; row < count && !query.stopped; ++row) {
            if (isContinuation(row))
                continue;
            SearchPosition rowStart{0, row};
            if (auto result = findInLine(rowStart, query, false))
                return result;
        }
        for (int64_t row = 0; row < std::min(from.row, count) && !query.stopped; ++row) {
            if (isContinuation(row))
                continue;
            SearchPosition rowStart{0, row};
            if (auto result = findInLine(rowStart, query, false))
                return result;
        }
        // Last, the part of the start row before the current match.
        if (previousSelection) {
            SearchPosition rowStart{0, previousSelection->start.row};
            return findInLine(rowStart, query, false);
        }
        return std::nullopt;
    });
}

std::optional<SearchResult>
SearchEngine::findPreviousWithSelection(std::string_view term, const SearchOptions& options,
                                        const std::optional<std::string>& cachedSearchTerm,
                                        const std::optional<SearchSelection>& previousSelection)
{
    return runSearch(term, options, [&](Query& query) -> std::optional<SearchResult> {
        const int cols = terminalCols();
        const int64_t last = lineCount() - 1;
        // Reverse searches carry the column from row to row: a continuation row adds a width and
        // leaves its part to the row above, and a column past a line's end means the whole line.
        SearchPosition position{cols, last};
        if (previousSelection) {
            position = SearchPosition{previousSelection->start.col, previousSelection->start.row};
            if (!cachedSearchTerm || *cachedSearchTerm != term) {
                // A changed term keeps the current match while it still matches there.
                SearchPosition here = position;
                if (auto result = findInLine(here, query, false))
                    return result;
                position = SearchPosition{previousSelection->end.col, previousSelection->end.row};
            }
        }
        const int64_t startRow = position.row;
        if (auto result = findInLine(position, query, true))
            return result;
        position.col = std::max<int64_t>(cols, position.col);
        for (int64_t row = startRow - 1; row >= 0 && !query.stopped; --row) {
            position.row = row;
            if (auto result = findInLine(position, query, true))
                return result;
        }
        // Wrap around: from the last row up to the start row, which is searched whole this time.
        if (startRow != last) {
            for (int64_t row = last; row >= startRow && row >= 0 && !query.stopped; --row) {
                position.row = row;
                if (auto result = findInLine(position, query, true))
                    return result;
            }
        }
        return std::nullopt;
    });
}

std::vector<SearchResult> SearchEngine::findAll(std::string_view term, const SearchOptions& options,
                                                int limit)
{
    std::vector<SearchResult> results;
    if (term.empty() || limit < 1)
        return results;
    lineCache_.initLinesCache();
    Query query = prepare(term, options);
    const int64_t count = lineCount();
    const size_t wanted = static_cast<size_t>(limit);
    const std::shared_ptr<Terminal> owner = terminal_.lock();
    // Rows ahead are asked for early: each is a few scattered blocks of memory.
    constexpr int64_t objectDistance = 16;
    constexpr int64_t contentDistance = 8;
    for (int64_t row = 0; row < count && results.size() < wanted && !query.stopped; ++row) {
        if (owner) {
            // Selections and searches are used under their terminal's lock.
            owner->terminalLock().assumeHeldByCaller();
            lineCache_.prefetch(owner->activeBuffer(), row + objectDistance,
                                SearchLineCache::PrefetchStage::objects);
            lineCache_.prefetch(owner->activeBuffer(), row + contentDistance,
                                SearchLineCache::PrefetchStage::contents);
        }
        if (isContinuation(row))
            continue;
        const SearchLineEntry* entry = lineCache_.entry(row);
        if (!entry)
            continue;
        if (options.regex) {
            forEachRegexMatch(*entry, query, [&](CharacterRange range) {
                results.push_back(resultFor(*entry, row, range, query));
                return results.size() < wanted;
            });
            continue;
        }
        // Plain matches never overlap: each next search begins where the last match ended.
        int32_t from = 0;
        while (results.size() < wanted) {
            const std::optional<CharacterRange> range = matchForward(*entry, from, query);
            if (!range)
                break;
            results.push_back(resultFor(*entry, row, *range, query));
            from = range->to > range->from ? range->to : range->from + 1;
            if (from > entry->characterCount())
                break;
        }
    }
    lastSearchStopped_ = query.stopped;
    return results;
}

} // namespace kestrovan
