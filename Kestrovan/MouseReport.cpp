// Mouse reports: the tracking modes' rules, the button code, the bytes of the five wire encodings,
// and the entry point of hosts without a view.
#include "Kestrovan/MouseReport.h"

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

/// The code of a button alone: its number for the three click buttons, 64 on for the wheel, and
/// the release code for no button (a move without one).
int buttonCode(TerminalMouseButton button)
{
    if (isWheelButton(button))
        return wheelUpCode + int(button) - int(TerminalMouseButton::wheelUp);
    if (isClickButton(button))
        return int(button);
    return releaseCode;
}

} // namespace

bool mouseModeReports(MouseMode mode, const MouseReport& report)
{
    switch (report.action) {
    case TerminalMouseAction::press:
        // Every tracking mode reports presses, X10 compatibility mode included.
        return isClickButton(report.button) && MouseReportingState::sendButtonPress(mode);
    case TerminalMouseAction::release:
        // X10 compatibility mode has no releases.
        return isClickButton(report.button) && MouseReportingState::sendButtonRelease(mode);
    case TerminalMouseAction::move:
        // A move without a button is any-event tracking only; a drag needs button tracking.
        if (report.button == TerminalMouseButton::none)
            return MouseReportingState::sendMotionEvent(mode);
        return isClickButton(report.button) && MouseReportingState::sendButtonTracking(mode);
    case TerminalMouseAction::wheel:
        // Wheel steps are reported as presses of buttons 4 to 7.
        return isWheelButton(report.button) && MouseReportingState::sendButtonPress(mode);
    }
    // A value outside the enumeration, cast in by a careless host.
    return false;
}

int mouseReportCode(const MouseReport& report, MouseMode mode)
{
    // The legacy encodings cannot say which button went up: a release is code 3 whatever the
    // button; the SGR encodings put the button back (encodeMouseReport).
    int code = report.action == TerminalMouseAction::release ? releaseCode : buttonCode(report.button);
    if (report.action == TerminalMouseAction::move)
        code += motionFlag;
    // X10 compatibility mode reports the bare button only.
    if (MouseReportingState::sendsModifiers(mode)) {
        if (report.modifiers.contains(MouseReportModifiers::shift))
            code += shiftFlag;
        if (report.modifiers.contains(MouseReportModifiers::meta))
            code += metaFlag;
        if (report.modifiers.contains(MouseReportModifiers::control))
            code += controlFlag;
    }
    return code;
}

std::vector<uint8_t> encodeMouseReport(const MouseReport& report, const MouseReportEncoding& encoding)
{
    const int code = mouseReportCode(report, encoding.mode);
    const bool release = report.action == TerminalMouseAction::release;
    // The introducer follows the terminal's reply controls: ESC [ or, under 8-bit controls, 0x9B.
    std::vector<uint8_t> out =
        encoding.eightBitControls ? std::vector<uint8_t>{0x9B} : std::vector<uint8_t>{0x1B, '['};
    switch (encoding.protocol) {
    case MouseProtocolEncoding::x10:
        // One byte per value, offset past the C0 controls; 255 is the largest a byte can carry,
        // so positions past column or row 223 all read as 223.
        out.push_back('M');
        out.push_back(static_cast<uint8_t>(std::min(code + 32, 255)));
        out.push_back(static_cast<uint8_t>(std::min<int64_t>(reportedPosition(report.col), 222) + 33));
        out.push_back(static_cast<uint8_t>(std::min<int64_t>(reportedPosition(report.row), 222) + 33));
        break;
    case MouseProtocolEncoding::utf8:
        // The values are those of X10 written as UTF-8 characters, which lifts the limit to 2047.
        out.push_back('M');
        encodeMouseUtf(out, code + 32);
        encodeMouseUtf(out, static_cast<int>(std::min<int64_t>(reportedPosition(report.col) + 33, 2048)));
        encodeMouseUtf(out, static_cast<int>(std::min<int64_t>(reportedPosition(report.row) + 33, 2048)));
        break;
    case MouseProtocolEncoding::sgr:
    case MouseProtocolEncoding::sgrPixel: {
        // SGR says which button went up: the button replaces the release code's two low bits
        // (0 for a release of no click button), and the final byte tells a release from a press.
        const int originalButton = isClickButton(report.button) ? int(report.button) : 0;
        const int button = release ? ((code & ~3) | originalButton) : code;
        const bool pixels = encoding.protocol == MouseProtocolEncoding::sgrPixel;
        out.push_back('<');
        appendDecimal(out, button);
        out.push_back(';');
        appendDecimal(out, reportedPosition(pixels ? report.pixelX : report.col) + 1);
        out.push_back(';');
        appendDecimal(out, reportedPosition(pixels ? report.pixelY : report.row) + 1);
        out.push_back(release ? 'm' : 'M');
        break;
    }
    case MouseProtocolEncoding::urxvt:
        // Decimal X10 values: releases read as code 3 like in X10.
        appendDecimal(out, code + 32);
        out.push_back(';');
        appendDecimal(out, reportedPosition(report.col) + 1);
        out.push_back(';');
        appendDecimal(out, reportedPosition(report.row) + 1);
        out.push_back('M');
        break;
    }
    return out;
}

MouseReportEncoding mouseReportEncoding(const Terminal& terminal)
{
    return MouseReportEncoding{terminal.mouseMode(), terminal.mouseProtocol(), terminal.cc().send8bit};
}

std::optional<std::vector<uint8_t>> mouseReportBytes(const Terminal& terminal, const MouseReport& report)
{
    const MouseReportEncoding encoding = mouseReportEncoding(terminal);
    if (!mouseModeReports(encoding.mode, report))
        return std::nullopt;
    return encodeMouseReport(report, encoding);
}

void encodeMouseUtf(std::vector<uint8_t>& data, int value)
{
    // 2047 is sent as a 0 byte rather than as its two-byte form, and every larger value reads
    // as 2047 in two bytes. Below 128 a value is its own byte; nothing negative is written.
    if (value == 2047) {
        data.push_back(0);
        return;
    }
    if (value < 128) {
        data.push_back(static_cast<uint8_t>(std::max(value, 0)));
        return;
    }
    const int capped = std::min(value, 2047);
    data.push_back(static_cast<uint8_t>(0xC0 | (capped >> 6)));
    data.push_back(static_cast<uint8_t>(0x80 | (capped & 63)));
}

uint32_t hostPointerModes(const Terminal& terminal)
{
    uint32_t modes = terminal.mouseReporting().hostBits();
    if (terminal.isCurrentBufferAlternate())
        modes |= 256;
    return modes;
}

bool sendHostMouse(Terminal& terminal, TerminalMouseAction action, TerminalMouseButton button,
                   uint32_t modifiers, int col, int row, int pixelX, int pixelY)
{
    // Hosts outside the screen, with an unknown pixel position (the largest integer) or with
    // modifier bits this interface does not define get no report.
    if (col < 0 || col >= terminal.cols() || row < 0 || row >= terminal.rows())
        return false;
    if (pixelX == std::numeric_limits<int>::max() || pixelY == std::numeric_limits<int>::max())
        return false;
    if (modifiers > 15)
        return false;
    const MouseReport report{
        action, button, MouseReportModifiers(static_cast<uint8_t>(modifiers & 7)), col, row, pixelX, pixelY};
    const std::optional<std::vector<uint8_t>> bytes = mouseReportBytes(terminal, report);
    if (!bytes)
        return false;
    // Reports are input from the user's pointer, not replies: they take the delegate's input road.
    if (const std::shared_ptr<TerminalDelegate> host = terminal.delegate())
        host->send(terminal, *bytes);
    return true;
}

} // namespace kestrovan
