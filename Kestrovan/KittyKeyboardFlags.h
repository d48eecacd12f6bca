// The small value types of the kitty keyboard protocol: the progressive-enhancement flags a program
// switches on with CSI > flags u and its relatives, the modifier bits of a key event, and the event
// types (press, repeat, release).
//
// The terminal keeps the current flags and a stack of earlier ones for each screen; the key encoder
// (KittyKeyboardEncoder.h) reads them together with the modifiers and event type of each key.
#pragma once

#include "Kestrovan/OptionSet.h"

#include <cstdint>
#include <optional>

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

/// The modifiers held during a key event. The bit values are the protocol's: the number a key
/// sequence carries is the raw value plus one.
struct KittyKeyboardModifiers : OptionSet<KittyKeyboardModifiers, uint32_t>
{
    constexpr KittyKeyboardModifiers() = default;
    constexpr explicit KittyKeyboardModifiers(uint32_t raw) : OptionSet(raw) {}
    constexpr KittyKeyboardModifiers(OptionSet set) : OptionSet(set) {}

    static const KittyKeyboardModifiers shift;
    static const KittyKeyboardModifiers alt;
    static const KittyKeyboardModifiers ctrl;
    static const KittyKeyboardModifiers super;
    static const KittyKeyboardModifiers hyper;
    static const KittyKeyboardModifiers meta;
    static const KittyKeyboardModifiers capsLock;
    static const KittyKeyboardModifiers numLock;
};

inline constexpr KittyKeyboardModifiers KittyKeyboardModifiers::shift{1};
inline constexpr KittyKeyboardModifiers KittyKeyboardModifiers::alt{2};
inline constexpr KittyKeyboardModifiers KittyKeyboardModifiers::ctrl{4};
inline constexpr KittyKeyboardModifiers KittyKeyboardModifiers::super{8};
inline constexpr KittyKeyboardModifiers KittyKeyboardModifiers::hyper{16};
inline constexpr KittyKeyboardModifiers KittyKeyboardModifiers::meta{32};
inline constexpr KittyKeyboardModifiers KittyKeyboardModifiers::capsLock{64};
inline constexpr KittyKeyboardModifiers KittyKeyboardModifiers::numLock{128};

/// What happened to the key; the raw values are the ones a key sequence carries.
enum class KittyKeyboardEventType : uint8_t
{
    press = 1,
    repeatPress = 2,
    release = 3,
};

/// The event type with the given raw value; only 1, 2 and 3 are event types.
constexpr std::optional<KittyKeyboardEventType> kittyKeyboardEventTypeFromRaw(int rawValue)
{
    switch (rawValue) {
    case 1:
        return KittyKeyboardEventType::press;
    case 2:
        return KittyKeyboardEventType::repeatPress;
    case 3:
        return KittyKeyboardEventType::release;
    default:
        return std::nullopt;
    }
}

} // namespace kestrovan
