// UTF-8 encoding and lenient decoding of Unicode scalars.
//
// Encoding writes any value up to U+10FFFF as the bytes UTF-8 gives it (surrogates included, for
// callers that have already checked validity). Decoding never fails: every ill-formed sequence
// decodes to U+FFFD, and a byte that does not continue a sequence starts a new one.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kestrovan {

/// True for a Unicode scalar value: at most U+10FFFF and not a surrogate.
constexpr bool isValidScalar(char32_t value)
{
    return value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
}

/// Appends the UTF-8 bytes of `scalar` (values above U+10FFFF append U+FFFD).
void appendUtf8(std::string& out, char32_t scalar);

/// The UTF-8 text of a scalar sequence; invalid scalars become U+FFFD.
std::string utf8String(std::u32string_view scalars);

/// The scalars of UTF-8 text; ill-formed sequences become U+FFFD.
std::u32string decodeUtf8(std::string_view bytes);

/// True when the bytes are well-formed UTF-8: no overlong forms, surrogates or values above
/// U+10FFFF, and no sequence cut short at the end.
bool isValidUtf8(std::span<const uint8_t> bytes);

} // namespace kestrovan
