// Kitty placement deletion: the delete action's selectors, the generic removal every other Part
// removes placements through, and the removal of placements whose parent went away.
#include "Kestrovan/KittyGraphicsEngine.h"
#include "Kestrovan/Terminal.h"

#include <algorithm>
#include <cctype>

namespace kestrovan {

std::set<KittyPlacementKey> KittyGraphicsEngine::removePlacementRecords(const PlacementPredicate& predicate)
{
    terminal_.terminalLock().assumeHeldByCaller();
    // Predicates may look at rows, so the rows dropped lines left behind are written in first.
    screen().settleRows();
    std::vector<KittyPlacementKey> selected;
    for (const auto& [key, record] : screen().placementsByKey) {
        if (predicate(key, record))
            selected.push_back(key);
    }
    return removePlacementKeys(selected);
}

std::set<KittyPlacementKey>
KittyGraphicsEngine::removePlacementKeys(const std::vector<KittyPlacementKey>& keys)
{
    KittyGraphicsScreenState& current = screen();
    const bool alternate = terminal_.isCurrentBufferAlternate();
    std::set<KittyPlacementKey> removed;
    bool touchesActiveBuffer = false;
    for (const KittyPlacementKey& key : keys) {
        const auto found = current.placementsByKey.find(key);
        if (found == current.placementsByKey.end())
            continue;
        touchesActiveBuffer = touchesActiveBuffer || found->second.isAlternateBuffer == alternate;
        current.erasePlacement(key);
        removed.insert(key);
    }
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
    screen().settleRows();
    std::set<uint32_t> ids;
    for (const auto& [key, record] : screen().placementsByKey) {
        if (predicate(key, record))
            ids.insert(record.imageId);
    }
    return ids;
}

std::set<uint32_t> KittyGraphicsEngine::removeOrphanedKittyPlacements()
{
    terminal_.terminalLock().assumeHeldByCaller();
    std::set<uint32_t> imageIds;
    // Each pass may orphan the children of what it removed, so passes repeat until one finds none.
    // The store keeps the parents that went away, so a pass looks only at their children.
    for (;;) {
        const std::set<KittyPlacementKey> orphans = screen().orphanedPlacements();
        if (orphans.empty())
            return imageIds;
        for (const KittyPlacementKey& key : orphans)
            imageIds.insert(key.imageId);
        removePlacementKeys(std::vector<KittyPlacementKey>(orphans.begin(), orphans.end()));
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

/// The keys of the image's placements whose client placement id is `placementId`: the one client
/// key, or for 0 the anonymous placements.
std::vector<KittyPlacementKey> KittyGraphicsEngine::clientPlacementKeys(uint32_t imageId,
                                                                        uint32_t placementId)
{
    if (placementId != 0) {
        if (screen().placementsByKey.count({imageId, placementId, false}) == 0)
            return {};
        return {{imageId, placementId, false}};
    }
    std::vector<KittyPlacementKey> keys = screen().placementKeysOf(imageId);
    std::erase_if(keys, [](const KittyPlacementKey& key) { return !key.isAnonymous; });
    return keys;
}

void KittyGraphicsEngine::deletePlacementsByImageId(uint32_t imageId, std::optional<uint32_t> placementId)
{
    removePlacementKeys(placementId ? clientPlacementKeys(imageId, *placementId)
                                    : screen().placementKeysOf(imageId));
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
    const int64_t first = std::max<int64_t>(min, 0);
    const int64_t last = std::min<int64_t>(max, UINT32_MAX);
    if (first > last)
        return;
    removePlacementKeys(screen().placementKeysOfImages(uint32_t(first), uint32_t(last)));
}

void KittyGraphicsEngine::removeKittyPlacement(uint32_t imageId, uint32_t placementId)
{
    removePlacementKeys(clientPlacementKeys(imageId, placementId));
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
        const auto& images = screen().imagesById;
        for (auto image = images.lower_bound(uint32_t(std::min<int64_t>(low, UINT32_MAX)));
             image != images.end() && image->first <= y; ++image)
            ids.insert(image->first);
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
