// Terminal modes as programs see them: set, reset, save, restore and DECRQM replies; the alternate
// screens; column mode; soft reset; synchronized output and cursor visibility.
#include "RecordingTerminalDelegate.h"
#include "TerminalStateDump.h"
#include "TestSupport.h"

#include "Kestrovan/IOTimerQueue.h"
#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/TerminalInnerState.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace kestrovan::testing {
namespace {

using CellColor = Attribute::Color;

std::string decSequence(int mode, char final)
{
    return "\x1b[?" + std::to_string(mode) + final;
}

std::string ansiSequence(int mode, char final)
{
    return "\x1b[" + std::to_string(mode) + final;
}

/// Feeds a DECRQM for `mode` and answers the reply it produced, or "" when there was none.
std::string requestMode(TerminalFixture& fixture, int mode, bool dec)
{
    const size_t before = fixture.delegate->sends.size();
    fixture.t().feed("\x1b[" + std::string(dec ? "?" : "") + std::to_string(mode) + "$p");
    if (fixture.delegate->sends.size() == before)
        return std::string();
    const std::vector<uint8_t>& reply = fixture.delegate->sends.back();
    return std::string(reply.begin(), reply.end());
}

/// The 7-bit reply DECRQM gives for `mode` with `answer`.
std::string modeReply(int mode, bool dec, int answer)
{
    return "\x1b[" + std::string(dec ? "?" : "") + std::to_string(mode) + ";" + std::to_string(answer) + "$y";
}

/// A fixture whose synchronized-output watchdog cannot fire while a test runs without the lock.
struct ModesFixture : TerminalFixture
{
    ModesFixture() : TerminalFixture(10, 3) { terminal->setSynchronizedOutputTimeoutSeconds(3600); }
    explicit ModesFixture(const TerminalOptions& options) : TerminalFixture(options)
    {
        terminal->setSynchronizedOutputTimeoutSeconds(3600);
    }
};

TerminalOptions smallOptions()
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 10;
    options.rows = 3;
    return options;
}

struct ToggleCase
{
    int mode;
    std::function<bool(Terminal&)> read;
};

TEST(TerminalModesTests, DecModesSetResetAndReport)
{
    using MouseMode = Terminal::MouseMode;
    using Encoding = Terminal::MouseProtocolEncoding;
    const std::vector<ToggleCase> cases = {
        {1, [](Terminal& t) { return t.mode(TerminalMode::applicationCursor); }},
        {4, [](Terminal& t) { return t.mode(TerminalMode::smoothScroll); }},
        {5, [](Terminal& t) { return t.mode(TerminalMode::reverseColors); }},
        {6, [](Terminal& t) { return t.mode(TerminalMode::originMode); }},
        {7, [](Terminal& t) { return t.mode(TerminalMode::wraparound); }},
        {9, [](Terminal& t) { return t.mouseMode() == MouseMode::x10; }},
        {12, [](Terminal& t) { return t.mode(TerminalMode::cursorBlink); }},
        {18, [](Terminal& t) { return t.innerState().reportedOnly.decModes.count(18) == 1; }},
        {19, [](Terminal& t) { return t.innerState().reportedOnly.decModes.count(19) == 1; }},
        {25, [](Terminal& t) { return !t.mode(TerminalMode::cursorHidden); }},
        {35, [](Terminal& t) { return t.innerState().reportedOnly.decModes.count(35) == 1; }},
        {40, [](Terminal& t) { return t.mode(TerminalMode::allow80To132); }},
        {42, [](Terminal& t) { return t.innerState().reportedOnly.decModes.count(42) == 1; }},
        {45, [](Terminal& t) { return t.mode(TerminalMode::reverseWraparound); }},
        {47, [](Terminal& t) { return t.isCurrentBufferAlternate(); }},
        {66, [](Terminal& t) { return t.mode(TerminalMode::applicationKeypad); }},
        {67, [](Terminal& t) { return t.mode(TerminalMode::backarrowKeyMode); }},
        {69, [](Terminal& t) { return t.mode(TerminalMode::marginMode); }},
        {95, [](Terminal& t) { return t.mode(TerminalMode::noClearOnColumnChange); }},
        {1000, [](Terminal& t) { return t.mouseMode() == MouseMode::vt200; }},
        {1002, [](Terminal& t) { return t.mouseMode() == MouseMode::buttonEventTracking; }},
        {1003, [](Terminal& t) { return t.mouseMode() == MouseMode::anyEvent; }},
        {1004, [](Terminal& t) { return t.mode(TerminalMode::sendFocus); }},
        {1005, [](Terminal& t) { return t.mouseProtocol() == Encoding::utf8; }},
        {1006, [](Terminal& t) { return t.mouseProtocol() == Encoding::sgr; }},
        {1007, [](Terminal& t) { return t.alternateScrollMode(); }},
        {1015, [](Terminal& t) { return t.mouseProtocol() == Encoding::urxvt; }},
        {1016, [](Terminal& t) { return t.mouseProtocol() == Encoding::sgrPixel; }},
        {1045, [](Terminal& t) { return t.mode(TerminalMode::reverseWraparoundExtended); }},
        {1243, [](Terminal& t) { return t.mode(TerminalMode::bidiArrowKeySwap); }},
        {2004, [](Terminal& t) { return t.mode(TerminalMode::bracketedPasteMode); }},
        {2026, [](Terminal& t) { return t.synchronizedOutputActive(); }},
        {2031, [](Terminal& t) { return t.mode(TerminalMode::colorSchemeUpdatesEnabled); }},
        {2033, [](Terminal& t) { return t.mode(TerminalMode::visibilityReportsEnabled); }},
        {2048, [](Terminal& t) { return t.mode(TerminalMode::inBandSizeReportsEnabled); }},
        {2500, [](Terminal& t) { return t.currentBidiState().boxMirroring; }},
        {2501, [](Terminal& t) { return t.currentBidiState().autodetectDirection; }},
    };
    for (const ToggleCase& toggle : cases) {
        ModesFixture fixture;
        Terminal& t = fixture.t();
        t.feed(decSequence(toggle.mode, 'h'));
        EXPECT_TRUE(toggle.read(t)) << "CSI ? " << toggle.mode << " h";
        EXPECT_EQ(requestMode(fixture, toggle.mode, true), modeReply(toggle.mode, true, 1));
        t.feed(decSequence(toggle.mode, 'l'));
        EXPECT_FALSE(toggle.read(t)) << "CSI ? " << toggle.mode << " l";
        EXPECT_EQ(requestMode(fixture, toggle.mode, true), modeReply(toggle.mode, true, 2));
    }
}

TEST(TerminalModesTests, AnsiModesSetResetAndReport)
{
    const std::vector<ToggleCase> cases = {
        {2, [](Terminal& t) { return t.mode(TerminalMode::keyboardActionMode); }},
        {4, [](Terminal& t) { return t.mode(TerminalMode::insertMode); }},
        {8, [](Terminal& t) { return t.currentBidiState().supportMode == BidiSupportMode::implicit; }},
        {12, [](Terminal& t) { return t.mode(TerminalMode::sendReceiveMode); }},
        {20, [](Terminal& t) { return t.mode(TerminalMode::lineFeedMode); }},
    };
    for (const ToggleCase& toggle : cases) {
        ModesFixture fixture;
        Terminal& t = fixture.t();
        t.feed(ansiSequence(toggle.mode, 'l'));
        EXPECT_FALSE(toggle.read(t)) << "CSI " << toggle.mode << " l";
        EXPECT_EQ(requestMode(fixture, toggle.mode, false), modeReply(toggle.mode, false, 2));
        t.feed(ansiSequence(toggle.mode, 'h'));
        EXPECT_TRUE(toggle.read(t)) << "CSI " << toggle.mode << " h";
        EXPECT_EQ(requestMode(fixture, toggle.mode, false), modeReply(toggle.mode, false, 1));
    }

    ModesFixture fixture;
    Terminal& t = fixture.t();
    t.feed("\x1b[4;20h");
    EXPECT_TRUE(t.mode(TerminalMode::insertMode) && t.mode(TerminalMode::lineFeedMode))
        << "each parameter is a mode";
    t.feed("\x1b[4;20l");
    EXPECT_FALSE(t.mode(TerminalMode::insertMode) || t.mode(TerminalMode::lineFeedMode));
}

TEST(TerminalModesTests, FixedReports)
{
    struct Fixed
    {
        int mode;
        bool dec;
        int answer;
    };
    const std::vector<Fixed> cases = {
        {2, true, 1},    {8, true, 1},    {10, true, 4},   {44, true, 4},   {46, true, 4},   {80, true, 4},
        {60, true, 4},   {117, true, 4},  {1034, true, 4}, {2027, true, 3}, {13, true, 2},   {14, true, 2},
        {30, true, 2},   {41, true, 2},   {1001, true, 2}, {3, true, 2},    {63, true, 0},   {1047, true, 0},
        {1048, true, 0}, {1049, true, 0}, {9999, true, 0}, {0, true, 0},    {5522, true, 0}, {1, false, 4},
        {5, false, 4},   {7, false, 4},   {10, false, 4},  {11, false, 4},  {13, false, 4},  {16, false, 4},
        {19, false, 4},  {3, false, 2},   {6, false, 0},   {9, false, 0},   {21, false, 0},  {100, false, 0},
    };
    for (const Fixed& fixed : cases) {
        ModesFixture fixture;
        Terminal& t = fixture.t();
        EXPECT_EQ(requestMode(fixture, fixed.mode, fixed.dec),
                  modeReply(fixed.mode, fixed.dec, fixed.answer));
        // Switching a mode whose answer is fixed does not change the answer.
        if (fixed.dec && fixed.mode != 1047 && fixed.mode != 1048 && fixed.mode != 1049) {
            t.feed(decSequence(fixed.mode, 'h'));
            EXPECT_EQ(requestMode(fixture, fixed.mode, true), modeReply(fixed.mode, true, fixed.answer))
                << "after CSI ? " << fixed.mode << " h";
        }
    }
}

TEST(TerminalModesTests, ReportsFollowConformanceAndTheReplyEncoding)
{
    ModesFixture fixture;
    Terminal& t = fixture.t();
    t.feed("\x1b[?2004;7$p");
    EXPECT_EQ(fixture.delegate->sent(), "\x1b[?2004;2$y") << "only the first parameter is answered";

    t.feed("\x1b[?$p");
    EXPECT_EQ(requestMode(fixture, 42, true), modeReply(42, true, 2));
    EXPECT_EQ(fixture.delegate->sends[1], std::vector<uint8_t>({0x1B, '[', '?', '0', ';', '0', '$', 'y'}))
        << "a request without any parameter asks about mode 0, which is not recognised";

    t.feed("\x1b G"); // S8C1T
    t.feed("\x1b[20h");
    EXPECT_EQ(requestMode(fixture, 20, false), "\x9b"
                                               "20;1$y");
    EXPECT_EQ(requestMode(fixture, 2027, true), "\x9b?2027;3$y");
    t.feed("\x1b F"); // S7C1T
    EXPECT_EQ(requestMode(fixture, 2027, true), "\x1b[?2027;3$y");

    t.feed("\x1b[62\"p"); // DECSCL: a VT200
    EXPECT_EQ(requestMode(fixture, 2004, true), "") << "DECRQM needs a VT300";
    EXPECT_EQ(requestMode(fixture, 20, false), "");
    t.feed("\x1b[63\"p");
    EXPECT_EQ(requestMode(fixture, 2004, true), modeReply(2004, true, 2));
}

TEST(TerminalModesTests, SideEffectsOfSwitchingModes)
{
    ModesFixture fixture;
    Terminal& t = fixture.t();
    RecordingTerminalDelegate& host = *fixture.delegate;

    t.clearUpdateRange();
    t.feed("\x1b[?5h\x1b[?5h");
    EXPECT_EQ(host.colorChanges.size(), 1u) << "reverse video announces a change once";
    EXPECT_EQ(t.getUpdateRange(), std::make_optional(std::make_pair(0, t.rows())));
    t.feed("\x1b[?5l\x1b[?5l");
    EXPECT_EQ(host.colorChanges, (std::vector<std::optional<int>>{std::nullopt, std::nullopt}));

    const int mouseChanges = host.mouseModeChanges;
    t.feed("\x1b[?1000h\x1b[?1002h\x1b[?1003l");
    EXPECT_EQ(t.mouseMode(), Terminal::MouseMode::off);
    EXPECT_EQ(host.mouseModeChanges, mouseChanges + 3);
    t.feed("\x1b[?1006h\x1b[?1015l");
    EXPECT_EQ(t.mouseProtocol(), Terminal::MouseProtocolEncoding::x10)
        << "any encoding reset goes back to X10";

    host.sends.clear();
    t.feed("\x1b[?1004h");
    EXPECT_EQ(host.sent(), "\x1b[I") << "the focus is reported at once";
    t.setTerminalFocus(false);
    t.feed("\x1b[?1004l");
    t.setTerminalFocus(true);
    EXPECT_EQ(host.sent(), "\x1b[I\x1b[O");
    host.sends.clear();
    t.feed("\x1b[?2033h");
    EXPECT_EQ(host.sent(), "\x1b[?999;1n") << "the visibility is reported at once";

    t.feed("\x1b(0q\x1b[?2hq");
    EXPECT_EQ(rowText(t, 0), "\xe2\x94\x80q") << "DECANM puts the default sets back";

    t.feed("\x1b[4h");
    for (const Buffer* buffer :
         {&t.buffer(Terminal::BufferKind::normal), &t.buffer(Terminal::BufferKind::alt)})
        EXPECT_TRUE(buffer->insertMode() && buffer->bulkInsertBlocked()) << "insert mode is in both buffers";
    moveCursor(t, 0, 2);
    t.feed("abc\rX");
    EXPECT_EQ(rowText(t, 2), "Xabc") << "printing inserts";
    t.feed("\x1b[4l");
    for (const Buffer* buffer :
         {&t.buffer(Terminal::BufferKind::normal), &t.buffer(Terminal::BufferKind::alt)})
        EXPECT_FALSE(buffer->insertMode() || buffer->bulkInsertBlocked());

    t.feed("\x1b[?7l");
    EXPECT_FALSE(t.buffer(Terminal::BufferKind::normal).wraparound() ||
                 t.buffer(Terminal::BufferKind::alt).wraparound());
    moveCursor(t, 0, 1);
    t.feed("0123456789AB");
    EXPECT_EQ(rowText(t, 1), "012345678B") << "without auto-wrap the last column is overwritten";
    t.feed("\x1b[?7h");
    EXPECT_TRUE(t.buffer(Terminal::BufferKind::normal).wraparound() &&
                t.buffer(Terminal::BufferKind::alt).wraparound());

    t.feed("\x1b[8l");
    for (const BidiPresentationState& state :
         {t.currentBidiState(), t.buffer(Terminal::BufferKind::normal).defaultBidiState(),
          t.buffer(Terminal::BufferKind::alt).defaultBidiState()})
        EXPECT_EQ(state.supportMode, BidiSupportMode::explicit_);
    t.feed("\x1b[?2500h\x1b[?2501l");
    for (const BidiPresentationState& state :
         {t.currentBidiState(), t.buffer(Terminal::BufferKind::normal).defaultBidiState(),
          t.buffer(Terminal::BufferKind::alt).defaultBidiState()}) {
        EXPECT_TRUE(state.boxMirroring);
        EXPECT_FALSE(state.autodetectDirection);
    }
}

TEST(TerminalModesTests, MarginModeNeedsAVt400AndResetsTheMargins)
{
    ModesFixture fixture;
    Terminal& t = fixture.t();
    t.feed("\x1b[63\"p"); // DECSCL: a VT300
    t.feed("\x1b[?69h");
    EXPECT_FALSE(t.mode(TerminalMode::marginMode)) << "a VT300 has no left and right margins";

    t.feed("\x1b[64\"p");
    t.feed("\x1b[?69h");
    EXPECT_TRUE(t.mode(TerminalMode::marginMode) && t.buffer(Terminal::BufferKind::normal).marginMode() &&
                t.buffer(Terminal::BufferKind::alt).marginMode());
    t.feed("\x1b[3;6s"); // DECSLRM
    ASSERT_EQ(t.buffer().marginLeft(), 2);
    t.feed("\x1b[?69l");
    EXPECT_FALSE(t.mode(TerminalMode::marginMode) || t.buffer(Terminal::BufferKind::normal).marginMode() ||
                 t.buffer(Terminal::BufferKind::alt).marginMode());
    EXPECT_EQ(t.buffer().marginLeft(), 0);
    EXPECT_EQ(t.buffer().marginRight(), t.cols() - 1);
}

TEST(TerminalModesTests, UnknownModesAreReportedUnlessSilent)
{
    ModesFixture fixture;
    Terminal& t = fixture.t();
    DiagnosticCapture capture;
    t.feed("\x1b[99h\x1b[?8h");
    EXPECT_TRUE(capture.lines.empty()) << "silentLog is on by default";

    t.setSilentLog(false);
    t.feed("\x1b[99h\x1b[99l");
    t.feed("\x1b[>5h\x1b[>5l");
    t.feed("\x1b[?8h\x1b[?8l\x1b[?1001h\x1b[?2l\x1b[?2h");
    t.feed("\x1b[?41h\x1b[?41l\x1b[?63h\x1b[?63l\x1b[?1034h\x1b[?1034l\x1b[?60h\x1b[?117l");
    t.feed("\x1b[#p\x1b[3%p");
    EXPECT_EQ(capture.lines, (std::vector<std::string>{
                                 "Info: Unhandled verbatim setMode with 99 and []",
                                 "Info: Unhandled setMode (SM) with 5 and [62]",
                                 "Info: Unhandled DEC Private Mode Set (DECSET) with 8",
                                 "Info: Unhandled DEC Private Mode Reset (DECRST) with 8",
                                 "Info: Unhandled DEC Private Mode Set (DECSET) with 1001",
                                 "Info: Unhandled DEC Private Mode Reset (DECRST) with 2",
                                 "Info: Unhandled DEC Private Mode Set (DECSET) with 41",
                                 "Info: Unhandled DEC Private Mode Reset (DECRST) with 63",
                                 "Info: Unhandled CSI [35] with pars=[0]",
                                 "Info: Unhandled CSI [37] with pars=[3]",
                             }));
}

TEST(TerminalModesTests, SaveAndRestorePrivateModes)
{
    ModesFixture fixture;
    Terminal& t = fixture.t();
    t.feed("\x1b[?2004h\x1b[?2004s\x1b[?2004l");
    EXPECT_FALSE(t.mode(TerminalMode::bracketedPasteMode));
    t.feed("\x1b[?2004r");
    EXPECT_TRUE(t.mode(TerminalMode::bracketedPasteMode)) << "restored from the saved value";
    t.feed("\x1b[?2004l\x1b[?2004r");
    EXPECT_TRUE(t.mode(TerminalMode::bracketedPasteMode)) << "the saved value stays after a restore";

    t.feed("\x1b[?25l\x1b[?25s\x1b[?1s\x1b[?60s\x1b[?2027s");
    EXPECT_EQ(t.innerState().savedPrivateModes.size(), 1u) << "classic and valueless modes are not saved";

    // Several modes in one sequence, including a reported-only one.
    t.feed("\x1b[?7l\x1b[?42h\x1b[?67h\x1b[?7;42;67s\x1b[?7h\x1b[?42l\x1b[?67l\x1b[?7;42;67r");
    EXPECT_FALSE(t.mode(TerminalMode::wraparound));
    EXPECT_TRUE(t.innerState().reportedOnly.decModes.count(42));
    EXPECT_TRUE(t.mode(TerminalMode::backarrowKeyMode));

    // Without a saved value each mode returns to its power-on value.
    TerminalOptions options = smallOptions();
    options.initialBidiArrowKeySwap = true;
    options.initialBidiState.boxMirroring = true;
    options.initialBidiState.autodetectDirection = false;
    ModesFixture fresh(options);
    Terminal& u = fresh.t();
    u.feed("\x1b[?2004h\x1b[?7l\x1b[?1243l\x1b[?2500l\x1b[?2501h\x1b[?2031h\x1b[?67h");
    u.feed("\x1b[?2004;7;1243;2500;2501;2031;67r");
    EXPECT_FALSE(u.mode(TerminalMode::bracketedPasteMode)) << "nothing saved: bracketed paste off";
    EXPECT_TRUE(u.mode(TerminalMode::wraparound));
    EXPECT_TRUE(u.mode(TerminalMode::bidiArrowKeySwap)) << "from the options";
    EXPECT_TRUE(u.currentBidiState().boxMirroring) << "from the options";
    EXPECT_FALSE(u.currentBidiState().autodetectDirection) << "from the options";
    EXPECT_FALSE(u.mode(TerminalMode::colorSchemeUpdatesEnabled));
    EXPECT_FALSE(u.mode(TerminalMode::backarrowKeyMode));

    // Synchronized output is saved and restored through its begin and end.
    u.feed("\x1b[?2026h\x1b[?2026s\x1b[?2026l\x1b[?2026r");
    EXPECT_TRUE(u.synchronizedOutputActive());
    EXPECT_EQ(fresh.delegate->synchronizedOutputChanges, (std::vector<bool>{true, false, true}));
    u.feed("\x1b[?2026l");
}

TEST(TerminalModesTests, KittyPasteEventsReportNeedsPolicyAndHost)
{
    {
        ModesFixture fixture;
        fixture.t().feed("\x1b[?5522h");
        EXPECT_TRUE(fixture.t().mode(TerminalMode::kittyPasteEventsEnabled));
        EXPECT_EQ(requestMode(fixture, 5522, true), modeReply(5522, true, 0)) << "the policy allows nothing";
    }
    TerminalOptions options = smallOptions();
    options.kittyClipboardPolicy = KittyClipboardPolicy::all;
    ModesFixture fixture(options);
    Terminal& t = fixture.t();
    EXPECT_EQ(requestMode(fixture, 5522, true), modeReply(5522, true, 0)) << "the host offers no clipboard";
    fixture.delegate->clipboardCapabilities = KittyClipboardCapabilities::standard;
    EXPECT_EQ(requestMode(fixture, 5522, true), modeReply(5522, true, 2)) << "capabilities are asked afresh";
    t.feed("\x1b[?5522h");
    ASSERT_TRUE(t.innerState().kittyClipboard);
    EXPECT_EQ(t.innerState().kittyClipboard->capabilities(), KittyClipboardCapabilities::standard);
    EXPECT_EQ(requestMode(fixture, 5522, true), modeReply(5522, true, 1));
}

TEST(TerminalModesTests, AlternateScreens)
{
    ModesFixture fixture;
    Terminal& t = fixture.t();
    RecordingTerminalDelegate& host = *fixture.delegate;
    t.feed("normal");
    moveCursor(t, 3, 1);

    // 1049: the alternate screen is blank, starts at the same cursor, and is cleared on leaving.
    t.feed("\x1b[?1049h");
    EXPECT_TRUE(t.isCurrentBufferAlternate());
    EXPECT_EQ(host.bufferActivations, 1);
    EXPECT_EQ(screenText(t), "||");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(3, 1));
    t.feed("alt");
    t.feed("\x1b[?1049l");
    EXPECT_FALSE(t.isCurrentBufferAlternate());
    EXPECT_EQ(host.bufferActivations, 2);
    EXPECT_EQ(rowText(t, 0), "normal") << "the normal screen is kept";
    t.feed("\x1b[?47h");
    EXPECT_EQ(screenText(t), "||") << "leaving 1049 cleared the alternate screen";

    // 47 keeps the alternate screen when leaving it.
    t.feed("kept\x1b[?47l");
    EXPECT_EQ(rowText(t, 0), "normal");
    t.feed("\x1b[?47h");
    EXPECT_NE(screenText(t).find("kept"), std::string::npos) << "47 does not clear on leaving";

    // 1047 clears it.
    t.feed("\x1b[?1047l\x1b[?1047h");
    EXPECT_EQ(screenText(t), "||") << "leaving 1047 cleared the alternate screen";
    t.feed("\x1b[?1047l");

    // A cursor hidden on one screen is shown on the other.
    host.showCursorCalls = 0;
    t.feed("\x1b[?25l\x1b[?1049h");
    EXPECT_FALSE(t.mode(TerminalMode::cursorHidden));
    EXPECT_EQ(host.showCursorCalls, 1);
    t.feed("\x1b[?1049l");
    EXPECT_EQ(host.showCursorCalls, 1) << "a visible cursor is not shown again";

    t.clearUpdateRange();
    t.feed("\x1b[?47h");
    EXPECT_EQ(t.getUpdateRange(), std::make_optional(std::make_pair(0, t.rows()))) << "the whole screen";
}

TEST(TerminalModesTests, AlternateScreenRestoresTheSavedCursor)
{
    ModesFixture fixture;
    Terminal& t = fixture.t();
    moveCursor(t, 3, 1);
    t.feed("\x1b[1m\x1b[?1049h");
    moveCursor(t, 7, 2);
    t.feed("\x1b[0m\x1b[?1049l");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(3, 1)) << "1049 restores the cursor saved on entry";
    EXPECT_EQ(t.innerState().currentAttribute.style, CharacterStyle::bold) << "and the attribute with it";

    moveCursor(t, 4, 0);
    t.feed("\x1b[?1048h");
    moveCursor(t, 0, 2);
    t.feed("\x1b[?1048l");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(4, 0)) << "1048 saves and restores the cursor";

    moveCursor(t, 2, 2);
    t.feed("\x1b[?47h");
    moveCursor(t, 5, 0);
    t.feed("\x1b[?47l");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(5, 0)) << "47 carries the cursor over, no restore";
}

TEST(TerminalModesTests, ColumnModeClearsAndHomes)
{
    ModesFixture fixture;
    Terminal& t = fixture.t();
    RecordingTerminalDelegate& host = *fixture.delegate;
    t.feed("first\r\nsecond");
    t.feed("\x1b[?3h");
    EXPECT_EQ(screenText(t), "first|second|") << "DECCOLM without mode 40 changes nothing";
    EXPECT_EQ(host.sizeChanges, 0);

    t.feed("\x1b[?40h\x1b[?69h\x1b[44m");
    // Regions and margins in both buffers: the alternate one's set while it is in use.
    t.feed("\x1b[?47h\x1b[1;2r\x1b[?47l\x1b[2r\x1b[3s");
    ASSERT_EQ(t.buffer(Terminal::BufferKind::alt).scrollBottom(), 1);
    ASSERT_EQ(t.buffer().scrollTop(), 1);
    ASSERT_EQ(t.buffer().marginLeft(), 2);
    t.feed("\x1b[?3h");
    EXPECT_EQ(screenText(t), "||") << "the screen is cleared";
    EXPECT_EQ(t.getCharData(0, 1)->attribute.bg, CellColor::ansi256(4)) << "with the erase attribute";
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(0, 0));
    EXPECT_FALSE(t.mode(TerminalMode::marginMode) || t.buffer(Terminal::BufferKind::normal).marginMode() ||
                 t.buffer(Terminal::BufferKind::alt).marginMode());
    for (const Buffer* buffer :
         {&t.buffer(Terminal::BufferKind::normal), &t.buffer(Terminal::BufferKind::alt)}) {
        EXPECT_EQ(buffer->scrollTop(), 0);
        EXPECT_EQ(buffer->scrollBottom(), t.rows() - 1);
        EXPECT_EQ(buffer->marginLeft(), 0);
        EXPECT_EQ(buffer->marginRight(), t.cols() - 1);
    }
    EXPECT_EQ(host.sizeChanges, 1);
    for (int row = 0; row < t.rows(); ++row)
        EXPECT_EQ(t.getLine(row)->count(), t.cols()) << "row " << row << " has the grid's width";

    // With DECNCSM a VT500 keeps the screen; a lower level clears it anyway.
    t.feed("\x1b[mkeep\x1b[?95h\x1b[?3l");
    EXPECT_EQ(rowText(t, 0), "keep");
    EXPECT_EQ(host.sizeChanges, 2);
    t.feed("\x1b[64\"p"); // DECSCL: a VT400
    t.feed("\x1b[?3h");
    EXPECT_EQ(screenText(t), "||");
}

TEST(TerminalModesTests, ColumnModeSwitchesBetween80And132Columns)
{
    ModesFixture fixture;
    Terminal& t = fixture.t();
    t.feed("\x1b[?40h\x1b[?3h");
    EXPECT_EQ(t.cols(), 132);
    EXPECT_EQ(t.rows(), 3) << "the row count stays";
    EXPECT_EQ(requestMode(fixture, 3, true), modeReply(3, true, 1));
    EXPECT_EQ(t.buffer().marginRight(), 131);
    t.feed("\x1b[?3l");
    EXPECT_EQ(t.cols(), 80);
    EXPECT_EQ(requestMode(fixture, 3, true), modeReply(3, true, 2));
}

TEST(TerminalModesTests, ARunOfColumnSwitchesEndsAsSwitchesMadeOneByOne)
{
    // A run of switches defers the normal buffer's part after the first; fed one switch per feed
    // each switch is made in full. Both must leave the same terminal, for odd and even runs.
    std::string wrapped;
    for (int line = 0; line < 120; ++line)
        wrapped += "\x1b[4" + std::to_string(line % 8) + "m" +
                   std::string(size_t(10 + (line * 53) % 200), char('a' + line % 26)) + "\x1b[K\r\n";
    std::string wide;
    for (int line = 0; line < 40; ++line)
        wide += std::string(size_t(line % 7 + 75), 'x') + "\xe4\xb8\x80\xe4\xb8\x80 \x1b[7m  \x1b[m\r\n";
    const struct
    {
        const char* name;
        std::string output;
        int scrollback;
    } cases[] = {
        {"wrapped text over a full scrollback", wrapped, 30},
        {"a scrollback with room", wrapped, 1000},
        {"wide characters at the edge", wide + std::string(150, 'z'), 20},
        {"started at 132 columns, cursor inside a wrapped line", "\x1b[?3h" + wrapped + std::string(100, 'q'),
         40},
        {"from the alternate screen", wrapped + "\x1b[?1049h" + "alt", 30},
    };
    for (const auto& c : cases) {
        for (const int count : {1, 2, 3, 6, 7}) {
            TerminalOptions options = TerminalOptions::defaults();
            options.cols = 80;
            options.rows = 5;
            options.scrollback = c.scrollback;
            testing::DumpedTerminal whole(options);
            testing::DumpedTerminal oneByOne(options);
            for (testing::DumpedTerminal* t : {&whole, &oneByOne})
                t->feed("\x1b[?40h" + c.output);
            std::string run;
            for (int k = 0; k < count; ++k) {
                const std::string one =
                    (k % 2 == 0) == (whole.terminal().cols() == 80) ? "\x1b[?3h" : "\x1b[?3l";
                run += one;
                oneByOne.feed(one);
            }
            whole.feed(run);
            EXPECT_EQ(whole.dump(), oneByOne.dump()) << c.name << ", " << count << " switches";
            whole.feed("\x1b[?1049lend\r\n");
            oneByOne.feed("\x1b[?1049lend\r\n");
            EXPECT_EQ(whole.dump(), oneByOne.dump()) << c.name << ", " << count << " switches, then output";
        }
    }
}

TEST(TerminalModesTests, ARunThatWidensAndNarrowsRewritesWrappedRowsAsEachSwitchWould)
{
    // A narrowing rewrites every wrapped line, blanking the cells after its text; a run laid out
    // at its narrowest width that widens and then narrows must do the same. Here the top row
    // continues a line whose start fell off the ring, and blanks with a background follow its
    // text.
    for (const char* switches :
         {"\x1b[?3h\x1b[?3l", "\x1b[?3h\x1b[?3l\x1b[?3h", "\x1b[?3l\x1b[?3h\x1b[?3l"}) {
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = 9;
        options.rows = 1;
        options.scrollback = 5;
        testing::DumpedTerminal whole(options);
        testing::DumpedTerminal oneByOne(options);
        for (testing::DumpedTerminal* t : {&whole, &oneByOne})
            t->feed("\x1b[?40h\t\x1b[48;2;;;myl\n\n\n\n\n");
        whole.feed(switches);
        for (const char* at = switches; *at; at += 5)
            oneByOne.feed(std::string(at, 5));
        EXPECT_EQ(whole.dump(), oneByOne.dump()) << ::testing::PrintToString(std::string(switches));
    }
}

TEST(TerminalModesTests, ColumnSwitchesWithOutputBetweenEndAsFedOneByOne)
{
    // Output between switches keeps a run going, also when it scrolls into the scrollback; fed
    // in pieces, every switch reflows at once. Random mixes of switches, text, SGR, line feeds that scroll,
    // long lines, erases, regions, margins, the alternate screen, images, erasing the history, a
    // full reset and other sequences must leave the same terminal either way; also after
    // one line longer than the whole scrollback, which line feeds between the switches cut into,
    // and with images placed in the scrollback, whose rows must move as the rows fall off.
    // KESTROVAN_COLUMN_SWITCH_SEEDS runs more seeds than CI does, from
    // KESTROVAN_COLUMN_SWITCH_FIRST_SEED on.
    const char* seedsVariable = std::getenv("KESTROVAN_COLUMN_SWITCH_SEEDS");
    const uint32_t seeds = seedsVariable ? uint32_t(std::strtoul(seedsVariable, nullptr, 10)) : 200;
    const char* firstVariable = std::getenv("KESTROVAN_COLUMN_SWITCH_FIRST_SEED");
    for (uint32_t seed = firstVariable ? uint32_t(std::strtoul(firstVariable, nullptr, 10)) : 1;
         seed <= seeds; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&](int low, int high) {
            return std::uniform_int_distribution<int>(low, high)(random);
        };
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = pick(0, 1) == 0 ? 80 : pick(60, 140);
        options.rows = pick(3, 7);
        options.scrollback = pick(5, 50);
        std::string history;
        const int imageEvery = pick(0, 1) == 0 ? 0 : pick(3, 20);
        for (int line = pick(0, 80); line > 0; --line) {
            history += "\x1b[4" + std::to_string(line % 8) + "m" +
                       std::string(size_t(pick(0, 300)), char('a' + line % 26)) + "\x1b[m" +
                       (line % 5 == 0 ? "\xe4\xb8\x80" : "") + "\r\n";
            // An image over a few cells, which scrolls into the scrollback with the text.
            if (imageEvery != 0 && line % imageEvery == 0)
                history += "\x1b_Ga=T,f=24,s=1,v=1,C=1,c=" + std::to_string(pick(1, 4)) +
                           ",r=" + std::to_string(pick(1, 3)) + ";AAAA\x1b\\";
        }
        const bool oneLongLine = pick(0, 2) == 0;
        if (oneLongLine) {
            const int wideEvery = pick(2, 12);
            for (int cells = (options.scrollback + options.rows) * pick(150, 400); cells > 0; --cells)
                history += cells % wideEvery == 0 ? "\xe4\xb8\x80" : std::string(1, char('a' + cells % 26));
            history += "\r\n";
        }
        std::vector<std::string> pieces;
        for (int step = pick(1, 30); step > 0; --step) {
            pieces.push_back(pick(0, 1) == 0 ? "\x1b[?3h" : "\x1b[?3l");
            const std::string bottom = "\x1b[" + std::to_string(options.rows) + "H";
            switch (oneLongLine && pick(0, 2) != 0 ? 11 : pick(0, 24)) {
            case 0:
                break;
            case 11: // from the bottom row, a line feed or two
                pieces.push_back("\x1b[" + std::to_string(options.rows) + "H" +
                                 (pick(0, 1) == 0 ? "\n" : "\n\n"));
                break;
            case 8: // from the bottom row, a line or many into the (soon full) scrollback
            case 9:
                pieces.push_back("\x1b[" + std::to_string(options.rows) + "H");
                for (int line = pick(1, 2) == 1 ? 1 : pick(2, 30); line > 0; --line)
                    pieces.push_back(std::string(size_t(pick(0, 200)), 'v') + "\r\n");
                break;
            case 10: // an erase with a background after the text, on a wrapped line's rows
                pieces.push_back(std::string(size_t(pick(70, 200)), 'e') + "\x1b[45m\x1b[K\x1b[A\x1b[" +
                                 std::to_string(pick(1, 100)) + "G\x1b[K\x1b[m\x1b[B\r\n");
                break;
            case 1:
                pieces.push_back("x");
                break;
            case 2:
                pieces.push_back("\x1b[31mx\r\ny\x1b[m\r\n");
                break;
            case 3: // more lines than the screen holds
                for (int line = options.rows + pick(0, 4); line > 0; --line)
                    pieces.push_back(std::string(size_t(pick(0, 20)), 'z') + "\r\n");
                break;
            case 4: // a line the next narrower switch must reflow with the rest
                pieces.push_back(std::string(size_t(pick(81, 140)), 'w'));
                break;
            case 5:
                pieces.push_back("\x1b[2;5Hq\t\x08\x0b");
                break;
            case 6:
                pieces.push_back("\xe4\xb8\x80\xe4\xb8\x80 \x1b[7m  \x1b[m");
                break;
            case 12: // sequences that touch the screen rows alone
                pieces.push_back("ab\x1b[K\x1b[1K\x1b]2;title\x07\x1b[22t\x1b[23t\x1b"
                                 "7\x1b[3;3H\x1b"
                                 "8\x1b[2X");
                break;
            case 13: // a region from the top row that ends above the bottom one, scrolled
                pieces.push_back("\x1b[1;" + std::to_string(options.rows - 1) + "r\x1b[" +
                                 std::to_string(options.rows - 1) +
                                 "Hr\n\x1b"
                                 "D\x1b"
                                 "E\x1b[r");
                break;
            case 14: // a region below the top row, scrolled every way
                pieces.push_back("\x1b[2;" + std::to_string(options.rows) + "r" + bottom +
                                 "s\n\x1b[2H\x1bM\x1b[L\x1b[M\x1b[S\x1b[T\x1b[r");
                break;
            case 15: // a switch made on the alternate screen
                pieces.push_back("\x1b[?1049hA" + std::string(pick(0, 1) == 0 ? "\x1b[?3h" : "\x1b[?3l") +
                                 "B\x1b[?1049l");
                break;
            case 16: // switches that keep the screen, or blank it again
                pieces.push_back(pick(0, 1) == 0 ? "\x1b[?95h" : "\x1b[?95l");
                break;
            case 17:
                pieces.push_back("\x1b[3J");
                break;
            case 18: // scrolls with left and right margins
                pieces.push_back("\x1b[?69h\x1b[2;9smm" + bottom + "\nn\x1b[?69l");
                break;
            case 19: // a full reset, after which switches are allowed again
                pieces.push_back("\x1b"
                                 "c\x1b[?40h" +
                                 std::string(size_t(pick(0, 100)), 'r'));
                break;
            case 20: // a sixel image, which may scroll
                pieces.push_back(bottom + "\x1bPq#0;2;0;0;99#0~~~~\x1b\\\r\n");
                break;
            case 21: // an image placed on the screen, and placements deleted
                pieces.push_back(pick(0, 1) == 0
                                     ? "\x1b_Ga=T,f=24,s=1,v=1,C=1,c=2,r=2;AAAA\x1b\\"
                                     : "\x1b_Ga=d,d=" + std::string(pick(0, 1) == 0 ? "p,x=1,y=1" : "A") +
                                           "\x1b\\");
                break;
            case 22: // text wrapped on the screen when the next switch comes
                pieces.push_back(bottom + std::string(size_t(pick(60, 300)), 'k'));
                break;
            case 23:
                pieces.push_back("\x1b[5b\x1b[" + std::to_string(pick(1, 3)) + "S\x1b[@\x1b[P\x1b[2L");
                break;
            default:
                pieces.push_back("\x1b[?1049hA\x1b[?1049l");
                break;
            }
        }
        testing::DumpedTerminal whole(options);
        testing::DumpedTerminal inPieces(options);
        for (testing::DumpedTerminal* t : {&whole, &inPieces})
            t->feed("\x1b[?40h" + history);
        std::string all;
        for (const std::string& piece : pieces) {
            all += piece;
            inPieces.feed(piece);
        }
        whole.feed(all);
        std::string listed;
        for (const std::string& piece : pieces)
            listed += ::testing::PrintToString(piece) + "\n";
        EXPECT_EQ(whole.dump(), inPieces.dump()) << "seed " << seed << " pieces\n" << listed;
    }
}

TEST(TerminalModesTests, SoftReset)
{
    TerminalOptions options = smallOptions();
    options.initialBidiArrowKeySwap = false;
    ModesFixture fixture(options);
    Terminal& t = fixture.t();
    RecordingTerminalDelegate& host = *fixture.delegate;

    t.feed("\x1b[4h\x1b[2h\x1b[12l\x1b[20h\x1b[?6h\x1b[?7l\x1b[?1h\x1b[?66h\x1b[?45h\x1b[?1045h");
    t.feed("\x1b[?69h\x1b[?67h\x1b[?25l\x1b[1\"q\x1b[1;31;44m\x1b(0\x1b[?1243h\x1b[?2500h\x1b[8l");
    t.feed("\x1b[?1243;2500;2004s");
    t.feed("\x1b[1;6H\x1b"
           "7");          // DECSC with the cursor in column 5
    t.feed("\x1b[64\"p"); // DECSCL: a VT400
    t.feed("\x1b[4;10s"); // DECSLRM: left margin at column 3
    t.feed("\x1b[2;3r");  // DECSTBM: rows 1...2
    ASSERT_EQ(t.buffer().scrollTop(), 1);
    ASSERT_EQ(t.buffer().savedCursor().x, 5);
    ASSERT_EQ(t.buffer().marginLeft(), 3);
    host.showCursorCalls = 0;

    t.feed("\x1b[!p");

    EXPECT_FALSE(t.mode(TerminalMode::insertMode) || t.buffer(Terminal::BufferKind::normal).insertMode() ||
                 t.buffer(Terminal::BufferKind::alt).insertMode());
    EXPECT_FALSE(t.mode(TerminalMode::keyboardActionMode));
    EXPECT_TRUE(t.mode(TerminalMode::sendReceiveMode));
    EXPECT_FALSE(t.mode(TerminalMode::lineFeedMode)) << "back to the options' convertEol";
    EXPECT_FALSE(t.mode(TerminalMode::originMode));
    EXPECT_TRUE(t.mode(TerminalMode::wraparound) && t.buffer(Terminal::BufferKind::normal).wraparound() &&
                t.buffer(Terminal::BufferKind::alt).wraparound());
    EXPECT_FALSE(t.mode(TerminalMode::applicationCursor) || t.mode(TerminalMode::applicationKeypad) ||
                 t.mode(TerminalMode::backarrowKeyMode));
    EXPECT_FALSE(t.mode(TerminalMode::reverseWraparound) || t.mode(TerminalMode::reverseWraparoundExtended));
    EXPECT_FALSE(t.mode(TerminalMode::marginMode) || t.buffer(Terminal::BufferKind::normal).marginMode() ||
                 t.buffer(Terminal::BufferKind::alt).marginMode());
    EXPECT_FALSE(t.mode(TerminalMode::cursorHidden));
    EXPECT_EQ(host.showCursorCalls, 1);
    EXPECT_EQ(t.innerState().currentAttribute, Attribute());
    EXPECT_EQ(t.innerState().curStyleID, 0);
    EXPECT_EQ(t.innerState().currentEraseAttribute, Attribute()) << "the erase attribute returns with SGR 0";
    EXPECT_EQ(t.innerState().currentEraseBlankCell.attributeID(), 0);
    EXPECT_EQ(t.innerState().characterProtectionMode, Terminal::CharacterProtectionMode::off);
    EXPECT_FALSE(t.mode(TerminalMode::characterProtection) ||
                 t.buffer(Terminal::BufferKind::normal).characterProtection());
    EXPECT_FALSE(t.buffer(Terminal::BufferKind::normal).bulkInsertBlocked() ||
                 t.buffer(Terminal::BufferKind::alt).bulkInsertBlocked());
    EXPECT_EQ(t.buffer().scrollTop(), 0);
    EXPECT_EQ(t.buffer().scrollBottom(), t.rows() - 1);
    EXPECT_EQ(t.buffer().savedCursor().x, 0) << "the buffer's saved cursor is reset";
    EXPECT_EQ(t.buffer().marginLeft(), 0);
    EXPECT_EQ(t.innerState().conformance, Terminal::TerminalConformance::vt500);
    EXPECT_FALSE(t.mode(TerminalMode::bidiArrowKeySwap));
    EXPECT_EQ(t.currentBidiState(), options.initialBidiState);
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).defaultBidiState(), options.initialBidiState);
    EXPECT_EQ(t.innerState().savedPrivateModes.count(1243) + t.innerState().savedPrivateModes.count(2500), 0u)
        << "saved bidi modes are dropped";
    EXPECT_EQ(t.innerState().savedPrivateModes.count(2004), 1u) << "other saved modes stay";

    moveCursor(t, 0, 2);
    t.feed("q");
    EXPECT_EQ(rowText(t, 2), "q") << "the graphics set is no longer in effect";

    options.convertEol = true;
    ModesFixture converting(options);
    converting.t().feed("\x1b[20l");
    converting.t().softReset();
    EXPECT_TRUE(converting.t().mode(TerminalMode::lineFeedMode));
}

TEST(TerminalModesTests, SynchronizedOutputBeginAndEnd)
{
    ModesFixture fixture;
    Terminal& t = fixture.t();
    RecordingTerminalDelegate& host = *fixture.delegate;
    const auto& counters = t.synchronizedOutput().watchdogCounters();

    t.feed("\x1b[?2026h");
    EXPECT_TRUE(t.synchronizedOutputActive());
    EXPECT_EQ(t.synchronizedOutput().generation(), 1u);
    EXPECT_EQ(counters.armed, 1) << "armed when the feed ends";
    EXPECT_TRUE(t.synchronizedOutput().timeoutItem().has_value());
    EXPECT_EQ(requestMode(fixture, 2026, true), modeReply(2026, true, 1));

    t.feed("\x1b[?2026h");
    EXPECT_EQ(host.synchronizedOutputChanges, std::vector<bool>{true}) << "a second begin does not notify";
    EXPECT_EQ(t.synchronizedOutput().generation(), 2u);
    EXPECT_EQ(counters.rearmed, 1);

    t.clearUpdateRange();
    t.feed("\x1b[?2026l");
    EXPECT_FALSE(t.synchronizedOutputActive());
    EXPECT_EQ(host.synchronizedOutputChanges, (std::vector<bool>{true, false}));
    EXPECT_EQ(counters.cancelled, 1);
    EXPECT_EQ(counters.fired, 0);
    EXPECT_FALSE(t.synchronizedOutput().timeoutItem().has_value());
    EXPECT_EQ(t.getUpdateRange(), std::make_optional(std::make_pair(0, t.rows() - 1)))
        << "the held frame is repainted whole";

    t.feed("\x1b[?2026l");
    EXPECT_EQ(host.synchronizedOutputChanges.size(), 2u) << "ending twice notifies once";

    // Begin and end within one feed arm nothing.
    t.feed("\x1b[?2026hframe\x1b[?2026l");
    EXPECT_EQ(counters.armed, 1);
    EXPECT_EQ(counters.cancelled, 1);

    // Each feed applies the watchdog when it ends.
    t.feed("\x1b[?2026h");
    EXPECT_EQ(counters.armed, 2);
    t.feed("\x1b[?2026l");
    EXPECT_EQ(counters.cancelled, 2);
}

TEST(TerminalModesTests, SynchronizedOutputWatchdogFiresOnlyForTheCurrentUpdate)
{
    ModesFixture fixture;
    Terminal& t = fixture.t();
    t.feed("\x1b[?2026h");
    t.feed("\x1b[?2026h");
    t.synchronizedOutputWatchdogFired(1);
    EXPECT_TRUE(t.synchronizedOutputActive()) << "a firing for an update a later begin replaced";
    t.synchronizedOutputWatchdogFired(2);
    EXPECT_FALSE(t.synchronizedOutputActive());
    EXPECT_EQ(t.synchronizedOutput().watchdogCounters().fired, 1);
    EXPECT_EQ(fixture.delegate->synchronizedOutputChanges, (std::vector<bool>{true, false}));
    t.synchronizedOutputWatchdogFired(2);
    EXPECT_EQ(t.synchronizedOutput().watchdogCounters().fired, 1) << "a firing after the end";
}

TEST(TerminalModesTests, SynchronizedOutputLeftOpenIsEndedByTheTimer)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    t.setSynchronizedOutputTimeoutSeconds(0.01);
    t.terminalLock().withLock([&] { t.feed("\x1b[?2026h"); });
    // The watchdog takes the lock; poll under it until the update has ended.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool active = true;
    while (active && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        active = t.terminalLock().withLock([&] { return t.synchronizedOutputActive(); });
    }
    t.terminalLock().withLock([&] {
        EXPECT_FALSE(t.synchronizedOutputActive());
        EXPECT_EQ(t.synchronizedOutput().watchdogCounters().fired, 1);
        EXPECT_FALSE(t.synchronizedOutput().timeoutItem().has_value());
        EXPECT_EQ(fixture.delegate->synchronizedOutputChanges, (std::vector<bool>{true, false}));
    });
}

TEST(TerminalModesTests, WatchdogOfADestroyedTerminalDoesNothing)
{
    {
        TerminalFixture fixture;
        fixture.t().setSynchronizedOutputTimeoutSeconds(0.01);
        fixture.t().feed("\x1b[?2026h");
    }
    // The timer queue is serial and ordered by deadline: this item runs after the watchdog.
    std::promise<void> after;
    IOTimerQueue::shared().schedule(std::chrono::steady_clock::now() + std::chrono::milliseconds(30),
                                    [&] { after.set_value(); });
    EXPECT_EQ(after.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

TEST(TerminalModesTests, CursorVisibility)
{
    ModesFixture fixture;
    Terminal& t = fixture.t();
    RecordingTerminalDelegate& host = *fixture.delegate;
    t.feed("\x1b[?25l\x1b[?25l");
    EXPECT_TRUE(t.mode(TerminalMode::cursorHidden));
    EXPECT_EQ(host.hideCursorCalls, 1) << "hiding a hidden cursor does not notify";
    t.feed("\x1b[?25h\x1b[?25h");
    EXPECT_FALSE(t.mode(TerminalMode::cursorHidden));
    EXPECT_EQ(host.showCursorCalls, 1);
    t.feed("\x1b[?25l");
    t.feed("\x1b[?25h");
    EXPECT_EQ(host.hideCursorCalls, 2);
    EXPECT_EQ(host.showCursorCalls, 2);
}

} // namespace
} // namespace kestrovan::testing
