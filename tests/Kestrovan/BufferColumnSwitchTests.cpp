// Column switches that defer the scrollback's reflow, against the same switches made with an
// immediate reflow (`Buffer::resize`): after any mix of switches and output, with screens blanked
// or kept, the two buffers must hold the same cells, wrap flags, cursor and saved cursor.
#include "tests/Kestrovan/ScrollingTerminalDouble.h"
#include "tests/Kestrovan/TestSupport.h"

#include "Kestrovan/Buffer.h"

#include <cstdlib>
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
using kestrovan::testing::editSavedCursor;
using kestrovan::testing::setBufferMode;

namespace {

struct Screen
{
    ScrollingTerminalDouble terminal;
    std::unique_ptr<Buffer> buffer;
    bool defers = false;
    // Whether output that may scroll a line into the scrollback ends a run of switches first, as
    // the terminal does while a selection or a scrolled-back view names rows.
    bool endsRunOnScroll = false;

    Screen(int cols, int rows, int scrollback, bool deferring, bool endsRun = false)
        : buffer(std::make_unique<Buffer>(cols, rows, 8, scrollback, BidiPresentationState())),
          defers(deferring), endsRunOnScroll(endsRun)
    {
        buffer->fillViewportRows();
        setBufferMode(*buffer, &BufferModeMirror::wraparound, true);
        buffer->setTerminal(&terminal);
    }

    // What a terminal does before output that may move a line into the scrollback.
    void beforeOutput(int cells)
    {
        if (endsRunOnScroll &&
            buffer->y() + (buffer->columnAfterPrinted() + cells) / buffer->cols() >= buffer->scrollBottom())
            buffer->reflowPendingScrollback();
    }
    void ascii(const std::string& text, uint16_t style)
    {
        beforeOutput(int(text.size()));
        buffer->insertAsciiRun(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), style,
                               0);
    }
    void wide(char32_t scalar)
    {
        beforeOutput(2);
        buffer->insertScalarRun(std::span(&scalar, 1), 2, 0, 0);
    }
    void newline()
    {
        if (endsRunOnScroll && buffer->y() >= buffer->scrollBottom())
            buffer->reflowPendingScrollback();
        buffer->setX(0);
        terminal.lineFeed(*buffer);
    }
    // DECCOLM as the terminal makes it: resize (or defer the scrollback's part), then home the
    // cursor and, unless the screen is kept (DECNCSM), blank the screen.
    void switchColumns(int cols, bool keepScreen)
    {
        const PackedCell blank = buffer->getPackedBlankCell(kestrovan::Attribute());
        if (defers && buffer->canDeferColumnSwitch(cols))
            buffer->resizeDeferringScrollback(cols);
        else
            buffer->resize(cols, buffer->rows());
        buffer->setScrollTop(0);
        buffer->setScrollBottom(buffer->rows() - 1);
        buffer->setMarginLeft(0);
        buffer->setMarginRight(cols - 1);
        buffer->setX(0);
        buffer->setY(0);
        for (int row = 0; row < buffer->rows() && !keepScreen; ++row) {
            BufferLine& line = *buffer->lines()[buffer->yBase() + row];
            line.resize(cols, blank);
            line.repairWideSeam(cols);
            line.fill(blank, 0, cols);
            line.setWrapped(false);
        }
    }
};

// Everything a reader of the buffer sees, as one string.
std::string stateOf(Buffer& buffer)
{
    std::string out =
        "size " + std::to_string(buffer.cols()) + "x" + std::to_string(buffer.rows()) + " lines " +
        std::to_string(buffer.lines().count()) + " yBase " + std::to_string(buffer.yBase()) + " yDisp " +
        std::to_string(buffer.yDisp()) + " trimmed " + std::to_string(buffer.totalLinesTrimmed()) +
        " cursor " + std::to_string(buffer.x()) + "," + std::to_string(buffer.y()) +
        (buffer.wrapPending() ? "+" : "") + " saved " + std::to_string(buffer.savedCursor().x) + "," +
        std::to_string(buffer.savedCursor().y) + " region " + std::to_string(buffer.scrollTop()) + "-" +
        std::to_string(buffer.scrollBottom()) + " margins " + std::to_string(buffer.marginLeft()) + "-" +
        std::to_string(buffer.marginRight()) + "\n";
    for (int row = 0; row < buffer.lines().count(); ++row) {
        const BufferLine& line = *buffer.lines()[row];
        out +=
            std::to_string(row) + (line.isWrapped() ? " w" : " -") + " " + std::to_string(line.count()) + ":";
        for (int col = 0; col < line.count(); ++col)
            out += " " + std::to_string(line.packed(col).rawValue);
        out += "\n";
    }
    return out;
}

} // namespace

TEST(BufferColumnSwitch, DeferredScrollbackReflowEndsAsReflowingAtEverySwitch)
{
    // KESTROVAN_COLUMN_SWITCH_SEEDS runs more seeds than CI does, from
    // KESTROVAN_COLUMN_SWITCH_FIRST_SEED on.
    const char* seedsVariable = std::getenv("KESTROVAN_COLUMN_SWITCH_SEEDS");
    const uint32_t seeds = seedsVariable ? uint32_t(std::strtoul(seedsVariable, nullptr, 10)) : 300;
    const char* firstVariable = std::getenv("KESTROVAN_COLUMN_SWITCH_FIRST_SEED");
    for (uint32_t seed = firstVariable ? uint32_t(std::strtoul(firstVariable, nullptr, 10)) : 1;
         seed <= seeds; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&](int low, int high) {
            return std::uniform_int_distribution<int>(low, high)(random);
        };
        // Column mode switches between 80 and 132 columns; the window may have had any width.
        const int startCols = pick(0, 2) == 0 ? pick(60, 140) : 80;
        const int rows = pick(3, 8);
        const int scrollback = pick(5, 60);
        Screen eager(startCols, rows, scrollback, false);
        Screen deferring(startCols, rows, scrollback, true, pick(0, 4) == 0);
        std::vector<Screen*> both{&eager, &deferring};
        // A style with a background, so that blank cells past the text can carry a look.
        const kestrovan::Attribute blue(kestrovan::Attribute::Color(),
                                        kestrovan::Attribute::Color::ansi256(4));
        const uint16_t coloured = eager.buffer->cellArena()->intern(blue).value_or(0);
        ASSERT_EQ(deferring.buffer->cellArena()->intern(blue).value_or(0), coloured);

        // Output: short lines, lines long enough to wrap at 80 or 132 columns, two-column
        // characters at any column (one piece in ten, or half with `denseWide`), and coloured
        // blanks after the text.
        // Screens kept through the switches, or blanked with text wrapped on them before the
        // next, take part in the reflow. Output then overwrites kept text, widened with empty
        // cells, which may leave an empty cell before a two-column character at a wrap edge:
        // taken for the gap such a character leaves, a reflow at each switch drops one more of
        // them than a reflow once. So kept screens get narrow text only.
        const bool keepScreens = pick(0, 2) == 0;
        bool denseWide = false;
        const auto printText = [&](int length) {
            for (int written = 0; written < length;) {
                const int kind = keepScreens ? pick(1, 9) : pick(0, 9);
                if (kind == 9) {
                    // A cursor move forward leaves empty cells in the text. Not right before a
                    // two-column character: an empty cell on a wrap edge is then taken for the
                    // gap such a character leaves when it moves on, and every switch there
                    // and back drops one, which only a reflow at each switch repeats.
                    const int skip = pick(1, 3);
                    for (Screen* s : both) {
                        s->buffer->setX(
                            std::min(s->buffer->columnAfterPrinted() + skip, s->buffer->cols() - 1));
                        s->ascii("-", 0);
                    }
                    written += skip + 1;
                } else if (kind == 0 || (denseWide && !keepScreens && kind < 5)) {
                    const char32_t scalar = char32_t(0x4e00 + pick(0, 50));
                    for (Screen* s : both)
                        s->wide(scalar);
                    written += 2;
                } else {
                    const std::string text(size_t(pick(1, 30)), char('a' + pick(0, 25)));
                    const uint16_t style = kind == 1 ? coloured : 0;
                    for (Screen* s : both)
                        s->ascii(text, style);
                    written += int(text.size());
                }
            }
        };
        const auto output = [&](int maxLines, int maxLength) {
            for (int count = pick(0, maxLines); count > 0; --count) {
                printText(pick(0, maxLength));
                if (pick(0, 4) == 0) {
                    const std::string blanks(size_t(pick(1, 60)), ' ');
                    for (Screen* s : both)
                        s->ascii(blanks, coloured);
                }
                // An erase to the end of the row above with a background (EL), as a program that
                // moves the cursor up does: the text of a wrapped line then has erased cells,
                // which hold no character, inside or at its end.
                if (pick(0, 3) == 0) {
                    const int from = pick(0, 131);
                    for (Screen* s : both) {
                        Buffer& buffer = *s->buffer;
                        if (buffer.y() > 0)
                            buffer.lines()[buffer.yBase() + buffer.y() - 1]->replacePackedCells(
                                std::min(from, buffer.cols() - 1), buffer.cols(),
                                buffer.getPackedBlankCell(blue));
                    }
                }
                // The same on the cursor's row, from the cursor or from the row's start (CR
                // first): a wrapped line whose last row was erased whole ends its text on the
                // row before.
                if (const int erase = pick(0, 3); erase < 2) {
                    for (Screen* s : both) {
                        if (erase == 1)
                            s->buffer->setX(0);
                        Buffer& buffer = *s->buffer;
                        buffer.lines()[buffer.yBase() + buffer.y()]->replacePackedCells(
                            buffer.x(), buffer.cols(), buffer.getPackedBlankCell(blue));
                    }
                }
                if (count > 1 || pick(0, 1) == 0) {
                    for (Screen* s : both)
                        s->newline();
                }
            }
        };
        output(scrollback + rows + 20, 300);
        // Now and then one line longer than the whole ring, often with many two-column
        // characters, which every later switch cuts into with a line feed or two between.
        const bool oneLongLine = pick(0, 2) == 0;
        if (oneLongLine) {
            denseWide = pick(0, 1) == 0;
            printText((scrollback + rows) * pick(80, 400));
            denseWide = false;
            for (Screen* s : both)
                s->newline();
        }
        const int savedX = pick(0, 79);
        const int savedY = pick(0, rows - 1);
        for (Screen* s : both) {
            editSavedCursor(*s->buffer, [&](SavedCursor& saved) {
                saved.x = savedX;
                saved.y = savedY;
            });
        }

        for (int feed = pick(1, 6); feed > 0; --feed) {
            for (int step = pick(1, 12); step > 0; --step) {
                const int cols = pick(0, 1) == 0 ? 80 : 132;
                const bool keepScreen = keepScreens && pick(0, 3) != 0;
                for (Screen* s : both)
                    s->switchColumns(cols, keepScreen);

                // Mostly a little on the screen; now and then more than a screen's worth, or a
                // long line the next narrower switch must reflow with the scrollback; or, from
                // the bottom row, one line or many scrolled into the (soon full) scrollback.
                const int kind = oneLongLine && pick(0, 3) != 0 ? 14 : pick(0, 13);
                if (kind == 14) {
                    for (Screen* s : both)
                        s->buffer->setY(rows - 1);
                    for (int feeds = pick(1, 2); feeds > 0; --feeds) {
                        for (Screen* s : both)
                            s->newline();
                    }
                } else if (kind < 6) {
                    output(rows - 2, 40);
                } else if (kind < 8) {
                    output(rows + 5, 200);
                } else if (kind < 10) {
                    output(2, 130);
                } else {
                    for (Screen* s : both)
                        s->buffer->setY(rows - 1);
                    if (kind < 12) {
                        // Now and then one line longer than the whole ring, cut at every scroll.
                        output(1, kind == 10 ? 40 : pick(0, 9) == 0 ? 3000 : 300);
                        for (Screen* s : both)
                            s->newline();
                    } else {
                        output(2 * rows + scrollback / 2, 300);
                    }
                }
            }
            // The end of a feed: the terminal reflows what waits.
            deferring.buffer->reflowPendingScrollback();
            ASSERT_EQ(stateOf(*deferring.buffer), stateOf(*eager.buffer))
                << "seed " << seed << ", feed " << feed;
        }
    }
}
