// What is left of a wrapped line the ring cut into while column switches defer the scrollback's
// reflow.
//
// A buffer reflowed at every switch lays each wrapped group out at the new width; when the ring
// is full, rows at its top fall off, and the rest of a group cut so is a group of its own from
// then on, reflowed at each later switch. Reflowing text keeps it whole (for the groups an epoch
// defers, see `keepsTextThroughReflow`), so that rest is the group's text from some cell on: the
// cells of the rows that fell off, counted at the width each cut was made at. It is kept as the
// group's rows as they are and that offset. The rows it takes at a width are the rows of its
// text laid out there: each holds `width` cells, one less where the last would be the lead of a
// two-column character, which starts the next row instead, and the last takes what is left. For
// text of narrow cells that is a division; otherwise only the leads that would end a row count,
// so the walk visits the leads past the offset and no cell. A cut of a few rows walks a few rows.
//
// When the run ends, the rest is laid out at the buffer's width as a reflow at every switch
// would have left it: that reflow blanks every cell past the text of the groups it rewrites, and
// a cut group has been rewritten by the time it is cut, so the rest is its text and blanks.
//
// Only groups whose rows carry nothing a reflow moves with the line objects are kept so: no
// image, prompt mark or prompt group, the same bidirectional state and single-width rendering on
// every row, and not the prompt start line. Others are reflowed whole at each cut, as before.
#include "Kestrovan/BufferDeferredScrollback.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

namespace kestrovan {

namespace {

using LinePointer = std::shared_ptr<BufferLine>;

struct Walked
{
    int64_t rows = 0;
    int64_t position = 0;
};

/// Lays text of `length` cells whose two-column characters start at `leads` out at `width` from
/// `from` on, for at most `limit` rows: the rows laid out and the text position the next row
/// would start at.
Walked walkRows(const std::vector<int64_t>& leads, int64_t length, int64_t from, int width, int64_t limit)
{
    Walked walked{0, from};
    auto lead = std::lower_bound(leads.begin(), leads.end(), from + width - 1);
    while (walked.rows < limit && walked.position < length) {
        // Rows take `width` cells until one would end on a lead.
        const int64_t end = walked.position + width - 1;
        while (lead != leads.end() && (*lead < end || (*lead - end) % width != 0))
            ++lead;
        if (lead == leads.end()) {
            const int64_t left = (length - walked.position + width - 1) / width;
            const int64_t taken = std::min(left, limit - walked.rows);
            walked.rows += taken;
            walked.position = taken == left ? length : walked.position + taken * width;
            break;
        }
        // The row that ends on the lead leaves it for the next row.
        const int64_t full = (*lead - end) / width;
        if (walked.rows + full >= limit) {
            walked.position += (limit - walked.rows) * width;
            walked.rows = limit;
            break;
        }
        walked.rows += full + 1;
        walked.position = *lead;
    }
    return walked;
}

} // namespace

int Buffer::cutGroupRows(const DeferredEpoch& epoch, int width)
{
    const DeferredEpoch::CutGroup& cut = *epoch.cut;
    return static_cast<int>(
        walkRows(cut.leads, cut.length(), cut.offset, width, std::numeric_limits<int64_t>::max()).rows);
}

bool Buffer::cutDeferredGroup(DeferredEpoch& epoch, int rows)
{
    DeferredScrollback& deferred = *deferred_;
    const size_t group = epoch.firstGroup;
    const int held = epoch.groupRows[group];
    if (!epoch.cut) {
        // The group's text, read once: where each row starts in it, and its two-column leads.
        std::vector<LinePointer> lines;
        lines.reserve(static_cast<size_t>(held));
        for (int row = 0; row < held; ++row) {
            const LinePointer& line = lines_[row];
            if (line->hasImages() || !line->semanticMarks().empty() || line->semanticHardContinuationGroup() ||
                line->renderMode() != BufferLine::RenderLineMode::single ||
                line->bidiState() != lines_[0]->bidiState() || line == semanticPromptStartLine)
                return false;
            lines.push_back(line);
        }
        DeferredEpoch::CutGroup cut;
        cut.rowStarts.reserve(static_cast<size_t>(held) + 1);
        int64_t start = 0;
        for (size_t row = 0; row < lines.size(); ++row) {
            const int length = row + 1 == lines.size() ? epoch.groupLastTrimmed[group]
                                                       : wrappedLineLength(lines, row, epoch.laidOut);
            cut.rowStarts.push_back(start);
            for (int col = 0; col < length && col < lines[row]->count(); ++col) {
                if (lines[row]->packed(col).isLead())
                    cut.leads.push_back(start + col);
            }
            start += length;
        }
        cut.rowStarts.push_back(start);
        epoch.cut = std::move(cut);
    }

    DeferredEpoch::CutGroup& cut = *epoch.cut;
    cut.offset = walkRows(cut.leads, cut.length(), cut.offset, cols_, rows).position;
    // The rows whose text is all gone leave the ring; the one the rest starts in stays.
    const auto first = cut.rowStarts.begin() + static_cast<std::ptrdiff_t>(cut.firstRow);
    const size_t starting = static_cast<size_t>(std::upper_bound(first, cut.rowStarts.end() - 1, cut.offset) -
                                                cut.rowStarts.begin()) -
                            1;
    const int dropped = static_cast<int>(starting - cut.firstRow);
    cut.firstRow = starting;
    lines_.trimStart(dropped);
    yBase_ -= dropped;
    linesTop += rows;
    epoch.groupRows[group] = held - dropped;
    epoch.rows -= dropped;
    deferred.physicalRows -= dropped;
    deferred.rowsAtWidth -= rows;
    // The rest laid out at this width is what was laid out before, less the rows cut; at the
    // other widths it starts at another cell and is counted again.
    for (DeferredEpoch::RowsAtWidth& counted : epoch.rowsAtWidths) {
        const int before = counted.groupRows[group];
        const int now = counted.width == cols_ ? before - rows : cutGroupRows(epoch, counted.width);
        counted.groupRows[group] = now;
        counted.total += now - before;
    }
    return true;
}

std::vector<LinePointer> Buffer::layOutCutGroup(const DeferredEpoch& epoch)
{
    const DeferredEpoch::CutGroup& cut = *epoch.cut;
    const int width = cols_;
    const int64_t length = cut.length();
    const PackedCell nullCell;
    const BidiPresentationState bidiState = lines_[0]->bidiState();
    std::vector<LinePointer> result;
    // The source row holding a text position; positions are asked for in order.
    size_t source = cut.firstRow;
    const auto sourceLine = [&](int64_t position) -> BufferLine& {
        while (cut.rowStarts[source + 1] <= position)
            ++source;
        return *lines_[static_cast<int>(source - cut.firstRow)];
    };
    int64_t position = cut.offset;
    while (position < length) {
        int cells = static_cast<int>(std::min<int64_t>(length - position, width));
        if (cells == width && std::binary_search(cut.leads.begin(), cut.leads.end(), position + width - 1))
            cells -= 1;
        LinePointer line = getBlankLine(nullCell, true, bidiState);
        for (int col = 0; col < cells;) {
            BufferLine& from = sourceLine(position + col);
            const int fromCol = static_cast<int>(position + col - cut.rowStarts[source]);
            const int n = static_cast<int>(std::min<int64_t>(cells - col, cut.rowStarts[source + 1] - (position + col)));
            line->copyFrom(from, fromCol, col, n);
            col += n;
        }
        // A reflow leaves every cell of its lines counted as written (`usedLength`).
        line->resize(line->count(), nullCell);
        result.push_back(std::move(line));
        position += cells;
    }
    return result;
}

} // namespace kestrovan
