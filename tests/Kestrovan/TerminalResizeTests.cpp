#include "tests/Kestrovan/RecordingTerminalDelegate.h"
#include "tests/Kestrovan/TerminalStateDump.h"

#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalInnerState.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using kestrovan::BidiDirection;
using kestrovan::BidiPresentationState;
using kestrovan::BidiSupportMode;
using kestrovan::CellPixelSize;
using kestrovan::CsiParameters;
using kestrovan::Terminal;
using kestrovan::TerminalMode;
using kestrovan::TerminalOptions;
using kestrovan::TerminalPixelGeometry;
using kestrovan::testing::describeDumpDifference;
using kestrovan::testing::dumpBufferState;
using kestrovan::testing::DumpedTerminal;
using kestrovan::testing::RecordingTerminalDelegate;
using kestrovan::testing::rowText;
using kestrovan::testing::screenText;
using kestrovan::testing::TerminalFixture;

namespace {

// A host that knows its cell size in pixels (or not).
class SizingDelegate : public RecordingTerminalDelegate
{
public:
    std::optional<CellPixelSize> cellSize;
    int cellSizeQueries = 0;

    std::optional<CellPixelSize> cellSizeInPixels(Terminal&) override
    {
        ++cellSizeQueries;
        return cellSize;
    }
};

struct SizingFixture
{
    std::shared_ptr<SizingDelegate> delegate = std::make_shared<SizingDelegate>();
    std::shared_ptr<Terminal> terminal;

    SizingFixture(int cols, int rows)
    {
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = cols;
        options.rows = rows;
        terminal = Terminal::create(delegate, options);
    }
};

/// A line's cells: an empty cell or an inline blank as '.', the right halves of wide characters
/// left out, trailing empty cells trimmed.
std::string cellText(const kestrovan::BufferLine& line)
{
    std::string out;
    for (int col = 0; col < line.count(); ++col) {
        const kestrovan::PackedCell cell = line.packed(col);
        if (cell.isContinuation())
            continue;
        const bool empty =
            cell.isBlankKind() || (cell.kind() == kestrovan::PackedCell::Kind::scalar && cell.scalar() == 0);
        out += empty ? std::string(".") : line[col].getText();
    }
    return out.erase(out.find_last_not_of('.') + 1);
}

/// DECSCL with `values` as its parameters.
void setConformance(Terminal& t, std::initializer_list<int64_t> values)
{
    std::string sequence = "\x1b[";
    for (const int64_t value : values)
        sequence += (sequence.size() > 2 ? ";" : "") + std::to_string(value);
    t.feed(sequence + "\"p");
}

} // namespace

TEST(TerminalResize, SizesAreClampedAndEveryStateFollows)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    t.feed("ab");
    t.clearUpdateRange();
    t.resize(1, 0);
    EXPECT_EQ(t.cols(), 2);
    EXPECT_EQ(t.rows(), 1);
    EXPECT_EQ(t.options().cols, 2) << "the options follow, so a reset keeps the size";
    EXPECT_EQ(t.options().rows, 1);
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).cols(), 2);
    EXPECT_EQ(t.buffer(Terminal::BufferKind::alt).rows(), 1);
    EXPECT_EQ(rowText(t, 0), "ab");
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(0, 0));

    // New columns get the usual stops, in both buffers.
    t.resize(30, 3);
    for (int column : {8, 16, 24}) {
        EXPECT_TRUE(t.buffer(Terminal::BufferKind::normal).tabStops()[size_t(column)])
            << "normal, column " << column;
        EXPECT_TRUE(t.buffer(Terminal::BufferKind::alt).tabStops()[size_t(column)])
            << "alternate, column " << column;
    }
    EXPECT_FALSE(t.buffer(Terminal::BufferKind::normal).tabStops()[20]);

    // The same size again changes nothing.
    t.clearUpdateRange();
    const auto line = t.getLine(0);
    t.resize(30, 3);
    EXPECT_FALSE(t.getUpdateRange().has_value());
    EXPECT_EQ(t.getLine(0), line);
}

TEST(TerminalResize, TheNormalScreenReflowsAndTheCursorStaysOnItsText)
{
    TerminalFixture fixture(20, 4);
    Terminal& t = fixture.t();
    const std::string text = "the quick brown fox jumps over the lazy dog";
    t.feed(text + "\r\n$ ");
    ASSERT_EQ(screenText(t), "the quick brown fox|jumps over the lazy|dog|$");

    t.resize(10, 4);
    EXPECT_EQ(t.buffer().yBase(), 2) << "the top went into the scrollback";
    EXPECT_EQ(screenText(t), "jumps over| the lazy|dog|$");
    EXPECT_EQ(t.buffer().y(), 3);
    EXPECT_EQ(t.buffer().x(), 2);

    t.resize(50, 4);
    EXPECT_EQ(t.buffer().yBase(), 0);
    EXPECT_EQ(screenText(t), text + "|$||");
    EXPECT_EQ(t.buffer().y(), 1);
    EXPECT_EQ(t.buffer().x(), 2);
    t.feed("ls");
    EXPECT_EQ(rowText(t, 1), "$ ls") << "printing goes on where the cursor was";
}

// A line of 65 'x' at 32 columns, with a wide character printed at column 16 of its third row:
// 15 blanks lie between them, which reach the last column at 80 columns, before the wide
// character that starts the next row there. Those blanks are text: 132 columns show them all,
// whether the width got there directly, through 80 columns, or through column switches fed in
// one read or cut into two anywhere.
TEST(TerminalResize, BlanksBeforeAWideCharacterSurviveEveryWayToAWidth)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 32;
    options.rows = 5;
    options.scrollback = 40;
    const std::string text = "\x1b[?40h" + std::string(65, 'x') + "\n\n\n\n\x1b[1;17H\u4e2d\x1b[5;1H\n\n\n\n";
    const std::string switches = "\x1b[?3l\x1b[?3h";
    const std::string expected = std::string(65, 'x') + std::string(15, '.') + "\u4e2d";
    // The scrollback line holding the wide character, an empty cell shown as '.'.
    const auto wideLine = [](Terminal& t) {
        const kestrovan::Buffer& buffer = t.buffer();
        for (int row = 0; row < buffer.yBase(); ++row) {
            const std::string text = cellText(*buffer.lines().lineIfPresent(row));
            if (text.find("\u4e2d") != std::string::npos)
                return text;
        }
        return std::string("no line holds the wide character");
    };

    DumpedTerminal whole(options);
    whole.feed(text + switches);
    EXPECT_EQ(whole.terminal().cols(), 132);
    EXPECT_EQ(wideLine(whole.terminal()), expected) << "fed whole";
    const std::string wholeDump = whole.dump();
    for (size_t cut = text.size() + 5; cut < text.size() + switches.size(); ++cut) {
        DumpedTerminal split(options);
        const std::string bytes = text + switches;
        split.feed(bytes.substr(0, cut));
        split.feed(bytes.substr(cut));
        EXPECT_EQ(wideLine(split.terminal()), expected) << "cut at " << cut;
        EXPECT_EQ(describeDumpDifference(wholeDump, split.dump()), "") << "cut at " << cut;
    }

    DumpedTerminal direct(options);
    direct.feed(text);
    direct.resize(132, 5);
    DumpedTerminal through80(options);
    through80.feed(text);
    through80.resize(80, 5);
    through80.resize(132, 5);
    EXPECT_EQ(wideLine(direct.terminal()), expected) << "32 -> 132";
    EXPECT_EQ(wideLine(through80.terminal()), expected) << "32 -> 80 -> 132";
    EXPECT_EQ(describeDumpDifference(dumpBufferState(direct.terminal().buffer()),
                                     dumpBufferState(through80.terminal().buffer())),
              "");
}

// A wide character that does not fit in the last column leaves it as a gap, which widening
// closes. Anything else that writes the column afterwards makes it text again: each history ends
// with the same cells as its twin, whose last column held a character instead of the gap, and
// must read as the twin does at 80 columns (an empty cell shown as '.').
TEST(TerminalResize, AGapWrittenOverReadsAsTheTextThere)
{
    const std::string wide = "\u4e2d";
    // The gap, or a character, at column 32 after 31 'x'; the same after 30 'x' and a blank.
    const std::string gap = std::string(31, 'x') + wide;
    const std::string filled = std::string(31, 'x') + "Z" + wide;
    const std::string gapAfterBlank = std::string(30, 'x') + "\x1b[C" + wide;
    const std::string filledAfterBlank = std::string(30, 'x') + "\x1b[CZ" + wide;
    // The gap left with the right half of a wide character still in the column, or no gap.
    const std::string gapOverHalf = std::string(30, 'x') + wide + "\x1b[1;32H" + wide;
    const std::string noGap = std::string(30, 'x') + wide + wide;
    const std::string x31 = std::string(31, 'x');
    struct Case
    {
        const char* name;
        std::string history;
        std::string twin;
        std::string edit;
        std::string expected;
    };
    const Case cases[] = {
        {"ECH in red", gap, filled, "\x1b[1;32H\x1b[41m\x1b[X\x1b[m", x31 + "." + wide},
        {"EL", gap, filled, "\x1b[1;32H\x1b[K", x31 + "." + wide},
        {"DECSEL", gap, filled, "\x1b[1;32H\x1b[?K", x31 + "." + wide},
        {"DCH", gap, filled, "\x1b[1;32H\x1b[P", x31 + "." + wide},
        {"DECCARA", gap, filled + "\x1b[1;32H\x1b[K", "\x1b[2*x\x1b[1;32;1;32;4$r", x31 + "." + wide},
        {"DECCRA", gap, filled, "\x1b[3;1;3;1;1;1;32;1$v", x31 + "." + wide},
        {"a character cutting a wide one", gapOverHalf, noGap, "\x1b[1;31Ha",
         std::string(30, 'x') + "a." + wide},
        {"a protected one", gapOverHalf, noGap, "\x1b[1;31H\x1b[1\"qa\x1b[0\"q",
         std::string(30, 'x') + "a." + wide},
        {"insert mode", gapAfterBlank, filledAfterBlank, "\x1b[H\x1b[4hy\x1b[4l",
         "y" + std::string(30, 'x') + "." + wide},
        {"ICH", gapAfterBlank, filledAfterBlank, "\x1b[H\x1b[@", "." + std::string(30, 'x') + "." + wide},
        // IL within the margins 2 to 32, at the top of a region whose last row is the gap's.
        {"IL within margins", "a\r\n" + gap, "a\r\n" + filled,
         "\x1b[?69h\x1b[2;32s\x1b[1;2r\x1b[1;2H\x1b[L\x1b[r\x1b[?69l", "x" + std::string(31, '.') + wide},
    };
    // The screen row holding the wide character.
    const auto wideRow = [&](Terminal& t) {
        for (int row = 0; row < t.rows(); ++row) {
            const std::string text = cellText(*t.buffer().lines().lineIfPresent(t.buffer().yBase() + row));
            if (text.find(wide) != std::string::npos)
                return text;
        }
        return std::string("no row holds the wide character");
    };
    const auto cells = [](Terminal& t) {
        std::vector<uint64_t> out;
        for (int row = 0; row < 3; ++row) {
            const kestrovan::BufferLine& line = *t.buffer().lines().lineIfPresent(t.buffer().yBase() + row);
            for (int col = 0; col < line.count(); ++col)
                out.push_back(line.packed(col).rawValue);
        }
        return out;
    };
    for (const Case& test : cases) {
        TerminalFixture history(32, 5, 40);
        TerminalFixture twin(32, 5, 40);
        // The cursor leaves the rows written, whose group a reflow would otherwise leave as it is.
        history.t().feed(test.history + test.edit + "\x1b[5H");
        twin.t().feed(test.twin + test.edit + "\x1b[5H");
        ASSERT_EQ(cells(history.t()), cells(twin.t())) << test.name << ": not twins";
        history.t().resize(80, 5);
        twin.t().resize(80, 5);
        EXPECT_EQ(wideRow(twin.t()), test.expected) << test.name;
        EXPECT_EQ(wideRow(history.t()), test.expected) << test.name;
    }
}

TEST(TerminalResize, WithTheAlternateScreenActiveTheNormalScreenWaits)
{
    TerminalFixture fixture(20, 4);
    Terminal& t = fixture.t();
    t.feed("the quick brown fox jumps\r\n$ ");
    ASSERT_EQ(t.buffer(Terminal::BufferKind::normal).savedCursor().y, 0)
        << "nothing saved: the slot is the top row";
    t.feed("\x1b[?47h");
    kestrovan::testing::moveCursor(t, 0, 0);
    t.feed("alternate text here");

    t.resize(10, 3);
    EXPECT_EQ(t.buffer(Terminal::BufferKind::alt).cols(), 10);
    EXPECT_EQ(t.buffer(Terminal::BufferKind::alt).rows(), 3);
    EXPECT_EQ(t.buffer().lines().lineOrEmpty(0).count(), 20)
        << "the alternate screen keeps its cells and never reflows";
    EXPECT_EQ(rowText(t, 0), "alternate");
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).cols(), 20)
        << "the normal screen is resized when it returns";
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).rows(), 4);

    t.feed("\x1b[?1047l");
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).cols(), 10);
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).rows(), 3);
    EXPECT_EQ(screenText(t), "brown fox|jumps|$");
    // The saved row kept its distance from the cursor (two rows above it) through the resize;
    // the cursor itself then comes over from the alternate screen.
    EXPECT_EQ(t.buffer().savedCursor().y, 0);
    EXPECT_EQ(t.buffer().y(), 0);
    EXPECT_TRUE(t.buffer().tabStops()[8]);
}

// Regression. Input: leave the alternate screen (clearing it), resize from 5 rows to 3, show it
// again and feed ten line feeds. Old result: yBase 2 and a ring of 5 lines. Resizing the empty
// ring kept its 5-line capacity, so its line feeds pushed a history the alternate screen must not have.
TEST(TerminalResize, AClearedAlternateScreenMadeShorterGrowsNoHistory)
{
    TerminalFixture fixture(10, 5);
    Terminal& t = fixture.t();
    t.feed("\x1b[?47h");
    t.feed("\x1b[?1047l");
    t.resize(10, 3);
    EXPECT_EQ(t.buffer(Terminal::BufferKind::alt).lines().maxLength(), 3);
    t.feed("\x1b[?47h");
    t.feed(std::string(10, '\n'));
    EXPECT_EQ(t.buffer().yBase(), 0);
    EXPECT_EQ(t.buffer().lines().count(), 3);
}

TEST(TerminalResize, InBandSizeReports)
{
    SizingFixture fixture(80, 24);
    Terminal& t = *fixture.terminal;
    SizingDelegate& host = *fixture.delegate;

    // Off: nothing is sent, but the geometry is still recorded.
    t.updatePixelGeometry(9, 18);
    EXPECT_TRUE(host.sends.empty());
    EXPECT_EQ(t.innerState().pixelGeometry, (TerminalPixelGeometry{24, 80, 9, 18}));

    t.feed("\x1b[?2048h");
    EXPECT_EQ(host.sent(), "\x1b[48;24;80;432;720t") << "switching reports on reports at once";
    host.sends.clear();
    const auto line = t.getLine(0);
    t.resize(80, 24);
    ASSERT_EQ(host.sends.size(), 1u) << "every resize call reports, even to the same size";
    EXPECT_EQ(host.sent(), "\x1b[48;24;80;432;720t");
    EXPECT_EQ(t.getLine(0), line) << "and nothing moved";

    t.resize(100, 30);
    EXPECT_EQ(host.sends.size(), 2u);
    EXPECT_EQ(std::string(host.sends[1].begin(), host.sends[1].end()), "\x1b[48;30;100;540;900t");

    // A new cell size reports once; the same size, or a size below 1, says nothing.
    t.updatePixelGeometry(10, 20);
    t.updatePixelGeometry(10, 20);
    t.updatePixelGeometry(0, 20);
    t.updatePixelGeometry(10, -1);
    ASSERT_EQ(host.sends.size(), 3u);
    EXPECT_EQ(std::string(host.sends[2].begin(), host.sends[2].end()), "\x1b[48;30;100;600;1000t");

    // A size committed with the resize, reported with the 8-bit introducer when that is on.
    t.feed("\x1b G"); // S8C1T
    t.resize(40, 10, CellPixelSize{7, 14});
    ASSERT_EQ(host.sends.size(), 4u);
    EXPECT_EQ(std::string(host.sends[3].begin(), host.sends[3].end()), "\x9b"
                                                                       "48;10;40;140;280t");
    EXPECT_EQ(host.cellSizeQueries, 0) << "the host is asked only when no size is known";
}

TEST(TerminalResize, InBandSizeReportsAskTheHostWhenNoSizeIsKnown)
{
    SizingFixture fixture(80, 24);
    Terminal& t = *fixture.terminal;
    SizingDelegate& host = *fixture.delegate;
    t.feed("\x1b[?2048h");
    EXPECT_TRUE(host.sends.empty());
    EXPECT_EQ(host.cellSizeQueries, 1) << "switching reports on asks the host at once";
    host.cellSizeQueries = 0;

    t.resize(80, 24);
    t.feed("\x1b[?2048h"); // switching the reports on again reports at once
    EXPECT_TRUE(host.sends.empty()) << "no size known and none from the host: no report";
    EXPECT_EQ(host.cellSizeQueries, 2);
    host.cellSize = CellPixelSize{0, 18};
    t.feed("\x1b[?2048h");
    EXPECT_TRUE(host.sends.empty()) << "an empty cell is no size";
    EXPECT_FALSE(t.innerState().pixelGeometry.has_value());

    host.cellSize = CellPixelSize{8, 16};
    t.feed("\x1b[?2048h");
    EXPECT_EQ(host.sent(), "\x1b[48;24;80;384;640t");
    EXPECT_EQ(t.innerState().pixelGeometry, (TerminalPixelGeometry{24, 80, 8, 16}))
        << "the host's answer is kept";
    t.resize(20, 5);
    EXPECT_EQ(host.cellSizeQueries, 4);
    EXPECT_EQ(t.innerState().pixelGeometry, (TerminalPixelGeometry{5, 20, 8, 16}));
}

TEST(TerminalResize, FullResetRestoresTheInitialStateAndKeepsSizeAndCursorVisibility)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 10;
    options.rows = 3;
    options.initialBidiArrowKeySwap = true;
    options.initialBidiState =
        BidiPresentationState(BidiSupportMode::implicit, false, BidiDirection::rightToLeft, true);
    TerminalFixture fixture(options);
    Terminal& t = fixture.t();
    t.feed("one\r\ntwo\r\nthree\r\nfour");
    t.resize(12, 4);
    t.feed("\x1b[?25l\x1b[?6h");              // cursor hidden, DECOM
    t.feed("\x1b[61\"p\x1b G");               // DECSCL: a VT100; then S8C1T
    t.feed("\x1b[?1243l");                    // no arrow-key swap
    t.feed("\x1b[?2501h\x1b[1 k\x1b[?2500l"); // autodetect, left to right, no mirroring
    t.feed("\x1b]2;kept\x1b\\");
    ASSERT_EQ(t.currentBidiState(), BidiPresentationState());
    ASSERT_TRUE(t.cc().send8bit);
    // A one-pixel image placed at the cursor, which stays where it is; no reply.
    t.feed("\x1b_Ga=T,f=24,s=1,v=1,C=1,q=2;AAAA\x1b\\");
    ASSERT_TRUE(t.innerState().hasKittyPlacements);
    t.feed("\x1b[?47h\x1b[?25l"); // the switch shows the cursor: hidden again
    const int activations = fixture.delegate->bufferActivations;

    t.feed("\x1b"
           "c");
    EXPECT_EQ(t.cols(), 12) << "the reset keeps the size";
    EXPECT_EQ(t.rows(), 4);
    EXPECT_FALSE(t.isCurrentBufferAlternate());
    EXPECT_EQ(screenText(t), "|||");
    EXPECT_EQ(t.buffer().yBase(), 0) << "the scrollback is gone";
    EXPECT_EQ(t.buffer().x(), 0);
    EXPECT_EQ(t.buffer().y(), 0);
    EXPECT_TRUE(t.mode(TerminalMode::cursorHidden)) << "cursor visibility survives a full reset";
    EXPECT_FALSE(t.mode(TerminalMode::originMode));
    EXPECT_EQ(t.innerState().conformance, Terminal::TerminalConformance::vt500);
    EXPECT_FALSE(t.cc().send8bit);
    EXPECT_TRUE(t.mode(TerminalMode::bidiArrowKeySwap));
    EXPECT_EQ(t.currentBidiState(), options.initialBidiState);
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).defaultBidiState(), options.initialBidiState);
    EXPECT_EQ(t.buffer(Terminal::BufferKind::alt).defaultBidiState(), options.initialBidiState);
    EXPECT_FALSE(t.innerState().hasKittyPlacements) << "images are gone";
    EXPECT_EQ(t.titles().terminalTitle(), "kept");
    EXPECT_EQ(fixture.delegate->bufferActivations, activations + 1);
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(0, 4)) << "the whole screen is repainted";

    // A visible cursor stays visible too.
    t.feed("\x1b[?25h");
    t.resetToInitialState();
    EXPECT_FALSE(t.mode(TerminalMode::cursorHidden));
}

TEST(TerminalResize, ConformanceLevelAndReplyEncoding)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    using Level = Terminal::TerminalConformance;

    t.feed("\x1b G"); // S8C1T
    setConformance(t, {61});
    EXPECT_EQ(t.innerState().conformance, Level::vt100);
    EXPECT_FALSE(t.cc().send8bit) << "DECSCL 61 turns 8-bit replies off";
    setConformance(t, {61, 0});
    EXPECT_FALSE(t.cc().send8bit) << "a VT100 stays 7-bit";

    setConformance(t, {62, 1});
    EXPECT_EQ(t.innerState().conformance, Level::vt200);
    EXPECT_FALSE(t.cc().send8bit);
    setConformance(t, {63, 0});
    EXPECT_EQ(t.innerState().conformance, Level::vt300);
    EXPECT_TRUE(t.cc().send8bit);
    setConformance(t, {64});
    EXPECT_EQ(t.innerState().conformance, Level::vt400);
    EXPECT_TRUE(t.cc().send8bit) << "without a second parameter the encoding is kept";
    setConformance(t, {65, 1});
    EXPECT_EQ(t.innerState().conformance, Level::vt500);
    EXPECT_FALSE(t.cc().send8bit);
    setConformance(t, {60, 2});
    EXPECT_EQ(t.innerState().conformance, Level::vt500) << "any other level is the highest";
    EXPECT_TRUE(t.cc().send8bit);

    t.feed("\x1b[\"p");
    EXPECT_EQ(t.innerState().conformance, Level::vt500) << "no parameters, no change";
    EXPECT_TRUE(t.cc().send8bit);
    EXPECT_EQ(screenText(t), "||") << "DECSCL does not reset the terminal";
}

TEST(TerminalResize, ScrollbackIsClearedAndResized)
{
    TerminalFixture fixture(10, 2, 10);
    Terminal& t = fixture.t();
    t.feed("a\r\nb\r\nc\r\nd\r\ne");
    ASSERT_EQ(t.buffer(Terminal::BufferKind::normal).yBase(), 3);

    // The normal screen's history goes even while the alternate screen is shown.
    t.feed("\x1b[?47h");
    t.clearUpdateRange();
    t.clearScrollback();
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).yBase(), 0);
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).lines().count(), 2);
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(0, 1));
    t.feed("\x1b[?47l");
    EXPECT_EQ(screenText(t), "d|e");

    t.feed("\r\nf\r\ng\r\nh");
    t.changeScrollback(1);
    EXPECT_EQ(t.options().scrollback, 1);
    EXPECT_EQ(t.buffer().lines().maxLength(), 3);
    EXPECT_EQ(t.buffer().yBase(), 1);
    EXPECT_EQ(kestrovan::testing::absoluteRowText(t, 0), "f") << "the oldest lines went";
    EXPECT_EQ(screenText(t), "g|h");

    // Without a limit there is no history, and no reflow either: narrowing cuts.
    t.changeScrollback(std::nullopt);
    EXPECT_EQ(t.options().scrollback, 0);
    EXPECT_FALSE(t.buffer().hasScrollback());
    t.feed("\r\n0123456789");
    t.resize(5, 2);
    EXPECT_EQ(screenText(t), "h|01234");
}
