// Designating character sets into G0-G3 and invoking them, as seen in printed text.
#include "RecordingTerminalDelegate.h"
#include "TestSupport.h"

#include "Kestrovan/CharSets.h"
#include "Kestrovan/TerminalInnerState.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

TEST(CharSetSwitchingTests, LineDrawingInG0)
{
    TerminalFixture fixture(20, 3);
    Terminal& t = fixture.t();
    t.feed("\x1b(0lqqk\x1b(Blqqk");
    EXPECT_EQ(rowText(t, 0), "\u250c\u2500\u2500\u2510lqqk") << "ESC ( B restores plain ASCII";
    EXPECT_EQ(t.innerState().charsets.charset(), nullptr)
        << "United States ASCII is stored as no translation";
    EXPECT_EQ(t.innerState().charsets.gCharsets()[0], nullptr);
}

TEST(CharSetSwitchingTests, ShiftOutAndShiftIn)
{
    TerminalFixture fixture(20, 3);
    Terminal& t = fixture.t();
    t.feed("\x1b)0x\x0ex\x0fx");
    EXPECT_EQ(rowText(t, 0), "x\u2502x") << "SO invokes G1, SI returns to G0";
    EXPECT_EQ(t.innerState().charsets.gLevel(), 0);

    // The right-half shifts act like the left-half ones.
    t.feed("\r\n\x1b*A\x1b+0\x1bn#\x1bo`\x1b~a\x1b|j\x1b}#");
    EXPECT_EQ(rowText(t, 1), "\u00a3\u25c6\u2592\u2518\u00a3");
    EXPECT_EQ(t.innerState().charsets.gLevel(), 2);
    t.feed("\x1b%G#");
    EXPECT_EQ(t.innerState().charsets.gLevel(), 0);
    EXPECT_EQ(t.innerState().charsets.gCharsets()[0], nullptr);
    EXPECT_EQ(rowText(t, 1), "\u00a3\u25c6\u2592\u2518\u00a3#") << "ESC % G returns to untranslated G0";
}

TEST(CharSetSwitchingTests, NinetySixCharacterDesignatorsAndNationalSets)
{
    TerminalFixture fixture(20, 3);
    Terminal& t = fixture.t();
    t.feed("\x1b-A");
    EXPECT_EQ(t.innerState().charsets.gCharsets()[1], CharSets::find('A'))
        << "ESC - A designates the United Kingdom set into G1";
    t.feed("\x1b.K\x1b/R");
    EXPECT_EQ(t.innerState().charsets.gCharsets()[2], CharSets::find('K'));
    EXPECT_EQ(t.innerState().charsets.gCharsets()[3], CharSets::find('R'));
    EXPECT_EQ(t.innerState().charsets.charset(), nullptr) << "designating another slot leaves G0 in effect";

    t.feed("\x1b(K@[\\]{|}~");
    EXPECT_EQ(rowText(t, 0), "\u00a7\u00c4\u00d6\u00dc\u00e4\u00f6\u00fc\u00df") << "German";
    t.feed("\x1b(4|");
    EXPECT_EQ(rowText(t, 0), "\u00a7\u00c4\u00d6\u00dc\u00e4\u00f6\u00fc\u00dff") << "Dutch | is a plain f";
}

TEST(CharSetSwitchingTests, DesignatingTheInvokedSlotTakesEffectAtOnce)
{
    TerminalFixture fixture(20, 3);
    Terminal& t = fixture.t();
    t.feed("\x0eq");
    EXPECT_EQ(rowText(t, 0), "q") << "G1 is empty: no translation";
    t.feed("\x1b)0q");
    EXPECT_EQ(rowText(t, 0), "q\u2500") << "G1 is invoked, so its new set applies to the next byte";
}

TEST(CharSetSwitchingTests, CommaIsNotADesignator)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    DiagnosticCapture capture;
    t.setSilentLog(false);
    t.feed("\x1b,0q\x1b(Zq");
    EXPECT_EQ(t.innerState().charsets.gCharsets(),
              (std::array<const CharacterMap*, 4>{CharSets::find('Z'), nullptr, nullptr, nullptr}));
    ASSERT_EQ(capture.lines.size(), 1u);
    EXPECT_EQ(capture.lines[0], "Info: Kestrovan: Unknown ESC Code: ESC + 0 txt=[44]");
    t.feed("\x1b(x");
    EXPECT_EQ(capture.lines.size(), 2u) << "a final that names no set is unknown";
}

} // namespace
} // namespace kestrovan::testing
