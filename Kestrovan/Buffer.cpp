#include "Kestrovan/Buffer.h"

#include "Kestrovan/BufferDeferredScrollback.h"
#include "Kestrovan/Fatal.h"

#include <algorithm>

namespace kestrovan {

namespace {

// The ring length a constructor asks for: rows plus the scrollback, without the cap that
// `getCorrectBufferLength` applies. A negative limit keeps no history; a limit that would leave
// the ring shorter than the screen would make the screen rows wrap onto each other.
int constructedRingLength(int cols, int rows, std::optional<int> scrollback)
{
    KESTROVAN_ASSERT(cols >= 1 && rows >= 1, "Buffer: a buffer needs at least one column and one row");
    int length = rows;
    if (scrollback && __builtin_add_overflow(rows, std::max(*scrollback, 0), &length))
        fatal("Buffer: rows + scrollback overflows");
    return length;
}

} // namespace

Buffer::Buffer(int cols, int rows, int tabStopWidth, std::optional<int> scrollback,
               BidiPresentationState bidiState, std::shared_ptr<CellArena> arena)
    : defaultBidiState_(bidiState), lines_(constructedRingLength(cols, rows, scrollback), this, true),
      cellArena_(std::move(arena)), selfRef_(std::make_shared<BufferRef>(this, this)),
      scrollBottom_(rows - 1), marginRight_(cols - 1), hasScrollback_(scrollback.has_value()), cols_(cols),
      rows_(rows), scrollback_(scrollback)
{
    KESTROVAN_ASSERT(cellArena_ != nullptr, "Buffer: a buffer needs an arena");
    setupTabStops(-1, tabStopWidth);
}

Buffer::Buffer(int cols, int rows, int tabStopWidth, std::optional<int> scrollback,
               BidiPresentationState bidiState)
    : Buffer(cols, rows, tabStopWidth, scrollback, bidiState,
             std::make_shared<CellArena>(CellArena::defaultStyleCapacity, CellArena::defaultGraphemeCapacity))
{}

Buffer::~Buffer()
{
    // Render snapshots may keep lines of this buffer; from now on they must see no owner.
    selfRef_->clear();
}

int Buffer::getCorrectBufferLength(int rows) const
{
    if (!hasScrollback_)
        return rows;
    // Both terms fit in 32 bits, so the 64-bit sum cannot overflow; the cap keeps the ring
    // length a valid int whatever the configured limit.
    const int64_t length = int64_t(rows) + std::max(scrollback_.value_or(0), 0);
    return static_cast<int>(std::min<int64_t>(length, maximumBufferLength));
}

CharData Buffer::getNullCell(const std::optional<Attribute>& attribute) const
{
    return CharData(attribute.value_or(Attribute()), 32, 1);
}

PackedCell Buffer::getPackedBlankCell(const Attribute& attribute)
{
    return cellArena_->canonicalBlank(attribute);
}

std::shared_ptr<BufferLine> Buffer::getBlankLine(PackedCell packedBlank, bool isWrapped)
{
    return getBlankLine(packedBlank, isWrapped, defaultBidiState_);
}

std::shared_ptr<BufferLine> Buffer::getBlankLine(PackedCell packedBlank, bool isWrapped,
                                                 const BidiPresentationState& bidiState)
{
    // The blank is both the fill and the tail cell, so the new line counts nothing as used and
    // recycling it later rewrites only what was printed.
    auto line =
        std::make_shared<BufferLine>(cols_, packedBlank, packedBlank, isWrapped, bidiState, cellArena_);
    line->setOwningBufferRef(selfRef_);
    return line;
}

std::shared_ptr<BufferLine> Buffer::getBlankLine(const Attribute& attribute, bool isWrapped)
{
    return getBlankLine(getPackedBlankCell(attribute), isWrapped);
}

std::shared_ptr<BufferLine> Buffer::makeBlankLine(PackedCell packedBlank, bool isWrapped)
{
    return getBlankLine(packedBlank, isWrapped);
}

CharData Buffer::getCharAt(Position position) const
{
    return getCharAtBufferRelative(Position(position.col, position.row + yDisp_));
}

CharData Buffer::getCharAtBufferRelative(Position position) const
{
    // A slot that holds no line reads as the blank line a writer would put there.
    const BufferLine* line = lines_.lineIfPresent(static_cast<int>(position.row)).get();
    if (!line || position.col < 0 || position.col >= line->count())
        return CharData::Null();
    return (*line)[static_cast<int>(position.col)];
}

void Buffer::clear()
{
    // The rows a deferred reflow waits for are gone.
    deferred_.reset();
    deferredRowShift_ = 0;
    // Everything that names a row goes back to the top of an empty ring. Tab stops, the saved
    // cursor and the mode mirrors belong to the terminal's state rather than to the content, so
    // they survive; the prompt-row hint and scan counter are only hints and counters.
    yDisp_ = 0;
    linesTop_ = 0;
    x_ = 0;
    wrapPending_ = false;
    y_ = 0;
    yBase_ = 0;
    lines_.reset(getCorrectBufferLength(rows_));
    scrollTop_ = 0;
    scrollBottom_ = rows_ - 1;
    marginLeft_ = 0;
    marginRight_ = cols_ - 1;
    semanticPrompt_.clear();
}

void Buffer::softReset()
{
    saved_ = SavedCursor{};
    marginLeft_ = 0;
    marginRight_ = cols_ - 1;
}

void Buffer::fillViewportRows(const std::optional<Attribute>& attribute)
{
    // A ring that holds lines already shows a screen: adding rows would push it off the top.
    if (lines_.count() != 0)
        return;
    const PackedCell blank = getPackedBlankCell(attribute.value_or(Attribute()));
    for (int row = 0; row < rows_; ++row)
        lines_.push(getBlankLine(blank, false));
}

void Buffer::clearScrollback()
{
    // The rows are counted as a reflow leaves them.
    reflowPendingScrollback();
    if (yBase_ < 1)
        return;
    const int dropped = yBase_;
    dropOldestLines(dropped);
    yBase_ = 0;
    yDisp_ = 0;
    saved_.y = std::max(saved_.y - dropped, 0);
}

// Trimming does not tell the buffer which lines left, so the lines with images among them are
// taken off the count here; otherwise `hasAnyImages` would stay true for images long gone.
void Buffer::dropOldestLines(int count)
{
    count = std::min(count, lines_.count());
    for (int row = 0; row < count; ++row) {
        const std::shared_ptr<BufferLine>& line = lines_.lineIfPresent(row);
        if (line && line->hasImages())
            linesWithImagesCount_ -= 1;
    }
    lines_.trimStart(count);
}

void Buffer::changeHistorySize(std::optional<int> newSize)
{
    reflowPendingScrollback();
    scrollback_ = newSize;
    hasScrollback_ = newSize.has_value();
    const int newLength = getCorrectBufferLength(rows_);
    if (newLength == lines_.maxLength())
        return;
    // Shrinking drops the oldest lines first, and everything that counts absolute rows moves up
    // with them, so the screen keeps its place at the bottom of the ring.
    const int amount = lines_.count() - newLength;
    if (amount >= 1) {
        dropOldestLines(amount);
        yBase_ = std::max(yBase_ - amount, 0);
        yDisp_ = std::max(yDisp_ - amount, 0);
        saved_.y = std::max(saved_.y - amount, 0);
    }
    lines_.setMaxLength(newLength);
}

void Buffer::setupTabStops(int index, int tabStopWidth)
{
    int start = 0;
    if (index == -1) {
        tabStops_.assign(static_cast<size_t>(cols_), false);
    } else {
        tabStops_.resize(static_cast<size_t>(cols_), false);
        // After a resize the new columns continue the old rhythm from the last stop the old
        // width still had.
        start = std::min(cols_ - 1, index);
        if (start < 0 || !tabStops_[static_cast<size_t>(start)])
            start = previousTabStop(start);
    }
    KESTROVAN_ASSERT(tabStopWidth != 0, "Buffer: a tab stop width of 0");
    if (tabStopWidth < 0)
        return;
    // 64-bit steps: a huge width must not wrap round to a small column.
    for (int64_t column = start; column < cols_; column += tabStopWidth)
        tabStops_[static_cast<size_t>(column)] = true;
}

int Buffer::previousTabStop(int index) const
{
    if (index == -1)
        index = x_;
    KESTROVAN_ASSERT(index <= static_cast<int>(tabStops_.size()), "Buffer: tab stop index out of range");
    int result = 0;
    for (int column = std::min(index, static_cast<int>(tabStops_.size())) - 1; column > 0; --column) {
        if (tabStops_[static_cast<size_t>(column)]) {
            result = column;
            break;
        }
    }
    return result >= cols_ ? cols_ - 1 : result;
}

int Buffer::nextTabStop(bool marginMode, int index) const
{
    const int limit = marginMode ? marginRight_ : cols_ - 1;
    if (index == -1)
        index = x_;
    // Columns left of 0 hold no stop, so the walk may start at 0.
    int column = std::max(index + 1, 0);
    while (column < limit && !(column < static_cast<int>(tabStops_.size()) && tabStops_[size_t(column)]))
        ++column;
    return std::min(column, limit);
}

void Buffer::tabSet(int pos)
{
    KESTROVAN_ASSERT(pos >= 0, "Buffer: negative tab stop position");
    if (pos < static_cast<int>(tabStops_.size()))
        tabStops_[static_cast<size_t>(pos)] = true;
}

void Buffer::tabClear(int pos)
{
    KESTROVAN_ASSERT(pos >= 0, "Buffer: negative tab stop position");
    if (pos < static_cast<int>(tabStops_.size()))
        tabStops_[static_cast<size_t>(pos)] = false;
}

} // namespace kestrovan
