#include "Kestrovan/Apple/Metal/ShaperCache.h"

#include "Platform/Text/ShapedLine.h"

#include <functional>

namespace kestrovan {

size_t ShaperKeyHash::operator()(const ShaperKey& key) const
{
    size_t hash = std::hash<std::u16string>()(key.text);
    hash = hash * 31 + std::hash<std::string>()(key.fontName);
    hash = hash * 31 + std::hash<double>()(key.fontSize);
    hash = hash * 31 + std::hash<double>()(key.fontSlant);
    return hash * 31 + std::hash<uint64_t>()(key.fallbackTag);
}

ShaperKey ShaperCache::key(std::u16string_view text, const platform::Font& font, uint64_t fallbackTag)
{
    return ShaperKey{font.postScriptName(), font.pointSize(), font.obliqueShear(), std::u16string(text),
                     fallbackTag};
}

std::shared_ptr<const ShaperRun> ShaperCache::shape(std::u16string_view text, const platform::FontRef& font,
                                                    uint64_t fallbackTag)
{
    if (text.empty() || !font)
        return nullptr;
    ShaperKey shaperKey = key(text, *font, fallbackTag);
    if (const auto found = cache_.find(shaperKey); found != cache_.end())
        return found->second;

    const platform::FontRun input{uint32_t(text.size()), font};
    const platform::ShapedLine line = platform::ShapedLine::shape(text, std::span(&input, 1));
    auto run = std::make_shared<ShaperRun>();
    for (const platform::ShapedRun& shaped : line.runs()) {
        const std::span<const platform::ShapedGlyph> glyphs = line.glyphs(shaped);
        if (glyphs.empty())
            continue;
        ShaperGlyphRun glyphRun;
        glyphRun.font = shaped.font ? shaped.font : font;
        for (const platform::ShapedGlyph& glyph : glyphs) {
            glyphRun.glyphs.push_back(uint16_t(glyph.glyph));
            glyphRun.positions.push_back(platform::Point{glyph.x, glyph.y});
            glyphRun.stringIndices.push_back(glyph.cluster);
        }
        run->glyphCount += glyphs.size();
        run->glyphRuns.push_back(std::move(glyphRun));
    }
    if (run->glyphRuns.empty())
        return nullptr;
    std::shared_ptr<const ShaperRun> result = std::move(run);
    insert(shaperKey, result);
    return result;
}

void ShaperCache::insert(const ShaperKey& shaperKey, std::shared_ptr<const ShaperRun> run)
{
    auto [entry, inserted] = cache_.insert_or_assign(shaperKey, std::move(run));
    if (!inserted)
        return;
    order_.push_back(entry->first);
    while (order_.size() > maxEntries) {
        cache_.erase(order_.front());
        order_.pop_front();
    }
}

} // namespace kestrovan
