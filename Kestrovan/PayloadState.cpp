#include "Kestrovan/PayloadState.h"

#include <algorithm>
#include <bit>

namespace kestrovan {

void PayloadState::insert(TinyAtom atom, size_t textBytes)
{
    if (atom.code == 0 || isHeld(atom.code))
        return;
    held[atom.code / 64] |= uint64_t{1} << (atom.code % 64);
    ++count;
    const auto bytes = static_cast<uint16_t>(std::min(textBytes, ActiveHyperlink::maximumPayloadBytes));
    if (bytes == 0)
        return;
    if (textBytesByCode.size() <= atom.code)
        textBytesByCode.resize(size_t(atom.code) + 1, 0);
    textBytesByCode[atom.code] = bytes;
    heldTextBytes += bytes;
}

std::vector<uint16_t> PayloadState::release(const CodeBits& inUse)
{
    // Word by word: held and not in use. Walking the bits of each word low to high keeps the
    // codes in ascending order.
    std::vector<uint16_t> freed;
    for (size_t word = 0; word < held.size(); ++word) {
        const uint64_t unused = held[word] & ~inUse[word];
        if (unused == 0)
            continue;
        for (uint64_t bits = unused; bits != 0; bits &= bits - 1)
            freed.push_back(static_cast<uint16_t>(word * 64 + static_cast<size_t>(std::countr_zero(bits))));
        held[word] &= ~unused;
    }
    count -= static_cast<int>(freed.size());
    if (freed.empty())
        return freed;
    for (const uint16_t code : freed) {
        if (code < textBytesByCode.size()) {
            heldTextBytes -= textBytesByCode[code];
            textBytesByCode[code] = 0;
        }
    }
    // A slot must not hand out a code that may be given to another value once released.
    for (uint16_t& code : linkCodes) {
        if (code != 0 && !((inUse[code / 64] >> (code % 64)) & 1))
            code = 0;
    }
    return freed;
}

size_t PayloadState::slot(std::string_view payload)
{
    // 32-bit FNV-1a over the UTF-8 bytes, high half folded into the low bits.
    uint32_t hash = 0x811C9DC5u;
    for (char c : payload) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 16777619u;
    }
    return (hash ^ (hash >> 16)) & (linkSlotCount - 1);
}

std::optional<uint16_t> PayloadState::linkCode(std::string_view payload, size_t slot) const
{
    // Slots are shared by colliding payloads, so the code's text must match, not only the slot.
    // A slot's code is held, so its entry in the atom table is still the text it was made for.
    if (slot >= linkCodes.size() || linkCodes[slot] == 0)
        return std::nullopt;
    if (!TinyAtom::holdsText(linkCodes[slot], payload))
        return std::nullopt;
    return linkCodes[slot];
}

void PayloadState::setLinkCode(uint16_t code, size_t slot)
{
    if (slot >= linkSlotCount)
        return;
    // Made on first use so that terminals without links pay nothing.
    if (linkCodes.empty())
        linkCodes.assign(linkSlotCount, 0);
    linkCodes[slot] = code;
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
    heldTextBytes = 0;
    textBytesByCode.clear();
    linkCodes.clear();
}

} // namespace kestrovan
