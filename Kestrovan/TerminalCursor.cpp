// Cursor movement of the active buffer: the clamping primitive, absolute and relative moves, the
// CSI cursor commands, tab clearing, save and restore, the paragraph-direction controls and
// DECBI/DECFI.
//
// After a character is printed into the last column (or the right margin) the cursor stays on that
// column with a wrap pending (`Buffer::wrapPending`). Every command here sees the cursor on that
// column; the moves end the pending wrap, the tab moves and DECFI's column scroll keep it (as
// xterm does), and DECSC saves it for DECRC. None of these commands replies to the host.
#include "Kestrovan/Terminal.h"

#include <algorithm>

namespace kestrovan {

namespace {

/// Parameter `index`, or `fallback` when the sequence does not carry it. The parser always passes
/// at least one parameter (0 for an empty sequence), but handlers called without a sequence get
/// none.
int parameter(const CsiParameters& pars, int index, int fallback)
{
    return index < pars.count ? static_cast<int>(pars[index]) : fallback;
}

/// The usual count of a cursor command: the first parameter, at least 1.
int countParameter(const CsiParameters& pars)
{
    return std::max(1, parameter(pars, 0, 1));
}

} // namespace

void Terminal::restrictCursor(bool limitCols)
{
    Buffer& active = *_buffer;
    // A pending wrap survives only when `limitCols` is false.
    const bool keepWrap = !limitCols && active.wrapPending();
    active.setX(std::min(std::max(active.x(), 0), _cols - 1));
    active.setWrapPending(keepWrap);
    if (modes_[TerminalMode::originMode])
        active.setY(std::min(std::max(active.y(), active.scrollTop()), active.scrollBottom()));
    else
        active.setY(std::min(std::max(active.y(), 0), _rows - 1));
    updateRange(active.y());
}

void Terminal::setCursor(int col, int row)
{
    Buffer& active = *_buffer;
    if (modes_[TerminalMode::originMode]) {
        updateRange(active.y());
        active.setX(col + (modes_[TerminalMode::marginMode] ? active.marginLeft() : 0));
        active.setY(row + active.scrollTop());
        restrictCursor(true);
        return;
    }
    // Outside origin mode this is `restrictCursor(true)` after the move, in one step: TUIs send a
    // CUP before nearly every field they draw, and every DECSTBM homes the cursor. A negative
    // coordinate leaves that one where it was, as `setX` and `setY` do.
    const int oldY = active.y();
    const int newX = std::min(std::max(col < 0 ? active.x() : col, 0), _cols - 1);
    const int newY = std::min(std::max(row < 0 ? oldY : row, 0), _rows - 1);
    active.setX(newX);
    active.setY(newY);
    updateRanges(oldY, newY);
}

std::pair<int, int> Terminal::getCursorLocation() const
{
    return {_buffer->x(), _buffer->y()};
}

int Terminal::getTopVisibleRow() const
{
    return _buffer->yDisp();
}

// --- Relative moves ------------------------------------------------------------------------------

void Terminal::cursorForward(int count)
{
    Buffer& active = *_buffer;
    // A cursor already right of the right margin is not pulled back to it: it may go on to the edge.
    int limit = modes_[TerminalMode::marginMode] ? active.marginRight() : _cols - 1;
    if (active.x() > limit)
        limit = _cols - 1;
    active.setX(std::min(limit, active.x() + std::max(1, count)));
}

void Terminal::cursorBackward(int count)
{
    Buffer& active = *_buffer;
    // Likewise a cursor left of the left margin may go on to column 0.
    int limit = modes_[TerminalMode::marginMode] ? active.marginLeft() : 0;
    if (active.x() < limit)
        limit = 0;
    active.setX(std::max(limit, active.x() - std::max(1, count)));
}

void Terminal::reverseWrapBackward(int count)
{
    Buffer& active = *_buffer;
    // A pending wrap survives the clamp: it counts as one step below.
    restrictCursor(false);
    int remaining = count;
    int x = active.x();
    int y = active.y();
    const int right = modes_[TerminalMode::marginMode] ? active.marginRight() : _cols - 1;
    const int left = modes_[TerminalMode::marginMode] ? active.marginLeft() : 0;
    // The first step back from a pending wrap only ends the wait, as does the step that brings a
    // cursor right of the right margin onto it.
    if (active.wrapPending() || x > right) {
        x = std::min(x, right);
        remaining -= 1;
    }
    const int leftBound = x < left ? 0 : left;

    // Each pass either ends inside the current line or uses up the rest of it plus the step onto
    // the line above, so `remaining` shrinks by at least one per pass.
    while (remaining >= 1) {
        if (x - remaining >= leftBound) {
            x -= remaining;
            break;
        }
        remaining -= x - leftBound + 1;
        if (modes_[TerminalMode::reverseWraparoundExtended]) {
            // The extended mode wraps round the scroll region and ignores the wrap marks.
            if (y == active.scrollTop()) {
                y = active.scrollBottom();
                x = right;
            } else if (y < 1) {
                x = leftBound;
                break;
            } else {
                y -= 1;
                x = right;
            }
        } else {
            // The plain mode only goes back over soft wraps, and never above the region's top.
            const bool continuesLineAbove = active.lines()[active.yBase() + y]->isWrapped();
            if (y < 1 || y == active.scrollTop() || !continuesLineAbove) {
                x = leftBound;
                break;
            }
            y -= 1;
            x = right;
        }
    }
    active.setX(x);
    active.setY(y);
    updateRange(y);
}

// --- CSI cursor commands -------------------------------------------------------------------------

void Terminal::cmdCursorUp(const CsiParameters& pars, Collect)
{
    // CUU stops at the region's top only when it starts inside or below the region; origin mode
    // plays no part.
    Buffer& active = *_buffer;
    const int top = active.y() < active.scrollTop() ? 0 : active.scrollTop();
    active.setY(std::max(top, active.y() - countParameter(pars)));
    active.setWrapPending(false);
}

void Terminal::cmdCursorDown(const CsiParameters& pars, Collect)
{
    // CUD: the mirror of CUU, stopping at the region's bottom unless it starts below it.
    Buffer& active = *_buffer;
    const int bottom = active.y() > active.scrollBottom() ? _rows - 1 : active.scrollBottom();
    active.setY(std::min(bottom, active.y() + countParameter(pars)));
    active.setWrapPending(false);
}

void Terminal::cmdCursorCharAbsolute(const CsiParameters& pars, Collect)
{
    // CHA: to a column of the cursor line.
    Buffer& active = *_buffer;
    const int col = std::max(1, parameter(pars, 0, 1)) - 1;
    // In origin mode the column counts from the left margin. The sum is kept inside the grid: a
    // column past the edge would leave the cursor where no cell exists.
    if (modes_[TerminalMode::originMode] && modes_[TerminalMode::marginMode])
        active.setX(std::min(_cols - 1, active.marginLeft() + col));
    else
        active.setX(std::min(_cols - 1, col));
}

void Terminal::cmdCharPosAbsolute(const CsiParameters& pars, Collect)
{
    // HPA: like CHA, but in origin mode it also stops at the right margin.
    Buffer& active = *_buffer;
    const int col = std::max(1, parameter(pars, 0, 1));
    if (modes_[TerminalMode::originMode] && modes_[TerminalMode::marginMode])
        active.setX(std::min(active.marginRight(), active.marginLeft() + col - 1));
    else
        active.setX(std::min(_cols - 1, col - 1));
}

void Terminal::cmdHPositionRelative(const CsiParameters& pars, Collect)
{
    // HPR: margins play no part; only the screen's edge stops it.
    Buffer& active = *_buffer;
    active.setX(std::min(_cols - 1, active.x() + countParameter(pars)));
}

void Terminal::cmdLinePosAbsolute(const CsiParameters& pars, Collect)
{
    // VPA: the row counts from the region's top in origin mode, and stays inside the region.
    Buffer& active = *_buffer;
    const int row = std::max(1, parameter(pars, 0, 1));
    if (modes_[TerminalMode::originMode])
        active.setY(std::min(active.scrollBottom(), active.scrollTop() + row - 1));
    else
        active.setY(std::min(_rows - 1, row - 1));
    active.setWrapPending(false);
}

void Terminal::cmdVPositionRelative(const CsiParameters& pars, Collect)
{
    // VPR: down to the last screen row whatever the region; like CUD it ends a pending wrap.
    Buffer& active = *_buffer;
    active.setY(std::min(_rows - 1, active.y() + countParameter(pars)));
    active.setWrapPending(false);
}

// Flattened: with `setCursor` inlined the compiler knows both coordinates are not negative.
[[gnu::flatten]] void Terminal::cmdCursorPosition(const CsiParameters& pars, Collect)
{
    // CUP: through `setCursor`, so origin mode keeps the cursor inside the region.
    const int row = std::max(1, parameter(pars, 0, 1)) - 1;
    const int col = std::max(1, parameter(pars, 1, 1)) - 1;
    setCursor(col, row);
}

void Terminal::cmdHVPosition(const CsiParameters& pars, Collect)
{
    // Unlike CUP, HVP clamps only to the screen, not to the scroll region, and marks no row.
    Buffer& active = *_buffer;
    const int row = std::max(1, parameter(pars, 0, 1));
    const int col = std::max(1, parameter(pars, 1, 1));
    active.setY(std::min(_rows - 1, row - 1 + (modes_[TerminalMode::originMode] ? active.scrollTop() : 0)));
    active.setX(std::min(_cols - 1, col - 1 +
                                        (modes_[TerminalMode::originMode] && modes_[TerminalMode::marginMode]
                                             ? active.marginLeft()
                                             : 0)));
}

// --- Tab stops -----------------------------------------------------------------------------------

void Terminal::cmdTabClear(const CsiParameters& pars, Collect)
{
    Buffer& active = *_buffer;
    switch (parameter(pars, 0, 0)) {
    case 0: // the stop at the cursor column
        active.tabClear(active.x());
        return;
    case 3: // every stop
        for (int col = 0; col < static_cast<int>(active.tabStops().size()); ++col)
            active.tabClear(col);
        return;
    default:
        return;
    }
}

// --- Save and restore ----------------------------------------------------------------------------

void Terminal::cmdSaveCursor(const CsiParameters&, Collect collect)
{
    if (!collect.empty())
        return;
    // Each buffer keeps its own slot, so the alternate screen's save does not clobber the normal one.
    Buffer& active = *_buffer;
    active.setSavedCursor(SavedCursor{
        .x = active.x(),
        .y = active.y(),
        .wrapPending = active.wrapPending(),
        .originMode = modes_[TerminalMode::originMode],
        .marginMode = modes_[TerminalMode::marginMode],
        .characterProtection = modes_[TerminalMode::characterProtection],
        .attr = currentAttribute(),
        .charset = charsets_.charset(),
    });
}

void Terminal::cmdRestoreCursor(const CsiParameters&, Collect collect)
{
    if (!collect.empty())
        return;
    Buffer& active = *_buffer;
    const SavedCursor saved = active.savedCursor();
    // A slot saved before a shrink is clamped; a saved pending wrap comes back with it.
    active.setX(std::min(_cols - 1, std::max(0, saved.x)));
    active.setY(std::min(_rows - 1, std::max(0, saved.y)));
    active.setWrapPending(saved.wrapPending);

    if (saved.attr != currentAttribute()) {
        setCurrentAttribute(saved.attr, internStyle(InternedAttributeKey::of(saved.attr)).value_or(0));
        // Erased cells take only the background of the attribute, as after SGR.
        Attribute erase;
        if (!curAttr_.bg.isDefaultInverted())
            erase.bg = curAttr_.bg;
        setEraseAttribute(erase);
        rebuildEraseCells(erase == curAttr_ ? curStyleID_
                                            : internStyle(InternedAttributeKey::of(erase)).value_or(0));
    }

    // The invoked slot and the designations are not part of the saved state: only the set in
    // effect is.
    charsets_.restoreInEffect(saved.charset);
    modes_.set(TerminalMode::originMode, saved.originMode);
    modes_.set(TerminalMode::marginMode, saved.marginMode);
    modes_.set(TerminalMode::characterProtection, saved.characterProtection);
}

// --- Paragraph direction -------------------------------------------------------------------------

namespace {

/// The direction SCP selects, absent for values it ignores.
std::optional<BidiDirection> characterPathDirection(int value, BidiDirection initial)
{
    switch (value) {
    case 0: // the configured direction
        return initial;
    case 1:
        return BidiDirection::leftToRight;
    case 2:
        return BidiDirection::rightToLeft;
    default:
        return std::nullopt;
    }
}

/// The direction SPD selects, absent for values it ignores.
std::optional<BidiDirection> presentationDirection(int value)
{
    switch (value) {
    case 0: // horizontal, left to right
        return BidiDirection::leftToRight;
    case 3: // horizontal, right to left
        return BidiDirection::rightToLeft;
    default:
        return std::nullopt;
    }
}

} // namespace

void Terminal::setParagraphDirection(BidiDirection direction)
{
    // The new fallback direction becomes the current state and both buffers' default. Existing
    // text is only re-laid out when the cursor stands at the start of a paragraph.
    BidiPresentationState state = modes_.bidiState();
    state.fallbackDirection = direction;
    modes_.setBidiState(state);
    applyCurrentBidiStateAtParagraphStart(BidiStateProperty::fallbackDirection);
    updateFullScreen();
}

void Terminal::cmdSelectCharacterPath(const CsiParameters& pars, Collect)
{
    const std::optional<BidiDirection> direction =
        characterPathDirection(parameter(pars, 0, 0), _options.initialBidiState.fallbackDirection);
    if (!direction)
        return;
    setParagraphDirection(*direction);
}

void Terminal::cmdSelectPresentationDirection(const CsiParameters& pars, Collect)
{
    const std::optional<BidiDirection> direction = presentationDirection(parameter(pars, 0, 0));
    if (!direction)
        return;
    setParagraphDirection(*direction);
}

// --- DECBI and DECFI -----------------------------------------------------------------------------

void Terminal::columnIndex(bool back)
{
    // The margins are read whether or not margin mode is on: without margins they are the edges,
    // so at the edge the columns scroll instead of the cursor moving.
    Buffer& active = *_buffer;
    if (back) {
        if (active.x() != active.marginLeft())
            cursorBackward(1);
        else
            columnScroll(true, active.x());
        return;
    }
    // At the right margin the columns scroll and a pending wrap stays pending.
    if (active.x() == active.marginRight())
        columnScroll(false, active.marginLeft());
    else
        cursorForward(1);
}

} // namespace kestrovan
