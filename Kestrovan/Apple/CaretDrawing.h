// Draws the text cursor of the CPU path: the shape of each cursor style, the hollow box shown
// without focus, and inside a block cursor the character under it, redrawn in the caret's text
// colour. Powerline characters are redrawn as their vector shapes (as their cells are drawn) and
// other glyphs are fitted to their cells by the same rules as the row's text.
//
// The caret view owns the state (`CaretDrawState`) and calls `drawCursor` from its drawing
// callback with a canvas over its own bounds, y-up, one cell high and as wide as the character
// under the cursor (doubled on double-size rows).
#pragma once

#include "Kestrovan/Apple/GlyphSlotFit.h"
#include "Kestrovan/Apple/TerminalGlyphPlacementPolicy.h"
#include "Kestrovan/BufferLine.h"
#include "Kestrovan/CursorStyle.h"
#include "Platform/Graphics/Canvas.h"
#include "Platform/Graphics/Geometry.h"
#include "Platform/Graphics/NativeColor.h"
#include "Platform/Text/Font.h"
#include "Platform/Text/ShapedLine.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrovan {

/// The character under the cursor, shaped with its text attributes.
struct CaretCharacter
{
    platform::ShapedLine line;
    /// The placement policy of each input run of `line` (indexed by `ShapedRun::sourceRun`);
    /// absent for runs without one.
    std::vector<std::optional<TerminalGlyphPlacementPolicy>> runPolicies;
};

/// What the caret draws from.
struct CaretDrawState
{
    /// The caret view's bounds, in points, y-up.
    platform::Rect bounds;
    /// The character under the cursor; nothing is drawn while it is absent.
    std::optional<CaretCharacter> character;
    /// Columns the character occupies, at least 1.
    int glyphColumnWidth = 1;
    /// The line size of the cursor's row.
    BufferLine::RenderLineMode powerlineRenderMode = BufferLine::RenderLineMode::single;
    /// The character's code point when it is a Powerline separator.
    std::optional<uint32_t> powerlineCodePoint;
    platform::NativeColor renderCursorColor;
    /// The colour of the character inside a block caret.
    platform::NativeColor renderTextColor;
    /// Powerline characters are drawn as vector shapes, as their cells are.
    bool renderCustomBlockGlyphs = true;
    /// The font of the character; the view's normal font when absent.
    platform::FontRef renderNormalFont;
    CursorStyle style = CursorStyle::blinkBlock;
};

/// Draws the caret into `canvas`. Without focus every style is the same hollow box, 1.5 points
/// thick inside the bounds, and no character; with focus a block fills the bounds and redraws the
/// character, an underline is a 2-point band along the bottom and a bar a 2-point band along the
/// left edge. `view` gives the view's fonts and cell size for fitting the character.
void drawCursor(platform::Canvas& canvas, const CaretDrawState& state, const GlyphSlotFitter& view,
                bool hasFocus);

} // namespace kestrovan
