// The hash the row layout keys its caches with: a well-mixed 64-bit combine, so that paragraph
// revisions and content hashes change with any field. Values never leave the process.
#pragma once

#include <cstdint>

namespace kestrovan::bidihash {

/// A 64-bit finalizer (splitmix64's): every input bit affects every output bit.
inline uint64_t mix(uint64_t value)
{
    value ^= value >> 30;
    value *= 0xBF58476D1CE4E5B9ull;
    value ^= value >> 27;
    value *= 0x94D049BB133111EBull;
    value ^= value >> 31;
    return value;
}

/// `seed` with `value` folded in; the order of the values matters.
inline uint64_t combine(uint64_t seed, uint64_t value)
{
    return mix(seed ^ (value + 0x9E3779B97F4A7C15ull + (seed << 6) + (seed >> 2)));
}

} // namespace kestrovan::bidihash
