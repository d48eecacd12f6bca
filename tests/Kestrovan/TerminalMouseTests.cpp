// Mouse reports: which events each tracking mode reports, the exact bytes of every wire
// encoding with 7-bit and 8-bit CSI, the encodings' limits, the classic view calls and the host
// entry point's validation.
#include "RecordingTerminalDelegate.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace kestrovan::testing {
namespace {

using Mode = Terminal::MouseMode;
using Encoding = Terminal::MouseProtocolEncoding;

const Mode allModes[] = {Mode::off, Mode::x10, Mode::vt200, Mode::buttonEventTracking, Mode::anyEvent};
const Encoding allEncodings[] = {Encoding::x10, Encoding::utf8, Encoding::sgr, Encoding::urxvt,
                                 Encoding::sgrPixel};

const char* modeName(Mode mode)
{
    switch (mode) {
    case Mode::off:
        return "off";
    case Mode::x10:
        return "x10";
    case Mode::vt200:
        return "vt200";
    case Mode::buttonEventTracking:
        return "buttonEventTracking";
    case Mode::anyEvent:
        return "anyEvent";
    }
    return "?";
}

const char* encodingName(Encoding encoding)
{
    switch (encoding) {
    case Encoding::x10:
        return "x10";
    case Encoding::utf8:
        return "utf8";
    case Encoding::sgr:
        return "sgr";
    case Encoding::urxvt:
        return "urxvt";
    case Encoding::sgrPixel:
        return "sgrPixel";
    }
    return "?";
}

/// Bytes as C-style escapes, so that a failed comparison shows control and high bytes.
std::string escaped(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

/// A 7-bit report with its CSI turned into the single byte 0x9B.
std::string eightBit(const std::string& report)
{
    return "\x9B" + report.substr(2);
}

struct MouseFixture : TerminalFixture
{
    MouseFixture(Mode mode, Encoding encoding, bool send8bit = false) : TerminalFixture(80, 24)
    {
        t().setMouseMode(mode);
        t().mouseProtocol = encoding;
        t().cc.send8bit = send8bit;
    }
};

// One event of the host entry point at cell (4, 9), pixel (40, 90), with the modes that report it
// and its report in each encoding.
struct EventCase
{
    const char* name;
    TerminalMouseAction action;
    TerminalMouseButton button;
    std::vector<Mode> reportedIn;
    std::string x10, utf8, sgr, urxvt, sgrPixel;

    const std::string& report(Encoding encoding) const
    {
        switch (encoding) {
        case Encoding::x10:
            return x10;
        case Encoding::utf8:
            return utf8;
        case Encoding::sgr:
            return sgr;
        case Encoding::urxvt:
            return urxvt;
        case Encoding::sgrPixel:
            return sgrPixel;
        }
        return x10;
    }
};

TEST(TerminalMouseTests, WhatEachTrackingModeReports)
{
    struct ModeCase
    {
        Mode mode;
        bool press, release, tracking, motion;
    };
    const ModeCase cases[] = {
        {Mode::off, false, false, false, false},  {Mode::x10, true, false, false, false},
        {Mode::vt200, true, true, false, false},  {Mode::buttonEventTracking, true, true, true, false},
        {Mode::anyEvent, true, true, true, true},
    };
    for (const ModeCase& c : cases) {
        EXPECT_EQ(Terminal::sendButtonPress(c.mode), c.press) << modeName(c.mode);
        EXPECT_EQ(Terminal::sendButtonRelease(c.mode), c.release) << modeName(c.mode);
        EXPECT_EQ(Terminal::sendsModifiers(c.mode), c.release) << modeName(c.mode);
        EXPECT_EQ(Terminal::sendButtonTracking(c.mode), c.tracking) << modeName(c.mode);
        EXPECT_EQ(Terminal::sendMotionEvent(c.mode), c.motion) << modeName(c.mode);
    }
}

TEST(TerminalMouseTests, EveryModeEncodingAndActionThroughTheHostEntryPoint)
{
    // In the byte encodings column 4 is 4 + 33 = '%' and row 9 is 9 + 33 = '*'.
    const std::vector<EventCase> cases = {
        {"press left",
         TerminalMouseAction::press,
         TerminalMouseButton::left,
         {Mode::x10, Mode::vt200, Mode::buttonEventTracking, Mode::anyEvent},
         "\x1b[M %*",
         "\x1b[M %*",
         "\x1b[<0;5;10M",
         "\x1b[32;5;10M",
         "\x1b[<0;41;91M"},
        {"press middle",
         TerminalMouseAction::press,
         TerminalMouseButton::middle,
         {Mode::x10, Mode::vt200, Mode::buttonEventTracking, Mode::anyEvent},
         "\x1b[M!%*",
         "\x1b[M!%*",
         "\x1b[<1;5;10M",
         "\x1b[33;5;10M",
         "\x1b[<1;41;91M"},
        {"release middle",
         TerminalMouseAction::release,
         TerminalMouseButton::middle,
         {Mode::vt200, Mode::buttonEventTracking, Mode::anyEvent},
         "\x1b[M#%*",
         "\x1b[M#%*",
         "\x1b[<1;5;10m",
         "\x1b[35;5;10M",
         "\x1b[<1;41;91m"},
        {"release right",
         TerminalMouseAction::release,
         TerminalMouseButton::right,
         {Mode::vt200, Mode::buttonEventTracking, Mode::anyEvent},
         "\x1b[M#%*",
         "\x1b[M#%*",
         "\x1b[<2;5;10m",
         "\x1b[35;5;10M",
         "\x1b[<2;41;91m"},
        {"drag right",
         TerminalMouseAction::move,
         TerminalMouseButton::right,
         {Mode::buttonEventTracking, Mode::anyEvent},
         "\x1b[MB%*",
         "\x1b[MB%*",
         "\x1b[<34;5;10M",
         "\x1b[66;5;10M",
         "\x1b[<34;41;91M"},
        {"move without button",
         TerminalMouseAction::move,
         TerminalMouseButton::none,
         {Mode::anyEvent},
         "\x1b[MC%*",
         "\x1b[MC%*",
         "\x1b[<35;5;10M",
         "\x1b[67;5;10M",
         "\x1b[<35;41;91M"},
        {"wheel up",
         TerminalMouseAction::wheel,
         TerminalMouseButton::wheelUp,
         {Mode::x10, Mode::vt200, Mode::buttonEventTracking, Mode::anyEvent},
         "\x1b[M`%*",
         "\x1b[M`%*",
         "\x1b[<64;5;10M",
         "\x1b[96;5;10M",
         "\x1b[<64;41;91M"},
        {"wheel right",
         TerminalMouseAction::wheel,
         TerminalMouseButton::wheelRight,
         {Mode::x10, Mode::vt200, Mode::buttonEventTracking, Mode::anyEvent},
         "\x1b[Mc%*",
         "\x1b[Mc%*",
         "\x1b[<67;5;10M",
         "\x1b[99;5;10M",
         "\x1b[<67;41;91M"},
    };

    for (const EventCase& event : cases) {
        for (Mode mode : allModes) {
            const bool reported =
                std::find(event.reportedIn.begin(), event.reportedIn.end(), mode) != event.reportedIn.end();
            for (Encoding encoding : allEncodings) {
                for (bool send8bit : {false, true}) {
                    MouseFixture f(mode, encoding, send8bit);
                    const bool sent = f.t().sendHostMouse(event.action, event.button, 0, 4, 9, 40, 90);
                    const std::string where = std::string(event.name) + " in mode " + modeName(mode) +
                                              ", encoding " + encodingName(encoding) +
                                              (send8bit ? ", 8-bit" : ", 7-bit");
                    EXPECT_EQ(sent, reported) << where;
                    if (!reported) {
                        EXPECT_TRUE(f.delegate->sends.empty()) << where << ": nothing may be sent";
                        continue;
                    }
                    const std::string expected =
                        send8bit ? eightBit(event.report(encoding)) : event.report(encoding);
                    ASSERT_EQ(f.delegate->sends.size(), 1u) << where;
                    EXPECT_EQ(escaped(f.delegate->sent()), escaped(expected)) << where;
                }
            }
        }
    }
}

TEST(TerminalMouseTests, ModifiersAreReportedOnlyByTheModesThatCarryThem)
{
    // Shift 4, meta 8, control 16; bit 3 is accepted and changes nothing.
    struct ModifierCase
    {
        uint32_t modifiers;
        int addedCode;
    };
    const ModifierCase modifierCases[] = {{0, 0}, {1, 4}, {2, 8}, {4, 16}, {7, 28}, {8, 0}, {15, 28}};
    for (Mode mode : {Mode::x10, Mode::vt200, Mode::buttonEventTracking, Mode::anyEvent}) {
        for (const ModifierCase& c : modifierCases) {
            MouseFixture f(mode, Encoding::sgr);
            ASSERT_TRUE(f.t().sendHostMouse(TerminalMouseAction::press, TerminalMouseButton::right,
                                            c.modifiers, 0, 0, 0, 0))
                << modeName(mode) << " modifiers " << c.modifiers;
            const int code = 2 + (mode == Mode::x10 ? 0 : c.addedCode);
            EXPECT_EQ(f.delegate->sent(), "\x1b[<" + std::to_string(code) + ";1;1M")
                << modeName(mode) << " modifiers " << c.modifiers;
        }
    }

    // A release keeps its original button under the modifier bits.
    MouseFixture f(Mode::vt200, Encoding::sgr);
    ASSERT_TRUE(f.t().sendHostMouse(TerminalMouseAction::release, TerminalMouseButton::right, 5, 0, 0, 0, 0));
    EXPECT_EQ(f.delegate->sent(), "\x1b[<22;1;1m") << "shift + control + right button, released";
}

TEST(TerminalMouseTests, HostEntryPointRefusesWhatItCannotReport)
{
    MouseFixture f(Mode::anyEvent, Encoding::sgr);
    Terminal& t = f.t();
    const auto press = [&](uint32_t modifiers, int col, int row, int pixelX, int pixelY) {
        return t.sendHostMouse(TerminalMouseAction::press, TerminalMouseButton::left, modifiers, col, row,
                               pixelX, pixelY);
    };
    EXPECT_FALSE(press(0, -1, 0, 0, 0)) << "column left of the screen";
    EXPECT_FALSE(press(0, 80, 0, 0, 0)) << "column right of the screen";
    EXPECT_FALSE(press(0, 0, -1, 0, 0)) << "row above the screen";
    EXPECT_FALSE(press(0, 0, 24, 0, 0)) << "row below the screen";
    EXPECT_FALSE(press(0, 0, 0, INT_MAX, 0)) << "unknown pixel column";
    EXPECT_FALSE(press(0, 0, 0, 0, INT_MAX)) << "unknown pixel row";
    EXPECT_FALSE(press(16, 0, 0, 0, 0)) << "modifier bits past the four defined";
    EXPECT_TRUE(t.delegate() && f.delegate->sends.empty());
    EXPECT_TRUE(press(0, 79, 23, 0, 0)) << "the last cell of the screen";

    // Buttons that do not fit the action.
    f.delegate->sends.clear();
    EXPECT_FALSE(t.sendHostMouse(TerminalMouseAction::press, TerminalMouseButton::none, 0, 0, 0, 0, 0));
    EXPECT_FALSE(t.sendHostMouse(TerminalMouseAction::press, TerminalMouseButton::wheelUp, 0, 0, 0, 0, 0));
    EXPECT_FALSE(t.sendHostMouse(TerminalMouseAction::release, TerminalMouseButton::none, 0, 0, 0, 0, 0));
    EXPECT_FALSE(t.sendHostMouse(TerminalMouseAction::move, TerminalMouseButton::wheelDown, 0, 0, 0, 0, 0));
    EXPECT_FALSE(t.sendHostMouse(TerminalMouseAction::wheel, TerminalMouseButton::left, 0, 0, 0, 0, 0));
    EXPECT_FALSE(
        t.sendHostMouse(static_cast<TerminalMouseAction>(4), TerminalMouseButton::left, 0, 0, 0, 0, 0))
        << "an action value outside the enumeration";
    EXPECT_FALSE(
        t.sendHostMouse(TerminalMouseAction::press, static_cast<TerminalMouseButton>(8), 0, 0, 0, 0, 0))
        << "a button value outside the enumeration";
    EXPECT_TRUE(f.delegate->sends.empty());

    // Raw values from a host: only the defined ones make an action or a button.
    EXPECT_EQ(terminalMouseActionFromRaw(3), TerminalMouseAction::wheel);
    EXPECT_FALSE(terminalMouseActionFromRaw(4));
    EXPECT_EQ(terminalMouseButtonFromRaw(7), TerminalMouseButton::wheelRight);
    EXPECT_FALSE(terminalMouseButtonFromRaw(8));
    EXPECT_FALSE(terminalMouseButtonFromRaw(UINT32_MAX));
}

TEST(TerminalMouseTests, ByteEncodingLimits)
{
    struct LimitCase
    {
        const char* name;
        Encoding encoding;
        int x;
        int y;
        std::string expected;
    };
    const std::vector<LimitCase> cases = {
        // X10: one byte per value, 255 at most: position 222 and beyond all read as 255.
        {"x10 column 221", Encoding::x10, 221, 0, std::string("\x1b[M \xFE!")},
        {"x10 column 222", Encoding::x10, 222, 0, std::string("\x1b[M \xFF!")},
        {"x10 column 300", Encoding::x10, 300, 0, std::string("\x1b[M \xFF!")},
        {"x10 huge row", Encoding::x10, 0, INT_MAX, std::string("\x1b[M !\xFF")},
        {"x10 negative column", Encoding::x10, -7, 0, std::string("\x1b[M !!")},
        // UTF-8: one byte up to 127, two bytes up to 2046, 2047 as a 0 byte, anything past as
        // 2047 in two bytes.
        {"utf8 column 94", Encoding::utf8, 94, 0, std::string("\x1b[M \x7F!")},
        {"utf8 column 95", Encoding::utf8, 95, 0, std::string("\x1b[M \xC2\x80!")},
        {"utf8 column 100", Encoding::utf8, 100, 0, std::string("\x1b[M \xC2\x85!")},
        {"utf8 column 2013", Encoding::utf8, 2013, 0, std::string("\x1b[M \xDF\xBE!")},
        {"utf8 column 2014", Encoding::utf8, 2014, 0, std::string("\x1b[M \x00!", 6)},
        {"utf8 column 2015", Encoding::utf8, 2015, 0, std::string("\x1b[M \xDF\xBF!")},
        {"utf8 column 3000", Encoding::utf8, 3000, 0, std::string("\x1b[M \xDF\xBF!")},
        {"utf8 row 2014", Encoding::utf8, 0, 2014, std::string("\x1b[M !\x00", 6)},
        {"utf8 huge column", Encoding::utf8, INT_MAX, 0, std::string("\x1b[M \xDF\xBF!")},
        {"utf8 negative column", Encoding::utf8, INT_MIN, 0, std::string("\x1b[M !!")},
        // Decimal encodings: exact however large, never negative.
        {"sgr column 3000", Encoding::sgr, 3000, 0, "\x1b[<0;3001;1M"},
        {"sgr huge position", Encoding::sgr, INT_MAX, INT_MAX, "\x1b[<0;2147483648;2147483648M"},
        {"sgr negative position", Encoding::sgr, -1, INT_MIN, "\x1b[<0;1;1M"},
        {"urxvt huge position", Encoding::urxvt, INT_MAX, 5000, "\x1b[32;2147483648;5001M"},
        {"urxvt negative position", Encoding::urxvt, -3, -3, "\x1b[32;1;1M"},
    };
    for (const LimitCase& c : cases) {
        MouseFixture f(Mode::vt200, c.encoding);
        const std::vector<uint8_t> bytes = f.t().mousePacketBytes(0, false, 0, c.x, c.y, c.x, c.y);
        EXPECT_EQ(escaped(std::string(bytes.begin(), bytes.end())), escaped(c.expected)) << c.name;
    }

    // SGR pixels report the pixel position, with the same bounds.
    MouseFixture pixels(Mode::vt200, Encoding::sgrPixel);
    const std::vector<uint8_t> huge = pixels.t().mousePacketBytes(0, false, 0, 1, 1, INT_MAX - 1, -40);
    EXPECT_EQ(std::string(huge.begin(), huge.end()), "\x1b[<0;2147483647;1M");

    // The button byte of X10 saturates too.
    MouseFixture x10(Mode::vt200, Encoding::x10);
    const std::vector<uint8_t> wide = x10.t().mousePacketBytes(0x1FF, false, 0, 0, 0, 0, 0);
    EXPECT_EQ(escaped(std::string(wide.begin(), wide.end())), escaped("\x1b[M\xFF!!"))
        << "only the low byte is the code, and code + 32 stops at 255";

    // The value encoder on its own.
    const auto utf = [](int value) {
        std::vector<uint8_t> out;
        Terminal::encodeMouseUtf(out, value);
        return out;
    };
    EXPECT_EQ(utf(127), std::vector<uint8_t>({0x7F}));
    EXPECT_EQ(utf(128), std::vector<uint8_t>({0xC2, 0x80}));
    EXPECT_EQ(utf(2046), std::vector<uint8_t>({0xDF, 0xBE}));
    EXPECT_EQ(utf(2047), std::vector<uint8_t>({0x00}));
    EXPECT_EQ(utf(2048), std::vector<uint8_t>({0xDF, 0xBF}));
    EXPECT_EQ(utf(-5), std::vector<uint8_t>({0x00})) << "nothing negative is written";
}

TEST(TerminalMouseTests, ClassicViewCalls)
{
    // Button codes.
    MouseFixture x10Mode(Mode::x10, Encoding::sgr);
    MouseFixture vt200(Mode::vt200, Encoding::sgr);
    EXPECT_EQ(vt200.t().encodeButton(0, false, false, false, false), 0);
    EXPECT_EQ(vt200.t().encodeButton(2, false, false, false, false), 2);
    EXPECT_EQ(vt200.t().encodeButton(3, false, false, false, false), 0) << "3 is not a button to press";
    EXPECT_EQ(vt200.t().encodeButton(4, false, false, false, false), 64);
    EXPECT_EQ(vt200.t().encodeButton(7, false, false, false, false), 67);
    EXPECT_EQ(vt200.t().encodeButton(9, false, false, false, false), 0);
    EXPECT_EQ(vt200.t().encodeButton(1, true, false, false, false), 3 | 1 << 8);
    EXPECT_EQ(vt200.t().encodeButton(2, true, false, false, false), 3 | 2 << 8);
    EXPECT_EQ(vt200.t().encodeButton(5, true, false, false, false), 3)
        << "a wheel release has no original button";
    EXPECT_EQ(vt200.t().encodeButton(0, false, true, true, true), 28);
    EXPECT_EQ(x10Mode.t().encodeButton(0, false, true, true, true), 0) << "X10 mode sends no modifiers";

    // SGR: press and release of the left button at (0, 0), release of the right button.
    Terminal& t = vt200.t();
    t.sendEvent(t.encodeButton(0, false, false, false, false), 0, 0);
    t.sendEvent(t.encodeButton(0, true, false, false, false), 0, 0);
    t.sendEvent(t.encodeButton(2, true, false, false, false), 0, 0);
    t.sendEvent(t.encodeButton(2, true, true, false, false), 0, 0);
    ASSERT_EQ(vt200.delegate->sends.size(), 4u);
    const auto sendText = [&](size_t index) {
        return std::string(vt200.delegate->sends[index].begin(), vt200.delegate->sends[index].end());
    };
    EXPECT_EQ(sendText(0), "\x1b[<0;1;1M");
    EXPECT_EQ(sendText(1), "\x1b[<0;1;1m");
    EXPECT_EQ(sendText(2), "\x1b[<2;1;1m");
    EXPECT_EQ(sendText(3), "\x1b[<6;1;1m") << "a shifted release is still a release";

    // A wheel report with motion bits is not taken for a release.
    vt200.delegate->sends.clear();
    t.sendEvent(64 + 32 + 3, 0, 0);
    EXPECT_EQ(vt200.delegate->sent(), "\x1b[<99;1;1M");

    // URXVT cannot tell a release from a press: release at (4, 9).
    MouseFixture urxvt(Mode::vt200, Encoding::urxvt);
    urxvt.t().sendEvent(urxvt.t().encodeButton(0, true, false, false, false), 4, 9);
    EXPECT_EQ(urxvt.delegate->sent(), "\x1b[35;5;10M");

    // The short form of sendEvent reports the cell position as the pixel position.
    MouseFixture pixels(Mode::anyEvent, Encoding::sgrPixel);
    pixels.t().sendEvent(0, 3, 4);
    pixels.t().sendMotion(0, 3, 4, 30, 40);
    ASSERT_EQ(pixels.delegate->sends.size(), 2u);
    EXPECT_EQ(std::string(pixels.delegate->sends[0].begin(), pixels.delegate->sends[0].end()),
              "\x1b[<0;4;5M");
    EXPECT_EQ(std::string(pixels.delegate->sends[1].begin(), pixels.delegate->sends[1].end()),
              "\x1b[<32;31;41M")
        << "motion adds 32 and reports pixels";

    // 8-bit controls reach the classic path too.
    MouseFixture eight(Mode::vt200, Encoding::x10, true);
    eight.t().sendEvent(0, 0, 0);
    EXPECT_EQ(escaped(eight.delegate->sent()), escaped("\x9BM !!"));
}

TEST(TerminalMouseTests, HostPointerModes)
{
    TerminalFixture f(80, 24);
    Terminal& t = f.t();
    t.alternateScrollMode = false;
    EXPECT_EQ(t.hostPointerModes(), 0u);

    t.setMouseMode(Mode::anyEvent);
    t.mouseProtocol = Encoding::sgrPixel;
    EXPECT_EQ(t.hostPointerModes(), 4u | 4u << 3);

    t.mouseShiftCapture = true;
    t.alternateScrollMode = true;
    EXPECT_EQ(t.hostPointerModes(), 4u | 4u << 3 | 64u | 128u);

    t.activateAltBuffer();
    EXPECT_EQ(t.hostPointerModes(), 4u | 4u << 3 | 64u | 128u | 256u) << "the alternate screen is active";
    t.activateNormalBuffer(false);

    t.setMouseMode(Mode::x10);
    t.mouseProtocol = Encoding::utf8;
    t.mouseShiftCapture = false;
    EXPECT_EQ(t.hostPointerModes(), 1u | 1u << 3 | 128u);
}

} // namespace
} // namespace kestrovan::testing
