// Extended grapheme cluster segmentation (Unicode text segmentation rules, including emoji ZWJ
// sequences, regional-indicator pairs and Indic conjuncts), on the generated Unicode tables.
// Segmenting reads the text forwards only and never allocates; only `firstCharacter` builds a value.
#pragma once

#include "Kestrovan/Character.h"

#include <cstddef>
#include <string_view>

namespace kestrovan {

/// Number of scalars in the extended grapheme cluster that starts at `from` (0 when `from` is at
/// or past the end).
size_t graphemeClusterLength(std::u32string_view text, size_t from = 0);

/// Number of extended grapheme clusters in `text`.
size_t graphemeCount(std::u32string_view text);

/// The first extended grapheme cluster of `text`; empty when the text is empty.
Character firstCharacter(std::u32string_view text);

} // namespace kestrovan
