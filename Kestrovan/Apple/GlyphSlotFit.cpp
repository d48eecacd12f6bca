// GlyphSlotFitter: centring, shrinking and policy placement of one glyph in its cells.
#include "Kestrovan/Apple/GlyphSlotFit.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

using platform::Font;
using platform::GlyphBounds;
using platform::GlyphId;

namespace {

/// Fits never enlarge, and never shrink past the point where a glyph stops being legible.
double clampScale(double scale)
{
    return std::clamp(scale, GlyphSlotFitter::minimumScale, 1.0);
}

/// A cell size the fits can divide by: both sides positive and finite.
bool isUsableCell(const std::optional<platform::Size>& cell)
{
    return cell && std::isfinite(cell->width) && std::isfinite(cell->height) && cell->width > 0 &&
           cell->height > 0;
}

} // namespace

GlyphSlotFitter::GlyphSlotFitter(platform::FontSet fonts, std::optional<platform::Size> cellDimension)
    : fonts_(std::move(fonts)), cellDimension_(cellDimension)
{}

double GlyphSlotFitter::baselineOffset(const platform::FontMetrics& metrics, double cellHeight)
{
    // Whole points below the baseline, so descenders are never cut by the row below; the spare
    // height is split with the odd point going above, where capitals and accents need it.
    const double spare =
        std::max(0.0, cellHeight - std::ceil(metrics.ascent + metrics.descent + metrics.leading));
    return std::ceil(metrics.descent + metrics.leading) + std::floor(spare * 0.5);
}

double GlyphSlotFitter::baselineOffset() const
{
    if (!cellDimension_ || !fonts_.normal)
        return 0;
    return baselineOffset(fonts_.normal->metrics(), cellDimension_->height);
}

GlyphSlotFit GlyphSlotFitter::glyphSlotFit(const Font& font, GlyphId glyph, int columnWidth) const
{
    if (!isUsableCell(cellDimension_) || columnWidth < 2)
        return GlyphSlotFit::identity();
    return wideGlyphFit(GlyphFitMeasure{font.advance(glyph), font.bounds(glyph)}, columnWidth, slot());
}

GlyphSlotFit GlyphSlotFitter::glyphSlotFit(const Font& font, GlyphId glyph, int columnWidth,
                                           const TerminalGlyphPlacementPolicy& policy) const
{
    if (!isUsableCell(cellDimension_))
        return GlyphSlotFit::identity();
    return policyGlyphFit(GlyphFitMeasure{font.advance(glyph), font.bounds(glyph)}, columnWidth, policy,
                          slot());
}

GlyphSlotFit GlyphSlotFitter::fallbackGlyphFit(const Font& font, GlyphId glyph) const
{
    if (!isUsableCell(cellDimension_))
        return GlyphSlotFit::identity();
    return fallbackGlyphFit(font.advance(glyph), cellDimension_->width);
}

GlyphSlot GlyphSlotFitter::slot() const
{
    // A one-cell icon stands no taller than the font's ascent, so it does not tower over the
    // letters beside it.
    const double ascent = fonts_.normal ? fonts_.normal->metrics().ascent : 0;
    return GlyphSlot{*cellDimension_, baselineOffset(), ascent};
}

GlyphSlotFit GlyphSlotFitter::wideGlyphFit(const GlyphFitMeasure& glyph, int columnWidth,
                                           const GlyphSlot& slot)
{
    const double advance = glyph.advance;
    if (!(advance > 0))
        return GlyphSlotFit::identity();
    const double slotWidth = slot.cell.width * columnWidth;
    const double cellHeight = slot.cell.height;
    const GlyphBounds& bounds = glyph.ink;

    if (bounds.width <= slotWidth && bounds.height <= cellHeight) {
        // Fits as it is: centred in the slot by its advance, which keeps a CJK glyph's designed
        // side bearings rather than centring its ink.
        return GlyphSlotFit{(slotWidth - advance) * 0.5, 0, 1, 1};
    }
    if (bounds.width > 0 && bounds.height > 0) {
        const double scale = clampScale(std::min(slotWidth / bounds.width, cellHeight / bounds.height));
        const double dx = (slotWidth - advance * scale) * 0.5;
        if (scale == 1)
            return GlyphSlotFit{dx, 0, 1, 1};
        // Shrinking about the baseline origin moves the ink; put its visual centre on the cell's.
        const double dy = cellHeight * 0.5 - slot.baselineOffset - scale * (bounds.y + bounds.height * 0.5);
        return GlyphSlotFit{dx, dy, scale, scale};
    }
    // No ink (a wide space): only the advance to centre.
    return GlyphSlotFit{(slotWidth - advance) * 0.5, 0, 1, 1};
}

GlyphSlotFit GlyphSlotFitter::policyGlyphFit(const GlyphFitMeasure& glyph, int columnWidth,
                                             const TerminalGlyphPlacementPolicy& policy,
                                             const GlyphSlot& slot)
{
    using Placement = TerminalGlyphPlacementPolicy::Placement;
    const GlyphBounds& bounds = glyph.ink;
    if (bounds.isEmpty())
        return GlyphSlotFit::identity();

    const double cellWidth = slot.cell.width, cellHeight = slot.cell.height;
    int cells = columnWidth;
    if (policy.maximumCellWidth)
        cells = std::min(cells, *policy.maximumCellWidth);
    const double left = cellWidth * policy.padding.left, right = cellWidth * policy.padding.right;
    const double top = cellHeight * policy.padding.top, bottom = cellHeight * policy.padding.bottom;
    const double availableWidth = std::max(cellWidth * std::max(cells, 1) - left - right, 1.0);
    const double availableHeight = std::max(cellHeight - top - bottom, 1.0);

    // The box to fit: the glyph's own ink, or for a glyph of a group the whole group's box, worked
    // back from where this glyph sits in it, so every glyph of the group gets the same scale.
    double boxX = bounds.x, boxY = bounds.y, boxWidth = bounds.width, boxHeight = bounds.height;
    if (policy.placement == Placement::grouped && policy.relativeBounds) {
        const TerminalGlyphRect relative = policy.relativeBounds->standardized();
        if (relative.width > 0 && relative.height > 0) {
            boxWidth = bounds.width / relative.width;
            boxHeight = bounds.height / relative.height;
            boxX = bounds.x - boxWidth * relative.x;
            boxY = bounds.y - boxHeight * relative.y;
        }
    }

    double scaleX = 1, scaleY = 1;
    switch (policy.placement) {
    case Placement::cover:
        scaleX = scaleY =
            std::max(std::min(availableWidth / boxWidth, availableHeight / boxHeight), minimumScale);
        break;
    case Placement::stretch:
        scaleX = availableWidth / boxWidth;
        scaleY = availableHeight / boxHeight;
        break;
    case Placement::icon:
    case Placement::explicitWidth:
    case Placement::grouped: {
        const double heightLimit = slot.iconHeight > 0 && slot.iconHeight < availableHeight && cells < 2
                                       ? slot.iconHeight
                                       : availableHeight;
        scaleX = scaleY = clampScale(std::min(availableWidth / boxWidth, heightLimit / boxHeight));
        break;
    }
    }
    // Centre the (scaled) box in the padded area: across from the left padding, and down so the
    // box's middle lands on the middle of the area above the bottom padding.
    const double dx = left + (availableWidth - scaleX * boxWidth) * 0.5 - scaleX * boxX;
    const double dy =
        bottom + availableHeight * 0.5 - slot.baselineOffset - scaleY * (boxY + boxHeight * 0.5);
    return GlyphSlotFit{dx, dy, scaleX, scaleY};
}

GlyphSlotFit GlyphSlotFitter::fallbackGlyphFit(double advance, double cellWidth)
{
    // Only a glyph that would spill into the next cell is touched; its shape is kept, so it
    // shrinks uniformly rather than being squeezed across.
    if (cellWidth > 0 && cellWidth < advance) {
        const double scale = cellWidth / advance;
        return GlyphSlotFit{0, 0, scale, scale};
    }
    return GlyphSlotFit::identity();
}

bool GlyphSlotFitter::isPrimaryFont(const Font& font) const
{
    return fonts_.contains(font);
}

void drawFittedGlyphs(platform::Canvas& canvas, const Font& font, std::span<const GlyphId> glyphs,
                      std::span<const platform::Point> origins, std::span<const GlyphSlotFit> fits)
{
    const size_t count = std::min(glyphs.size(), origins.size());
    const bool anyScaled =
        std::any_of(fits.begin(), fits.end(), [](const GlyphSlotFit& fit) { return !fit.isUnscaled(); });
    if (!anyScaled) {
        canvas.drawGlyphs(font, glyphs.first(count), origins.first(count));
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const GlyphSlotFit fit = i < fits.size() ? fits[i] : GlyphSlotFit::identity();
        if (fit.scaleX != fit.scaleY) {
            canvas.save();
            canvas.translate(origins[i].x, origins[i].y);
            canvas.scaleBy(fit.scaleX, fit.scaleY);
            const platform::Point atOrigin{0, 0};
            canvas.drawGlyphs(font, glyphs.subspan(i, 1), std::span(&atOrigin, 1));
            canvas.restore();
        } else {
            // A uniform scale is the font drawn at a scaled size; no transform to save and undo.
            canvas.drawGlyphs(font, font.pointSize() * fit.scaleX, glyphs.subspan(i, 1),
                              origins.subspan(i, 1));
        }
    }
}

} // namespace kestrovan
