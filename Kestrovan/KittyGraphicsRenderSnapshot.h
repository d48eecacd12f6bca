// The immutable picture of the kitty graphics of the active screen that renderers draw from: the
// stored images with the pixels on show, and the drawable placements resolved to viewport cells in
// drawing order.
//
// It is taken under the terminal lock (`Terminal::kittyGraphicsRenderSnapshot()`) and then read on
// any thread without one. Pixel bytes are shared with the store, which replaces them and never
// writes into bytes it has handed out, so taking a snapshot copies no pixels.
#pragma once

#include "Kestrovan/KittyGraphicsPayload.h"

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace kestrovan {

/// A rectangle in image pixels.
struct KittyGraphicsPixelRect
{
    int64_t x = 0;
    int64_t y = 0;
    int64_t width = 0;
    int64_t height = 0;

    friend bool operator==(const KittyGraphicsPixelRect&, const KittyGraphicsPixelRect&) = default;
};

/// A rectangle of cells; `row` counts from the top row of the viewport and may lie outside it.
struct KittyGraphicsCellGeometry
{
    int64_t column = 0;
    int64_t row = 0;
    int64_t columns = 0;
    int64_t rows = 0;

    friend bool operator==(const KittyGraphicsCellGeometry&, const KittyGraphicsCellGeometry&) = default;
};

/// A stored image with the pixels on show (an animated image's current frame).
struct KittyGraphicsRenderImage
{
    uint32_t imageId = 0;
    std::optional<uint32_t> imageNumber;
    int64_t width = 0;
    int64_t height = 0;
    KittyPixelBytes rgba;
    uint64_t contentGeneration = 0;

    /// The RGBA bytes (an empty list when none are held).
    const std::vector<uint8_t>& pixels() const;
    /// Compares the pixel bytes, not their identity.
    friend bool operator==(const KittyGraphicsRenderImage& a, const KittyGraphicsRenderImage& b);
};

/// A placement to draw.
struct KittyGraphicsRenderPlacement
{
    uint64_t token = 0;
    /// The client's placement id, 0 for an anonymous placement.
    uint32_t placementId = 0;
    uint32_t imageId = 0;
    /// The source rectangle clipped to the image.
    KittyGraphicsPixelRect visibleSource;
    KittyGraphicsCellGeometry geometry;
    int64_t pixelOffsetX = 0;
    int64_t pixelOffsetY = 0;
    int32_t zIndex = 0;
    bool isVirtual = false;
    uint64_t insertionOrder = 0;

    friend bool operator==(const KittyGraphicsRenderPlacement&,
                           const KittyGraphicsRenderPlacement&) = default;
};

/// Everything a renderer needs of the kitty graphics of one frame.
struct KittyGraphicsRenderSnapshot
{
    /// Equal values mean nothing changed.
    uint64_t storageGeneration = 0;
    std::map<uint32_t, KittyGraphicsRenderImage> imagesById;
    /// Sorted by z-index, then by insertion order (older first).
    std::vector<KittyGraphicsRenderPlacement> placements;

    friend bool operator==(const KittyGraphicsRenderSnapshot&, const KittyGraphicsRenderSnapshot&) = default;
};

} // namespace kestrovan
