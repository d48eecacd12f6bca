// What a frame takes of kitty graphics: the render snapshot of the active screen's images and
// placements, and the decoding of Unicode placeholder cells (U+10EEEE) for the row builder.
//
// The inline-image engine is a separate subsystem; the render model reaches it only through the
// two hooks below, which that subsystem installs once at start-up. Until it does, a frame has no
// kitty images and no row reports placeholder cells. The hooks are read on the frame-preparing
// thread (the render snapshot, under the terminal lock) and on any row-building thread (the
// decoder, a pure function), so they are set once before the first frame and never changed.
#pragma once

#include "Kestrovan/Attribute.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace kestrovan {

class Terminal;

/// One placeholder cell of a row: the image and placement it shows and which piece of it.
struct SnapshotKittyPlaceholder
{
    int64_t row = 0;
    int64_t col = 0;
    uint32_t imageId = 0;
    uint32_t placementId = 0;
    int64_t placeholderRow = 0;
    int64_t placeholderCol = 0;
    int64_t msb = 0;

    friend bool operator==(const SnapshotKittyPlaceholder&, const SnapshotKittyPlaceholder&) = default;
};

/// The kitty graphics of one frame: the engine's render snapshot, opaque to the render model and
/// handed through to the renderers; null without one.
struct SnapshotKitty
{
    std::shared_ptr<const void> renderSnapshot;
    uint64_t storageGeneration = 0;
};

struct SnapshotKittyHooks
{
    /// The render snapshot of the terminal's active screen, taken under its lock.
    using RenderSnapshot = SnapshotKitty (*)(Terminal& terminal);
    /// Decodes a cell's scalars as a placeholder, given the previous decoded cell of the row.
    using DecodePlaceholder = std::optional<SnapshotKittyPlaceholder> (*)(
        std::span<const uint32_t> scalars, const Attribute& attribute, int64_t row, int64_t col,
        const std::optional<SnapshotKittyPlaceholder>& previous,
        const std::optional<Attribute>& previousAttribute);

    /// Installed by the inline-image subsystem before the first frame; null until then.
    static RenderSnapshot renderSnapshot;
    static DecodePlaceholder decodePlaceholder;
};

} // namespace kestrovan
