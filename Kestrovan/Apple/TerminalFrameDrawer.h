// Draws frames of a terminal view on the CPU: the entry the view's draw calls with the part of the
// view to paint, and the painting of a prepared snapshot row by row onto a canvas.
//
// A frame clears the part to paint (and fills it with the default background when cell
// backgrounds are translucent), paints every snapshot row that meets it, and fills the strip below
// the last whole row. The canvas is normally the view's persistent backing store, clipped to the
// dirty rectangle, so a frame that changed one row paints one row and every other pixel stays.
//
// One drawer per view, used on the thread that draws (the main thread). It keeps what makes a
// repaint cheap: each row's shaped and placed glyph runs, reused while the snapshot row's revision,
// its absolute row, the frame's render context identity and the cell size stay the same; the
// shaped short runs; the row builder's caches; and the kitty placements' pictures. It reads the
// snapshot only; the terminal lock is never taken.
#pragma once

#include "Kestrovan/Apple/CoreGraphicsRenderCache.h"
#include "Kestrovan/Apple/KittyPlacementDrawing.h"
#include "Kestrovan/Apple/RowDrawing.h"
#include "Kestrovan/Apple/SnapshotTextBuilder.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"
#include "Platform/Graphics/Canvas.h"
#include "Platform/Graphics/Geometry.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kestrovan {

class TerminalRenderOwner;

/// Where the rows of a frame go in the view.
struct FrameDrawGeometry
{
    /// One cell in points.
    platform::Size cellSize;
    /// The view's bounds; rows are counted down from their top.
    platform::Rect viewBounds;
    /// The height of the view's frame: a row's bottom edge is this less its cells above.
    double viewFrameHeight = 0;

    static FrameDrawGeometry of(const FrameViewState& viewState);
};

class TerminalFrameDrawer
{
public:
    struct Counters
    {
        uint64_t frames = 0;
        uint64_t rowsDrawn = 0;
        /// Rows whose runs were built and shaped again.
        uint64_t rowsPrepared = 0;
    };

    TerminalFrameDrawer();
    TerminalFrameDrawer(const TerminalFrameDrawer&) = delete;
    TerminalFrameDrawer& operator=(const TerminalFrameDrawer&) = delete;

    /// The view's draw entry: with the render owner's render-state lock held for the whole frame,
    /// paints the part `dirtyRect` of the view from the session's snapshot, with its resolved
    /// render context or, when it has none, one built from `viewState`. False when there is no
    /// session (nothing is painted).
    bool drawTerminalContents(platform::Canvas& canvas, const platform::Rect& dirtyRect,
                              TerminalRenderOwner& owner, const FrameViewState& viewState);

    /// Paints the rows of `snapshot` that meet `dirtyRect` (view coordinates, y-up), and nothing
    /// outside it. Nothing is painted while the cell size is not positive.
    void drawFrame(platform::Canvas& canvas, const platform::Rect& dirtyRect,
                   const TerminalSnapshot& snapshot, const SnapshotRenderContext& context,
                   const FrameDrawGeometry& geometry);

    KittyPlacementImageCache& kittyPlacementImageCache() { return kittyPlacementImageCache_; }
    const Counters& counters() const { return counters_; }

private:
    struct CachedRow
    {
        /// Held so that the row object cannot be replaced by another at the same address.
        std::shared_ptr<const TerminalSnapshotRow> source;
        uint64_t revision = 0;
        int64_t absoluteRow = 0;
        uint64_t contextIdentity = 0;
        bool customBlockGlyphs = true;
        platform::Size cellSize;
        PreparedRow prepared;
    };

    const PreparedRow& preparedRow(size_t index, const std::shared_ptr<TerminalSnapshotRow>& row,
                                   int64_t absoluteRow, const RowDrawingContext& frame);

    SnapshotTextBuilder builder_;
    CoreGraphicsRenderCache renderCache_;
    KittyPlacementImageCache kittyPlacementImageCache_;
    std::vector<std::unique_ptr<CachedRow>> rows_;
    Counters counters_;
};

} // namespace kestrovan
