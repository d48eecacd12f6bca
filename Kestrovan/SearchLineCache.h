// The text of logical lines as search reads it, built once and kept while the lines are unchanged.
//
// A logical line is a row and its soft-wrapped continuations joined into one string, so a term is
// found across a wrap. Each cell gives one character (its grapheme cluster; an empty cell reads
// as a space; the right half of a wide character gives nothing), held as UTF-16 for the matcher,
// with a boundary table from characters to UTF-16 offsets and the column of each character, so
// that a match maps back to cells exactly. Lines of single-unit, single-width characters (nearly
// all of them) need neither table: their character index is their offset and their column.
//
// Entries are keyed by absolute row (lines trimmed from the scrollback so far plus the ring
// index), which stays put while new output scrolls the ring, and each entry remembers the line
// objects and content generations it was built from. A lookup rebuilds an entry only when one of
// its lines changed, so a search after one new line of output re-reads that line alone. A switch
// of buffer or width drops the whole cache. Everything runs under the terminal lock.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrovan {

class Buffer;
class BufferLine;
class Terminal;

/// One logical line's text and the maps back to its cells.
struct SearchLineEntry
{
    struct RowStamp
    {
        std::shared_ptr<BufferLine> line;
        uint64_t generation = 0;
    };

    // The fields a search reads for every line come first, so a kept line costs few cache lines.
    /// False for a slot that holds no line yet.
    bool present = false;
    /// The first row's line and content generation when the entry was built; the rows after it
    /// are in `wrapStamps`. Kept apart, as are the rows' starts, so a one-row line allocates no
    /// tables.
    RowStamp firstStamp;
    /// The characters as UTF-16.
    std::u16string text;
    /// The character offset at which each row after the first begins (the first begins at 0).
    std::vector<int32_t> wrapStarts;
    std::vector<RowStamp> wrapStamps;

    /// The tables of a line whose characters are not all one unit on one column of their own.
    struct Details
    {
        /// The UTF-16 offset of each character and, last, of the end.
        std::vector<int32_t> unitStarts;
        /// The column of each character in its row, and the columns it covers (2 for a wide one).
        std::vector<int32_t> columns;
        std::vector<uint8_t> widths;
    };
    /// Absent for a simple line, where a character's index is its UTF-16 offset and, counted
    /// from its row's start, its column.
    std::unique_ptr<Details> details;

    /// The text after full case folding and the folded offset of each character (and the end).
    struct Folded
    {
        std::u16string text;
        std::vector<int32_t> starts;
    };
    /// Built on the first case-insensitive search of this line.
    mutable std::unique_ptr<Folded> folded;

    size_t rowCount() const { return 1 + wrapStarts.size(); }
    /// The character offset at which row `index` of the line begins.
    int32_t rowStart(size_t index) const { return index == 0 ? 0 : wrapStarts[index - 1]; }
    /// The offset after row `index`'s last character.
    int32_t rowEnd(size_t index) const
    {
        return index + 1 < rowCount() ? wrapStarts[index] : characterCount();
    }
    const RowStamp& stamp(size_t index) const { return index == 0 ? firstStamp : wrapStamps[index - 1]; }
    int32_t characterCount() const
    {
        return static_cast<int32_t>(details ? details->unitStarts.size() - 1 : text.size());
    }
    int32_t unitOffset(int32_t character) const
    {
        return details ? details->unitStarts[static_cast<size_t>(character)] : character;
    }
    /// The character holding UTF-16 offset `unit`; the count for the end.
    int32_t characterAtOrBefore(int32_t unit) const;
    /// The first character that starts at or after `unit`.
    int32_t characterAtOrAfter(int32_t unit) const;
    /// The character offset whose UTF-16 offset is exactly `unit`, when one is.
    std::optional<int32_t> characterStartingAt(int32_t unit) const;
    /// The column of character `character` in its row, and the column after it.
    int32_t columnOf(int32_t character, size_t rowIndex) const;
    int32_t columnAfter(int32_t character, size_t rowIndex) const;
    /// The index of the row that holds character offset `offset` (the last row whose start is at
    /// or before it).
    size_t rowIndexOf(int32_t offset) const;
    /// The UTF-16 units of one character.
    std::u16string_view characterUnits(int32_t character) const;
    /// Builds `folded` when it is not yet built.
    void buildFolded() const;
};

/// Counts of the cache's work, for tests and benchmarks to show what a search cost.
struct SearchLineCacheCounters
{
    /// Entries built from buffer lines, and the rows read for them.
    uint64_t entriesBuilt = 0;
    uint64_t rowsExtracted = 0;
    /// Lookups answered by a kept entry.
    uint64_t entriesReused = 0;
    /// Kept entries found stale (a line of them changed) and rebuilt.
    uint64_t entriesStale = 0;
    /// Times the whole cache was dropped (another buffer or width, or an invalidation).
    uint64_t drops = 0;

    friend bool operator==(const SearchLineCacheCounters&, const SearchLineCacheCounters&) = default;
};

class SearchLineCache
{
public:
    explicit SearchLineCache(std::weak_ptr<Terminal> terminal) : terminal_(std::move(terminal)) {}

    /// Lines the cache up with the terminal's current buffer before a search: drops everything for
    /// another buffer or width, and forgets rows trimmed from the scrollback.
    void initLinesCache();
    /// The entry of the logical line that starts at ring row `row` of the current buffer (built or
    /// rebuilt when needed); null outside the buffer. Valid until the next call.
    const SearchLineEntry* entry(int64_t row);
    /// Builds the entry of the logical line starting at ring row `row` of `buffer`.
    static SearchLineEntry translateBufferLineToStringWithWrap(Buffer& buffer, int64_t row, bool trimRight);
    /// Forgets every entry.
    void invalidate();
    /// Asks the processor for the memory of ring row `row` and its kept entry ahead of a search
    /// that reads rows in order (a scrollback's lines lie scattered in memory): first the line and
    /// entry objects, then, some rows later, the cells and text they point to.
    enum class PrefetchStage : uint8_t
    {
        objects,
        contents,
    };
    void prefetch(Buffer& buffer, int64_t row, PrefetchStage stage) const;

    const SearchLineCacheCounters& counters() const { return counters_; }

private:
    bool isCurrent(const SearchLineEntry& entry, Buffer& buffer, int64_t row) const;

    std::weak_ptr<Terminal> terminal_;
    std::weak_ptr<Buffer> buffer_;
    int cols_ = -1;
    /// The absolute row of `entries_[0]`.
    int64_t firstAbsoluteRow_ = 0;
    std::deque<SearchLineEntry> entries_;
    SearchLineCacheCounters counters_;
};

} // namespace kestrovan
