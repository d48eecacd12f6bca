// Resizing a buffer. STUB: this changes the size without reflowing wrapped text. It adds and
// removes rows the way the full resize does (keeping the cursor line in place), widens lines,
// and keeps the cursor, region, margins and tab stops valid, so the terminal can be resized
// safely. Reflow (joining and splitting wrapped lines of the normal buffer) is filled in with the
// resize family.
#include "Kestrovan/Buffer.h"

#include <algorithm>

namespace kestrovan {

void Buffer::resize(int newCols, int newRows)
{
    newCols = std::max(newCols, 1);
    newRows = std::max(newRows, 1);

    if (marginRight_ > newCols - 1)
        marginRight_ = newCols - 1;
    marginLeft_ = std::min(marginLeft_, marginRight_);

    const int length = getCorrectBufferLength(newRows);
    if (lines_.maxLength() < length)
        lines_.setMaxLength(length);

    int added = 0;
    if (lines_.count() > 0) {
        if (newCols > cols_) {
            for (int row = 0; row < lines_.count(); ++row)
                lines_[row]->resize(newCols, PackedCell());
        }
        if (newRows < rows_) {
            for (int step = 0; step < rows_ - newRows; ++step) {
                if (yBase_ + newRows >= lines_.count())
                    continue;
                if (yBase_ + y_ + 1 >= lines_.count()) {
                    // The cursor is on the last line: the top row goes into the scrollback.
                    ++yBase_;
                    ++yDisp_;
                } else {
                    // A blank line below the cursor goes.
                    lines_.setCount(lines_.count() - 1);
                }
            }
        } else if (newRows > rows_) {
            for (int step = 0; step < newRows - rows_; ++step) {
                if (lines_.count() >= yBase_ + newRows)
                    continue;
                if (yBase_ >= 1 && lines_.count() <= yBase_ + y_ + added + 1) {
                    // A line comes back from the scrollback.
                    --yBase_;
                    ++added;
                    if (yDisp_ >= 1)
                        --yDisp_;
                } else {
                    lines_.push(std::make_shared<BufferLine>(newCols, PackedCell(), PackedCell(), false,
                                                             defaultBidiState, cellArena_));
                }
            }
        }
        if (length < lines_.maxLength()) {
            const int amount = lines_.count() - length;
            if (amount > 0) {
                lines_.trimStart(amount);
                yBase_ = std::max(yBase_ - amount, 0);
                yDisp_ = std::max(yDisp_ - amount, 0);
                savedY = std::max(savedY - amount, 0);
            }
            lines_.setMaxLength(length);
        }
        x_ = std::min(x_, newCols - 1);
        y_ = std::min(y_, newRows - 1) + added;
        savedX = std::min(savedX, newCols - 1);
    }

    scrollTop_ = 0;
    scrollBottom_ = newRows - 1;
    tabStops_.resize(static_cast<size_t>(newCols), false);
    // Without reflow a narrower normal buffer cuts its lines; the alternate one keeps them wide.
    if (hasScrollback_ && newCols < cols_) {
        for (int row = 0; row < lines_.count(); ++row)
            lines_[row]->resize(newCols, PackedCell());
    }
    cols_ = newCols;
    rows_ = newRows;
}

} // namespace kestrovan
