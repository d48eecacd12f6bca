// Two small records the terminal shares with its reports and its host: whether the terminal can
// be seen (the visibility report of DEC private mode 2033) and the pixel geometry of the screen
// (the in-band size reports of mode 2048).
//
// The modes and their reports live with the terminal; these are only the values.
#pragma once

#include <optional>

namespace kestrovan {

/// Whether the terminal is currently visible; the raw values are the ones the report carries.
enum class TerminalVisibility : int
{
    potentiallyVisible = 1,
    notVisible = 2,
};

/// The visibility with the given raw value; only 1 and 2 are visibilities.
constexpr std::optional<TerminalVisibility> terminalVisibilityFromRaw(int rawValue)
{
    switch (rawValue) {
    case 1:
        return TerminalVisibility::potentiallyVisible;
    case 2:
        return TerminalVisibility::notVisible;
    default:
        return std::nullopt;
    }
}

/// The screen's size in cells and the size of one cell in pixels.
struct TerminalPixelGeometry
{
    int rows = 0;
    int columns = 0;
    int cellWidth = 0;
    int cellHeight = 0;

    friend constexpr bool operator==(const TerminalPixelGeometry&, const TerminalPixelGeometry&) = default;
};

} // namespace kestrovan
