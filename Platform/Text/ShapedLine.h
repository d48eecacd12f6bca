// One line of text shaped into positioned glyphs, with font fallback, on HarfBuzz.
//
// `ShapedLine::shape` takes UTF-16 text in runs of fonts and gives glyph runs: each in one font
// (the run's own, or a fallback face for characters it lacks), each glyph with its position and
// advance and the UTF-16 index of the cluster it draws. Font choice is made per grapheme
// cluster, so combining marks stay in their base's font and cluster; surrogate pairs and variation
// selectors are whole clusters too (U+FE0F asks for a colour face, U+FE0E for a plain one). Text
// is laid out left to right in the order given: a caller with bidirectional text orders it first
// (`BidiLine`) and shapes the visual runs. A shaped line is an immutable value.
#pragma once

#include "Platform/Text/Font.h"

#include <span>
#include <string_view>
#include <vector>

namespace platform {

class FontFallback;

/// The next `length` UTF-16 units of a line, set in `font`.
struct FontRun
{
    uint32_t length = 0;
    FontRef font;
};

/// One glyph of a shaped line. Positions are in points, y-up, from the line's origin on its
/// baseline; `cluster` is the UTF-16 index where the glyph's cluster starts in the line's text.
struct ShapedGlyph
{
    GlyphId glyph = 0;
    uint32_t cluster = 0;
    double x = 0;
    double y = 0;
    double advance = 0;

    bool operator==(const ShapedGlyph&) const = default;
};

/// Consecutive glyphs in one font, coming from one input run.
struct ShapedRun
{
    /// The font that draws these glyphs: the input run's font or a fallback face.
    FontRef font;
    /// Which input run the glyphs come from, so the caller can find that run's attributes.
    uint32_t sourceRun = 0;
    /// The UTF-16 range of the text these glyphs draw.
    uint32_t textStart = 0;
    uint32_t textEnd = 0;
    /// The range of `ShapedLine::glyphs()` these glyphs occupy.
    uint32_t glyphStart = 0;
    uint32_t glyphEnd = 0;
    /// True when `font` is a fallback face rather than the input run's font.
    bool isFallback = false;
};

class ShapedLine
{
public:
    /// Shapes `text` set in `runs`, with fallback faces from `fallback`. Text beyond the runs is
    /// set in the last run's font; runs without a font, or beyond the text, give no glyphs.
    static ShapedLine shape(std::u16string_view text, std::span<const FontRun> runs, FontFallback& fallback);
    /// The same with the process's fallback cascade.
    static ShapedLine shape(std::u16string_view text, std::span<const FontRun> runs);

    const std::vector<ShapedRun>& runs() const { return runs_; }
    const std::vector<ShapedGlyph>& glyphs() const { return glyphs_; }
    /// The glyphs of one run.
    std::span<const ShapedGlyph> glyphs(const ShapedRun& run) const
    {
        return std::span<const ShapedGlyph>(glyphs_).subspan(run.glyphStart, run.glyphEnd - run.glyphStart);
    }
    /// The sum of all advances: where the pen ends.
    double width() const { return width_; }

private:
    std::vector<ShapedRun> runs_;
    std::vector<ShapedGlyph> glyphs_;
    double width_ = 0;
};

} // namespace platform
