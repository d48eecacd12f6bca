// Kitty placement deletion: the delete action's selectors, the generic removal every other Part
// removes placements through, and the removal of placements whose parent went away.
#include "Kestrovan/KittyGraphicsEngine.h"
#include "Kestrovan/Terminal.h"

#include <cctype>

namespace kestrovan {

std::set<KittyPlacementKey> KittyGraphicsEngine::removePlacementRecords(const PlacementPredicate& predicate)
{
    KittyGraphicsScreenState& current = screen();
    const bool alternate = terminal_.isCurrentBufferAlternate();
    std::set<KittyPlacementKey> removed;
    bool touchesActiveBuffer = false;
    for (const auto& [key, record] : current.placementsByKey) {
        if (predicate(key, record)) {
            removed.insert(key);
            touchesActiveBuffer = touchesActiveBuffer || record.isAlternateBuffer == alternate;
        }
    }
    for (const KittyPlacementKey& key : removed)
        current.placementsByKey.erase(key);
    if (!removed.empty())
        updateHasKittyPlacements();
    if (touchesActiveBuffer)
        terminal_.updateFullScreen();
    if (!removed.empty())
        nextKittyGeneration();
    return removed;
}

std::set<uint32_t> KittyGraphicsEngine::imageIdsForPlacements(const PlacementPredicate& predicate)
{
    std::set<uint32_t> ids;
    for (const auto& [key, record] : screen().placementsByKey) {
        if (predicate(key, record))
            ids.insert(record.imageId);
    }
    return ids;
}

std::set<uint32_t> KittyGraphicsEngine::removeOrphanedKittyPlacements()
{
    std::set<uint32_t> imageIds;
    // Each pass may orphan the children of what it removed, so passes repeat until one finds none.
    for (;;) {
        const KittyGraphicsScreenState& current = screen();
        std::set<uint32_t> imagesWithClientPlacements;
        for (const auto& [key, record] : current.placementsByKey) {
            if (record.clientPlacementId != 0)
                imagesWithClientPlacements.insert(record.imageId);
        }
        std::set<KittyPlacementKey> orphans;
        for (const auto& [key, record] : current.placementsByKey) {
            if (!record.parentImageId)
                continue;
            const bool orphaned =
                record.parentPlacementId && *record.parentPlacementId != 0
                    ? current.placementsByKey.count({*record.parentImageId, *record.parentPlacementId,
                                                     record.parentPlacementIsAnonymous}) == 0
                    : imagesWithClientPlacements.count(*record.parentImageId) == 0;
            if (orphaned) {
                orphans.insert(key);
                imageIds.insert(record.imageId);
            }
        }
        if (orphans.empty())
            return imageIds;
        removePlacementRecords([&orphans](const KittyPlacementKey& key, const KittyPlacementRecord&) {
            return orphans.count(key) != 0;
        });
    }
}

std::set<uint32_t> KittyGraphicsEngine::imageIdsAtCell(int64_t col, int64_t row,
                                                       std::optional<int64_t> zIndex)
{
    return imageIdsForPlacements([=](const KittyPlacementKey&, const KittyPlacementRecord& record) {
        return !record.isVirtual && record.covers(col, row) && (!zIndex || record.zIndex == *zIndex);
    });
}

void KittyGraphicsEngine::deletePlacementsVisibleOnScreen()
{
    const int64_t yBase = terminal_.buffer().settledYBase();
    const int64_t cols = terminal_.cols();
    const int64_t rows = terminal_.rows();
    removePlacementRecords([=](const KittyPlacementKey&, const KittyPlacementRecord& record) {
        return !record.isVirtual && record.lastCol() >= 0 && record.col <= cols - 1 &&
               record.lastRow() >= yBase && record.row <= yBase + rows - 1;
    });
}

void KittyGraphicsEngine::deletePlacementsByImageId(uint32_t imageId, std::optional<uint32_t> placementId)
{
    removePlacementRecords([=](const KittyPlacementKey&, const KittyPlacementRecord& record) {
        return record.imageId == imageId && (!placementId || record.clientPlacementId == *placementId);
    });
}

void KittyGraphicsEngine::deletePlacementsAtCell(int64_t col, int64_t row, std::optional<int64_t> zIndex)
{
    removePlacementRecords([=](const KittyPlacementKey&, const KittyPlacementRecord& record) {
        return !record.isVirtual && record.covers(col, row) && (!zIndex || record.zIndex == *zIndex);
    });
}

void KittyGraphicsEngine::deletePlacementsInColumn(int64_t col)
{
    removePlacementRecords([=](const KittyPlacementKey&, const KittyPlacementRecord& record) {
        return !record.isVirtual && col >= record.col && col <= record.lastCol();
    });
}

void KittyGraphicsEngine::deletePlacementsInRow(int64_t row)
{
    removePlacementRecords([=](const KittyPlacementKey&, const KittyPlacementRecord& record) {
        return !record.isVirtual && row >= record.row && row <= record.lastRow();
    });
}

void KittyGraphicsEngine::deletePlacementsWithZIndex(int64_t zIndex)
{
    removePlacementRecords([=](const KittyPlacementKey&, const KittyPlacementRecord& record) {
        return !record.isVirtual && record.zIndex == zIndex;
    });
}

void KittyGraphicsEngine::deletePlacementsByImageIdRange(int64_t min, int64_t max)
{
    removePlacementRecords([=](const KittyPlacementKey&, const KittyPlacementRecord& record) {
        return record.imageId >= min && record.imageId <= max;
    });
}

void KittyGraphicsEngine::removeKittyPlacement(uint32_t imageId, uint32_t placementId)
{
    removePlacementRecords([=](const KittyPlacementKey&, const KittyPlacementRecord& record) {
        return record.imageId == imageId && record.clientPlacementId == placementId;
    });
}

void KittyGraphicsEngine::handleKittyDelete(const KittyGraphicsControl& control)
{
    const uint8_t selector = control.deleteMode.value_or('a');
    // An upper-case selector also frees the images left without placements.
    const bool freesData = selector >= 'A' && selector <= 'Z';
    const uint8_t letter = static_cast<uint8_t>(std::tolower(selector));
    const int64_t yBase = terminal_.buffer().settledYBase();
    const int64_t cursorCol = terminal_.buffer().x();
    const int64_t cursorRow = terminal_.buffer().y() + yBase;
    // x, y and z are read from the keys the protocol lends them for these selectors.
    const int64_t x = control.cropX;
    const int64_t y = control.cropY;
    const int64_t z = control.zIndex;

    std::set<uint32_t> ids;
    switch (letter) {
    case 'a': {
        const int64_t cols = terminal_.cols();
        const int64_t rows = terminal_.rows();
        ids = imageIdsForPlacements([=](const KittyPlacementKey&, const KittyPlacementRecord& record) {
            return !record.isVirtual && record.lastCol() >= 0 && record.col <= cols - 1 &&
                   record.lastRow() >= yBase && record.row <= yBase + rows - 1;
        });
        deletePlacementsVisibleOnScreen();
        break;
    }
    case 'i':
        if (!control.imageId)
            return;
        deletePlacementsByImageId(*control.imageId, control.placementId);
        ids.insert(*control.imageId);
        break;
    case 'n': {
        if (!control.imageNumber)
            return;
        const auto number = screen().imageNumbers.find(*control.imageNumber);
        if (number != screen().imageNumbers.end()) {
            const uint32_t id = number->second;
            deletePlacementsByImageId(id, control.placementId);
            ids.insert(id);
        }
        break;
    }
    case 'c':
        ids = imageIdsAtCell(cursorCol, cursorRow, std::nullopt);
        deletePlacementsAtCell(cursorCol, cursorRow, std::nullopt);
        break;
    case 'p':
    case 'q': {
        if (x < 1 || y < 1)
            return;
        const std::optional<int64_t> zIndex = letter == 'q' ? std::optional<int64_t>(z) : std::nullopt;
        ids = imageIdsAtCell(x - 1, (y - 1) + yBase, zIndex);
        deletePlacementsAtCell(x - 1, (y - 1) + yBase, zIndex);
        break;
    }
    case 'x': {
        if (x < 1)
            return;
        const int64_t col = x - 1;
        ids = imageIdsForPlacements([=](const KittyPlacementKey&, const KittyPlacementRecord& record) {
            return !record.isVirtual && col >= record.col && col <= record.lastCol();
        });
        deletePlacementsInColumn(col);
        break;
    }
    case 'y': {
        if (y < 1)
            return;
        const int64_t row = (y - 1) + yBase;
        ids = imageIdsForPlacements([=](const KittyPlacementKey&, const KittyPlacementRecord& record) {
            return !record.isVirtual && row >= record.row && row <= record.lastRow();
        });
        deletePlacementsInRow(row);
        break;
    }
    case 'z':
        ids = imageIdsForPlacements([=](const KittyPlacementKey&, const KittyPlacementRecord& record) {
            return !record.isVirtual && record.zIndex == z;
        });
        deletePlacementsWithZIndex(z);
        break;
    case 'r': {
        if (y < 1 || x > y)
            return;
        const int64_t low = std::max<int64_t>(x, 0);
        deletePlacementsByImageIdRange(low, y);
        for (const auto& [id, image] : screen().imagesById) {
            if (id >= low && id <= y)
                ids.insert(id);
        }
        break;
    }
    case 'f':
        deleteKittyAnimationFrame(control, freesData);
        return;
    default:
        return;
    }

    const std::set<uint32_t> orphans = removeOrphanedKittyPlacements();
    ids.insert(orphans.begin(), orphans.end());
    if (freesData)
        cleanupUnusedKittyImages(ids);
}

} // namespace kestrovan
