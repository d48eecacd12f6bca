#include "Kestrovan/PayloadState.h"

#include <bit>

namespace kestrovan {

void PayloadState::insert(TinyAtom atom)
{
    if (atom.code == 0 || isHeld(atom.code))
        return;
    held[atom.code / 64] |= uint64_t{1} << (atom.code % 64);
    ++count;
}

void PayloadState::releaseAll()
{
    if (count == 0)
        return;
    std::vector<uint16_t> codes;
    codes.reserve(static_cast<size_t>(count));
    for (size_t word = 0; word < held.size(); ++word) {
        for (uint64_t bits = held[word]; bits != 0; bits &= bits - 1)
            codes.push_back(static_cast<uint16_t>(word * 64 + static_cast<size_t>(std::countr_zero(bits))));
    }
    // One acquisition of the atom table's lock for all of them.
    TinyAtom::release(codes);
    held.fill(0);
    count = 0;
    linkPayloads.clear();
    linkCodes.clear();
}

} // namespace kestrovan
