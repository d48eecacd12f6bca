// The kitty image store: which id a transmission stores under, storing under the per-screen byte
// quota with eviction, finding and touching images for display, and removal, clean-up and resets.
#include "Kestrovan/KittyGraphicsEngine.h"
#include "Kestrovan/Terminal.h"

#include <algorithm>

namespace kestrovan {

bool KittyGraphicsEngine::placementReferencesImage(uint32_t imageId) const
{
    return state_.active().hasPlacements(imageId);
}

KittyGraphicsEngine::ResolvedImageId
KittyGraphicsEngine::resolveKittyImageId(const KittyGraphicsControl& control)
{
    KittyGraphicsScreenState& current = screen();
    if (control.imageId)
        return {*control.imageId, std::nullopt, true};
    // With a number: the smallest free id from 1 (1 again when every id is taken).
    if (control.imageNumber)
        return {current.firstFreeImageId(1), control.imageNumber, true};
    // Neither: the implicit counter from 2^31, skipping 0 and ids in use; such a transmission never
    // answers.
    const uint32_t id = current.firstFreeImageId(current.nextImplicitImageId);
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
    // A new image adds its own record to the bookkeeping; one replacing another takes its place.
    const bool replaces = screen().imagesById.count(imageId) != 0;
    if (!reserveKittyStorageBytes(byteSize, imageId, replaces ? 0 : KittyGraphicsBookkeeping::imageBytes))
        return false;
    KittyGraphicsScreenState& current = screen();
    const uint64_t tick = current.nextImageAccessTick++;
    if (current.imagesById.count(imageId) != 0) {
        removePlacementKeys(current.placementKeysOf(imageId));
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
    // The old image's bytes and costs leave the totals as the new one's enter.
    current.putImage(imageId, std::move(image));
    // The newest image wins the number.
    if (imageNumber)
        current.imageNumbers[*imageNumber] = imageId;
    return true;
}

bool KittyGraphicsEngine::reserveKittyStorageBytes(int64_t bytes, std::optional<uint32_t> excludingImageId,
                                                   int64_t bookkeeping)
{
    const int64_t limit = terminal_.options().kittyGraphics.storageLimitBytesPerScreen;
    if (bytes > limit)
        return false;
    // Transient images go first, then images no placement shows, then the least recently stored
    // or displayed. The excluded image stays, but its bytes keep counting. Each step takes the
    // first image of an order the store keeps, so making room costs a logarithm per image evicted.
    while (screen().chargedBytes(bytes, bookkeeping) > limit) {
        const std::optional<uint32_t> candidate = screen().evictionCandidate(excludingImageId);
        if (!candidate)
            return false;
        removeKittyImage(*candidate);
        // A candidate the store could not remove would be offered again forever.
        if (screen().evictionCandidate(excludingImageId) == candidate)
            return false;
    }
    return true;
}

std::optional<std::pair<uint32_t, KittyGraphicsImage*>>
KittyGraphicsEngine::resolveExistingKittyImage(const KittyGraphicsControl& control)
{
    KittyGraphicsScreenState& current = screen();
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
    return std::make_pair(*id, &image->second);
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
    return screen().touchImage(imageId);
}

void KittyGraphicsEngine::removeKittyImage(uint32_t imageId)
{
    // Placements go first, whether or not the image exists.
    removePlacementKeys(screen().placementKeysOf(imageId));
    KittyGraphicsScreenState& current = screen();
    if (current.imagesById.count(imageId) == 0)
        return;
    removeKittyImageNumbers(imageId);
    current.takeImage(imageId);
    nextKittyGeneration();
}

void KittyGraphicsEngine::removeKittyImageNumbers(uint32_t imageId)
{
    // A number names only an image stored with it, so the image's own number is the only one
    // that can name it.
    KittyGraphicsScreenState& current = screen();
    const auto image = current.imagesById.find(imageId);
    if (image == current.imagesById.end() || !image->second.imageNumber)
        return;
    const auto number = current.imageNumbers.find(*image->second.imageNumber);
    if (number != current.imageNumbers.end() && number->second == imageId)
        current.imageNumbers.erase(number);
}

void KittyGraphicsEngine::cleanupUnusedKittyImages(const std::set<uint32_t>& imageIds)
{
    terminal_.terminalLock().assumeHeldByCaller();
    for (const uint32_t id : imageIds) {
        if (!placementReferencesImage(id))
            removeKittyImage(id);
    }
}

void KittyGraphicsEngine::cleanupUnusedKittyImages()
{
    terminal_.terminalLock().assumeHeldByCaller();
    for (const uint32_t id : screen().unshownImageIds())
        removeKittyImage(id);
}

void KittyGraphicsEngine::resetKittyGraphicsStore(KittyGraphicsScreenState& target)
{
    target.clearStore();
    target.nextImageAccessTick = 1;
    target.nextImplicitImageId = 0x8000'0000;
    // Placement ids, tokens and insertion orders carry on, so tokens stay unique across resets.
    target.generation = state_.nextGeneration;
    state_.nextGeneration = state_.nextGeneration == UINT64_MAX ? 1 : state_.nextGeneration + 1;
}

void KittyGraphicsEngine::clearAllKittyImages()
{
    terminal_.terminalLock().assumeHeldByCaller();
    state_.pending.reset();
    resetKittyGraphicsStore(state_.primary);
    resetKittyGraphicsStore(state_.alternate);
    terminal_.hasKittyPlacements_ = false;
    terminal_.updateRange(terminal_.buffer().scrollTop());
    terminal_.updateRange(terminal_.buffer().scrollBottom());
}

} // namespace kestrovan
