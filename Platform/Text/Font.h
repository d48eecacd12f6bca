// An immutable font: one face at one point size, with its metrics, glyph lookup and glyph geometry.
// A family without italic faces gives an upright face slanted (`obliqueShear`) for italic; the
// slant is part of the font, so its glyph bounds lean with it and every drawing path applies it.
//
// A `Font` never changes after it is made, so it may be shared (as `FontRef`) and used from any
// thread at once, the render thread included: measuring and glyph lookup go through an immutable
// HarfBuzz font, and only the FreeType face behind it is locked, for the rare caller that draws
// with FreeType. Each font gets a process-unique 64-bit `id` from one atomic counter; two fonts
// made apart from the same face and size are different objects with different ids but are
// `isSameFont` (the counterpart of comparing fonts by value rather than by identity).
// Geometry is in points in a y-up frame: the baseline at y 0, ascent above it, descent below.
#pragma once

#include "Platform/Text/FontRegistry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct FT_FaceRec_;
struct hb_font_t;

namespace platform {

class Font;
class FontFace;

/// Fonts are shared immutably.
using FontRef = std::shared_ptr<const Font>;

/// A glyph index in a font.
using GlyphId = uint32_t;

/// The vertical metrics of a font in points. `descent` is positive (a distance below the
/// baseline); `underlinePosition` is a y-up offset, negative below the baseline.
struct FontMetrics
{
    double ascent = 0;
    double descent = 0;
    double leading = 0;
    double underlinePosition = 0;
    double underlineThickness = 0;
    double capHeight = 0;
    double xHeight = 0;
};

/// A glyph's ink rectangle in points, y-up, relative to its origin on the baseline. An empty
/// rectangle (width or height 0) is a glyph without ink, such as a space.
struct GlyphBounds
{
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    bool isEmpty() const { return width <= 0 || height <= 0; }
    bool operator==(const GlyphBounds&) const = default;
};

class Font : public std::enable_shared_from_this<Font>
{
public:
    /// The face `faceIndex` of the font file at `path`, at `pointSize`; null when the file holds
    /// no such face or the size is not a positive number up to `largestPointSize`.
    static FontRef fromFile(const std::string& path, uint32_t faceIndex, double pointSize);

    /// The font whose PostScript name, full name or family is `name` (registered files first, see
    /// `FontRegistry`); null when no font has that name.
    static FontRef named(std::string_view name, double pointSize);

    /// The system's monospaced font (fontconfig's "monospace"); null only without any font at all.
    static FontRef monospace(double pointSize);

    /// The font at `location`, for callers that found a face through `FontRegistry`.
    static FontRef atLocation(const FaceLocation& location, double pointSize);

    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    /// The same face at another size; this font itself when the size is the same, null when the
    /// size is not usable.
    FontRef withSize(double pointSize) const;

    /// The face of the same family with these traits, at this size; this font itself when it
    /// already has them, or when the family has no such face. An italic the family lacks is its
    /// upright face, slanted (see `FontRegistry::findStyle`).
    FontRef withTraits(FontTraits traits) const;

    /// The process-unique identity of this font object.
    uint64_t id() const { return id_; }
    double pointSize() const { return pointSize_; }
    const FontMetrics& metrics() const { return metrics_; }

    /// The glyph the font's character map gives `scalar`; absent when the font has none.
    std::optional<GlyphId> glyph(char32_t scalar) const;
    /// True when the font's character map has a glyph for `scalar`.
    bool hasGlyph(char32_t scalar) const;
    /// The glyph the font names `name` in its glyph-name table ("W"), for fonts whose character
    /// map lacks a character; absent when there is no such name.
    std::optional<GlyphId> glyphNamed(std::string_view name) const;
    /// How far the pen moves after `glyph`, in points.
    double advance(GlyphId glyph) const;
    /// The ink rectangle of `glyph`, in points, y-up; for a slanted font, the box of the slanted
    /// ink.
    GlyphBounds bounds(GlyphId glyph) const;

    /// True when the face draws colour glyphs (emoji), false for plain outline faces.
    bool isColor() const;
    /// True when the face is fixed-pitch: every printable ASCII character is in it with one
    /// advance, or fontconfig marks it monospaced.
    bool isMonospace() const;
    /// True when both fonts are the same face at the same size and slant, whatever their ids.
    bool isSameFont(const Font& other) const;
    /// A hash of face, size and slant that agrees with `isSameFont`, for maps keyed by font value.
    size_t valueHash() const { return valueHash_; }

    const std::string& familyName() const;
    const std::string& styleName() const;
    const std::string& postScriptName() const;
    /// The weight on fontconfig's scale: 80 regular, 200 bold.
    int weight() const;
    /// True for an italic or oblique face, and for an upright face slanted to stand in for one.
    bool isItalic() const;
    /// How far this font's glyphs are slanted when drawn: the shift to the right per unit of
    /// height (y-up), as in a shear matrix; 0 for a face drawn as designed. Whatever draws glyphs
    /// applies it (outline transform, font matrix); measuring, shaping and `bounds` include it.
    double obliqueShear() const { return obliqueShear_; }
    /// Bold (semibold or heavier) and italic, as the font draws.
    FontTraits traits() const;
    /// The font file and the face's index in it, for a drawing library that opens faces itself.
    const std::string& filePath() const;
    uint32_t faceIndex() const;

    /// True when the face has the OpenType table `tag` (four ASCII bytes, big-endian, as
    /// `tableTag("GSUB")` makes).
    bool hasTable(uint32_t tag) const;
    /// The bytes of table `tag`; empty when the face has no such table.
    std::vector<uint8_t> table(uint32_t tag) const;
    /// The tag of a four-letter table name.
    static constexpr uint32_t tableTag(const char (&name)[5])
    {
        return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 |
               uint32_t(uint8_t(name[2])) << 8 | uint32_t(uint8_t(name[3]));
    }

    /// The HarfBuzz font (immutable) that shapes with this font; one unit is 1/`unitsPerPoint`
    /// of a point, fine enough that a 200-column row of advances adds up to within 0.01 point.
    hb_font_t* harfBuzzFont() const { return hbFont_; }
    static constexpr int unitsPerPoint = 1 << 16;
    /// The largest size a font is made at: HarfBuzz measures in 32-bit units, and a glyph several
    /// ems wide must still fit.
    static constexpr double largestPointSize = 4096;

    /// Runs `body` with the FreeType face behind this font, under the face's lock (FreeType faces
    /// serve one thread at a time). The face's size and transform are whatever its last user set:
    /// set them first (the transform with `obliqueShear`).
    void withFreeTypeFace(const std::function<void(FT_FaceRec_*)>& body) const;

private:
    struct Token
    {};

public:
    Font(Token, std::shared_ptr<FontFace> face, double pointSize, double obliqueShear);

private:
    static FontRef make(std::shared_ptr<FontFace> face, double pointSize, double obliqueShear = 0);

    uint64_t id_;
    std::shared_ptr<FontFace> face_;
    double pointSize_;
    double obliqueShear_;
    hb_font_t* hbFont_ = nullptr;
    FontMetrics metrics_;
    size_t valueHash_ = 0;
};

} // namespace platform
