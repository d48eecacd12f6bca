#include "FontFallback.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

namespace platform {

namespace {

constexpr char32_t textPresentationSelector = 0xFE0E;
constexpr char32_t emojiPresentationSelector = 0xFE0F;
constexpr char32_t replacementCharacter = 0xFFFD;

// The scalars of UTF-16 text; a lone surrogate reads as U+FFFD, as the shaper reads it.
std::u32string scalarsOf(std::u16string_view text)
{
    std::u32string scalars;
    scalars.reserve(text.size());
    const int32_t length = static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
    for (int32_t i = 0; i < length;) {
        UChar32 scalar = 0;
        U16_NEXT(text.data(), i, length, scalar);
        scalars.push_back(U_IS_SURROGATE(scalar) ? replacementCharacter : char32_t(scalar));
    }
    return scalars;
}

// Characters a shaper removes unless the font uses them in a ligature: joiners, variation
// selectors, tags, bidi controls. A font need not have glyphs for them.
bool needsGlyph(char32_t scalar)
{
    return !u_hasBinaryProperty(UChar32(scalar), UCHAR_DEFAULT_IGNORABLE_CODE_POINT);
}

std::string fontKey(const FaceLocation& location, double pointSize)
{
    return location.path + '\n' + std::to_string(location.index) + '\n' + std::to_string(pointSize);
}

} // namespace

FontFallback& FontFallback::shared()
{
    // Never destroyed: renderers may still be shaping while static destruction runs.
    static FontFallback* cascade = new FontFallback;
    return *cascade;
}

size_t FontFallback::KeyHash::operator()(const Key& key) const
{
    return std::hash<std::u16string_view>()(key.cluster) * 31 + std::hash<uint64_t>()(key.fontId);
}

bool FontFallback::prefersColor(std::u32string_view scalars)
{
    bool color = false;
    for (char32_t scalar : scalars) {
        if (scalar == textPresentationSelector)
            return false;
        if (scalar == emojiPresentationSelector ||
            u_hasBinaryProperty(UChar32(scalar), UCHAR_EMOJI_PRESENTATION) ||
            u_hasBinaryProperty(UChar32(scalar), UCHAR_EMOJI_MODIFIER))
            color = true;
    }
    return color;
}

bool FontFallback::covers(const Font& font, std::u32string_view scalars)
{
    for (char32_t scalar : scalars) {
        if (needsGlyph(scalar) && !font.hasGlyph(scalar))
            return false;
    }
    return true;
}

FontRef FontFallback::fontFor(const FontRef& base, std::u16string_view cluster)
{
    if (!base || cluster.empty())
        return base;
    const std::u32string scalars = scalarsOf(cluster);
    const bool color = prefersColor(scalars);
    // The common case answers without the lock: the font has the character, in the wanted kind.
    const bool baseCovers = covers(*base, scalars);
    if (baseCovers && (!color || base->isColor()))
        return base;

    Key key{base->id(), std::u16string(cluster)};
    {
        MutexLock lock(mutex_);
        if (auto found = answers_.find(key); found != answers_.end()) {
            ++statistics_.hits;
            return found->second;
        }
        ++statistics_.misses;
    }

    // The search outside the lock may call into fontconfig and open font files. A colour request
    // that no colour face meets takes the font's own plain glyph, then any plain face; a
    // character nothing has stays with the font, which draws its missing-glyph box.
    FontRef answer = search(base, scalars, color);
    if (!answer && color && baseCovers)
        answer = base;
    if (!answer && color)
        answer = search(base, scalars, false);
    if (!answer)
        answer = base;

    MutexLock lock(mutex_);
    if (answers_.size() >= capacity)
        answers_.clear();
    // Another thread may have answered the same key meanwhile; either answer is right, and
    // keeping the first one keeps the font object stable.
    return answers_.emplace(std::move(key), std::move(answer)).first->second;
}

FontRef FontFallback::search(const FontRef& base, std::u32string_view scalars, bool color)
{
    std::u32string required;
    for (char32_t scalar : scalars) {
        if (needsGlyph(scalar))
            required.push_back(scalar);
    }
    const auto location = list(*base, color)->firstCovering(required);
    if (!location)
        return nullptr;
    FontRef font = fontAt(*location, base->pointSize());
    if (font && font->isSameFont(*base))
        return base;
    // Fontconfig's character sets and the font's own map can disagree (a cache made from an older
    // file); only a font that really has the glyphs is an answer.
    return font && covers(*font, scalars) ? font : nullptr;
}

// Sorting every installed face costs milliseconds, so the sorted list for a family, style and
// colour preference is made once and kept; a miss then only walks it.
std::shared_ptr<const FallbackList> FontFallback::list(const Font& base, bool color)
{
    const FontTraits traits = base.traits();
    const std::string key =
        base.familyName() + '\n' + char('0' + traits.bold) + char('0' + traits.italic) + char('0' + color);
    {
        MutexLock lock(mutex_);
        if (auto found = lists_.find(key); found != lists_.end())
            return found->second;
    }
    auto sorted = FontRegistry::fallbackList(base.familyName(), traits, color);
    MutexLock lock(mutex_);
    // A handful of families and styles at most; the bound only guards against a caller that
    // cycles through every font on the system.
    if (lists_.size() >= 64)
        lists_.clear();
    return lists_.emplace(key, std::move(sorted)).first->second;
}

FontRef FontFallback::fontAt(const FaceLocation& location, double pointSize)
{
    const std::string key = fontKey(location, pointSize);
    {
        MutexLock lock(mutex_);
        if (auto found = fonts_.find(key); found != fonts_.end())
            return found->second;
    }
    FontRef font = Font::atLocation(location, pointSize);
    if (!font)
        return nullptr;
    MutexLock lock(mutex_);
    if (fonts_.size() >= capacity)
        fonts_.clear();
    return fonts_.emplace(key, std::move(font)).first->second;
}

FontFallback::Statistics FontFallback::statistics() const
{
    MutexLock lock(mutex_);
    Statistics statistics = statistics_;
    statistics.entries = answers_.size();
    return statistics;
}

void FontFallback::removeAll()
{
    MutexLock lock(mutex_);
    answers_.clear();
    fonts_.clear();
    lists_.clear();
    statistics_ = {};
}

} // namespace platform
