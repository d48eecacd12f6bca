// The hash index of a cell arena: from a key (an attribute, a grapheme cluster) to the id it was
// given.
//
// The keys themselves stay where the arena keeps them, one per id; a slot of the index holds only
// a value naming the id (never 0, which marks an empty slot) and a few bits of the key's hash, so
// a probe compares keys only when those bits agree. Slots are 32-bit and probed linearly in a
// table at most half full, so a lookup, found or not, nearly always reads one cache line of the
// table: the arena's full attribute table (65,536 ids) is indexed in 512 KiB, where a node-based
// map would spend several dependent cache misses on each lookup. That matters because once the
// attribute table is full every attribute not seen before (random true colours) is a lookup
// that misses the arena's cache and finds nothing.
//
// Entries are never removed, as arena ids are never given back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrovan {

class InternTable
{
public:
    /// A table whose values are below 2^`valueBits` (and not 0); the other bits of a slot
    /// hold hash bits.
    explicit InternTable(unsigned valueBits) : valueMask_((uint32_t(1) << valueBits) - 1) {}

    size_t size() const { return count_; }

    /// The value stored for the key that `hash` was computed from, or 0. `matches(value)`
    /// compares the key of a candidate value with the key looked up.
    template <typename Matches> uint32_t find(uint64_t hash, Matches&& matches) const
    {
        if (count_ == 0)
            return 0;
        const uint32_t tag = tagOf(hash);
        for (size_t index = indexOf(hash);; index = (index + 1) & mask_) {
            const uint32_t slot = slots_[index];
            if (slot == 0)
                return 0;
            if ((slot & ~valueMask_) == tag && matches(slot & valueMask_))
                return slot & valueMask_;
        }
    }

    /// Stores `value` (not 0, not present yet) under `hash`. Growing re-inserts every value,
    /// asking `hashOf(value)` for its hash.
    template <typename HashOf> void insert(uint64_t hash, uint32_t value, HashOf&& hashOf)
    {
        if ((count_ + 1) * 2 > slots_.size()) {
            std::vector<uint32_t> old = std::move(slots_);
            const size_t capacity = old.empty() ? minimumCapacity : old.size() * 2;
            slots_.assign(capacity, 0);
            mask_ = capacity - 1;
            shift_ = 64 - static_cast<unsigned>(__builtin_ctzll(capacity));
            for (const uint32_t slot : old) {
                if (slot != 0)
                    place(hashOf(slot & valueMask_), slot & valueMask_);
            }
        }
        place(hash, value);
        ++count_;
    }

private:
    static constexpr size_t minimumCapacity = 64;

    // The top bits pick the slot; the tag comes from bits below those any table uses, mixed
    // with the top half so that keys differing only in their high fields get different tags.
    size_t indexOf(uint64_t hash) const { return static_cast<size_t>(hash >> shift_); }
    uint32_t tagOf(uint64_t hash) const
    {
        return static_cast<uint32_t>((hash ^ (hash >> 32)) >> 8) & ~valueMask_;
    }

    void place(uint64_t hash, uint32_t value)
    {
        size_t index = indexOf(hash);
        while (slots_[index] != 0)
            index = (index + 1) & mask_;
        slots_[index] = tagOf(hash) | value;
    }

    std::vector<uint32_t> slots_;
    size_t count_ = 0;
    size_t mask_ = 0;
    unsigned shift_ = 64;
    uint32_t valueMask_;
};

} // namespace kestrovan
