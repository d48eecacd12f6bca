// Unicode scalars to UTF-8 and back, for the text the layer hands between the toolkit (UTF-8) and
// the key events (scalars). Invalid input never fails: a scalar that is not one (a surrogate or a
// value past U+10FFFF) and a malformed UTF-8 sequence both become U+FFFD.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace platform {

inline std::string utf8FromScalars(const std::u32string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) {
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
            c = 0xFFFD;
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

/// The scalar whose UTF-8 form starts at byte `i` of `text`, and how many bytes that form takes;
/// U+FFFD and 1 byte for a malformed sequence.
inline std::pair<char32_t, int> scalarAt(std::string_view text, size_t i)
{
    const unsigned char lead = text[i];
    int length = lead < 0x80           ? 1
                 : (lead >> 5) == 0x6  ? 2
                 : (lead >> 4) == 0xE  ? 3
                 : (lead >> 3) == 0x1E ? 4
                                       : 0;
    char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    bool valid = length > 0 && i + length <= text.size();
    for (int k = 1; valid && k < length; ++k) {
        const unsigned char next = text[i + k];
        valid = (next & 0xC0) == 0x80;
        c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not scalars.
    static constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    valid = valid && c >= smallest[length] && !(c >= 0xD800 && c <= 0xDFFF) && c <= 0x10FFFF;
    return valid ? std::pair<char32_t, int>{c, length} : std::pair<char32_t, int>{0xFFFD, 1};
}

inline std::u32string scalarsFromUtf8(std::string_view text)
{
    std::u32string out;
    size_t i = 0;
    while (i < text.size()) {
        const auto [scalar, length] = scalarAt(text, i);
        out += scalar;
        i += size_t(length);
    }
    return out;
}

/// Whether `text` is well-formed UTF-8, so that `scalarsFromUtf8` would replace nothing in it.
inline bool isValidUtf8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const auto [scalar, length] = scalarAt(text, i);
        // U+FFFD written out (EF BF BD) is three bytes; the replacement of a bad byte is one.
        if (scalar == 0xFFFD && length == 1)
            return false;
        i += size_t(length);
    }
    return true;
}

} // namespace platform
