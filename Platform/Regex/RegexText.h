// UTF-16 text for `Regex`, converted from UTF-8 or UTF-32, with a map from UTF-16 offsets back to
// offsets in the source.
//
// The matcher works in UTF-16 code units; callers hold text as UTF-8 bytes or as scalars (one per
// cell character). Ill-formed input is never an error: each maximal ill-formed UTF-8 subsequence,
// and each UTF-32 value that is not a Unicode scalar, becomes one U+FFFD. The map costs one offset
// per code unit, bought so that mapping a match back is a lookup.
#pragma once

#include "Platform/Regex/Regex.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

/// A half-open range of source offsets: bytes for UTF-8 text, scalars for UTF-32 text.
struct RegexSourceRange
{
    size_t start = 0;
    size_t end = 0;

    bool operator==(const RegexSourceRange&) const = default;
};

class RegexText
{
public:
    /// Converts UTF-8; source offsets are byte offsets.
    static RegexText fromUtf8(std::string_view text);
    /// Converts UTF-32; source offsets are scalar indexes.
    static RegexText fromUtf32(std::u32string_view text);

    /// The text to hand to `Regex`.
    std::u16string_view units() const { return units_; }

    /// The source offset of the character that holds the UTF-16 unit at `offset`; the offset just past
    /// the last unit gives the source length. An offset outside the text is clamped to it.
    size_t sourceOffset(int32_t offset) const;
    /// The UTF-16 offset of the character that holds the source unit at `offset` (a byte inside a
    /// UTF-8 sequence gives its sequence's start); the source length gives the UTF-16 length.
    int32_t utf16Offset(size_t offset) const;
    /// A match mapped back to the source.
    RegexSourceRange sourceRange(RegexRange range) const;

private:
    void append(char32_t scalar, size_t sourceOffset);

    std::u16string units_;
    // One entry per unit of `units_` plus one for the end; never decreasing.
    std::vector<size_t> sourceOffsets_;
};

} // namespace platform
