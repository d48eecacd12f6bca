// One mouse report for a program, as a value, and the one encoder that turns it into bytes.
//
// A report says what happened (press, release, motion, a wheel step), with which button, with
// which modifier keys and where (a 0-based cell and a 0-based device pixel). Whether a program
// hears of it is the rule of its tracking mode (`mouseModeReports`, DEC private modes 9 and
// 1000-1003); how it is written is the program's wire encoding (modes 1005, 1006, 1015, 1016) and
// its choice of 7-bit or 8-bit controls. The terminal view and hosts without a view build the same
// value and get the same bytes; the hosts' raw entry point (`sendHostMouse`) sits here too.
//
// Everything here reads the terminal and never changes it: the functions take `const Terminal&`,
// except the host entry point, which hands the bytes to the terminal's delegate. The caller holds
// the terminal lock while the terminal is read.
#pragma once

#include "Kestrovan/MouseReportingState.h"
#include "Kestrovan/OptionSet.h"
#include "Kestrovan/Terminal.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrovan {

/// What a mouse event reports. The raw values cross a language boundary unchanged.
enum class TerminalMouseAction : uint32_t
{
    press = 0,
    release = 1,
    move = 2,
    /// A wheel step: a press of one of the four wheel buttons, never released.
    wheel = 3,
};

/// The button of a mouse event; `none` is a move without a button held.
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

/// The modifier keys held during a mouse event; the raw bits are the hosts' (1 shift, 2 meta,
/// 4 control).
struct MouseReportModifiers : OptionSet<MouseReportModifiers, uint8_t>
{
    constexpr MouseReportModifiers() = default;
    constexpr explicit MouseReportModifiers(uint8_t raw) : OptionSet(raw) {}
    constexpr MouseReportModifiers(OptionSet set) : OptionSet(set) {}

    static const MouseReportModifiers shift;
    static const MouseReportModifiers meta;
    static const MouseReportModifiers control;
};

inline constexpr MouseReportModifiers MouseReportModifiers::shift{1};
inline constexpr MouseReportModifiers MouseReportModifiers::meta{2};
inline constexpr MouseReportModifiers MouseReportModifiers::control{4};

/// One mouse event for the program.
struct MouseReport
{
    TerminalMouseAction action = TerminalMouseAction::press;
    TerminalMouseButton button = TerminalMouseButton::left;
    MouseReportModifiers modifiers;
    /// The cell, 0-based from the top-left of the screen (not the scrollback).
    int col = 0;
    int row = 0;
    /// The device pixel, 0-based from the top-left of the text area; read by SGR-pixels only.
    int pixelX = 0;
    int pixelY = 0;

    friend bool operator==(const MouseReport&, const MouseReport&) = default;
};

/// How reports are written: the program's tracking mode (it decides whether modifiers are
/// sent), its wire encoding, and whether replies use 8-bit controls.
struct MouseReportEncoding
{
    MouseMode mode = MouseMode::off;
    MouseProtocolEncoding protocol = MouseProtocolEncoding::x10;
    bool eightBitControls = false;

    friend bool operator==(const MouseReportEncoding&, const MouseReportEncoding&) = default;
};

/// Whether a program in tracking mode `mode` hears of `report`: presses and wheel steps in every
/// mode but off, releases from normal tracking (1000) on, drags with a button from button-event
/// tracking (1002) on, motion without a button in any-event tracking (1003) only. A button that
/// does not fit the action (a wheel press, a release of no button) is never reported.
bool mouseModeReports(MouseMode mode, const MouseReport& report);

/// The report's button code, the low byte every encoding writes: 0 left, 1 middle, 2 right,
/// 3 a release (or a move without a button), 64 to 67 the wheel; plus 32 for motion and, in the
/// modes that carry them (not X10 compatibility mode), 4 shift, 8 meta and 16 control.
int mouseReportCode(const MouseReport& report, MouseMode mode);

/// The bytes of `report` in `encoding`; whether the mode reports it is not asked here.
std::vector<uint8_t> encodeMouseReport(const MouseReport& report, const MouseReportEncoding& encoding);

/// The terminal's encoding of reports; the caller holds the terminal lock.
MouseReportEncoding mouseReportEncoding(const Terminal& terminal) REQUIRES(terminal.terminalLock());

/// The bytes of `report` as the terminal's program asked for them, or none when its tracking
/// mode does not report it. The caller holds the terminal lock.
std::optional<std::vector<uint8_t>> mouseReportBytes(const Terminal& terminal, const MouseReport& report)
    REQUIRES(terminal.terminalLock());

/// Appends one value in the UTF-8 encoding (mode 1005): one byte up to 127, two bytes up to
/// 2046, the single byte 0 for 2047, and every larger value as 2047 in two bytes.
void encodeMouseUtf(std::vector<uint8_t>& data, int value);

// --- Hosts without a view -------------------------------------------------------------------------

/// The tracking state for a host: the mode in bits 0-2, the encoding in bits 3-5, 64 shift
/// capture, 128 alternate scroll, 256 while the alternate screen is active.
uint32_t hostPointerModes(const Terminal& terminal) REQUIRES(terminal.terminalLock());

/// Validates one host event and sends its report through the terminal's delegate; false when
/// nothing was sent: a cell outside the screen, an unknown pixel position (the largest integer),
/// modifier bits past the four defined (bit 3 is accepted and ignored), or an event the tracking
/// mode does not report.
bool sendHostMouse(Terminal& terminal, TerminalMouseAction action, TerminalMouseButton button,
                   uint32_t modifiers, int col, int row, int pixelX, int pixelY)
    REQUIRES(terminal.terminalLock());

} // namespace kestrovan
