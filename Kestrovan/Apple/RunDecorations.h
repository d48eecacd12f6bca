// Draws the decorations of one run of text on the CPU path: the underline in its five styles
// (single, double, curly, dotted, dashed) and the strikethrough, cell by cell, with thicknesses
// snapped to device pixels.
//
// The view draws these itself instead of leaving them to the text layer, so that every style
// exists, lines run exactly from cell edge to cell edge, and a curly line stays one wave across
// the cells of a run. The row drawing calls `drawRunAttributes` with one point per cell (its
// left edge on the baseline) and the width of one cell of the run.
#pragma once

#include "Kestrovan/Attribute.h"
#include "Platform/Graphics/Canvas.h"
#include "Platform/Graphics/Geometry.h"
#include "Platform/Graphics/NativeColor.h"
#include "Platform/Text/Font.h"

#include <optional>
#include <span>

namespace kestrovan {

/// The bits of a text-layer underline or strikethrough style number: the line pattern (dot, dash,
/// dash-dot) and the double line.
namespace DecorationStyleBits {
inline constexpr int single = 0x1;
inline constexpr int thick = 0x2;
inline constexpr int doubleLine = 0x8;
inline constexpr int patternDot = 0x100;
inline constexpr int patternDash = 0x200;
inline constexpr int patternDashDot = 0x300;
inline constexpr int patternDashDotDot = 0x400;
} // namespace DecorationStyleBits

/// The decorations of one run, as the row builder resolved them.
struct RunDecorationStyle
{
    /// The text-layer underline style number; 0 means the run has no underline.
    int underlineStyle = 0;
    /// The terminal's own underline style, which names curly, dotted and dashed lines exactly;
    /// when present it wins over the style number.
    std::optional<UnderlineStyle> terminalUnderlineStyle;
    /// Absent: the default foreground.
    std::optional<platform::NativeColor> underlineColor;
    /// The strikethrough style number; 0 means no strikethrough.
    int strikethroughStyle = 0;
    std::optional<platform::NativeColor> strikethroughColor;
    /// The run's font, whose x-height places the strikethrough; absent: the normal font.
    platform::FontRef font;
};

/// What decorations take from the view.
struct DecorationContext
{
    /// The view's normal font: its underline position and thickness place every underline.
    platform::FontRef normalFont;
    /// The colour of decorations without their own: the default foreground (the default
    /// background while reverse video is on).
    platform::NativeColor defaultForeground;
};

/// The underline style a run draws: the terminal style when present, else read from the style
/// number (double when both the single and double bits are set, then dotted, then dashed or
/// dash-dot-dot, then single for any other non-zero number), else none.
UnderlineStyle resolveUnderlineStyle(std::optional<UnderlineStyle> terminalStyle,
                                     std::optional<int> styleNumber);

/// The thickness of a decoration line for a font's underline thickness at `scale`: rounded to
/// whole device pixels, and never thinner than half a point.
double decorationThickness(double underlineThickness, double scale);

/// Draws the underline and strikethrough of one run: one segment per point of `cellOrigins`
/// (each a cell's left edge on the baseline), `cellWidth` points long. Line thicknesses are
/// snapped at the canvas's scale. Antialiasing is off for the lines; the canvas state is restored.
void drawRunAttributes(platform::Canvas& canvas, const RunDecorationStyle& style,
                       std::span<const platform::Point> cellOrigins, double cellWidth,
                       const DecorationContext& context);

} // namespace kestrovan
