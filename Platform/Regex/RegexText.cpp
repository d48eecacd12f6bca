#include "RegexText.h"

#include <algorithm>
#include <cstdint>

namespace platform {

namespace {

constexpr char32_t replacementCharacter = 0xFFFD;

bool isScalar(char32_t value)
{
    return value < 0xD800 || (value > 0xDFFF && value <= 0x10FFFF);
}

// One step of UTF-8 decoding at `text[i]`: the scalar and the bytes it took, or U+FFFD and the
// length of the maximal ill-formed subsequence (at least 1), so that one bad byte never swallows
// the well-formed character after it.
struct Decoded
{
    char32_t scalar;
    size_t length;
};

Decoded decodeUtf8(std::string_view text, size_t i)
{
    const auto byte = [&](size_t at) { return static_cast<uint8_t>(text[at]); };
    const uint8_t lead = byte(i);
    if (lead < 0x80)
        return {lead, 1};

    // The length of the sequence and the allowed range of its second byte, which rules out
    // overlong forms, surrogates and values above U+10FFFF.
    size_t length = 0;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    char32_t scalar = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        scalar = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        scalar = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        scalar = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return {replacementCharacter, 1};
    }

    for (size_t k = 1; k < length; ++k) {
        if (i + k >= text.size())
            return {replacementCharacter, k};
        const uint8_t next = byte(i + k);
        const uint8_t min = k == 1 ? low : 0x80;
        const uint8_t max = k == 1 ? high : 0xBF;
        if (next < min || next > max)
            return {replacementCharacter, k};
        scalar = (scalar << 6) | (next & 0x3F);
    }
    return {scalar, length};
}

} // namespace

void RegexText::append(char32_t scalar, size_t sourceOffset)
{
    if (scalar < 0x10000) {
        units_.push_back(static_cast<char16_t>(scalar));
        sourceOffsets_.push_back(sourceOffset);
        return;
    }
    // Both halves of a surrogate pair map to the start of their character.
    scalar -= 0x10000;
    units_.push_back(static_cast<char16_t>(0xD800 + (scalar >> 10)));
    units_.push_back(static_cast<char16_t>(0xDC00 + (scalar & 0x3FF)));
    sourceOffsets_.push_back(sourceOffset);
    sourceOffsets_.push_back(sourceOffset);
}

RegexText RegexText::fromUtf8(std::string_view text)
{
    RegexText result;
    result.units_.reserve(text.size());
    result.sourceOffsets_.reserve(text.size() + 1);
    size_t i = 0;
    while (i < text.size()) {
        const Decoded decoded = decodeUtf8(text, i);
        result.append(decoded.scalar, i);
        i += decoded.length;
    }
    result.sourceOffsets_.push_back(text.size());
    return result;
}

RegexText RegexText::fromUtf32(std::u32string_view text)
{
    RegexText result;
    result.units_.reserve(text.size());
    result.sourceOffsets_.reserve(text.size() + 1);
    for (size_t i = 0; i < text.size(); ++i)
        result.append(isScalar(text[i]) ? text[i] : replacementCharacter, i);
    result.sourceOffsets_.push_back(text.size());
    return result;
}

size_t RegexText::sourceOffset(int32_t offset) const
{
    const size_t index =
        static_cast<size_t>(std::clamp<int64_t>(offset, 0, static_cast<int64_t>(units_.size())));
    return sourceOffsets_[index];
}

int32_t RegexText::utf16Offset(size_t offset) const
{
    // The first unit whose character starts after `offset`, minus one, is the unit of the character
    // holding `offset`; back up over the second half of a pair to its first half.
    const auto after = std::upper_bound(sourceOffsets_.begin(), sourceOffsets_.end(), offset);
    size_t index =
        after == sourceOffsets_.begin() ? 0 : static_cast<size_t>(after - sourceOffsets_.begin()) - 1;
    while (index > 0 && index < units_.size() && sourceOffsets_[index - 1] == sourceOffsets_[index])
        --index;
    return static_cast<int32_t>(index);
}

RegexSourceRange RegexText::sourceRange(RegexRange range) const
{
    return {sourceOffset(range.start), sourceOffset(range.end)};
}

} // namespace platform
