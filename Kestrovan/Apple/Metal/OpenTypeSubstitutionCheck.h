// Whether a font's GSUB table can, by default, substitute any of a set of glyphs: the part of the
// plain-font analysis that reads the font's own bytes.
//
// Every script and language system is taken (none is preferred), their features collected, the
// optional ones (features a program or user must turn on, and every "ssNN" and "cvNN") skipped,
// and the lookups of the rest examined: a substitution whose coverage meets the glyphs, or any
// lookup this reader does not understand, can change them. The answer is conservative; a table
// that cannot be read answers nothing, which the analysis takes as "can change".
//
// The table comes from the font file, which may be damaged or crafted. Offsets may point at shared
// tables, so the script and language-system tables (and feature tables) are each read once, by
// offset: the work is then bounded by the table's size and the answer is unchanged, since features
// and lookups are collected as sets. Past `readBudget` reads the reader gives up and answers
// nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace kestrovan {

namespace OpenTypeSubstitutionCheck {

/// Reads of 16- or 32-bit values a check may make before it gives up.
inline constexpr uint64_t readBudget = 1'000'000;

/// True when `tag` names a feature that is off unless turned on: one of the 60 optional features,
/// or "ss" or "cv" followed by digits only.
bool isOptionalFeature(std::string_view tag);

/// True when some default substitution of `gsub` can touch one of `glyphs`, false when none can,
/// absent when the table is malformed or too costly to read.
std::optional<bool> canChange(const std::vector<uint16_t>& glyphs, std::span<const uint8_t> gsub);

/// How tables that several records point at are read.
enum class SharedTables
{
    /// Once, by offset: what the analysis does.
    readOnce,
    /// At every reference, as the records say: for checking that reading once changes no answer.
    readEveryTime,
};

/// The answer of `canChange`, the reads it took, and whether it gave up for the budget.
struct Examination
{
    std::optional<bool> canChange;
    uint64_t reads = 0;
    bool exceededBudget = false;
};
Examination examine(const std::vector<uint16_t>& glyphs, std::span<const uint8_t> gsub,
                    SharedTables sharing = SharedTables::readOnce);

} // namespace OpenTypeSubstitutionCheck

} // namespace kestrovan
