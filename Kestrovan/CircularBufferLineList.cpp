#include "Kestrovan/CircularBufferLineList.h"

#include "Kestrovan/Diagnostics.h"
#include "Kestrovan/Fatal.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace kestrovan {

namespace {

// Slots allocated up front; rows plus the usual scrollback fit without any growth.
constexpr int initialSlotCount = 1024;

int initialSlotsFor(int maxLength)
{
    return std::clamp(maxLength, 0, initialSlotCount);
}

void printShiftAssertion(int start, int count, int offset, const char* reason)
{
    printDiagnostic("Assertion at start=" + std::to_string(start) + " count=" + std::to_string(count) +
                    " offset=" + std::to_string(offset) + ": " + reason);
}

} // namespace

CircularBufferLineList::CircularBufferLineList(int maxLength, LineRingOwner* owner, bool isLive)
    : array_(static_cast<size_t>(initialSlotsFor(maxLength))), maxLength_(std::max(maxLength, 0)),
      owner_(owner), isLive_(isLive)
{
    KESTROVAN_ASSERT(!isLive || owner != nullptr, "CircularBufferLineList: a live ring needs an owner");
}

size_t CircularBufferLineList::physicalWrapping(int logical) const
{
    const auto slots = static_cast<int64_t>(array_.size());
    KESTROVAN_ASSERT(slots > 0, "CircularBufferLineList: the ring has no slots");
    int64_t index = (static_cast<int64_t>(startIndex_) + logical) % slots;
    if (index < 0)
        index += slots;
    return static_cast<size_t>(index);
}

void CircularBufferLineList::relay(int newSlotCount)
{
    // Every slot moves, stale ones too, so lines beyond the count keep their logical places.
    std::vector<LinePointer> slots(static_cast<size_t>(newSlotCount));
    const int moved = std::min(slotCount(), newSlotCount);
    for (int i = 0; i < moved; ++i)
        slots[static_cast<size_t>(i)] = std::move(array_[physical(i)]);
    array_ = std::move(slots);
    startIndex_ = 0;
}

// Grows the slot array to hold `needed` lines, doubling so that a ring filled line by line
// re-lays its slots only log(n) times.
void CircularBufferLineList::ensureSlots(int needed)
{
    if (needed <= slotCount())
        return;
    const int grown = std::max(needed, slotCount() > maxLength_ / 2 ? maxLength_ : slotCount() * 2);
    relay(std::min(grown, maxLength_));
}

void CircularBufferLineList::adopt(BufferLine& line) const
{
    line.adoptArena(owner_->arena());
    line.setOwningBufferRef(owner_->bufferRef());
}

void CircularBufferLineList::fillEmptySlot(LinePointer& slot)
{
    KESTROVAN_ASSERT(owner_ != nullptr, "CircularBufferLineList: empty slot and no owner to fill it");
    slot = owner_->makeBlankLine(PackedCell(), false);
}

void CircularBufferLineList::set(int index, LinePointer line)
{
    if (isLive_ && line)
        adopt(*line);
    array_[physical(index)] = std::move(line);
}

void CircularBufferLineList::setCount(int newCount)
{
    KESTROVAN_ASSERT(newCount <= maxLength_, "CircularBufferLineList: count above maxLength");
    ensureSlots(newCount);
    count_ = std::max(newCount, 0);
}

void CircularBufferLineList::setMaxLength(int newMaxLength)
{
    newMaxLength = std::max(newMaxLength, 0);
    if (newMaxLength == maxLength_)
        return;
    // The buffer trims before it shrinks the ring; should it not, the oldest lines drop out as
    // they do everywhere else in the ring.
    const int dropped = std::max(count_ - newMaxLength, 0);
    const int kept = count_ - dropped;
    std::vector<LinePointer> slots(
        static_cast<size_t>(std::min(newMaxLength, std::max(kept, initialSlotsFor(newMaxLength)))));
    for (int i = 0; i < kept; ++i)
        slots[static_cast<size_t>(i)] = std::move(array_[physical(dropped + i)]);
    array_ = std::move(slots);
    startIndex_ = 0;
    count_ = kept;
    maxLength_ = newMaxLength;
}

void CircularBufferLineList::push(LinePointer line)
{
    // A line from elsewhere (a reflow, a copy) may still be packed against another arena; the
    // buffer's lines must all share its arena for raw cell copies between them to be valid.
    if (isLive_)
        adopt(*line);
    const bool hasImages = line->hasImages();
    if (count_ < maxLength_)
        ensureSlots(count_ + 1);
    array_[physical(count_)] = std::move(line);
    if (count_ < maxLength_) {
        count_ += 1;
    } else {
        startIndex_ = startIndex_ + 1 == slotCount() ? 0 : startIndex_ + 1;
    }
    if (isLive_ && hasImages)
        owner_->adjustLinesWithImagesCount(1);
}

void CircularBufferLineList::trimStart(int n)
{
    // Trimming more than the ring holds would leave a negative count; the ring just empties.
    n = std::clamp(n, 0, count_);
    if (n == 0)
        return;
    startIndex_ = static_cast<int>(physical(n));
    count_ -= n;
}

void CircularBufferLineList::growStart(int n)
{
    n = std::clamp(n, 0, maxLength_ - count_);
    if (n == 0)
        return;
    ensureSlots(count_ + n);
    const int slots = slotCount();
    startIndex_ = (startIndex_ - n % slots + slots) % slots;
    count_ += n;
}

bool CircularBufferLineList::shiftElements(int start, int count, int offset)
{
    if (count < 0) {
        printShiftAssertion(start, count, offset, "count < 0");
        return false;
    }
    if (start < 0) {
        printShiftAssertion(start, count, offset, "start < 0");
        return false;
    }
    if (start >= count_) {
        printShiftAssertion(start, count, offset, "start >= self.count");
        return false;
    }
    if (start + offset <= 0) {
        printShiftAssertion(start, count, offset, "start+offset <= 0");
        return false;
    }
    if (offset > 0) {
        const int newEnd = start + count + offset;
        ensureSlots(std::min(newEnd, maxLength_));
        // Back to front, so that no line is overwritten before it has moved.
        for (int i = count - 1; i >= 0; --i)
            array_[physical(start + i + offset)] = array_[physical(start + i)];
        if (newEnd > count_) {
            const int excess = std::max(newEnd - maxLength_, 0);
            count_ = newEnd - excess;
            startIndex_ = static_cast<int>(physical(excess));
        }
    } else {
        for (int i = 0; i < count; ++i)
            array_[physical(start + i + offset)] = array_[physical(start + i)];
    }
    return true;
}

// A shared pointer is the address of its line and the address of the line's control block, and
// nothing points at a shared pointer itself; so the two words of a slot can move to another slot
// as they are, which leaves every reference count where a move would leave it. A region scroll
// moves each line of the region up one slot this way, with one copy of the words per line
// instead of the read, clear and release test of a move assignment.
static_assert(sizeof(CircularBufferLineList::LinePointer) == 2 * sizeof(void*),
              "a line pointer is relocated as two words");

namespace {

/// The two words of a line pointer, as they lie in its slot.
struct SlotWords
{
    uint64_t first;
    uint64_t second;
};

SlotWords wordsAt(const void* slot)
{
    SlotWords words;
    std::memcpy(&words, slot, sizeof words);
    return words;
}

void storeWords(void* slot, SlotWords words)
{
    std::memcpy(slot, &words, sizeof words);
}

} // namespace

// Rotates the `height` consecutive slots at `first` by `moved` lines (one or two, fewer than
// `height`), filling each empty slot before its words move.
[[gnu::always_inline]] inline void CircularBufferLineList::relocateRotate(LinePointer* first, size_t height,
                                                                          size_t moved, bool towardsTop)
{
    static_assert(sizeof(SlotWords) == sizeof(LinePointer));
    static_assert(maxRelocatedLines == 2, "one or two lines are kept aside");
    const auto present = [this](LinePointer& slot) -> const void* {
        if (!slot) [[unlikely]]
            fillEmptySlot(slot);
        return &slot;
    };
    const auto at = [first](size_t index) -> void* { return first + index; };
    const bool two = moved == 2;
    const size_t rest = height - moved;
    if (towardsTop && !two) {
        // The first line waits aside while the rest move up, then takes the last slot.
        const SlotWords leaving = wordsAt(present(first[0]));
        for (LinePointer* slot = first + 1; slot != first + height; ++slot)
            storeWords(slot - 1, wordsAt(present(*slot)));
        storeWords(at(rest), leaving);
    } else if (towardsTop) {
        const SlotWords leaving = wordsAt(present(first[0]));
        const SlotWords leavingNext = wordsAt(present(first[1]));
        for (LinePointer* slot = first + 2; slot != first + height; ++slot)
            storeWords(slot - 2, wordsAt(present(*slot)));
        storeWords(at(rest), leaving);
        storeWords(at(rest + 1), leavingNext);
    } else {
        // The last lines wait aside while the rest move down, then take the first slots.
        const SlotWords leaving = wordsAt(present(first[rest]));
        const SlotWords leavingNext = two ? wordsAt(present(first[rest + 1])) : SlotWords{};
        for (LinePointer* slot = first + rest; slot != first;) {
            --slot;
            storeWords(slot + moved, wordsAt(present(*slot)));
        }
        storeWords(at(0), leaving);
        if (two)
            storeWords(at(1), leavingNext);
    }
}

// Rotates lines `top` ... `bottom` by `count` rows, towards `top` or away from it. An empty slot
// in the range first gets its blank line, as a subscript would give it, so that every line
// there afterwards is present.
void CircularBufferLineList::rotateRange(int top, int bottom, int count, bool towardsTop)
{
    const size_t firstSlot = physical(top);
    const size_t lastSlot = physical(bottom);
    if (firstSlot <= lastSlot) {
        // The usual case, the range in consecutive slots: it rotates where it lies. A scroll by a
        // few lines moves the words of the slots; a longer rotation is left to `std::rotate`.
        LinePointer* const begin = array_.data() + firstSlot;
        LinePointer* const end = array_.data() + lastSlot + 1;
        const size_t height = lastSlot - firstSlot + 1;
        const auto moved = static_cast<size_t>(count);
        if (moved <= maxRelocatedLines && moved < height) [[likely]] {
            relocateRotate(begin, height, moved, towardsTop);
            return;
        }
        for (LinePointer* slot = begin; slot != end; ++slot) {
            if (!*slot) [[unlikely]]
                fillEmptySlot(*slot);
        }
        std::rotate(begin, towardsTop ? begin + count : end - count, end);
        return;
    }
    // The range wraps round the end of the slot array: it is gathered in order, rotated, and
    // stored back; each pointer moves twice.
    std::vector<LinePointer>& range = rotateScratch_;
    range.clear();
    for (int row = top; row <= bottom; ++row)
        range.push_back(std::move((*this)[row]));
    std::rotate(range.begin(), towardsTop ? range.begin() + count : range.end() - count, range.end());
    for (int row = top; row <= bottom; ++row)
        array_[physical(row)] = std::move(range[static_cast<size_t>(row - top)]);
    range.clear();
}

// Scrolling a region that does not reach the ring's end: the line leaving the region at its
// top is reused as the region's new bottom line, so no line is allocated per scrolled row.
bool CircularBufferLineList::shiftUpAndRecycle(int top, int bottom, PackedCell clearCell, bool isWrapped,
                                               const BidiPresentationState& bidiState)
{
    const char* reason = nullptr;
    if (top < 0)
        reason = "top < 0";
    else if (bottom < top)
        reason = "bottom < top";
    else if (bottom >= count_)
        reason = "bottom >= self.count";
    if (reason) {
        printDiagnostic("Assertion at top=" + std::to_string(top) + " bottom=" + std::to_string(bottom) +
                        " count=" + std::to_string(count_) + ": " + reason);
        return false;
    }
    rotateUpRecycling(top, bottom, 1, clearCell, isWrapped, bidiState);
    return true;
}

bool CircularBufferLineList::rotateAndRecycle(int top, int bottom, int count, bool towardsTop,
                                              PackedCell clearCell, const BidiPresentationState& bidiState)
{
    const int height = bottom - top + 1;
    if (top < 0 || bottom >= count_ || count < 1 || count > height) {
        printDiagnostic("Assertion at top=" + std::to_string(top) + " bottom=" + std::to_string(bottom) +
                        " count=" + std::to_string(count) + ": bad rotation");
        return false;
    }
    if (towardsTop) {
        rotateUpRecycling(top, bottom, count, clearCell, false, bidiState);
        return true;
    }
    rotateRange(top, bottom, count, towardsTop);
    // The lines that came round are at the end after moving up, at the start after moving down.
    const int firstRecycled = top + (towardsTop ? height - count : 0);
    int droppedImages = 0;
    for (int row = firstRecycled; row < firstRecycled + count; ++row) {
        if (array_[physical(row)]->recycle(clearCell, false, bidiState))
            ++droppedImages;
    }
    if (isLive_ && droppedImages > 0)
        owner_->adjustLinesWithImagesCount(-droppedImages);
    return true;
}

// A region's scroll: the lines leaving its top come round, blanked, as its new bottom lines.
void CircularBufferLineList::rotateUpRecycling(int top, int bottom, int count, PackedCell clearCell,
                                               bool isWrapped, const BidiPresentationState& bidiState)
{
    const size_t firstSlot = physical(top);
    const size_t lastSlot = physical(bottom);
    const auto moved = static_cast<size_t>(count);
    int droppedImages = 0;
    if (firstSlot <= lastSlot && moved <= maxRelocatedLines && moved < lastSlot - firstSlot + 1) [[likely]] {
        // In consecutive slots, the lines that came round are the last `moved` slots.
        LinePointer* const first = array_.data() + firstSlot;
        const size_t height = lastSlot - firstSlot + 1;
        relocateRotate(first, height, moved, true);
        for (LinePointer* slot = first + (height - moved); slot != first + height; ++slot)
            droppedImages += (*slot)->recycle(clearCell, isWrapped, bidiState) ? 1 : 0;
    } else {
        rotateRange(top, bottom, count, true);
        for (int row = bottom - count + 1; row <= bottom; ++row)
            droppedImages += array_[physical(row)]->recycle(clearCell, isWrapped, bidiState) ? 1 : 0;
    }
    if (isLive_ && droppedImages > 0) [[unlikely]]
        owner_->adjustLinesWithImagesCount(-droppedImages);
}

void CircularBufferLineList::rotateDown(int top, int bottom)
{
    if (top >= 0 && top < bottom && bottom < count_)
        rotateRange(top, bottom, 1, false);
}

const CircularBufferLineList::LinePointer&
CircularBufferLineList::recycleInto(int row, PackedCell clearCell, bool isWrapped,
                                    const BidiPresentationState& bidiState)
{
    KESTROVAN_ASSERT(row >= 0 && row < count_, "CircularBufferLineList: recycleInto needs a row in the ring");
    // The oldest line becomes the last, then moves up to its row past the few lines below it.
    recycle(clearCell, isWrapped, bidiState);
    for (int at = count_ - 1; at > row; --at)
        std::swap(array_[physical(at)], array_[physical(at - 1)]);
    return array_[physical(row)];
}

void CircularBufferLineList::splice(int start, int deleteCount, const std::vector<LinePointer>& items,
                                    const std::function<void(int)>& change)
{
    start = std::clamp(start, 0, count_);
    deleteCount = std::clamp(deleteCount, 0, count_ - start);
    if (deleteCount >= 1) {
        for (int i = start; i < count_ - deleteCount; ++i) {
            array_[physical(i)] = std::move(array_[physical(i + deleteCount)]);
            if (change)
                change(i);
        }
        count_ -= deleteCount;
    }
    if (items.empty())
        return;

    // The lines after `start` move up by the number of items. They are taken out first so that
    // a ring that overflows, whose highest indexes wrap onto its lowest slots, cannot overwrite
    // a line before it has moved.
    const int itemCount = static_cast<int>(items.size());
    std::vector<LinePointer> moving;
    moving.reserve(items.size() + static_cast<size_t>(count_ - start));
    for (const LinePointer& item : items) {
        if (isLive_ && item)
            adopt(*item);
        moving.push_back(item);
    }
    for (int i = start; i < count_; ++i)
        moving.push_back(std::move(array_[physical(i)]));

    const int grownCount = count_ + itemCount;
    ensureSlots(std::min(grownCount, maxLength_));
    const int excess = std::max(grownCount - slotCount(), 0);
    // Indexes below `excess` fall off the front of the ring once it advances.
    for (int j = static_cast<int>(moving.size()) - 1; j >= 0; --j) {
        const int index = start + j;
        if (index < excess)
            break;
        array_[physical(index)] = std::move(moving[static_cast<size_t>(j)]);
        if (change)
            change(index);
    }
    if (excess > 0) {
        startIndex_ = static_cast<int>(physical(excess));
        count_ = slotCount();
    } else {
        count_ = grownCount;
    }
}

void CircularBufferLineList::reset(int newMaxLength)
{
    // The slot array shrinks back to its first allocation, so clearing a buffer that once held
    // a long scrollback gives the memory back.
    if (isLive_) {
        for (int i = 0; i < count_; ++i) {
            const LinePointer& line = array_[physical(i)];
            if (line && line->hasImages())
                owner_->adjustLinesWithImagesCount(-1);
        }
    }
    maxLength_ = std::max(newMaxLength, 0);
    startIndex_ = 0;
    count_ = 0;
    array_.assign(static_cast<size_t>(initialSlotsFor(maxLength_)), nullptr);
}

} // namespace kestrovan
