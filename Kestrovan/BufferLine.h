// One row of a screen or of its scrollback: packed cells plus the row's own state (soft wrap,
// bidi state, line size, prompt marks, images) and the change counters render caches use.
//
// Lines are shared by reference: the line ring holds them, the buffer and the terminal edit them
// in place, and a recycled line object is reused for a new row instead of being reallocated.
// Two fields make reuse cheap: every cell at or beyond `usedLength()` is known to equal
// `tailBlankCell()`, so recycling rewrites only the used prefix.
//
// `generation()` counts changes: +1 for cells, the wrap flag or the bidi state; +2^40 for the
// render mode, the prompt marks, the hard-continuation group or the images. Readers compare it
// for equality only. Links taken off cells step it by 1 too, and are also counted on their own,
// so a reader that keeps text (the selection) can tell a row that only lost links from one that
// was rewritten. Recoverable misuse (an index out of range through `set`) prints a
// diagnostic and clamps; a cell that cannot be packed stops the program.
#pragma once

#include "Kestrovan/BidiPresentationState.h"
#include "Kestrovan/BufferRef.h"
#include "Kestrovan/CellArena.h"
#include "Kestrovan/CellStoragePage.h"
#include "Kestrovan/CharData.h"
#include "Kestrovan/PackedCell.h"
#include "Kestrovan/SemanticContent.h"
#include "Kestrovan/TerminalImage.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrovan {

/// A shell-integration prompt mark on a row; a row holds at most one per kind.
struct SemanticMark
{
    SemanticPromptKind kind = SemanticPromptKind::initial;
    int column = 0;
    /// The prompt-group id the mark belongs to; 0 is no group.
    uint64_t group = 0;

    friend bool operator==(const SemanticMark&, const SemanticMark&) = default;
};

class BufferLine final : public std::enable_shared_from_this<BufferLine>
{
public:
    /// An empty object whose identity names a line for render caches; every new line, copies
    /// included, gets a fresh one.
    class RenderIdentity
    {};

    /// The line size set by DECSWL, DECDWL and DECDHL.
    enum class RenderLineMode : uint8_t
    {
        single = 0,
        doubleWidth = 1,
        doubledTop = 2,
        doubledDown = 3
    };

    using Images = std::vector<std::shared_ptr<TerminalImage>>;
    using CharacterProvider = std::function<std::optional<Character>(const CharData&)>;
    using TextProvider = std::function<std::optional<std::string>(const CharData&)>;

    /// The generation step of a change to the row's decoration (render mode, marks, group,
    /// images); content changes step by 1.
    static constexpr uint64_t decorationChange = uint64_t(1) << 40;

    /// A buffer line: `cols` cells of `packedFill` against the buffer's `arena`. `blankTailCell`
    /// names the blank of the unused tail; when the fill is that blank nothing counts as used.
    BufferLine(int cols, PackedCell packedFill, std::optional<PackedCell> blankTailCell, bool isWrapped,
               BidiPresentationState bidiState, std::shared_ptr<CellArena> arena);
    /// A stand-alone line with an arena of its own; the fill (absent: `CharData::Null()`) must
    /// pack, or the program stops.
    explicit BufferLine(int cols, const std::optional<CharData>& fillData = std::nullopt,
                        bool isWrapped = false, BidiPresentationState bidiState = BidiPresentationState());
    /// A copy of another line with a new identity, no owner and generations at 0; its cells
    /// share the source's arena.
    explicit BufferLine(const BufferLine& from);
    BufferLine& operator=(const BufferLine&) = delete;

    /// A line of no cells, shared and never changed: what a reader takes for a ring slot that
    /// holds no line yet, since giving the slot a blank line would change the ring.
    static const BufferLine& empty();

    // Reading.

    /// The number of columns.
    int count() const { return count_; }
    /// The cell of a column; an index past the end reads the last column.
    CharData operator[](int index) const;
    /// The packed cell of a column; the index must lie within the line.
    PackedCell packed(int index) const { return cells_[index]; }
    /// 1, 2 or 0 by the cell's width state.
    int getWidth(int index) const { return packed(index).width(); }
    /// Whether a column shows anything: a character, an inline background, or a look other than
    /// the default attribute.
    bool hasContent(int index) const;
    bool hasAnyContent() const;
    /// One past the last column covered by a character (blanks never count), or 0.
    int getTrimmedLength() const;
    std::vector<CharData> getData() const;
    /// The text of columns `startCol` ..< `endCol` (-1: the column count). Each cell gives the
    /// provider's text, else the provider's character, else `CellArena::text` (U+0000 for an
    /// empty cell). With `skipNullCellsFollowingWide` the empty right halves of wide characters
    /// are left out.
    std::string translateToString(bool trimRight = false, int startCol = 0, int endCol = -1,
                                  bool skipNullCellsFollowingWide = false,
                                  const CharacterProvider& characterProvider = {},
                                  const TextProvider& textProvider = {}) const;
    /// The texts of all columns joined.
    std::string debugDescription() const;

    bool isWrapped() const { return isWrappedValue_; }
    /// Whether the row's last column is the gap a wide character left when it did not fit there
    /// and moved on to the next row: no text, so a reflow joins across it. Set where such a gap
    /// is made (printing, reflow); any later write of that column ends it, whatever it writes (a
    /// blank written there is text like any other), and so does recycling. Not counted as a
    /// change, as nothing shows it.
    bool endsWithWideGap() const { return endsWithWideGapValue_; }
    const BidiPresentationState& bidiState() const { return bidiStateValue_; }
    RenderLineMode renderMode() const { return renderModeValue_; }
    const std::vector<SemanticMark>& semanticMarks() const { return semanticMarksValue_; }
    std::optional<uint64_t> semanticHardContinuationGroup() const
    {
        return semanticHardContinuationGroupValue_;
    }
    const std::optional<Images>& images() const { return imagesValue_; }
    bool hasImages() const { return imagesValue_.has_value(); }
    uint64_t generation() const { return generation_; }
    /// How many times links were taken off the line's cells (`markLinksRemoved()`), modulo 256.
    uint8_t linkRemovals() const { return linkRemovals_; }
    /// Whether taking links off cells is all that changed the line since it had `generation` and
    /// `linkRemovals`.
    bool onlyLinksRemovedSince(uint64_t generation, uint8_t linkRemovals) const
    {
        // A removal steps both counters by one, any other change the generation alone, so the
        // steps match exactly when nothing else happened. The byte may wrap, but only after 256
        // removals, and then the steps differ: that reads as a change, never the other way.
        return generation_ - generation == uint8_t(linkRemovals_ - linkRemovals);
    }
    uint64_t recycleGeneration() const { return recycleGeneration_; }
    const std::shared_ptr<const RenderIdentity>& renderIdentity() const { return renderIdentity_; }
    const std::shared_ptr<BufferRef>& owningBufferRef() const { return owningBufferRef_; }
    /// The page of cells; read-only, since writing cells goes through the line's writers.
    std::shared_ptr<const CellStoragePage> storage() const { return storage_; }
    const std::shared_ptr<CellArena>& arena() const { return storage_->arena(); }
    /// Cells at this index and beyond equal `tailBlankCell()`.
    int usedLength() const { return usedLength_; }
    PackedCell tailBlankCell() const { return tailBlankCell_; }

    // Writing. Each write steps the generation as described above.

    /// Packs `data` into a column. An index out of range prints a diagnostic and writes the
    /// nearest column instead; a cell that cannot be packed stops the program.
    void set(int index, const CharData& data);
    void setWrapped(bool value);
    void setEndsWithWideGap(bool value) { endsWithWideGapValue_ = value; }
    void setBidiState(const BidiPresentationState& value);
    void setRenderMode(RenderLineMode mode);
    void setSemanticHardContinuationGroup(std::optional<uint64_t> group);
    void setOwningBufferRef(std::shared_ptr<BufferRef> ref) { owningBufferRef_ = std::move(ref); }

    void fill(const CharData& data);
    void fill(PackedCell cell);
    /// Fills columns `atCol` ..< `atCol + len`, which must lie within the line.
    void fill(const CharData& data, int atCol, int len);
    void fill(PackedCell cell, int atCol, int len);
    /// Fills columns `start` ..< min(`end`, count).
    void replaceCells(int start, int end, const CharData& fillData);
    void replacePackedCells(int start, int end, PackedCell fill);
    /// Fills columns `start` ..< count, as `replacePackedCells(start, count(), fill)` does. With
    /// the tail blank as `fill` only the used cells are written and the used length drops to
    /// `start`, so erasing to the end of a line that is already blank there changes nothing.
    void eraseToEnd(int start, PackedCell fill)
    {
        // The erase reaches the last column (`start` lies within the line) even where it finds
        // it blank already.
        endsWithWideGapValue_ = false;
        // A tail that already is `fill` from `start` on stays as it is, without a call.
        if (fill == tailBlankCell_ && start >= usedLength_)
            return;
        eraseToEndSlow(start, fill);
    }
    /// For a run about to be stored at `start` ..< `end` (0 <= `start` < `end` <= count): erases
    /// the line from `end` on with `fill` and counts the changes as `markWrittenThenEraseToEnd`
    /// would after the run. Only when `fill` is the tail blank and the line has eight cells from
    /// `start` on; false, with nothing done, otherwise. Cells of the run may be overwritten
    /// meanwhile: the caller stores it next.
    inline bool eraseToEndBeforeWrite(int start, int end, PackedCell fill);
    /// After cells were stored up to `end`: `raiseUsedLength(end)`, `markContentChanged()` and
    /// then `eraseToEnd(end, fill)`, with the tail blank as `fill` (nearly always) in one step.
    void markWrittenThenEraseToEnd(int end, PackedCell fill)
    {
        // The run or the erase wrote the last column.
        endsWithWideGapValue_ = false;
        markContentChanged();
        if (fill != tailBlankCell_ || end < 0 || end > count_) [[unlikely]] {
            raiseUsedLength(end);
            eraseToEndSlow(end, fill);
            return;
        }
        const int used = usedLength_;
        usedLength_ = end;
        if (end < used) {
            // The run ended inside what earlier output used: the rest of that is blanked.
            fillRange(end, used, fill);
            markContentChanged();
        }
    }

    /// ICH: inserts `n` cells of `fill` at `pos`, shifting the cells up to `rightMargin` right;
    /// cells beyond the margin never move and wide characters cut at a seam are blanked whole.
    void insertCells(int pos, int n, int rightMargin, const CharData& fillData);
    void insertPackedCells(int pos, int n, int rightMargin, PackedCell fill);
    /// DCH: deletes `n` cells at `pos`, shifting the cells up to `rightMargin` left and filling
    /// the freed columns before the margin with `fill`.
    void deleteCells(int pos, int n, int rightMargin, const CharData& fillData);
    void deletePackedCells(int pos, int n, int rightMargin, PackedCell fill);

    /// Changes the column count; new columns get `fill`, and marks are clamped when shrinking.
    void resize(int cols, const CharData& fillData);
    void resize(int cols, PackedCell fill);

    /// Makes this line a copy of `line` (cells, used length, wrap flag, wide gap, marks, group,
    /// bidi state), keeping its own identity, render mode and images.
    void copyFrom(const BufferLine& line);
    /// Copies `len` cells and the prompt marks on them from `source` (this line or another) at
    /// `srcCol` to `dstCol`. Wide-character seams are not repaired here.
    void copyFrom(BufferLine& source, int srcCol, int dstCol, int len);
    /// Refreshes a render-snapshot line from a live line, with its cells bound to the snapshot
    /// `arena` (which must preserve the source arena's encoding).
    void copyForSnapshot(const BufferLine& from, const std::shared_ptr<CellArena>& arena);
    /// Re-encodes the cells against another arena; nothing when they already use it.
    void adoptArena(const std::shared_ptr<CellArena>& arena);
    /// Asks the processor to bring the object, and the cells, into the cache for writing, ahead
    /// of a recycle; neither changes anything.
    void prefetchObject() const
    {
        const auto* bytes = reinterpret_cast<const char*>(this);
        for (size_t at = 0; at < sizeof(BufferLine); at += 64)
            __builtin_prefetch(bytes + at, 1);
    }
    void prefetchCells() const
    {
        // From the cache line the cells start in, two lines a step (the last may lie just past
        // the cells, which a prefetch may touch): a line feed's share stays a few instructions.
        constexpr uintptr_t lineSize = 64;
        uintptr_t at = reinterpret_cast<uintptr_t>(cells_) & ~(lineSize - 1);
        const auto end = reinterpret_cast<uintptr_t>(cells_ + count_);
        for (; at < end; at += 2 * lineSize) {
            __builtin_prefetch(reinterpret_cast<const void*>(at), 1);
            __builtin_prefetch(reinterpret_cast<const void*>(at + lineSize), 1);
        }
    }
    /// Reuses the object for a new blank row; answers whether the line had images. Inline, as
    /// scrolling into a full scrollback recycles a line per line feed.
    bool recycle(PackedCell blank, bool isWrapped, const BidiPresentationState& bidiState)
    {
        // The tail already holds the blank when it is the same one, so only the used prefix needs
        // rewriting; that is what makes scrolling a full ring cheap.
        fillRange(0, usedLength_ < count_ && blank == tailBlankCell_ ? usedLength_ : count_, blank);
        usedLength_ = 0;
        tailBlankCell_ = blank;
        const bool hadImages = imagesValue_.has_value();
        if (hadImages) [[unlikely]]
            imagesValue_.reset();
        semanticMarksValue_.clear();
        semanticHardContinuationGroupValue_.reset();
        isWrappedValue_ = isWrapped;
        endsWithWideGapValue_ = false;
        bidiStateValue_ = bidiState;
        renderModeValue_ = RenderLineMode::single;
        recycleGeneration_ += 1;
        generation_ += 1;
        return hadImages;
    }

    /// Stores a mark, replacing any mark of the same kind; marks stay sorted by column.
    void setSemanticMark(SemanticPromptKind kind, int column, uint64_t group);
    /// Moves the marks in `from` ... `rightMargin` by `by` columns, clamped into that range.
    void marksShift(int from, int by, int rightMargin);
    /// Clamps mark columns into 0 ..< `width`; a width below 1 removes all marks.
    void marksClampTo(int width);
    /// Removes every mark; answers whether there were any.
    bool clearSemanticMarks();

    /// Appends an image; answers whether the line had no image list before.
    bool attachImage(std::shared_ptr<TerminalImage> image);
    /// Removes the image list; answers whether there was one.
    bool clearImages();
    /// Replaces the image list as it is (used when lines are re-laid).
    void setImages(std::optional<Images> images);

    /// Blanks both halves of a wide character split by column `col` (before an edit there).
    void repairWideSeam(int col)
    {
        // Inline, the test alone: a cut through a wide character is rare, and the erases of
        // full-screen programs cut lines at the cursor many times a screen.
        if (col >= 1 && col <= count_ &&
            (cells_[col - 1].isLead() || (col < count_ && cells_[col].isContinuation())))
            repairWideSeamSlow(col);
    }
    /// The print path's seam repair before writing `at` ... `lastIndex`: `first` and `last` are
    /// the cells now at `at` and `lastIndex`. A continuation about to be overwritten loses its
    /// lead; a lead about to be overwritten loses its continuation.
    void repairSeamsForWriteSlow(int at, PackedCell first, int lastIndex, PackedCell last, int cellCount);

    // Direct cell access for the buffer's fast paths: write the cells, then raise the used
    // length over them and count one content change; a write that reaches the last column also
    // ends a wide gap there (`noteWrittenTo`).

    /// Called with one past the last column written, by the line's own writers and by direct ones.
    void noteWrittenTo(int end)
    {
        if (end >= count_)
            endsWithWideGapValue_ = false;
    }
    PackedCell* mutableCells() { return cells_; }
    const PackedCell* cells() const { return cells_; }
    void raiseUsedLength(int length)
    {
        if (length > usedLength_)
            usedLength_ = length < count_ ? length : count_;
    }
    void markContentChanged() { generation_ += 1; }
    void markDecorationChanged() { generation_ += decorationChange; }
    /// After the payload codes (links) of some cells were cleared through `mutableCells()`, their
    /// text and look left as they were: renderers draw the row again (a hovered link loses its
    /// underline), and readers that keep text may count it as no change.
    void markLinksRemoved()
    {
        generation_ += 1;
        linkRemovals_ += 1;
    }

private:
    bool holdsCharacter(PackedCell cell) const;
    PackedCell packOrStop(const CharData& data) const;
    PackedCell reencode(PackedCell cell, const CellArena& from) const;
    void fillRange(int start, int end, PackedCell cell);
    /// Stores `cell` in the eight cells from `at`, two a store where the processor can.
    [[gnu::always_inline]] static void storeEightCells(PackedCell* at, PackedCell cell)
    {
#if defined(__SSE2__)
        const __m128i pair = _mm_set1_epi64x(static_cast<long long>(cell.rawValue));
        auto* target = reinterpret_cast<__m128i*>(at);
        _mm_storeu_si128(target, pair);
        _mm_storeu_si128(target + 1, pair);
        _mm_storeu_si128(target + 2, pair);
        _mm_storeu_si128(target + 3, pair);
#else
        for (int i = 0; i < 8; ++i)
            at[i] = cell;
#endif
    }
    void repairWideSeamSlow(int col);
    void eraseToEndSlow(int start, PackedCell fill);
    void sortMarks();
    void blankCell(int index);

    /// Makes `page` the line's storage and caches its cells and count.
    void setStorage(std::shared_ptr<CellStoragePage> page);

    // What printing, scrolling and recycling touch comes first, so that it shares the object's
    // first cache line: the cells (cached from the page, which never changes its length, so
    // reaching a cell is one load instead of three), the count, the tail state and the counters.
    PackedCell* cells_ = nullptr;
    int count_ = 0;
    int usedLength_ = 0;
    PackedCell tailBlankCell_;
    uint64_t generation_ = 0;
    uint64_t recycleGeneration_ = 0;
    bool isWrappedValue_ = false;
    RenderLineMode renderModeValue_ = RenderLineMode::single;
    BidiPresentationState bidiStateValue_;
    bool endsWithWideGapValue_ = false;
    // In the byte the flags above leave free before the next field: lines are many.
    uint8_t linkRemovals_ = 0;
    std::optional<Images> imagesValue_;
    std::vector<SemanticMark> semanticMarksValue_;
    std::optional<uint64_t> semanticHardContinuationGroupValue_;
    std::shared_ptr<CellStoragePage> storage_;
    std::shared_ptr<BufferRef> owningBufferRef_;
    std::shared_ptr<const RenderIdentity> renderIdentity_;
};

} // namespace kestrovan
