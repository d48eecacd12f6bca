// Payload atoms: 16-bit codes that cells carry in place of values that do not fit in a cell,
// chiefly hyperlink targets.
//
// The values live in one process-wide table shared by every terminal, guarded by its own mutex.
// That mutex is a leaf lock: it may be taken with or without the terminal lock held, and nothing
// else is taken while it is held. Codes 1...65534 are handed out in rising order first, then
// from a free list in the order they were released; equal values are never merged.
#pragma once

#include <any>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrovan {

/// Codes released and waiting to be handed out again. Taking is amortised O(1): the taken
/// prefix is only cut off once it is longer than 64 codes and than half of the array.
struct FreeAtomCodes
{
    /// What `take()` answers when no code is free.
    static constexpr uint32_t noCode = 0x10000;

    std::vector<uint16_t> codes;
    size_t head = 0;

    /// The next free code, or `noCode`.
    uint32_t take();
};

struct TinyAtom
{
    /// 0 means no payload; 1...65534 name table entries.
    uint16_t code = 0;

    /// The highest code the table hands out; 65534 values can be live at once.
    static constexpr uint16_t maximumCode = 65534;

    /// Registers `value` under a new code; nothing when every code is in use.
    static std::optional<TinyAtom> lookup(std::any value);

    /// The value of this atom's code; nothing for code 0, a released code or an unknown one.
    std::optional<std::any> target() const;

    /// Whether `code` names a text value equal to `text`; compared in the table, without a copy.
    static bool holdsText(uint16_t code, std::string_view text);

    /// Releases one code; releasing an empty entry (code 0, or released before) does nothing.
    static void release(uint16_t code);
    void release() const { release(code); }
    /// Releases many codes under one acquisition of the table's lock.
    static void release(std::span<const uint16_t> codes);

    /// How many codes are free, read without the table's lock: other threads may change it the
    /// next moment, so it only tells whether the table is nearly full, cheaply.
    static int freeCodeCount() { return freeCodes.load(std::memory_order_relaxed); }

    /// The process-wide table: values by code, the highest code handed out, the free codes and
    /// the mutex guarding them. Made on first use.
    struct State;

    /// Returns the table to its first-use state. Tests only: atoms other code still holds
    /// would name other values afterwards.
    static void resetForTesting();

    friend constexpr bool operator==(TinyAtom, TinyAtom) = default;

private:
    /// Written by the table under its lock whenever a code is taken or released.
    static constinit inline std::atomic<int> freeCodes{maximumCode};
};

} // namespace kestrovan

template <> struct std::hash<kestrovan::TinyAtom>
{
    size_t operator()(kestrovan::TinyAtom atom) const noexcept { return atom.code; }
};
