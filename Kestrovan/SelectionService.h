// The text selection of one terminal: two end points in buffer rows, the gesture state that grows
// a selection by character, word, logical line or rectangle, and the rules that keep it true to
// the text while the terminal scrolls and rewrites the screen.
//
// Rows are buffer rows: row 0 is the oldest line of the buffer's ring, and screen row r is buffer
// row r + `yDisp`. A service joins its terminal's registry (`create` does it), so that in-place
// scrolls move the selection with its text or drop it. Every operation runs on the thread that
// holds the terminal lock; the service has no lock of its own, and tells the terminal's delegate
// of each change with `selectionChanged` under that lock.
//
// The operations live in three files: SelectionService.cpp (state, gestures, scrolling and the
// feed check), SelectionServiceWords.cpp (double-click word, URL, path, quote and bracket rules)
// and SelectionServiceText.cpp (the selected text).
#pragma once

#include "Kestrovan/BidiPresentationState.h"
#include "Kestrovan/Character.h"
#include "Kestrovan/PackedCell.h"
#include "Kestrovan/Position.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace kestrovan {

class Buffer;
class BufferLine;
class Terminal;

/// A half-open range of columns.
struct ColumnRange
{
    int lower = 0;
    int upper = 0;

    friend bool operator==(ColumnRange, ColumnRange) = default;
};

class SelectionService
{
public:
    enum class SelectionMode : uint8_t
    {
        character,
        word,
        row,
    };

    /// What a pointer gesture does (`updatePointerSelection`'s mode).
    enum class PointerMode : uint32_t
    {
        character = 0,
        /// Double click.
        word = 1,
        /// Triple click.
        row = 2,
        /// Shift-click: extend the selection there is.
        extend = 3,
    };

    /// The selected cells as they were before a feed, to tell afterwards whether output changed them.
    struct SelectedContentSnapshot
    {
        struct Row
        {
            std::shared_ptr<const BufferLine> line;
            uint64_t contentGeneration = 0;
            /// The line's count of link removals when captured: rows that only gave up links
            /// keep their text and look.
            uint8_t linkRemovals = 0;
            ColumnRange columns;
            /// A copy of the selected cells; absent for a whole scrollback row, which only changes
            /// by being recycled (a new line object).
            std::optional<std::vector<PackedCell>> cells;
            bool isWrapped = false;
            BidiPresentationState bidiState;
        };
        std::shared_ptr<const Buffer> buffer;
        std::vector<Row> rows;
    };

    /// One cell of a logical line, for the double-click rules.
    struct LineCell
    {
        Character character;
        int64_t row = 0;
        int col = 0;
        int width = 1;
    };

    /// A half-open range of indexes into a list of characters.
    struct IndexRange
    {
        size_t lower = 0;
        size_t upper = 0;

        friend bool operator==(IndexRange, IndexRange) = default;
    };

    /// A selection of `terminal`, inactive and not registered; see `create`.
    /// With `exclusiveEnd` the end names the cell after the last selected one; without it an end
    /// on the last column selects that column.
    explicit SelectionService(std::weak_ptr<Terminal> terminal = {}, bool exclusiveEnd = false);
    /// A service registered with its terminal, the usual way to make one. Takes the terminal lock
    /// unless the caller holds it.
    static std::shared_ptr<SelectionService> create(const std::shared_ptr<Terminal>& terminal,
                                                    bool exclusiveEnd = false);

    SelectionService(const SelectionService&) = delete;
    SelectionService& operator=(const SelectionService&) = delete;

    std::shared_ptr<Terminal> terminal() const { return terminal_.lock(); }
    bool exclusiveEnd() const { return exclusiveEnd_; }

    // --- State ------------------------------------------------------------------------------------

    bool active() const { return active_; }
    /// Changes `active`, keeping the terminal's count of active selections in step and telling the
    /// delegate when it changed; becoming (or staying) inactive drops the pivot.
    void setActive(bool value);
    /// Whether the ends differ.
    bool hasSelectionRange() const { return start_ != end_; }
    bool isMultiLine() const { return start_.row != end_.row; }

    /// The anchor end and the moving end, in the order the gesture made them.
    Position start() const { return start_; }
    Position end() const { return end_; }
    /// The anchor of pivot extension and of character-mode pointer extension.
    const std::optional<Position>& pivot() const { return pivot_; }
    /// The word a double click chose, when a word-mode selection began with one.
    const std::optional<std::pair<Position, Position>>& wordSelectionAnchor() const
    {
        return wordSelectionAnchor_;
    }
    /// The row a row-mode selection began at.
    const std::optional<int64_t>& rowSelectionAnchor() const { return rowSelectionAnchor_; }
    bool isBlock() const { return isBlock_; }
    bool selectingRows() const { return selectingRows_; }
    SelectionMode selectionMode() const { return selectionMode_; }

    /// "[Selection (active=true, start=col=0 row=0 end=col=3 row=0 hasSR=true pivot=nil]".
    std::string debugDescription() const;

    // --- Starting and extending -------------------------------------------------------------------

    /// The position with its column within the buffer's columns (up to the column count with
    /// `exclusiveEnd`) and its row within its lines.
    Position clamp(const Buffer& buffer, Position position) const;
    /// An empty selection at a screen cell, in character mode.
    void startSelection(int64_t row, int64_t col);
    /// Puts both ends on `bufferPosition`, as it is, and tells no one: for a gesture that places
    /// its anchor and then starts or extends the selection from it, which tells the delegate.
    void collapseTo(Position bufferPosition)
    {
        start_ = bufferPosition;
        end_ = bufferPosition;
    }
    /// Collapses the selection onto its start.
    void startSelection();
    void startBlockSelection(Position bufferPosition);
    /// Selects from `start` to `end` (both clamped) in character mode.
    void setSelection(Position newStart, Position newEnd);
    /// Moves both ends to a cell without clamping or touching the modes.
    void setSoftStart(int64_t row, int64_t col);
    void setSoftStart(Position bufferPosition);
    /// Extends to a cell as shift-click does, keeping the farther end as the anchor.
    void shiftExtend(int64_t row, int64_t col);
    void shiftExtend(Position bufferPosition);
    /// Extends from the pivot; does nothing without one.
    void pivotExtend(int64_t row, int64_t col);
    void pivotExtend(Position bufferPosition);
    /// Extends as a drag does, in the current mode.
    void dragExtend(int64_t row, int64_t col);
    void dragExtend(Position bufferPosition);
    /// Everything in the buffer, scrollback included.
    void selectAll();
    /// The logical line that holds `row`, in row mode.
    void select(int64_t row);
    /// Drops an active selection.
    void selectNone();
    /// A pointer press (`begin`) or drag at a buffer cell, by character, word, row or extension.
    void updatePointerSelection(Position position, bool begin, PointerMode mode);

    /// The first and last rows of the logical line (a row and its soft-wrapped continuations)
    /// that holds `row`; `row`, `row` outside the buffer.
    std::pair<int64_t, int64_t> logicalLineRows(int64_t row) const;

    // --- Geometry, scrolling and the feed check -------------------------------------------------

    /// The selected columns of buffer row `row` on a line of `cols` cells; absent when none.
    std::optional<ColumnRange> selectedColumnsRange(int64_t row, int cols) const;
    /// The text in buffer rows `top` ... `bottom` moved up by `lines` (down when negative): a
    /// selection inside the range moves with it; one that leaves or straddles the range goes.
    void adjustForInPlaceScroll(int64_t top, int64_t bottom, int64_t lines);
    /// Columns `left` ... `right` of rows `top` ... `bottom` scrolled sideways or vertically inside
    /// the margins: a selection whose cells that moved is dropped.
    void invalidateForColumnRestrictedScroll(int64_t top, int64_t bottom, int left, int right);
    /// The selected cells before a feed; absent when nothing is selected.
    std::optional<SelectedContentSnapshot> captureSelectedContent() const;
    /// Drops the selection when the feed changed its cells or switched buffers.
    void clearIfSelectedContentChanged(const SelectedContentSnapshot& snapshot);

    // --- Double-click rules (SelectionServiceWords.cpp) -----------------------------------------

    /// Selects the URL, path, quoted string, bracketed expression, blank run or word at a cell,
    /// in word mode.
    void selectWordOrExpression(Position at, const Buffer& buffer);
    /// The URL, path or quoted string around a cell, across soft wraps; absent when none.
    std::optional<std::pair<Position, Position>> smartWordRange(Position at, const Buffer& buffer) const;
    /// The cells of the logical line holding `row` (at most 100 rows each way), without the right
    /// halves of wide characters.
    std::vector<LineCell> logicalLineCells(int64_t row, const Buffer& buffer) const;
    static std::optional<IndexRange> urlRange(std::span<const Character> chars, size_t containing);
    /// The end of a URL without trailing punctuation and unbalanced closing brackets.
    static size_t trimURLEnd(std::span<const Character> chars, size_t from, size_t to);
    static std::optional<IndexRange> pathRange(std::span<const Character> chars, size_t containing);
    static std::optional<IndexRange> quotedRange(std::span<const Character> chars, size_t at);
    static bool isDelimitingQuote(std::span<const Character> chars, size_t at, char32_t quote);
    /// The fallback on the cell's own row: blank run, word, bracketed expression or nothing.
    void selectPlainWordOrExpression(Position at, const Buffer& buffer);
    template <typename Include>
    void simpleScanSelection(Position from, const Buffer& buffer, Include include);
    void balancedSearchForward(Position from, const Buffer& buffer);
    void balancedSearchBackward(Position from, const Buffer& buffer);
    /// The edge of the run of word characters, blanks or nulls that `position` is in, on its row.
    Position extendToWordBoundary(Position position, const Buffer& buffer, int direction) const;
    /// The word under a cell and its start; absent off the buffer or on a non-word character.
    std::optional<std::pair<std::string, Position>> word(Position at, const Buffer& buffer) const;

    // --- Text (SelectionServiceText.cpp) --------------------------------------------------------

    /// The selected text, soft-wrapped rows joined; empty when nothing is selected.
    std::string getSelectedText() const;

private:
    /// Sets the flag and the terminal's count; true when it changed.
    bool setActiveFlag(bool value);
    void tellDelegate() const;
    /// Active, and the delegate told.
    void notify();
    /// Character mode, no word or row gesture, not a block.
    void resetModes();
    /// Inactive, then the mode reset.
    void clear();
    int columnCount() const;
    int64_t lineCount() const;
    Buffer* currentBuffer() const;
    void setRowSelection(int64_t from, int64_t through);
    std::pair<Position, Position> pointerCell(Position position) const;
    void normalizePointerEndpoints();
    void characterExtension(Position cellStart, Position cellEnd);
    void wordEndFixUp(Position cellStart, Position cellEnd);
    std::string blockText() const;
    /// Whether the selected cells of `buffer` still hold what `rows` recorded.
    bool selectedContentIsUnchanged(const std::vector<SelectedContentSnapshot::Row>& rows,
                                    Buffer& buffer) const;

    std::weak_ptr<Terminal> terminal_;
    bool exclusiveEnd_ = false;
    bool active_ = false;
    Position start_;
    Position end_;
    std::optional<Position> pivot_;
    std::optional<std::pair<Position, Position>> wordSelectionAnchor_;
    std::optional<int64_t> rowSelectionAnchor_;
    bool isBlock_ = false;
    bool selectingRows_ = false;
    SelectionMode selectionMode_ = SelectionMode::character;
};

} // namespace kestrovan
