// Whether a font draws printable ASCII one glyph per character, so that rows in it can skip shaping.
//
// A font is plain when each of the 95 printable ASCII characters (U+0020 to U+007E) always becomes
// exactly one glyph of the font itself, in order, on the baseline, whatever its neighbours: no
// ligatures, contextual alternates, kerning or fallback. `PlainTextFont::analyze` decides this
// once per font, conservatively (whatever it cannot rule out makes the font not plain), and for a
// plain font answers the glyph of each character. It looks at the font's tables (no kerning or
// positioning table; no default substitution of these glyphs in GSUB) and then shapes 97 probe
// strings the way rows are shaped, with the same fallback, left to right.
//
// `PlainTextFontCache` keeps the answers of up to 32 font objects and is emptied whole when a
// 33rd comes. One thread at a time (the frame builder's).
#pragma once

#include "Platform/Text/Font.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <unordered_map>

namespace kestrovan {

class PlainTextFont
{
public:
    /// The characters a plain font maps straight to glyphs.
    static constexpr char32_t firstCharacter = 0x20;
    static constexpr char32_t lastCharacter = 0x7E;
    static constexpr size_t characterCount = lastCharacter - firstCharacter + 1;

    /// The analysis of `font`: a plain font, or null when the font is not plain.
    static std::shared_ptr<const PlainTextFont> analyze(const platform::FontRef& font);

    PlainTextFont(platform::FontRef shapedFont, const std::array<uint16_t, characterCount>& glyphs);

    /// The font shaping actually used for the probes.
    const platform::FontRef& shapedFont() const { return shapedFont_; }
    /// The glyph of each character, indexed by the character's code less 0x20.
    const std::array<uint16_t, characterCount>& glyphs() const { return glyphs_; }
    /// The glyph of a printable ASCII character.
    uint16_t glyph(char32_t character) const { return glyphs_[character - firstCharacter]; }

    /// The font (shaped as a row would be) when `text` comes out as exactly `expected`: one glyph
    /// of one font per UTF-16 unit, in order, each at its own text index and on the baseline.
    static platform::FontRef shapesOneToOne(std::u16string_view text, const platform::FontRef& font,
                                            std::span<const uint16_t> expected);

private:
    platform::FontRef shapedFont_;
    std::array<uint16_t, characterCount> glyphs_;
};

/// The analysis of a font: a plain font, or null for a font that is not plain.
using PlainFontAnalysis = std::shared_ptr<const PlainTextFont>;

class PlainTextFontCache
{
public:
    static constexpr size_t maxFonts = 32;

    /// The analysis of `font`, by font object; analysed on a miss, emptying the cache first when
    /// it is full.
    PlainFontAnalysis plainTextFont(const platform::FontRef& font);

    size_t count() const { return analyses_.size(); }

private:
    struct Entry
    {
        /// Kept alive so that its id is not reused while it is a key.
        platform::FontRef font;
        PlainFontAnalysis analysis;
    };
    std::unordered_map<uint64_t, Entry> analyses_;
};

} // namespace kestrovan
