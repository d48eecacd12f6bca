// Kitty placements on the CPU path: layers, cached pictures, per-row drawing and placeholder cells.
#include "Kestrovan/Apple/KittyPlacementDrawing.h"

#include "Kestrovan/Apple/FrameHasher.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace kestrovan {

using platform::NativeImage;
using platform::Rect;
using platform::Size;

namespace {

/// The boundary between the two layers below text: -2^30.
constexpr int32_t belowBackgroundsLimit = -1'073'741'824;

/// The image a placement shows, or null when the snapshot has none under its id.
const KittyGraphicsRenderImage* imageOf(const KittyGraphicsRenderPlacement& placement,
                                        const KittyGraphicsRenderSnapshot& snapshot)
{
    const auto found = snapshot.imagesById.find(placement.imageId);
    return found == snapshot.imagesById.end() ? nullptr : &found->second;
}

KittyPlacementImageKey keyOf(const KittyGraphicsRenderPlacement& placement,
                             const KittyGraphicsRenderImage& image)
{
    return KittyPlacementImageKey{placement.token, image.contentGeneration, placement.visibleSource};
}

/// The source rectangle's pixels copied row by row out of the image; null when the rectangle is
/// empty or does not lie inside the image, or the image holds fewer bytes than its size says. The
/// snapshot promises a source inside the image; a broken promise draws nothing rather than
/// reading past the pixels.
std::shared_ptr<const NativeImage> cutSource(const KittyGraphicsRenderImage& image,
                                             const KittyGraphicsPixelRect& source)
{
    const std::vector<uint8_t>& pixels = image.pixels();
    const int64_t width = image.width, height = image.height;
    if (width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX ||
        int64_t(pixels.size()) / 4 / width < height)
        return nullptr;
    if (source.width < 1 || source.height < 1 || source.x < 0 || source.y < 0 ||
        source.x > width - source.width || source.y > height - source.height)
        return nullptr;
    const size_t rowBytes = size_t(source.width) * 4;
    std::vector<uint8_t> cut(rowBytes * size_t(source.height));
    for (int64_t y = 0; y < source.height; ++y) {
        const size_t from = (size_t(source.y + y) * size_t(width) + size_t(source.x)) * 4;
        std::memcpy(cut.data() + size_t(y) * rowBytes, pixels.data() + from, rowBytes);
    }
    return NativeImage::fromRGBA(int(source.width), int(source.height), std::move(cut));
}

platform::Size sizeOf(const NativeImage& image)
{
    return Size{double(image.width()), double(image.height())};
}

} // namespace

KittyPlacementLayer kittyPlacementLayer(int32_t zIndex)
{
    if (zIndex < belowBackgroundsLimit)
        return KittyPlacementLayer::belowBackgrounds;
    return zIndex < 0 ? KittyPlacementLayer::belowText : KittyPlacementLayer::aboveText;
}

size_t KittyPlacementImageKeyHash::operator()(const KittyPlacementImageKey& key) const
{
    FrameHasher hasher;
    hasher.feed(key.token);
    hasher.feed(key.contentGeneration);
    hasher.feed(uint64_t(key.source.x));
    hasher.feed(uint64_t(key.source.y));
    hasher.feed(uint64_t(key.source.width));
    hasher.feed(uint64_t(key.source.height));
    return size_t(hasher.finish());
}

std::shared_ptr<const NativeImage>
KittyPlacementImageCache::image(const KittyGraphicsRenderPlacement& placement,
                                const KittyGraphicsRenderSnapshot& snapshot)
{
    const KittyGraphicsRenderImage* image = imageOf(placement, snapshot);
    if (!image)
        return nullptr;
    const KittyPlacementImageKey key = keyOf(placement, *image);
    if (auto cached = images_.withLock([&](Images& images) -> std::shared_ptr<const NativeImage> {
            const auto found = images.find(key);
            return found == images.end() ? nullptr : found->second;
        }))
        return cached;
    // Cut outside the lock: a big picture takes a while, and nobody else needs the cache meanwhile.
    std::shared_ptr<const NativeImage> cut = cutSource(*image, placement.visibleSource);
    if (cut)
        images_.withLock([&](Images& images) { images[key] = cut; });
    return cut;
}

void KittyPlacementImageCache::prune(const KittyGraphicsRenderSnapshot& snapshot)
{
    if (snapshot.placements.empty()) {
        images_.withLock([](Images& images) { images.clear(); });
        return;
    }
    std::unordered_set<KittyPlacementImageKey, KittyPlacementImageKeyHash> live;
    for (const KittyGraphicsRenderPlacement& placement : snapshot.placements) {
        if (const KittyGraphicsRenderImage* image = imageOf(placement, snapshot))
            live.insert(keyOf(placement, *image));
    }
    images_.withLock([&](Images& images) {
        std::erase_if(images, [&](const auto& entry) { return !live.contains(entry.first); });
    });
}

size_t KittyPlacementImageCache::count() const
{
    return images_.withLock([](const Images& images) { return images.size(); });
}

Rect kittyAspectFitRect(Size imageSize, const Rect& rect)
{
    if (!(imageSize.width > 0 && imageSize.height > 0 && rect.width > 0 && rect.height > 0))
        return rect;
    const double s = std::min(rect.width / imageSize.width, rect.height / imageSize.height);
    const double width = imageSize.width * s, height = imageSize.height * s;
    return Rect{rect.x + (rect.width - width) * 0.5, rect.y + (rect.height - height) * 0.5, width, height};
}

KittyVirtualPlacements groupVirtualPlacements(const KittyGraphicsRenderSnapshot& snapshot)
{
    KittyVirtualPlacements grouped;
    for (const KittyGraphicsRenderPlacement& placement : snapshot.placements) {
        if (placement.isVirtual)
            grouped[placement.imageId].push_back(&placement);
    }
    return grouped;
}

void drawKittyPlacements(platform::Canvas& canvas, int64_t screenRow, double rowY, KittyPlacementLayer layer,
                         const KittyGraphicsRenderSnapshot& snapshot, KittyPlacementImageCache& cache,
                         const KittyRowGeometry& geometry)
{
    const double cellWidth = geometry.cellSize.width, cellHeight = geometry.cellSize.height;
    const double scale = geometry.scale > 0 ? geometry.scale : 1.0;
    for (const KittyGraphicsRenderPlacement& placement : snapshot.placements) {
        if (placement.isVirtual || kittyPlacementLayer(placement.zIndex) != layer)
            continue;
        const KittyGraphicsCellGeometry& cells = placement.geometry;
        if (!(cells.row <= screenRow && screenRow - cells.row < cells.rows))
            continue;
        const std::shared_ptr<const NativeImage> picture = cache.image(placement, snapshot);
        if (!picture)
            continue;
        // In y-up points: the picture's top edge is its first row's top moved down by the
        // vertical offset, its bottom the last row's bottom; the horizontal offset moves the left
        // edge right and narrows the picture by as much. Cell counts become doubles before any
        // product, so that no value of the snapshot can overflow.
        const double offsetX = double(placement.pixelOffsetX) / scale;
        const double offsetY = double(placement.pixelOffsetY) / scale;
        const double rowsAbove = double(screenRow - cells.row);
        const double rowsBelow = double(cells.row - screenRow) + double(cells.rows) - 1;
        const double top = rowY + cellHeight * (rowsAbove + 1) - offsetY;
        const double bottom = rowY - cellHeight * rowsBelow;
        const Rect target{cellWidth * double(cells.column) + offsetX, bottom,
                          std::max(0.0, cellWidth * double(cells.columns) - offsetX),
                          std::max(0.0, top - bottom)};
        if (!(target.width > 0 && target.height > 0))
            continue;
        canvas.save();
        canvas.clip(Rect{0, rowY, cellWidth * geometry.cols, cellHeight});
        canvas.drawImage(picture, target);
        canvas.restore();
    }
}

void drawKittyPlaceholders(platform::Canvas& canvas, std::span<const KittyPlaceholderCell> cells, double rowY,
                           const KittyVirtualPlacements& virtualPlacements,
                           const KittyGraphicsRenderSnapshot& snapshot, KittyPlacementImageCache& cache,
                           const KittyRowGeometry& geometry)
{
    const double cellWidth = geometry.cellSize.width, cellHeight = geometry.cellSize.height;
    const double scale = geometry.scale > 0 ? geometry.scale : 1.0;
    for (const KittyPlaceholderCell& cell : cells) {
        const auto group = virtualPlacements.find(cell.imageId);
        if (group == virtualPlacements.end())
            continue;
        const auto match =
            std::find_if(group->second.begin(), group->second.end(), [&](const auto* placement) {
                const KittyGraphicsCellGeometry& grid = placement->geometry;
                return (cell.placementId == 0 || placement->placementId == cell.placementId) &&
                       grid.columns >= 1 && grid.rows >= 1 && cell.placeholderCol >= 0 &&
                       cell.placeholderCol < grid.columns && cell.placeholderRow >= 0 &&
                       cell.placeholderRow < grid.rows;
            });
        if (match == group->second.end())
            continue;
        const KittyGraphicsRenderPlacement& placement = **match;
        const std::shared_ptr<const NativeImage> picture = cache.image(placement, snapshot);
        if (!picture)
            continue;
        // The whole placement's area, placed so that this cell is its (row, column) piece; the
        // offsets move it as they move a placement drawn in the layers.
        const double rows = double(placement.geometry.rows);
        const Rect area{double(placement.pixelOffsetX) / scale +
                            cellWidth * double(cell.col - cell.placeholderCol),
                        rowY + cellHeight * double(cell.placeholderRow) - cellHeight * (rows - 1) -
                            double(placement.pixelOffsetY) / scale,
                        cellWidth * double(placement.geometry.columns), cellHeight * rows};
        if (area.isEmpty() || !area.isFinite())
            continue;
        canvas.save();
        canvas.clip(Rect{cellWidth * double(cell.col), rowY, cellWidth, cellHeight});
        canvas.drawImage(picture, kittyAspectFitRect(sizeOf(*picture), area));
        canvas.restore();
    }
}

} // namespace kestrovan
