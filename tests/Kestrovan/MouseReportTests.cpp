// Mouse reports: which events each tracking mode reports, the exact bytes of every wire
// encoding with 7-bit and 8-bit CSI, the encodings' limits, the button codes and the host entry
// point's validation.
#include "RecordingTerminalDelegate.h"

#include "Kestrovan/MouseReport.h"

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
    static const char* const names[] = {"off", "x10", "vt200", "buttonEventTracking", "anyEvent"};
    return names[static_cast<int>(mode)];
}

const char* encodingName(Encoding encoding)
{
    static const char* const names[] = {"x10", "utf8", "sgr", "urxvt", "sgrPixel"};
    return names[static_cast<int>(encoding)];
}

/// The DEC private mode sequence that selects `encoding`; resetting any encoding mode selects X10.
std::string encodingSequence(Encoding encoding)
{
    static const char* const sequences[] = {"\x1b[?1006l", "\x1b[?1005h", "\x1b[?1006h", "\x1b[?1015h",
                                            "\x1b[?1016h"};
    return sequences[static_cast<int>(encoding)];
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

std::string text(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

/// The DECSET that turns tracking mode `mode` on (DECRST of any-event tracking turns it off).
std::string trackingSequence(Mode mode)
{
    switch (mode) {
    case Mode::x10:
        return "\x1b[?9h";
    case Mode::vt200:
        return "\x1b[?1000h";
    case Mode::buttonEventTracking:
        return "\x1b[?1002h";
    case Mode::anyEvent:
        return "\x1b[?1003h";
    default:
        return "\x1b[?1003l";
    }
}

/// A report at a cell and pixel, for short tables.
MouseReport report(TerminalMouseAction action, TerminalMouseButton button,
                   MouseReportModifiers modifiers = {}, int col = 0, int row = 0, int pixelX = 0,
                   int pixelY = 0)
{
    return MouseReport{action, button, modifiers, col, row, pixelX, pixelY};
}

struct MouseFixture : TerminalFixture
{
    MouseFixture(Mode mode, Encoding encoding, bool send8bit = false) : TerminalFixture(80, 24)
    {
        t().feed(trackingSequence(mode));
        t().feed(encodingSequence(encoding));
        if (send8bit)
            t().feed("\x1b G"); // S8C1T
    }
};

TEST(MouseReportTests, EveryModeEncodingAndActionThroughTheHostEntryPoint)
{
    // One event at cell (4, 9), pixel (40, 90): the least mode that reports it, its X10 report
    // (the same in UTF-8 at this position: column 4 + 33 is '%', row 9 + 33 is '*'), and its SGR
    // and URXVT reports. SGR pixels are the SGR report at the pixel position.
    struct EventCase
    {
        const char* name;
        TerminalMouseAction action;
        TerminalMouseButton button;
        Mode leastMode;
        const char *x10, *sgr, *urxvt;
    };
    using A = TerminalMouseAction;
    using B = TerminalMouseButton;
    const EventCase cases[] = {
        {"press left", A::press, B::left, Mode::x10, "\x1b[M %*", "\x1b[<0;5;10M", "\x1b[32;5;10M"},
        {"press middle", A::press, B::middle, Mode::x10, "\x1b[M!%*", "\x1b[<1;5;10M", "\x1b[33;5;10M"},
        {"release middle", A::release, B::middle, Mode::vt200, "\x1b[M#%*", "\x1b[<1;5;10m", "\x1b[35;5;10M"},
        {"release right", A::release, B::right, Mode::vt200, "\x1b[M#%*", "\x1b[<2;5;10m", "\x1b[35;5;10M"},
        {"drag right", A::move, B::right, Mode::buttonEventTracking, "\x1b[MB%*", "\x1b[<34;5;10M",
         "\x1b[66;5;10M"},
        {"move without button", A::move, B::none, Mode::anyEvent, "\x1b[MC%*", "\x1b[<35;5;10M",
         "\x1b[67;5;10M"},
        {"wheel up", A::wheel, B::wheelUp, Mode::x10, "\x1b[M`%*", "\x1b[<64;5;10M", "\x1b[96;5;10M"},
        {"wheel right", A::wheel, B::wheelRight, Mode::x10, "\x1b[Mc%*", "\x1b[<67;5;10M", "\x1b[99;5;10M"},
    };

    for (const EventCase& event : cases) {
        std::string sgrPixel = event.sgr;
        sgrPixel.replace(sgrPixel.find(";5;10"), 5, ";41;91");
        const std::string reports[] = {event.x10, event.x10, event.sgr, event.urxvt, sgrPixel};
        for (Mode mode : allModes) {
            const bool reported = mode >= event.leastMode;
            for (Encoding encoding : allEncodings) {
                for (bool send8bit : {false, true}) {
                    MouseFixture f(mode, encoding, send8bit);
                    const bool sent = sendHostMouse(f.t(), event.action, event.button, 0, 4, 9, 40, 90);
                    const std::string where = std::string(event.name) + " in mode " + modeName(mode) +
                                              ", encoding " + encodingName(encoding) +
                                              (send8bit ? ", 8-bit" : ", 7-bit");
                    EXPECT_EQ(sent, reported) << where;
                    if (!reported) {
                        EXPECT_TRUE(f.delegate->sends.empty()) << where << ": nothing may be sent";
                        continue;
                    }
                    const std::string& report = reports[static_cast<int>(encoding)];
                    const std::string expected = send8bit ? "\x9B" + report.substr(2) : report;
                    ASSERT_EQ(f.delegate->sends.size(), 1u) << where;
                    EXPECT_EQ(escaped(f.delegate->sent()), escaped(expected)) << where;
                }
            }
        }
    }
}

TEST(MouseReportTests, ModifiersAreReportedOnlyByTheModesThatCarryThem)
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
            ASSERT_TRUE(sendHostMouse(f.t(), TerminalMouseAction::press, TerminalMouseButton::right,
                                      c.modifiers, 0, 0, 0, 0))
                << modeName(mode) << " modifiers " << c.modifiers;
            const int code = 2 + (mode == Mode::x10 ? 0 : c.addedCode);
            EXPECT_EQ(f.delegate->sent(), "\x1b[<" + std::to_string(code) + ";1;1M")
                << modeName(mode) << " modifiers " << c.modifiers;
        }
    }

    // A release keeps its original button under the modifier bits.
    MouseFixture f(Mode::vt200, Encoding::sgr);
    ASSERT_TRUE(
        sendHostMouse(f.t(), TerminalMouseAction::release, TerminalMouseButton::right, 5, 0, 0, 0, 0));
    EXPECT_EQ(f.delegate->sent(), "\x1b[<22;1;1m") << "shift + control + right button, released";
}

TEST(MouseReportTests, HostEntryPointRefusesWhatItCannotReport)
{
    MouseFixture f(Mode::anyEvent, Encoding::sgr);
    Terminal& t = f.t();
    const auto press = [&](uint32_t modifiers, int col, int row, int pixelX, int pixelY) {
        return sendHostMouse(t, TerminalMouseAction::press, TerminalMouseButton::left, modifiers, col, row,
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
    using A = TerminalMouseAction;
    using B = TerminalMouseButton;
    const std::pair<A, B> misfits[] = {{A::press, B::none},          {A::press, B::wheelUp},
                                       {A::release, B::none},        {A::move, B::wheelDown},
                                       {A::wheel, B::left},          {static_cast<A>(4), B::left},
                                       {A::press, static_cast<B>(8)}};
    for (const auto& [action, button] : misfits) {
        EXPECT_FALSE(sendHostMouse(t, action, button, 0, 0, 0, 0, 0))
            << "action " << int(action) << " with button " << int(button);
    }
    EXPECT_TRUE(f.delegate->sends.empty());

    // Raw values from a host: only the defined ones make an action or a button.
    EXPECT_EQ(terminalMouseActionFromRaw(3), TerminalMouseAction::wheel);
    EXPECT_FALSE(terminalMouseActionFromRaw(4));
    EXPECT_EQ(terminalMouseButtonFromRaw(7), TerminalMouseButton::wheelRight);
    EXPECT_FALSE(terminalMouseButtonFromRaw(8));
    EXPECT_FALSE(terminalMouseButtonFromRaw(UINT32_MAX));
}

TEST(MouseReportTests, ByteEncodingLimits)
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
        {"x10 huge row", Encoding::x10, 0, INT_MAX, std::string("\x1b[M !\xFF")},
        {"x10 negative column", Encoding::x10, -7, 0, std::string("\x1b[M !!")},
        // UTF-8: one byte up to 127, two bytes up to 2046, 2047 as a 0 byte, anything past as
        // 2047 in two bytes.
        {"utf8 column 94", Encoding::utf8, 94, 0, std::string("\x1b[M \x7F!")},
        {"utf8 column 95", Encoding::utf8, 95, 0, std::string("\x1b[M \xC2\x80!")},
        {"utf8 column 2013", Encoding::utf8, 2013, 0, std::string("\x1b[M \xDF\xBE!")},
        {"utf8 column 2014", Encoding::utf8, 2014, 0, std::string("\x1b[M \x00!", 6)},
        {"utf8 column 2015", Encoding::utf8, 2015, 0, std::string("\x1b[M \xDF\xBF!")},
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
        const std::vector<uint8_t> bytes = encodeMouseReport(
            report(TerminalMouseAction::press, TerminalMouseButton::left, {}, c.x, c.y, c.x, c.y),
            {Mode::vt200, c.encoding, false});
        EXPECT_EQ(escaped(text(bytes)), escaped(c.expected)) << c.name;
    }

    // SGR pixels report the pixel position, with the same bounds.
    const MouseReport huge =
        report(TerminalMouseAction::press, TerminalMouseButton::left, {}, 1, 1, INT_MAX - 1, -40);
    EXPECT_EQ(text(encodeMouseReport(huge, {Mode::vt200, Encoding::sgrPixel, false})),
              "\x1b[<0;2147483647;1M");

    // The largest code a report can have (a wheel-right drag with every modifier, 127) still fits
    // X10's byte once 32 is added.
    const MouseReport wide =
        report(TerminalMouseAction::move, TerminalMouseButton::wheelRight,
               MouseReportModifiers::shift | MouseReportModifiers::meta | MouseReportModifiers::control);
    EXPECT_EQ(escaped(text(encodeMouseReport(wide, {Mode::vt200, Encoding::x10, false}))),
              escaped("\x1b[M\x9F!!"));
}

TEST(MouseReportTests, ButtonCodesOfEveryActionAndButton)
{
    // The low byte every encoding writes, for each action and button in a mode that sends
    // modifiers (vt200) and in one that does not (X10), with shift, meta and control held.
    using A = TerminalMouseAction;
    using B = TerminalMouseButton;
    const MouseReportModifiers all =
        MouseReportModifiers::shift | MouseReportModifiers::meta | MouseReportModifiers::control;
    struct CodeCase
    {
        A action;
        B button;
        MouseReportModifiers modifiers;
        int vt200;
        int x10;
    };
    const CodeCase cases[] = {
        {A::press, B::left, {}, 0, 0},
        {A::press, B::middle, {}, 1, 1},
        {A::press, B::right, {}, 2, 2},
        {A::press, B::left, MouseReportModifiers::shift, 4, 0},
        {A::press, B::left, MouseReportModifiers::meta, 8, 0},
        {A::press, B::left, MouseReportModifiers::control, 16, 0},
        {A::press, B::right, all, 30, 2},
        {A::release, B::left, {}, 3, 3},
        {A::release, B::right, {}, 3, 3},
        {A::release, B::middle, MouseReportModifiers::shift, 7, 3},
        {A::move, B::left, {}, 32, 32},
        {A::move, B::right, MouseReportModifiers::control, 50, 34},
        {A::move, B::none, {}, 35, 35},
        {A::move, B::none, MouseReportModifiers::meta, 43, 35},
        {A::wheel, B::wheelUp, {}, 64, 64},
        {A::wheel, B::wheelDown, MouseReportModifiers::shift, 69, 65},
        {A::wheel, B::wheelLeft, {}, 66, 66},
        {A::wheel, B::wheelRight, MouseReportModifiers::control, 83, 67},
    };
    for (const CodeCase& c : cases) {
        const MouseReport event = report(c.action, c.button, c.modifiers);
        EXPECT_EQ(mouseReportCode(event, Mode::vt200), c.vt200)
            << "action " << int(c.action) << " button " << int(c.button) << " modifiers "
            << int(c.modifiers.rawValue);
        EXPECT_EQ(mouseReportCode(event, Mode::x10), c.x10)
            << "X10 mode sends no modifiers: action " << int(c.action) << " button " << int(c.button);
    }
}

TEST(MouseReportTests, ReleasesNameTheirButtonOnlyInSgr)
{
    const auto bytes = [](const MouseReport& event, Encoding encoding, bool eightBit = false) {
        return escaped(text(encodeMouseReport(event, {Mode::vt200, encoding, eightBit})));
    };
    using A = TerminalMouseAction;
    using B = TerminalMouseButton;
    // SGR: press and release of the left button at (0, 0), release of the right button, with and
    // without shift.
    EXPECT_EQ(bytes(report(A::press, B::left), Encoding::sgr), "\\x1B[<0;1;1M");
    EXPECT_EQ(bytes(report(A::release, B::left), Encoding::sgr), "\\x1B[<0;1;1m");
    EXPECT_EQ(bytes(report(A::release, B::right), Encoding::sgr), "\\x1B[<2;1;1m");
    EXPECT_EQ(bytes(report(A::release, B::right, MouseReportModifiers::shift), Encoding::sgr),
              "\\x1B[<6;1;1m")
        << "a shifted release is still a release";
    // A wheel step is a press whatever its code's low bits say.
    EXPECT_EQ(bytes(report(A::wheel, B::wheelRight), Encoding::sgr), "\\x1B[<67;1;1M");
    // URXVT cannot tell a release from a press: release at (4, 9).
    EXPECT_EQ(bytes(report(A::release, B::left, {}, 4, 9), Encoding::urxvt), "\\x1B[35;5;10M");
    // SGR pixels report the pixel position; motion adds 32.
    EXPECT_EQ(bytes(report(A::press, B::left, {}, 3, 4, 3, 4), Encoding::sgrPixel), "\\x1B[<0;4;5M");
    EXPECT_EQ(bytes(report(A::move, B::left, {}, 3, 4, 30, 40), Encoding::sgrPixel), "\\x1B[<32;31;41M");
    // 8-bit controls.
    EXPECT_EQ(bytes(report(A::press, B::left), Encoding::x10, true), "\\x9BM !!");

    // Over a terminal, its own mode, encoding and controls; none for what its mode leaves out.
    MouseFixture eight(Mode::x10, Encoding::x10, true);
    EXPECT_EQ(mouseReportBytes(eight.t(), report(A::press, B::left)),
              (std::vector<uint8_t>{0x9B, 'M', ' ', '!', '!'}));
    EXPECT_EQ(mouseReportBytes(eight.t(), report(A::release, B::left)), std::nullopt)
        << "X10 mode has no releases";
}

TEST(MouseReportTests, HostPointerModes)
{
    TerminalFixture f(80, 24);
    Terminal& t = f.t();
    t.feed("\x1b[?1007l"); // alternate scroll off
    EXPECT_EQ(hostPointerModes(t), 0u);

    t.feed(trackingSequence(Mode::anyEvent));
    t.feed(encodingSequence(Encoding::sgrPixel));
    EXPECT_EQ(hostPointerModes(t), 4u | 4u << 3);

    t.feed("\x1b[>1s\x1b[?1007h"); // XTSHIFTESCAPE: Shift reaches the program; alternate scroll
    EXPECT_EQ(hostPointerModes(t), 4u | 4u << 3 | 64u | 128u);

    t.feed("\x1b[?47h");
    EXPECT_EQ(hostPointerModes(t), 4u | 4u << 3 | 64u | 128u | 256u) << "the alternate screen is active";
    t.feed("\x1b[?47l");

    t.feed(trackingSequence(Mode::x10));
    t.feed(encodingSequence(Encoding::utf8));
    t.feed("\x1b[>0s");
    EXPECT_EQ(hostPointerModes(t), 1u | 1u << 3 | 128u);
}

} // namespace
} // namespace kestrovan::testing
