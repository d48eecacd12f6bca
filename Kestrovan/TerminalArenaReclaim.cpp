// Reclaiming the ids of the terminal's cell arena once a table is full.
//
// The arena has 65,536 style ids and 65,535 cluster ids. Output that draws more distinct looks
// than that (true-colour pictures, a stream of random colours) used to leave every later style in
// the default look for the rest of the terminal's life. Now a full table makes the terminal count
// which ids are still used, by every cell of both buffers (screen and scrollback), the current
// style and the erase cells, and give the rest back to the arena. The saved cursors keep their
// attribute by value and intern it again on restore, so they hold no id.
//
// When the ids in use leave less than half of the table free, the oldest scrollback lines give up
// what they hold of the full table (their colours and styles, or their clusters, which fall back
// to their first scalar) until half is free: new output keeps its look and the oldest history
// loses it first. Only the visible screens can then still run a table out.
//
// A reclaim reads every cell, so it must not run on every refused intern: one that freed half of
// the table is repaid by the half of new ids it made room for; after one that freed
// less (the screens alone hold nearly every id), the next waits for a number of refused interns
// proportional to the cells it read. Either way the work stays linear in the output.
#include "Kestrovan/Terminal.h"

#include <algorithm>

namespace kestrovan {

namespace {

/// One refused intern waits for this many cells a reclaim read, before the next reclaim.
constexpr uint64_t cellsPerRefusal = 64;

void countLine(CellArenaUsage& usage, const BufferLine& line)
{
    usage.add(std::span<const PackedCell>(line.cells(), static_cast<size_t>(line.count())));
    usage.add(line.tailBlankCell());
}

/// Counts every cell of a buffer's ring; the answer is the number of cells read.
uint64_t countBuffer(CellArenaUsage& usage, const Buffer& buffer)
{
    uint64_t cells = 0;
    const CircularBufferLineList& lines = buffer.lines();
    for (int index = 0; index < lines.count(); ++index) {
        if (const auto line = lines.lineIfPresent(index)) {
            countLine(usage, *line);
            cells += static_cast<uint64_t>(line->count());
        }
    }
    // The start of the current prompt may have left the ring; its cells are still read.
    if (const std::shared_ptr<BufferLine>& start = buffer.semanticPrompt().startLine())
        countLine(usage, *start);
    return cells;
}

/// Ids of 1...`capacity` no counted use holds.
uint64_t freeIDs(const std::vector<uint32_t>& uses, uint64_t capacity)
{
    const auto used = std::count_if(uses.begin() + 1, uses.end(), [](uint32_t count) { return count != 0; });
    return capacity - std::min<uint64_t>(capacity, static_cast<uint64_t>(used));
}

/// Strips what `table` names from the used cells of `line`: the style (to the default look) or
/// the cluster (to its first scalar). Adds to `freed` each id whose last use goes.
void stripLine(BufferLine& line, Terminal::ArenaTable table, const CellArena& arena, CellArenaUsage& usage,
               uint64_t& freed)
{
    // Cells past the used length equal the line's tail blank, which keeps its style: a blank's
    // style is a background, and the tail stays one value.
    PackedCell* cells = line.mutableCells();
    bool changed = false;
    for (int col = 0; col < line.usedLength(); ++col) {
        PackedCell& cell = cells[col];
        if (cell.kind() > PackedCell::Kind::grapheme)
            continue;
        if (table == Terminal::ArenaTable::styles) {
            const uint16_t id = cell.attributeID();
            if (id == 0)
                continue;
            if (id < usage.attributeUses.size() && --usage.attributeUses[id] == 0)
                ++freed;
            cell = PackedCell(cell.rawValue & ~PackedCell::attributeMask);
        } else {
            if (cell.kind() != PackedCell::Kind::grapheme)
                continue;
            const uint32_t id = cell.content();
            const std::u32string* scalars = arena.grapheme(id);
            const char32_t first = scalars && !scalars->empty() ? scalars->front() : U'\uFFFD';
            if (id < usage.graphemeUses.size() && --usage.graphemeUses[id] == 0)
                ++freed;
            cell = PackedCell((cell.rawValue & ~(PackedCell::kindMask | PackedCell::contentMask)) |
                              (uint64_t(first) << PackedCell::contentShift));
        }
        changed = true;
    }
    if (changed)
        line.markContentChanged();
}

} // namespace

bool Terminal::reclaimCellArena(ArenaTable table)
{
    if (++arenaRefusals_ < arenaRefusalsBeforeReclaim_)
        return false;
    CellArena& arena = *cellArena_;
    CellArenaUsage usage(arena);
    uint64_t scanned = countBuffer(usage, *normalBuffer_);
    if (altBuffer_ != normalBuffer_)
        scanned += countBuffer(usage, *altBuffer_);
    usage.addAttribute(curStyleID_);
    usage.add(currentEraseBlankCell_);
    usage.add(currentEraseSpaceCell_);

    const bool styles = table == ArenaTable::styles;
    const uint64_t capacity =
        styles ? uint64_t(arena.attributeCapacity()) : uint64_t(std::max(arena.graphemeCapacity(), 0));
    const uint64_t wanted = capacity / 2;
    uint64_t free = freeIDs(styles ? usage.attributeUses : usage.graphemeUses, capacity);
    if (free < wanted) {
        // The oldest scrollback lines first, never a line of the screen.
        Buffer& buffer = *normalBuffer_;
        bool stripped = false;
        for (int index = 0; index < buffer.yBase() && free < wanted; ++index) {
            if (const auto& line = buffer.lines().lineIfPresent(index)) {
                stripLine(*line, table, arena, usage, free);
                stripped = true;
            }
        }
        if (stripped && _buffer == normalBuffer_)
            updateFullScreen();
    }
    arena.reclaimUnused(usage);

    arenaRefusals_ = 0;
    arenaRefusalsBeforeReclaim_ = free >= wanted ? 0 : scanned / cellsPerRefusal;
    return styles ? !arena.attributeTableFull() : !arena.graphemeTableFull();
}

std::optional<uint16_t> Terminal::internStyle(const InternedAttributeKey& key)
{
    CellArena& arena = *cellArena_;
    if (const std::optional<uint16_t> id = arena.intern(key))
        return id;
    if (!reclaimCellArena(ArenaTable::styles))
        return std::nullopt;
    return arena.intern(key);
}

} // namespace kestrovan
