// The progressive-enhancement flags of the kitty keyboard protocol that a program switches on with
// CSI > flags u and its relatives. The terminal keeps the current flags and a stack of earlier ones
// for each screen; the key encoder reads them.
#pragma once

#include "Kestrovan/OptionSet.h"

#include <cstdint>

namespace kestrovan {

struct KittyKeyboardFlags : OptionSet<KittyKeyboardFlags, uint32_t>
{
    constexpr KittyKeyboardFlags() = default;
    constexpr explicit KittyKeyboardFlags(uint32_t raw) : OptionSet(raw) {}
    constexpr KittyKeyboardFlags(OptionSet set) : OptionSet(set) {}

    static const KittyKeyboardFlags disambiguate;
    static const KittyKeyboardFlags reportEvents;
    static const KittyKeyboardFlags reportAlternates;
    static const KittyKeyboardFlags reportAllKeys;
    static const KittyKeyboardFlags reportText;
    /// Every flag the protocol defines; other bits in a request are dropped.
    static constexpr uint32_t knownMask = 31;
};

inline constexpr KittyKeyboardFlags KittyKeyboardFlags::disambiguate{1};
inline constexpr KittyKeyboardFlags KittyKeyboardFlags::reportEvents{2};
inline constexpr KittyKeyboardFlags KittyKeyboardFlags::reportAlternates{4};
inline constexpr KittyKeyboardFlags KittyKeyboardFlags::reportAllKeys{8};
inline constexpr KittyKeyboardFlags KittyKeyboardFlags::reportText{16};

} // namespace kestrovan
