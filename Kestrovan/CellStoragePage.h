// The cells of one line: a contiguous array of packed cells and the arena they were packed
// against.
//
// A page is shared by reference. Its cells are plain 64-bit values, so copies within one arena
// are block moves; copies between pages of different arenas re-pack each cell.
#pragma once

#include "Kestrovan/CellArena.h"
#include "Kestrovan/PackedCell.h"

#include <memory>
#include <vector>

namespace kestrovan {

class CellStoragePage
{
public:
    /// `count` cells, each `fill`, packed against `arena`.
    CellStoragePage(int count, PackedCell fill, std::shared_ptr<CellArena> arena);
    /// A copy of another page's cells, sharing its arena.
    CellStoragePage(const CellStoragePage& copying);
    /// A copy of the first `count` cells of another page, sharing its arena.
    CellStoragePage(const CellStoragePage& copying, int count);
    /// A raw copy of another page's cells bound to `arena`, a snapshot copy that preserves the
    /// encoding of the source page's arena; any other arena stops the program.
    CellStoragePage(const CellStoragePage& copyingPacked, std::shared_ptr<CellArena> arena);
    /// The same for the first `count` cells only.
    CellStoragePage(const CellStoragePage& copyingPacked, int count, std::shared_ptr<CellArena> arena);

    CellStoragePage& operator=(const CellStoragePage&) = delete;

    int count() const { return static_cast<int>(cells_.size()); }
    PackedCell* data() { return cells_.data(); }
    const PackedCell* data() const { return cells_.data(); }
    PackedCell& operator[](int index) { return cells_[static_cast<size_t>(index)]; }
    PackedCell operator[](int index) const { return cells_[static_cast<size_t>(index)]; }

    const std::shared_ptr<CellArena>& arena() const { return arena_; }

    /// Copies `count` cells from `from` (this page or another) at `sourceStart` to
    /// `destinationStart`. Overlapping runs within one page are safe; across arenas each cell is
    /// re-packed. Runs must lie within both pages; nothing happens for a count below 1.
    void copyCells(const CellStoragePage& from, int sourceStart, int destinationStart, int count);

private:
    std::vector<PackedCell> cells_;
    std::shared_ptr<CellArena> arena_;
};

} // namespace kestrovan
