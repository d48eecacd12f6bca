// The row layout's work under the terminal lock: finding a row's paragraph, deciding whether it
// needs a layout at all, and collecting its cells for typesetting after the lock is released; the
// explicit right-to-left rows, which need no typesetting; and the process-wide caches.
#include "Kestrovan/Apple/TerminalBidi.h"

#include "Kestrovan/Apple/TerminalBidiHash.h"
#include "Kestrovan/Buffer.h"
#include "Kestrovan/GraphemeBreak.h"
#include "Kestrovan/Terminal.h"
#include "Platform/Sync/Mutex.h"

#include <algorithm>

namespace kestrovan {

namespace {

constexpr char32_t rightToLeftMark = 0x200F;

using bidihash::combine;
using bidihash::mix;

uint64_t stateBits(const BidiPresentationState& state)
{
    return uint64_t(state.supportMode) | uint64_t(state.autodetectDirection) << 8 |
           uint64_t(state.fallbackDirection) << 16 | uint64_t(state.boxMirroring) << 24;
}

struct ParagraphKeyHash
{
    // Every field but the line identities, which the revision already reflects.
    size_t operator()(const TerminalBidi::ParagraphKey& key) const
    {
        uint64_t hash = combine(key.buffer, uint64_t(key.firstRow));
        hash = combine(hash, uint64_t(key.lastRow));
        hash = combine(hash, uint64_t(key.revision));
        hash = combine(hash, uint64_t(key.cols));
        return size_t(combine(hash, stateBits(key.state)));
    }
};

struct ContentKeyHash
{
    size_t operator()(const TerminalBidi::ParagraphContentKey& key) const
    {
        uint64_t hash = combine(key.contentHash, uint64_t(key.rowCount));
        hash = combine(hash, uint64_t(key.cols));
        return size_t(combine(hash, stateBits(key.state)));
    }
};

/// The process-wide caches. The mutex is held only for single lookups, inserts and clears, never
/// while a paragraph is typeset; it is taken after the terminal lock when both are held.
struct CacheState
{
    platform::Mutex mutex;
    std::unordered_map<TerminalBidi::ParagraphKey, TerminalBidi::ResultPointer, ParagraphKeyHash>
        paragraphCache GUARDED_BY(mutex);
    std::unordered_map<TerminalBidi::ParagraphContentKey,
                       std::shared_ptr<const TerminalBidi::CachedParagraph>, ContentKeyHash>
        contentCache GUARDED_BY(mutex);
    uint64_t contentCacheHits GUARDED_BY(mutex) = 0;
    uint64_t contentCacheMisses GUARDED_BY(mutex) = 0;
};

CacheState& cacheState()
{
    // Made on first use and kept for the process: every terminal and view shares it.
    static CacheState* state = new CacheState();
    return *state;
}

bool rowExists(int64_t row, const Buffer& buffer)
{
    return row >= 0 && row < buffer.lines().count();
}

const BufferLine& lineAt(int64_t row, const Buffer& buffer)
{
    // A slot that was never filled reads as a line without cells: it holds no text to order.
    return buffer.lines().lineOrEmpty(static_cast<int>(row));
}

/// The columns a scan visits: the lead of a wide character stands for both of its columns.
int nextColumn(PackedCell cell, int column)
{
    return column + (cell.isLead() ? 2 : 1);
}

bool cellNeedsBidi(PackedCell cell, const CellArena& arena)
{
    switch (cell.kind()) {
    case PackedCell::Kind::scalar:
        return TerminalBidi::isRightToLeftScalar(cell.scalar()) || cell.scalar() == rightToLeftMark;
    case PackedCell::Kind::grapheme: {
        // The first character of the cluster, as the cell's text reads it (invalid content reads
        // as a space and needs nothing).
        const Character text = TerminalBidi::cellText(cell, arena);
        return std::any_of(text.scalars.begin(), text.scalars.end(), [](char32_t scalar) {
            return TerminalBidi::isRightToLeftScalar(scalar) || scalar == rightToLeftMark;
        });
    }
    case PackedCell::Kind::paletteBlank:
    case PackedCell::Kind::trueColorBlank:
        break;
    }
    return false;
}

} // namespace

TerminalBidi::DeferredParagraph::DeferredParagraph(ParagraphJob paragraphJob)
    : job(std::move(paragraphJob)), firstRow(job.bounds.first), lastRow(job.bounds.last),
      revision(job.revision)
{}

bool TerminalBidi::CachedParagraph::matches(const std::vector<Cell>& others, int64_t firstRow) const
{
    if (others.size() != cells.size())
        return false;
    for (size_t i = 0; i < cells.size(); ++i) {
        const Cell& mine = cells[i];
        const Cell& other = others[i];
        if (mine.row != other.row - firstRow || mine.logicalCol != other.logicalCol ||
            mine.width != other.width || mine.text != other.text)
            return false;
    }
    return true;
}

// --- Paragraphs ------------------------------------------------------------------------------------

std::optional<TerminalBidi::RowRange> TerminalBidi::paragraphBounds(int64_t row, const Buffer& buffer,
                                                                    int maximumRows)
{
    if (!rowExists(row, buffer))
        return std::nullopt;
    const int64_t cap = std::max(maximumRows, 1);
    const int64_t count = buffer.lines().count();
    int64_t top = row;
    int64_t bottom = row;
    // Row 0 always starts a paragraph: whatever it continued has left the scrollback. Each walk
    // stops as soon as the paragraph is known to be too long, so a huge wrapped block costs at
    // most `cap` rows to reject.
    while (top > 0 && lineAt(top, buffer).isWrapped()) {
        --top;
        if (bottom - top + 1 > cap)
            return std::nullopt;
    }
    while (bottom + 1 < count && lineAt(bottom + 1, buffer).isWrapped()) {
        ++bottom;
        if (bottom - top + 1 > cap)
            return std::nullopt;
    }
    return RowRange{top, bottom};
}

int64_t TerminalBidi::paragraphRevision(RowRange rows, const Buffer& buffer)
{
    uint64_t hash = mix(uint64_t(rows.last - rows.first + 1));
    for (int64_t row = rows.first; row <= rows.last; ++row) {
        const BufferLine& line = lineAt(row, buffer);
        hash = combine(hash, reinterpret_cast<uintptr_t>(line.renderIdentity().get()));
        hash = combine(hash, line.generation());
        hash = combine(hash, line.isWrapped() ? 1 : 0);
    }
    return static_cast<int64_t>(hash);
}

int64_t TerminalBidi::layoutRevision(int64_t row, const Buffer& buffer, int maximumRows)
{
    if (!rowExists(row, buffer) || lineAt(row, buffer).bidiState().supportMode != BidiSupportMode::implicit)
        return 0;
    const std::optional<RowRange> bounds = paragraphBounds(row, buffer, maximumRows);
    return bounds ? paragraphRevision(*bounds, buffer) : 0;
}

TerminalBidi::RowRange TerminalBidi::renderingDependencyRange(RowRange rows, const Buffer& buffer,
                                                              int maximumRows)
{
    const int64_t count = buffer.lines().count();
    if (count == 0)
        return rows;
    int64_t lower = std::clamp<int64_t>(rows.first, 0, count - 1);
    int64_t upper = std::clamp<int64_t>(rows.last, lower, count - 1);
    const auto boundsOfImplicit = [&](int64_t row) -> std::optional<RowRange> {
        if (lineAt(row, buffer).bidiState().supportMode != BidiSupportMode::implicit)
            return std::nullopt;
        return paragraphBounds(row, buffer, maximumRows);
    };
    if (const std::optional<RowRange> first = boundsOfImplicit(lower)) {
        lower = first->first;
        if (upper <= first->last)
            return RowRange{lower, first->last};
    }
    if (const std::optional<RowRange> last = boundsOfImplicit(upper))
        upper = last->last;
    return RowRange{lower, upper};
}

bool TerminalBidi::mayNeedBidi(const BufferLine& line, int cols)
{
    const int end = std::min(line.count(), cols);
    const CellArena& arena = *line.arena();
    for (int column = 0; column < end;) {
        const PackedCell cell = line.packed(column);
        if (cellNeedsBidi(cell, arena))
            return true;
        column = nextColumn(cell, column);
    }
    return false;
}

int TerminalBidi::appendCells(const BufferLine& line, int64_t row, int cols, std::vector<Cell>& cells)
{
    // Trailing blanks are never cells: the layout places the blank tail itself.
    const int end = std::min({line.getTrimmedLength(), line.count(), cols});
    const CellArena& arena = *line.arena();
    int after = 0;
    for (int column = 0; column < end;) {
        const PackedCell cell = line.packed(column);
        const int width = cell.isLead() ? 2 : 1;
        cells.push_back(Cell{row, column, width, cellText(cell, arena)});
        after = column + width;
        column = nextColumn(cell, column);
    }
    return after;
}

TerminalBidi::ParagraphOutcome TerminalBidi::collectParagraph(int64_t row, const Buffer& buffer, int cols,
                                                              const Terminal& terminal)
{
    // The buffer is the terminal's: reading it without the lock could see a half-made edit.
    terminal.terminalLock().preconditionLocked();
    if (!rowExists(row, buffer) || lineAt(row, buffer).bidiState().supportMode != BidiSupportMode::implicit)
        return ResultPointer();
    const std::optional<RowRange> bounds =
        paragraphBounds(row, buffer, std::max(terminal.options().maximumBidiParagraphRows, 1));
    if (!bounds)
        return ResultPointer();

    // A paragraph follows the state of its first row, whichever of its rows asked.
    const BidiPresentationState state = lineAt(bounds->first, buffer).bidiState();
    ParagraphKey key;
    key.buffer = reinterpret_cast<uintptr_t>(&buffer);
    key.firstRow = bounds->first;
    key.lastRow = bounds->last;
    key.revision = paragraphRevision(*bounds, buffer);
    key.cols = cols;
    key.state = state;
    key.lineIdentities.reserve(static_cast<size_t>(bounds->last - bounds->first + 1));
    for (int64_t r = bounds->first; r <= bounds->last; ++r)
        key.lineIdentities.push_back(lineAt(r, buffer).renderIdentity());
    if (ResultPointer cached = lookUpIdentity(key))
        return cached;

    bool hasPotentialRTL = false;
    for (int64_t r = bounds->first; r <= bounds->last && !hasPotentialRTL; ++r)
        hasPotentialRTL = mayNeedBidi(lineAt(r, buffer), cols);
    if (!hasPotentialRTL && state.fallbackDirection == BidiDirection::leftToRight) {
        // Nearly every paragraph ends here: remembered as needing nothing, at the cost of one scan.
        auto empty = std::make_shared<ParagraphResult>();
        storeIdentity(key, empty);
        return ResultPointer(std::move(empty));
    }

    ParagraphJob job;
    const size_t rowCount = static_cast<size_t>(bounds->last - bounds->first + 1);
    job.cells.reserve(rowCount * static_cast<size_t>(std::max(cols, 0)));
    job.ranges.reserve(rowCount);
    job.usedColumns.reserve(rowCount);
    for (int64_t r = bounds->first; r <= bounds->last; ++r) {
        const size_t start = job.cells.size();
        job.usedColumns.push_back(appendCells(lineAt(r, buffer), r, cols, job.cells));
        job.ranges.emplace_back(start, job.cells.size());
    }
    job.bounds = *bounds;
    job.state = state;
    job.hasPotentialRTL = hasPotentialRTL;
    job.revision = key.revision;
    job.cols = cols;
    job.key = std::move(key);
    return job;
}

TerminalBidi::LayoutOutcome TerminalBidi::collectLayout(int64_t row, const Buffer& buffer, int cols,
                                                        const Terminal& terminal, BidiHostPolicy hostPolicy)
{
    terminal.terminalLock().preconditionLocked();
    if (hostPolicy == BidiHostPolicy::legacyLeftToRight || !rowExists(row, buffer))
        return std::optional<BidiRowLayout>();
    const BidiPresentationState& state = lineAt(row, buffer).bidiState();
    if (state.supportMode == BidiSupportMode::explicit_) {
        // Explicit left-to-right rows are drawn in logical order; right-to-left ones are reversed.
        if (state.fallbackDirection == BidiDirection::rightToLeft)
            return explicitRightToLeftLayout(row, buffer, cols);
        return std::optional<BidiRowLayout>();
    }
    ParagraphOutcome outcome = collectParagraph(row, buffer, cols, terminal);
    if (ParagraphJob* job = std::get_if<ParagraphJob>(&outcome))
        return std::make_shared<DeferredParagraph>(std::move(*job));
    const ResultPointer& result = std::get<ResultPointer>(outcome);
    if (!result)
        return std::optional<BidiRowLayout>();
    const auto found = result->rows.find(row);
    if (found == result->rows.end())
        return std::optional<BidiRowLayout>();
    return std::optional<BidiRowLayout>(found->second);
}

std::optional<BidiRowLayout> TerminalBidi::explicitRightToLeftLayout(int64_t row, const Buffer& buffer,
                                                                     int cols)
{
    if (!rowExists(row, buffer))
        return std::nullopt;
    const BufferLine& line = lineAt(row, buffer);
    const bool boxMirroring = line.bidiState().boxMirroring;
    std::vector<Cell> cells;
    const int used = std::min(appendCells(line, row, cols, cells), cols);
    // No typesetting, shaping or paragraph joining: the row is reversed on its own, and every cell
    // shows its mirror.
    std::vector<BidiCell> visual;
    visual.reserve(cells.size());
    for (auto cell = cells.rbegin(); cell != cells.rend(); ++cell)
        visual.push_back(BidiCell{cell->logicalCol, cell->width, mirroredText(cell->text, boxMirroring)});
    return assembleRow(std::move(visual), used, cols, BidiDirection::rightToLeft,
                       static_cast<int64_t>(line.generation()));
}

BidiRowLayout TerminalBidi::assembleRow(std::vector<BidiCell> cells, int used, int cols,
                                        BidiDirection direction, int64_t revision)
{
    BidiRowLayout layout;
    layout.baseDirection = direction;
    layout.paragraphRevision = revision;
    const size_t width = static_cast<size_t>(std::max(cols, 0));
    layout.logicalToVisualCol.assign(width, 0);
    layout.visualToLogicalCol.assign(width, 0);
    layout.visualCells.reserve(cells.size() + width - std::min<size_t>(width, size_t(std::max(used, 0))));
    int visual = 0;
    const auto place = [&](BidiCell&& cell) {
        for (int j = 0; j < cell.width; ++j) {
            const int logical = cell.logicalCol + j;
            if (logical >= 0 && logical < cols)
                layout.logicalToVisualCol[static_cast<size_t>(logical)] = visual + j;
            if (visual + j < cols)
                layout.visualToLogicalCol[static_cast<size_t>(visual + j)] = cell.logicalCol;
        }
        visual += cell.width;
        layout.visualCells.push_back(std::move(cell));
    };
    const int tailStart = std::clamp(used, 0, cols);
    // A right-to-left row draws its blank tail at the left edge, a left-to-right row at the right.
    if (direction == BidiDirection::rightToLeft) {
        for (int column = cols - 1; column >= tailStart; --column)
            place(BidiCell{column, 1, std::nullopt});
    }
    for (BidiCell& cell : cells)
        place(std::move(cell));
    if (direction == BidiDirection::leftToRight) {
        for (int column = tailStart; column < cols; ++column)
            place(BidiCell{column, 1, std::nullopt});
    }
    return layout;
}

// --- Caches --------------------------------------------------------------------------------------

TerminalBidi::ResultPointer TerminalBidi::lookUpIdentity(const ParagraphKey& key)
{
    CacheState& state = cacheState();
    platform::MutexLock guard(state.mutex);
    const auto found = state.paragraphCache.find(key);
    return found == state.paragraphCache.end() ? nullptr : found->second;
}

void TerminalBidi::storeIdentity(const ParagraphKey& key, ResultPointer result)
{
    CacheState& state = cacheState();
    platform::MutexLock guard(state.mutex);
    // Emptied whole rather than evicted entry by entry: a changed row makes a new key anyway, so
    // old entries are only ever stale, and clearing costs nothing per lookup.
    if (state.paragraphCache.size() >= cacheLimit)
        state.paragraphCache.clear();
    state.paragraphCache.insert_or_assign(key, std::move(result));
}

std::shared_ptr<const TerminalBidi::CachedParagraph>
TerminalBidi::lookUpContent(const ParagraphContentKey& key, const std::vector<Cell>& cells, int64_t firstRow)
{
    CacheState& state = cacheState();
    platform::MutexLock guard(state.mutex);
    const auto found = state.contentCache.find(key);
    // The hash only narrows the search: a hit needs the very same cells.
    if (found != state.contentCache.end() && found->second->matches(cells, firstRow)) {
        ++state.contentCacheHits;
        return found->second;
    }
    ++state.contentCacheMisses;
    return nullptr;
}

void TerminalBidi::storeContent(const ParagraphContentKey& key,
                                std::shared_ptr<const CachedParagraph> paragraph)
{
    CacheState& state = cacheState();
    platform::MutexLock guard(state.mutex);
    if (state.contentCache.size() >= cacheLimit)
        state.contentCache.clear();
    state.contentCache.insert_or_assign(key, std::move(paragraph));
}

TerminalBidi::CacheStatistics TerminalBidi::cacheStatistics()
{
    CacheState& state = cacheState();
    platform::MutexLock guard(state.mutex);
    return CacheStatistics{state.paragraphCache.size(), state.contentCache.size(), state.contentCacheHits,
                           state.contentCacheMisses};
}

void TerminalBidi::clearCaches()
{
    CacheState& state = cacheState();
    platform::MutexLock guard(state.mutex);
    state.paragraphCache.clear();
    state.contentCache.clear();
    state.contentCacheHits = 0;
    state.contentCacheMisses = 0;
}

} // namespace kestrovan
