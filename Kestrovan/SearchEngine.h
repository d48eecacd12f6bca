// Finding a term in a terminal's current buffer, screen and scrollback alike: plain text (exact,
// or after full Unicode case folding), or an ICU regular expression; optionally whole words only.
//
// The engine searches logical lines from `SearchLineCache`, so a match may cross a soft wrap, and
// maps matches back to cells through the cache's boundary tables: offsets count characters (one
// per cell), never UTF-16 units. Plain matches must begin and end on character boundaries; a
// regular-expression match is widened to the characters it touches.
//
// Two rules keep every search finite and the terminal lock short. Empty matches are never results:
// find-all steps one character past one, and next and previous skip it, so a pattern such as "x*"
// or "^" finds only its non-empty matches (none, when it can only match the empty string).
// Regular expressions run under Platform/Regex's per-line limits and, across the whole operation,
// a shared step budget: a hostile pattern stops the search instead of holding the lock line after
// line. Plain search is linear in the text.
#pragma once

#include "Kestrovan/SearchOptions.h"
#include "Platform/Regex/Regex.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrovan {

class Terminal;
class SearchLineCache;
struct SearchLineEntry;

/// A column and buffer row a search starts from; the search may move it (see `findInLine`).
struct SearchPosition
{
    int64_t col = 0;
    int64_t row = 0;
};

class SearchEngine
{
public:
    /// Matcher steps one search operation may spend on regular expressions in all (about 25 ms of
    /// backtracking on a current core); each line keeps Platform/Regex's own smaller limit.
    static constexpr int64_t operationStepBudget = 200;

    SearchEngine(std::weak_ptr<Terminal> terminal, SearchLineCache& lineCache);

    /// One match in the logical line holding `position`: forward, the first one starting at or
    /// after it; in reverse, the last one ending at or before it. A forward search from a
    /// continuation row moves `position` up to the line's first row; a reverse one adds a row's
    /// width to its column and finds nothing, leaving the line to the caller's next (upper) row.
    std::optional<SearchResult> findInLine(std::string_view term, SearchPosition& position,
                                           const SearchOptions& options, bool isReverseSearch);
    /// The next match after the previous selection (from its end when the term is unchanged,
    /// else from its start), wrapping from the end of the buffer to its start.
    std::optional<SearchResult>
    findNextWithSelection(std::string_view term, const SearchOptions& options,
                          const std::optional<std::string>& cachedSearchTerm,
                          const std::optional<SearchSelection>& previousSelection);
    /// The match before the previous selection, wrapping from the start to the end; a changed
    /// term first tries to keep the current match.
    std::optional<SearchResult>
    findPreviousWithSelection(std::string_view term, const SearchOptions& options,
                              const std::optional<std::string>& cachedSearchTerm,
                              const std::optional<SearchSelection>& previousSelection);
    /// Up to `limit` matches in buffer order, none overlapping.
    std::vector<SearchResult> findAll(std::string_view term, const SearchOptions& options, int limit);

    /// Whether characters `from` ..< `to` of a line have a blank, punctuation other than "_", or
    /// the line's end on each side.
    static bool isWholeWord(const SearchLineEntry& entry, int32_t from, int32_t to);
    /// The character offset of `cols` columns into the logical line (continuing into its wrapped
    /// rows in steps of the terminal's width).
    static int32_t bufferColsToStringOffset(const SearchLineEntry& entry, int64_t cols, int terminalCols);

    /// True when the last operation's regular expression ran out of steps and stopped early.
    bool lastSearchStopped() const { return lastSearchStopped_; }

private:
    struct Query;
    struct CharacterRange
    {
        int32_t from = 0;
        int32_t to = 0;
    };
    struct CompiledRegex
    {
        std::string pattern;
        bool caseSensitive = false;
        std::optional<platform::Regex> regex;
    };

    Query prepare(std::string_view term, const SearchOptions& options);
    /// Prepares `term` and runs `search` with it, noting whether it stopped early; an empty term
    /// finds nothing.
    template <typename Search>
    std::optional<SearchResult> runSearch(std::string_view term, const SearchOptions& options,
                                          Search&& search);
    std::optional<CharacterRange> matchForward(const SearchLineEntry& entry, int32_t from,
                                               Query& query) const;
    std::optional<CharacterRange> matchBackward(const SearchLineEntry& entry, int32_t to, Query& query) const;
    /// Every non-empty regular-expression match of a line in order, to `handler` until it returns false.
    template <typename Handler>
    void forEachRegexMatch(const SearchLineEntry& entry, Query& query, Handler&& handler) const;
    std::optional<SearchResult> findInLine(SearchPosition& position, Query& query, bool isReverseSearch);
    SearchResult resultFor(const SearchLineEntry& entry, int64_t row, CharacterRange range,
                           const Query& query) const;
    bool isContinuation(int64_t row) const;
    int terminalCols() const;
    int64_t lineCount() const;

    std::weak_ptr<Terminal> terminal_;
    SearchLineCache& lineCache_;
    std::optional<CompiledRegex> compiledRegex_;
    bool lastSearchStopped_ = false;
};

} // namespace kestrovan
