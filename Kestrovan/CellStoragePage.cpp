#include "Kestrovan/CellStoragePage.h"

#include "Kestrovan/Fatal.h"

#include <algorithm>
#include <cstring>

namespace kestrovan {

CellStoragePage::CellStoragePage(int count, PackedCell fill, std::shared_ptr<CellArena> arena)
    : cells_(static_cast<size_t>(count > 0 ? count : 0), fill), arena_(std::move(arena))
{
    KESTROVAN_ASSERT(arena_ != nullptr, "CellStoragePage: no arena");
}

CellStoragePage::CellStoragePage(const CellStoragePage& copying)
    : cells_(copying.cells_), arena_(copying.arena_)
{}

CellStoragePage::CellStoragePage(const CellStoragePage& copying, int count)
    : cells_(copying.cells_.begin(), copying.cells_.begin() + std::clamp(count, 0, copying.count())),
      arena_(copying.arena_)
{}

CellStoragePage::CellStoragePage(const CellStoragePage& copyingPacked, std::shared_ptr<CellArena> arena)
    : CellStoragePage(copyingPacked, copyingPacked.count(), std::move(arena))
{}

CellStoragePage::CellStoragePage(const CellStoragePage& copyingPacked, int count,
                                 std::shared_ptr<CellArena> arena)
    : cells_(copyingPacked.cells_.begin(),
             copyingPacked.cells_.begin() + std::clamp(count, 0, copyingPacked.count())),
      arena_(std::move(arena))
{
    // A raw copy is only meaningful when every id in the cells means the same in `arena`.
    KESTROVAN_ASSERT(arena_ != nullptr && arena_->preservesEncoding(*copyingPacked.arena_),
                     "CellStoragePage: arena does not preserve the source encoding");
}

void CellStoragePage::copyCells(const CellStoragePage& from, int sourceStart, int destinationStart, int count)
{
    if (count < 1)
        return;
    KESTROVAN_ASSERT(sourceStart >= 0 && destinationStart >= 0 && count <= from.count() - sourceStart &&
                         count <= this->count() - destinationStart,
                     "CellStoragePage.copyCells: run outside the page");
    if (from.arena_ == arena_) {
        // memmove handles overlap in both directions, as a forward copy (source after
        // destination) and a backward copy (source before destination) would.
        std::memmove(cells_.data() + destinationStart, from.cells_.data() + sourceStart,
                     static_cast<size_t>(count) * sizeof(PackedCell));
        return;
    }
    // Different arenas are different pages, so the runs cannot overlap.
    for (int i = 0; i < count; ++i) {
        const CharData data = from.arena_->unpack(from.cells_[static_cast<size_t>(sourceStart + i)]);
        const std::optional<PackedCell> packed = arena_->pack(data);
        KESTROVAN_ASSERT(packed.has_value(), "CellStoragePage.copyCells: cell does not re-pack");
        cells_[static_cast<size_t>(destinationStart + i)] = *packed;
    }
}

} // namespace kestrovan
