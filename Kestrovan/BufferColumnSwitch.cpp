// Column switches that leave the scrollback's reflow for later.
//
// A column-mode switch (DECCOLM) resizes the buffer and blanks the screen. Reflowing the
// scrollback costs time in proportion to its length, and a program can switch thousands of times
// a second with a little output between the switches. When the screen rows take no part in the
// reflow (nothing on them is wrapped or too long for the new width), the scrollback comes out of
// a switch exactly as if it had been reflowed alone, so a run of such switches only needs the
// screen rows resized each time and the scrollback reflowed once, when the run ends.
//
// Output may scroll rows into the scrollback during the run. A switch blanks the screen and
// none of its rows is wrapped, so the rows that scroll in between two switches never continue a
// line from before: the scrollback is a series of epochs (the scrollback the run began with, then
// the rows of each interval between switches), each laid out at its own width, whose wrapped
// groups each reflow on their own. A group's rows at a width depend on its text and the width
// alone (for groups whose text a reflow keeps, see `keepsTextThroughReflow`), so the rows the
// scrollback would have at any moment, and so the rows a full ring would drop, are known from
// per-group counts made once per epoch and width. Whole groups that would fall off the ring are
// dropped as they are; a group cut in two keeps its rows and the cell its rest starts at, and its
// rest is counted and laid out from there (BufferDeferredCut.cpp), as it becomes a group of its
// own in a buffer reflowed at every switch. A group whose rows carry what a reflow moves with
// the line objects is reflowed alone to the buffer's width instead, and its rest becomes an epoch
// of its own. Until the run ends the ring may hold more rows than its limit (an epoch laid out at a
// narrower width has more rows), so it is let grow and brought back to its length at the end.
//
// Rows scrolled in lately are few, and cost less to reflow at each switch than to count: they
// are kept at the buffer's width until there are enough of them, and then wait laid out at one
// width the run picks, so that neighbouring epochs laid out alike merge once the widths they went
// through agree. A switch thus costs what the rows scrolled in since the last one cost, whatever
// the scrollback holds; what is counted is counted once per epoch and width, and the run's end
// reflows every row once, as a single switch would.
//
// Reflowing text to one width and back gives the text it started from, except that a narrower
// width cuts what lies past its edge on lines it does not split (blank cells with a background),
// and a reflow blanks the cells after the text of the groups it rewrites; so an epoch's deferred
// reflow goes through the narrowest width it saw (or there and back from the widest when it was
// laid out at the narrowest and came back to it) before the width the run ends at.
#include "Kestrovan/BufferDeferredScrollback.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace kestrovan {

namespace {

using LinePointer = std::shared_ptr<BufferLine>;

/// More epochs than this end the run instead of deferring the next switch: each switch updates
/// every epoch. Epochs merge, so only output made to keep them apart gets there, and a reflow of
/// the whole scrollback every so many switches then costs little beside it.
constexpr size_t maximumEpochs = 64;

/// Rows scrolled in between switches are kept at the buffer's width, reflowed at each switch,
/// until they are this many: a few rows cost less to reflow than to count.
constexpr int minimumLazyRows = 32;

/// More rows kept at the buffer's width than this end the run instead of deferring the next
/// switch: rows that do not keep their text through reflows (or never meet the width the run
/// picked) stay there, and reflowing them at each switch must not cost more than the output
/// that made them.
constexpr int64_t maximumEagerRows = 1024;

} // namespace

bool Buffer::DeferredEpoch::reflowsAlike(const DeferredEpoch& other) const
{
    // `reflowLinesAlone` reads the layout width, the narrowest and widest widths, and whether a
    // switch went back to the layout width when it is the narrowest; later switches change
    // these alike.
    const auto returned = [](const DeferredEpoch& epoch) {
        return epoch.narrowest < epoch.laidOut || epoch.narrowestVisits > 1;
    };
    return laidOut == other.laidOut && narrowest == other.narrowest && widest == other.widest &&
           narrowed == other.narrowed && returned(*this) == returned(other);
}

void Buffer::DeferredEpoch::merge(const DeferredEpoch& below)
{
    groupRows.insert(groupRows.end(), below.groupRows.begin() + static_cast<std::ptrdiff_t>(below.firstGroup),
                     below.groupRows.end());
    groupLastTrimmed.insert(groupLastTrimmed.end(),
                            below.groupLastTrimmed.begin() + static_cast<std::ptrdiff_t>(below.firstGroup),
                            below.groupLastTrimmed.end());
    rows += below.rows;
    stable = stable && below.stable;
    // Counts both have carry over; the others are made again when needed.
    std::vector<RowsAtWidth> merged;
    for (RowsAtWidth& counted : rowsAtWidths) {
        for (const RowsAtWidth& other : below.rowsAtWidths) {
            if (other.width != counted.width)
                continue;
            counted.groupRows.insert(counted.groupRows.end(),
                                     other.groupRows.begin() + static_cast<std::ptrdiff_t>(below.firstGroup),
                                     other.groupRows.end());
            counted.total += other.total;
            merged.push_back(std::move(counted));
            break;
        }
    }
    rowsAtWidths = std::move(merged);
}

void Buffer::DeferredEpoch::visit(int from, int width)
{
    narrowed = narrowed || width < from;
    if (width < narrowest) {
        narrowest = width;
        narrowestVisits = 1;
    } else if (width == narrowest) {
        narrowestVisits += 1;
    }
    widest = std::max(widest, width);
}

bool Buffer::canDeferScrollbackReflow(int newCols) const
{
    if (!canDeferAnyReflow(newCols))
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

bool Buffer::canDeferAnyReflow(int newCols) const
{
    if (!hasScrollback_ || yDisp_ != yBase_ || newCols < 2 || lines_.count() != yBase_ + rows_)
        return false;
    if (!deferred_)
        return true;
    int64_t eagerRows = 0;
    for (const DeferredEpoch& epoch : deferred_->epochs)
        eagerRows += epoch.lazy ? 0 : epoch.rows;
    return deferred_->epochs.size() < maximumEpochs && eagerRows <= maximumEagerRows;
}

Buffer::DeferredEpoch Buffer::makeDeferredEpoch(int firstRow, int count, int laidOut)
{
    DeferredEpoch epoch;
    epoch.laidOut = laidOut;
    epoch.narrowest = laidOut;
    epoch.narrowestVisits = 1;
    epoch.widest = laidOut;
    epoch.rows = count;
    int groupStart = firstRow;
    const auto close = [&](int end) {
        if (end == groupStart)
            return;
        const int rows = end - groupStart;
        const int lastTrimmed = lines_[end - 1]->getTrimmedLength();
        epoch.stable = epoch.stable && keepsTextThroughReflow(rows, lastTrimmed);
        epoch.groupRows.push_back(rows);
        epoch.groupLastTrimmed.push_back(lastTrimmed);
        groupStart = end;
    };
    for (int row = firstRow; row < firstRow + count; ++row) {
        if (!lines_[row]->isWrapped())
            close(row);
    }
    close(firstRow + count);
    epoch.lazy = epoch.stable;
    return epoch;
}

int Buffer::deferredEpochRows(DeferredEpoch& epoch, int firstRow, int width)
{
    // Rows reflowed at each switch are at the buffer's width, the only one asked for.
    if (!epoch.lazy)
        return epoch.rows;
    for (const DeferredEpoch::RowsAtWidth& counted : epoch.rowsAtWidths) {
        if (counted.width == width)
            return static_cast<int>(counted.total);
    }
    DeferredEpoch::RowsAtWidth counted;
    counted.width = width;
    counted.groupRows.resize(epoch.groupRows.size(), 0);
    std::vector<LinePointer> group;
    int row = firstRow;
    for (size_t index = epoch.firstGroup; index < epoch.groupRows.size(); ++index) {
        const int rows = epoch.groupRows[index];
        const int lastTrimmed = epoch.groupLastTrimmed[index];
        if (index == epoch.firstGroup && epoch.cut) {
            counted.groupRows[index] = cutGroupRows(epoch, width);
        } else if (rows == 1 && lastTrimmed <= width) {
            counted.groupRows[index] = 1;
        } else {
            group.clear();
            for (int i = 0; i < rows; ++i)
                group.push_back(lines_[row + i]);
            counted.groupRows[index] = reflowedRowCount(group, epoch.laidOut, width, lastTrimmed);
        }
        row += rows;
        counted.total += counted.groupRows[index];
    }
    epoch.rowsAtWidths.push_back(std::move(counted));
    return static_cast<int>(epoch.rowsAtWidths.back().total);
}

std::vector<LinePointer> Buffer::reflowLinesAlone(std::vector<LinePointer> lines, const DeferredEpoch& epoch,
                                                  int width)
{
    // The lines go through the real reflow in a buffer of their own with a one-row blank screen
    // below them, which takes no part in it. It shares the arena and the prompt start line, so
    // cells and marks move exactly as they would here.
    Buffer scratch(epoch.laidOut, 1, 8, maximumBufferLength - 1, defaultBidiState_, cellArena_);
    const int count = static_cast<int>(lines.size());
    for (LinePointer& line : lines)
        scratch.lines_.push(std::move(line));
    scratch.lines_.push(scratch.getBlankLine(PackedCell(), false));
    scratch.yBase_ = count;
    scratch.yDisp_ = count;
    scratch.semanticPrompt_.followStartLine(semanticPrompt_.startLine());

    const int narrowings = epoch.narrowestVisits - (epoch.laidOut == epoch.narrowest ? 1 : 0);
    if (epoch.narrowest < epoch.laidOut) {
        scratch.resize(epoch.narrowest, 1);
    } else if ((narrowings >= 1 || epoch.narrowed) && epoch.widest > epoch.narrowest) {
        // Laid out at the narrowest width, then widened and narrowed again: going to the widest
        // and back rewrites the groups as that narrowing did, and loses nothing, since no row
        // held anything past the narrowest width.
        scratch.resize(epoch.widest, 1);
        scratch.resize(epoch.narrowest, 1);
    }
    const bool moved = scratch.cols_ != epoch.laidOut || width != epoch.laidOut;
    scratch.resize(width, 1);
    semanticPrompt_.followStartLine(scratch.semanticPrompt_.startLine());

    std::vector<LinePointer> result;
    result.reserve(static_cast<size_t>(scratch.yBase_));
    const PackedCell nullCell;
    for (int row = 0; row < scratch.yBase_; ++row) {
        const LinePointer& line = scratch.lines_[row];
        // A resize marks every cell of a line as written (`usedLength`), which the print paths
        // and their checks read; lines a switch passed over get that here.
        if (!moved)
            line->resize(line->count(), nullCell);
        result.push_back(line);
    }
    return result;
}

void Buffer::ensureRingRoom(int extra)
{
    if (int64_t(lines_.count()) + extra < lines_.maxLength())
        return;
    const int64_t wanted = std::max(int64_t(lines_.maxLength()) * 2, int64_t(lines_.count()) + extra + 1);
    lines_.setMaxLength(static_cast<int>(std::min<int64_t>(wanted, maximumBufferLength)));
}

void Buffer::replaceRows(int first, int count, const std::vector<LinePointer>& lines)
{
    const int delta = static_cast<int>(lines.size()) - count;
    if (delta > 0)
        ensureRingRoom(delta);
    if (first == 0) {
        if (delta < 0)
            lines_.trimStart(-delta);
        else
            lines_.growStart(delta);
        for (size_t i = 0; i < lines.size(); ++i)
            lines_.set(static_cast<int>(i), lines[i]);
    } else if (delta == 0) {
        for (size_t i = 0; i < lines.size(); ++i)
            lines_.set(first + static_cast<int>(i), lines[i]);
    } else {
        lines_.splice(first, count, lines);
    }
    yBase_ += delta;
    yDisp_ = yBase_;
}

void Buffer::dropRowsOffFullRing()
{
    DeferredScrollback& deferred = *deferred_;
    int64_t overflow = deferred.rowsAtWidth + (yBase_ - deferred.physicalRows) + rows_ - deferred.ringLength;
    while (overflow > 0) {
        if (deferred.epochs.empty()) {
            // Rows scrolled in since the last switch are at the buffer's width.
            const int dropped = static_cast<int>(std::min<int64_t>(overflow, yBase_));
            lines_.trimStart(dropped);
            yBase_ -= dropped;
            addLinesTrimmed(dropped);

            break;
        }
        DeferredEpoch& epoch = deferred.epochs.front();
        if (epoch.firstGroup >= epoch.groupRows.size()) {
            deferred.epochs.pop_front();
            continue;
        }
        const size_t group = epoch.firstGroup;
        const int held = epoch.groupRows[group];
        deferredEpochRows(epoch, 0, cols_);
        int atWidth = held;
        if (epoch.lazy) {
            for (const DeferredEpoch::RowsAtWidth& counted : epoch.rowsAtWidths) {
                if (counted.width == cols_)
                    atWidth = counted.groupRows[group];
            }
        }
        // Rows kept at the buffer's width, or laid out at it with no switch since, are where a
        // reflow at every switch would have them.
        const bool atBufferWidth = !epoch.lazy || (epoch.laidOut == cols_ && epoch.narrowest == cols_ &&
                                                   epoch.widest == cols_ && epoch.narrowestVisits == 1);
        if (overflow < atWidth && atBufferWidth && !epoch.cut) {
            // The top rows go as they are, and the rest of the group is a group of its own.
            const int dropped = static_cast<int>(overflow);
            lines_.trimStart(dropped);
            yBase_ -= dropped;
            addLinesTrimmed(dropped);
            epoch.groupRows[group] -= dropped;
            epoch.rows -= dropped;
            deferred.physicalRows -= dropped;
            deferred.rowsAtWidth -= dropped;
            if (epoch.lazy) {
                std::vector<LinePointer> rest;
                for (int row = 0; row < epoch.groupRows[group]; ++row)
                    rest.push_back(lines_[row]);
                for (DeferredEpoch::RowsAtWidth& counted : epoch.rowsAtWidths) {
                    const int before = counted.groupRows[group];
                    const int now = counted.width == cols_
                                        ? before - dropped
                                        : reflowedRowCount(rest, epoch.laidOut, counted.width,
                                                           epoch.groupLastTrimmed[group]);
                    counted.groupRows[group] = now;
                    counted.total += now - before;
                }
            }
            break;
        }

        // A group the ring cuts into keeps its rows and where the cut fell, if it can
        // (BufferDeferredCut.cpp); its rest is laid out when the run ends.
        if (overflow < atWidth && epoch.lazy && cutDeferredGroup(epoch, static_cast<int>(overflow)))
            break;

        // The group leaves the epoch, whole or cut.
        epoch.cut.reset();
        epoch.firstGroup += 1;
        epoch.rows -= held;
        for (DeferredEpoch::RowsAtWidth& counted : epoch.rowsAtWidths)
            counted.total -= counted.groupRows[group];
        deferred.physicalRows -= held;
        deferred.rowsAtWidth -= atWidth;
        if (overflow >= atWidth) {
            lines_.trimStart(held);
            yBase_ -= held;
            addLinesTrimmed(atWidth);
            overflow -= atWidth;
            continue;
        }
        std::vector<LinePointer> lines;
        for (int row = 0; row < held; ++row)
            lines.push_back(lines_[row]);
        std::vector<LinePointer> reflowed = reflowLinesAlone(std::move(lines), epoch, cols_);
        const int cut = static_cast<int>(std::min<int64_t>(overflow, static_cast<int64_t>(reflowed.size())));
        reflowed.erase(reflowed.begin(), reflowed.begin() + cut);
        addLinesTrimmed(cut);
        overflow -= cut;
        replaceRows(0, held, reflowed);
        if (!reflowed.empty()) {
            const int rest = static_cast<int>(reflowed.size());
            deferred.epochs.push_front(makeDeferredEpoch(0, rest, cols_));
            deferred.physicalRows += rest;
            deferred.rowsAtWidth += rest;
        }
    }
    yDisp_ = yBase_;
    deferredRowShift_ = static_cast<int>(deferred.rowsAtWidth - deferred.physicalRows);
}

void Buffer::resizeScreenDeferringScrollback(int newCols)
{
    newCols = std::max(newCols, 1);
    // A switch to the width the buffer has reflows nothing (the terminal does not even make one).
    if (newCols != cols_)
        deferScrollbackReflow(newCols, yBase_);

    // What `resize` does to everything but the scrollback rows, for the same row count.
    if (marginRight_ > newCols - 1)
        marginRight_ = newCols - 1;
    marginLeft_ = std::min(marginLeft_, marginRight_);
    const PackedCell nullCell;
    for (int screenRow = yBase_; screenRow < lines_.count(); ++screenRow) {
        BufferLine& line = *lines_[screenRow];
        // As there, the cells the repair blanks past the edge go with the cut and end no gap.
        const bool gap = line.endsWithWideGap();
        if (newCols < cols_)
            line.repairWideSeam(newCols);
        line.resize(newCols, nullCell);
        line.setEndsWithWideGap(gap);
    }
    fitCursorColumn(newCols);
    saved_.x = std::min(saved_.x, newCols - 1);
    scrollTop_ = 0;
    scrollBottom_ = rows_ - 1;
    tabStops_.resize(static_cast<size_t>(newCols), false);
    const bool changed = newCols != cols_;
    cols_ = newCols;
    if (!changed || !deferred_)
        return;
    countDeferredRows();
}

void Buffer::countDeferredRows()
{
    // The rows the scrollback would have now, and those that would fall off a full ring.
    DeferredScrollback& deferred = *deferred_;
    deferred.physicalRows = 0;
    deferred.rowsAtWidth = 0;
    int row = 0;
    for (DeferredEpoch& epoch : deferred.epochs) {
        deferred.rowsAtWidth += deferredEpochRows(epoch, row, cols_);
        deferred.physicalRows += epoch.rows;
        row += epoch.rows;
    }
    dropRowsOffFullRing();
}

void Buffer::deferScrollbackReflow(int newCols, int scrollbackEnd)
{
    if (!deferred_) {
        deferred_ = std::make_unique<DeferredScrollback>();
        deferred_->ringLength = lines_.maxLength();
        if (scrollbackEnd > 0)
            deferred_->epochs.push_back(makeDeferredEpoch(0, scrollbackEnd, cols_));
    } else {
        // The rows scrolled in since the last switch join the rows kept at the buffer's width.
        int physical = 0;
        for (const DeferredEpoch& epoch : deferred_->epochs)
            physical += epoch.rows;
        if (scrollbackEnd > physical) {
            std::deque<DeferredEpoch>& epochs = deferred_->epochs;
            int first = physical;
            if (!epochs.empty() && !epochs.back().lazy) {
                first -= epochs.back().rows;
                epochs.pop_back();
            }
            epochs.push_back(makeDeferredEpoch(first, scrollbackEnd - first, cols_));
            epochs.back().lazy = false;
        }
    }

    // Epochs kept at the buffer's width are reflowed now, one step, as every switch would; the
    // others only note the width.
    DeferredScrollback& deferred = *deferred_;
    int row = 0;
    for (DeferredEpoch& epoch : deferred.epochs) {
        if (epoch.lazy) {
            epoch.visit(cols_, newCols);
            row += epoch.rows;
            continue;
        }
        std::vector<LinePointer> lines;
        for (int i = 0; i < epoch.rows; ++i)
            lines.push_back(lines_[row + i]);
        DeferredEpoch step = makeDeferredEpoch(row, 0, cols_);
        step.visit(cols_, newCols);
        const std::vector<LinePointer> reflowed = reflowLinesAlone(std::move(lines), step, newCols);
        replaceRows(row, epoch.rows, reflowed);
        epoch = makeDeferredEpoch(row, static_cast<int>(reflowed.size()), newCols);
        // Rows enough to be worth counting wait from now on, laid out at one width the run
        // picks, so that epochs laid out alike can merge once their widths since agree.
        const bool aligned = deferred.tailWidth == 0 || deferred.tailWidth == newCols;
        epoch.lazy = epoch.stable && epoch.rows >= minimumLazyRows && aligned;
        if (epoch.lazy)
            deferred.tailWidth = newCols;
        row += epoch.rows;
    }

    // Neighbours that will be reflowed alike are one epoch.
    std::deque<DeferredEpoch>& epochs = deferred.epochs;
    row = epochs.empty() ? 0 : epochs.front().rows;
    for (size_t i = 1; i < epochs.size();) {
        DeferredEpoch& above = epochs[i - 1];
        DeferredEpoch& below = epochs[i];
        // Only a smaller epoch is taken in, so that merging costs what the merged rows cost.
        if (!above.lazy || !below.lazy || above.rows < below.rows || !above.reflowsAlike(below)) {
            row += below.rows;
            ++i;
            continue;
        }
        // The counts the epoch above has are made for the one below, so that none is lost.
        for (const DeferredEpoch::RowsAtWidth& counted : above.rowsAtWidths)
            deferredEpochRows(below, row, counted.width);
        row += below.rows;
        above.merge(below);
        epochs.erase(epochs.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void Buffer::prepareScrollWithPendingReflow()
{
    if (deferred_)
        ensureRingRoom(1);
}

bool Buffer::finishScrollWithPendingReflow()
{
    if (!deferred_)
        return false;
    const int64_t droppedBefore = linesTop_;
    dropRowsOffFullRing();
    return linesTop_ != droppedBefore;
}

std::vector<LinePointer> Buffer::settledEpochLines(const DeferredEpoch& epoch, int firstRow, int rows)
{
    std::vector<LinePointer> lines;
    lines.reserve(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i)
        lines.push_back(lines_[firstRow + i]);
    if (!epoch.lazy)
        return lines;
    std::vector<LinePointer> settled;
    if (epoch.cut && firstRow == 0) {
        // The rest of a cut group, then the groups below it.
        settled = layOutCutGroup(epoch);
        lines.erase(lines.begin(), lines.begin() + epoch.groupRows[epoch.firstGroup]);
        if (lines.empty())
            return settled;
    }
    const std::vector<LinePointer> reflowed = reflowLinesAlone(std::move(lines), epoch, cols_);
    settled.insert(settled.end(), reflowed.begin(), reflowed.end());
    return settled;
}

void Buffer::reflowPendingScrollback()
{
    if (!deferred_)
        return;
    const std::unique_ptr<DeferredScrollback> deferred = std::move(deferred_);
    deferredRowShift_ = 0;
    std::vector<LinePointer> rebuilt;
    rebuilt.reserve(static_cast<size_t>(lines_.count()));
    int row = 0;
    for (const DeferredEpoch& epoch : deferred->epochs) {
        const std::vector<LinePointer> settled = settledEpochLines(epoch, row, epoch.rows);
        rebuilt.insert(rebuilt.end(), settled.begin(), settled.end());
        row += epoch.rows;
    }
    for (; row < lines_.count(); ++row)
        rebuilt.push_back(lines_[row]);

    // The counts kept the ring within its length; should a group have come out longer than
    // counted, its top rows fall off as they would have.
    const int excess = std::max(static_cast<int>(rebuilt.size()) - deferred->ringLength, 0);
    addLinesTrimmed(excess);
    lines_.setCount(0);
    lines_.setMaxLength(deferred->ringLength);
    lines_.setCount(static_cast<int>(rebuilt.size()) - excess);
    for (int i = 0; i < lines_.count(); ++i)
        lines_.set(i, std::move(rebuilt[static_cast<size_t>(i + excess)]));
    yBase_ = lines_.count() - rows_;
    yDisp_ = yBase_;
    recalculateLinesWithImagesCount();
}

} // namespace kestrovan
