// What the program asked of mouse reports: which events are reported (`MouseMode`, DEC private
// modes 9 and 1000-1003), how they are written on the wire (`MouseProtocolEncoding`, modes 1005,
// 1006, 1015 and 1016), whether Shift reaches the program (XTSHIFTESCAPE) and whether the wheel
// scrolls the alternate screen by cursor keys (mode 1007).
//
// The rules of which events a tracking mode reports live here, next to the state they read. The
// reports themselves are encoded in MouseReport.cpp; the terminal tells its host when the
// tracking mode changes.
#pragma once

#include <cstdint>

namespace kestrovan {

/// Mouse tracking requested by the program.
enum class MouseMode : uint8_t
{
    off = 0,
    x10 = 1,
    vt200 = 2,
    buttonEventTracking = 3,
    anyEvent = 4,
};

/// How mouse reports are encoded on the wire.
enum class MouseProtocolEncoding : uint8_t
{
    x10 = 0,
    utf8 = 1,
    sgr = 2,
    urxvt = 3,
    sgrPixel = 4,
};

class MouseReportingState
{
public:
    /// Every tracking mode reports presses (and wheel steps).
    static constexpr bool sendButtonPress(MouseMode mode) { return mode != MouseMode::off; }
    /// All but X10 compatibility mode report releases.
    static constexpr bool sendButtonRelease(MouseMode mode)
    {
        return mode != MouseMode::off && mode != MouseMode::x10;
    }
    /// Motion with a button held: button-event and any-event tracking.
    static constexpr bool sendButtonTracking(MouseMode mode)
    {
        return mode == MouseMode::buttonEventTracking || mode == MouseMode::anyEvent;
    }
    /// Motion without a button: any-event tracking only.
    static constexpr bool sendMotionEvent(MouseMode mode) { return mode == MouseMode::anyEvent; }
    /// The modes that report releases also report the modifier keys.
    static constexpr bool sendsModifiers(MouseMode mode) { return sendButtonRelease(mode); }

    MouseMode mouseMode() const { return mouseMode_; }
    MouseProtocolEncoding mouseProtocol() const { return mouseProtocol_; }
    bool mouseShiftCapture() const { return mouseShiftCapture_; }
    bool alternateScrollMode() const { return alternateScrollMode_; }

    void setMouseMode(MouseMode mode) { mouseMode_ = mode; }
    void setMouseProtocol(MouseProtocolEncoding encoding) { mouseProtocol_ = encoding; }
    void setMouseShiftCapture(bool value) { mouseShiftCapture_ = value; }
    void setAlternateScrollMode(bool value) { alternateScrollMode_ = value; }

    /// The state as a host reads it: the mode in bits 0-2, the encoding in bits 3-5, 64 for shift
    /// capture and 128 for alternate scroll.
    uint32_t hostBits() const;

private:
    MouseMode mouseMode_ = MouseMode::off;
    MouseProtocolEncoding mouseProtocol_ = MouseProtocolEncoding::x10;
    bool mouseShiftCapture_ = false;
    // On from the start: the wheel scrolls full-screen programs unless they say otherwise.
    bool alternateScrollMode_ = true;
};

} // namespace kestrovan
