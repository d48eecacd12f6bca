// Click-to-move inside an OSC 133 command line: the gates on modifiers, the pointer snapshot and
// the input state, the cursor keys sent in each mode (with wide characters, wrapped input and
// multi-line commands), and the click reports.
#include "RecordingTerminalDelegate.h"
#include "TerminalTestAccess.h"
#include "TestSupport.h"

#include "Kestrovan/TerminalInnerState.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

using Modifiers = SemanticPromptClickModifiers;

std::string repeat(std::string_view sequence, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i)
        out += sequence;
    return out;
}

const std::string left = "\x1b[D";
const std::string right = "\x1b[C";
const std::string up = "\x1b[A";
const std::string down = "\x1b[B";

const SemanticPromptPointerSnapshot plainClick(false, false, 1, true);

/// A terminal with a click helper.
struct ClickFixture : TerminalFixture
{
    using TerminalFixture::TerminalFixture;

    /// Clicks (column, absolute row) and answers the bytes sent, or "(not handled)".
    std::string click(int col, int row, Modifiers modifiers = {})
    {
        delegate->sends.clear();
        if (!t().handleSemanticPromptClick(Position(col, row), modifiers))
            return delegate->sends.empty() ? "(not handled)" : "(not handled, but sent)";
        return delegate->sent();
    }
};

/// A shell has drawn a prompt with `options`, "$ " and the typed input "hello", the cursor after
/// it on screen row 0.
struct PromptFixture : ClickFixture
{
    explicit PromptFixture(std::string_view options) : ClickFixture(20, 5)
    {
        t().feed(osc133("A" + std::string(options)) + "$ " + osc133("B") + "hello");
    }
};

/// A two-line command: "$ ab" on row 0, then Enter inside the unfinished command, and "> cde" on
/// row 1 behind a continuation prompt; the cursor after "cde".
struct TwoLineFixture : ClickFixture
{
    explicit TwoLineFixture(std::string_view options) : ClickFixture(20, 5)
    {
        t().feed(osc133("A" + std::string(options)) + "$ " + osc133("B") + "ab\r\n" + osc133("A;k=c") + "> " +
                 osc133("B") + "cde");
    }
};

TEST(TerminalPromptClickTests, ModifierAndPointerGates)
{
    PromptFixture fixture(";cl=m");
    Terminal& t = fixture.t();
    const std::string fourLeft = repeat(left, 4);

    EXPECT_EQ(fixture.click(3, 0), fourLeft) << "a plain click with the default behaviour";
    EXPECT_EQ(fixture.click(3, 0, Modifiers::shift), "(not handled)");
    EXPECT_FALSE(t.mightRouteSemanticPromptClick(Modifiers::shift, plainClick));
    EXPECT_TRUE(t.mightRouteSemanticPromptClick({}, plainClick));

    t.setSemanticPromptClickBehavior(SemanticPromptClickBehavior::requireModifier(Modifiers::command));
    EXPECT_EQ(fixture.click(3, 0), "(not handled)") << "the behaviour asks for Command";
    EXPECT_EQ(fixture.click(3, 0, Modifiers::command), fourLeft);
    EXPECT_EQ(fixture.click(3, 0, Modifiers::command | Modifiers::shift), "(not handled)")
        << "more modifiers than asked for";
    EXPECT_TRUE(t.mightRouteSemanticPromptClick(Modifiers::command, plainClick));

    t.setSemanticPromptClickBehavior(SemanticPromptClickBehavior::disabled());
    EXPECT_EQ(fixture.click(3, 0), "(not handled)");
    EXPECT_FALSE(t.mightRouteSemanticPromptClick({}, plainClick));
    t.setSemanticPromptClickBehavior(SemanticPromptClickBehavior::enabled());

    struct Case
    {
        SemanticPromptPointerSnapshot snapshot;
        bool qualifies;
        const char* what;
    };
    const Case cases[] = {
        {plainClick, true, "single click"},
        {SemanticPromptPointerSnapshot(false, false, 2, true), false, "double click"},
        {SemanticPromptPointerSnapshot(false, false, 0, true), false, "no click count"},
        {SemanticPromptPointerSnapshot(false, true, 1, true), false, "drag"},
        {SemanticPromptPointerSnapshot(false, false, 1, false), false, "press not eligible"},
        {SemanticPromptPointerSnapshot(true, false, 1, true), false, "selection active throughout"},
        {SemanticPromptPointerSnapshot(true, false, 1, true, false), true, "selection gone at release"},
        {SemanticPromptPointerSnapshot(false, false, 1, true, true), false, "selection made by release"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(t.mightRouteSemanticPromptClick({}, c.snapshot), c.qualifies) << c.what;
        fixture.delegate->sends.clear();
        EXPECT_EQ(t.handleSemanticPromptClick(Position(3, 0), {}, c.snapshot), c.qualifies) << c.what;
        EXPECT_EQ(fixture.delegate->sent(), c.qualifies ? fourLeft : "") << c.what;
    }
    EXPECT_TRUE(SemanticPromptPointerSnapshot(true, false, 1, true).selectionIsActiveAtRelease)
        << "without the release state the press state is taken";
}

TEST(TerminalPromptClickTests, OnlyAnArmedCommandLineWithAClickModeTakesClicks)
{
    {
        PromptFixture fixture("");
        EXPECT_EQ(fixture.click(3, 0), "(not handled)") << "a prompt without cl or click_events";
        EXPECT_FALSE(fixture.t().mightRouteSemanticPromptClick({}, plainClick));
    }
    {
        TerminalFixture fixture(20, 5);
        Terminal& t = fixture.t();
        t.feed(osc133("A;cl=m") + "$ ");
        EXPECT_FALSE(t.handleSemanticPromptClick(Position(1, 0), {})) << "the prompt is still being drawn";
        EXPECT_FALSE(t.mightRouteSemanticPromptClick({}, plainClick));
    }
    {
        PromptFixture fixture(";cl=m");
        Terminal& t = fixture.t();
        t.sendUserInput(std::span(reinterpret_cast<const uint8_t*>("\r"), 1));
        EXPECT_EQ(fixture.click(3, 0), "(not handled)") << "the command was submitted";
        EXPECT_FALSE(t.mightRouteSemanticPromptClick({}, plainClick));
    }
    {
        PromptFixture fixture(";cl=m");
        Terminal& t = fixture.t();
        t.feed("\x1b[?1049h");
        // No program can arm a command line on the alternate screen (OSC 133 is ignored there);
        // the state is written directly, through the test-only hook, to check that such clicks are
        // refused all the same.
        Buffer& alternate = TerminalTestAccess::buffer(t, Terminal::BufferKind::alt);
        alternate.semanticPrompt().setInput(SemanticInputState::armed);
        alternate.semanticPrompt().setClickSettings(
            SemanticPromptClickMode::cursorKeys(SemanticPromptCursorClickMode::multiple), false);
        EXPECT_EQ(fixture.click(3, 0), "(not handled)") << "the alternate screen never takes clicks";
        EXPECT_FALSE(t.mightRouteSemanticPromptClick({}, plainClick));
    }
    {
        PromptFixture fixture(";cl=m");
        Terminal& t = fixture.t();
        EXPECT_EQ(fixture.click(-1, 0), "(not handled)");
        EXPECT_EQ(fixture.click(20, 0), "(not handled)") << "past the last column";
        EXPECT_EQ(fixture.click(3, -1), "(not handled)");
        EXPECT_EQ(fixture.click(3, t.buffer().lines().count()), "(not handled)");
        EXPECT_EQ(fixture.click(3, 1), "(not handled)") << "a row outside the group";
        EXPECT_EQ(fixture.click(7, 0), "(not handled)") << "the cursor's own cell";
        EXPECT_EQ(fixture.click(15, 0), "(not handled)") << "past the input: the cursor is already there";
        EXPECT_EQ(fixture.click(0, 0), repeat(left, 5)) << "a prompt cell means the input start";
    }
    {
        TerminalFixture fixture(20, 5);
        Terminal& t = fixture.t();
        t.feed(osc133("A;cl=m") + "$ " + osc133("B"));
        EXPECT_FALSE(t.handleSemanticPromptClick(Position(1, 0), {})) << "no input typed yet";
    }
}

TEST(TerminalPromptClickTests, CursorKeysOnOneLine)
{
    PromptFixture fixture(";cl=line");
    Terminal& t = fixture.t();
    EXPECT_EQ(fixture.click(3, 0), repeat(left, 4)) << "from after \"hello\" to its \"e\"";
    EXPECT_EQ(fixture.click(2, 0), repeat(left, 5));

    t.feed("\x1b[?1h");
    EXPECT_EQ(fixture.click(3, 0), repeat("\x1bOD", 4)) << "application cursor keys";

    t.feed("\x1b[4D\x1b[?1l");
    EXPECT_EQ(fixture.click(6, 0), repeat(right, 3)) << "after the shell moved its cursor left";
    t.feed("\x1b[?1h");
    EXPECT_EQ(fixture.click(6, 0), repeat("\x1bOC", 3));

    // Without a host the bytes go nowhere, but the click is still taken.
    fixture.delegate.reset();
    EXPECT_TRUE(t.handleSemanticPromptClick(Position(6, 0), {}));
}

TEST(TerminalPromptClickTests, WideCharactersCountOnceAndTheirRightHalfMeansTheCharacter)
{
    TerminalFixture fixture(20, 5);
    Terminal& t = fixture.t();
    t.feed(osc133("A;cl=m") + "$ " + osc133("B") + "a\u4e2d\u6587b");
    // Columns: "$ " 0-1, a 2, 中 3-4, 文 5-6, b 7; the cursor at 8 is 4 input cells in.
    ASSERT_EQ(t.getCursorLocation(), std::make_pair(8, 0));
    EXPECT_EQ(fixture.delegate->sends.size(), 0u);

    const auto click = [&](int col) {
        fixture.delegate->sends.clear();
        t.handleSemanticPromptClick(Position(col, 0), {});
        return fixture.delegate->sent();
    };
    EXPECT_EQ(click(3), repeat(left, 3)) << "left half of the first wide character";
    EXPECT_EQ(click(4), repeat(left, 3)) << "its right half is the same character";
    EXPECT_EQ(click(6), repeat(left, 2)) << "right half of the second";
    EXPECT_EQ(click(7), repeat(left, 1));

    t.feed("\x1b[1;3H");
    EXPECT_EQ(click(6), repeat(right, 2)) << "rightwards from the input start";
}

TEST(TerminalPromptClickTests, WrappedInputIsOneLogicalLine)
{
    TerminalFixture fixture(10, 5);
    Terminal& t = fixture.t();
    t.feed(osc133("A;cl=line") + "$ " + osc133("B") + "0123456789ab");
    ASSERT_TRUE(bufferLine(t, 1)->isWrapped());
    ASSERT_EQ(t.getCursorLocation(), std::make_pair(4, 1));
    EXPECT_EQ(t.buffer().semanticRowKind(1), SemanticPromptKind::continuation);

    const auto click = [&](int col, int row) {
        fixture.delegate->sends.clear();
        t.handleSemanticPromptClick(Position(col, row), {});
        return fixture.delegate->sent();
    };
    EXPECT_EQ(click(4, 0), repeat(left, 10)) << "a soft wrap is no line break, even in line mode";
    EXPECT_EQ(click(0, 1), repeat(left, 4));
    t.feed("\x1b[1;3H");
    EXPECT_EQ(click(1, 1), repeat(right, 9));
}

TEST(TerminalPromptClickTests, MultiLineCommandsInEachMode)
{
    {
        TwoLineFixture fixture(";cl=line");
        Terminal& t = fixture.t();
        ASSERT_EQ(bufferLine(t, 1)->semanticHardContinuationGroup(),
                  t.buffer().semanticPrompt().activeGroupID());
        EXPECT_EQ(fixture.click(3, 0), "(not handled)") << "line mode stays on the cursor's line";
        EXPECT_EQ(fixture.click(3, 1), repeat(left, 2));
    }
    {
        TwoLineFixture fixture(";cl=m");
        // Offsets: a 0, b 1, end of the first line 2, the break, c 3, d 4, e 5, cursor 6.
        EXPECT_EQ(fixture.click(2, 0), repeat(left, 6)) << "the line break counts as one cell";
        EXPECT_EQ(fixture.click(3, 0), repeat(left, 5));
        EXPECT_EQ(fixture.click(9, 0), repeat(left, 4)) << "past the end of the first line";
        fixture.t().feed("\x1b[1;4H");
        EXPECT_EQ(fixture.click(2, 1), repeat(right, 2)) << "to the second line's start";
    }
    for (const char* options : {";cl=v", ";cl=w"}) {
        TwoLineFixture fixture(options);
        EXPECT_EQ(fixture.click(3, 0), repeat(left, 3) + up + right) << options;
        EXPECT_EQ(fixture.click(2, 0), repeat(left, 3) + up) << options;
        EXPECT_EQ(fixture.click(3, 1), repeat(left, 2)) << options << ": same line, plain moves";
        fixture.t().feed("\x1b[1;4H");
        EXPECT_EQ(fixture.click(4, 1), repeat(left, 1) + down + repeat(right, 2)) << options;
        fixture.t().feed("\x1b[?1h");
        EXPECT_EQ(fixture.click(4, 1), "\x1bOD\x1bOB\x1bOC\x1bOC") << options;
    }
    {
        TwoLineFixture fixture(";cl=v;special_key=1");
        EXPECT_EQ(fixture.click(3, 0), repeat("\x1b[1;1u", 5)) << "special keys move horizontally only";
        fixture.t().feed("\x1b[1;3H");
        EXPECT_EQ(fixture.click(4, 1), repeat("\x1b[1u", 5));
    }
}

TEST(TerminalPromptClickTests, SpecialKeysReplaceTheArrows)
{
    PromptFixture fixture(";cl=line;special_key=1");
    fixture.t().feed("\x1b[?1h");
    EXPECT_EQ(fixture.click(4, 0), repeat("\x1b[1;1u", 3)) << "special keys ignore application cursor mode";
    fixture.t().feed("\x1b[1;3H");
    EXPECT_EQ(fixture.click(5, 0), repeat("\x1b[1u", 3));
}

TEST(TerminalPromptClickTests, ClickEventsReportThePress)
{
    {
        TerminalFixture fixture(20, 6);
        Terminal& t = fixture.t();
        t.feed("1\r\n2\r\n3\r\n4\r\n" + osc133("A;click_events=1;cl=m") + "$ " + osc133("B") + "ls");
        fixture.delegate->sends.clear();
        EXPECT_TRUE(t.handleSemanticPromptClick(Position(2, 4), {}));
        EXPECT_EQ(fixture.delegate->sent(), "\x1b[<0;3;5M") << "screen column 3, screen row 5, 1-based";
        EXPECT_EQ(t.innerState().semanticPromptClickMode, SemanticPromptClickMode::clickEventsAbsolute());

        // Scrolled: the report still gives the screen row.
        t.feed("\r\n\r\n");
        ASSERT_EQ(t.buffer().yBase(), 1);
        ASSERT_TRUE(bufferLine(t, 6)->semanticHardContinuationGroup());
        fixture.delegate->sends.clear();
        EXPECT_TRUE(t.handleSemanticPromptClick(Position(0, 4), {}));
        EXPECT_EQ(fixture.delegate->sent(), "\x1b[<0;1;4M");
        EXPECT_FALSE(t.handleSemanticPromptClick(Position(0, 3), {})) << "above the group";
    }
    {
        // Relative: rows count from the prompt row the clicked row hangs from.
        TerminalFixture fixture(20, 6);
        Terminal& t = fixture.t();
        t.feed("out\r\n" + osc133("A;click_events=2") + "$ " + osc133("B") + "a\r\n" + osc133("A;k=c") +
               "> " + osc133("B") + "b\r\n" + "xx" + osc133("P;k=s") + "; " + osc133("B") + "c");
        ASSERT_EQ(t.buffer().semanticPromptMarks(3).size(), 1u);
        const auto click = [&](int col, int row) {
            fixture.delegate->sends.clear();
            EXPECT_TRUE(t.handleSemanticPromptClick(Position(col, row), {})) << col << "," << row;
            return fixture.delegate->sent();
        };
        EXPECT_EQ(click(0, 1), "\x1b[<0;1;0M") << "the prompt's first row is row 0";
        EXPECT_EQ(click(4, 2), "\x1b[<0;5;1M");
        EXPECT_EQ(click(1, 3), "\x1b[<0;2;2M") << "left of the secondary prompt";
        EXPECT_EQ(click(2, 3), "\x1b[<0;3;0M") << "at the secondary prompt";
        EXPECT_EQ(click(5, 3), "\x1b[<0;6;0M");
        EXPECT_FALSE(t.handleSemanticPromptClick(Position(0, 0), {})) << "the output above the prompt";
    }
}

} // namespace
} // namespace kestrovan::testing
