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

void KittyGraphicsEngine::scrollKittyPlacementsInMargins(int64_t top, int64_t bottom, int64_t left,
                                                         int64_t right, int64_t delta)
{
    terminal_.terminalLock().assumeHeldByCaller();
    syncActiveScreen();
    KittyGraphicsScreenState& current = screen();
    const int64_t lastColumn = terminal_.cols() - 1;
    // The region comes in the ring's rows; placements count rows as a deferred scrollback reflow
    // will leave them (see `clearKittyImagesOnScreen`).
    const int64_t settledShift = terminal_.buffer().settledYBase() - terminal_.buffer().yBase();
    top += settledShift;
    bottom += settledShift;
    std::vector<KittyPlacementKey> outside;
    /// A placement's new rows and source, written back after the walk.
    struct Move
    {
        KittyPlacementKey key;
        int64_t row = 0;
        int64_t rows = 0;
        int64_t sourceY = 0;
        int64_t sourceHeight = 0;
    };
    std::vector<Move> moves;
    bool changed = false;
    for (const auto& [key, record] : current.placementsByKey) {
        if (!record.movesWithContent())
            continue;
        // Only a placement wholly inside the region moves; one reaching past the right edge counts
        // as ending at the last column.
        const int64_t row = current.rowOf(record);
        const int64_t lastRow = row + std::max<int64_t>(record.rows, 1) - 1;
        const int64_t lastCol = std::min(record.lastCol(), lastColumn);
        if (row < top || lastRow > bottom || record.col < left || lastCol > right)
            continue;

        Move move{key, row + delta, record.rows, record.sourceY, record.sourceHeight};
        const int64_t cutTop = top - move.row;
        const int64_t cutBottom = move.row + record.rows - 1 - bottom;
        if (record.rows <= std::max<int64_t>(0, cutTop) || (cutBottom >= 0 && cutBottom >= record.rows)) {
            outside.push_back(key);
            continue;
        }
        bool cropped = false;
        if (cutTop >= 1) {
            // The source loses the part that moved above the region, in proportion to the rows lost.
            const int64_t dropped = move.sourceHeight * cutTop / std::max<int64_t>(move.rows, 1);
            move.sourceY += dropped;
            move.sourceHeight -= dropped;
            move.rows -= cutTop;
            move.row = top;
            cropped = true;
        }
        if (cutBottom >= 1) {
            const int64_t dropped = move.sourceHeight * cutBottom / std::max<int64_t>(move.rows, 1);
            move.sourceHeight -= dropped;
            move.rows -= cutBottom;
            cropped = true;
        }
        changed = changed || cropped || move.row != row;
        moves.push_back(move);
    }
    for (const Move& move : moves)
        current.movePlacement(move.key, move.row, move.rows, move.sourceY, move.sourceHeight);
    if (!outside.empty()) {
        removePlacementKeys(outside);
        removeOrphanedKittyPlacements();
    } else if (changed) {
        nextKittyGeneration();
    }
}

void KittyGraphicsEngine::trimKittyPlacementRows()
{
    terminal_.terminalLock().assumeHeldByCaller();
    // The oldest line is gone: every absolute line index drops by one. The store keeps that as a
    // count the rows are read against, so only the placements that fell off cost anything. A row
    // may go negative: the placement then begins above the oldest line still kept.
    syncActiveScreen();
    const auto [gone, moved] = screen().dropOldestLine();
    if (!gone.empty()) {
        removePlacementKeys(gone);
        removeOrphanedKittyPlacements();
    } else if (moved) {
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
    terminal_.terminalLock().assumeHeldByCaller();
    // While column switches defer the scrollback's reflow, rows count as the reflow will leave
    // them, where the placements' rows are.
    const int64_t first = terminal_.buffer().settledYBase();
    const int64_t last = first + terminal_.rows() - 1;
    removePlacementRecords([=](const KittyPlacementKey&, const KittyPlacementRecord& record) {
        return record.movesWithContent() && record.lastRow() >= first && record.row <= last;
    });
    removeOrphanedKittyPlacements();
    cleanupUnusedKittyImages();
}

} // namespace kestrovan
