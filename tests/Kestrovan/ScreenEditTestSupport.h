// Helpers for the tests of the commands that edit cells and lines in place (erasing, scrolling,
// insertion and deletion): reading screen lines, placing wide characters, finding split wide
// characters, and setting the erase style (through SGR), region and margins. Everything goes
// through sequences the terminal is fed.
#pragma once

#include "RecordingTerminalDelegate.h"

#include "Kestrovan/SelectionService.h"
#include "Kestrovan/Utf8.h"

#include <memory>
#include <string>

namespace kestrovan::testing {

/// Gives the terminal an erase style with a palette or true-colour background through SGR 48, which
/// gives the current attribute that background too.
inline void setEraseBackground(Terminal& t, Attribute::Color background)
{
    const std::string colour = background.isTrueColor() ? "2;" + std::to_string(background.red()) + ";" +
                                                              std::to_string(background.green()) + ";" +
                                                              std::to_string(background.blue())
                                                        : "5;" + std::to_string(background.code());
    t.feed("\x1b[48;" + colour + "m");
}

/// The line of screen row `row` of the active buffer (counted from `yBase`).
inline const BufferLine& screenLine(const Terminal& t, int row)
{
    return t.buffer().lines().lineOrEmpty(t.buffer().yBase() + row);
}

/// Prints a wide character in the default look with its left half at `col` of screen row `row`;
/// the cursor, its pending wrap and the current look are saved and restored around it (DECSC,
/// DECRC).
inline void putWide(Terminal& t, int row, int col, char32_t scalar = U'\u597d')
{
    std::string text = "\x1b"
                       "7\x1b[" +
                       std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H\x1b[m";
    appendUtf8(text, scalar);
    t.feed(text + "\x1b"
                  "8");
}

/// "" when every half of a wide character on the row has its other half, else where one is alone.
inline std::string strayHalves(Terminal& t, int row)
{
    const BufferLine& line = screenLine(t, row);
    for (int col = 0; col < line.count(); ++col) {
        const PackedCell cell = line.packed(col);
        const bool leadAlone =
            cell.isLead() && (col + 1 >= line.count() || !line.packed(col + 1).isContinuation());
        const bool continuationAlone = cell.isContinuation() && (col == 0 || !line.packed(col - 1).isLead());
        if (leadAlone || continuationAlone)
            return "stray half at column " + std::to_string(col);
    }
    return "";
}

/// Sets the scroll region of the active buffer (screen rows, inclusive) with DECSTBM, and puts the
/// cursor back where it was (DECSTBM homes it).
inline void setRegion(Terminal& t, int top, int bottom)
{
    const auto [x, y] = t.getCursorLocation();
    t.feed("\x1b[" + std::to_string(top + 1) + ";" + std::to_string(bottom + 1) + "r");
    moveCursor(t, x, y);
}

/// Turns left/right margin mode on (DECLRMM) with the given margins (columns, inclusive) through
/// DECSLRM, which leaves the cursor where it is.
inline void setMargins(Terminal& t, int left, int right)
{
    t.feed("\x1b[?69h\x1b[" + std::to_string(left + 1) + ";" + std::to_string(right + 1) + "s");
}

/// Registers an active selection from start to end on the fixture's terminal.
inline std::shared_ptr<SelectionService> selectRows(TerminalFixture& fixture, Position start, Position end)
{
    auto selection = std::make_shared<SelectionService>(fixture.terminal);
    selection->setSelection(start, end);
    fixture.t().registerSelection(selection);
    return selection;
}

} // namespace kestrovan::testing
