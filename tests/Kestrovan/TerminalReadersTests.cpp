// The terminal's readers (cells and lines, text, links, prompt marks) through a const terminal:
// that they compile there shows they are const, and the state dumps before and after show that
// reading changed nothing, not even where a writer would have settled a stale prompt start.
#include "RecordingTerminalDelegate.h"
#include "TerminalStateDump.h"
#include "TestSupport.h"

#include "Kestrovan/Line.h"
#include "Kestrovan/LinkMatch.h"
#include "Kestrovan/TerminalLinks.h"
#include "Kestrovan/TerminalTextExtraction.h"

#include <gtest/gtest.h>
#include <string>
#include <type_traits>

namespace kestrovan::testing {
namespace {

// Lines handed to readers cannot be changed through what they get.
static_assert(
    std::is_same_v<decltype(std::declval<const Terminal&>().getLine(0)), std::shared_ptr<const BufferLine>>);
static_assert(std::is_same_v<decltype(std::declval<const CircularBufferLineList&>().lineIfPresent(0)),
                             std::shared_ptr<const BufferLine>>);

TEST(TerminalReadersTests, ReadingThroughAConstTerminalChangesNothing)
{
    TerminalFixture fixture(24, 3, 2);
    Terminal& t = fixture.t();
    t.feed(osc133("A") + "$ " + osc133("B") + "ls\r\n" + osc133("C") +
           "\x1b]8;;https://a.example\x1b\\link\x1b]8;;\x1b\\ see ./dir/f.txt\r\n");
    // Four more lines recycle the prompt's line: the start line the buffer holds is stale now,
    // and the query a writer makes would forget it.
    t.feed("1\r\n2\r\n3\r\n4");
    const Buffer& buffer = t.buffer();
    const std::shared_ptr<BufferLine> staleStart = buffer.semanticPrompt().startLine();
    ASSERT_TRUE(staleStart);
    const std::string before = dumpTerminalState(t);

    const Terminal& reader = t;
    const Buffer& lines = reader.buffer();
    std::string seen;
    for (int row = 0; row < lines.lines().count(); ++row) {
        seen += translateBufferLineToString(lines, row, 0, -1) + "|";
        for (int col = 0; col < reader.cols(); col += 5) {
            const Position at(col, row);
            (void)link(reader, LinkLookupLocation::buffer(at), LinkLookupMode::explicitAndImplicit);
            (void)buildImplicitLineMap(reader, at, lines);
            (void)payloadCode(reader, at, lines);
            (void)reader.semanticContent(at);
        }
        (void)heuristicImplicitGroup(reader, row, lines);
        (void)linkRowEdgeInfo(reader, row, lines);
        (void)reader.buffer().semanticRowKind(row);
        (void)reader.buffer().semanticPromptMarks(row);
        if (const std::shared_ptr<const BufferLine> line = bufferLine(reader, row))
            (void)reader.semanticRow(*line, line->recycleGeneration());
    }
    for (int row = 0; row < reader.rows(); ++row) {
        (void)reader.getLine(row);
        (void)reader.getCharData(0, row);
        (void)getCharacter(reader, 1, row);
        (void)getText(reader, 2, row);
    }
    (void)reader.getScrollInvariantLine(lines.linesTop());
    (void)getBufferAsData(reader, Terminal::BufferKind::normal, Terminal::TextEncoding::utf8);
    (void)getSelectedLines(Position(0, 0), Position(5, 3), lines);

    EXPECT_EQ(seen, "link see ./dir/f.txt|1|2|3|4|");
    EXPECT_EQ(link(reader, LinkLookupLocation::buffer(Position(1, 0)), LinkLookupMode::explicitAndImplicit),
              "https://a.example");
    EXPECT_EQ(link(reader, LinkLookupLocation::buffer(Position(12, 0)), LinkLookupMode::explicitAndImplicit),
              "./dir/f.txt");
    EXPECT_EQ(getText(reader, Position(0, 1), Position(1, 4)), "1\n2\n3\n4");
    EXPECT_FALSE(reader.buffer().activeSemanticPromptOrigin()) << "no row opens the group any more";
    EXPECT_EQ(describeDumpDifference(before, dumpTerminalState(t)), "");
    EXPECT_EQ(buffer.semanticPrompt().startLine(), staleStart) << "reading leaves the stale start alone";

    // The writers' query settles it: a secondary prompt joins the group it finds, and finding none
    // (the stale start forgotten) it opens one on its own row.
    t.feed(osc133("A;k=s"));
    EXPECT_NE(buffer.semanticPrompt().startLine(), staleStart);
    EXPECT_EQ(buffer.findSemanticPromptStartRow(), buffer.yBase() + buffer.y());
}

} // namespace
} // namespace kestrovan::testing
