// Column switches whose screen rows take part in the reflow, with the scrollback's reflow
// deferred all the same.
//
// A resize reflows each wrapped group on its own (all but the cursor's, which the program
// redraws), then places the screen so that the cursor keeps its row: rows that no longer fit
// above the cursor go into the scrollback, and when the text above the cursor takes fewer rows,
// rows of the scrollback come back onto the screen. That placement reaches less than a screen's
// height above the screen's text, and each wrapped group takes at least one row at any width.
// So the screen, with the rows scrolled in since the last switch and at least `rows` wrapped
// groups above it, is resized for real in a buffer of its own, with one blank row on top
// standing for the rest of the scrollback, which the placement never reaches; the rest waits
// for its reflow as with any other deferred switch (BufferColumnSwitch.cpp). A group that goes
// on from the scrollback onto the screen is part of what is resized for real.
//
// The groups taken from the deferred epochs are laid out at the buffer's width first, as a
// reflow at every switch would have left them. What is resized for real is bounded: a screen
// whose groups reach further back than `maximumRowsResizedForReal` rows is resized with the
// whole scrollback instead.
#include "Kestrovan/BufferDeferredScrollback.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace kestrovan {

namespace {

using LinePointer = std::shared_ptr<BufferLine>;

/// The most rows a deferred switch resizes for real above the screen.
constexpr int64_t maximumRowsResizedForReal = 4096;

} // namespace

Buffer::ScreenReflowPlan Buffer::planScreenReflow() const
{
    ScreenReflowPlan plan;
    int physical = 0;
    if (deferred_) {
        for (const DeferredEpoch& epoch : deferred_->epochs)
            physical += epoch.rows;
    }
    // Upwards through the rows scrolled in since the last switch (all of the scrollback when no
    // switch is deferred yet), counting the groups that start above the screen; a group going
    // on onto the screen counts once it starts.
    int start = yBase_;
    int groups = 0;
    while (start > physical && groups < rows_) {
        --start;
        // An empty slot is a blank line, which starts a group.
        const CircularBufferLineList::ConstLinePointer line = lines_.lineIfPresent(start);
        if (!line || !line->isWrapped())
            ++groups;
        if (yBase_ - start > maximumRowsResizedForReal)
            return plan;
    }
    plan.start = start;
    // The epochs end where a group starts; the rest of the groups come from their ends.
    if (groups < rows_ && deferred_) {
        int64_t taken = yBase_ - start;
        for (auto epoch = deferred_->epochs.rbegin(); epoch != deferred_->epochs.rend() && groups < rows_;
             ++epoch) {
            const size_t held = epoch->groupRows.size() - epoch->firstGroup;
            const size_t wanted = static_cast<size_t>(rows_ - groups);
            if (wanted >= held) {
                taken += epoch->rows;
                groups += static_cast<int>(held);
                plan.epochsTaken += 1;
            } else {
                for (size_t index = epoch->groupRows.size() - wanted; index < epoch->groupRows.size();
                     ++index)
                    taken += epoch->groupRows[index];
                groups += static_cast<int>(wanted);
                plan.groupsTakenFromLast = static_cast<int>(wanted);
            }
            if (taken > maximumRowsResizedForReal)
                return plan;
        }
    }
    plan.feasible = true;
    return plan;
}

bool Buffer::canDeferScrollbackReflowWithScreen(int newCols) const
{
    return canDeferAnyReflow(newCols) && planScreenReflow().feasible;
}

void Buffer::takeGroupsFromEpochs(const ScreenReflowPlan& plan)
{
    std::deque<DeferredEpoch>& epochs = deferred_->epochs;
    int end = 0;
    for (const DeferredEpoch& epoch : epochs)
        end += epoch.rows;
    // Whole epochs first, from the last: laid out at the buffer's width, they become rows
    // scrolled in since the last switch.
    for (int taken = 0; taken < plan.epochsTaken; ++taken) {
        const DeferredEpoch epoch = std::move(epochs.back());
        epochs.pop_back();
        const int first = end - epoch.rows;
        replaceRows(first, epoch.rows, settledEpochLines(epoch, first, epoch.rows));
        end = first;
    }
    if (plan.groupsTakenFromLast == 0)
        return;
    // Then the last groups of the epoch above; what it keeps stays counted as it was.
    DeferredEpoch& epoch = epochs.back();
    const size_t keep = epoch.groupRows.size() - static_cast<size_t>(plan.groupsTakenFromLast);
    int rows = 0;
    for (size_t index = keep; index < epoch.groupRows.size(); ++index)
        rows += epoch.groupRows[index];
    const std::vector<LinePointer> settled = settledEpochLines(epoch, end - rows, rows);
    for (DeferredEpoch::RowsAtWidth& counted : epoch.rowsAtWidths) {
        for (size_t index = keep; index < counted.groupRows.size(); ++index)
            counted.total -= counted.groupRows[index];
        counted.groupRows.resize(keep);
    }
    epoch.groupRows.resize(keep);
    epoch.groupLastTrimmed.resize(keep);
    epoch.rows -= rows;
    replaceRows(end - rows, rows, settled);
}

void Buffer::resizeScreenAndItsGroupsDeferringScrollback(int newCols)
{
    ScreenReflowPlan plan = planScreenReflow();
    if (!deferred_) {
        // The scrollback above what is resized for real waits as one epoch.
        deferred_ = std::make_unique<DeferredScrollback>();
        deferred_->ringLength = lines_.maxLength();
        if (plan.start > 0)
            deferred_->epochs.push_back(makeDeferredEpoch(0, plan.start, cols_));
    } else if (plan.epochsTaken > 0 || plan.groupsTakenFromLast > 0) {
        takeGroupsFromEpochs(plan);
        plan.start = 0;
        for (const DeferredEpoch& epoch : deferred_->epochs)
            plan.start += epoch.rows;
    }
    // The rows scrolled in above them join the epochs, which take the switch as any switch;
    // what is resized for real keeps its distance from the ring's end meanwhile.
    const int resized = lines_.count() - plan.start;
    deferScrollbackReflow(newCols, plan.start);
    const int first = lines_.count() - resized;

    // A buffer of its own, sharing the arena and the prompt start line, holds a blank row for
    // the rest of the scrollback (when there is any), the groups and the screen.
    const int stand = first > 0 ? 1 : 0;
    Buffer part(cols_, rows_, 8, maximumBufferLength - rows_ - 1, defaultBidiState_, cellArena_);
    if (stand)
        part.lines_.push(part.getBlankLine(PackedCell(), false));
    int imagesBefore = 0;
    for (int row = first; row < lines_.count(); ++row) {
        imagesBefore += lines_[row]->hasImages() ? 1 : 0;
        part.lines_.push(lines_[row]);
    }
    part.yBase_ = stand + yBase_ - first;
    part.yDisp_ = part.yBase_;
    part.x_ = x_;
    part.y_ = y_;
    part.wrapPending_ = wrapPending_;
    part.saved_ = saved_;
    part.marginLeft_ = marginLeft_;
    part.marginRight_ = marginRight_;
    part.scrollTop_ = scrollTop_;
    part.scrollBottom_ = scrollBottom_;
    part.tabStops_ = tabStops_;
    part.semanticPrompt_.followStartLine(semanticPrompt_.startLine());
    part.resize(newCols, rows_);

    std::vector<LinePointer> lines;
    int imagesAfter = 0;
    for (int row = stand; row < part.lines_.count(); ++row) {
        imagesAfter += part.lines_[row]->hasImages() ? 1 : 0;
        lines.push_back(part.lines_[row]);
    }
    replaceRows(first, resized, lines);
    linesWithImagesCount_ += imagesAfter - imagesBefore;
    yBase_ = first + part.yBase_ - stand;
    yDisp_ = yBase_;
    x_ = part.x_;
    y_ = part.y_;
    wrapPending_ = part.wrapPending_;
    saved_.x = part.saved_.x;
    saved_.y = part.saved_.y;
    marginLeft_ = part.marginLeft_;
    marginRight_ = part.marginRight_;
    scrollTop_ = part.scrollTop_;
    scrollBottom_ = part.scrollBottom_;
    tabStops_.resize(static_cast<size_t>(newCols), false);
    semanticPrompt_.followStartLine(part.semanticPrompt_.startLine());
    cols_ = newCols;
    countDeferredRows();
}

} // namespace kestrovan
