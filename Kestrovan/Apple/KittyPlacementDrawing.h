// Kitty graphics on the CPU path: the three layers a placement is drawn in, the images of the
// placements (their visible part cut out of the stored pixels once and cached), the drawing of one
// layer's placements on one row, and the pictures of Unicode placeholder cells.
//
// A placement several rows high is drawn once for each row it covers, clipped to that row: a frame
// that redraws only some rows then still shows the right part of the picture on each of them. The
// cache is shared state of a view (its drawing thread and whatever thread prunes it), so it has a
// lock of its own; the pixels themselves are immutable once cut.
#pragma once

#include "Kestrovan/KittyGraphicsRenderSnapshot.h"
#include "Kestrovan/Locked.h"
#include "Kestrovan/Portable/KittyPlaceholderDecoder.h"
#include "Platform/Graphics/Canvas.h"
#include "Platform/Graphics/Geometry.h"
#include "Platform/Graphics/NativeImage.h"

#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

namespace kestrovan {

/// Where in a row's painting a placement is drawn, by its z-index.
enum class KittyPlacementLayer : uint8_t
{
    /// Below -1,073,741,824: before the cell backgrounds.
    belowBackgrounds,
    /// -1,073,741,824 to -1: after the backgrounds, before custom glyph cells and text.
    belowText,
    /// 0 and above: after the text and its decorations.
    aboveText,
};

KittyPlacementLayer kittyPlacementLayer(int32_t zIndex);

/// What a placement's picture is cached under: it changes whenever the image's pixels or the
/// visible part change.
struct KittyPlacementImageKey
{
    uint64_t token = 0;
    uint64_t contentGeneration = 0;
    KittyGraphicsPixelRect source;

    friend bool operator==(const KittyPlacementImageKey&, const KittyPlacementImageKey&) = default;
};

struct KittyPlacementImageKeyHash
{
    size_t operator()(const KittyPlacementImageKey& key) const;
};

/// The pictures of a view's placements, cut once per key and reused across frames.
class KittyPlacementImageCache
{
public:
    /// The placement's picture: its visible source cut out of the image's pixels, or null when
    /// its image is not in the snapshot or the source does not lie inside the image.
    std::shared_ptr<const platform::NativeImage> image(const KittyGraphicsRenderPlacement& placement,
                                                       const KittyGraphicsRenderSnapshot& snapshot);
    /// Keeps only the pictures of the snapshot's placements (all are dropped when it has none).
    void prune(const KittyGraphicsRenderSnapshot& snapshot);
    size_t count() const;

private:
    using Images = std::unordered_map<KittyPlacementImageKey, std::shared_ptr<const platform::NativeImage>,
                                      KittyPlacementImageKeyHash>;
    Locked<Images> images_;
};

/// The largest rectangle of the image's aspect ratio inside `rect`, centred in it; `rect` itself
/// when a side of either is not above 0.
platform::Rect kittyAspectFitRect(platform::Size imageSize, const platform::Rect& rect);

/// What placement drawing needs of the frame.
struct KittyRowGeometry
{
    platform::Size cellSize;
    /// Device pixels per point: placement offsets are in pixels.
    double scale = 1;
    int cols = 0;
};

/// The frame's virtual placements by image id, for placeholder cells.
using KittyVirtualPlacements = std::unordered_map<uint32_t, std::vector<const KittyGraphicsRenderPlacement*>>;

/// Groups the snapshot's virtual placements by image id, in the snapshot's order.
KittyVirtualPlacements groupVirtualPlacements(const KittyGraphicsRenderSnapshot& snapshot);

/// Draws the placements of `layer` that cover screen row `screenRow`, whose bottom edge is at
/// `rowY`: each scaled into its cells (less its pixel offsets) and clipped to this row's band.
void drawKittyPlacements(platform::Canvas& canvas, int64_t screenRow, double rowY, KittyPlacementLayer layer,
                         const KittyGraphicsRenderSnapshot& snapshot, KittyPlacementImageCache& cache,
                         const KittyRowGeometry& geometry);

/// Draws the picture piece of each placeholder cell of a row: the first virtual placement of the
/// cell's image that matches its placement id (any when 0) and whose grid holds the cell, fitted
/// into the placement's area and clipped to the cell.
void drawKittyPlaceholders(platform::Canvas& canvas, std::span<const KittyPlaceholderCell> cells, double rowY,
                           const KittyVirtualPlacements& virtualPlacements,
                           const KittyGraphicsRenderSnapshot& snapshot, KittyPlacementImageCache& cache,
                           const KittyRowGeometry& geometry);

} // namespace kestrovan
