// The ring of lines of one buffer: its screen rows plus its scrollback, oldest first.
//
// Appending to a full ring drops the oldest line, and scrolling a full ring reuses the oldest
// line object (`recycle`) instead of allocating one. Logical index 0 is the oldest line kept;
// logical index i lives in slot (startIndex + i) mod the number of slots.
//
// The slot array grows on demand, doubling up to `maxLength`, and is re-laid from slot 0 when it
// grows; a buffer with a huge scrollback limit therefore pays only for the lines it holds.
//
// A ring bound to a live buffer (`isLive`) makes every line it takes in (push, store, splice)
// adopt the buffer's arena and owning reference. It tells the buffer about lines with images in
// three places only: a pushed line that carries images, a recycled line that carried some, and
// the lines a reset drops. Lines moved by the other operations are not counted; the buffer
// recounts after it moves lines wholesale. The ring is used only under the terminal lock.
#pragma once

#include "Kestrovan/BidiPresentationState.h"
#include "Kestrovan/BufferLine.h"
#include "Kestrovan/BufferRef.h"
#include "Kestrovan/CellArena.h"
#include "Kestrovan/Fatal.h"
#include "Kestrovan/PackedCell.h"

#include <functional>
#include <memory>
#include <vector>

namespace kestrovan {

/// What a ring needs from the buffer that owns it. The buffer implements it.
class LineRingOwner
{
public:
    virtual ~LineRingOwner() = default;

    /// A new blank line of the buffer's width: every cell `packedBlank`, used length 0, the
    /// buffer's default bidi state, owned by the buffer (`Buffer::getBlankLine`).
    virtual std::shared_ptr<BufferLine> makeBlankLine(PackedCell packedBlank, bool isWrapped) = 0;
    /// The arena every line of the buffer is packed against.
    virtual const std::shared_ptr<CellArena>& arena() const = 0;
    /// The reference the buffer's lines hold as their owner.
    virtual const std::shared_ptr<BufferRef>& bufferRef() const = 0;
    /// Adds `delta` to the buffer's count of lines that carry images.
    virtual void adjustLinesWithImagesCount(int delta) = 0;
};

class CircularBufferLineList
{
public:
    using LinePointer = std::shared_ptr<BufferLine>;
    /// What a reader of a const ring gets: the line, which it cannot change through this pointer.
    using ConstLinePointer = std::shared_ptr<const BufferLine>;

    /// An empty ring of `maxLength` lines. With an owner the ring fills empty slots from it;
    /// `isLive` (which needs an owner) also keeps arenas and image counts in step with it.
    explicit CircularBufferLineList(int maxLength, LineRingOwner* owner = nullptr, bool isLive = false);

    /// The line at a logical index, for a writer; an empty slot first receives a blank line from
    /// the owner (without an owner, or with no slots, the program stops). Valid until the ring
    /// changes. A const ring has no subscript: filling a slot is a change, so readers use
    /// `lineIfPresent` and take an empty slot as no line.
    const LinePointer& operator[](int index)
    {
        LinePointer& slot = array_[physical(index)];
        if (!slot) [[unlikely]]
            fillEmptySlot(slot);
        return slot;
    }
    /// The line at a logical index, or null when its slot is empty; never fills.
    const LinePointer& lineIfPresent(int index) { return array_[physical(index)]; }
    /// The same for a reader, which may look at the line but not change it.
    ConstLinePointer lineIfPresent(int index) const { return array_[physical(index)]; }
    /// The line at a logical index for a reader, without touching its count of owners: the stored
    /// line, or `BufferLine::empty()` (no cells, so no text) for a slot never filled.
    const BufferLine& lineOrEmpty(int index) const
    {
        const LinePointer& slot = array_[physical(index)];
        return slot ? *slot : BufferLine::empty();
    }
    /// Calls `visit` with each line at logical indexes `first` ..< `end`, which lie in the ring, in
    /// order; an empty slot first receives its blank line, as through the subscript. One slot
    /// lookup for the whole run: a run of line feeds visits every line it moves onto.
    template <typename Visit> void forEachLine(int first, int end, Visit&& visit)
    {
        if (first >= end)
            return;
        LinePointer* slot = array_.data() + physical(first);
        LinePointer* const slotsEnd = array_.data() + array_.size();
        for (int index = first; index < end; ++index) {
            if (!*slot) [[unlikely]]
                fillEmptySlot(*slot);
            visit(**slot);
            if (++slot == slotsEnd) [[unlikely]]
                slot = array_.data();
        }
    }
    /// Stores a line at a logical index; on a live ring it adopts the owner's arena and owner.
    void set(int index, LinePointer line);

    int count() const { return count_; }
    /// Sets the number of logical lines; above `maxLength` stops the program.
    void setCount(int newCount);
    int maxLength() const { return maxLength_; }
    /// Changes the capacity, re-laying the lines from slot 0 in logical order. When the ring
    /// holds more lines than the new capacity, the oldest ones drop out.
    void setMaxLength(int newMaxLength);
    int startIndex() const { return startIndex_; }
    bool isFull() const { return count_ == maxLength_; }
    bool isLive() const { return isLive_; }
    LineRingOwner* owner() const { return owner_; }

    /// Appends a line; on a full ring the oldest line drops out.
    void push(LinePointer line);
    /// Reuses the oldest line of a full ring (otherwise the program stops) as the new last
    /// line, blanked with `clearCell`; returns it.
    /// Inline: scrolling a full screen into a full scrollback recycles a line per line feed.
    const LinePointer& recycle(PackedCell clearCell, bool isWrapped, const BidiPresentationState& bidiState)
    {
        KESTROVAN_ASSERT(count_ == maxLength_ && count_ > 0,
                         "CircularBufferLineList: recycle needs a full ring");
        // The oldest line sits at the start index; an empty slot is filled before it is reused,
        // as reading through the subscript would.
        const size_t slot = static_cast<size_t>(startIndex_);
        KESTROVAN_ASSERT(slot < array_.size(), "CircularBufferLineList: start index outside the slots");
        LinePointer& oldest = array_[slot];
        if (!oldest) [[unlikely]]
            fillEmptySlot(oldest);
        BufferLine& line = *oldest;
        startIndex_ = startIndex_ + 1 == slotCount() ? 0 : startIndex_ + 1;
        // Output that scrolls recycles the lines in slot order, each written so long ago that it
        // has left the cache. Fetching the objects two lines ahead, and the cells of the next line
        // (whose object came one line feed ago), lets a line feed find what it blanks and the
        // printing after it writes already there instead of waiting on memory for each.
        const size_t next = static_cast<size_t>(startIndex_);
        const size_t afterNext = next + 1 == array_.size() ? 0 : next + 1;
        if (const BufferLine* ahead = array_[afterNext].get())
            ahead->prefetchObject();
        if (const BufferLine* upcoming = array_[next].get())
            upcoming->prefetchCells();
        const bool hadImages = line.recycle(clearCell, isWrapped, bidiState);
        if (isLive_ && hadImages) [[unlikely]]
            owner_->adjustLinesWithImagesCount(-1);
        return array_[slot];
    }
    /// Drops `n` lines from the front (at most the count).
    void trimStart(int n);
    /// Adds `n` logical lines at the front (at most the room left below `maxLength`); their
    /// slots hold stale lines or none until the caller stores lines there.
    void growStart(int n);
    /// Moves `count` lines starting at logical `start` by `offset`. Bad arguments print
    /// "Assertion at start=... count=... offset=...: <reason>" and change nothing. The vacated
    /// slots keep their old lines until the caller replaces them.
    bool shiftElements(int start, int count, int offset);
    /// Rotates lines `top` ... `bottom` up by one: the line leaving at `top` is recycled with
    /// the given blank and becomes the line at `bottom`. Bad rows print a diagnostic and fail.
    bool shiftUpAndRecycle(int top, int bottom, PackedCell clearCell, bool isWrapped,
                           const BidiPresentationState& bidiState);
    /// Moves lines `top` ... `bottom` by `count` rows (towards `top` when `towardsTop`), whole:
    /// the `count` lines pushed out at one end are recycled (blanked with `clearCell`, not
    /// wrapped, `bidiState`) and come back in at the other, so nothing is allocated. `count` is
    /// at most the height. Bad rows print a diagnostic and fail.
    bool rotateAndRecycle(int top, int bottom, int count, bool towardsTop, PackedCell clearCell,
                          const BidiPresentationState& bidiState);
    /// `rotateAndRecycle` towards `top` without the checks, for callers that made them: rows
    /// `top` ... `bottom` lie in the ring with `top <= bottom`, and `count` is 1 ... height. The
    /// recycled lines take `isWrapped`.
    void rotateUpRecycling(int top, int bottom, int count, PackedCell clearCell, bool isWrapped,
                           const BidiPresentationState& bidiState);
    /// Moves lines `top` ... `bottom` down one row, the line at `bottom` coming round to `top`;
    /// nothing for a range of fewer than two lines or one outside the ring.
    void rotateDown(int top, int bottom);
    /// Recycles the oldest line of a full ring as the new line at logical `row` (counted after
    /// the oldest has left), the lines from `row` on moving down one; returns it. A line feed in
    /// a region at the top of the screen that ends above its bottom row uses it.
    const LinePointer& recycleInto(int row, PackedCell clearCell, bool isWrapped,
                                   const BidiPresentationState& bidiState);
    /// Deletes `deleteCount` lines at `start` and inserts `items` there; `change` is told each
    /// logical index written. Lines pushed past a full ring's capacity drop out at the front.
    void splice(int start, int deleteCount, const std::vector<LinePointer>& items,
                const std::function<void(int)>& change = {});
    /// Empties the ring, possibly with a new capacity.
    void reset(int newMaxLength);

    /// The number of slots the ring has allocated (at most `maxLength`).
    int slotCount() const { return static_cast<int>(array_.size()); }

private:
    /// The slot of a logical index. Every caller but a few passes an index inside the slot
    /// array, where one conditional subtraction replaces the division; anything else wraps
    /// modulo the slot count (and a ring without slots stops the program).
    size_t physical(int logical) const
    {
        const size_t slots = array_.size();
        if (static_cast<size_t>(static_cast<unsigned>(logical)) < slots) [[likely]] {
            // `startIndex_` is always below the slot count, so one subtraction is enough.
            const size_t index = static_cast<size_t>(startIndex_) + static_cast<size_t>(logical);
            return index >= slots ? index - slots : index;
        }
        return physicalWrapping(logical);
    }
    size_t physicalWrapping(int logical) const;
    void fillEmptySlot(LinePointer& slot);
    void ensureSlots(int needed);
    void relay(int newSlotCount);
    void adopt(BufferLine& line) const;
    /// Rotates logical lines `top` ... `bottom` (a valid range) by `count` rows, filling empty
    /// slots in the range first.
    void rotateRange(int top, int bottom, int count, bool towardsTop);
    /// Rotates `height` consecutive slots by moving the words of their line pointers.
    void relocateRotate(LinePointer* first, size_t height, size_t moved, bool towardsTop);
    /// The most lines a rotation by moved words takes: the one or two of the line feeds a pager
    /// or an editor sends at once. Longer rotations use `std::rotate`.
    static constexpr size_t maxRelocatedLines = 2;

    std::vector<LinePointer> array_;
    // The lines `rotateRange` moves when they wrap round the slot array, kept for its capacity.
    std::vector<LinePointer> rotateScratch_;
    int startIndex_ = 0;
    int count_ = 0;
    int maxLength_ = 0;
    LineRingOwner* owner_ = nullptr;
    bool isLive_ = false;
};

} // namespace kestrovan
