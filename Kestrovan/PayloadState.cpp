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
    // A slot must not hand out a code that may be given to another value once released.
    for (size_t index = 0; index < linkCodes.size(); ++index) {
        const uint16_t code = linkCodes[index];
        if (code != 0 && !((inUse[code / 64] >> (code % 64)) & 1)) {
            linkCodes[index] = 0;
            linkPayloads[index].reset();
        }
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
    // Slots are shared by colliding payloads, so the stored text must match, not only the slot.
    if (slot >= linkCodes.size() || linkCodes[slot] == 0)
        return std::nullopt;
    const std::optional<std::string>& stored = linkPayloads[slot];
    if (!stored || *stored != payload)
        return std::nullopt;
    return linkCodes[slot];
}

void PayloadState::setLinkCode(uint16_t code, std::string_view payload, size_t slot)
{
    if (slot >= linkSlotCount)
        return;
    // Both lists are made on first use so that terminals without links pay nothing.
    if (linkCodes.empty()) {
        linkCodes.assign(linkSlotCount, 0);
        linkPayloads.assign(linkSlotCount, std::nullopt);
    }
    linkCodes[slot] = code;
    linkPayloads[slot] = std::string(payload);
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
