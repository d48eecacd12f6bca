// Mouse reporting: the button code of an event, the bytes of a report in each of the five wire
// encodings, and the two ways hosts hand events in (the classic view calls and `sendHostMouse`).
//
// Which events are reported is the program's choice through the tracking modes (`mouseMode`, set
// by DEC private modes 9 and 1000-1003); how they are written is its choice of `mouseProtocol`
// (modes 1005, 1006, 1015, 1016). Both are kept in a `MouseReportingState`. Reports leave through
// the delegate's `send` like any reply.
#include "Kestrovan/TerminalMouse.h"

#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace kestrovan {

namespace {

// Button codes of the report's low byte.
constexpr int releaseCode = 3;
constexpr int shiftFlag = 4;
constexpr int metaFlag = 8;
constexpr int controlFlag = 16;
constexpr int motionFlag = 32;
constexpr int wheelUpCode = 64;

// A release is code 3 once the modifier bits (4, 8, 16) are masked off; motion (32) and the
// wheel (64) bits stay in, so a motion without a button (35) is not a release.
constexpr int releaseMask = 99;

// Larger cell or pixel positions read the same in every encoding: the byte encodings saturate
// far below this, and it keeps the decimal encodings' "+ 1" clear of overflow.
constexpr int64_t largestPosition = int64_t(1) << 40;

/// A position as the encodings count it: never negative. A program cannot read a negative
/// position; in the decimal encodings the minus sign would even end the report early.
int64_t reportedPosition(int value)
{
    return std::clamp<int64_t>(value, 0, largestPosition);
}

void appendDecimal(std::vector<uint8_t>& out, int64_t value)
{
    char digits[24];
    const int length = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(value));
    out.insert(out.end(), digits, digits + length);
}

bool isClickButton(TerminalMouseButton button)
{
    return button == TerminalMouseButton::left || button == TerminalMouseButton::middle ||
           button == TerminalMouseButton::right;
}

bool isWheelButton(TerminalMouseButton button)
{
    return button == TerminalMouseButton::wheelUp || button == TerminalMouseButton::wheelDown ||
           button == TerminalMouseButton::wheelLeft || button == TerminalMouseButton::wheelRight;
}

} // namespace

int Terminal::encodeButton(int button, bool release, bool shift, bool meta, bool control) const
{
    int value = 0;
    if (release) {
        // The legacy encodings cannot say which button went up; the SGR ones read bits 8-9.
        const int originalButton = (button == 1 || button == 2) ? button : 0;
        value = releaseCode | originalButton << 8;
    } else {
        switch (button) {
        case 0:
        case 1:
        case 2:
            // Left, middle, right: the button number is its code.
            value = button;
            break;
        case 4:
        case 5:
        case 6:
        case 7:
            // Wheel up, down, left, right.
            value = wheelUpCode + (button - 4);
            break;
        default:
            // 3 is the release code, not a button; anything unknown reads as the left button.
            value = 0;
            break;
        }
    }
    // X10 compatibility mode reports the bare button only.
    if (MouseReportingState::sendsModifiers(mouse_.mouseMode())) {
        if (shift)
            value += shiftFlag;
        if (meta)
            value += metaFlag;
        if (control)
            value += controlFlag;
    }
    return value;
}

void Terminal::sendEvent(int buttonFlags, int x, int y)
{
    sendEvent(buttonFlags, x, y, x, y);
}

void Terminal::sendEvent(int buttonFlags, int x, int y, int pixelX, int pixelY)
{
    // The release is read back from the code so that a view passing `encodeButton`'s flags
    // needs no separate flag; bits 8-9 carry the button that went up.
    const int code = buttonFlags & 0xFF;
    const bool release = (code & releaseMask) == releaseCode;
    const int originalButton = (buttonFlags >> 8) & 3;
    sendBytes(mousePacketBytes(code, release, originalButton, x, y, pixelX, pixelY));
}

void Terminal::sendMotion(int buttonFlags, int x, int y, int pixelX, int pixelY)
{
    // Only the low byte is a code, so the addition cannot overflow whatever the flags hold.
    const int code = (buttonFlags & 0xFF) + motionFlag;
    sendBytes(mousePacketBytes(code, false, 0, x, y, pixelX, pixelY));
}

std::vector<uint8_t> Terminal::mousePacketBytes(int buttonFlags, bool release, int originalButton, int x,
                                                int y, int pixelX, int pixelY) const
{
    const int code = buttonFlags & 0xFF;
    // The introducer follows the terminal's reply controls: ESC [ or, under 8-bit controls, 0x9B.
    const Bytes csi = cc_.CSI();
    std::vector<uint8_t> out(csi.begin(), csi.end());

    switch (mouse_.mouseProtocol()) {
    case MouseProtocolEncoding::x10: {
        // One byte per value, offset past the C0 controls; 255 is the largest a byte can carry,
        // so positions past column or row 223 all read as 223.
        out.push_back('M');
        out.push_back(static_cast<uint8_t>(std::min(code + 32, 255)));
        out.push_back(static_cast<uint8_t>(std::min<int64_t>(reportedPosition(x), 222) + 33));
        out.push_back(static_cast<uint8_t>(std::min<int64_t>(reportedPosition(y), 222) + 33));
        break;
    }
    case MouseProtocolEncoding::utf8: {
        // The values are those of X10 written as UTF-8 characters, which lifts the limit to 2047.
        out.push_back('M');
        encodeMouseUtf(out, code + 32);
        encodeMouseUtf(out, static_cast<int>(std::min<int64_t>(reportedPosition(x) + 33, 2048)));
        encodeMouseUtf(out, static_cast<int>(std::min<int64_t>(reportedPosition(y) + 33, 2048)));
        break;
    }
    case MouseProtocolEncoding::sgr:
    case MouseProtocolEncoding::sgrPixel: {
        // SGR says which button went up: the original button replaces the release code's two
        // low bits, and the final byte tells a release from a press.
        const int button = release ? ((code & ~3) | (originalButton & 3)) : code;
        const bool pixels = mouse_.mouseProtocol() == MouseProtocolEncoding::sgrPixel;
        out.push_back('<');
        appendDecimal(out, button);
        out.push_back(';');
        appendDecimal(out, reportedPosition(pixels ? pixelX : x) + 1);
        out.push_back(';');
        appendDecimal(out, reportedPosition(pixels ? pixelY : y) + 1);
        out.push_back(release ? 'm' : 'M');
        break;
    }
    case MouseProtocolEncoding::urxvt: {
        // Decimal X10 values: releases read as code 3 like in X10.
        appendDecimal(out, code + 32);
        out.push_back(';');
        appendDecimal(out, reportedPosition(x) + 1);
        out.push_back(';');
        appendDecimal(out, reportedPosition(y) + 1);
        out.push_back('M');
        break;
    }
    }
    return out;
}

void Terminal::encodeMouseUtf(std::vector<uint8_t>& data, int ch)
{
    // 2047 is sent as a 0 byte rather than as its two-byte form, and every larger value reads
    // as 2047 in two bytes. Below 128 a value is its own byte; nothing negative is written.
    if (ch == 2047) {
        data.push_back(0);
        return;
    }
    if (ch < 128) {
        data.push_back(static_cast<uint8_t>(std::max(ch, 0)));
        return;
    }
    const int value = std::min(ch, 2047);
    data.push_back(static_cast<uint8_t>(0xC0 | (value >> 6)));
    data.push_back(static_cast<uint8_t>(0x80 | (value & 63)));
}

uint32_t Terminal::hostPointerModes() const
{
    uint32_t modes = mouse_.hostBits();
    if (isCurrentBufferAlternate())
        modes |= 256;
    return modes;
}

bool Terminal::sendHostMouse(TerminalMouseAction action, TerminalMouseButton button, uint32_t modifiers,
                             int col, int row, int pixelX, int pixelY)
{
    // Hosts outside the screen, with an unknown pixel position (the largest integer) or with
    // modifier bits this interface does not define get no report.
    if (col < 0 || col >= _cols || row < 0 || row >= _rows)
        return false;
    if (pixelX == std::numeric_limits<int>::max() || pixelY == std::numeric_limits<int>::max())
        return false;
    if (modifiers > 15)
        return false;

    const int buttonValue = static_cast<int>(button);
    int code = 0;
    bool release = false;
    int originalButton = 0;
    switch (action) {
    case TerminalMouseAction::press:
        // Every tracking mode reports presses, X10 compatibility mode included.
        if (!isClickButton(button) || !MouseReportingState::sendButtonPress(mouse_.mouseMode()))
            return false;
        code = buttonValue;
        break;
    case TerminalMouseAction::release:
        // X10 compatibility mode has no releases. The legacy encodings send code 3; the button
        // rides along for the SGR encodings.
        if (!isClickButton(button) || !MouseReportingState::sendButtonRelease(mouse_.mouseMode()))
            return false;
        code = releaseCode;
        release = true;
        originalButton = buttonValue;
        break;
    case TerminalMouseAction::move:
        // A move without a button is any-event tracking only; a drag needs button tracking.
        if (button == TerminalMouseButton::none) {
            if (!MouseReportingState::sendMotionEvent(mouse_.mouseMode()))
                return false;
            code = releaseCode;
        } else if (isClickButton(button)) {
            if (!MouseReportingState::sendButtonTracking(mouse_.mouseMode()))
                return false;
            code = buttonValue;
        } else {
            return false;
        }
        code += motionFlag;
        break;
    case TerminalMouseAction::wheel:
        // Wheel steps are reported as presses of buttons 4 to 7 (codes 64 to 67).
        if (!isWheelButton(button) || !MouseReportingState::sendButtonPress(mouse_.mouseMode()))
            return false;
        code = wheelUpCode + (buttonValue - static_cast<int>(TerminalMouseButton::wheelUp));
        break;
    default:
        // A value outside the enumeration, cast in by a careless host.
        return false;
    }

    if (MouseReportingState::sendsModifiers(mouse_.mouseMode())) {
        if (modifiers & 1)
            code += shiftFlag;
        if (modifiers & 2)
            code += metaFlag;
        if (modifiers & 4)
            code += controlFlag;
    }
    sendBytes(mousePacketBytes(code, release, originalButton, col, row, pixelX, pixelY));
    return true;
}

} // namespace kestrovan
