// The pieces of virtual kitty placements that the visible Unicode placeholder cells show, as pixel
// rectangles, for hosts that draw images without the built-in renderers.
//
// Each placeholder cell names an image, optionally a placement, and a cell of that placement's
// grid. The image is fitted into the placement's box keeping its aspect ratio and centred; each
// cell then shows the part of the fitted image that falls inside it.
#pragma once

#include "Kestrovan/KittyGraphicsRenderSnapshot.h"

#include <cstdint>
#include <vector>

namespace kestrovan {

class Terminal;

/// A rectangle in pixels.
struct TerminalKittyPlaceholderRect
{
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    friend bool operator==(const TerminalKittyPlaceholderRect&,
                           const TerminalKittyPlaceholderRect&) = default;
};

/// One piece to draw: a source rectangle of an image into a destination rectangle of the view.
struct TerminalKittyPlaceholderPlacement
{
    uint32_t imageId = 0;
    uint64_t token = 0;
    uint64_t insertionOrder = 0;
    /// In image pixels.
    TerminalKittyPlaceholderRect source;
    /// In view pixels, from the top-left of the viewport.
    TerminalKittyPlaceholderRect destination;

    friend bool operator==(const TerminalKittyPlaceholderPlacement&,
                           const TerminalKittyPlaceholderPlacement&) = default;
};

/// The pieces the viewport's placeholder cells show, row by row, cell by cell, placement by
/// placement. Needs the terminal lock: it reads the buffer's lines.
std::vector<TerminalKittyPlaceholderPlacement>
visibleKittyPlaceholderPlacements(Terminal& terminal, const KittyGraphicsRenderSnapshot& snapshot,
                                  double cellWidth, double cellHeight);

} // namespace kestrovan
