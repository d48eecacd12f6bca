// The Arabic joining data of Unicode 17.0 as the row layout reads it: the joining type of a scalar
// from the explicitly listed ranges of ArabicShaping.txt, and the positional presentation forms of
// each letter that has them.
//
// Both tables are generated (Kestrovan/Generated/BidiTables.cpp, by tools/unicode/generate) as
// sorted constant arrays, so they need no building and no lock: a lookup is a bisection.
#pragma once

#include "Kestrovan/Generated/BidiTables.h"

#include <cstdint>
#include <optional>
#include <span>

namespace kestrovan {

/// The Unicode joining types U, T, C, R, L and D, in that order.
enum class BidiJoining : uint8_t
{
    none,
    transparent,
    causing,
    right,
    left,
    dual,
};

/// A letter's presentation forms: isolated and final always, initial and medial for letters that
/// join on both sides.
struct ArabicPresentationForms
{
    char32_t iso = 0;
    char32_t fin = 0;
    std::optional<char32_t> ini;
    std::optional<char32_t> med;

    friend bool operator==(const ArabicPresentationForms&, const ArabicPresentationForms&) = default;
};

struct ArabicShapingData
{
    /// The 157 listed ranges, sorted and disjoint, from U+0620 to U+1E94B. Every range has a type
    /// other than `none`: unlisted scalars are decided by their category, not by this table.
    static std::span<const unicode::JoiningRange> unicode17JoiningRanges() { return unicode::joiningRanges; }

    /// The listed joining type of `scalar`; absent when no range holds it.
    static std::optional<BidiJoining> listedJoining(char32_t scalar);

    /// The presentation forms of `letter`; absent for the scalars that are not one of the 76
    /// letters with forms.
    static std::optional<ArabicPresentationForms> unicode17Forms(char32_t letter);

    /// The number of letters with forms.
    static size_t formCount() { return unicode::arabicLetterForms.size(); }
};

} // namespace kestrovan
