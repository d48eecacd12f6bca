// The key-name tables of portable hosts: W3C UI Events `key` and `code` values mapped onto the
// functional keys of the kitty keyboard encoder.
//
// A host names a key event with its `key` value (what the key means on the current layout, such as
// "ArrowLeft" or "a") and its `code` value (which physical key it is, such as "Numpad4" or
// "ShiftRight"). Three tables resolve it: keypad keys used for navigation (looked up by `key` when
// the code is a "Numpad" one), physical keys whose side or keypad position matters (by `code`), and
// named keys (by `key`). Keys the tables do not name are characters, which the caller handles. The
// tables are built once, on first use, and are only read afterwards, so any thread may use them.
#pragma once

#include "Kestrovan/KittyKeyboardEncoder.h"

#include <optional>
#include <string_view>
#include <unordered_map>

namespace kestrovan {

using HostKeyTable = std::unordered_map<std::string_view, KittyFunctionalKey>;

/// The 73 named keys, by `key`: Escape to PageDown, F1 to F35, the lock and system keys, the
/// media and volume keys, and the modifiers (Meta and Super are the same key).
const HostKeyTable& hostNamedKeys();
/// The 26 physical keys, by `code`: the keypad digits and operators and both sides' modifiers.
const HostKeyTable& hostPhysicalKeys();
/// The 11 keypad navigation keys, by `key` for a "Numpad" code (Num Lock off).
const HostKeyTable& hostKeypadNavigation();

/// The functional key a host event names: the keypad-navigation table when `code` starts with
/// "Numpad", then the physical-key table, then the named-key table; absent when none names it.
std::optional<KittyFunctionalKey> hostFunctionalKey(std::string_view key, std::string_view code);

} // namespace kestrovan
