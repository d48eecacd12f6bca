// Line feeds read together by the parse loop, and the scroll region's setting, against the roads
// they shortcut.
//
// The parse loop hands a run of LFs to the terminal in one call, which moves the cursor and scrolls
// a region that scrolls in place by a single rotation of its lines. VT is the same control taken
// one at a time through the execute dispatch, so each input is fed three ways: whole, with every
// LF replaced by VT, and one byte per feed. The dumps (cells, line flags, cursor, pending wrap,
// changed rows, scrollback) must be equal.
//
// DECSTBM homes the cursor; a CUP to the home position right after it must change nothing.
#include "tests/Kestrovan/TerminalStateDump.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

using namespace kestrovan;
using namespace kestrovan::testing;

namespace {

#define CSI "\x1b["

struct LineFeedCase
{
    const char* name;
    /// Fed after a screen of text and a clear of the changed rows.
    std::string bytes;
    int rows = 8;
    int scrollback = 20;
};

// Ten numbered lines of text, the last ones soft-wrapped, so that every row has content to move.
std::string filledScreen()
{
    std::string out;
    for (int line = 0; line < 10; ++line)
        out += "line " + std::to_string(line) + (line >= 7 ? " long enough to wrap onto another row" : "") +
               "\r\n";
    return out;
}

std::vector<LineFeedCase> lineFeedCases()
{
    return {
        {"two at the region's bottom", CSI "3;6r" CSI "6;4Hab\n\ncd"},
        {"more than the region is high", CSI "3;4r" CSI "4;1Hx\n\n\n\n\ny"},
        {"moving down, then scrolling", CSI "2;7r" CSI "4;9Hword \n\n\n\n\n\nz"},
        {"below the region", CSI "2;4r" CSI "6;1Ha\n\n\n\nb"},
        {"onto soft-wrapped rows", CSI "r" CSI "1;1H\n\n\n\n\n\n\nend"},
        {"after a pending wrap", CSI "3;6r" CSI "6;27H1234\n\nafter"},
        {"region at the top, scrollback growing", CSI "1;5r" CSI "5;1Htop\n\n\nnext"},
        {"region at the top, scrollback full", CSI "1;5r" CSI "5;1Htop\n\n\n\n\n\nnext", 8, 2},
        {"whole screen", CSI "8;1Hlast\n\n\nmore"},
        {"right-to-left lines", CSI "8l" CSI "2;6r" CSI "4;1Hrtl\n\n\n\n" CSI "8h\n\nltr"},
        {"new-line mode", CSI "20h" CSI "3;6r" CSI "6;5Hnl\n\nx" CSI "20l"},
        {"left and right margins", CSI "?69h" CSI "5;20s" CSI "3;6r" CSI "6;8Hm\n\n\nx" CSI "?69l"},
        {"origin mode", CSI "?6h" CSI "3;6r" CSI "4;3Ho\n\n\n\nx" CSI "?6l"},
        {"alternate screen",
         CSI "?1049h" + filledScreen() + CSI "1;5r" CSI "5;1Halt\n\n\nx" CSI "3;6r" CSI "6;1H\n\n"},
        {"ending one row above the region's bottom", CSI "2;7r" CSI "4;3Hab\n\n\ncd"},
        {"ending on the region's bottom, then one more", CSI "2;7r" CSI "5;3Hab\n\n"
                                                             "x\ny"},
        {"one at the region's bottom", CSI "3;6r" CSI "6;2Hone\nz"},
        {"two in a region of two rows", CSI "5;6r" CSI "5;1Hp\n\nq\n\nr"},
        {"below the region onto the last row", CSI "2;4r" CSI "7;1Hv\n\n\nw"},
        {"from the region's top onto wrapped rows", CSI "6;8r" CSI "6;1H\n\n\n\nx"},
        {"into the scrollback past a full ring", CSI "2;8r" CSI "1;1Htop\n" CSI "r" CSI "8;1H\n\n\n\n", 8, 1},
    };
}

/// A 30-column terminal of the case's rows and scrollback.
TerminalOptions optionsFor(const LineFeedCase& entry)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 30;
    options.rows = entry.rows;
    options.scrollback = entry.scrollback;
    return options;
}

/// The dump after a screen of text and `setup`, a clear of the changed rows and then `bytes`.
std::string dumpAfter(const std::string& setup, const std::string& bytes, const LineFeedCase& entry,
                      bool oneByteAtATime)
{
    DumpedTerminal terminal(optionsFor(entry));
    terminal.feed(filledScreen() + setup);
    terminal.terminal().clearUpdateRange();
    if (oneByteAtATime) {
        for (char byte : bytes)
            terminal.feed(std::string_view(&byte, 1));
    } else {
        terminal.feed(bytes);
    }
    return terminal.dump();
}

/// Checks that `entry`'s bytes cut into two feeds at every byte leave `whole`, the dump after
/// them fed in one piece.
void expectEverySplitLeaves(const LineFeedCase& entry, const std::string& whole)
{
    const TerminalOptions options = optionsFor(entry);
    for (size_t split = 1; split < entry.bytes.size(); ++split) {
        DumpedTerminal terminal(options);
        terminal.feed(filledScreen());
        terminal.terminal().clearUpdateRange();
        terminal.feed(std::string_view(entry.bytes).substr(0, split));
        terminal.feed(std::string_view(entry.bytes).substr(split));
        EXPECT_EQ(describeDumpDifference(terminal.dump(), whole), "") << "split at " << split;
    }
}

TEST(TerminalLineFeedRunTests, LineFeedsTogetherLeaveWhatTheyLeaveOneByOne)
{
    for (const LineFeedCase& entry : lineFeedCases()) {
        SCOPED_TRACE(entry.name);
        const std::string whole = dumpAfter({}, entry.bytes, entry, false);
        std::string verticalTabs = entry.bytes;
        std::replace(verticalTabs.begin(), verticalTabs.end(), '\n', '\x0b');
        EXPECT_EQ(describeDumpDifference(dumpAfter({}, verticalTabs, entry, false), whole), "");
        EXPECT_EQ(describeDumpDifference(dumpAfter({}, entry.bytes, entry, true), whole), "");
    }
}

// Runs fed right after the changed rows were cleared, so that the rows a run marks are all the
// dump shows of them; and a pending wrap that only the run ends.
TEST(TerminalLineFeedRunTests, RowsARunMarksMatchTheControlsOneByOne)
{
    struct Case
    {
        const char* name;
        std::string setup;
        std::string bytes;
    };
    const Case cases[] = {
        {"a region scrolled in place", CSI "3;6r" CSI "6;1H", "\n\n"},
        {"a region scrolled past its height", CSI "3;4r" CSI "4;1H", "\n\n\n"},
        {"moves onto soft-wrapped rows", CSI "r" CSI "6;1H", "\n\n"},
        {"moves only, after a pending wrap", CSI "2;7r" CSI "3;27H1234", "\n\n"},
        {"moves only, then text after a pending wrap", CSI "2;7r" CSI "3;27H1234", "\n\nafter"},
        {"a region's reset and the next region, then text", CSI "3;6r" CSI "6;1H", CSI "r" CSI "2;5rtext"},
        {"two regions, then text", CSI "7;12H", CSI "2;6r" CSI "3;7rtext"},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.name);
        const LineFeedCase options{entry.name, {}};
        const std::string whole = dumpAfter(entry.setup, entry.bytes, options, false);
        std::string verticalTabs = entry.bytes;
        std::replace(verticalTabs.begin(), verticalTabs.end(), '\n', '\x0b');
        EXPECT_EQ(describeDumpDifference(dumpAfter(entry.setup, verticalTabs, options, false), whole), "");
        EXPECT_EQ(describeDumpDifference(dumpAfter(entry.setup, entry.bytes, options, true), whole), "");
    }
}

// Every case cut into two feeds at every byte: a run of line feeds split between feeds reaches
// the terminal as two runs, which must leave what the run leaves whole.
TEST(TerminalLineFeedRunTests, EverySplitOfTheFeedLeavesWhatTheWholeLeaves)
{
    for (const LineFeedCase& entry : lineFeedCases()) {
        SCOPED_TRACE(entry.name);
        const std::string whole = dumpAfter({}, entry.bytes, entry, false);
        expectEverySplitLeaves(entry, whole);
    }
}

// A pager's traffic as the throughput benchmark sends it, on seeded random regions: a region set,
// a field inside it, runs of line feeds and the region reset, on a screen whose small scrollback
// fills, so that regions lie across the end of the ring's slots as well as inside them. Fed whole,
// with VT for LF (one control at a time through the execute dispatch) and in chunks of odd sizes.
TEST(TerminalLineFeedRunTests, RandomRegionTrafficMatchesTheControlsOneByOne)
{
    for (const uint32_t seed : {1u, 2u, 3u, 4u}) {
        std::mt19937 random(seed);
        const int rows = 6 + static_cast<int>(random() % 6);
        std::string bytes;
        for (int region = 0; region < 120; ++region) {
            const int top = 1 + static_cast<int>(random() % static_cast<unsigned>(rows - 1));
            const int bottom = top + 1 + static_cast<int>(random() % static_cast<unsigned>(rows - top));
            if (random() % 8 == 0)
                bytes += CSI "r";
            else
                bytes += CSI + std::to_string(top) + ";" + std::to_string(bottom) + "r";
            const int row = 1 + static_cast<int>(random() % static_cast<unsigned>(rows));
            bytes += CSI + std::to_string(row) + ";" + std::to_string(1 + random() % 20) + "H";
            bytes += std::string(1 + random() % 12, static_cast<char>('a' + region % 26));
            if (random() % 6 == 0)
                bytes += std::string(30, '#');
            bytes += std::string(1 + random() % 4, '\n');
            if (random() % 10 == 0)
                bytes += random() % 2 ? CSI "8l" : CSI "8h";
            if (random() % 2 == 0)
                bytes += CSI "r";
        }
        const LineFeedCase entry{"random", bytes, rows, 3};
        SCOPED_TRACE("seed " + std::to_string(seed));
        const std::string whole = dumpAfter({}, bytes, entry, false);
        std::string verticalTabs = bytes;
        std::replace(verticalTabs.begin(), verticalTabs.end(), '\n', '\x0b');
        EXPECT_EQ(describeDumpDifference(dumpAfter({}, verticalTabs, entry, false), whole), "");

        DumpedTerminal chunked(optionsFor(entry));
        chunked.feed(filledScreen());
        chunked.terminal().clearUpdateRange();
        for (size_t at = 0, size = 1; at < bytes.size(); at += size, size = size % 7 + 1)
            chunked.feed(std::string_view(bytes).substr(at, size));
        EXPECT_EQ(describeDumpDifference(chunked.dump(), whole), "");
    }
}

// A pager's scroll as it reaches the terminal: a region set (which homes the cursor), a position
// inside it, text without an erase after it, line feeds and the region reset. The parse loop takes
// the position and the text in one call, the region's setting and the line feeds in one call each;
// every case is fed whole, one byte per feed (each control on its own), with VT for LF (the line
// feed's general road) and cut into two feeds at every byte, and the dumps must be equal. The
// cases hold what keeps the one-step roads away or changes what they must do: text reaching and
// passing the last column, a region set while a wrap is pending, a wide character cut at either
// end of the text, protected text an erase must keep, origin mode, left and right margins,
// regions the terminal refuses, a region at the screen's top (the scrollback grows, or is full),
// the alternate screen, and a pager's scrolls one after another with pairs of regions of every
// outcome (both taken, only the first, only the second, neither), in origin mode and while a wrap
// is pending, and what ends such a run.
TEST(TerminalLineFeedRunTests, PagerTrafficMatchesOneByteAtATimeAndEverySplit)
{
    const LineFeedCase cases[] = {
        {"words, then feeds at the region's bottom", CSI "3;6r" CSI "6;4Hab cd \n\n" CSI "r"},
        {"words, one feed above the bottom", CSI "2;7r" CSI "6;9Hword \n\n" CSI "r" CSI "2;2Hz"},
        {"text reaching the last column", CSI "2;7r" CSI "5;25Habcdef\n\n" CSI "r" CSI "4;25Habcdef"},
        {"a region set while a wrap is pending", CSI "4;25Habcdef" CSI "2;5r"
                                                     "x" CSI "7;25Hghijkl" CSI "r"
                                                     "y"},
        {"text past the last column", CSI "2;7r" CSI "5;27Habcdefgh\n\n" CSI "r"},
        {"a wide character cut at the text's end",
         CSI "3;4H\u597d\u597d" CSI "2;6r" CSI "3;1Habcd\n" CSI "3;3Hx\n" CSI "r"},
        {"protected text, with and without an erase",
         "\x1bV" CSI "4;20Hkeep"
         "\x1bW" CSI "3;6r" CSI "4;3Hab" CSI "K" CSI "4;8Hcd\n\n" CSI "r"},
        {"origin mode", CSI "?6h" CSI "3;6r" CSI "2;4Hxy \n\n\n" CSI "r" CSI "?6l"},
        {"left and right margins", CSI "?69h" CSI "5;20s" CSI "3;6r" CSI "6;8Hm n \n\n" CSI "r" CSI "?69l"},
        {"refused and odd regions",
         CSI "5;3r" CSI "4;2Hx\n\n" CSI "0;0r" CSI ";r" CSI "3;3r" CSI "99;100r" CSI "3;0r" CSI "8;1Hy\n\n"},
        {"region at the top, scrollback growing",
         CSI "1;4r" CSI "4;2Htop \n\n" CSI "1;3r" CSI "2;1Hx\n\n" CSI "r"},
        {"region at the top, scrollback full",
         CSI "1;4r" CSI "4;2Htop \n\n" CSI "1;3r" CSI "3;1Hx\n\n" CSI "r", 8, 1},
        {"alternate screen",
         CSI "?1049h" CSI "1;4r" CSI "4;2Halt \n\n" CSI "2;5r" CSI "5;3Hb\n\n" CSI "r" CSI "?1049l"},
        // Scrolls one after another, as the parse loop takes them in one run once a region is read
        // whole: a reset followed at once by the next region goes to the terminal as one pair.
        {"scroll after scroll",
         CSI "2;6r" CSI "6;3Hab cd \n\n" CSI "r" CSI "3;7r" CSI "7;1Hef\n\n\n" CSI "r" CSI "1;4r" CSI
             "4;2Hgh\n\n" CSI "r" CSI "5;8r" CSI "8;5Hij\n\n" CSI "r"},
        {"a reset, then a region refused",
         CSI "2;6r" CSI "6;3Hab\n\n" CSI "r" CSI "5;5r" CSI "4;4Hx\n\n" CSI "r"},
        {"two regions, the second refused", CSI "3;6r" CSI "6;1Ha\n\n" CSI "2;7r" CSI "9;2r" CSI "7;1Hb\n\n"},
        {"two regions, the first refused", CSI "3;6r" CSI "6;1Ha\n\n" CSI "4;4r" CSI "2;5r" CSI "5;1Hb\n\n"},
        {"two regions, both refused", CSI "3;6r" CSI "6;1Ha\n\n" CSI "4;4r" CSI "0;1r" CSI "6;1Hb\n\n"},
        {"one-parameter regions", CSI "2;6r" CSI "6;1Ha\n\n" CSI "0r" CSI "3r" CSI "8;1Hb\n\n" CSI "r"},
        {"a pair in origin mode", CSI "?6h" CSI "3;6r" CSI "2;2Hab\n\n" CSI "r" CSI "4;7r"
                                      "cd\n\n" CSI "3;1Hef\n\n" CSI "r" CSI "?6l"},
        {"a pair while a wrap is pending", CSI "2;6r" CSI "6;27Habcd" CSI "r" CSI "3;7r"
                                               "x" CSI "7;27Hefgh" CSI "r" CSI "2;4r"
                                               "y"},
        {"positions without text and fields with erases",
         CSI "2;6r" CSI "6;1H\n\n" CSI "5;2Hab" CSI "K" CSI "6;4Hcd" CSI "K\n" CSI "3;3Hx" CSI "5;5Hy\n\n" CSI
             "r"},
        {"other sequences inside a region",
         CSI "2;7r" CSI "7;1H" CSI "1mbold" CSI "0m\n\n" CSI "2J" CSI "6;2Hz\n"
             "\r\n" CSI "1;2;3r" CSI "r"},
        {"an editor's scroll", CSI "1;7r" CSI "7;1H\r\n" CSI "1;8r" CSI "8;1H" CSI "K" CSI "1;7r" CSI
                                   "1;1H" CSI "2M" CSI "1;8r" CSI "6;1H" CSI "32mconst" CSI "m" CSI "2;6r" CSI
                                   "2;1H" CSI "L" CSI "2;3H" CSI "2K" CSI "3;4H" CSI "1Kx\r\n\r\n" CSI "r"},
        {"line feeds not followed by a sequence", CSI "3;6r" CSI "6;3Hab\n\ncd\n\n" CSI "r" CSI "4;7r"
                                                      "ef"},
        {"a region at the top with its scrollback full",
         CSI "1;5r" CSI "5;1Ha\n\n\n" CSI "r" CSI "1;4r" CSI "4;2Hb\n\n" CSI "r" CSI "2;5r" CSI "5;1Hc\n\n",
         8, 1},
        {"left and right margins", CSI "?69h" CSI "5;20s" CSI "2;6r" CSI "6;8Hm\n\n" CSI "r" CSI "3;7r" CSI
                                       "7;6Hn\n\n" CSI "r" CSI "?69l"},
    };
    for (const LineFeedCase& entry : cases) {
        SCOPED_TRACE(entry.name);
        const std::string whole = dumpAfter({}, entry.bytes, entry, false);
        EXPECT_EQ(describeDumpDifference(dumpAfter({}, entry.bytes, entry, true), whole), "");
        std::string verticalTabs = entry.bytes;
        std::replace(verticalTabs.begin(), verticalTabs.end(), '\n', '\x0b');
        EXPECT_EQ(describeDumpDifference(dumpAfter({}, verticalTabs, entry, false), whole), "");
        expectEverySplitLeaves(entry, whole);
    }
}

TEST(TerminalLineFeedRunTests, ScrollRegionHomesTheCursorAsCursorPositionDoes)
{
    struct Case
    {
        const char* name;
        std::string before;
        std::string region;
    };
    const Case cases[] = {
        {"cursor low on the screen", CSI "7;12H", CSI "2;6r"},
        {"pending wrap", CSI "5;28Habc", CSI "3;7r"},
        {"reset to the whole screen", CSI "2;5r" CSI "6;3H", CSI "r"},
        {"refused region", CSI "4;9H", CSI "5;5r"},
        {"origin mode", CSI "?6h" CSI "3;6r" CSI "3;7H", CSI "2;5r"},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.name);
        const LineFeedCase options{entry.name, {}};
        const std::string alone = dumpAfter(entry.before, entry.region, options, false);
        const std::string homedAgain = dumpAfter(entry.before, entry.region + CSI "H", options, false);
        EXPECT_EQ(describeDumpDifference(homedAgain, alone), "");
    }
}

} // namespace
