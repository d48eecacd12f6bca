// The tables of one screen's images and placements kept together with their indexes and totals.
#include "Kestrovan/KittyGraphicsScreenState.h"

namespace kestrovan {

// --- Quota -----------------------------------------------------------------------------------------

int64_t KittyGraphicsScreenState::chargedBytes(int64_t pixels, int64_t bookkeeping) const
{
    const int64_t pastAllowance =
        std::max<int64_t>(0, bookkeepingBytes + bookkeeping - KittyGraphicsBookkeeping::allowanceBytes);
    return totalImageBytes + pixels + pastAllowance;
}

std::optional<uint32_t> KittyGraphicsScreenState::evictionCandidate(std::optional<uint32_t> excluding) const
{
    auto candidate = evictionOrder_.begin();
    if (candidate != evictionOrder_.end() && excluding && std::get<3>(*candidate) == *excluding)
        ++candidate;
    if (candidate == evictionOrder_.end())
        return std::nullopt;
    return std::get<3>(*candidate);
}

// --- Images ----------------------------------------------------------------------------------------

int64_t KittyGraphicsScreenState::bookkeepingOf(const KittyGraphicsImage& image)
{
    // The first frame of an animation is the image's own payload; every further one costs a frame.
    const int64_t extraFrames = image.animation ? int64_t(image.animation->frames.size()) - 1 : 0;
    return KittyGraphicsBookkeeping::imageBytes + extraFrames * KittyGraphicsBookkeeping::frameBytes;
}

void KittyGraphicsScreenState::putImage(uint32_t id, KittyGraphicsImage image)
{
    const bool shown = hasPlacements(id);
    auto stored = imagesById.find(id);
    if (stored != imagesById.end()) {
        const KittyGraphicsImage& old = stored->second;
        totalImageBytes = std::max<int64_t>(0, totalImageBytes - old.byteSize);
        bookkeepingBytes -= bookkeepingOf(old);
        evictionOrder_.erase(evictionKey(id, old, shown));
        stored->second = std::move(image);
    } else {
        stored = imagesById.emplace(id, std::move(image)).first;
        usedImageIds_.insert(id);
    }
    const KittyGraphicsImage& now = stored->second;
    totalImageBytes += now.byteSize;
    bookkeepingBytes += bookkeepingOf(now);
    evictionOrder_.insert(evictionKey(id, now, shown));
    if (now.animation)
        animatedImageIds_.insert(id);
    else
        animatedImageIds_.erase(id);
}

std::optional<KittyGraphicsImage> KittyGraphicsScreenState::takeImage(uint32_t id)
{
    const auto stored = imagesById.find(id);
    if (stored == imagesById.end())
        return std::nullopt;
    KittyGraphicsImage image = std::move(stored->second);
    imagesById.erase(stored);
    usedImageIds_.erase(id);
    animatedImageIds_.erase(id);
    evictionOrder_.erase(evictionKey(id, image, hasPlacements(id)));
    totalImageBytes = std::max<int64_t>(0, totalImageBytes - image.byteSize);
    bookkeepingBytes -= bookkeepingOf(image);
    return image;
}

KittyGraphicsImage* KittyGraphicsScreenState::touchImage(uint32_t id)
{
    const auto stored = imagesById.find(id);
    if (stored == imagesById.end())
        return nullptr;
    const bool shown = hasPlacements(id);
    evictionOrder_.erase(evictionKey(id, stored->second, shown));
    stored->second.lastAccessTick = nextImageAccessTick++;
    evictionOrder_.insert(evictionKey(id, stored->second, shown));
    return &stored->second;
}

void KittyGraphicsScreenState::animationChanged(uint32_t id, int64_t frameBytesAdded, int64_t framesAdded)
{
    const auto stored = imagesById.find(id);
    if (stored == imagesById.end())
        return;
    KittyGraphicsImage& image = stored->second;
    image.byteSize = std::max<int64_t>(0, image.byteSize + frameBytesAdded);
    totalImageBytes = std::max<int64_t>(0, totalImageBytes + frameBytesAdded);
    bookkeepingBytes += framesAdded * KittyGraphicsBookkeeping::frameBytes;
    if (image.animation)
        animatedImageIds_.insert(id);
    else
        animatedImageIds_.erase(id);
}

std::vector<uint32_t> KittyGraphicsScreenState::unshownImageIds() const
{
    // The unshown images are two stretches of the eviction order: the transient ones and the kept.
    std::vector<uint32_t> ids;
    for (const bool kept : {false, true}) {
        for (auto entry = evictionOrder_.lower_bound({kept, false, 0, 0});
             entry != evictionOrder_.end() && std::get<0>(*entry) == kept && !std::get<1>(*entry); ++entry)
            ids.push_back(std::get<3>(*entry));
    }
    return ids;
}

void KittyGraphicsScreenState::setShown(uint32_t imageId, bool shown)
{
    const auto stored = imagesById.find(imageId);
    if (stored == imagesById.end())
        return;
    evictionOrder_.erase(evictionKey(imageId, stored->second, !shown));
    evictionOrder_.insert(evictionKey(imageId, stored->second, shown));
}

// --- Placements ------------------------------------------------------------------------------------

bool KittyGraphicsScreenState::hasPlacements(uint32_t imageId) const
{
    // Keys order by image id first, so an image's placements are one stretch of the table.
    const auto first = placementsByKey.lower_bound({imageId, 0, false});
    return first != placementsByKey.end() && first->first.imageId == imageId;
}

std::vector<KittyPlacementKey> KittyGraphicsScreenState::placementKeysOf(uint32_t imageId) const
{
    return placementKeysOfImages(imageId, imageId);
}

std::vector<KittyPlacementKey> KittyGraphicsScreenState::placementKeysOfImages(uint32_t first,
                                                                               uint32_t last) const
{
    std::vector<KittyPlacementKey> keys;
    for (auto entry = placementsByKey.lower_bound({first, 0, false});
         entry != placementsByKey.end() && entry->first.imageId <= last; ++entry)
        keys.push_back(entry->first);
    return keys;
}

std::optional<KittyPlacementKey> KittyGraphicsScreenState::parentKeyOf(const KittyPlacementRecord& record)
{
    if (!record.parentImageId || !record.parentPlacementId || *record.parentPlacementId == 0)
        return std::nullopt;
    return KittyPlacementKey{*record.parentImageId, *record.parentPlacementId,
                             record.parentPlacementIsAnonymous};
}

void KittyGraphicsScreenState::indexPlacement(const KittyPlacementKey& key,
                                              const KittyPlacementRecord& record)
{
    if (key.isAnonymous)
        anonymousPlacements_.insert({key.imageId, record.insertionOrder, key.placementId});
    else
        clientPlacements_.insert({key.imageId, key.placementId});
    if (record.parentImageId) {
        if (const std::optional<KittyPlacementKey> parent = parentKeyOf(record)) {
            childrenByParent_[*parent].insert(key);
            if (placementsByKey.count(*parent) == 0)
                missingParents_.insert(*parent);
        } else {
            imageLevelChildren_.insert(key);
        }
    }
    if (record.movesWithContent())
        movingByLastRow_.insert({anchorOfLastRow(record), key});
}

void KittyGraphicsScreenState::unindexPlacement(const KittyPlacementKey& key,
                                                const KittyPlacementRecord& record)
{
    if (key.isAnonymous)
        anonymousPlacements_.erase({key.imageId, record.insertionOrder, key.placementId});
    else
        clientPlacements_.erase({key.imageId, key.placementId});
    if (record.parentImageId) {
        if (const std::optional<KittyPlacementKey> parent = parentKeyOf(record)) {
            const auto children = childrenByParent_.find(*parent);
            if (children != childrenByParent_.end()) {
                children->second.erase(key);
                // A missing parent without children is nobody's concern any more.
                if (children->second.empty()) {
                    childrenByParent_.erase(children);
                    missingParents_.erase(*parent);
                }
            }
        } else {
            imageLevelChildren_.erase(key);
        }
    }
    if (record.movesWithContent())
        movingByLastRow_.erase({anchorOfLastRow(record), key});
}

void KittyGraphicsScreenState::putPlacement(const KittyPlacementKey& key, KittyPlacementRecord record)
{
    const bool wasShown = hasPlacements(key.imageId);
    // Stored rows of moving placements run ahead of the exact ones by the trims not yet settled.
    if (record.movesWithContent())
        record.row += pendingRowTrims_;
    auto stored = placementsByKey.find(key);
    if (stored != placementsByKey.end()) {
        unindexPlacement(key, stored->second);
        stored->second = std::move(record);
    } else {
        stored = placementsByKey.emplace(key, std::move(record)).first;
        bookkeepingBytes += KittyGraphicsBookkeeping::placementBytes;
    }
    indexPlacement(key, stored->second);
    missingParents_.erase(key);
    if (!wasShown)
        setShown(key.imageId, true);
}

bool KittyGraphicsScreenState::erasePlacement(const KittyPlacementKey& key)
{
    const auto stored = placementsByKey.find(key);
    if (stored == placementsByKey.end())
        return false;
    unindexPlacement(key, stored->second);
    placementsByKey.erase(stored);
    bookkeepingBytes -= KittyGraphicsBookkeeping::placementBytes;
    if (childrenByParent_.count(key) != 0)
        missingParents_.insert(key);
    if (!hasPlacements(key.imageId))
        setShown(key.imageId, false);
    return true;
}

std::optional<KittyPlacementKey> KittyGraphicsScreenState::defaultParentPlacement(uint32_t parentImageId,
                                                                                  bool alternateBuffer) const
{
    // A placement with a client id beats an anonymous one and the smaller client id wins; between
    // anonymous ones the older wins. Only placements of the given buffer count.
    for (auto client = clientPlacements_.lower_bound({parentImageId, 0});
         client != clientPlacements_.end() && client->first == parentImageId; ++client) {
        const KittyPlacementKey key{parentImageId, client->second, false};
        if (placementsByKey.at(key).isAlternateBuffer == alternateBuffer)
            return key;
    }
    for (auto anonymous = anonymousPlacements_.lower_bound({parentImageId, 0, 0});
         anonymous != anonymousPlacements_.end() && std::get<0>(*anonymous) == parentImageId; ++anonymous) {
        const KittyPlacementKey key{parentImageId, std::get<2>(*anonymous), true};
        if (placementsByKey.at(key).isAlternateBuffer == alternateBuffer)
            return key;
    }
    return std::nullopt;
}

std::set<KittyPlacementKey> KittyGraphicsScreenState::orphanedPlacements() const
{
    std::set<KittyPlacementKey> orphans;
    for (const KittyPlacementKey& parent : missingParents_) {
        const std::set<KittyPlacementKey>& children = childrenByParent_.at(parent);
        orphans.insert(children.begin(), children.end());
    }
    for (const KittyPlacementKey& child : imageLevelChildren_) {
        const uint32_t parentImage = *placementsByKey.at(child).parentImageId;
        const auto client = clientPlacements_.lower_bound({parentImage, 0});
        if (client == clientPlacements_.end() || client->first != parentImage)
            orphans.insert(child);
    }
    return orphans;
}

// --- Rows ------------------------------------------------------------------------------------------

void KittyGraphicsScreenState::movePlacement(const KittyPlacementKey& key, int64_t row, int64_t rows,
                                             int64_t sourceY, int64_t sourceHeight)
{
    const auto stored = placementsByKey.find(key);
    if (stored == placementsByKey.end())
        return;
    KittyPlacementRecord& record = stored->second;
    if (record.movesWithContent())
        movingByLastRow_.erase({anchorOfLastRow(record), key});
    record.row = record.movesWithContent() ? row + pendingRowTrims_ : row;
    record.rows = rows;
    record.sourceY = sourceY;
    record.sourceHeight = sourceHeight;
    if (record.movesWithContent())
        movingByLastRow_.insert({anchorOfLastRow(record), key});
}

std::pair<std::vector<KittyPlacementKey>, bool> KittyGraphicsScreenState::dropOldestLine()
{
    ++pendingRowTrims_;
    // A placement whose last row sat on the dropped line would now end above the first line: its
    // anchor lies below the count of lines dropped so far.
    const int64_t dropped = settledRowTrims_ + pendingRowTrims_;
    std::vector<KittyPlacementKey> gone;
    for (auto entry = movingByLastRow_.begin(); entry != movingByLastRow_.end() && entry->first < dropped;
         ++entry)
        gone.push_back(entry->second);
    const bool moved = movingByLastRow_.size() > gone.size();
    return {std::move(gone), moved};
}

void KittyGraphicsScreenState::settleRows()
{
    if (pendingRowTrims_ == 0)
        return;
    for (auto& [key, record] : placementsByKey) {
        if (record.movesWithContent())
            record.row -= pendingRowTrims_;
    }
    // The anchors of the trimming index count from the first line ever, so they stay as they are.
    settledRowTrims_ += pendingRowTrims_;
    pendingRowTrims_ = 0;
}

void KittyGraphicsScreenState::clearStore()
{
    imagesById.clear();
    imageNumbers.clear();
    placementsByKey.clear();
    totalImageBytes = 0;
    bookkeepingBytes = 0;
    usedImageIds_.clear();
    evictionOrder_.clear();
    animatedImageIds_.clear();
    clientPlacements_.clear();
    anonymousPlacements_.clear();
    childrenByParent_.clear();
    missingParents_.clear();
    imageLevelChildren_.clear();
    movingByLastRow_.clear();
    pendingRowTrims_ = 0;
    settledRowTrims_ = 0;
}

} // namespace kestrovan
