// Resizing the grid, the pixel geometry and in-band size reports (mode 2048), full reset (RIS),
// the conformance level (DECSCL) and the scrollback size.
//
// The grid is resized by the host (the view or a headless driver), never by the byte stream.
// Every geometry change ends synchronized output first, so the new size is always painted.
#include "Kestrovan/Diagnostics.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

namespace kestrovan {

namespace {

// Pixel sizes of absurd grids or cells are reported as the largest value rather than wrapped.
int64_t saturatingProduct(int64_t a, int64_t b)
{
    int64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product))
        return (a < 0) != (b < 0) ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    return product;
}

} // namespace

void Terminal::resize(int cols, int rows)
{
    resize(cols, rows, std::nullopt);
}

void Terminal::resize(int cols, int rows, std::optional<CellPixelSize> committedCellSize)
{
    const DiagnosticSilence silence(silentLog_);
    // A host resize (or one from anything but a deferred column switch) needs the normal buffer
    // at the grid's size first.
    if (!keepNormalBufferInResize_)
        endColumnSwitchRun();
    endSynchronizedOutput();
    const int newCols = std::max(cols, MINIMUM_COLS);
    const int newRows = std::max(rows, MINIMUM_ROWS);

    if (newCols != _cols || newRows != _rows) {
        const int oldCols = _cols;
        resizeBuffers(newCols, newRows);
        _cols = newCols;
        _rows = newRows;
        _options.cols = newCols;
        _options.rows = newRows;
        // The new columns continue the old rhythm of stops. A normal buffer that waits behind
        // the alternate screen is laid out when it is resized on its return.
        altBuffer_->setupTabStops(oldCols, tabStopWidth);
        if (normalBuffer_->cols() == newCols)
            normalBuffer_->setupTabStops(oldCols, tabStopWidth);
        refresh(0, newRows - 1);
    }

    // The pixel size follows the grid; the cell size changes only when the host commits one.
    if (committedCellSize) {
        pixelGeometry_ =
            TerminalPixelGeometry{newRows, newCols, committedCellSize->width, committedCellSize->height};
    } else if (pixelGeometry_) {
        pixelGeometry_->rows = newRows;
        pixelGeometry_->columns = newCols;
    }

    // Programs that asked for in-band reports hear of every resize request, even one that
    // changes nothing: they may have missed the last one.
    if (modes_[TerminalMode::inBandSizeReportsEnabled])
        reportInBandSizeIfAvailable();
}

void Terminal::updatePixelGeometry(int cellWidth, int cellHeight)
{
    if (cellWidth < 1 || cellHeight < 1)
        return;
    const TerminalPixelGeometry geometry{_rows, _cols, cellWidth, cellHeight};
    if (pixelGeometry_ == geometry)
        return;
    endSynchronizedOutput();
    pixelGeometry_ = geometry;
    if (modes_[TerminalMode::inBandSizeReportsEnabled])
        reportInBandSizeIfAvailable();
}

void Terminal::reportInBandSizeIfAvailable()
{
    // A size the host reported earlier wins; otherwise the host is asked now, and its answer
    // is kept so that later reports need not ask again.
    if (!pixelGeometry_) {
        const std::shared_ptr<TerminalDelegate> host = delegate();
        if (!host)
            return;
        const std::optional<CellPixelSize> cell = host->cellSizeInPixels(*this);
        if (!cell || cell->width < 1 || cell->height < 1)
            return;
        pixelGeometry_ = TerminalPixelGeometry{_rows, _cols, cell->width, cell->height};
    }
    const TerminalPixelGeometry& geometry = *pixelGeometry_;
    const int64_t heightPx = saturatingProduct(geometry.rows, geometry.cellHeight);
    const int64_t widthPx = saturatingProduct(geometry.columns, geometry.cellWidth);
    // CSI 48 ; rows ; columns ; height ; width t
    const std::string body = "48;" + std::to_string(geometry.rows) + ";" + std::to_string(geometry.columns) +
                             ";" + std::to_string(heightPx) + ";" + std::to_string(widthPx) + "t";
    sendResponse(cc_.CSI(), body);
}

void Terminal::resetToInitialState()
{
    modes_.setBidiState(_options.initialBidiState);
    applyCurrentBidiStateAtParagraphStart(BidiStateProperty::allBidiStateProperties);
    updateFullScreen();
    modes_.set(TerminalMode::bidiArrowKeySwap, _options.initialBidiArrowKeySwap);

    // `setup` rebuilds the grid from the options: the reset keeps the current size.
    _options.rows = _rows;
    _options.cols = _cols;

    // Cursor visibility is the host's as much as the program's: it survives a full reset.
    const bool wasHidden = modes_[TerminalMode::cursorHidden];
    setup(true);
    clearAllKittyImages();
    modes_.set(TerminalMode::cursorHidden, wasHidden);

    refresh(0, _rows - 1);
    if (auto host = delegate())
        host->bufferActivated(*this);
}

// DECSCL changes only the level reported and the reply encoding; it does not reset the
// terminal.
void Terminal::cmdSetConformanceLevel(const CsiParameters& pars, Collect)
{
    if (pars.count == 0)
        return;
    switch (pars[0]) {
    case 61:
        conformance_ = TerminalConformance::vt100;
        // A VT100 knows no 8-bit controls.
        cc_.send8bit = false;
        break;
    case 62:
        conformance_ = TerminalConformance::vt200;
        break;
    case 63:
        conformance_ = TerminalConformance::vt300;
        break;
    case 64:
        conformance_ = TerminalConformance::vt400;
        break;
    default:
        conformance_ = TerminalConformance::vt500;
        break;
    }
    // The second parameter picks the reply encoding: 0 and 2 are 8-bit, anything else 7-bit.
    if (pars.count > 1 && conformance_ != TerminalConformance::vt100)
        cc_.send8bit = pars[1] == 0 || pars[1] == 2;
}

void Terminal::clearScrollback()
{
    // The history belongs to the normal screen, whichever screen is shown.
    normalBuffer_->clearScrollback();
    refresh(0, _rows - 1);
    notifyScrollPositionChanged();
}

void Terminal::changeScrollback(std::optional<int> limit)
{
    // Only the normal screen keeps history; the options remember the limit for the buffer a
    // full reset builds.
    normalBuffer_->changeHistorySize(limit);
    _options.scrollback = limit.value_or(0);
    refresh(0, _rows - 1);
}

} // namespace kestrovan
