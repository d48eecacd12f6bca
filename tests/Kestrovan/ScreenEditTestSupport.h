// Helpers for the tests of the commands that edit cells and lines in place (erasing, scrolling,
// insertion and deletion): reaching screen lines, placing wide characters without the print path,
// finding split wide characters, and setting the erase style (through SGR), region and margins.
#pragma once

#include "RecordingTerminalDelegate.h"

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
inline BufferLine& screenLine(Terminal& t, int row)
{
    return *t.buffer().lines()[t.buffer().yBase() + row];
}

/// Writes a wide character whose left half is at `col` of screen row `row`.
inline void putWide(Terminal& t, int row, int col, char32_t scalar = U'\u597d')
{
    BufferLine& line = screenLine(t, row);
    line.set(col, Terminal::makeCharData(Attribute(), scalar, 2));
    line.set(col + 1, Terminal::makeCharData(Attribute(), 0, 0));
}

/// "" when every half of a wide character on the row has its other half, else where one is alone.
inline std::string strayHalves(Terminal& t, int row)
{
    BufferLine& line = screenLine(t, row);
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

/// Sets the scroll region of the active buffer (screen rows, inclusive).
inline void setRegion(Terminal& t, int top, int bottom)
{
    t.buffer().setScrollTop(top);
    t.buffer().setScrollBottom(bottom);
}

/// Turns left/right margin mode on (DECLRMM) with the given margins (columns, inclusive) through
/// DECSLRM, which leaves the cursor where it is.
inline void setMargins(Terminal& t, int left, int right)
{
    t.feed("\x1b[?69h\x1b[" + std::to_string(left + 1) + ";" + std::to_string(right + 1) + "s");
}

} // namespace kestrovan::testing
