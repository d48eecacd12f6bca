// The kitty keyboard protocol's flags as a program drives them: push, pop, set and query, per screen.
#include "RecordingTerminalDelegate.h"

#include "Kestrovan/TerminalInnerState.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

/// Sends CSI ? u and returns the reply, clearing what was sent before.
std::string queryFlags(TerminalFixture& f)
{
    f.delegate->sends.clear();
    f.t().feed("\x1b[?u");
    return f.delegate->sent();
}

uint32_t stackDepth(TerminalFixture& f)
{
    Terminal& t = f.t();
    return static_cast<uint32_t>(
        (t.isCurrentBufferAlternate() ? t.innerState().keyboardModeAlt : t.innerState().keyboardModeNormal)
            .stack.size());
}

TEST(KittyKeyboardProtocolTests, PushPopAndQuery)
{
    TerminalFixture f;
    EXPECT_EQ(queryFlags(f), "\x1b[?0u") << "a fresh screen has no enhancements";

    f.t().feed("\x1b[>1u");
    EXPECT_EQ(queryFlags(f), "\x1b[?1u");
    EXPECT_EQ(f.t().keyboardEnhancementFlags(), KittyKeyboardFlags::disambiguate);

    f.t().feed("\x1b[>11u");
    EXPECT_EQ(queryFlags(f), "\x1b[?11u");
    f.t().feed("\x1b[<u");
    EXPECT_EQ(queryFlags(f), "\x1b[?1u") << "pop without a count pops one";
    f.t().feed("\x1b[<u");
    EXPECT_EQ(queryFlags(f), "\x1b[?0u");

    f.t().feed("\x1b[>u");
    EXPECT_EQ(queryFlags(f), "\x1b[?0u") << "push without flags pushes 0";
    EXPECT_EQ(stackDepth(f), 1u);

    f.t().feed("\x1b[>255u");
    EXPECT_EQ(queryFlags(f), "\x1b[?31u") << "bits the protocol does not define are dropped";
}

TEST(KittyKeyboardProtocolTests, PopCountsAndOverflow)
{
    TerminalFixture f;
    f.t().feed("\x1b[>1u\x1b[>2u\x1b[>4u");
    f.t().feed("\x1b[<2u");
    EXPECT_EQ(queryFlags(f), "\x1b[?1u") << "the last entry popped becomes current";
    EXPECT_EQ(stackDepth(f), 1u);

    f.t().feed("\x1b[<0u");
    EXPECT_EQ(queryFlags(f), "\x1b[?0u") << "a count of 0 pops one";
    EXPECT_EQ(stackDepth(f), 0u);

    f.t().feed("\x1b[>1u\x1b[>2u\x1b[<5u");
    EXPECT_EQ(queryFlags(f), "\x1b[?0u") << "popping more than the stack holds resets";
    EXPECT_EQ(stackDepth(f), 0u);

    f.t().feed("\x1b[<u");
    EXPECT_EQ(queryFlags(f), "\x1b[?0u") << "popping an empty stack is harmless";

    // Seventeen pushes: flags 1..17 masked to 31 are current in turn; the stack keeps 16 entries
    // and the first one (the initial 0) is lost.
    for (int i = 1; i <= 17; ++i)
        f.t().feed("\x1b[>" + std::to_string(i) + "u");
    EXPECT_EQ(stackDepth(f), 16u);
    EXPECT_EQ(queryFlags(f), "\x1b[?17u");
    f.t().feed("\x1b[<15u");
    EXPECT_EQ(queryFlags(f), "\x1b[?2u");
    f.t().feed("\x1b[<u");
    EXPECT_EQ(queryFlags(f), "\x1b[?1u") << "the oldest surviving entry is flags 1, not the initial 0";
    EXPECT_EQ(stackDepth(f), 0u);
}

TEST(KittyKeyboardProtocolTests, SetModes)
{
    TerminalFixture f;
    f.t().feed("\x1b[>1u"); // one stack entry, to see that set leaves it alone
    f.t().feed("\x1b[=8;2u");
    EXPECT_EQ(queryFlags(f), "\x1b[?9u") << "mode 2 adds bits";
    f.t().feed("\x1b[=9;3u");
    EXPECT_EQ(queryFlags(f), "\x1b[?0u") << "mode 3 removes bits";
    f.t().feed("\x1b[=3u");
    EXPECT_EQ(queryFlags(f), "\x1b[?3u") << "without a mode the flags are replaced";
    f.t().feed("\x1b[=24;1u");
    EXPECT_EQ(queryFlags(f), "\x1b[?24u") << "mode 1 replaces";
    f.t().feed("\x1b[=8;3u");
    EXPECT_EQ(queryFlags(f), "\x1b[?16u");
    f.t().feed("\x1b[=8;4u");
    EXPECT_EQ(queryFlags(f), "\x1b[?16u") << "an unknown mode changes nothing";
    f.t().feed("\x1b[=1;0u");
    EXPECT_EQ(queryFlags(f), "\x1b[?16u") << "mode 0 is not a mode";
    f.t().feed("\x1b[=u");
    EXPECT_EQ(queryFlags(f), "\x1b[?0u") << "set without parameters replaces with 0";
    f.t().feed("\x1b[=100;1u");
    EXPECT_EQ(queryFlags(f), "\x1b[?4u") << "set masks with 31";
    EXPECT_EQ(stackDepth(f), 1u) << "set never touches the stack";
    f.t().feed("\x1b[<u");
    EXPECT_EQ(queryFlags(f), "\x1b[?0u");
}

TEST(KittyKeyboardProtocolTests, ScreensKeepTheirOwnFlags)
{
    TerminalFixture f;
    f.t().feed("\x1b[>1u");
    f.t().feed("\x1b[?47h");
    EXPECT_EQ(queryFlags(f), "\x1b[?0u") << "the alternate screen starts without enhancements";
    f.t().feed("\x1b[>15u\x1b[>31u");
    EXPECT_EQ(f.t().keyboardEnhancementFlags().rawValue, 31u);
    EXPECT_EQ(f.t().innerState().keyboardModeNormal.flags, KittyKeyboardFlags::disambiguate)
        << "pushing on the alternate screen leaves the normal screen alone";

    f.t().feed("\x1b[?1047l");
    EXPECT_EQ(queryFlags(f), "\x1b[?1u");
    f.t().feed("\x1b[<u");
    EXPECT_EQ(queryFlags(f), "\x1b[?0u");

    f.t().feed("\x1b[?47h");
    EXPECT_EQ(queryFlags(f), "\x1b[?31u") << "switching back finds the alternate screen's flags as left";
    EXPECT_EQ(stackDepth(f), 2u);
}

TEST(KittyKeyboardProtocolTests, ReplyFormFollowsEightBitControls)
{
    TerminalFixture f;
    f.t().feed("\x1b[>5u");
    f.t().feed("\x1b G"); // S8C1T
    EXPECT_EQ(queryFlags(f), "\x9b?5u");
    f.t().feed("\x1b F"); // S7C1T
    EXPECT_EQ(queryFlags(f), "\x1b[?5u");
    EXPECT_EQ(f.delegate->sends.size(), 1u) << "the reply is sent in one piece";
}

TEST(KittyKeyboardProtocolTests, OnlyOneMarkerByteIsTheProtocol)
{
    TerminalFixture f;
    Terminal& t = f.t();
    t.feed("\x1b[>1u");
    EXPECT_EQ(t.keyboardEnhancementFlags().rawValue, 1u);
    t.feed("\x1b[>>2u");
    EXPECT_EQ(t.keyboardEnhancementFlags().rawValue, 1u) << "two collected bytes are not the protocol's";
    t.feed("\x1b[2u");
    EXPECT_EQ(t.keyboardEnhancementFlags().rawValue, 1u) << "plain CSI u is restore-cursor";
    t.feed("\x1b[ 2u");
    EXPECT_EQ(t.keyboardEnhancementFlags().rawValue, 1u) << "declined sequences change nothing";

    f.delegate->sends.clear();
    t.feed("\x1b[>>3u\x1b[ u\x1b[u");
    EXPECT_EQ(t.keyboardEnhancementFlags().rawValue, 1u);
    EXPECT_TRUE(f.delegate->sends.empty()) << "declined sequences do not reply";
}

} // namespace
} // namespace kestrovan::testing
