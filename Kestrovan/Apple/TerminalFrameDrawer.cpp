// The CPU frame: set-up, the rows that meet the dirty rectangle, and the strip below the last row.
#include "Kestrovan/Apple/TerminalFrameDrawer.h"

#include "Kestrovan/Apple/TerminalRenderOwner.h"
#include "Kestrovan/Profiling.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

using platform::Rect;

namespace {

/// Ends a profiling interval however the scope is left.
struct IntervalScope
{
    ProfilingInterval interval;
    ~IntervalScope() { interval.end(); }
};

bool isUsableCell(platform::Size cell)
{
    return std::isfinite(cell.width) && std::isfinite(cell.height) && cell.width > 0 && cell.height > 0;
}

} // namespace

FrameDrawGeometry FrameDrawGeometry::of(const FrameViewState& viewState)
{
    return FrameDrawGeometry{viewState.cellDimension, viewState.viewBounds, viewState.viewFrameHeight};
}

TerminalFrameDrawer::TerminalFrameDrawer() : builder_(4096) {}

bool TerminalFrameDrawer::drawTerminalContents(platform::Canvas& canvas, const Rect& dirtyRect,
                                               TerminalRenderOwner& owner, const FrameViewState& viewState)
{
    const IntervalScope scope{ProfilingInterval::begin(ProfilingEvent::frameDraw)};
    // The render-state lock keeps frame preparation from refreshing the snapshot while it is read;
    // the terminal lock is not needed, as the snapshot is the drawing's own copy.
    return owner.withRenderState([&] {
        const std::shared_ptr<TerminalSnapshot> snapshot = owner.snapshot();
        if (!snapshot)
            return false;
        if (snapshot->renderContext) {
            drawFrame(canvas, dirtyRect, *snapshot, *snapshot->renderContext,
                      FrameDrawGeometry::of(viewState));
        } else {
            const SnapshotRenderContext context(viewState, snapshot->style,
                                                snapshot->nativeColors(viewState.appearance), snapshot->cols);
            drawFrame(canvas, dirtyRect, *snapshot, context, FrameDrawGeometry::of(viewState));
        }
        return true;
    });
}

const PreparedRow& TerminalFrameDrawer::preparedRow(size_t index,
                                                    const std::shared_ptr<TerminalSnapshotRow>& row,
                                                    int64_t absoluteRow, const RowDrawingContext& frame)
{
    if (rows_.size() <= index)
        rows_.resize(index + 1);
    std::unique_ptr<CachedRow>& cached = rows_[index];
    const uint64_t identity = frame.context->identity;
    // The row's revision moves with its cells, bidi layout, images, selection, link highlight and
    // blink phase; the context identity with its fonts and colours. The custom glyph switch is not
    // in the identity, but decides which cells become text runs. Nothing else changes the runs.
    const bool customBlockGlyphs = frame.context->customBlockGlyphs;
    if (cached && cached->source == row && cached->revision == row->revision &&
        cached->absoluteRow == absoluteRow && cached->contextIdentity == identity &&
        cached->customBlockGlyphs == customBlockGlyphs && cached->cellSize == frame.cellSize)
        return cached->prepared;
    ++counters_.rowsPrepared;
    if (!cached)
        cached = std::make_unique<CachedRow>();
    cached->source = row;
    cached->revision = row->revision;
    cached->absoluteRow = absoluteRow;
    cached->contextIdentity = identity;
    cached->customBlockGlyphs = customBlockGlyphs;
    cached->cellSize = frame.cellSize;
    cached->prepared =
        prepareRow(builder_.buildAttributedString(*row, absoluteRow, *frame.context), renderCache_, frame);
    return cached->prepared;
}

void TerminalFrameDrawer::drawFrame(platform::Canvas& canvas, const Rect& dirtyRect,
                                    const TerminalSnapshot& snapshot, const SnapshotRenderContext& context,
                                    const FrameDrawGeometry& geometry)
{
    const platform::Size cell = geometry.cellSize;
    const Rect dirty = dirtyRect.standardized();
    if (!isUsableCell(cell) || !dirty.isFinite() || dirty.isEmpty())
        return;
    ++counters_.frames;
    const RowDrawingContext frame = RowDrawingContext::make(context, cell, canvas.scaleFactor());

    // Pictures of placements that are gone are dropped before anything is drawn, so the cache
    // never holds more than the frame shows.
    const KittyGraphicsRenderSnapshot& kitty = snapshot.kitty.renderSnapshot;
    kittyPlacementImageCache_.prune(kitty);
    const KittyVirtualPlacements virtualPlacements = groupVirtualPlacements(kitty);
    const RowKittyGraphics rowKitty{&kitty, &kittyPlacementImageCache_, &virtualPlacements};

    canvas.save();
    canvas.clip(dirty);
    canvas.clearRect(dirty);
    if (context.translucentCellBackgroundAlpha) {
        canvas.setFillColor(context.effectiveBackgroundColor);
        canvas.fillRect(dirty);
    }

    // The rows the dirty rectangle meets, counted down from the view's top. A row that only
    // touches its edge is not one of them: the rectangle of a changed row would otherwise always
    // draw the row below it too, all of it clipped away. A rectangle reaching past the view is held
    // to the snapshot's rows before any row number is made of it.
    const double top = geometry.viewBounds.maxY();
    const double firstOffset = std::floor(std::max(0.0, (top - dirty.maxY()) / cell.height));
    const double lastOffset = std::max(0.0, std::ceil((top - dirty.minY()) / cell.height) - 1);
    const int64_t firstVisible = snapshot.yDisp;
    const int64_t rowsShown = int64_t(snapshot.rows.size());
    const int64_t first = firstVisible + int64_t(std::min(firstOffset, double(rowsShown)));
    const int64_t last = firstVisible + int64_t(std::min(lastOffset, double(rowsShown)));
    for (int64_t absolute = first; absolute <= last; ++absolute) {
        const int64_t index = absolute - snapshot.firstRow;
        if (absolute < 0 || index < 0 || index >= rowsShown)
            continue;
        const std::shared_ptr<TerminalSnapshotRow>& row = snapshot.rows[size_t(index)];
        if (!row || !row->line)
            continue;
        const int64_t screenRow = absolute - firstVisible;
        const double rowY = geometry.viewFrameHeight - cell.height * double(screenRow + 1);
        const PreparedRow& prepared = preparedRow(size_t(index), row, absolute, frame);
        drawRow(canvas, prepared, screenRow, rowY, row->line->renderMode(), frame, rowKitty);
        ++counters_.rowsDrawn;
    }

    // Below the last whole row the view has a strip less than a cell high; an opaque background
    // closes it (a translucent one was painted with the dirty rectangle already).
    const Rect bounds = geometry.viewBounds.standardized();
    const Rect strip{0, 0, bounds.width, std::fmod(bounds.height, cell.height)};
    if (strip.intersects(dirty) && context.effectiveBackgroundColor.alpha >= 1.0) {
        canvas.setFillColor(context.effectiveBackgroundColor);
        canvas.fillRect(strip);
    }
    canvas.restore();
}

} // namespace kestrovan
