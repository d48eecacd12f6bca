// The kitty image store: which id a transmission stores under, storing under the per-screen byte
// quota with eviction, finding and touching images for display, and removal, clean-up and resets.
#include "Kestrovan/KittyGraphicsEngine.h"
#include "Kestrovan/Terminal.h"

#include <algorithm>
#include <tuple>
#include <vector>

namespace kestrovan {

bool KittyGraphicsEngine::placementReferencesImage(uint32_t imageId) const
{
    const KittyGraphicsScreenState& current = state_.active();
    for (const auto& [key, record] : current.placementsByKey) {
        if (record.imageId == imageId)
            return true;
    }
    return false;
}

KittyGraphicsEngine::ResolvedImageId
KittyGraphicsEngine::resolveKittyImageId(const KittyGraphicsControl& control)
{
    KittyGraphicsScreenState& current = screen();
    if (control.imageId)
        return {*control.imageId, std::nullopt, true};
    if (control.imageNumber) {
        // The smallest free id from 1 (1 again when every id is taken).
        uint32_t id = 1;
        for (const auto& [used, image] : current.imagesById) {
            if (used < id)
                continue;
            if (used != id)
                break;
            if (id == UINT32_MAX) {
                id = 1;
                break;
            }
            ++id;
        }
        return {id, control.imageNumber, true};
    }
    // Neither: the implicit counter from 2^31, skipping 0 and ids in use; such a transmission never
    // answers. The store holds far fewer than 2^32 images, so the walk ends.
    uint32_t id = current.nextImplicitImageId;
    while (id == 0 || current.imagesById.count(id) != 0)
        ++id;
    current.nextImplicitImageId = id + 1;
    return {id, std::nullopt, false};
}

void KittyGraphicsEngine::handleKittyTransmitPayload(const KittyGraphicsControl& control,
                                                     const KittyGraphicsPayload& payload, bool display)
{
    const ResolvedImageId resolved = resolveKittyImageId(control);
    if (!storeKittyImage(payload, resolved.imageId, resolved.imageNumber, (control.usage & 1) != 0)) {
        sendKittyError(control, "ENOMEM: out of memory");
        return;
    }
    if (display) {
        if (displayKittyImage(payload, control, resolved.imageId, resolved.imageNumber) && resolved.reply)
            sendKittyOk(control, resolved.imageId, resolved.imageNumber, control.placementId);
        return;
    }
    if (resolved.reply)
        sendKittyOk(control, resolved.imageId, resolved.imageNumber, control.placementId);
}

bool KittyGraphicsEngine::storeKittyImage(const KittyGraphicsPayload& payload, uint32_t imageId,
                                          std::optional<uint32_t> imageNumber, bool transient)
{
    const int64_t byteSize = static_cast<int64_t>(payload.rgba().size());
    if (!reserveKittyStorageBytes(byteSize, imageId))
        return false;
    KittyGraphicsScreenState& current = screen();
    const uint64_t tick = current.nextImageAccessTick++;
    if (const auto existing = current.imagesById.find(imageId); existing != current.imagesById.end()) {
        current.totalImageBytes = std::max<int64_t>(0, current.totalImageBytes - existing->second.byteSize);
        removePlacementRecords([imageId](const KittyPlacementKey&, const KittyPlacementRecord& record) {
            return record.imageId == imageId;
        });
        removeKittyImageNumbers(imageId);
    }
    const uint64_t generation = nextKittyGeneration();
    KittyGraphicsImage image;
    image.payload = payload;
    image.byteSize = byteSize;
    image.lastAccessTick = tick;
    image.imageNumber = imageNumber;
    image.contentGeneration = generation;
    image.transient = transient;
    current.imagesById[imageId] = std::move(image);
    current.totalImageBytes += byteSize;
    // The newest image wins the number.
    if (imageNumber)
        current.imageNumbers[*imageNumber] = imageId;
    return true;
}

bool KittyGraphicsEngine::reserveKittyStorageBytes(int64_t bytes, std::optional<uint32_t> excludingImageId)
{
    const int64_t limit = terminal_.options().kittyGraphics.storageLimitBytesPerScreen;
    if (bytes > limit)
        return false;
    const int64_t room = limit - bytes;
    KittyGraphicsScreenState& current = screen();
    if (current.totalImageBytes <= room)
        return true;

    // Transient images go first, then images no placement shows, then the least recently stored
    // or displayed. The excluded image stays, but its bytes keep counting.
    std::set<uint32_t> shown;
    for (const auto& [key, record] : current.placementsByKey)
        shown.insert(record.imageId);
    std::vector<std::tuple<bool, bool, uint64_t, uint32_t>> candidates;
    for (const auto& [id, image] : current.imagesById) {
        if (excludingImageId && id == *excludingImageId)
            continue;
        candidates.emplace_back(!image.transient, shown.count(id) != 0, image.lastAccessTick, id);
    }
    std::sort(candidates.begin(), candidates.end());
    for (const auto& candidate : candidates) {
        removeKittyImage(std::get<3>(candidate));
        if (screen().totalImageBytes <= room)
            return true;
    }
    return false;
}

std::optional<std::pair<uint32_t, KittyGraphicsImage>>
KittyGraphicsEngine::resolveExistingKittyImage(const KittyGraphicsControl& control)
{
    const KittyGraphicsScreenState& current = screen();
    std::optional<uint32_t> id = control.imageId;
    if (!id && control.imageNumber) {
        const auto number = current.imageNumbers.find(*control.imageNumber);
        if (number != current.imageNumbers.end())
            id = number->second;
    }
    if (!id)
        return std::nullopt;
    const auto image = current.imagesById.find(*id);
    if (image == current.imagesById.end())
        return std::nullopt;
    return std::make_pair(*id, image->second);
}

std::optional<KittyGraphicsEngine::DisplayedImage>
KittyGraphicsEngine::resolveKittyImageForDisplay(const KittyGraphicsControl& control)
{
    const bool reply = control.suppressResponses == 0;
    if (control.imageNumber) {
        const auto number = screen().imageNumbers.find(*control.imageNumber);
        if (number == screen().imageNumbers.end())
            return std::nullopt;
        const uint32_t id = number->second;
        if (KittyGraphicsImage* image = updateKittyImageAccess(id))
            return DisplayedImage{image->payload, id, control.imageNumber, reply};
        return std::nullopt;
    }
    if (control.imageId) {
        if (KittyGraphicsImage* image = updateKittyImageAccess(*control.imageId))
            return DisplayedImage{image->payload, *control.imageId, std::nullopt, reply};
    }
    return std::nullopt;
}

KittyGraphicsImage* KittyGraphicsEngine::updateKittyImageAccess(uint32_t imageId)
{
    KittyGraphicsScreenState& current = screen();
    const auto image = current.imagesById.find(imageId);
    if (image == current.imagesById.end())
        return nullptr;
    image->second.lastAccessTick = current.nextImageAccessTick++;
    return &image->second;
}

void KittyGraphicsEngine::removeKittyImage(uint32_t imageId)
{
    // Placements go first, whether or not the image exists.
    removePlacementRecords([imageId](const KittyPlacementKey&, const KittyPlacementRecord& record) {
        return record.imageId == imageId;
    });
    KittyGraphicsScreenState& current = screen();
    const auto image = current.imagesById.find(imageId);
    if (image == current.imagesById.end())
        return;
    current.totalImageBytes = std::max<int64_t>(0, current.totalImageBytes - image->second.byteSize);
    current.imagesById.erase(image);
    removeKittyImageNumbers(imageId);
    nextKittyGeneration();
}

void KittyGraphicsEngine::removeKittyImageNumbers(uint32_t imageId)
{
    std::erase_if(screen().imageNumbers, [imageId](const auto& entry) { return entry.second == imageId; });
}

void KittyGraphicsEngine::cleanupUnusedKittyImages(const std::set<uint32_t>& imageIds)
{
    for (const uint32_t id : imageIds) {
        if (!placementReferencesImage(id))
            removeKittyImage(id);
    }
}

void KittyGraphicsEngine::cleanupUnusedKittyImages()
{
    std::set<uint32_t> referenced;
    for (const auto& [key, record] : screen().placementsByKey)
        referenced.insert(record.imageId);
    std::vector<uint32_t> unused;
    for (const auto& [id, image] : screen().imagesById) {
        if (referenced.count(id) == 0)
            unused.push_back(id);
    }
    for (const uint32_t id : unused)
        removeKittyImage(id);
}

void KittyGraphicsEngine::resetKittyGraphicsStore(KittyGraphicsScreenState& target)
{
    target.imagesById.clear();
    target.imageNumbers.clear();
    target.placementsByKey.clear();
    target.totalImageBytes = 0;
    target.nextImageAccessTick = 1;
    target.nextImplicitImageId = 0x8000'0000;
    // Placement ids, tokens and insertion orders carry on, so tokens stay unique across resets.
    target.generation = state_.nextGeneration;
    state_.nextGeneration = state_.nextGeneration == UINT64_MAX ? 1 : state_.nextGeneration + 1;
}

void KittyGraphicsEngine::clearAllKittyImages()
{
    state_.pending.reset();
    resetKittyGraphicsStore(state_.primary);
    resetKittyGraphicsStore(state_.alternate);
    terminal_.hasKittyPlacements_ = false;
    terminal_.updateRange(terminal_.buffer().scrollTop());
    terminal_.updateRange(terminal_.buffer().scrollBottom());
}

} // namespace kestrovan
