#include "Kestrovan/Apple/BidiMirroringData.h"

#include <algorithm>

namespace kestrovan {

std::optional<char32_t> BidiMirroringData::unicode17Mirror(char32_t scalar)
{
    const auto pairs = unicode::mirrorPairs;
    const auto found =
        std::lower_bound(pairs.begin(), pairs.end(), uint32_t(scalar),
                         [](const unicode::MirrorPair& pair, uint32_t value) { return pair.scalar < value; });
    if (found == pairs.end() || found->scalar != scalar)
        return std::nullopt;
    return char32_t(found->mirror);
}

} // namespace kestrovan
