// Decoration lines on the GPU path: one underline (or strikethrough) line between two x positions
// turned into flat rectangles for the decoration layer, in the five styles.
//
// Straight and double lines are one rectangle (the caller draws a double line's second line by a
// second call at its own height); dotted lines are dots one unit long two units apart; dashed lines
// dashes and gaps of two units, where a unit is the line's thickness but never less than the
// pattern scale (the rendering scale, so patterns keep their size in points). Curly lines follow a
// sine wave of one unit amplitude and four units period through samples one unit apart, as the CPU
// path strokes it; the GPU draws it as steps one pixel wide, each as tall as the line is across at
// its slope, so both paths show the same wave. Every rectangle then takes the row's line-mode
// transform and clip.
#pragma once

#include "Kestrovan/Apple/Metal/DrawData.h"
#include "Kestrovan/Attribute.h"
#include "Kestrovan/BufferLine.h"

#include <optional>
#include <vector>

namespace kestrovan {

/// Appends the rectangles of one decoration line from `x0` to `x1`, centred on `yCenter` and
/// `thickness` high (all pixels), to `output`. A curly line's wave starts its phase at
/// `waveOrigin` (its run's left edge, so the wave runs on across the run's cells), else at `x0`.
void appendUnderlineSegments(double x0, double x1, double yCenter, double thickness, Float4 color,
                             UnderlineStyle style, double patternScale, BufferLine::RenderLineMode renderMode,
                             const std::optional<ClipRect>& clipRect, double pivotY,
                             std::vector<ColorCell>& output, std::optional<double> waveOrigin = std::nullopt);

} // namespace kestrovan
