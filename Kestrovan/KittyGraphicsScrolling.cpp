// Kitty placements as content moves: scrolling in place inside a scroll region moves and crops
// them, dropping the oldest line of a full ring shifts every absolute row, and buffer switches,
// resets and column-mode changes clear them.
//
// Placements are anchored to absolute lines, so output that pushes lines into the scrollback
// needs nothing here. Virtual placements (drawn where their placeholder cells are) and relative
// ones (drawn where their parent is) are never moved or cropped themselves.
#include "Kestrovan/KittyGraphicsEngine.h"
#include "Kestrovan/Terminal.h"

#include <vector>

namespace kestrovan {

namespace {

bool movesWithContent(const KittyPlacementRecord& record)
{
    return !record.isVirtual && !record.isRelative();
}

} // namespace

void KittyGraphicsEngine::scrollKittyPlacementsInMargins(int64_t top, int64_t bottom, int64_t left,
                                                         int64_t right, int64_t delta)
{
    syncActiveScreen();
    KittyGraphicsScreenState& current = screen();
    const int64_t lastColumn = terminal_.cols() - 1;
    // The region comes in the ring's rows; placements count rows as a deferred scrollback reflow
    // will leave them (see `clearKittyImagesOnScreen`).
    const int64_t settledShift = terminal_.buffer().settledYBase() - terminal_.buffer().yBase();
    top += settledShift;
    bottom += settledShift;
    std::set<KittyPlacementKey> outside;
    bool changed = false;
    for (auto& [key, record] : current.placementsByKey) {
        if (!movesWithContent(record))
            continue;
        // Only a placement wholly inside the region moves; one reaching past the right edge counts
        // as ending at the last column.
        const int64_t lastRow = record.row + std::max<int64_t>(record.rows, 1) - 1;
        const int64_t lastCol = std::min(record.lastCol(), lastColumn);
        if (record.row < top || lastRow > bottom || record.col < left || lastCol > right)
            continue;

        int64_t newRow = record.row + delta;
        const int64_t cutTop = top - newRow;
        const int64_t cutBottom = newRow + record.rows - 1 - bottom;
        if (record.rows <= std::max<int64_t>(0, cutTop) || (cutBottom >= 0 && cutBottom >= record.rows)) {
            outside.insert(key);
            continue;
        }
        bool cropped = false;
        if (cutTop >= 1) {
            // The source loses the part that moved above the region, in proportion to the rows lost.
            const int64_t dropped = record.sourceHeight * cutTop / std::max<int64_t>(record.rows, 1);
            record.sourceY += dropped;
            record.sourceHeight -= dropped;
            record.rows -= cutTop;
            newRow = top;
            cropped = true;
        }
        if (cutBottom >= 1) {
            const int64_t dropped = record.sourceHeight * cutBottom / std::max<int64_t>(record.rows, 1);
            record.sourceHeight -= dropped;
            record.rows -= cutBottom;
            cropped = true;
        }
        changed = changed || cropped || newRow != record.row;
        record.row = newRow;
    }
    if (!outside.empty()) {
        removePlacementRecords([&outside](const KittyPlacementKey& key, const KittyPlacementRecord&) {
            return outside.count(key) != 0;
        });
        removeOrphanedKittyPlacements();
    } else if (changed) {
        nextKittyGeneration();
    }
}

void KittyGraphicsEngine::trimKittyPlacementRows()
{
    // The oldest line is gone: every absolute line index drops by one.
    syncActiveScreen();
    KittyGraphicsScreenState& current = screen();
    std::set<KittyPlacementKey> gone;
    bool changed = false;
    for (auto& [key, record] : current.placementsByKey) {
        if (!movesWithContent(record))
            continue;
        if (record.row - 1 + std::max<int64_t>(record.rows, 1) < 1) {
            gone.insert(key);
            continue;
        }
        // The row may go negative: the placement then begins above the oldest line still kept.
        record.row -= 1;
        changed = true;
    }
    if (!gone.empty()) {
        removePlacementRecords([&gone](const KittyPlacementKey& key, const KittyPlacementRecord&) {
            return gone.count(key) != 0;
        });
        removeOrphanedKittyPlacements();
    } else if (changed) {
        nextKittyGeneration();
    }
}

void KittyGraphicsEngine::clearKittyImages(bool isAlternateBuffer)
{
    state_.activeIsAlternate = isAlternateBuffer;
    removePlacementRecords([isAlternateBuffer](const KittyPlacementKey&, const KittyPlacementRecord& record) {
        return record.isAlternateBuffer == isAlternateBuffer;
    });
    cleanupUnusedKittyImages();
    syncActiveScreen();
}

void KittyGraphicsEngine::clearKittyImagesOnScreen()
{
    // While column switches defer the scrollback's reflow, rows count as the reflow will leave
    // them, where the placements' rows are.
    const int64_t first = terminal_.buffer().settledYBase();
    const int64_t last = first + terminal_.rows() - 1;
    removePlacementRecords([=](const KittyPlacementKey&, const KittyPlacementRecord& record) {
        return movesWithContent(record) && record.lastRow() >= first && record.row <= last;
    });
    removeOrphanedKittyPlacements();
    cleanupUnusedKittyImages();
}

} // namespace kestrovan
