// The Unicode character properties and the case folding that text search and word selection need,
// answered by ICU.
//
// Word selection asks whether a character is a letter or a number; plain case-insensitive search
// compares text after full case folding (so "ß" and "ss" compare equal, which simple one-to-one
// folding cannot do). Both work on scalars; callers decide where characters begin and end.
#pragma once

#include <string>
#include <string_view>

namespace platform {

/// True for a scalar with the Unicode Alphabetic property.
bool isLetter(char32_t scalar);
/// True for a scalar with any Unicode numeric type (decimal digits, other digits, numerics).
bool isNumber(char32_t scalar);

/// Appends the full case folding of `scalars` (Unicode CaseFolding.txt, statuses C and F) to `out`
/// as UTF-16. Values that are not scalars become U+FFFD. ASCII is folded without calling ICU.
void appendCaseFolded(std::u16string& out, std::u32string_view scalars);
/// The full case folding of UTF-16 text.
std::u16string caseFolded(std::u16string_view text);

} // namespace platform
