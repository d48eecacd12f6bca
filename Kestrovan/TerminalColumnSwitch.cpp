// DECCOLM, the column-mode switch: the grid goes to 80 or 132 columns, the screen is blanked (unless
// DECNCSM keeps it) and the cursor homed. Inside a feed the normal buffer's scrollback may wait for
// its reflow while a run of switches goes on (ColumnSwitchRun.h); the run ends here.
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <algorithm>

namespace kestrovan {

void Terminal::changeColumnMode(int columns)
{
    // Programs switch to 132 columns freely; only a host that allowed it (mode 40) follows.
    if (!modes_[TerminalMode::allow80To132])
        return;
    // The normal buffer's scrollback may wait for its reflow (see `ColumnSwitchRun`) when the
    // screen, blanked or kept (DECNCSM), takes no part in the reflow. A switch to the width the
    // grid has already resizes nothing and keeps any run going, and one made on the alternate
    // screen leaves the normal buffer as it is until it returns.
    const bool keepsScreen =
        modes_[TerminalMode::noClearOnColumnChange] && conformance_ == TerminalConformance::vt500;
    Buffer& normal = *normalBuffer_;
    const int target = std::max(columns, MINIMUM_COLS);
    const bool deferScrollback = target != _cols && _buffer == normalBuffer_ && normal.cols() == _cols &&
                                 normal.rows() == _rows && normal.canDeferColumnSwitch(target);
    keepNormalBufferInResize_ = deferScrollback || target == _cols || _buffer != normalBuffer_;
    resize(columns, _rows);
    keepNormalBufferInResize_ = false;
    if (deferScrollback && normal.cols() != _cols)
        resizeNormalBufferDeferringScrollback(_cols);

    // The grid's own width from here on: the resize may have clamped or refused the request.
    const int width = _cols;
    modes_.set(TerminalMode::marginMode, false);
    Buffer& alternate = *altBuffer_;
    alternate.setScrollTop(0);
    alternate.setScrollBottom(alternate.rows() - 1);
    alternate.setMarginLeft(0);
    alternate.setMarginRight(alternate.cols() - 1);
    switchNormalBufferColumns();
    if (_buffer == altBuffer_) {
        _buffer->setX(0);
        _buffer->setY(0);
        // DECNCSM keeps the screen, but only on a terminal that claims to know it.
        if (!keepsScreen) {
            for (int row = 0; row < _rows; ++row) {
                const int index = alternate.yBase() + row;
                if (index >= alternate.lines().count())
                    break;
                // Indexing the ring creates a missing line.
                alternate.lines()[index]->resize(width, currentEraseBlankCell());
                resetBufferLine(row, true, modes_.bidiState());
            }
        }
    }
    if (!keepsScreen)
        clearKittyImagesOnScreen();

    updateFullScreen();
    if (auto host = delegate())
        host->sizeChanged(*this);
}

void Terminal::switchNormalBufferColumns()
{
    Buffer& normal = *normalBuffer_;
    // A normal buffer waiting behind the alternate screen keeps its old size until it returns,
    // and is resized (region and margins included) only if that differs.
    if (_buffer == normalBuffer_ && (normal.cols() != _cols || normal.rows() != _rows))
        resizeNormalBufferKeepingSavedRow(_cols, _rows);
    normal.setScrollTop(0);
    normal.setScrollBottom(normal.rows() - 1);
    normal.setMarginLeft(0);
    normal.setMarginRight(normal.cols() - 1);
    if (_buffer != normalBuffer_)
        return;
    normal.setX(0);
    normal.setY(0);
    if (modes_[TerminalMode::noClearOnColumnChange] && conformance_ == TerminalConformance::vt500)
        return;
    for (int row = 0; row < _rows; ++row) {
        const int index = normal.yBase() + row;
        if (index >= normal.lines().count())
            break;
        // Indexing the ring creates a missing line.
        normal.lines()[index]->resize(_cols, currentEraseBlankCell());
        resetBufferLine(row, true, modes_.bidiState());
    }
}

void Terminal::finishColumnSwitchRun()
{
    // The screen stays as it is, and the rows marked changed during the run were marked by the
    // rows the reflow leaves (`Buffer::settledYDisp`), as switches made one by one mark them.
    columnSwitchRun_.close();
    normalBuffer_->reflowPendingScrollback();
}

} // namespace kestrovan
