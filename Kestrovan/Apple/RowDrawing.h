// One row of a frame on the CPU path: what is worked out once when the row's content changes
// (`prepareRow`: the row builder's segments shaped into glyph runs, each glyph laid on the cell
// grid and fitted into its cells) and what is done every time the row is painted (`drawRow`:
// kitty layers, cell backgrounds, custom-drawn cells, glyphs snapped to device pixels, decorations,
// placeholder pictures and the row's inline images, in that order).
//
// Positions are kept relative to the row: x from the view's left edge, y from the row's baseline.
// A prepared row therefore stays valid wherever the row is painted, and a frame that repaints an
// unchanged row does no text work at all, only drawing.
#pragma once

#include "Kestrovan/Apple/CustomGlyphDrawing.h"
#include "Kestrovan/Apple/GlyphSlotFit.h"
#include "Kestrovan/Apple/KittyPlacementDrawing.h"
#include "Kestrovan/Apple/RunDecorations.h"
#include "Kestrovan/Apple/SnapshotRenderContext.h"
#include "Kestrovan/Apple/ViewLineInfo.h"
#include "Kestrovan/BufferLine.h"
#include "Platform/Graphics/Canvas.h"
#include "Platform/Graphics/Geometry.h"
#include "Platform/Text/ShapedLine.h"

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace kestrovan {

class CoreGraphicsRenderCache;

/// One glyph run of a segment, ready to paint: its font, colours and decorations, and its glyphs
/// on the cell grid.
struct PreparedRun
{
    platform::FontRef font;
    platform::NativeColor foregroundColor;
    std::optional<platform::NativeColor> backgroundColor;
    /// The run paints its background (a colour of its own, or the selection).
    bool hasExplicitBackground = false;
    bool hasDecorations = false;
    /// The half-open range of the segment's cells the run covers.
    std::pair<int, int> sourceCells{0, 0};
    /// The span of those cells, from the view's left edge.
    double left = 0;
    double right = 0;
    /// The run's attributes, for its decorations.
    SnapshotTextAttributesRef attributes;

    std::vector<platform::GlyphId> glyphs;
    /// Per glyph: x from the view's left edge and y from the baseline, fit offsets included.
    std::vector<platform::Point> positions;
    /// Per glyph when some glyph is fitted; empty when none is.
    std::vector<GlyphSlotFit> fits;
    /// The left edge of each cell of the run, and the height above the baseline its decorations
    /// are drawn from.
    std::vector<double> cellLeftEdges;
    double decorationY = 0;
    /// The width of one of the run's cells (two cells' for wide ones).
    double cellStep = 0;
};

/// A row's items and runs, as the frame paints them.
struct PreparedRow
{
    ViewLineInfo info;
    std::vector<PreparedRun> runs;
};

/// What preparing and painting rows reads of the frame.
struct RowDrawingContext
{
    const SnapshotRenderContext* context = nullptr;
    platform::Size cellSize;
    /// The height of the baseline above a row's bottom edge.
    double baselineOffset = 0;
    /// Device pixels per point.
    double scale = 1;
    GlyphSlotFitter fitter{platform::FontSet{}, std::nullopt};
    DecorationContext decorations;
    CustomGlyphMetrics customGlyphs;
    KittyRowGeometry kitty;

    /// The frame values of `context` for cells of `cellSize` at `scale`.
    static RowDrawingContext make(const SnapshotRenderContext& context, platform::Size cellSize,
                                  double scale);
};

/// Builds a row's segments and items and shapes and places its glyphs.
PreparedRow prepareRow(ViewLineInfo info, CoreGraphicsRenderCache& renderCache,
                       const RowDrawingContext& frame);

/// The kitty graphics of a frame, as the rows paint them.
struct RowKittyGraphics
{
    const KittyGraphicsRenderSnapshot* snapshot = nullptr;
    KittyPlacementImageCache* cache = nullptr;
    const KittyVirtualPlacements* virtualPlacements = nullptr;
};

/// Paints a prepared row on screen row `screenRow`, its bottom edge at `rowY`, in the line's render
/// mode (double width, or the top or bottom half of double height).
void drawRow(platform::Canvas& canvas, const PreparedRow& row, int64_t screenRow, double rowY,
             BufferLine::RenderLineMode renderMode, const RowDrawingContext& frame,
             const RowKittyGraphics& kitty);

} // namespace kestrovan
