// Resizing a buffer: rows are added or removed at the bottom, or taken from and given back to the
// scrollback, so that the cursor line keeps its place; lines are widened or cut; the cursor,
// region, margins and tab stop array follow. A buffer with scrollback also reflows its wrapped
// lines (BufferReflow.cpp) before its lines are cut to a narrower width.
#include "Kestrovan/Buffer.h"
#include "Kestrovan/Diagnostics.h"
#include "Kestrovan/Fatal.h"

#include <algorithm>
#include <string>

namespace kestrovan {

// A cursor waiting to wrap has printed up to the old edge: a wider screen goes on right after
// that text, a narrower one puts the cursor on its last column. Either way the wait ends, since
// the cursor no longer stands on the edge it waited at; a resize that keeps the width keeps it.
void Buffer::fitCursorColumn(int newCols)
{
    if (newCols == cols_) {
        x_ = std::min(x_, newCols - 1);
        return;
    }
    x_ = std::min(columnAfterPrinted(), newCols - 1);
    wrapPending_ = false;
}

void Buffer::resize(int newCols, int newRows)
{
    // Lines of two widths cannot be resized together: a deferred reflow comes first.
    reflowPendingScrollback();
    newCols = std::max(newCols, 1);
    newRows = std::max(newRows, 1);
    // Reflow and widening blank cells with packed cell 0: empty, default attribute.
    const PackedCell nullCell;

    if (marginRight_ > newCols - 1)
        marginRight_ = newCols - 1;
    marginLeft_ = std::min(marginLeft_, marginRight_);

    // A longer ring is made at once, so the rows taken below never push lines off its top.
    const int length = getCorrectBufferLength(newRows);
    if (lines_.maxLength() < length)
        lines_.setMaxLength(length);

    if (lines_.count() == 0) {
        // An empty ring (an alternate screen not in use) still takes the new capacity: left at
        // the old, taller one, the screen filled later would keep the extra lines as a history
        // the alternate screen must not have.
        if (lines_.maxLength() != length)
            lines_.setMaxLength(length);
        fitCursorColumn(newCols);
        y_ = std::min(y_, newRows - 1);
        scrollBottom_ = newRows - 1;
    } else {
        if (newCols > cols_) {
            for (int row = 0; row < lines_.count(); ++row) {
                BufferLine& line = *lines_[row];
                // A buffer that does not reflow may hold lines wider than the screen from an
                // earlier, wider size; they keep their cells until the screen is that wide again.
                if (hasScrollback_ || line.count() < newCols)
                    line.resize(newCols, nullCell);
            }
        }

        int added = 0;
        if (newRows < rows_) {
            for (int step = 0; step < rows_ - newRows; ++step) {
                if (yBase_ + newRows >= lines_.count())
                    continue;
                if (yBase_ + y_ + 1 >= lines_.count()) {
                    // The cursor is on the last line: the top row goes into the scrollback.
                    ++yBase_;
                    ++yDisp_;
                } else {
                    // A line below the cursor goes, and with it any image it carried.
                    const std::shared_ptr<BufferLine>& last = lines_.lineIfPresent(lines_.count() - 1);
                    if (last && last->hasImages())
                        linesWithImagesCount_ -= 1;
                    lines_.setCount(lines_.count() - 1);
                }
            }
        } else if (newRows > rows_) {
            for (int step = 0; step < newRows - rows_; ++step) {
                if (lines_.count() >= yBase_ + newRows)
                    continue;
                if (yBase_ >= 1 && lines_.count() <= yBase_ + y_ + added + 1) {
                    // Nothing below the cursor: a line comes back from the scrollback, and the
                    // cursor moves down with its text.
                    --yBase_;
                    ++added;
                    if (yDisp_ >= 1)
                        --yDisp_;
                } else {
                    lines_.push(std::make_shared<BufferLine>(newCols, nullCell, nullCell, false,
                                                             defaultBidiState_, cellArena_));
                }
            }
        }

        if (length < lines_.maxLength()) {
            const int amount = lines_.count() - length;
            if (amount > 0) {
                dropOldestLines(amount);
                // These lines fell off the top of a full ring, as scrolling drops them.
                addLinesTrimmed(amount);
                yBase_ = std::max(yBase_ - amount, 0);
                yDisp_ = std::max(yDisp_ - amount, 0);
                saved_.y = std::max(saved_.y - amount, 0);
            }
            lines_.setMaxLength(length);
        }

        fitCursorColumn(newCols);
        y_ = std::min(y_, newRows - 1) + added;
        saved_.x = std::min(saved_.x, newCols - 1);
        scrollTop_ = 0;
        scrollBottom_ = newRows - 1;
    }

    // New columns get no stops here; the terminal lays them out after the resize.
    tabStops_.resize(static_cast<size_t>(newCols), false);

    if (hasScrollback_ && newCols != cols_) {
        if (newCols > cols_)
            reflowWider(cols_, newCols, newRows);
        else
            reflowNarrower(cols_, newCols, newRows);
        recalculateLinesWithImagesCount();
        if (newCols < cols_) {
            // The cut must not leave half a wide character: the lines of the cursor's group were
            // not reflowed and may hold one across the new edge. What the repair blanks past the
            // edge goes with the cut, so it ends no gap the reflow left at the new edge.
            for (int row = 0; row < lines_.count(); ++row) {
                BufferLine& line = *lines_[row];
                const bool gap = line.endsWithWideGap();
                line.repairWideSeam(newCols);
                line.resize(newCols, nullCell);
                line.setEndsWithWideGap(gap);
            }
        }
    }

    // Every cell of the screen must exist; a shorter line would be read past its end. Empty
    // slots are skipped: they are filled at the new width when first read.
    for (int row = 0; row < lines_.count(); ++row) {
        const std::shared_ptr<BufferLine>& line = lines_.lineIfPresent(row);
        if (line && line->count() < newCols) {
            printDiagnostic("stop here newCols=" + std::to_string(newCols) +
                            " but the element has: " + std::to_string(line->count()));
            fatal("A resized line is shorter than the buffer width");
        }
    }

    cols_ = newCols;
    rows_ = newRows;
}

} // namespace kestrovan
