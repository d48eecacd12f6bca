#include "Kestrovan/SearchLineCache.h"

#include "Kestrovan/Buffer.h"
#include "Kestrovan/Terminal.h"
#include "Platform/Regex/UnicodeProperties.h"

#include <algorithm>

namespace kestrovan {

namespace {

bool isScalar(uint32_t value)
{
    return value < 0xD800 || (value > 0xDFFF && value <= 0x10FFFF);
}

void appendUnits(std::u16string& out, char32_t scalar)
{
    if (scalar < 0x10000) {
        out.push_back(static_cast<char16_t>(scalar));
    } else {
        scalar -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (scalar >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (scalar & 0x3FF)));
    }
}

/// Whether a cell shows a character (rather than being empty or only a coloured blank).
bool holdsCharacter(const CellArena& arena, PackedCell cell)
{
    switch (cell.kind()) {
    case PackedCell::Kind::scalar:
        return cell.content() != 0;
    case PackedCell::Kind::grapheme: {
        const std::u32string* scalars = arena.grapheme(cell.content());
        return scalars && !scalars->empty() && scalars->front() != 0;
    }
    case PackedCell::Kind::paletteBlank:
    case PackedCell::Kind::trueColorBlank:
        break;
    }
    return false;
}

/// Appends the character of a cell: its scalar or cluster, a space for an empty cell (and for
/// U+0000 inside a cluster), one space for a cell that holds no valid scalars.
void appendCellCharacter(std::u16string& out, const CellArena& arena, PackedCell cell)
{
    switch (cell.kind()) {
    case PackedCell::Kind::scalar: {
        const uint32_t value = cell.content();
        appendUnits(out, value != 0 && isScalar(value) ? static_cast<char32_t>(value) : U' ');
        return;
    }
    case PackedCell::Kind::grapheme: {
        const std::u32string* scalars = arena.grapheme(cell.content());
        if (!scalars || scalars->empty() ||
            !std::all_of(scalars->begin(), scalars->end(), [](char32_t s) { return isScalar(s); })) {
            out.push_back(u' ');
            return;
        }
        for (char32_t scalar : *scalars)
            appendUnits(out, scalar == 0 ? U' ' : scalar);
        return;
    }
    case PackedCell::Kind::paletteBlank:
    case PackedCell::Kind::trueColorBlank:
        break;
    }
    out.push_back(u' ');
}

/// Builds an entry's text and tables character by character, keeping the tables empty for as long
/// as every character is one unit on one column of its own.
class EntryBuilder
{
public:
    explicit EntryBuilder(SearchLineEntry& entry) : entry_(entry) {}

    void beginRow()
    {
        if (rows_++ > 0)
            entry_.wrapStarts.push_back(static_cast<int32_t>(count_));
        rowStart_ = count_;
    }

    void add(const CellArena& arena, PackedCell cell, int col, int width)
    {
        const size_t before = entry_.text.size();
        appendCellCharacter(entry_.text, arena, cell);
        const bool simple = entry_.text.size() == before + 1 && width == 1 && col == count_ - rowStart_;
        if (!simple && !detailed_)
            becomeDetailed();
        if (detailed_) {
            SearchLineEntry::Details& details = *entry_.details;
            details.unitStarts.push_back(static_cast<int32_t>(before));
            details.columns.push_back(col);
            details.widths.push_back(static_cast<uint8_t>(width));
        }
        ++count_;
    }

    /// Takes back the last character (a blank where a wide character did not fit).
    void dropLast()
    {
        if (count_ == rowStart_)
            return;
        --count_;
        if (detailed_) {
            SearchLineEntry::Details& details = *entry_.details;
            entry_.text.resize(static_cast<size_t>(details.unitStarts.back()));
            details.unitStarts.pop_back();
            details.columns.pop_back();
            details.widths.pop_back();
        } else {
            entry_.text.pop_back();
        }
    }

    int64_t count() const { return count_; }

    void finish()
    {
        if (detailed_)
            entry_.details->unitStarts.push_back(static_cast<int32_t>(entry_.text.size()));
    }

private:
    void becomeDetailed()
    {
        detailed_ = true;
        entry_.details = std::make_unique<SearchLineEntry::Details>();
        SearchLineEntry::Details& details = *entry_.details;
        // Every character so far was one unit on its own column.
        details.unitStarts.resize(static_cast<size_t>(count_));
        details.columns.resize(static_cast<size_t>(count_));
        details.widths.assign(static_cast<size_t>(count_), 1);
        size_t row = 0;
        for (int64_t k = 0; k < count_; ++k) {
            while (row + 1 < entry_.rowCount() && entry_.rowStart(row + 1) <= k)
                ++row;
            details.unitStarts[static_cast<size_t>(k)] = static_cast<int32_t>(k);
            details.columns[static_cast<size_t>(k)] = static_cast<int32_t>(k - entry_.rowStart(row));
        }
    }

    SearchLineEntry& entry_;
    int64_t count_ = 0;
    int64_t rowStart_ = 0;
    size_t rows_ = 0;
    bool detailed_ = false;
};

} // namespace

// --- Entry ---------------------------------------------------------------------------------------

int32_t SearchLineEntry::characterAtOrBefore(int32_t unit) const
{
    if (!details)
        return std::clamp<int32_t>(unit, 0, static_cast<int32_t>(text.size()));
    const std::vector<int32_t>& unitStarts = details->unitStarts;
    const auto found = std::upper_bound(unitStarts.begin(), unitStarts.end(), unit);
    return std::max<int32_t>(static_cast<int32_t>(found - unitStarts.begin()) - 1, 0);
}

int32_t SearchLineEntry::characterAtOrAfter(int32_t unit) const
{
    if (!details)
        return std::clamp<int32_t>(unit, 0, static_cast<int32_t>(text.size()));
    const std::vector<int32_t>& unitStarts = details->unitStarts;
    const auto found = std::lower_bound(unitStarts.begin(), unitStarts.end(), unit);
    return std::min(static_cast<int32_t>(found - unitStarts.begin()), characterCount());
}

std::optional<int32_t> SearchLineEntry::characterStartingAt(int32_t unit) const
{
    if (!details)
        return unit >= 0 && unit <= static_cast<int32_t>(text.size()) ? std::optional<int32_t>(unit)
                                                                      : std::nullopt;
    const std::vector<int32_t>& unitStarts = details->unitStarts;
    const auto found = std::lower_bound(unitStarts.begin(), unitStarts.end(), unit);
    if (found == unitStarts.end() || *found != unit)
        return std::nullopt;
    return static_cast<int32_t>(found - unitStarts.begin());
}

int32_t SearchLineEntry::columnOf(int32_t character, size_t rowIndex) const
{
    const int32_t rowStart = this->rowStart(rowIndex);
    if (!details)
        return character - rowStart;
    // The end of the row: the column after its last character (0 for an empty row).
    if (character >= rowEnd(rowIndex) || character >= characterCount())
        return character > rowStart ? columnAfter(character - 1, rowIndex) : 0;
    return details->columns[static_cast<size_t>(character)];
}

int32_t SearchLineEntry::columnAfter(int32_t character, size_t rowIndex) const
{
    if (!details)
        return character - rowStart(rowIndex) + 1;
    return details->columns[static_cast<size_t>(character)] + details->widths[static_cast<size_t>(character)];
}

size_t SearchLineEntry::rowIndexOf(int32_t offset) const
{
    // Row 0 starts at 0; the rows after it at `wrapStarts`.
    const auto found = std::upper_bound(wrapStarts.begin(), wrapStarts.end(), offset);
    return static_cast<size_t>(found - wrapStarts.begin());
}

std::u16string_view SearchLineEntry::characterUnits(int32_t character) const
{
    const int32_t from = unitOffset(character);
    const int32_t to = unitOffset(character + 1);
    return std::u16string_view(text).substr(static_cast<size_t>(from), static_cast<size_t>(to - from));
}

// Folding goes character by character so that each character's folded text starts at a known
// offset: a folded match counts only when it begins and ends on those offsets, so "ss" finds
// "\u00DF" whole but "s" never finds half of it.
void SearchLineEntry::buildFolded() const
{
    if (folded)
        return;
    auto made = std::make_unique<Folded>();
    std::u16string& out = made->text;
    std::vector<int32_t>& foldedStarts = made->starts;
    out.reserve(text.size());
    const int32_t count = characterCount();
    foldedStarts.reserve(static_cast<size_t>(count) + 1);
    std::u32string scalars;
    for (int32_t k = 0; k < count; ++k) {
        foldedStarts.push_back(static_cast<int32_t>(out.size()));
        const std::u16string_view units = characterUnits(k);
        if (units.size() == 1 && units[0] < 0x80) {
            const char16_t unit = units[0];
            out.push_back(unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 0x20) : unit);
            continue;
        }
        scalars.clear();
        for (size_t i = 0; i < units.size(); ++i) {
            const char16_t unit = units[i];
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size()) {
                scalars.push_back(0x10000 + ((char32_t(unit) - 0xD800) << 10) +
                                  (char32_t(units[i + 1]) - 0xDC00));
                ++i;
            } else {
                scalars.push_back(unit);
            }
        }
        platform::appendCaseFolded(out, scalars);
    }
    foldedStarts.push_back(static_cast<int32_t>(out.size()));
    folded = std::move(made);
}

// --- Cache ---------------------------------------------------------------------------------------

void SearchLineCache::invalidate()
{
    if (!entries_.empty())
        ++counters_.drops;
    entries_.clear();
    buffer_.reset();
    cols_ = -1;
}

// Called at the start of every search. Keeping entries across searches is what makes find-next
// and the match count cheap; dropping them is only needed when rows stop meaning the same lines.
void SearchLineCache::initLinesCache()
{
    const std::shared_ptr<Terminal> owner = terminal_.lock();
    if (!owner) {
        invalidate();
        return;
    }
    // Selections and searches are used under their terminal's lock.
    owner->terminalLock().assumeHeldByCaller();
    const std::shared_ptr<Buffer>& buffer = owner->activeBufferPointer();
    const int64_t top = buffer->totalLinesTrimmed();
    const int64_t count = buffer->lines().count();
    // Another buffer, another width, or a scrollback that was cleared (its trim count went back)
    // share no lines with what the cache holds.
    if (buffer_.lock() != buffer || cols_ != owner->cols() || top < firstAbsoluteRow_) {
        invalidate();
        buffer_ = buffer;
        cols_ = owner->cols();
        firstAbsoluteRow_ = top;
    }
    // Rows trimmed from the top of the scrollback since the last search.
    while (firstAbsoluteRow_ < top && !entries_.empty()) {
        entries_.pop_front();
        ++firstAbsoluteRow_;
    }
    firstAbsoluteRow_ = top;
    entries_.resize(static_cast<size_t>(count));
}

void SearchLineCache::prefetch(Buffer& buffer, int64_t row, PrefetchStage stage) const
{
    auto& lines = buffer.lines();
    if (row < 0 || row >= lines.count())
        return;
    const BufferLine* line = lines[static_cast<int>(row)].get();
    const bool kept = static_cast<size_t>(row) < entries_.size();
    if (stage == PrefetchStage::objects) {
        // The line and the entry themselves; reading them here would wait for them.
        __builtin_prefetch(line);
        if (kept)
            __builtin_prefetch(&entries_[static_cast<size_t>(row)]);
        return;
    }
    // Asked for earlier, the line and the entry are at hand now: ask for what they point to.
    __builtin_prefetch(line->cells());
    if (kept && entries_[static_cast<size_t>(row)].present)
        __builtin_prefetch(entries_[static_cast<size_t>(row)].text.data());
}

// An entry is true while each of its rows is still the same line object with the same content
// generation (every change of a line's cells or wrap flag moves it, and the entry holds the line,
// so its address cannot be reused) and no row has since been wrapped onto its end.
bool SearchLineCache::isCurrent(const SearchLineEntry& entry, Buffer& buffer, int64_t row) const
{
    auto& lines = buffer.lines();
    const int64_t count = lines.count();
    const size_t rows = entry.rowCount();
    if (row + static_cast<int64_t>(rows) > count)
        return false;
    for (size_t j = 0; j < rows; ++j) {
        const std::shared_ptr<BufferLine>& line = lines[static_cast<int>(row + static_cast<int64_t>(j))];
        const SearchLineEntry::RowStamp& stamp = entry.stamp(j);
        if (line != stamp.line || line->generation() != stamp.generation)
            return false;
    }
    // A row that now continues the line makes it longer.
    const int64_t next = row + static_cast<int64_t>(rows);
    return next >= count || !lines[static_cast<int>(next)]->isWrapped();
}

const SearchLineEntry* SearchLineCache::entry(int64_t row)
{
    const std::shared_ptr<Terminal> owner = terminal_.lock();
    if (!owner || row < 0)
        return nullptr;
    // Selections and searches are used under their terminal's lock.
    owner->terminalLock().assumeHeldByCaller();
    Buffer& buffer = owner->activeBuffer();
    if (row >= buffer.lines().count())
        return nullptr;
    if (buffer_.lock() != owner->activeBufferPointer() || static_cast<size_t>(row) >= entries_.size())
        initLinesCache();
    SearchLineEntry& slot = entries_[static_cast<size_t>(row)];
    if (slot.present) {
        if (isCurrent(slot, buffer, row)) {
            ++counters_.entriesReused;
            return &slot;
        }
        ++counters_.entriesStale;
    }
    slot = translateBufferLineToStringWithWrap(buffer, row, true);
    ++counters_.entriesBuilt;
    counters_.rowsExtracted += slot.rowCount();
    return &slot;
}

// The same text rule as copying a selection: empty cells read as spaces, the empty right half of
// a wide character adds nothing, trailing empty cells are trimmed from the line's last row only.
SearchLineEntry SearchLineCache::translateBufferLineToStringWithWrap(Buffer& buffer, int64_t row,
                                                                     bool trimRight)
{
    SearchLineEntry entry;
    entry.present = true;
    auto& lines = buffer.lines();
    const int64_t count = lines.count();
    if (row < 0 || row >= count)
        return entry;
    EntryBuilder builder(entry);
    entry.text.reserve(static_cast<size_t>(lines[static_cast<int>(row)]->count()));
    for (int64_t r = row; r < count; ++r) {
        const std::shared_ptr<BufferLine>& line = lines[static_cast<int>(r)];
        if (r == row)
            entry.firstStamp = {line, line->generation()};
        else
            entry.wrapStamps.push_back({line, line->generation()});
        builder.beginRow();
        const bool nextWrapped = r + 1 < count && lines[static_cast<int>(r + 1)]->isWrapped();
        const CellArena& arena = *line->arena();
        // A screen that does not reflow keeps the cells of a wider size past its edge, unseen
        // until it is that wide again: only what the screen shows is searched.
        const int cells = std::min(line->count(), buffer.cols());
        const PackedCell* packed = line->cells();

        // Trailing empty cells are no text, except where the line goes on in the next row.
        int end = cells;
        if (trimRight && !nextWrapped) {
            end = 0;
            // Cells from the used length on all equal the tail blank; when it is empty, the scan
            // for the last character starts before them.
            const int scanFrom = line->usedLength() < cells && !holdsCharacter(arena, line->tailBlankCell())
                                     ? line->usedLength()
                                     : cells;
            for (int col = scanFrom - 1; col >= 0; --col) {
                if (holdsCharacter(arena, packed[col])) {
                    end = std::min(cells, col + (packed[col].isLead() ? 2 : packed[col].width()));
                    break;
                }
            }
        }
        bool lastCellEmitted = false;
        for (int col = 0; col < end; ++col) {
            const PackedCell cell = packed[col];
            // The empty right half of a wide character adds nothing.
            if (col >= 1 && packed[col - 1].isLead() && !holdsCharacter(arena, cell)) {
                lastCellEmitted = false;
                continue;
            }
            builder.add(arena, cell, col, cell.isLead() ? 2 : 1);
            lastCellEmitted = col == cells - 1;
        }
        if (!nextWrapped)
            break;
        // The blank left at the end of a row where the next wide character did not fit.
        const PackedCell lastCell = cells > 0 ? packed[cells - 1] : PackedCell();
        const std::shared_ptr<BufferLine>& next = lines[static_cast<int>(r + 1)];
        if (cells > 0 && lastCellEmitted && !holdsCharacter(arena, lastCell) && !lastCell.isLead() &&
            next->count() > 0 && next->packed(0).isLead())
            builder.dropLast();
    }
    builder.finish();
    return entry;
}

} // namespace kestrovan
