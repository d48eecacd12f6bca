// One terminal row as the GPU renderer prepares it before placing it on screen: every background,
// glyph, decoration, custom-drawn cell and picture of the row, already resolved to atlas texture
// coordinates, device-pixel extents and four-float colours.
//
// Nothing here depends on the screen row the line is shown on: x is measured from the view's left
// edge and y from the row's baseline, so a prepared row is kept while its line is unchanged and only
// placed again (`placeRow`) when it scrolls. Double-width and double-height lines are only recorded
// (`renderMode`) and applied at placement. The records live in their own namespace, as the CPU
// path has a `PreparedRow` of its own.
#pragma once

#include "Kestrovan/Apple/Metal/MetalVertexTypes.h"
#include "Kestrovan/Attribute.h"
#include "Kestrovan/BufferLine.h"
#include "Kestrovan/Portable/KittyPlaceholderDecoder.h"
#include "Platform/GPU/GpuObjects.h"
#include "Platform/Graphics/Geometry.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kestrovan::metal {

/// A box-drawing, block-element or Powerline cell drawn by the renderer into the grey atlas.
struct PreparedCustomGlyph
{
    int column = 0;
    int columnWidth = 1;
    /// The bitmap's width in pixels (all its cells).
    int itemWidthPx = 0;
    /// The bitmap's size in pixels.
    platform::Size entrySize;
    uint32_t codePoint = 0;
    /// The bitmap's corners in the grey atlas.
    float u0 = 0, v0 = 0, u1 = 0, v1 = 0;
    Float4 color;
};

/// A run of cells with a background of its own.
struct PreparedBackground
{
    int startColumn = 0;
    int columnSpan = 1;
    Float4 color;
};

/// One glyph from an atlas.
struct PreparedGlyph
{
    /// Device pixels from the view's left edge.
    double x0 = 0;
    double x1 = 0;
    /// The glyph's y in its shaped line, and its vertical fit offset (points).
    double coreTextY = 0;
    double fitDY = 0;
    /// The bitmap's bearing and height times the vertical fit scale (pixels).
    double bearingY = 0;
    double height = 0;
    float u0 = 0, v0 = 0, u1 = 0, v1 = 0;
    Float4 color;
    bool usesColorAtlas = false;
};

/// The cells one decoration line crosses: pixels from the view's left edge, and the line's y in
/// its shaped line (points).
struct PreparedDecorationSpan
{
    double x0 = 0;
    double x1 = 0;
    double coreTextY = 0;
};

/// An underline or strikethrough of a run.
struct PreparedDecoration
{
    UnderlineStyle style = UnderlineStyle::single;
    /// A second line is drawn `doubleGap` + 1 points below the first.
    bool isDouble = false;
    Float4 color;
    double thicknessPx = 1;
    /// The line's centre above the baseline, and the gap of a double line (points).
    double position = 0;
    double doubleGap = 0;
    std::vector<PreparedDecorationSpan> spans;
};

/// A picture attached to the line, hung from the row's top edge at its column.
struct PreparedImage
{
    std::shared_ptr<platform::gpu::Texture> texture;
    int column = 0;
    int pixelWidth = 0;
    int pixelHeight = 0;
};

struct PreparedRow
{
    BufferLine::RenderLineMode renderMode = BufferLine::RenderLineMode::single;
    std::vector<PreparedCustomGlyph> boxDrawings;
    std::vector<PreparedCustomGlyph> blockElements;
    std::vector<PreparedCustomGlyph> powerlineGlyphs;
    std::vector<PreparedBackground> backgrounds;
    std::vector<PreparedGlyph> glyphs;
    std::vector<PreparedDecoration> decorations;
    std::vector<PreparedImage> images;
    /// The row's kitty placeholder cells, as the row builder found them.
    std::vector<KittyPlaceholderCell> kittyPlaceholders;
};

} // namespace kestrovan::metal
