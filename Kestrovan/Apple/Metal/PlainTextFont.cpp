// PlainTextFont: the table checks, the GSUB check and the 97 shaping probes of the plain-font
// analysis, and the analysis cache.
#include "Kestrovan/Apple/Metal/PlainTextFont.h"

#include "Kestrovan/Apple/Metal/OpenTypeSubstitutionCheck.h"
#include "Platform/Text/ShapedLine.h"

#include <vector>

namespace kestrovan {

namespace {

// Tables that let a font change glyphs or positions in ways this analysis does not read: any of
// them makes the font not plain, whatever it holds.
constexpr uint32_t disqualifyingTables[] = {
    platform::Font::tableTag("morx"),
    platform::Font::tableTag("mort"),
    platform::Font::tableTag("kern"),
    platform::Font::tableTag("GPOS"),
};

} // namespace

PlainTextFont::PlainTextFont(platform::FontRef shapedFont, const std::array<uint16_t, characterCount>& glyphs)
    : shapedFont_(std::move(shapedFont)), glyphs_(glyphs)
{}

std::shared_ptr<const PlainTextFont> PlainTextFont::analyze(const platform::FontRef& font)
{
    // Fonts here never carry feature settings of their own, so there are none to rule out.
    if (!font)
        return nullptr;
    for (uint32_t tag : disqualifyingTables) {
        if (font->hasTable(tag))
            return nullptr;
    }

    std::array<uint16_t, characterCount> glyphs{};
    for (size_t i = 0; i < characterCount; ++i) {
        const std::optional<platform::GlyphId> glyph = font->glyph(char32_t(firstCharacter + i));
        // Glyph ids above 16 bits cannot come from a font's character map, but must not wrap.
        if (!glyph || *glyph == 0 || *glyph > 0xFFFF)
            return nullptr;
        glyphs[i] = uint16_t(*glyph);
    }

    constexpr uint32_t gsubTag = platform::Font::tableTag("GSUB");
    if (font->hasTable(gsubTag)) {
        const std::vector<uint8_t> gsub = font->table(gsubTag);
        const std::optional<bool> changes =
            OpenTypeSubstitutionCheck::canChange(std::vector<uint16_t>(glyphs.begin(), glyphs.end()), gsub);
        if (!changes || *changes)
            return nullptr;
    }

    // The probes: each character alone, then all of them ascending, then descending. Each must
    // come out one to one, and all in the same font.
    platform::FontRef probeFont;
    const auto probe = [&](std::u16string_view text, std::span<const uint16_t> expected) {
        platform::FontRef shaped = shapesOneToOne(text, font, expected);
        if (!shaped || (probeFont && !probeFont->isSameFont(*shaped)))
            return false;
        if (!probeFont)
            probeFont = std::move(shaped);
        return true;
    };
    for (size_t i = 0; i < characterCount; ++i) {
        const char16_t text[] = {char16_t(firstCharacter + i)};
        if (!probe(std::u16string_view(text, 1), std::span(&glyphs[i], 1)))
            return nullptr;
    }
    std::u16string ascending, descending;
    std::vector<uint16_t> ascendingGlyphs, descendingGlyphs;
    for (size_t i = 0; i < characterCount; ++i) {
        ascending.push_back(char16_t(firstCharacter + i));
        ascendingGlyphs.push_back(glyphs[i]);
        descending.push_back(char16_t(lastCharacter - i));
        descendingGlyphs.push_back(glyphs[characterCount - 1 - i]);
    }
    if (!probe(ascending, ascendingGlyphs) || !probe(descending, descendingGlyphs))
        return nullptr;
    return std::make_shared<const PlainTextFont>(std::move(probeFont), glyphs);
}

platform::FontRef PlainTextFont::shapesOneToOne(std::u16string_view text, const platform::FontRef& font,
                                                std::span<const uint16_t> expected)
{
    // Shaped as rows are, with the process's fallback cascade; shaping lays text out left to
    // right in the order given, so nothing is reordered.
    const platform::FontRun run{uint32_t(text.size()), font};
    const platform::ShapedLine line = platform::ShapedLine::shape(text, std::span(&run, 1));
    platform::FontRef first;
    size_t done = 0;
    for (const platform::ShapedRun& shapedRun : line.runs()) {
        const std::span<const platform::ShapedGlyph> glyphs = line.glyphs(shapedRun);
        if (glyphs.empty())
            continue;
        if (!shapedRun.font || (first && !first->isSameFont(*shapedRun.font)))
            return nullptr;
        if (!first)
            first = shapedRun.font;
        for (size_t i = 0; i < glyphs.size(); ++i) {
            const size_t at = done + i;
            if (at >= expected.size() || glyphs[i].glyph != expected[at] || glyphs[i].cluster != at ||
                glyphs[i].y != 0)
                return nullptr;
        }
        done += glyphs.size();
    }
    if (done != expected.size())
        return nullptr;
    return first;
}

PlainFontAnalysis PlainTextFontCache::plainTextFont(const platform::FontRef& font)
{
    if (!font)
        return nullptr;
    if (const auto found = analyses_.find(font->id()); found != analyses_.end())
        return found->second.analysis;
    if (analyses_.size() >= maxFonts)
        analyses_.clear();
    PlainFontAnalysis analysis = PlainTextFont::analyze(font);
    analyses_.emplace(font->id(), Entry{font, analysis});
    return analysis;
}

} // namespace kestrovan
