// Paints a row's custom-drawn cells (block elements, box drawing, Powerline separators) on the
// CPU path, on the device-pixel grid, from the items the row builder set aside.
//
// Each family has a painter that holds the canvas state for one row: made with the row's
// bottom-left origin and the frame's metrics, it saves the canvas state and sets the family's
// antialiasing, paints cells one by one, and restores the state when it goes. `drawBlockElements`,
// `drawBoxDrawings` and `drawPowerlineGlyphs` paint a row's whole list of items through them; an
// item is anything with `column`, `columnWidth`, `codePoint` and `foregroundColor` (and `rects`
// for block elements), which the row builder's render items are.
#pragma once

#include "Kestrovan/Apple/BlockElementRenderer.h"
#include "Kestrovan/Apple/CustomGlyphTables.h"
#include "Kestrovan/BufferLine.h"
#include "Platform/Graphics/Canvas.h"
#include "Platform/Graphics/Geometry.h"
#include "Platform/Graphics/NativeColor.h"

#include <cstdint>
#include <span>

namespace kestrovan {

/// What custom glyph drawing needs of the frame besides the items.
struct CustomGlyphMetrics
{
    /// The cell size in points.
    platform::Size cellSize;
    /// The normal font's underline thickness in points: the stroke weight of box lines and
    /// Powerline outlines, so they match the text around them.
    double underlineThickness = 0;
    /// Device pixels per point (the window's backing scale).
    double scale = 1;
    /// Block elements with smooth fractional edges, or (off) grown to whole device pixels.
    bool antiAliasCustomBlockGlyphs = false;
};

/// Paints block-element cells of one row.
class BlockElementRowPainter
{
public:
    BlockElementRowPainter(platform::Canvas& canvas, platform::Point lineOrigin,
                           const CustomGlyphMetrics& metrics);
    ~BlockElementRowPainter();
    BlockElementRowPainter(const BlockElementRowPainter&) = delete;
    BlockElementRowPainter& operator=(const BlockElementRowPainter&) = delete;

    void paint(int column, int columnWidth, std::span<const BlockElementRect> rects,
               const platform::NativeColor& color);

private:
    platform::Canvas& canvas_;
    platform::Point origin_;
    CustomGlyphMetrics metrics_;
};

/// Paints box-drawing cells of one row with antialiasing off, each cell on whole device pixels:
/// the row's origin is rounded to a device pixel and every cell is the rounded cell width apart,
/// so cell edges never fall inside a pixel and lines run on unbroken across a row.
class BoxDrawingRowPainter
{
public:
    BoxDrawingRowPainter(platform::Canvas& canvas, platform::Point lineOrigin,
                         const CustomGlyphMetrics& metrics);
    ~BoxDrawingRowPainter();
    BoxDrawingRowPainter(const BoxDrawingRowPainter&) = delete;
    BoxDrawingRowPainter& operator=(const BoxDrawingRowPainter&) = delete;

    void paint(int column, int columnWidth, uint32_t codePoint, const platform::NativeColor& color);

private:
    platform::Canvas& canvas_;
    double scale_;
    int lineWidthPx_;
    int cellWidthPx_;
    int cellHeightPx_;
    double originXPx_;
    double originY_;
};

/// Paints Powerline cells of one row. On double-width and double-height rows (which the row
/// drawing scales by 2) the shapes are snapped at the doubled device scale, so their edges still
/// land on device pixels.
class PowerlineRowPainter
{
public:
    PowerlineRowPainter(platform::Canvas& canvas, platform::Point lineOrigin,
                        BufferLine::RenderLineMode renderMode, const CustomGlyphMetrics& metrics);

    void paint(int column, int columnWidth, uint32_t codePoint, const platform::NativeColor& color);

private:
    platform::Canvas& canvas_;
    platform::Point origin_;
    platform::Size cellSize_;
    double scaleX_;
    double scaleY_;
    double lineWidth_;
};

template <typename Items>
void drawBlockElements(const Items& items, platform::Point lineOrigin, const CustomGlyphMetrics& metrics,
                       platform::Canvas& canvas)
{
    BlockElementRowPainter painter(canvas, lineOrigin, metrics);
    for (const auto& item : items)
        painter.paint(item.column, item.columnWidth, item.rects, item.foregroundColor);
}

template <typename Items>
void drawBoxDrawings(const Items& items, platform::Point lineOrigin, const CustomGlyphMetrics& metrics,
                     platform::Canvas& canvas)
{
    BoxDrawingRowPainter painter(canvas, lineOrigin, metrics);
    for (const auto& item : items)
        painter.paint(item.column, item.columnWidth, item.codePoint, item.foregroundColor);
}

template <typename Items>
void drawPowerlineGlyphs(const Items& items, platform::Point lineOrigin,
                         BufferLine::RenderLineMode renderMode, const CustomGlyphMetrics& metrics,
                         platform::Canvas& canvas)
{
    PowerlineRowPainter painter(canvas, lineOrigin, renderMode, metrics);
    for (const auto& item : items)
        painter.paint(item.column, item.columnWidth, item.codePoint, item.foregroundColor);
}

} // namespace kestrovan
