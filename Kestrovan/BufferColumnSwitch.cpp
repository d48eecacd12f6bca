// Column switches that leave the scrollback's reflow for later.
//
// A column-mode switch (DECCOLM) resizes the buffer and blanks the screen. Reflowing the
// scrollback costs time in proportion to its length, and a program can switch thousands of times
// a second with a little output between the switches. When the screen rows take no part in the
// reflow (nothing on them is wrapped or too long for the new width), the scrollback comes out of
// a switch exactly as if it had been reflowed alone, so a run of such switches only needs the
// screen rows resized each time and the scrollback reflowed once, when the run ends.
//
// Reflowing text to one width and back gives the text it started from, except that a narrower
// width cuts what lies past its edge on lines it does not split (blank cells with a background),
// so the deferred reflow goes through the narrowest width of the run before the last one.
#include "Kestrovan/Buffer.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace kestrovan {

bool Buffer::canDeferScrollbackReflow(int newCols) const
{
    if (!hasScrollback_ || yDisp_ != yBase_ || newCols < 1 || lines_.count() != yBase_ + rows_)
        return false;
    for (int row = yBase_; row < lines_.count(); ++row) {
        const CircularBufferLineList::ConstLinePointer line = lines_.lineIfPresent(row);
        if (!line)
            continue;
        if (line->isWrapped() || (newCols < cols_ && line->getTrimmedLength() > newCols))
            return false;
    }
    return true;
}

void Buffer::resizeScreenDeferringScrollback(int newCols)
{
    newCols = std::max(newCols, 1);
    if (pendingScrollbackCols_ == 0) {
        pendingScrollbackCols_ = cols_;
        pendingNarrowestCols_ = cols_;
        pendingNarrowestVisits_ = 1;
        pendingWidestCols_ = cols_;
    }
    if (newCols < pendingNarrowestCols_) {
        pendingNarrowestCols_ = newCols;
        pendingNarrowestVisits_ = 1;
    } else if (newCols == pendingNarrowestCols_) {
        pendingNarrowestVisits_ += 1;
    }
    pendingWidestCols_ = std::max(pendingWidestCols_, newCols);

    // What `resize` does to everything but the scrollback rows, for the same row count.
    if (marginRight_ > newCols - 1)
        marginRight_ = newCols - 1;
    marginLeft_ = std::min(marginLeft_, marginRight_);
    const PackedCell nullCell;
    for (int row = yBase_; row < lines_.count(); ++row) {
        BufferLine& line = *lines_[row];
        if (newCols < cols_)
            line.repairWideSeam(newCols);
        line.resize(newCols, nullCell);
    }
    fitCursorColumn(newCols);
    savedX = std::min(savedX, newCols - 1);
    scrollTop_ = 0;
    scrollBottom_ = rows_ - 1;
    tabStops_.resize(static_cast<size_t>(newCols), false);
    cols_ = newCols;
}

void Buffer::reflowPendingScrollback()
{
    if (pendingScrollbackCols_ == 0)
        return;
    const int laidOut = pendingScrollbackCols_;
    const int narrowest = pendingNarrowestCols_;
    // Switches that narrowed the buffer to its narrowest width (the run's first width does not
    // count as one).
    const int narrowings = pendingNarrowestVisits_ - (laidOut == narrowest ? 1 : 0);
    const int widest = pendingWidestCols_;
    pendingScrollbackCols_ = 0;
    pendingNarrowestCols_ = 0;
    const int width = cols_;
    if (yBase_ == 0)
        return;
    if (laidOut == width && narrowings == 0) {
        // The text is where the switches would have left it. A resize marks every cell of a
        // line as written (`usedLength`), which the print paths and their checks read; the lines
        // get that from here as they would from the switches.
        const PackedCell nullCell;
        for (int row = 0; row < yBase_; ++row)
            lines_[row]->resize(lines_[row]->count(), nullCell);
        return;
    }

    // The screen is set aside and blanked at the scrollback's width with the cursor at home,
    // which is the screen every deferred switch left: its rows then take no part in the reflow,
    // and the lines keep their identity (prompt marks find their start line by it).
    const int screenTop = yBase_;
    std::vector<std::shared_ptr<BufferLine>> screen;
    std::vector<std::shared_ptr<BufferLine>> contents;
    const PackedCell nullCell;
    for (int row = screenTop; row < lines_.count(); ++row) {
        const std::shared_ptr<BufferLine>& line = lines_[row];
        screen.push_back(line);
        contents.push_back(std::make_shared<BufferLine>(*line));
        line->resize(laidOut, nullCell);
        line->replacePackedCells(0, laidOut, nullCell);
        line->setWrapped(false);
    }
    const int x = x_;
    const int y = y_;
    const bool wrapPending = wrapPending_;
    const int scrollTop = scrollTop_;
    const int scrollBottom = scrollBottom_;
    const int marginLeft = marginLeft_;
    const int marginRight = marginRight_;
    const std::vector<bool> tabStops = tabStops_;
    const int savedColumn = savedX;
    const int savedRow = savedY;
    x_ = 0;
    y_ = 0;
    wrapPending_ = false;
    cols_ = laidOut;
    tabStops_.resize(static_cast<size_t>(laidOut), false);

    // Narrowing is where a reflow loses something: it cuts what lies past the new edge on the
    // lines it does not split and blanks the cells after the text of the lines it does (a group's
    // last line, and a continuation line left on the first row when lines fell off the top).
    // Once the text has been at the narrowest width a reflow only moves it, so the scrollback
    // goes there once (twice when lines fell off, which starts a new group on the first row)
    // and then to the screen's width.
    int rounds = 0;
    bool dropped = true;
    if (narrowest < laidOut) {
        const int64_t trimmedBefore = linesTop;
        resize(narrowest, rows_);
        dropped = linesTop != trimmedBefore;
        rounds = 1;
    }
    while (rounds < std::min(narrowings, 2) && dropped && widest > narrowest) {
        const int64_t trimmedBefore = linesTop;
        resize(widest, rows_);
        resize(narrowest, rows_);
        dropped = linesTop != trimmedBefore;
        rounds += 1;
    }
    resize(width, rows_);

    // The reflow keeps the cursor's row, so the screen lines are the last rows again.
    const int top = lines_.count() - static_cast<int>(screen.size());
    for (size_t i = 0; i < screen.size(); ++i) {
        const int row = top + static_cast<int>(i);
        if (row < 0)
            continue;
        if (lines_[row] != screen[i])
            lines_.set(row, screen[i]);
        screen[i]->copyFrom(*contents[i]);
    }
    x_ = x;
    y_ = y;
    wrapPending_ = wrapPending;
    scrollTop_ = scrollTop;
    scrollBottom_ = scrollBottom;
    marginLeft_ = marginLeft;
    marginRight_ = marginRight;
    tabStops_ = tabStops;
    savedX = savedColumn;
    savedY = savedRow;
    yDisp_ = yBase_;
    recalculateLinesWithImagesCount();
}

} // namespace kestrovan
