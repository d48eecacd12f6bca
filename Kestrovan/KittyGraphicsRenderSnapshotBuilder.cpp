// The kitty graphics render snapshot: the active screen's images with the pixels on show, and the
// drawable placements resolved to viewport cells and sorted into drawing order.
#include "Kestrovan/KittyGraphicsEngine.h"
#include "Kestrovan/Terminal.h"

#include <algorithm>
#include <limits>

namespace kestrovan {

const std::vector<uint8_t>& KittyGraphicsRenderImage::pixels() const
{
    static const std::vector<uint8_t> none;
    return rgba ? *rgba : none;
}

bool operator==(const KittyGraphicsRenderImage& a, const KittyGraphicsRenderImage& b)
{
    return a.imageId == b.imageId && a.imageNumber == b.imageNumber && a.width == b.width &&
           a.height == b.height && a.contentGeneration == b.contentGeneration &&
           (a.rgba == b.rgba || a.pixels() == b.pixels());
}

KittyGraphicsRenderSnapshot KittyGraphicsEngine::renderSnapshot(const KittyGraphicsState& state,
                                                                bool alternate, int64_t yDisp)
{
    const KittyGraphicsScreenState& current = alternate ? state.alternate : state.primary;
    KittyGraphicsRenderSnapshot snapshot;
    snapshot.storageGeneration = current.generation;
    if (current.imagesById.empty() && current.placementsByKey.empty())
        return snapshot;

    // Pixel bytes are shared, not copied: the store replaces bytes and never writes into them.
    for (const auto& [id, image] : current.imagesById) {
        KittyGraphicsRenderImage render;
        render.imageId = id;
        render.imageNumber = image.imageNumber;
        render.width = image.payload.width;
        render.height = image.payload.height;
        render.rgba = image.payload.bytes;
        if (image.animation && image.animation->currentIndex >= 0 &&
            static_cast<size_t>(image.animation->currentIndex) < image.animation->frames.size())
            render.rgba = image.animation->frames[image.animation->currentIndex].rgba;
        render.contentGeneration = image.contentGeneration;
        snapshot.imagesById.emplace(id, std::move(render));
    }

    // Parent chains are resolved once per key for the whole snapshot.
    PositionTable resolved;
    for (const auto& [key, record] : current.placementsByKey) {
        const auto image = snapshot.imagesById.find(record.imageId);
        if (image == snapshot.imagesById.end())
            continue;
        CellPosition position{current.rowOf(record), record.col};
        if (!record.parentImageId || !record.parentPlacementId) {
            if (record.isAlternateBuffer != alternate)
                continue;
        } else {
            std::set<KittyPlacementKey> visiting;
            const std::optional<CellPosition> chained =
                resolvePlacementPosition(current, alternate, key, {}, resolved, visiting);
            if (!chained)
                continue;
            position = *chained;
        }
        // The source rectangle clipped to the image as it is now (it may have been replaced by a
        // smaller one since the placement was made).
        const int64_t imageWidth = image->second.width;
        const int64_t imageHeight = image->second.height;
        const int64_t x = std::max<int64_t>(0, std::min(record.sourceX, imageWidth));
        const int64_t y = std::max<int64_t>(0, std::min(record.sourceY, imageHeight));
        const int64_t width =
            record.sourceWidth > 0 ? std::min(record.sourceWidth, imageWidth - x) : imageWidth - x;
        const int64_t height =
            record.sourceHeight > 0 ? std::min(record.sourceHeight, imageHeight - y) : imageHeight - y;
        if (width <= 0 || height <= 0)
            continue;

        KittyGraphicsRenderPlacement placement;
        placement.token = record.token;
        placement.placementId = record.clientPlacementId;
        placement.imageId = record.imageId;
        placement.visibleSource = {x, y, width, height};
        placement.geometry = {position.second, position.first - yDisp, std::max<int64_t>(record.cols, 1),
                              std::max<int64_t>(record.rows, 1)};
        placement.pixelOffsetX = record.pixelOffsetX;
        placement.pixelOffsetY = record.pixelOffsetY;
        placement.zIndex = static_cast<int32_t>(std::clamp<int64_t>(
            record.zIndex, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
        placement.isVirtual = record.isVirtual;
        placement.insertionOrder = record.insertionOrder;
        snapshot.placements.push_back(placement);
    }
    std::sort(snapshot.placements.begin(), snapshot.placements.end(),
              [](const KittyGraphicsRenderPlacement& a, const KittyGraphicsRenderPlacement& b) {
                  if (a.zIndex != b.zIndex)
                      return a.zIndex < b.zIndex;
                  return a.insertionOrder < b.insertionOrder;
              });
    return snapshot;
}

} // namespace kestrovan
