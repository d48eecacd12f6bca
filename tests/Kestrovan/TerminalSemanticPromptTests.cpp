// Shell integration (OSC 133): prompt, input and output content of printed cells, prompt groups
// and marks across wraps and scrolls, rows joined by line feeds, screen switches and resets, the
// view queries, and the scan of user input for a submitted command line.
#include "RecordingTerminalDelegate.h"
#include "TerminalTestAccess.h"
#include "TestSupport.h"

#include "Kestrovan/TerminalInnerState.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

using Cursor = std::pair<int, int>;

/// The content codes of an absolute row as digits (0 none, 1-4 prompt kinds, 5 input,
/// 6 output), trailing zeros dropped: "11555" is a two-cell prompt and three input cells.
std::string codes(Terminal& t, int row)
{
    std::string out;
    for (int col = 0; col < t.cols(); ++col) {
        const std::optional<SemanticContent> content = t.semanticContent(Position(col, row));
        out += content ? char('0' + content->code()) : '?';
    }
    out.erase(out.find_last_not_of('0') + 1);
    return out;
}

/// The marks of an absolute row as "kind@column" texts.
std::vector<std::string> marks(Terminal& t, int row)
{
    std::vector<std::string> out;
    for (const SemanticPromptAnchor& anchor : t.buffer().semanticPromptMarks(row)) {
        EXPECT_EQ(anchor.position.row, row);
        out.push_back(std::string(description(anchor.kind)) + "@" + std::to_string(anchor.position.col));
    }
    return out;
}

/// The prompt-group id of each mark of an absolute row.
std::vector<uint64_t> markGroups(Terminal& t, int row)
{
    std::vector<uint64_t> out;
    for (const SemanticMark& mark : bufferLine(t, row)->semanticMarks())
        out.push_back(mark.group);
    return out;
}

using Strings = std::vector<std::string>;

TEST(TerminalSemanticPromptTests, PromptStartTakesAFreshLineOpensAGroupAndMarksIt)
{
    TerminalFixture fixture(10, 4);
    Terminal& t = fixture.t();
    const Buffer& buffer = t.buffer();
    t.feed("hello");
    t.clearUpdateRange();
    t.feed(osc133("A"));
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 1)) << "the prompt starts on a fresh line";
    EXPECT_EQ(buffer.semanticPrompt().activeGroupID(), 1u);
    EXPECT_EQ(marks(t, 1), Strings{"initial@0"});
    EXPECT_EQ(buffer.semanticPrompt().content(), SemanticContent::prompt(SemanticPromptKind::initial));
    EXPECT_EQ(buffer.semanticPrompt().input(), SemanticInputState::prompt);
    EXPECT_EQ(t.buffer().activeSemanticPromptOrigin(), Position(0, 1));
    EXPECT_EQ(t.buffer().semanticRowKind(1), SemanticPromptKind::initial);
    ASSERT_TRUE(t.getUpdateRange());
    EXPECT_EQ(t.getUpdateRange()->second, 1) << "the marked row is redrawn";

    t.feed(osc133("A"));
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 1)) << "at the line start there is no new line";
    EXPECT_EQ(buffer.semanticPrompt().activeGroupID(), 1u)
        << "a prompt redrawn on its own row keeps its group";

    t.feed(osc133("N"));
    EXPECT_EQ(buffer.semanticPrompt().activeGroupID(), 2u) << "N always opens a group";
    EXPECT_EQ(markGroups(t, 1), std::vector<uint64_t>{2});

    t.feed("$ " + osc133("A"));
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 2));
    EXPECT_EQ(buffer.semanticPrompt().activeGroupID(), 3u) << "a prompt on another row opens a new group";

    t.feed(osc133("C") + osc133("A"));
    EXPECT_EQ(buffer.semanticPrompt().activeGroupID(), 4u) << "after the command ran the prompt is a new one";

    // With left and right margins the fresh line starts at the left margin.
    t.feed("\x1b[?69h\x1b[3;8s"); // DECLRMM, margins at columns 2...7
    t.feed("\x1b[1;4Hxy" + osc133("L"));
    EXPECT_EQ(t.getCursorLocation(), Cursor(2, 1)) << "L returns to the left margin on the next row";
    moveCursor(t, 1, 1);
    t.feed(osc133("L"));
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 2)) << "left of the margin the line start is column 0";
}

TEST(TerminalSemanticPromptTests, PrintedCellsCarryPromptInputAndOutputContent)
{
    TerminalFixture fixture(10, 6);
    Terminal& t = fixture.t();
    t.feed(osc133("A") + "$ " + osc133("B") + "ls");
    EXPECT_EQ(t.buffer().semanticPrompt().input(), SemanticInputState::armed);
    t.feed("\r\n" + osc133("C") + "a b\r\n" + osc133("D;0") + osc133("A") + "$ ");
    EXPECT_EQ(codes(t, 0), "1155");
    EXPECT_EQ(codes(t, 1), "666");
    EXPECT_EQ(codes(t, 2), "11");
    EXPECT_EQ(t.semanticContent(Position(5, 0)), SemanticContent::none()) << "unwritten cells are none";
    EXPECT_EQ(t.semanticContent(Position(2, 0)), SemanticContent::input());
    EXPECT_EQ(t.semanticContent(Position(0, 2)), SemanticContent::prompt(SemanticPromptKind::initial));

    // A right prompt and a secondary prompt keep their kinds.
    t.feed(osc133("B") + "x" + osc133("P;k=r") + "R");
    EXPECT_EQ(codes(t, 2), "1152");
    EXPECT_EQ(marks(t, 2), (Strings{"initial@0", "right@3"}));
    t.feed(osc133("A;k=s") + "> ");
    EXPECT_EQ(codes(t, 3), "44");
    EXPECT_EQ(t.buffer().semanticPrompt().input(), SemanticInputState::prompt);

    // The query rejects positions outside the screen width and the ring.
    EXPECT_FALSE(t.semanticContent(Position(-1, 0)));
    EXPECT_FALSE(t.semanticContent(Position(10, 0)));
    EXPECT_FALSE(t.semanticContent(Position(0, -1)));
    EXPECT_FALSE(t.semanticContent(Position(0, t.buffer().lines().count())));
    EXPECT_EQ(bufferLine(t, t.buffer().lines().count()), nullptr);
    EXPECT_EQ(bufferLine(t, -1), nullptr);
    EXPECT_EQ(bufferLine(t, 0).get(), t.buffer().lines().lineIfPresent(0).get());
}

TEST(TerminalSemanticPromptTests, OptionsAreParsedOrTheWholeSequenceIsIgnored)
{
    TerminalFixture fixture(10, 6);
    Terminal& t = fixture.t();
    const Buffer& buffer = t.buffer();
    t.feed("ab");

    t.feed(osc133("A;k=r"));
    EXPECT_EQ(t.getCursorLocation(), Cursor(2, 0)) << "a right prompt does not move the cursor";
    EXPECT_EQ(marks(t, 0), Strings{"right@2"});
    EXPECT_EQ(buffer.semanticPrompt().input(), SemanticInputState::idle) << "nor change the input state";
    EXPECT_EQ(buffer.semanticPrompt().content(), SemanticContent::none());

    t.feed(osc133("A;k=c"));
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 1));
    EXPECT_TRUE(marks(t, 1).empty()) << "a continuation prompt records no mark";
    EXPECT_EQ(buffer.semanticPrompt().content(), SemanticContent::prompt(SemanticPromptKind::continuation));
    EXPECT_EQ(buffer.semanticPrompt().input(), SemanticInputState::prompt);
    EXPECT_EQ(buffer.semanticPrompt().activeGroupID(), 0u) << "nor opens a group";

    t.feed("x");
    for (const char* payload : {"A;k=x", "A;cl=z", "A;click_events=3", "A;special_key=2", "AB", "a", "",
                                "A;k=", "Z", "A\xc3\x28", "\xc3\xa9"}) {
        t.feed(osc133(payload));
        EXPECT_EQ(t.getCursorLocation(), Cursor(1, 1)) << "payload \"" << payload << "\" is ignored";
        EXPECT_EQ(buffer.semanticPrompt().activeGroupID(), 0u) << payload;
    }
    t.feed("\x1b]133\x07");
    EXPECT_EQ(t.getCursorLocation(), Cursor(1, 1)) << "OSC 133 without a payload is ignored";

    struct Case
    {
        const char* payload;
        SemanticPromptClickMode mode;
        bool special;
    };
    const Case cases[] = {
        {"A", SemanticPromptClickMode::none(), false},
        {"A;aid=1;foo=bar;noequals", SemanticPromptClickMode::none(), false},
        {"A;click_events=1;cl=m", SemanticPromptClickMode::clickEventsAbsolute(), false},
        {"A;click_events=2", SemanticPromptClickMode::clickEventsRelative(), false},
        {"A;cl=m", SemanticPromptClickMode::cursorKeys(SemanticPromptCursorClickMode::multiple), false},
        {"A;cl=line", SemanticPromptClickMode::cursorKeys(SemanticPromptCursorClickMode::line), false},
        {"A;cl=w;special_key=1",
         SemanticPromptClickMode::cursorKeys(SemanticPromptCursorClickMode::smartVertical), true},
        {"A;click_events=1;click_events=0;cl=v",
         SemanticPromptClickMode::cursorKeys(SemanticPromptCursorClickMode::conservativeVertical), false},
        {"A;cl=m;cl=line;special_key=1;special_key=0",
         SemanticPromptClickMode::cursorKeys(SemanticPromptCursorClickMode::line), false},
    };
    for (const Case& c : cases) {
        // Other settings first, so each case shows what its payload sets.
        t.feed(osc133(std::string("A;click_events=2;special_key=") + (c.special ? "0" : "1")));
        ASSERT_EQ(buffer.semanticPrompt().clickMode(), SemanticPromptClickMode::clickEventsRelative());
        t.feed(osc133(c.payload));
        EXPECT_EQ(buffer.semanticPrompt().clickMode(), c.mode) << c.payload;
        EXPECT_EQ(t.innerState().semanticPromptClickMode, c.mode) << c.payload;
        EXPECT_EQ(buffer.semanticPrompt().usesSpecialCursorKeys(), c.special) << c.payload;
        EXPECT_EQ(buffer.semanticPrompt().input(), SemanticInputState::prompt) << c.payload;
    }

    // A secondary prompt inside a running group keeps the group's click settings.
    t.feed(osc133("A;cl=m") + "$ " + osc133("A;k=s;cl=line;special_key=1"));
    EXPECT_EQ(buffer.semanticPrompt().clickMode(),
              SemanticPromptClickMode::cursorKeys(SemanticPromptCursorClickMode::multiple));
    EXPECT_FALSE(buffer.semanticPrompt().usesSpecialCursorKeys());
    EXPECT_EQ(marks(t, t.buffer().yBase() + t.buffer().y()), Strings{"secondary@0"});
}

TEST(TerminalSemanticPromptTests, PromptTextMarksWithoutAFreshLine)
{
    TerminalFixture fixture(12, 4);
    Terminal& t = fixture.t();
    const Buffer& buffer = t.buffer();
    t.feed("out" + osc133("P;k=i;cl=m"));
    EXPECT_EQ(t.getCursorLocation(), Cursor(3, 0)) << "P takes no fresh line";
    EXPECT_EQ(buffer.semanticPrompt().activeGroupID(), 1u);
    EXPECT_EQ(marks(t, 0), Strings{"initial@3"});
    EXPECT_EQ(buffer.semanticPrompt().clickMode(),
              SemanticPromptClickMode::cursorKeys(SemanticPromptCursorClickMode::multiple));
    EXPECT_EQ(buffer.semanticPrompt().input(), SemanticInputState::idle) << "P keeps the input state";
    EXPECT_EQ(buffer.semanticPrompt().content(), SemanticContent::prompt(SemanticPromptKind::initial));

    t.feed(osc133("A") + "> " + osc133("P") + "$ ");
    EXPECT_EQ(buffer.semanticPrompt().activeGroupID(), 2u);
    EXPECT_EQ(marks(t, 1), Strings{"initial@2"}) << "a second P on the group's row reuses the group";
    EXPECT_EQ(markGroups(t, 1), std::vector<uint64_t>{2});
    EXPECT_EQ(buffer.semanticPrompt().clickMode(), SemanticPromptClickMode::none());

    t.feed(osc133("P;k=c") + "." + osc133("P;k=r"));
    EXPECT_EQ(marks(t, 1), (Strings{"initial@2", "right@5"})) << "P;k=c marks nothing";
    EXPECT_EQ(codes(t, 1), "11113");
}

TEST(TerminalSemanticPromptTests, LineFeedsWhileEditingJoinRowsToTheGroup)
{
    TerminalFixture fixture(10, 6);
    Terminal& t = fixture.t();
    const Buffer& buffer = t.buffer();
    // A command continued over two lines: the shell echoes the Enter inside the unfinished
    // command, then draws a continuation prompt.
    t.feed(osc133("A") + "$ " + osc133("B") + "echo \\\r\n" + osc133("A;k=c") + "> " + osc133("B") + "hi");
    EXPECT_EQ(bufferLine(t, 1)->semanticHardContinuationGroup(), 1u);
    EXPECT_EQ(t.buffer().semanticRowKind(1), SemanticPromptKind::continuation);
    EXPECT_TRUE(buffer.rowContinuesActiveGroupHard(1));
    EXPECT_EQ(codes(t, 1), "3355");
    EXPECT_EQ(t.buffer().activeSemanticPromptOrigin(), Position(0, 0)) << "the group still starts on row 0";

    // The echoed Enter of the finished command moves to a row that joins too; the output start
    // takes it back out.
    t.sendUserInput(bytesOf("\r"));
    t.feed("\r\n");
    EXPECT_FALSE(bufferLine(t, 2)->semanticHardContinuationGroup()) << "submitted input joins nothing";
    t.feed(osc133("B")); // editing a command line again
    ASSERT_EQ(buffer.semanticPrompt().input(), SemanticInputState::armed);
    t.feed("\n");
    ASSERT_EQ(bufferLine(t, 3)->semanticHardContinuationGroup(), 1u);
    const uint64_t generation = bufferLine(t, 3)->generation();
    t.feed(osc133("C"));
    EXPECT_FALSE(bufferLine(t, 3)->semanticHardContinuationGroup()) << "output does not continue the command";
    EXPECT_EQ(bufferLine(t, 3)->generation(), generation + BufferLine::decorationChange);
    EXPECT_EQ(bufferLine(t, 1)->semanticHardContinuationGroup(), 1u) << "only the cursor row is cleared";

    // Outside editing a line feed joins nothing.
    t.feed("out\r\n");
    EXPECT_FALSE(bufferLine(t, 4)->semanticHardContinuationGroup());
}

TEST(TerminalSemanticPromptTests, ARowTakenOverByANewGroupLosesItsStalePromptAndInputCells)
{
    TerminalFixture fixture(10, 6);
    Terminal& t = fixture.t();
    const Buffer& buffer = t.buffer();
    t.feed(osc133("A") + "$ " + osc133("B") + "a\r\n" + osc133("A;k=c") + "> " + osc133("B") + "b\r\n");
    ASSERT_EQ(bufferLine(t, 1)->semanticHardContinuationGroup(), 1u);
    // Output lands on the command's second row too (a program moved the cursor there).
    t.feed(osc133("C") + "\x1b[2;4Ho");
    ASSERT_EQ(codes(t, 1), "3356");
    t.feed("\x1b[4;1H" + osc133("A") + "$ " + osc133("B"));
    ASSERT_EQ(buffer.semanticPrompt().activeGroupID(), 2u);

    // The shell moves up over the old command (as a redraw would) and line-feeds onto its
    // second row while the new command line is being edited.
    t.feed("\x1b[1;1H\n");
    EXPECT_EQ(bufferLine(t, 1)->semanticHardContinuationGroup(), 2u);
    EXPECT_EQ(codes(t, 1), "0006") << "prompt and input codes go, output stays";

    // A row that already belongs to the active group is left alone.
    const uint64_t generation = bufferLine(t, 1)->generation();
    t.feed("\x1b[1;1H\n");
    EXPECT_EQ(bufferLine(t, 1)->generation(), generation);
}

TEST(TerminalSemanticPromptTests, MarksAndGroupsFollowWrapsAndScrolling)
{
    TerminalFixture fixture(10, 3, 2);
    Terminal& t = fixture.t();
    const Buffer& buffer = t.buffer();
    t.feed(osc133("A;cl=m") + "$ " + osc133("B") + "0123456789ab");
    EXPECT_TRUE(bufferLine(t, 1)->isWrapped());
    EXPECT_EQ(codes(t, 0), "1155555555");
    EXPECT_EQ(codes(t, 1), "5555");
    EXPECT_EQ(t.buffer().semanticRowKind(1), SemanticPromptKind::continuation)
        << "a soft-wrapped row continues the prompt";

    // Output scrolls the prompt into the scrollback; its mark and group go with its line.
    t.sendUserInput(bytesOf("\r"));
    t.feed("\r\n" + osc133("C") + "1\r\n2\r\n");
    EXPECT_EQ(buffer.yBase(), 2);
    EXPECT_EQ(marks(t, 0), Strings{"initial@0"});
    EXPECT_EQ(t.buffer().activeSemanticPromptOrigin(), Position(0, 0));
    const std::shared_ptr<const BufferLine> start = bufferLine(t, 0);
    const uint64_t recycleGeneration = start->recycleGeneration();
    EXPECT_EQ(t.semanticRow(*start, recycleGeneration), 0);
    EXPECT_EQ(t.semanticRow(*bufferLine(t, 3), bufferLine(t, 3)->recycleGeneration()), 3);

    // The ring is full now (3 rows + 2 of scrollback): the next line recycles the prompt's line.
    t.feed("3\r\n");
    EXPECT_EQ(codes(t, 0), "5555") << "the wrapped input row is now the oldest";
    EXPECT_FALSE(t.semanticRow(*start, recycleGeneration)) << "a recycled line is no longer the prompt's";
    EXPECT_FALSE(t.buffer().activeSemanticPromptOrigin()) << "no row opens the group any more";
    EXPECT_FALSE(buffer.findSemanticPromptStartRow());

    // A new prompt near the bottom, then scrolling by two lines: the group follows its line.
    t.feed(osc133("A") + "$ " + osc133("B") + "x\r\n" + osc133("C") + "\r\n");
    const std::optional<Position> origin = t.buffer().activeSemanticPromptOrigin();
    ASSERT_TRUE(origin);
    EXPECT_EQ(marks(t, static_cast<int>(origin->row)), Strings{"initial@0"});
    EXPECT_EQ(codes(t, static_cast<int>(origin->row)), "115");
}

TEST(TerminalSemanticPromptTests, ScreenSwitchesEndTheCommandLineInBothBuffers)
{
    TerminalFixture fixture(10, 4);
    Terminal& t = fixture.t();
    t.feed(osc133("A;cl=m") + "$ " + osc133("B"));
    // OSC 133 is ignored on the alternate screen, so no program gets prompt content there; it is
    // written directly, through the test-only hook, to check that a switch ends the command line in
    // the other buffer too.
    TerminalTestAccess::buffer(t, Terminal::BufferKind::alt)
        .semanticPrompt()
        .setContent(SemanticContent::prompt(SemanticPromptKind::right));

    t.feed("\x1b[?1049h");
    for (const Buffer* buffer :
         {&t.buffer(Terminal::BufferKind::normal), &t.buffer(Terminal::BufferKind::alt)}) {
        EXPECT_EQ(buffer->semanticPrompt().input(), SemanticInputState::submitted);
        EXPECT_EQ(buffer->semanticPrompt().content(), SemanticContent::output());
    }

    t.feed(osc133("A") + osc133("B") + "x");
    EXPECT_EQ(t.buffer(Terminal::BufferKind::alt).semanticPrompt().input(), SemanticInputState::submitted)
        << "OSC 133 is ignored on the alternate screen";
    EXPECT_TRUE(marks(t, t.buffer().yBase()).empty());
    EXPECT_EQ(codes(t, 0), "006") << "full-screen programs print output";

    t.feed("\x1b[?1049l");
    t.feed("\x1b[!p"); // DECSTR: the prompt state is forgotten
    ASSERT_EQ(t.buffer(Terminal::BufferKind::normal).semanticPrompt().content(), SemanticContent::none());
    t.feed("\x1b[?1049h");
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).semanticPrompt().content(), SemanticContent::none())
        << "none stays none";
}

TEST(TerminalSemanticPromptTests, ResetForgetsThePromptAndClearsScreenMarks)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    t.feed(osc133("A;cl=m;special_key=1") + "$ " + osc133("B") + "a\r\n" + osc133("A;k=c") + osc133("B") +
           "b");
    t.registerUserInput(bytesOf("\x1b[200~"));
    ASSERT_EQ(marks(t, 0), Strings{"initial@0"});
    ASSERT_TRUE(bufferLine(t, 1)->semanticHardContinuationGroup());
    const uint64_t row2Generation = bufferLine(t, 2)->generation();

    t.feed("\x1b[!p"); // DECSTR
    const Buffer& buffer = t.buffer();
    EXPECT_EQ(buffer.semanticPrompt().content(), SemanticContent::none());
    EXPECT_EQ(buffer.semanticPrompt().input(), SemanticInputState::idle);
    EXPECT_EQ(buffer.semanticPrompt().clickMode(), SemanticPromptClickMode::none());
    EXPECT_FALSE(buffer.semanticPrompt().usesSpecialCursorKeys());
    EXPECT_FALSE(buffer.findSemanticPromptStartRow());
    EXPECT_TRUE(marks(t, 0).empty());
    EXPECT_FALSE(bufferLine(t, 1)->semanticHardContinuationGroup());
    EXPECT_EQ(bufferLine(t, 2)->generation(), row2Generation) << "a row with neither is left untouched";
    EXPECT_EQ(codes(t, 0), "115") << "cell contents are not part of the reset";
    EXPECT_TRUE(t.registerUserInput(bytesOf("\r"))) << "the scanner left the paste";

    // A full reset goes through the same path.
    t.feed(osc133("A") + osc133("B") +
           "\x1b"
           "c");
    EXPECT_EQ(t.buffer().semanticPrompt().input(), SemanticInputState::idle);
    EXPECT_EQ(t.buffer().semanticPrompt().content(), SemanticContent::none());
}

TEST(TerminalSemanticPromptTests, SubmissionMovesOnlyAnArmedCommandLine)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    const Buffer& buffer = t.buffer();

    t.sendUserInput(bytesOf("x\r"));
    EXPECT_EQ(buffer.semanticPrompt().input(), SemanticInputState::idle) << "no prompt yet";
    t.feed(osc133("A"));
    t.sendUserInput(bytesOf("\r"));
    EXPECT_EQ(buffer.semanticPrompt().input(), SemanticInputState::prompt)
        << "Enter while the prompt is drawn";

    t.feed(osc133("B"));
    t.sendUserInput(bytesOf("ls"));
    EXPECT_EQ(buffer.semanticPrompt().input(), SemanticInputState::armed);
    t.sendUserInput(bytesOf("\x1b[200~a\rb\x1b[201~"));
    EXPECT_EQ(buffer.semanticPrompt().input(), SemanticInputState::armed)
        << "a pasted line break is not Enter";
    t.sendUserInput(bytesOf("\x1b[13;5u"));
    EXPECT_EQ(buffer.semanticPrompt().input(), SemanticInputState::submitted);
    t.sendUserInput(bytesOf("\r"));
    EXPECT_EQ(buffer.semanticPrompt().input(), SemanticInputState::submitted);

    EXPECT_EQ(fixture.delegate->sent(), "x\r\rls\x1b[200~a\rb\x1b[201~\x1b[13;5u\r")
        << "every byte reaches the child unchanged";
    EXPECT_EQ(fixture.delegate->sends.size(), 6u);
}

} // namespace
} // namespace kestrovan::testing
