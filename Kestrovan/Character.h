// One user-perceived character: an extended grapheme cluster held as its Unicode scalars.
//
// Most characters are one scalar; clusters (a letter with combining marks, emoji sequences, flags,
// Hangul syllables built from jamo, Indic conjuncts) hold several. The value does not check that
// its scalars form exactly one cluster; `GraphemeBreak.h` decides where clusters end.
#pragma once

#include <string>
#include <string_view>

namespace kestrovan {

struct Character
{
    std::u32string scalars;

    Character() = default;
    explicit Character(char32_t scalar) : scalars(1, scalar) {}
    explicit Character(std::u32string scalarList) : scalars(std::move(scalarList)) {}

    /// True when the character holds no scalar.
    bool isEmpty() const { return scalars.empty(); }
    /// The first scalar, or 0 when there is none.
    char32_t firstScalar() const { return scalars.empty() ? 0 : scalars.front(); }
    /// The character as UTF-8 text (invalid scalars become U+FFFD).
    std::string utf8() const;

    friend bool operator==(const Character&, const Character&) = default;
};

} // namespace kestrovan
