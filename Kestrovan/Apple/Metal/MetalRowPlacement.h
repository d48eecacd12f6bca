// Placing a prepared row on a screen row: turning everything `prepareRow` resolved into cell and
// vertex records in drawable pixels, and adding the kitty placements that cross the row.
//
// This is the step repeated, cheaply, when a cached row scrolls: no shaping, no glyph lookup, no
// rasterization, only arithmetic and appends (and the kitty textures, made once per image).
// Positions are drawable pixels, y-up. Glyph quads are moved so that their lower-left corner lies
// on a whole pixel: their texels then land on pixel centres and a glyph drawn at scale 1 shows its
// bitmap exactly. Double-width lines are drawn twice as wide; a double-height half is drawn at
// twice the height about its pivot and clipped to its row.
#pragma once

#include "Kestrovan/Apple/Metal/DrawData.h"
#include "Kestrovan/Apple/Metal/MetalImageTextures.h"
#include "Kestrovan/Apple/Metal/PreparedRow.h"
#include "Kestrovan/Apple/SnapshotRenderContext.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"

#include <cstdint>

namespace kestrovan {

/// The frame's cell metrics a placement needs.
struct RowPlacementMetrics
{
    /// One cell, in points.
    double cellWidth = 0;
    double cellHeight = 0;
    /// The baseline's height above a row's bottom edge, in points.
    double yOffset = 0;
    double viewWidthPx = 0;
    /// Device pixels per point.
    double scale = 1;
};

/// The records of `row` on screen row `screenRow` (0 at the top of the view), with the kitty
/// placements of `snapshot` that cross it, routed by z-index: below -1,073,741,824 under the
/// backgrounds, from there to -1 under the text, 0 and above over it.
RowDrawData placeRow(const metal::PreparedRow& row, int64_t screenRow, const TerminalSnapshot& snapshot,
                     const SnapshotRenderContext& context, const RowPlacementMetrics& metrics,
                     MetalImageTextures& textures);

} // namespace kestrovan
