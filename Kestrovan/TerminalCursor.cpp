// Cursor movement of the active buffer: the clamping primitive, absolute and relative moves, the
// CSI cursor commands, tab clearing, save and restore, the paragraph-direction controls and
// DECBI/DECFI.
#include "Kestrovan/Terminal.h"

#include <algorithm>

namespace kestrovan {

void Terminal::restrictCursor(bool limitCols)
{
    Buffer& active = *_buffer;
    // The column may stand one past the last column (a pending wrap) unless `limitCols` ends it.
    active.setX(std::min(std::max(active.x(), 0), limitCols ? _cols - 1 : _cols));
    if (originMode)
        active.setY(std::min(std::max(active.y(), active.scrollTop()), active.scrollBottom()));
    else
        active.setY(std::min(std::max(active.y(), 0), _rows - 1));
    updateRange(active.y());
}

void Terminal::setCursor(int col, int row)
{
    Buffer& active = *_buffer;
    updateRange(active.y());
    if (originMode) {
        active.setX(col + (marginMode ? active.marginLeft() : 0));
        active.setY(row + active.scrollTop());
    } else {
        active.setX(col);
        active.setY(row);
    }
    restrictCursor(true);
}

std::pair<int, int> Terminal::getCursorLocation() const
{
    return {_buffer->x(), _buffer->y()};
}

int Terminal::getTopVisibleRow() const
{
    return _buffer->yDisp();
}

// The handlers below are filled in with the cursor family.

void Terminal::cursorForward(int) {}

void Terminal::cursorBackward(int) {}

void Terminal::reverseWrapBackward(int) {}

void Terminal::cmdCursorUp(const CsiParameters&, Collect) {}

void Terminal::cmdCursorDown(const CsiParameters&, Collect) {}

void Terminal::cmdCursorCharAbsolute(const CsiParameters&, Collect) {}

void Terminal::cmdCharPosAbsolute(const CsiParameters&, Collect) {}

void Terminal::cmdHPositionRelative(const CsiParameters&, Collect) {}

void Terminal::cmdLinePosAbsolute(const CsiParameters&, Collect) {}

void Terminal::cmdVPositionRelative(const CsiParameters&, Collect) {}

void Terminal::cmdCursorPosition(const CsiParameters&, Collect) {}

void Terminal::cmdHVPosition(const CsiParameters&, Collect) {}

void Terminal::cmdTabClear(const CsiParameters&, Collect) {}

void Terminal::cmdSaveCursor(const CsiParameters&, Collect) {}

void Terminal::cmdRestoreCursor(const CsiParameters&, Collect) {}

void Terminal::cmdSelectCharacterPath(const CsiParameters&, Collect) {}

void Terminal::cmdSelectPresentationDirection(const CsiParameters&, Collect) {}

void Terminal::columnIndex(bool) {}

} // namespace kestrovan
