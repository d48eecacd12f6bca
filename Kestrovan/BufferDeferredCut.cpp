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
// text of narrow cells that is a division. Otherwise only a lead that a row ends on counts, and
// rows laid out from one start end on leads that lie a multiple of the width after it; so the
// leads are grouped once per width by their position modulo the width, each with the rows the
// text takes from a row starting at it (`CutGroupLeads`). A count is then a search in one group,
// and a cut of a few rows a few searches, whatever the line's length.
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

/// The first lead a row that ends at text position `end` ends on, or a row after it if none
/// before does: the first lead from `end` on that lies a multiple of `width` after it; or none.
const int64_t* leadEndingRow(const CutGroupLeads& table, int64_t end, size_t* index)
{
    const size_t residue = static_cast<size_t>(end % table.width);
    const auto classBegin = table.leads.begin() + table.classStart[residue];
    const auto classEnd = table.leads.begin() + table.classStart[residue + 1];
    const auto found = std::lower_bound(classBegin, classEnd, end);
    if (found == classEnd)
        return nullptr;
    *index = static_cast<size_t>(found - table.leads.begin());
    return &*found;
}

/// The rows text of `length` cells takes at the table's width from a row that starts at `from`.
int64_t rowsFrom(const CutGroupLeads& table, int64_t length, int64_t from)
{
    const int width = table.width;
    size_t index = 0;
    const int64_t end = from + width - 1;
    const int64_t* lead = from < length ? leadEndingRow(table, end, &index) : nullptr;
    if (!lead)
        return (length - from + width - 1) / width;
    // Full rows, the row that leaves the lead for the next one, and the rows from there.
    return (*lead - end) / width + 1 + table.rowsFrom[index];
}

/// The leads of `leads` (in text of `length` cells) as rows laid out at `width` meet them.
CutGroupLeads groupLeads(const std::vector<int64_t>& leads, int64_t length, int width)
{
    CutGroupLeads table;
    table.width = width;
    table.classStart.assign(static_cast<size_t>(width) + 1, 0);
    for (const int64_t lead : leads)
        table.classStart[static_cast<size_t>(lead % width) + 1] += 1;
    for (size_t residue = 1; residue < table.classStart.size(); ++residue)
        table.classStart[residue] += table.classStart[residue - 1];
    std::vector<uint32_t> next(table.classStart.begin(), table.classStart.end() - 1);
    std::vector<uint32_t> placed(leads.size());
    table.leads.resize(leads.size());
    for (size_t i = 0; i < leads.size(); ++i) {
        const uint32_t at = next[static_cast<size_t>(leads[i] % width)]++;
        table.leads[at] = leads[i];
        placed[i] = at;
    }
    // From the last lead up, so that the rows from the lead a row ends on are known.
    table.rowsFrom.resize(leads.size());
    for (size_t i = leads.size(); i-- > 0;)
        table.rowsFrom[placed[i]] = static_cast<int32_t>(rowsFrom(table, length, leads[i]));
    return table;
}

/// The leads of the cut group as rows at `width` meet them, grouped once per width; none for
/// text without two-column characters.
const CutGroupLeads* leadsAtWidth(std::vector<CutGroupLeads>& tables, const std::vector<int64_t>& leads,
                                  int64_t length, int width)
{
    if (leads.empty())
        return nullptr;
    for (const CutGroupLeads& table : tables) {
        if (table.width == width)
            return &table;
    }
    tables.push_back(groupLeads(leads, length, width));
    return &tables.back();
}

/// Lays text of `length` cells out at `width` from `from` on, for at most `limit` rows: the rows
/// laid out and the text position the next row would start at. Only the leads rows end on are
/// visited.
Walked walkRows(const CutGroupLeads* table, int64_t length, int64_t from, int width, int64_t limit)
{
    Walked walked{0, from};
    while (walked.rows < limit && walked.position < length) {
        const int64_t end = walked.position + width - 1;
        const int64_t left = limit - walked.rows;
        size_t index = 0;
        const int64_t* lead = table ? leadEndingRow(*table, end, &index) : nullptr;
        if (!lead || (*lead - end) / width >= left) {
            // Rows of `width` cells, and the last one what is left.
            const int64_t rest = (length - walked.position + width - 1) / width;
            const int64_t taken = std::min(rest, left);
            walked.rows += taken;
            walked.position = taken == rest ? length : walked.position + taken * width;
            break;
        }
        // The row that ends on the lead leaves it for the next row.
        walked.rows += (*lead - end) / width + 1;
        walked.position = *lead;
    }
    return walked;
}

} // namespace

int Buffer::cutGroupRows(DeferredEpoch& epoch, int width)
{
    // A width of one column holds no two-column character whole, and the reflow leaves rows
    // as they are there; a run never switches to one.
    if (width < 2)
        return epoch.groupRows[epoch.firstGroup];
    DeferredEpoch::CutGroup& cut = *epoch.cut;
    const CutGroupLeads* table = leadsAtWidth(cut.leadsAtWidths, cut.leads, cut.length(), width);
    if (!table)
        return static_cast<int>((cut.length() - cut.offset + width - 1) / width);
    return static_cast<int>(rowsFrom(*table, cut.length(), cut.offset));
}

bool Buffer::cutDeferredGroup(DeferredEpoch& epoch, int rows)
{
    DeferredScrollback& deferred = *deferred_;
    const size_t group = epoch.firstGroup;
    const int held = epoch.groupRows[group];
    if (cols_ < 2)
        return false;
    if (!epoch.cut) {
        // The group's text, read once: where each row starts in it, and its two-column leads.
        std::vector<LinePointer> lines;
        lines.reserve(static_cast<size_t>(held));
        for (int row = 0; row < held; ++row) {
            const LinePointer& line = lines_[row];
            if (line->hasImages() || !line->semanticMarks().empty() ||
                line->semanticHardContinuationGroup() ||
                line->renderMode() != BufferLine::RenderLineMode::single ||
                line->bidiState() != lines_[0]->bidiState() || line == semanticPrompt_.startLine())
                return false;
            lines.push_back(line);
        }
        DeferredEpoch::CutGroup cut;
        cut.rowStarts.reserve(static_cast<size_t>(held) + 1);
        int64_t start = 0;
        for (size_t row = 0; row < lines.size(); ++row) {
            const int length = row + 1 == lines.size() ? epoch.groupLastTrimmed[group]
                                                       : wrappedLineLength(lines, row, epoch.laidOut);
            // Rows shorter than their text are not laid out as the epoch says; the reflow
            // copes with them.
            if (length > lines[row]->count())
                return false;
            cut.rowStarts.push_back(start);
            for (int col = 0; col < length; ++col) {
                if (lines[row]->packed(col).isLead())
                    cut.leads.push_back(start + col);
            }
            start += length;
        }
        cut.rowStarts.push_back(start);
        epoch.cut = std::move(cut);
    }

    DeferredEpoch::CutGroup& cut = *epoch.cut;
    const CutGroupLeads* table = leadsAtWidth(cut.leadsAtWidths, cut.leads, cut.length(), cols_);
    cut.offset = walkRows(table, cut.length(), cut.offset, cols_, rows).position;
    // The rows whose text is all gone leave the ring; the one the rest starts in stays.
    const auto first = cut.rowStarts.begin() + static_cast<std::ptrdiff_t>(cut.firstRow);
    const size_t starting = static_cast<size_t>(std::upper_bound(first, cut.rowStarts.end() - 1, cut.offset) -
                                                cut.rowStarts.begin()) -
                            1;
    const int dropped = static_cast<int>(starting - cut.firstRow);
    cut.firstRow = starting;
    lines_.trimStart(dropped);
    yBase_ -= dropped;
    addLinesTrimmed(rows);
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
        const bool leavesGap =
            cells == width && std::binary_search(cut.leads.begin(), cut.leads.end(), position + width - 1);
        if (leavesGap)
            cells -= 1;
        LinePointer line = getBlankLine(nullCell, true, bidiState);
        for (int col = 0; col < cells;) {
            BufferLine& from = sourceLine(position + col);
            const int fromCol = static_cast<int>(position + col - cut.rowStarts[source]);
            const int n = static_cast<int>(
                std::min<int64_t>(cells - col, cut.rowStarts[source + 1] - (position + col)));
            line->copyFrom(from, fromCol, col, n);
            col += n;
        }
        // A reflow leaves every cell of its lines counted as written (`usedLength`).
        line->resize(line->count(), nullCell);
        line->setEndsWithWideGap(leavesGap);
        result.push_back(std::move(line));
        position += cells;
    }
    return result;
}

} // namespace kestrovan
