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
// Entries are removed when the arena gives an id back (a cluster that grows in place is moved to
// its new key) and the whole index is rebuilt after the arena reclaims ids nothing uses.
#pragma once

#include <algorithm>
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

    /// Removes `value`, stored under `hash`; nothing happens when it is not there. The entries
    /// after it in its probe run move back where their own hashes (`hashOf`) allow, so every
    /// remaining value stays reachable without tombstones.
    template <typename HashOf> void remove(uint64_t hash, uint32_t value, HashOf&& hashOf)
    {
        if (count_ == 0)
            return;
        size_t hole = indexOf(hash);
        for (;; hole = (hole + 1) & mask_) {
            const uint32_t slot = slots_[hole];
            if (slot == 0)
                return;
            if ((slot & valueMask_) == value)
                break;
        }
        for (size_t next = (hole + 1) & mask_; slots_[next] != 0; next = (next + 1) & mask_) {
            const size_t home = indexOf(hashOf(slots_[next] & valueMask_));
            // The entry at `next` may fill the hole unless its home lies cyclically in
            // (hole, next]: then it is already as close to home as it can be.
            const bool staysPut =
                hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
            if (staysPut)
                continue;
            slots_[hole] = slots_[next];
            hole = next;
        }
        slots_[hole] = 0;
        --count_;
    }

    /// Forgets every entry, keeping the table's size.
    void clear()
    {
        std::fill(slots_.begin(), slots_.end(), 0);
        count_ = 0;
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
