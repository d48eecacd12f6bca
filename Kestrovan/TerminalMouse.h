// The mouse events a host without a native view hands to the terminal: what happened and with
// which button, as raw 32-bit values that cross a language boundary unchanged.
//
// The encoding of reports (tracking modes, wire encodings, the button code) belongs to the
// terminal and lives in TerminalMouse.cpp; these are only the event's two enumerations.
#pragma once

#include <cstdint>
#include <optional>

namespace kestrovan {

/// What a host mouse event reports.
enum class TerminalMouseAction : uint32_t
{
    press = 0,
    release = 1,
    move = 2,
    wheel = 3,
};

/// The button of a host mouse event; `none` is a move without a button held.
enum class TerminalMouseButton : uint32_t
{
    left = 0,
    middle = 1,
    right = 2,
    none = 3,
    wheelUp = 4,
    wheelDown = 5,
    wheelLeft = 6,
    wheelRight = 7,
};

/// The action with the given raw value; absent for any value past `wheel`.
constexpr std::optional<TerminalMouseAction> terminalMouseActionFromRaw(uint32_t rawValue)
{
    if (rawValue > static_cast<uint32_t>(TerminalMouseAction::wheel))
        return std::nullopt;
    return static_cast<TerminalMouseAction>(rawValue);
}

/// The button with the given raw value; absent for any value past `wheelRight`.
constexpr std::optional<TerminalMouseButton> terminalMouseButtonFromRaw(uint32_t rawValue)
{
    if (rawValue > static_cast<uint32_t>(TerminalMouseButton::wheelRight))
        return std::nullopt;
    return static_cast<TerminalMouseButton>(rawValue);
}

} // namespace kestrovan
