// The mirrored-glyph table of Unicode 17.0 (Bidi_Mirroring_Glyph): brackets, comparison signs,
// arrows and quotation marks that show their mirror image in a right-to-left run.
//
// The 428 pairs are generated (Kestrovan/Generated/BidiTables.cpp) as a constant array sorted by
// scalar; the table is an involution (every mirror maps back) and holds no box-drawing character.
// The box-drawing pieces that mirror only on request are `TerminalBidi::boxMirror`.
#pragma once

#include "Kestrovan/Generated/BidiTables.h"

#include <optional>
#include <span>

namespace kestrovan {

struct BidiMirroringData
{
    /// Every (scalar, mirror) pair, sorted by scalar.
    static std::span<const unicode::MirrorPair> unicode17MirrorPairs() { return unicode::mirrorPairs; }

    /// The mirror of `scalar`; absent when it has none.
    static std::optional<char32_t> unicode17Mirror(char32_t scalar);
};

} // namespace kestrovan
