// Text extraction: ranges join soft-wrapped rows and keep hard line ends, blank rows inside a
// range read as empty lines and trailing ones are dropped; the whole-buffer dump writes every row
// and leaves out rows its encoding cannot hold.
#include "RecordingTerminalDelegate.h"

#include "Kestrovan/Line.h"
#include "Kestrovan/TerminalInnerState.h"
#include "Kestrovan/TerminalTextExtraction.h"
#include "Kestrovan/Utf8.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrovan::testing {
namespace {

std::string dump(Terminal& t, Terminal::BufferKind kind, Terminal::TextEncoding encoding)
{
    const std::vector<uint8_t> data = getBufferAsData(t, kind, encoding);
    return std::string(data.begin(), data.end());
}

/// Prints wide (two-column) scalars at the cursor.
void printWide(Terminal& t, std::u32string_view scalars)
{
    std::string text;
    for (const char32_t scalar : scalars)
        appendUtf8(text, scalar);
    t.feed(text);
}

TEST(TerminalTextExtractionTests, SoftWrappedRowsJoinIntoOneLine)
{
    TerminalFixture f(80, 5);
    Terminal& t = f.t();
    const std::string word(200, 'w');
    t.feed(word);
    ASSERT_TRUE(t.buffer().lines().lineOrEmpty(1).isWrapped() &&
                t.buffer().lines().lineOrEmpty(2).isWrapped())
        << "the word continues on rows 1 and 2";

    EXPECT_EQ(getText(t, Position(0, 0), Position(80, 2)), word) << "no line feed where the rows wrapped";

    const std::vector<Line> lines = getSelectedLines(Position(0, 0), Position(80, 2), t.buffer());
    ASSERT_EQ(lines.size(), 1u) << "one logical line";
    ASSERT_EQ(lines[0].fragments.size(), 3u) << "one fragment per row";
    EXPECT_EQ(lines[0].length, 200);
    EXPECT_EQ(lines[0].fragments[2], (LineFragment{std::string(40, 'w'), 2, 0, 40}));

    // A range starting and ending inside the word.
    EXPECT_EQ(getText(t, Position(78, 0), Position(2, 1)), "wwww");
}

TEST(TerminalTextExtractionTests, HardLineEndsAndBlankRows)
{
    TerminalFixture f(10, 8);
    Terminal& t = f.t();
    t.feed("a\r\n\r\nb\r\n\r\n\r\nc");

    EXPECT_EQ(getText(t, Position(0, 0), Position(10, 2)), "a\n\nb") << "a, a blank row, b";
    EXPECT_EQ(getText(t, Position(0, 0), Position(10, 5)), "a\n\nb\n\n\nc")
        << "blank rows inside read as empty lines";
    EXPECT_EQ(getText(t, Position(0, 0), Position(10, 7)), "a\n\nb\n\n\nc")
        << "blank rows at the end are dropped";
    EXPECT_EQ(getText(t, Position(0, 3), Position(10, 5)), "\n\nc") << "blank rows at the start are kept";

    // The fragments behind "a", blank, "b": a line break ends each hard line on the row it ends.
    const std::vector<Line> lines = getSelectedLines(Position(0, 0), Position(10, 2), t.buffer());
    ASSERT_EQ(lines.size(), 3u);
    ASSERT_EQ(lines[0].fragments.size(), 2u);
    EXPECT_EQ(lines[0].fragments[0], (LineFragment{std::string("a"), 0, 0, 1}));
    EXPECT_EQ(lines[0].fragments[1], (LineFragment{std::string("\n"), 0, -1, 1}));
    EXPECT_EQ(lines[1].toString(), "\n");
    EXPECT_EQ(lines[1].fragments.back().line, 1);
    EXPECT_EQ(lines[2].toString(), "b");
}

TEST(TerminalTextExtractionTests, PartialRowsAndEitherOrder)
{
    TerminalFixture f(10, 3);
    Terminal& t = f.t();
    t.feed("abcdef\r\nghijkl");

    EXPECT_EQ(getText(t, Position(2, 0), Position(3, 1)), "cdef\nghi") << "from column 2, up to column 3";
    EXPECT_EQ(getText(t, Position(3, 1), Position(2, 0)), "cdef\nghi") << "ends given in reverse";
    EXPECT_EQ(getText(t, Position(1, 0), Position(5, 0)), "bcde");
    EXPECT_EQ(getText(t, Position(5, 0), Position(1, 0)), "bcde") << "same row, reverse order";
    EXPECT_EQ(getText(t, Position(3, 0), Position(3, 0)), "") << "equal positions";
    EXPECT_EQ(getText(t, Position(0, 0), Position(10, 99)), "abcdef\nghijkl") << "the end row is limited";
    EXPECT_EQ(getText(t, Position(0, -1), Position(10, 1)), "") << "negative start row";
    EXPECT_EQ(getText(t, Position(0, 3), Position(10, 9)), "") << "start row past the lines";
}

TEST(TerminalTextExtractionTests, RowText)
{
    TerminalFixture f(10, 3);
    Terminal& t = f.t();
    t.feed("a");
    moveCursor(t, 4, 0);
    t.feed("b");
    EXPECT_EQ(translateBufferLineToString(t.buffer(), 0, 0, -1), "a   b")
        << "empty cells between characters read as spaces, the row's end is trimmed";
    EXPECT_EQ(translateBufferLineToString(t.buffer(), 0, 1, 4), "   ");
    EXPECT_EQ(translateBufferLineToString(t.buffer(), 1, 0, -1), "") << "a blank row";
    EXPECT_EQ(translateBufferLineToString(t.buffer(), 7, 0, -1), "") << "a row past the buffer";

    // Wide characters: their right halves add nothing.
    moveCursor(t, 0, 1);
    printWide(t, U"\u65E5\u672C");
    t.feed("x");
    EXPECT_EQ(translateBufferLineToString(t.buffer(), 1, 0, -1), "\u65E5\u672Cx");
    EXPECT_EQ(translateBufferLineToString(t.buffer(), 1, 1, -1), "\u672Cx") << "from the first right half";
    const std::vector<Line> wide = getSelectedLines(Position(0, 1), Position(10, 1), t.buffer());
    EXPECT_EQ(wide[0].fragments[0].length, 3) << "length counts characters";

    // A grapheme cluster is read through the cell arena.
    moveCursor(t, 0, 2);
    t.feed("e\u0301!"); // a cluster cell
    EXPECT_EQ(getText(t, Position(0, 2), Position(10, 2)), "e\u0301!");
    const std::vector<Line> clustered = getSelectedLines(Position(0, 2), Position(10, 2), t.buffer());
    EXPECT_EQ(clustered[0].fragments[0].length, 2) << "one character for the cluster, one for '!'";
}

TEST(TerminalTextExtractionTests, RangesReachIntoScrollback)
{
    TerminalFixture f(10, 3, 100);
    Terminal& t = f.t();
    t.feed("one\r\ntwo\r\nthree\r\nfour\r\nfive");
    ASSERT_EQ(t.buffer().yBase(), 2) << "two rows went into scrollback";
    EXPECT_EQ(getText(t, Position(0, 0), Position(10, 4)), "one\ntwo\nthree\nfour\nfive") << "absolute rows";
    EXPECT_EQ(getText(t, Position(0, 1), Position(2, 3)), "two\nthree\nfo");
}

TEST(TerminalTextExtractionTests, WholeBufferDump)
{
    TerminalFixture f(10, 3, 100);
    Terminal& t = f.t();
    using Kind = Terminal::BufferKind;
    using Encoding = Terminal::TextEncoding;

    t.feed("one\r\ntwo");
    EXPECT_EQ(dump(t, Kind::active, Encoding::utf8), "one\ntwo\n\n")
        << "a blank last row still ends in a line feed";

    t.feed("\r\nthree\r\nfour");
    EXPECT_EQ(dump(t, Kind::normal, Encoding::utf8), "one\ntwo\nthree\nfour\n") << "scrollback included";

    // Soft-wrapped rows each get a line of their own.
    t.feed("\r\n0123456789abc");
    EXPECT_EQ(dump(t, Kind::active, Encoding::ascii), "one\ntwo\nthree\nfour\n0123456789\nabc\n");

    // The alternate buffer: empty until used, then its own rows.
    EXPECT_EQ(dump(t, Kind::alt, Encoding::utf8), "") << "a buffer without lines";
    t.feed("\x1b[?47h");
    moveCursor(t, 0, 0);
    t.feed("alt");
    EXPECT_EQ(dump(t, Kind::alt, Encoding::utf8), "alt\n\n\n");
    EXPECT_EQ(dump(t, Kind::active, Encoding::utf8), "alt\n\n\n");
    EXPECT_EQ(dump(t, Kind::normal, Encoding::utf8), "one\ntwo\nthree\nfour\n0123456789\nabc\n");
}

TEST(TerminalTextExtractionTests, DumpLeavesOutRowsTheEncodingCannotHold)
{
    TerminalFixture f(10, 4, 0);
    Terminal& t = f.t();
    using Encoding = Terminal::TextEncoding;

    t.feed("plain\r\ncaf\xC3\xA9\r\n");
    printWide(t, U"\u65E5");
    t.feed("\r\na");
    moveCursor(t, 3, 3);
    t.feed("b");

    EXPECT_EQ(dump(t, Terminal::BufferKind::active, Encoding::utf8),
              "plain\ncaf\xC3\xA9\n\xE6\x97\xA5\na  b\n");
    EXPECT_EQ(dump(t, Terminal::BufferKind::active, Encoding::ascii), "plain\na  b\n")
        << "the rows with \xC3\xA9 and the CJK character are missing, line feeds and all";
    EXPECT_EQ(dump(t, Terminal::BufferKind::active, Encoding::isoLatin1), "plain\ncaf\xE9\na  b\n")
        << "ISO-8859-1 holds \xC3\xA9 as one byte, but not the CJK character";
}

} // namespace
} // namespace kestrovan::testing
