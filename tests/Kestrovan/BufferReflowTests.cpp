#include "tests/Kestrovan/ScrollingTerminalDouble.h"
#include "tests/Kestrovan/TestSupport.h"

#include "Kestrovan/Buffer.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

using kestrovan::BidiPresentationState;
using kestrovan::Buffer;
using kestrovan::BufferLine;
using kestrovan::BufferModeMirror;
using kestrovan::PackedCell;
using kestrovan::SavedCursor;
using kestrovan::ScrollingTerminalDouble;
using kestrovan::SemanticPromptKind;
using kestrovan::testing::editSavedCursor;
using kestrovan::testing::setBufferMode;
using kestrovan::testing::TestImage;

namespace {

// A buffer with a terminal that scrolls it, written to the way the print paths write.
struct Screen
{
    ScrollingTerminalDouble terminal;
    std::unique_ptr<Buffer> buffer;

    Screen(int cols, int rows, std::optional<int> scrollback = 100)
        : buffer(std::make_unique<Buffer>(cols, rows, 8, scrollback, BidiPresentationState()))
    {
        buffer->fillViewportRows();
        setBufferMode(*buffer, &BufferModeMirror::wraparound, true);
        buffer->setTerminal(&terminal);
    }

    void ascii(const std::string& text)
    {
        buffer->insertAsciiRun(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), 0, 0);
    }
    void wide(const std::u32string& text)
    {
        buffer->insertScalarRun(std::span(text.data(), text.size()), 2, 0, 0);
    }
    void newline()
    {
        buffer->setX(0);
        terminal.lineFeed(*buffer);
    }
    // Prints each text on a line of its own, with a new line between them.
    void print(std::initializer_list<std::string> texts)
    {
        for (auto text = texts.begin(); text != texts.end(); ++text) {
            if (text != texts.begin())
                newline();
            ascii(*text);
        }
    }
    kestrovan::Position cursor() const { return kestrovan::Position(buffer->x(), buffer->y()); }
    BufferLine& line(int screenRow) { return *buffer->lines()[buffer->yBase() + screenRow]; }
    std::shared_ptr<BufferLine> cursorLine() { return buffer->lines()[buffer->yBase() + buffer->y()]; }
    std::string row(int screenRow) { return text(line(screenRow)); }
    std::string absolute(int row) { return text(*buffer->lines()[row]); }
    // The text of every line of the ring, scrollback first.
    std::vector<std::string> all()
    {
        std::vector<std::string> out;
        for (int row = 0; row < buffer->lines().count(); ++row)
            out.push_back(absolute(row));
        return out;
    }

    // The cells of a line: a wide character as its scalar (UTF-8), an empty cell as '.',
    // continuation cells left out, trailing empty cells trimmed.
    static std::string text(const BufferLine& line)
    {
        std::string out;
        for (int col = 0; col < line.count(); ++col) {
            const PackedCell cell = line.packed(col);
            if (cell.isContinuation())
                continue;
            out += cell.rawValue == 0 ? std::string(".") : line[col].getText();
        }
        out.erase(out.find_last_not_of('.') + 1);
        return out;
    }
};

// Every line of the ring as (wrap flag, raw cells), for exact comparisons.
std::vector<std::pair<bool, std::vector<uint64_t>>> cellsOf(Buffer& buffer)
{
    std::vector<std::pair<bool, std::vector<uint64_t>>> out;
    for (int row = 0; row < buffer.lines().count(); ++row) {
        const BufferLine& line = *buffer.lines()[row];
        std::vector<uint64_t> cells;
        for (int col = 0; col < line.count(); ++col)
            cells.push_back(line.packed(col).rawValue);
        out.emplace_back(line.isWrapped(), std::move(cells));
    }
    return out;
}

// The text of each wrapped group (its lines' characters joined, gaps and empty cells left
// out), with empty groups at the end dropped: what reflow must preserve.
std::vector<std::u32string> paragraphsOf(Buffer& buffer)
{
    std::vector<std::u32string> out;
    for (int row = 0; row < buffer.lines().count(); ++row) {
        const BufferLine& line = *buffer.lines()[row];
        if (!line.isWrapped() || out.empty())
            out.emplace_back();
        for (int col = 0; col < line.count(); ++col) {
            const PackedCell cell = line.packed(col);
            if (!cell.isContinuation() && cell.scalar() != 0)
                out.back() += char32_t(cell.scalar());
        }
    }
    while (!out.empty() && out.back().empty())
        out.pop_back();
    return out;
}

// The screen invariants every resize keeps.
void expectConsistent(Buffer& buffer, const std::string& context)
{
    EXPECT_EQ(buffer.yBase() + buffer.rows(), buffer.lines().count())
        << context << ": the screen ends the ring";
    EXPECT_LE(buffer.lines().count(), buffer.lines().maxLength()) << context;
    EXPECT_GE(buffer.y(), 0) << context;
    EXPECT_LT(buffer.y(), buffer.rows()) << context;
    EXPECT_LT(buffer.x(), buffer.cols()) << context;
    EXPECT_GE(buffer.yDisp(), 0) << context;
    EXPECT_LE(buffer.yDisp(), buffer.yBase()) << context;
    // The saved row may lie below a shrunken screen: restoring the cursor clamps it.
    EXPECT_GE(buffer.savedCursor().y, 0) << context;
    for (int row = 0; row < buffer.lines().count(); ++row)
        EXPECT_GE(buffer.lines()[row]->count(), buffer.cols()) << context << ": row " << row;
}

using Lines = std::vector<std::string>;
using kestrovan::Position;

const std::string letters = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

} // namespace

TEST(BufferReflow, WideningJoinsWrappedLinesAndRemovesTheEmptiedOnes)
{
    // No scrollback in use: the cursor row moves up by the lines removed.
    Screen screen(40, 5);
    const std::string text = letters + letters.substr(0, 38);
    screen.print({text, "$ "});
    const auto prompt = screen.cursorLine();
    ASSERT_EQ(screen.buffer->y(), 3);
    screen.buffer->resize(80, 5);
    EXPECT_EQ(screen.all(), (Lines{text.substr(0, 80), text.substr(80), "$ ", "", ""}));
    EXPECT_TRUE(screen.line(1).isWrapped());
    EXPECT_EQ(screen.cursor(), Position(2, 2));
    EXPECT_EQ(screen.cursorLine(), prompt) << "the cursor stays on its line";
    expectConsistent(*screen.buffer, "no scrollback in use");

    // With scrollback in use the screen keeps its rows and the scrollback gives up a line.
    Screen scrolled(40, 3);
    scrolled.print({"old", text, "$ "});
    ASSERT_EQ(scrolled.buffer->yBase(), 2);
    scrolled.buffer->resize(80, 3);
    EXPECT_EQ(scrolled.all(), (Lines{"old", text.substr(0, 80), text.substr(80), "$ "}));
    EXPECT_EQ(scrolled.buffer->yDisp(), 1) << "the view follows the screen";
    EXPECT_EQ(scrolled.buffer->y(), 2);
    expectConsistent(*scrolled.buffer, "scrollback in use");
}

TEST(BufferReflow, NarrowingSplitsLinesAndMovesTheCursorOrTheTop)
{
    const std::string text = letters + letters.substr(0, 18);
    Screen screen(80, 5);
    screen.print({text, "$ "});
    screen.buffer->resize(40, 5);
    EXPECT_EQ(screen.all(), (Lines{text.substr(0, 40), text.substr(40), "$ ", "", ""}));
    EXPECT_TRUE(screen.line(1).isWrapped()) << "the second half continues the first";
    EXPECT_EQ(screen.buffer->y(), 2) << "with room below, the cursor row moves down";
    expectConsistent(*screen.buffer, "room below");

    // On the last row the top scrolls into the scrollback instead.
    Screen bottom(80, 3);
    bottom.print({text, "", "$ "});
    bottom.buffer->resize(40, 3);
    EXPECT_EQ(bottom.all(), (Lines{text.substr(0, 40), text.substr(40), "", "$ "}));
    EXPECT_EQ(bottom.buffer->yDisp(), 1);
    EXPECT_EQ(bottom.buffer->y(), 2);
    expectConsistent(*bottom.buffer, "cursor on the last row");
}

TEST(BufferReflow, TheCursorGroupIsNeverReflowed)
{
    Screen screen(20, 3);
    screen.ascii(letters.substr(0, 30));
    const auto second = screen.cursorLine();
    screen.buffer->resize(40, 3);
    EXPECT_EQ(screen.all(), (Lines{letters.substr(0, 20), letters.substr(20, 10), ""}))
        << "not joined while the cursor is in the group";
    EXPECT_TRUE(screen.line(1).isWrapped());
    EXPECT_EQ(screen.cursorLine(), second);

    screen.buffer->resize(10, 3);
    EXPECT_EQ(screen.all(), (Lines{letters.substr(0, 10), letters.substr(20, 10), ""}))
        << "not split either: the lines are cut";
    EXPECT_EQ(screen.buffer->x(), 9);
}

TEST(BufferReflow, WideCharactersNeverStraddleTheEdge)
{
    Screen screen(10, 4);
    screen.ascii("abcd");
    screen.wide(U"\u6c49\u5b57\u8bcd");
    screen.newline();
    screen.ascii("$");

    // At 5 columns each wide character that would cross the edge starts the next line, and
    // the line it left ends one column early with an empty cell.
    screen.buffer->resize(5, 4);
    EXPECT_EQ(screen.all(), (Lines{"abcd", "\u6c49\u5b57", "\u8bcd", "$"}));
    EXPECT_EQ(screen.line(0).packed(4).rawValue, 0u);
    EXPECT_TRUE(screen.line(1).packed(0).isLead());
    EXPECT_TRUE(screen.line(1).packed(3).isContinuation());
    EXPECT_EQ(screen.line(1).packed(4).rawValue, 0u);

    // Widening to 7 joins without the gaps but leaves a new one where a character would cross.
    screen.buffer->resize(7, 4);
    EXPECT_EQ(screen.all(), (Lines{"abcd\u6c49", "\u5b57\u8bcd", "$", ""}));
    EXPECT_EQ(screen.line(0).packed(6).rawValue, 0u);
    EXPECT_TRUE(screen.line(1).packed(0).isLead()) << "the character moved whole";
    EXPECT_TRUE(screen.line(1).packed(1).isContinuation());

    // Back at 10 the text is a single line again, as it was printed.
    screen.buffer->resize(10, 4);
    EXPECT_EQ(screen.all(), (Lines{"abcd\u6c49\u5b57\u8bcd", "$", "", ""}));
    EXPECT_TRUE(screen.line(0).packed(8).isLead());
    expectConsistent(*screen.buffer, "back at 10");
}

// Each writer of wide characters that wraps one which does not fit in the last column leaves
// that column as a gap, which widening closes; a column printed into, or blanked by a cursor
// move and printed over by nothing but the wide character's wrap, is told apart by how the row
// was left, not by its cells.
TEST(BufferReflow, GapsLeftByPrintingCloseWhenWidening)
{
    using Write = std::function<void(Buffer&)>;
    const char32_t han = U'\u4e2d';
    const Write scalarRun = [&](Buffer& buffer) { buffer.insertScalarRun(std::span(&han, 1), 2, 0, 0); };
    const Write contentRun = [&](Buffer& buffer) {
        const uint32_t content = uint32_t(han) << PackedCell::contentShift;
        buffer.insertContentRun(std::span(&content, 1), 2, 0, 0);
    };
    const Write mixedRun = [&](Buffer& buffer) {
        const uint32_t contents[] = {'z' << PackedCell::contentShift, uint32_t(han)
                                                                          << PackedCell::contentShift};
        const uint8_t widths[] = {1, 2};
        buffer.insertMixedRun(contents, widths, 0, 0);
    };
    const Write oneCell = [&](Buffer& buffer) {
        buffer.insertCharacter(PackedCell::makeScalar(han, 0, PackedCell::WidthState::lead, false, 0, 0));
    };
    struct Case
    {
        std::string name;
        std::string before; // printed first; '>' moves the cursor to the last column
        Write write;
        bool gap;
        std::string joined;
    };
    const std::vector<Case> cases = {
        {"scalar run", "abcdefghi", scalarRun, true, "abcdefghi\u4e2d"},
        {"content run", "abcdefghi", contentRun, true, "abcdefghi\u4e2d"},
        {"mixed run", "abcdefgh", mixedRun, true, "abcdefghz\u4e2d"},
        {"one cell", "abcdefghi", oneCell, true, "abcdefghi\u4e2d"},
        {"after a cursor move", "abc>", scalarRun, true, "abc......\u4e2d"},
        {"after a pending wrap", "abcdefghij", scalarRun, false, "abcdefghij\u4e2d"},
        {"mixed run after a pending wrap", "abcdefghi", mixedRun, false, "abcdefghiz\u4e2d"},
    };
    for (const Case& test : cases) {
        Screen screen(10, 4);
        for (const char c : test.before) {
            if (c == '>')
                screen.buffer->setX(9);
            else
                screen.ascii(std::string(1, c));
        }
        test.write(*screen.buffer);
        screen.newline();
        screen.ascii("$");
        EXPECT_EQ(screen.line(0).endsWithWideGap(), test.gap) << test.name;
        screen.buffer->resize(20, 4);
        EXPECT_EQ(screen.row(0), test.joined) << test.name;
        EXPECT_EQ(screen.row(1), "$") << test.name;
    }
}

// The group holding the cursor is left as it is when the width changes, widened or cut: the
// column its gap was left in is then no longer its last, and a later reflow must not take the
// new last column for one.
TEST(BufferReflow, TheCursorsGroupKeepsNoGapAtAnotherWidth)
{
    for (const int width : {20, 8}) {
        Screen screen(10, 4);
        screen.ascii("abcdefghi");
        screen.wide(U"\u4e2d");
        ASSERT_TRUE(screen.line(0).endsWithWideGap());
        screen.buffer->resize(width, 4);
        EXPECT_FALSE(screen.line(0).endsWithWideGap()) << width << " columns";
    }
}

TEST(BufferReflow, NarrowingThenWideningGivesBackTheTextOnSeededRandomScreens)
{
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&](int low, int high) {
            return std::uniform_int_distribution<int>(low, high)(random);
        };
        const int cols = pick(8, 50);
        const int rows = pick(5, 12);
        Screen screen(cols, rows, 1000);
        const auto paragraph = [&](int maxLength) {
            const int length = pick(0, maxLength);
            for (int written = 0; written < length;) {
                if (pick(0, 3) == 0) {
                    screen.wide(std::u32string(1, char32_t(0x4e00 + pick(0, 500))));
                    written += 2;
                } else {
                    screen.ascii(std::string(1, letters[size_t(pick(0, int(letters.size()) - 1))]));
                    written += 1;
                }
            }
            screen.newline();
        };
        for (int count = pick(3, 25); count > 0; --count)
            paragraph(cols * 3);
        screen.ascii("$ ");
        // Half the screens keep some short text below the cursor, as a status line would be.
        const bool textBelow = seed % 2 == 0;
        const auto prompt = screen.cursorLine();
        if (textBelow) {
            screen.newline();
            paragraph(cols / 2);
            // Back up to the prompt, which may have scrolled up meanwhile.
            while (screen.cursorLine() != prompt)
                screen.buffer->setY(screen.buffer->y() - 1);
        }
        const int cursorY = screen.buffer->y();
        screen.buffer->setX(2);
        editSavedCursor(*screen.buffer, [&](SavedCursor& saved) { saved.y = cursorY; });
        const auto cursorLine = screen.cursorLine();
        const auto savedLine = cursorLine;
        const auto cells = cellsOf(*screen.buffer);
        const auto paragraphs = paragraphsOf(*screen.buffer);

        const int narrower = pick(2, cols - 1);
        const std::string context = "seed " + std::to_string(seed) + ": " + std::to_string(cols) + " -> " +
                                    std::to_string(narrower) + " columns, " + std::to_string(rows) + " rows";
        screen.buffer->resize(narrower, rows);
        expectConsistent(*screen.buffer, context);
        EXPECT_EQ(screen.cursorLine(), cursorLine) << context << ": the cursor stays on its line";
        EXPECT_EQ(screen.buffer->x(), std::min(2, narrower - 1)) << context;
        EXPECT_EQ(screen.buffer->lines()[screen.buffer->yBase() + screen.buffer->savedCursor().y], savedLine)
            << context << ": the saved cursor stays on its line";
        EXPECT_TRUE(paragraphsOf(*screen.buffer) == paragraphs) << context << ": the text changed";

        screen.buffer->setX(2);
        screen.buffer->resize(cols, rows);
        expectConsistent(*screen.buffer, context + " and back");
        EXPECT_EQ(screen.cursorLine(), cursorLine) << context << " and back";
        if (textBelow) {
            // Joining text below the cursor leaves blank lines at the bottom; nothing is lost.
            EXPECT_TRUE(paragraphsOf(*screen.buffer) == paragraphs) << context << " and back";
        } else {
            EXPECT_TRUE(cellsOf(*screen.buffer) == cells) << context << " and back: not as printed";
        }
    }
}

// Reflowing keeps a group's text, blanks included, so the lines a width gets do not depend on
// the widths the buffer went through. Each screen is written from its seed twice: once resized
// straight to the last width, once through twelve widths on the way; every line above the cursor
// must come out the same, wrap flag and wide gap included. Blanks that cursor moves leave are text,
// also at the end of a line before a wide character, and so are blanks that erases and insertions
// put in the last column, where a wide character may have left a gap; only the column a wide
// character left when it did not fit, and nothing wrote since, is not.
TEST(BufferReflow, EveryPathOfWidthsGivesTheTextOfTheDirectResize)
{
    const auto write = [](uint32_t seed, Screen& screen) {
        std::mt19937 random(seed);
        const auto pick = [&](int low, int high) {
            return std::uniform_int_distribution<int>(low, high)(random);
        };
        for (int paragraphs = pick(10, 40); paragraphs > 0; --paragraphs) {
            for (int items = pick(0, 12); items > 0; --items) {
                const int row = screen.buffer->yBase() + screen.buffer->y();
                const bool rowAbove = screen.buffer->y() > 0;
                // The blank an erase or insertion writes: plain, or with a background on the row
                // above where this row continues it (blanks with a background at a paragraph's end
                // are no text, and a narrower width cuts them).
                const bool continued = rowAbove && screen.buffer->lines()[row]->isWrapped();
                const PackedCell blank =
                    continued && pick(0, 1)
                        ? PackedCell::makePaletteBlank(1, PackedCell::WidthState::single, false, 0, 0)
                        : PackedCell();
                switch (pick(0, 5)) {
                case 0: {
                    std::string word;
                    for (int n = pick(1, 8); n > 0; --n)
                        word += letters[size_t(pick(0, int(letters.size()) - 1))];
                    screen.ascii(word);
                    break;
                }
                case 1:
                    screen.ascii(std::string(size_t(pick(1, 3)), ' '));
                    break;
                case 2: // CUF
                    screen.buffer->setX(screen.buffer->x() + pick(1, 12));
                    break;
                case 3:
                    for (int n = pick(1, 3); n > 0; --n)
                        screen.wide(std::u32string(1, char32_t(0x4e00 + pick(0, 500))));
                    break;
                case 4: { // ECH at the last column of the row above, or EL from the cursor
                    const int cols = screen.buffer->cols();
                    const bool above = rowAbove && pick(0, 1) == 0;
                    BufferLine& line = *screen.buffer->lines()[above ? row - 1 : row];
                    const int from = above ? cols - 1 : screen.buffer->x();
                    line.repairWideSeam(from);
                    line.replacePackedCells(from, cols, above ? blank : PackedCell());
                    screen.buffer->setWrapPending(false);
                    break;
                }
                default: // ICH on the row above, which pushes a blank or a character into its last column
                    if (rowAbove) {
                        const int cols = screen.buffer->cols();
                        screen.buffer->lines()[row - 1]->insertPackedCells(pick(0, cols - 1), pick(1, 3),
                                                                           cols - 1, blank);
                    }
                }
            }
            screen.newline();
        }
    };
    // Every line above the cursor: wrap flag, wide gap and text.
    const auto linesOf = [](Screen& screen) {
        Lines out;
        const int cursorRow = screen.buffer->yBase() + screen.buffer->y();
        for (int row = 0; row < cursorRow; ++row) {
            const BufferLine& line = *screen.buffer->lines()[row];
            out.push_back(std::string(line.isWrapped() ? "w" : "-") + (line.endsWithWideGap() ? "g " : "  ") +
                          Screen::text(line));
        }
        return out;
    };
    for (uint32_t seed = 1; seed <= 24; ++seed) {
        std::mt19937 random(seed * 7919);
        const auto pick = [&](int low, int high) {
            return std::uniform_int_distribution<int>(low, high)(random);
        };
        const int cols = pick(8, 60);
        std::vector<int> path;
        for (int step = 0; step < 12; ++step)
            path.push_back(pick(2, 100));
        // Every third path comes back to where it started: the screen as written, untouched.
        if (seed % 3 == 0)
            path.back() = cols;
        std::string context = "seed " + std::to_string(seed) + ": " + std::to_string(cols);
        for (const int width : path)
            context += " -> " + std::to_string(width);

        Screen direct(cols, 5, 20000);
        write(seed, direct);
        direct.buffer->resize(path.back(), 5);
        Screen stepwise(cols, 5, 20000);
        write(seed, stepwise);
        for (const int width : path)
            stepwise.buffer->resize(width, 5);
        ASSERT_EQ(stepwise.buffer->totalLinesTrimmed(), 0) << context;
        const Lines expected = linesOf(direct);
        const Lines actual = linesOf(stepwise);
        EXPECT_EQ(actual.size(), expected.size()) << context;
        const auto differs = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
        if (differs.first != actual.end() && differs.second != expected.end())
            ADD_FAILURE() << context << ": row " << (differs.first - actual.begin()) << " is\n"
                          << *differs.first << "\nnot\n"
                          << *differs.second;
    }
}

TEST(BufferReflow, RandomResizesKeepTheScreenConsistent)
{
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&](int low, int high) {
            return std::uniform_int_distribution<int>(low, high)(random);
        };
        Screen screen(pick(2, 40), pick(1, 10), pick(0, 30));
        for (int count = pick(0, 40); count > 0; --count) {
            if (pick(0, 3) == 0)
                screen.wide(std::u32string(size_t(pick(1, 30)), U'\u4e00'));
            else
                screen.ascii(std::string(size_t(pick(0, 60)), 'a'));
            if (pick(0, 1) == 0)
                screen.newline();
        }
        screen.buffer->setY(pick(0, screen.buffer->rows() - 1));
        screen.buffer->setX(pick(0, screen.buffer->cols() - 1));
        editSavedCursor(*screen.buffer,
                        [&](SavedCursor& saved) { saved.y = pick(0, screen.buffer->rows() - 1); });
        if (screen.buffer->yBase() > 0 && pick(0, 1) == 0)
            screen.buffer->setYDisp(pick(0, screen.buffer->yBase()));
        const auto cursor = screen.cursorLine();
        for (int step = 0; step < 6; ++step) {
            const int cols = pick(2, 60);
            const int rows = pick(1, 15);
            const int x = screen.buffer->x();
            screen.buffer->resize(cols, rows);
            const std::string context = "seed " + std::to_string(seed) + " step " + std::to_string(step);
            expectConsistent(*screen.buffer, context);
            EXPECT_EQ(screen.cursorLine(), cursor) << context;
            EXPECT_EQ(screen.buffer->x(), std::min(x, cols - 1)) << context;
        }
    }
}

TEST(BufferReflow, ScrollbackIsTrimmedWhenTheRingOverflows)
{
    Screen screen(20, 3, 2);
    screen.print({std::string(20, 'x'), std::string(20, 'y'), std::string(20, 'z'), "$ "});
    ASSERT_EQ(screen.buffer->lines().count(), 4);

    // Each full line becomes two: seven lines for a ring of five; the two oldest fall away.
    screen.buffer->resize(10, 3);
    EXPECT_EQ(screen.all(), (Lines{std::string(10, 'y'), std::string(10, 'y'), std::string(10, 'z'),
                                   std::string(10, 'z'), "$ "}));
    EXPECT_EQ(screen.buffer->totalLinesTrimmed(), 2);
    EXPECT_EQ(screen.buffer->yBase(), 2);
    expectConsistent(*screen.buffer, "overflow");
}

TEST(BufferReflow, MarksAndImagesFollowTheirLines)
{
    Screen screen(20, 4);
    screen.print({letters.substr(0, 30), "$ "});
    // A prompt that began at 'z' (row 1, column 5), and an image on that row.
    screen.buffer->beginSemanticPromptGroup(1);
    screen.buffer->setSemanticMark(SemanticPromptKind::initial, 1, 5);
    auto image = std::make_shared<TestImage>();
    screen.buffer->attachImage(image, 1);
    const auto first = screen.buffer->lines()[0];
    const auto second = screen.buffer->lines()[1];

    // At 12 columns the text is "abcdefghijkl", "mnopqrstuvwx", "yzABCD": 'z' is on row 2.
    screen.buffer->resize(12, 4);
    ASSERT_EQ(screen.absolute(2), "yz0123");
    ASSERT_EQ(screen.buffer->semanticPromptMarks(2).size(), 1u);
    EXPECT_EQ(screen.buffer->semanticPromptMarks(2)[0].position, kestrovan::Position(1, 2))
        << "the mark moved with its cell";
    EXPECT_TRUE(screen.buffer->semanticPromptMarks(1).empty());
    EXPECT_EQ(screen.buffer->semanticPromptStartRow(), 2) << "the prompt now starts on the new line";
    EXPECT_EQ(screen.buffer->lines()[1], second);
    EXPECT_TRUE(second->hasImages()) << "the image stays on its line";

    // An image on the line that widening empties moves to the line that takes its text.
    screen.buffer->attachImage(std::make_shared<TestImage>(), 2);
    EXPECT_EQ(screen.buffer->linesWithImagesCount(), 2);
    screen.buffer->resize(20, 4);
    EXPECT_EQ(screen.absolute(1), letters.substr(20, 10));
    EXPECT_EQ(screen.buffer->lines()[0], first);
    EXPECT_EQ(screen.buffer->lines()[1], second);
    ASSERT_TRUE(second->images().has_value());
    EXPECT_EQ(second->images()->size(), 2u);
    EXPECT_EQ((*second->images())[0], image);
    EXPECT_EQ(screen.buffer->linesWithImagesCount(), 1);
    ASSERT_EQ(screen.buffer->semanticPromptMarks(1).size(), 1u);
    EXPECT_EQ(screen.buffer->semanticPromptMarks(1)[0].position, kestrovan::Position(5, 1))
        << "the mark is back at 'z'";
    EXPECT_EQ(screen.buffer->semanticPromptStartRow(), 1);
}

TEST(BufferResize, RowsComeFromAndGoToTheScrollback)
{
    // Cursor on the last row: the top rows go into the scrollback.
    Screen screen(10, 4);
    screen.print({"a", "b", "c", "d"});
    screen.buffer->resize(10, 2);
    EXPECT_EQ(screen.all(), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(screen.buffer->yBase(), 2);
    EXPECT_EQ(screen.buffer->y(), 1);

    // Growing takes them back and the cursor moves down with its text.
    screen.buffer->resize(10, 5);
    EXPECT_EQ(screen.all(), (Lines{"a", "b", "c", "d", ""}))
        << "a new blank row once the scrollback is used up";
    EXPECT_EQ(screen.buffer->yBase(), 0);
    EXPECT_EQ(screen.buffer->y(), 3);
    expectConsistent(*screen.buffer, "grown");

    // With blank rows below the cursor, those go instead.
    Screen top(10, 4);
    top.ascii("a");
    top.buffer->attachImage(std::make_shared<TestImage>(), 3);
    top.buffer->resize(10, 2);
    EXPECT_EQ(top.all(), (Lines{"a", ""}));
    EXPECT_FALSE(top.buffer->hasAnyImages()) << "the image went with its row";
}

TEST(BufferResize, TheRingLengthFollowsTheRows)
{
    Screen screen(10, 3, 2);
    screen.print({"a", "b", "c", "d", "e"});
    ASSERT_EQ(screen.buffer->lines().count(), 5);
    editSavedCursor(*screen.buffer, [&](SavedCursor& saved) { saved.y = 2; });

    // Two rows and two lines of history: the oldest line falls away.
    screen.buffer->resize(10, 2);
    EXPECT_EQ(screen.buffer->lines().maxLength(), 4);
    EXPECT_EQ(screen.all(), (Lines{"b", "c", "d", "e"}));
    EXPECT_EQ(screen.buffer->yBase(), 2);
    EXPECT_EQ(screen.buffer->yDisp(), 2);
    EXPECT_EQ(screen.buffer->savedCursor().y, 1);
    EXPECT_EQ(screen.buffer->totalLinesTrimmed(), 1);

    // A longer ring loses nothing.
    screen.buffer->resize(10, 6);
    EXPECT_EQ(screen.buffer->lines().maxLength(), 8);
    EXPECT_EQ(screen.all(), (Lines{"b", "c", "d", "e", "", ""}));
    EXPECT_EQ(screen.buffer->y(), 3);
}

TEST(BufferResize, WithoutScrollbackNothingReflowsAndWideLinesAreKept)
{
    Screen alternate(10, 3, std::nullopt);
    alternate.print({letters.substr(0, 13), ""});
    alternate.buffer->resize(5, 3);
    EXPECT_EQ(alternate.line(0).count(), 10) << "the cut-off cells are kept";
    EXPECT_EQ(alternate.all(), (Lines{letters.substr(0, 10), letters.substr(10, 3), ""}));
    EXPECT_TRUE(alternate.line(1).isWrapped());

    alternate.buffer->resize(7, 3);
    EXPECT_EQ(alternate.row(0), letters.substr(0, 10)) << "widening short of the old width cuts nothing";
    alternate.buffer->resize(12, 3);
    EXPECT_EQ(alternate.line(0).count(), 12);
    EXPECT_EQ(alternate.all(), (Lines{letters.substr(0, 10), letters.substr(10, 3), ""}))
        << "and it is not joined either";
}

TEST(BufferResizeDeathTest, ALineShorterThanTheNewWidthStopsTheProgram)
{
    Screen screen(10, 3, std::nullopt);
    screen.buffer->lines().set(1, std::make_shared<BufferLine>(3));
    EXPECT_DEATH(screen.buffer->resize(8, 3), "A resized line is shorter than the buffer width");
}
