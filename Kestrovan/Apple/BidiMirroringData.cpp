#include "Kestrovan/Apple/BidiMirroringData.h"

#include <algorithm>
#include <bitset>

namespace kestrovan {

namespace {

/// For each block of 256 scalars in the Basic Multilingual Plane, whether any of them mirrors: the
/// 428 pairs fall in 14 blocks, so nearly every letter is answered without a search.
const std::bitset<256>& blocksWithMirrors()
{
    static const std::bitset<256> blocks = [] {
        std::bitset<256> made;
        for (const unicode::MirrorPair& pair : unicode::mirrorPairs) {
            if (pair.scalar <= 0xFFFF)
                made.set(pair.scalar >> 8);
        }
        return made;
    }();
    return blocks;
}

} // namespace

std::optional<char32_t> BidiMirroringData::unicode17Mirror(char32_t scalar)
{
    if (scalar > 0xFFFF || !blocksWithMirrors().test(scalar >> 8))
        return std::nullopt;
    const auto pairs = unicode::mirrorPairs;
    const auto found =
        std::lower_bound(pairs.begin(), pairs.end(), uint32_t(scalar),
                         [](const unicode::MirrorPair& pair, uint32_t value) { return pair.scalar < value; });
    if (found == pairs.end() || found->scalar != scalar)
        return std::nullopt;
    return char32_t(found->mirror);
}

} // namespace kestrovan
