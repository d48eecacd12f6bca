#include "Kestrovan/BufferLine.h"

#include "Kestrovan/Diagnostics.h"
#include "Kestrovan/Fatal.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrovan {

namespace {

constexpr const char* outOfRangeMessage =
    "BufferLine: You passed an index out of range, adjusting to prevent crash, but you should debug";

std::shared_ptr<const BufferLine::RenderIdentity> newRenderIdentity()
{
    return std::make_shared<const BufferLine::RenderIdentity>();
}

} // namespace

// Every row of every scrollback is a line object, so a field more costs its size for each of
// them: on 64-bit targets a new field belongs in the padding left, or this bound moves on purpose.
static_assert(sizeof(void*) != 8 || sizeof(BufferLine) <= 184, "BufferLine grew");

BufferLine::BufferLine(int cols, PackedCell packedFill, std::optional<PackedCell> blankTailCell,
                       bool isWrapped, BidiPresentationState bidiState, std::shared_ptr<CellArena> arena)
    : tailBlankCell_(blankTailCell.value_or(PackedCell())), isWrappedValue_(isWrapped),
      bidiStateValue_(bidiState), renderIdentity_(newRenderIdentity())
{
    setStorage(std::make_shared<CellStoragePage>(cols, packedFill, std::move(arena)));
    // A fill other than the tail blank counts as used everywhere, so the tail invariant holds.
    usedLength_ = packedFill == tailBlankCell_ ? 0 : count();
}

BufferLine::BufferLine(int cols, const std::optional<CharData>& fillData, bool isWrapped,
                       BidiPresentationState bidiState)
    : isWrappedValue_(isWrapped), bidiStateValue_(bidiState), renderIdentity_(newRenderIdentity())
{
    auto arena =
        std::make_shared<CellArena>(CellArena::defaultStyleCapacity, CellArena::defaultGraphemeCapacity);
    const CharData& fill = fillData ? *fillData : CharData::Null();
    const std::optional<PackedCell> packed = arena->pack(fill);
    KESTROVAN_ASSERT(packed.has_value(), "BufferLine: the fill cell cannot be packed");
    const PackedCell canonical = arena->canonicalBlank(fill.attribute);
    setStorage(std::make_shared<CellStoragePage>(cols, *packed, std::move(arena)));
    if (*packed == canonical) {
        usedLength_ = 0;
        tailBlankCell_ = *packed;
    } else {
        usedLength_ = count();
        tailBlankCell_ = PackedCell();
    }
}

const BufferLine& BufferLine::empty()
{
    // Built on first use; its arena is its own, so no buffer's arena is touched by reading it.
    static const BufferLine line(0);
    return line;
}

BufferLine::BufferLine(const BufferLine& from)
    : std::enable_shared_from_this<BufferLine>(), usedLength_(from.usedLength_),
      tailBlankCell_(from.tailBlankCell_), isWrappedValue_(from.isWrappedValue_),
      renderModeValue_(from.renderModeValue_), bidiStateValue_(from.bidiStateValue_),
      endsWithWideGapValue_(from.endsWithWideGapValue_), imagesValue_(from.imagesValue_),
      semanticMarksValue_(from.semanticMarksValue_),
      semanticHardContinuationGroupValue_(from.semanticHardContinuationGroupValue_),
      renderIdentity_(newRenderIdentity())
{
    setStorage(std::make_shared<CellStoragePage>(*from.storage_, from.count()));
}

void BufferLine::setStorage(std::shared_ptr<CellStoragePage> page)
{
    storage_ = std::move(page);
    cells_ = storage_->data();
    count_ = storage_->count();
}

PackedCell BufferLine::packOrStop(const CharData& data) const
{
    const std::optional<PackedCell> packed = arena()->pack(data);
    KESTROVAN_ASSERT(packed.has_value(), "BufferLine: cell cannot be packed");
    return *packed;
}

PackedCell BufferLine::reencode(PackedCell cell, const CellArena& from) const
{
    const std::optional<PackedCell> packed = arena()->pack(from.unpack(cell));
    KESTROVAN_ASSERT(packed.has_value(), "BufferLine: cell cannot be re-packed");
    return *packed;
}

bool BufferLine::holdsCharacter(PackedCell cell) const
{
    switch (cell.kind()) {
    case PackedCell::Kind::scalar:
        return cell.content() != 0;
    case PackedCell::Kind::grapheme: {
        const std::u32string* scalars = arena()->grapheme(cell.content());
        return scalars && !scalars->empty() && scalars->front() != 0;
    }
    case PackedCell::Kind::paletteBlank:
    case PackedCell::Kind::trueColorBlank:
        break;
    }
    return false;
}

CharData BufferLine::operator[](int index) const
{
    // Reads never fail: out-of-range indexes read the nearest column, as writes do.
    const int columns = count();
    if (columns == 0)
        return CharData::Null();
    return arena()->unpack(packed(std::clamp(index, 0, columns - 1)));
}

bool BufferLine::hasContent(int index) const
{
    // Inline blanks exist only to show a background, so they always count. Attribute id 0 is
    // the default look by construction; any other id is compared, since a snapshot arena may
    // map an unknown id to the default attribute.
    const PackedCell cell = packed(index);
    if (cell.isBlankKind() || holdsCharacter(cell))
        return true;
    return cell.attributeID() != 0 && arena()->attribute(cell.attributeID()) != Attribute();
}

bool BufferLine::hasAnyContent() const
{
    // The tail is one repeated cell: asking it once answers for every column past usedLength.
    const int columns = count();
    if (usedLength_ < columns && hasContent(usedLength_))
        return true;
    for (int i = 0; i < std::min(usedLength_, columns); ++i) {
        if (hasContent(i))
            return true;
    }
    return false;
}

int BufferLine::getTrimmedLength() const
{
    const int columns = count();
    int scanFrom = columns - 1;
    if (usedLength_ < columns && !holdsCharacter(tailBlankCell_))
        scanFrom = usedLength_ - 1;
    for (int i = scanFrom; i >= 0; --i) {
        const PackedCell cell = packed(i);
        if (holdsCharacter(cell)) {
            // A lead cell in the last column would claim a column the line does not have.
            return std::min(columns, i + cell.width());
        }
    }
    return 0;
}

std::vector<CharData> BufferLine::getData() const
{
    std::vector<CharData> data;
    data.reserve(static_cast<size_t>(count()));
    for (int i = 0; i < count(); ++i)
        data.push_back(arena()->unpack(packed(i)));
    return data;
}

std::string BufferLine::translateToString(bool trimRight, int startCol, int endCol,
                                          bool skipNullCellsFollowingWide,
                                          const CharacterProvider& characterProvider,
                                          const TextProvider& textProvider) const
{
    const int columns = count();
    int start = std::max(startCol, 0);
    int end = endCol == -1 ? columns : std::clamp(endCol, 0, columns);

    if (!skipNullCellsFollowingWide) {
        if (trimRight)
            end = std::max(std::min(getTrimmedLength(), end), start);
    } else if (trimRight) {
        int last = -1;
        for (int i = columns - 1; i >= 0; --i) {
            if (holdsCharacter(packed(i))) {
                last = i;
                break;
            }
        }
        if (last < 0)
            return std::string();
        const PackedCell cell = packed(last);
        const int width = cell.isLead() ? std::min(2, columns - last) : cell.width();
        end = std::min(end, last + width);
    }
    if (end < start)
        return std::string();

    std::string out;
    for (int col = start; col < end; ++col) {
        const PackedCell cell = packed(col);
        // The empty right half of a wide character adds nothing to the text.
        if (skipNullCellsFollowingWide && col >= 1 && packed(col - 1).isLead() && !holdsCharacter(cell))
            continue;
        if (textProvider || characterProvider) {
            const CharData data = arena()->unpack(cell);
            if (textProvider) {
                if (std::optional<std::string> text = textProvider(data)) {
                    out += *text;
                    continue;
                }
            }
            if (characterProvider) {
                if (std::optional<Character> character = characterProvider(data)) {
                    out += character->utf8();
                    continue;
                }
            }
        }
        out += arena()->text(cell);
    }
    return out;
}

std::string BufferLine::debugDescription() const
{
    std::string out;
    for (int i = 0; i < count(); ++i)
        out += arena()->text(packed(i));
    return out;
}

void BufferLine::set(int index, const CharData& data)
{
    // Packing first means a bad cell stops the program before anything was changed.
    const PackedCell cell = packOrStop(data);
    const int columns = count();
    if (index < 0 || index >= columns) {
        printDiagnostic(outOfRangeMessage);
        if (columns == 0)
            return;
        cells_[index < 0 ? 0 : columns - 1] = cell;
        usedLength_ = columns;
        noteWrittenTo(index < 0 ? 1 : columns);
        markContentChanged();
        return;
    }
    cells_[index] = cell;
    raiseUsedLength(index + 1);
    noteWrittenTo(index + 1);
    markContentChanged();
}

void BufferLine::setWrapped(bool value)
{
    if (isWrappedValue_ == value)
        return;
    isWrappedValue_ = value;
    markContentChanged();
}

void BufferLine::setBidiState(const BidiPresentationState& value)
{
    if (bidiStateValue_ == value)
        return;
    bidiStateValue_ = value;
    markContentChanged();
}

void BufferLine::setRenderMode(RenderLineMode mode)
{
    if (renderModeValue_ == mode)
        return;
    renderModeValue_ = mode;
    markDecorationChanged();
}

void BufferLine::setSemanticHardContinuationGroup(std::optional<uint64_t> group)
{
    if (semanticHardContinuationGroupValue_ == group)
        return;
    semanticHardContinuationGroupValue_ = group;
    markDecorationChanged();
}

void BufferLine::fillRange(int start, int end, PackedCell cell)
{
    // Recycling a line for every scrolled row fills its used cells, so the loop is kept short:
    // blocks of sixteen cells, then at most two blocks of eight, the last one ending at the range's
    // end and overlapping cells already stored (they get the same value again). Stored two cells
    // at a time, since the compiler does not vectorise the plain loop at every optimisation level
    // we build with.
    PackedCell* cells = mutableCells() + start;
    const size_t count = end > start ? static_cast<size_t>(end - start) : 0;
    size_t i = 0;
    if (count >= 8) {
        for (; count - i > 16; i += 16) {
            storeEightCells(cells + i, cell);
            storeEightCells(cells + i + 8, cell);
        }
        if (count - i > 8)
            storeEightCells(cells + i, cell);
        storeEightCells(cells + count - 8, cell);
        return;
    }
#if defined(__SSE2__)
    const __m128i pair = _mm_set1_epi64x(static_cast<long long>(cell.rawValue));
    for (; i + 2 <= count; i += 2)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(cells + i), pair);
#endif
    for (; i < count; ++i)
        cells[i] = cell;
}

void BufferLine::fill(const CharData& data)
{
    fill(packOrStop(data));
}

void BufferLine::fill(PackedCell cell)
{
    fillRange(0, count(), cell);
    usedLength_ = count();
    noteWrittenTo(count());
    markContentChanged();
}

void BufferLine::fill(const CharData& data, int atCol, int len)
{
    fill(packOrStop(data), atCol, len);
}

void BufferLine::fill(PackedCell cell, int atCol, int len)
{
    if (len < 1)
        return;
    KESTROVAN_ASSERT(atCol >= 0 && len <= count() - atCol, "BufferLine.fill: range outside the line");
    fillRange(atCol, atCol + len, cell);
    raiseUsedLength(atCol + len);
    noteWrittenTo(atCol + len);
    markContentChanged();
}

void BufferLine::replaceCells(int start, int end, const CharData& fillData)
{
    replacePackedCells(start, end, packOrStop(fillData));
}

void BufferLine::replacePackedCells(int start, int end, PackedCell fill)
{
    const int from = std::max(start, 0);
    const int to = std::min(end, count());
    if (from >= to)
        return;
    fillRange(from, to, fill);
    raiseUsedLength(to);
    noteWrittenTo(to);
    markContentChanged();
}

void BufferLine::eraseToEndSlow(int start, PackedCell fill)
{
    const int from = std::max(start, 0);
    if (fill != tailBlankCell_) {
        replacePackedCells(from, count_, fill);
        return;
    }
    // Every cell from the used length on already is `fill`.
    if (from >= usedLength_)
        return;
    fillRange(from, usedLength_, fill);
    usedLength_ = from;
    markContentChanged();
}

// Clears the character and width state of one cell in place, keeping its look, protection,
// payload and semantic code.
void BufferLine::blankCell(int index)
{
    cells_[index] = packed(index).blanked();
}

void BufferLine::repairWideSeamSlow(int col)
{
    // Column `col` is where an edit is about to cut the line. The two halves are checked on
    // their own, so a stray continuation whose lead is already gone is cleaned up too.
    const int columns = count();
    if (col < 1 || col > columns)
        return;
    bool changed = false;
    if (packed(col - 1).isLead()) {
        blankCell(col - 1);
        noteWrittenTo(col);
        changed = true;
    }
    if (col < columns && packed(col).isContinuation()) {
        blankCell(col);
        noteWrittenTo(col + 1);
        changed = true;
    }
    if (changed) {
        raiseUsedLength(col + 1);
        markContentChanged();
    }
}

void BufferLine::repairSeamsForWriteSlow(int at, PackedCell first, int lastIndex, PackedCell last,
                                         int cellCount)
{
    bool changed = false;
    if (first.isContinuation() && at >= 1 && at - 1 < count() && packed(at - 1).isLead()) {
        blankCell(at - 1);
        changed = true;
    }
    const int next = lastIndex + 1;
    if (last.isLead() && next >= 0 && next < std::min(cellCount, count()) && packed(next).isContinuation()) {
        blankCell(next);
        raiseUsedLength(next + 1);
        noteWrittenTo(next + 1);
        changed = true;
    }
    if (changed)
        markContentChanged();
}

void BufferLine::insertCells(int pos, int n, int rightMargin, const CharData& fillData)
{
    insertPackedCells(pos, n, rightMargin, packOrStop(fillData));
}

void BufferLine::insertPackedCells(int pos, int n, int rightMargin, PackedCell fill)
{
    KESTROVAN_ASSERT(rightMargin >= 0 && rightMargin < count() && pos >= 0,
                     "BufferLine.insertPackedCells: margin outside the line");
    const int end = rightMargin + 1;
    // A cursor left one past the margin by a pending wrap inserts at the margin column.
    const int p = std::min(pos, rightMargin);
    n = std::max(n, 0);
    repairWideSeam(p);
    repairWideSeam(end);
    PackedCell* cells = mutableCells();
    if (n < end - p) {
        // The cells pushed past the margin are lost; a wide character straddling that cut
        // would leave its lead at the margin without its continuation.
        repairWideSeam(end - n);
        std::memmove(cells + p + n, cells + p, static_cast<size_t>(end - n - p) * sizeof(PackedCell));
        std::fill(cells + p, cells + p + n, fill);
    } else {
        std::fill(cells + p, cells + end, fill);
    }
    marksShift(p, n, rightMargin);
    noteWrittenTo(end);
    markContentChanged();
    usedLength_ = count();
}

void BufferLine::deleteCells(int pos, int n, int rightMargin, const CharData& fillData)
{
    deletePackedCells(pos, n, rightMargin, packOrStop(fillData));
}

void BufferLine::deletePackedCells(int pos, int n, int rightMargin, PackedCell fill)
{
    KESTROVAN_ASSERT(rightMargin >= 0 && rightMargin < count() && pos >= 0,
                     "BufferLine.deletePackedCells: margin outside the line");
    const int end = rightMargin + 1;
    n = std::max(n, 0);
    // Deleting past the margin clears to the margin; the seam at pos + n matters only inside it.
    const int cut = pos + std::min(n, std::max(end - pos, 0));
    repairWideSeam(pos);
    repairWideSeam(cut);
    repairWideSeam(end);
    PackedCell* cells = mutableCells();
    if (n < end - pos) {
        std::memmove(cells + pos, cells + pos + n, static_cast<size_t>(end - pos - n) * sizeof(PackedCell));
        std::fill(cells + end - n, cells + end, fill);
    } else if (pos < end) {
        std::fill(cells + pos, cells + end, fill);
    }
    marksShift(pos, -n, rightMargin);
    noteWrittenTo(end);
    markContentChanged();
    usedLength_ = count();
}

void BufferLine::resize(int cols, const CharData& fillData)
{
    resize(cols, packOrStop(fillData));
}

void BufferLine::resize(int cols, PackedCell fill)
{
    // Whether a resize counts as a content change depends on whether visible cells appeared or
    // disappeared; a resize that only moves empty cells is a decoration change, so render caches
    // keyed on the generation still notice it without treating the row as rewritten.
    cols = std::max(cols, 0);
    const int oldCount = count();
    if (cols == oldCount) {
        usedLength_ = oldCount;
        return;
    }
    bool contentChanged = false;
    if (cols < oldCount) {
        marksClampTo(cols);
        const PackedCell* old = cells();
        contentChanged =
            std::any_of(old + cols, old + oldCount, [](PackedCell c) { return c.rawValue != 0; });
        // A line narrowed by at most half keeps its page: switching between two widths (column
        // mode, a window dragged back and forth) then costs no allocation. The cells past the
        // count are not part of the line and are filled again when it widens.
        if (storage_->count() > 2 * cols)
            setStorage(std::make_shared<CellStoragePage>(*storage_, cols));
        else
            count_ = cols;
    } else {
        if (cols <= storage_->count()) {
            fillRange(oldCount, cols, fill);
            count_ = cols;
        } else {
            auto page = std::make_shared<CellStoragePage>(cols, fill, arena());
            // A line resized to no cells has no storage to copy into (memcpy must not see a null page).
            if (oldCount > 0)
                std::memcpy(page->data(), cells(), static_cast<size_t>(oldCount) * sizeof(PackedCell));
            setStorage(std::move(page));
        }
        contentChanged = fill.rawValue != 0;
    }
    if (contentChanged)
        markContentChanged();
    else
        markDecorationChanged();
    usedLength_ = cols;
}

void BufferLine::copyFrom(const BufferLine& line)
{
    // Used where a row takes over another row's content (reflow, region scrolls); this line
    // keeps its identity so render caches see a changed row rather than a new one.
    if (&line != this) {
        const bool sameArena = line.arena() == arena();
        if (sameArena) {
            if (line.count() != count())
                setStorage(std::make_shared<CellStoragePage>(*line.storage_, line.count()));
            else
                std::memcpy(mutableCells(), line.cells(), static_cast<size_t>(count()) * sizeof(PackedCell));
            tailBlankCell_ = line.tailBlankCell_;
        } else {
            if (line.count() != count())
                setStorage(std::make_shared<CellStoragePage>(line.count(), PackedCell(), arena()));
            storage_->copyCells(*line.storage_, 0, 0, line.count());
            // Packing the tail the way the cells were packed keeps the tail invariant; for a
            // blank this is the canonical blank of its attribute.
            tailBlankCell_ = reencode(line.tailBlankCell_, *line.arena());
        }
        usedLength_ = line.usedLength_;
    }
    setWrapped(line.isWrappedValue_);
    endsWithWideGapValue_ = line.endsWithWideGapValue_;
    if (semanticMarksValue_ != line.semanticMarksValue_) {
        semanticMarksValue_ = line.semanticMarksValue_;
        markDecorationChanged();
    }
    setSemanticHardContinuationGroup(line.semanticHardContinuationGroupValue_);
    setBidiState(line.bidiStateValue_);
    markContentChanged();
}

void BufferLine::copyFrom(BufferLine& source, int srcCol, int dstCol, int len)
{
    const bool sameLine = &source == this;
    PromptOriginProvider* origins = nullptr;
    if (owningBufferRef_)
        origins = owningBufferRef_->promptOrigins;
    else if (source.owningBufferRef_)
        origins = source.owningBufferRef_->promptOrigins;

    // Which marks are the active prompt origin is decided before anything moves: the buffer
    // recognises its origin by the marks as they stand now.
    struct CarriedMark
    {
        SemanticMark mark;
        bool isOrigin;
    };
    std::vector<CarriedMark> carried;
    const auto inRange = [](int column, int from, int length) {
        return column >= from && column - from < length;
    };
    for (const SemanticMark& mark : source.semanticMarksValue_) {
        if (inRange(mark.column, srcCol, len)) {
            const bool isOrigin = origins && origins->isActivePromptOrigin(source, mark.kind, mark.column);
            carried.push_back({mark, isOrigin});
        }
    }
    std::vector<bool> existingIsOrigin;
    for (const SemanticMark& mark : semanticMarksValue_)
        existingIsOrigin.push_back(origins && origins->isActivePromptOrigin(*this, mark.kind, mark.column));

    storage_->copyCells(*source.storage_, srcCol, dstCol, len);

    const std::vector<SemanticMark> before = semanticMarksValue_;
    std::vector<SemanticMark> marks;
    std::vector<bool> markIsOrigin;
    for (size_t i = 0; i < semanticMarksValue_.size(); ++i) {
        const SemanticMark& mark = semanticMarksValue_[i];
        if (inRange(mark.column, dstCol, len) || (sameLine && inRange(mark.column, srcCol, len)))
            continue;
        marks.push_back(mark);
        markIsOrigin.push_back(existingIsOrigin[i]);
    }
    bool originArrived = false;
    for (const CarriedMark& entry : carried) {
        SemanticMark moved = entry.mark;
        moved.column = entry.mark.column + dstCol - srcCol;
        const auto existing = std::find_if(marks.begin(), marks.end(),
                                           [&](const SemanticMark& mark) { return mark.kind == moved.kind; });
        if (existing == marks.end()) {
            marks.push_back(moved);
            markIsOrigin.push_back(entry.isOrigin);
        } else {
            const size_t index = static_cast<size_t>(existing - marks.begin());
            // One mark per kind: the one already here stays, unless the carried mark starts the
            // active prompt group and the one here does not.
            if (!entry.isOrigin || markIsOrigin[index])
                continue;
            *existing = moved;
            markIsOrigin[index] = true;
        }
        originArrived = originArrived || entry.isOrigin;
    }
    semanticMarksValue_ = std::move(marks);
    sortMarks();
    if (semanticMarksValue_ != before)
        markDecorationChanged();
    if (originArrived && !sameLine && origins)
        origins->promptStartLineMoved(*this);

    if (srcCol == 0 && dstCol == 0 && len >= count()) {
        // The group travels with a whole line: it leaves the source. So does the wide gap,
        // which its last column holds.
        setSemanticHardContinuationGroup(source.semanticHardContinuationGroupValue_);
        endsWithWideGapValue_ = source.endsWithWideGapValue_;
        if (!sameLine)
            source.setSemanticHardContinuationGroup(std::nullopt);
    } else if (len > 0) {
        // Cells copied into the last column end a gap there: a gap is made by a wrap, not copied.
        noteWrittenTo(dstCol + len);
    }
    markContentChanged();
    if (len > 0)
        raiseUsedLength(dstCol + len);
}

void BufferLine::copyForSnapshot(const BufferLine& from, const std::shared_ptr<CellArena>& snapshotArena)
{
    // The snapshot arena is a synchronised copy of the live one, so the packed values can be
    // copied raw; reusing the page avoids an allocation per row and frame.
    if (&from != this) {
        if (arena() == snapshotArena && count() == from.count()) {
            KESTROVAN_ASSERT(snapshotArena->preservesEncoding(*from.arena()),
                             "BufferLine.copyForSnapshot: arena does not preserve the source encoding");
            std::memcpy(mutableCells(), from.cells(), static_cast<size_t>(count()) * sizeof(PackedCell));
        } else {
            setStorage(std::make_shared<CellStoragePage>(*from.storage_, from.count(), snapshotArena));
        }
        usedLength_ = from.usedLength_;
        tailBlankCell_ = from.tailBlankCell_;
    }
    setWrapped(from.isWrappedValue_);
    setBidiState(from.bidiStateValue_);
    setRenderMode(from.renderModeValue_);
    clearSemanticMarks();
    setSemanticHardContinuationGroup(std::nullopt);
    clearImages();
    markContentChanged();
}

void BufferLine::adoptArena(const std::shared_ptr<CellArena>& newArena)
{
    if (arena() == newArena)
        return;
    // The old page may hold the last reference to its arena; keep it until the tail is done.
    const std::shared_ptr<CellArena> oldArena = arena();
    auto page = std::make_shared<CellStoragePage>(count(), PackedCell(), newArena);
    page->copyCells(*storage_, 0, 0, count());
    setStorage(std::move(page));
    tailBlankCell_ = reencode(tailBlankCell_, *oldArena);
}

void BufferLine::sortMarks()
{
    std::stable_sort(semanticMarksValue_.begin(), semanticMarksValue_.end(),
                     [](const SemanticMark& a, const SemanticMark& b) { return a.column < b.column; });
}

void BufferLine::setSemanticMark(SemanticPromptKind kind, int column, uint64_t group)
{
    // One mark per kind: a newer prompt of the same kind on this row replaces the older one.
    const auto removed = std::remove_if(semanticMarksValue_.begin(), semanticMarksValue_.end(),
                                        [kind](const SemanticMark& mark) { return mark.kind == kind; });
    if (removed != semanticMarksValue_.end()) {
        semanticMarksValue_.erase(removed, semanticMarksValue_.end());
        markDecorationChanged();
    }
    semanticMarksValue_.push_back(SemanticMark{kind, column, group});
    markDecorationChanged();
    const std::vector<SemanticMark> unsorted = semanticMarksValue_;
    sortMarks();
    if (semanticMarksValue_ != unsorted)
        markDecorationChanged();
}

void BufferLine::marksShift(int from, int by, int rightMargin)
{
    // Marks follow their cells through ICH and DCH but never leave the shifted span: a mark
    // pushed past either end sticks to it, so a prompt start is not lost to an edit.
    if (by == 0 || semanticMarksValue_.empty())
        return;
    bool changed = false;
    for (SemanticMark& mark : semanticMarksValue_) {
        if (mark.column < from || mark.column > rightMargin)
            continue;
        const int moved = std::min(rightMargin, std::max(from, mark.column + by));
        if (moved != mark.column) {
            mark.column = moved;
            changed = true;
        }
    }
    if (changed)
        markDecorationChanged();
}

void BufferLine::marksClampTo(int width)
{
    if (semanticMarksValue_.empty())
        return;
    if (width < 1) {
        clearSemanticMarks();
        return;
    }
    bool changed = false;
    for (SemanticMark& mark : semanticMarksValue_) {
        const int clamped = std::min(std::max(mark.column, 0), width - 1);
        if (clamped != mark.column) {
            mark.column = clamped;
            changed = true;
        }
    }
    if (changed)
        markDecorationChanged();
}

bool BufferLine::clearSemanticMarks()
{
    if (semanticMarksValue_.empty())
        return false;
    semanticMarksValue_.clear();
    markDecorationChanged();
    return true;
}

bool BufferLine::attachImage(std::shared_ptr<TerminalImage> image)
{
    const bool wasAbsent = !imagesValue_.has_value();
    if (wasAbsent)
        imagesValue_.emplace();
    imagesValue_->push_back(std::move(image));
    markDecorationChanged();
    return wasAbsent;
}

bool BufferLine::clearImages()
{
    if (!imagesValue_)
        return false;
    imagesValue_.reset();
    markDecorationChanged();
    return true;
}

void BufferLine::setImages(std::optional<Images> images)
{
    if (!imagesValue_ && !images)
        return;
    imagesValue_ = std::move(images);
    markDecorationChanged();
}

} // namespace kestrovan
