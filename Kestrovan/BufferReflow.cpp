// Reflow of a buffer's wrapped lines when its width changes.
//
// A wrapped group is a line followed by the lines that continue it (their wrap flag set). When
// the buffer gets wider, the text of each group is joined into as few lines as the new width
// needs and the emptied lines at its end are removed; when it gets narrower, the text is split
// over more lines and the new lines are inserted after the group. A wide character is never cut
// by the new edge: it moves whole to the next line, which leaves the line before one column short
// (a gap the line notes, as printing does, and the next widening closes again).
//
// The group holding the cursor is left alone: the program at the cursor redraws it. Lines keep
// their objects where they can, so what hangs on a line (prompt marks, images, the prompt start
// line) moves with it; marks on moved cells travel with the cells.
//
// Both directions collect their changes first and rebuild the ring once, so a reflow is linear in
// the number of lines. The rebuilt ring is then laid out so that the cursor stays on its text.
#include "Kestrovan/Buffer.h"

#include <algorithm>
#include <span>
#include <utility>

namespace kestrovan {

namespace {

using LinePointer = std::shared_ptr<BufferLine>;
using WrappedLines = std::vector<LinePointer>;

// Blanks left by a reflow: packed cell 0, empty with the default attribute.
constexpr PackedCell nullCell;

/// Lines to insert after a group when it is split. `start` counts the insertions below it (the
/// walk goes upwards), which is what the bottom-up rebuild compares against; `isNull` marks the
/// empty set that ends the list.
struct InsertionSet
{
    std::vector<LinePointer> lines;
    int start = 0;
    bool isNull = false;
};

PackedCell cellAt(const BufferLine& line, int col)
{
    return col >= 0 && col < line.count() ? line.packed(col) : nullCell;
}

// The same test `BufferLine::getTrimmedLength` uses: a scalar other than 0, or a known cluster
// whose first scalar is not 0. Blank kinds only paint a background.
bool holdsCharacter(const BufferLine& line, int col)
{
    const PackedCell cell = cellAt(line, col);
    switch (cell.kind()) {
    case PackedCell::Kind::scalar:
        return cell.content() != 0;
    case PackedCell::Kind::grapheme: {
        const std::u32string* scalars = line.arena()->grapheme(cell.content());
        return scalars && !scalars->empty() && scalars->front() != 0;
    }
    case PackedCell::Kind::paletteBlank:
    case PackedCell::Kind::trueColorBlank:
        break;
    }
    return false;
}

/// The columns line `i` of a group contributes at width `cols`: the trimmed length of the last
/// line, a full line otherwise, except one column less where a wide character that did not fit
/// left an empty last column and starts the next line. Only a gap noted where it was made counts:
/// an empty last column before a wide character may as well be text (blanks a cursor move left,
/// which a reflow put there).
int getWrappedLineTrimmedLength(std::span<const LinePointer> lines, size_t i, int cols)
{
    if (i + 1 == lines.size())
        return lines[i]->getTrimmedLength();
    const BufferLine& line = *lines[i];
    if (!line.endsWithWideGap())
        return cols;
    const bool endsInGap = !holdsCharacter(line, cols - 1) &&
                           cellAt(line, cols - 1).widthState() == PackedCell::WidthState::single;
    if (endsInGap && cellAt(*lines[i + 1], 0).isLead())
        return cols - 1;
    return cols;
}

/// For the lines of a group that a reflow leaves as they are while their width changes: the
/// column a gap was left in is no longer their last.
void forgetWideGaps(const WrappedLines& group)
{
    for (const LinePointer& line : group)
        line->setEndsWithWideGap(false);
}

/// Whether a line below the cursor may be dropped when the screen has no room for it.
bool isDisposable(const BufferLine& line)
{
    return !line.isWrapped() && !line.hasImages() && line.semanticMarks().empty() &&
           !line.semanticHardContinuationGroup() && !line.hasAnyContent();
}

/// Joins every wrapped group that does not hold `bufferAbsoluteY` at `newCols` (the lines are
/// already that wide) and returns the emptied lines at the groups' ends as pairs of (first row,
/// count), in row order. Images anchored on those lines move to the last line that stays.
std::vector<int> getLinesToRemove(CircularBufferLineList& lines, int oldCols, int newCols,
                                  int bufferAbsoluteY)
{
    std::vector<int> toRemove;
    // The columns each line of a group contributes, read before the join rewrites the lines'
    // gaps.
    std::vector<int> lengths;
    const int count = lines.count();
    for (int row = 0; row < count - 1; ++row) {
        int next = row + 1;
        if (!lines[next]->isWrapped())
            continue;
        WrappedLines group{lines[row]};
        while (next < count && lines[next]->isWrapped())
            group.push_back(lines[next++]);

        // The program at the cursor redraws its own lines. Their last columns are new blanks now,
        // none of them a gap.
        if (bufferAbsoluteY >= row && bufferAbsoluteY < next) {
            forgetWideGaps(group);
            row = next - 1;
            continue;
        }

        lengths.clear();
        for (size_t i = 0; i < group.size(); ++i) {
            lengths.push_back(getWrappedLineTrimmedLength(group, i, oldCols));
            group[i]->setEndsWithWideGap(false);
        }
        size_t destLine = 0;
        int destCol = lengths[0];
        size_t srcLine = 1;
        int srcCol = 0;
        while (srcLine < group.size()) {
            const int srcLength = lengths[srcLine];
            const int n = std::max(std::min(srcLength - srcCol, newCols - destCol), 0);
            group[destLine]->copyFrom(*group[srcLine], srcCol, destCol, n);
            destCol += n;
            if (destCol >= newCols) {
                ++destLine;
                destCol = 0;
            }
            srcCol += n;
            if (srcCol >= srcLength) {
                ++srcLine;
                srcCol = 0;
            }
            // A wide character whose lead landed in the last column goes whole to the next line;
            // its continuation follows with the next copy.
            if (destCol == 0 && destLine != 0 && group[destLine - 1]->packed(newCols - 1).isLead()) {
                group[destLine]->copyFrom(*group[destLine - 1], newCols - 1, 0, 1);
                destCol = 1;
                group[destLine - 1]->replacePackedCells(newCols - 1, newCols, nullCell);
                group[destLine - 1]->setEndsWithWideGap(true);
            }
        }
        group[destLine]->replacePackedCells(destCol, newCols, nullCell);

        // The lines after the last one written, and empty lines at the end, are no longer needed.
        int removable = 0;
        for (size_t i = group.size() - 1; i > 0; --i) {
            if (i > destLine || group[i]->getTrimmedLength() == 0)
                ++removable;
            else
                break;
        }
        if (removable > 0) {
            const size_t firstRemoved = group.size() - static_cast<size_t>(removable);
            BufferLine& keeper = *group[firstRemoved - 1];
            for (size_t i = firstRemoved; i < group.size(); ++i) {
                if (!group[i]->hasImages())
                    continue;
                BufferLine::Images images = keeper.images().value_or(BufferLine::Images());
                for (const std::shared_ptr<TerminalImage>& image : *group[i]->images())
                    images.push_back(image);
                keeper.setImages(std::move(images));
                group[i]->clearImages();
            }
            toRemove.push_back(row + static_cast<int>(firstRemoved));
            toRemove.push_back(removable);
        }
        row = next - 1;
    }
    return toRemove;
}

/// The lengths of the lines a group becomes at `newCols`. A line ends one column early where a
/// wide character would straddle the edge. An all-empty group gives none.
std::vector<int> getNewLineLengths(const WrappedLines& wrappedLines, int oldCols, int newCols)
{
    // A line of one column cannot hold a wide character, whose lines would then take no cells
    // and the split below would never end: such a group is not split.
    if (newCols < 2)
        return {};
    int cellsNeeded = 0;
    for (size_t i = 0; i < wrappedLines.size(); ++i)
        cellsNeeded += getWrappedLineTrimmedLength(wrappedLines, i, oldCols);

    std::vector<int> result;
    size_t srcLine = 0;
    int srcCol = 0;
    int cellsAvailable = 0;
    while (cellsAvailable < cellsNeeded) {
        if (cellsNeeded - cellsAvailable < newCols) {
            result.push_back(cellsNeeded - cellsAvailable);
            break;
        }
        srcCol += newCols;
        const int srcLength = getWrappedLineTrimmedLength(wrappedLines, srcLine, oldCols);
        if (srcCol > srcLength) {
            srcCol -= srcLength;
            ++srcLine;
        }
        const bool endsWithWide =
            srcLine < wrappedLines.size() && cellAt(*wrappedLines[srcLine], srcCol - 1).isLead();
        if (endsWithWide)
            --srcCol;
        const int length = endsWithWide ? newCols - 1 : newCols;
        result.push_back(length);
        cellsAvailable += length;
    }
    return result;
}

/// The ring's lines with the insertion sets (listed bottom-up) in place, filled from the bottom.
std::vector<LinePointer> rearrange(CircularBufferLineList& lines, const std::vector<InsertionSet>& toInsert,
                                   int countToInsert)
{
    const int oldCount = lines.count();
    std::vector<LinePointer> result(static_cast<size_t>(oldCount + countToInsert));
    const InsertionSet none{{}, 0, true};
    size_t nextSet = 0;
    const InsertionSet* current = toInsert.empty() ? &none : &toInsert[0];
    int oldIndex = oldCount - 1;
    int insertedSoFar = 0;
    for (int i = static_cast<int>(result.size()) - 1; i >= 0;) {
        if (!current->isNull && current->start > oldIndex + insertedSoFar) {
            for (auto line = current->lines.rbegin(); line != current->lines.rend() && i >= 0; ++line)
                result[static_cast<size_t>(i--)] = *line;
            insertedSoFar += static_cast<int>(current->lines.size());
            ++nextSet;
            current = nextSet < toInsert.size() ? &toInsert[nextSet] : &none;
        } else {
            result[static_cast<size_t>(i--)] = lines[oldIndex--];
        }
    }
    return result;
}

/// Where the cursor's line and the saved cursor's line are in a rebuilt list of lines.
struct ReflowAnchors
{
    int cursorIndex = 0;
    int savedIndex = 0;
};

/// Stores the rebuilt lines in the ring and places the screen on them. The cursor stays on its
/// line and, as far as the screen allows, on its screen row: a screen that showed no scrollback
/// keeps its top and lets the cursor move; otherwise the cursor keeps its row and the scrollback
/// absorbs the change. Lines below the cursor that hold anything stay on the screen (up to a
/// screen's worth); blank ones are dropped or added so that the screen ends the ring again. Lines
/// beyond the ring's capacity fall off its top.
void placeReflowedLines(Buffer& buffer, std::vector<LinePointer> lines, ReflowAnchors anchors, int newCols,
                        int newRows)
{
    CircularBufferLineList& ring = buffer.lines();
    const int oldYBase = buffer.yBase();
    const int oldYDisp = buffer.yDisp();
    const int cursorIndex = anchors.cursorIndex;

    int below = 0;
    for (int i = static_cast<int>(lines.size()) - 1; i > cursorIndex; --i) {
        if (!isDisposable(*lines[static_cast<size_t>(i)])) {
            below = i - cursorIndex;
            break;
        }
    }
    below = std::min(below, newRows - 1);
    int yBase = std::max(0, cursorIndex + below + 1 - newRows);
    if (oldYBase > 0)
        yBase = std::max(yBase, cursorIndex - buffer.y());

    const size_t end = static_cast<size_t>(yBase) + static_cast<size_t>(newRows);
    if (lines.size() > end)
        lines.resize(end);
    while (lines.size() < end) {
        auto blank = std::make_shared<BufferLine>(newCols, nullCell, nullCell, false,
                                                  buffer.defaultBidiState(), buffer.cellArena());
        lines.push_back(std::move(blank));
    }

    const int dropped = std::max(static_cast<int>(lines.size()) - ring.maxLength(), 0);
    buffer.addLinesTrimmed(dropped);
    yBase -= dropped;
    const int kept = static_cast<int>(lines.size()) - dropped;
    ring.setCount(kept);
    for (int i = 0; i < kept; ++i)
        ring.set(i, std::move(lines[static_cast<size_t>(i + dropped)]));

    buffer.setYBase(yBase);
    buffer.setY(cursorIndex - dropped - yBase);
    // A view that followed the screen still does; one scrolled back keeps its row.
    buffer.setYDisp(oldYDisp == oldYBase ? yBase : std::clamp(oldYDisp - dropped, 0, yBase));
    SavedCursor saved = buffer.savedCursor();
    saved.y = std::clamp(anchors.savedIndex - dropped - yBase, 0, newRows - 1);
    buffer.setSavedCursor(saved);
}

} // namespace

// Both directions lay a group's text out the same way: each line takes `width` cells, one less
// where the last would be the lead of a wide character, which starts the next line instead. The
// last line takes what is left. A line alone that fits is left as it is, and so is a group with no
// text, which neither direction rewrites.
int Buffer::reflowedRowCount(std::span<const LinePointer> group, int laidOut, int width, int lastTrimmed)
{
    const size_t size = group.size();
    if (size == 0)
        return 0;
    if (size == 1 && lastTrimmed <= width)
        return 1;
    std::vector<int> lengths(size);
    int64_t total = 0;
    for (size_t i = 0; i < size; ++i) {
        lengths[i] = i + 1 == size ? lastTrimmed : getWrappedLineTrimmedLength(group, i, laidOut);
        total += lengths[i];
    }
    if (total == 0 || width < 2)
        return static_cast<int>(size);
    int rows = 0;
    int64_t placed = 0;
    size_t line = 0;
    int64_t lineStart = 0;
    while (placed < total) {
        ++rows;
        if (total - placed < width)
            break;
        // The text index of the cell that would end this row.
        const int64_t end = placed + width - 1;
        while (line + 1 < size && lineStart + lengths[line] <= end) {
            lineStart += lengths[line];
            ++line;
        }
        const bool endsWithLead = cellAt(*group[line], static_cast<int>(end - lineStart)).isLead();
        placed += endsWithLead ? width - 1 : width;
    }
    return rows;
}

int Buffer::wrappedLineLength(std::span<const LinePointer> group, size_t index, int cols)
{
    return getWrappedLineTrimmedLength(group, index, cols);
}

// A group whose last line holds no character ends its text with the blank cells of the line
// before, which a reflow may leave at a line's end or drop with an emptied line: its rows then
// depend on the widths it went through, not on the width alone.
bool Buffer::keepsTextThroughReflow(int rows, int lastTrimmed)
{
    return rows < 2 || lastTrimmed > 0;
}

void Buffer::reflowWider(int oldCols, int newCols, int newRows)
{
    if (lines_.count() == 0)
        return;
    const int lastRow = lines_.count() - 1;
    const int cursorRow = std::clamp(yBase_ + y_, 0, lastRow);
    const int savedRow = std::clamp(yBase_ + saved_.y, 0, lastRow);
    const std::vector<int> toRemove = getLinesToRemove(lines_, oldCols, newCols, cursorRow);
    if (toRemove.empty())
        return;

    // The kept lines in order; a removed line's anchor moves to the line before it, which now
    // holds its text.
    std::vector<LinePointer> kept;
    kept.reserve(static_cast<size_t>(lines_.count()));
    ReflowAnchors anchors;
    size_t pair = 0;
    for (int row = 0; row < lines_.count(); ++row) {
        const bool removed = pair < toRemove.size() && row >= toRemove[pair];
        const int newIndex = removed ? static_cast<int>(kept.size()) - 1 : static_cast<int>(kept.size());
        if (row == cursorRow)
            anchors.cursorIndex = newIndex;
        if (row == savedRow)
            anchors.savedIndex = newIndex;
        if (removed) {
            if (row == toRemove[pair] + toRemove[pair + 1] - 1)
                pair += 2;
            continue;
        }
        kept.push_back(lines_[row]);
    }
    placeReflowedLines(*this, std::move(kept), anchors, newCols, newRows);
}

void Buffer::reflowNarrower(int oldCols, int newCols, int newRows)
{
    // One column holds no wide character whole, so no split could keep them intact; such a
    // narrow buffer (the terminal never makes one) only cuts its lines.
    if (lines_.count() == 0 || newCols < 2)
        return;
    const int cursorRow = std::clamp(yBase_ + y_, 0, lines_.count() - 1);
    const int savedRow = std::clamp(yBase_ + saved_.y, 0, lines_.count() - 1);
    std::vector<InsertionSet> toInsert;
    int countToInsert = 0;
    ReflowAnchors anchors{cursorRow, savedRow};

    // Bottom-up, so that the rows still to be visited keep their indexes.
    for (int row = lines_.count() - 1; row >= 0; --row) {
        const LinePointer& candidate = lines_[row];
        if (!candidate->isWrapped() && candidate->getTrimmedLength() <= newCols)
            continue;
        // Gathered upwards, then put in row order.
        WrappedLines group{candidate};
        while (group.back()->isWrapped() && row > 0)
            group.push_back(lines_[--row]);
        std::reverse(group.begin(), group.end());
        const int groupSize = static_cast<int>(group.size());
        const int lastRow = row + groupSize - 1;
        // A group left as it is gets cut at the new edge, which takes any gap with it.
        if (cursorRow >= row && cursorRow <= lastRow) {
            forgetWideGaps(group);
            continue;
        }

        const int lastLineLength = group.back()->getTrimmedLength();
        const std::vector<int> destLengths = getNewLineLengths(group, oldCols, newCols);
        if (destLengths.empty()) {
            forgetWideGaps(group);
            continue;
        }
        const int linesToAdd = static_cast<int>(destLengths.size()) - groupSize;
        // Text never needs fewer lines at a narrower width; a group that claims to is left as
        // it is rather than half rewritten.
        if (linesToAdd < 0) {
            forgetWideGaps(group);
            continue;
        }

        // New lines are made at the old width: the cells are moved first and every line is cut
        // to the new width afterwards.
        const BidiPresentationState bidiState = group.front()->bidiState();
        if (linesToAdd > 0) {
            InsertionSet set;
            for (int i = 0; i < linesToAdd; ++i) {
                set.lines.push_back(getBlankLine(nullCell, true, bidiState));
                group.push_back(set.lines.back());
            }
            set.start = row + groupSize + countToInsert;
            countToInsert += linesToAdd;
            toInsert.push_back(std::move(set));
            if (lastRow < cursorRow)
                anchors.cursorIndex += linesToAdd;
            if (lastRow < savedRow)
                anchors.savedIndex += linesToAdd;
        }
        for (const LinePointer& line : group)
            line->setBidiState(bidiState);

        // Backwards, so that no cell is overwritten before it has moved; the destination
        // lengths cover the source cells exactly, so both sides run out together.
        int destLine = static_cast<int>(destLengths.size()) - 1;
        int destCol = destLengths[static_cast<size_t>(destLine)];
        if (destCol == 0 && destLine > 0)
            destCol = destLengths[static_cast<size_t>(--destLine)];
        int srcLine = groupSize - 1;
        int srcCol = lastLineLength;
        while (srcLine >= 0 && destLine >= 0) {
            const int n = std::min(srcCol, destCol);
            group[static_cast<size_t>(destLine)]->copyFrom(*group[static_cast<size_t>(srcLine)], srcCol - n,
                                                           destCol - n, n);
            destCol -= n;
            if (destCol == 0) {
                --destLine;
                destCol = destLine >= 0 ? destLengths[static_cast<size_t>(destLine)] : 0;
            }
            srcCol -= n;
            if (srcCol == 0) {
                --srcLine;
                srcCol =
                    getWrappedLineTrimmedLength(group, static_cast<size_t>(std::max(srcLine, 0)), oldCols);
            }
        }

        // A line that ends early (a wide character moved on, or the group's last line) must not
        // keep old cells between its end and the new edge; before the last line that is the gap.
        for (size_t i = 0; i < destLengths.size(); ++i) {
            if (destLengths[i] < newCols)
                group[i]->replacePackedCells(destLengths[i], newCols, nullCell);
            group[i]->setEndsWithWideGap(i + 1 < destLengths.size() && destLengths[i] < newCols);
        }
    }

    if (toInsert.empty())
        return;
    placeReflowedLines(*this, rearrange(lines_, toInsert, countToInsert), anchors, newCols, newRows);
}

} // namespace kestrovan
