// One screen of the terminal together with its scrollback: the ring of lines, the cursor, the
// scroll region, the left and right margins, the tab stops, the saved cursor, the mode flags the
// print fast paths read, and the shell-integration (prompt mark) state.
//
// A terminal owns two buffers: the normal one, with scrollback that reflows on resize, and the
// alternate one, with neither. Rows are addressed two ways: an absolute row indexes the line
// ring (0 is the oldest scrollback line); a screen row counts from `yBase()`, the absolute row of
// the first screen row. The cursor row `y()` is a screen row; `yDisp()` is the absolute row at
// the top of the view, equal to `yBase()` unless the user scrolled back.
//
// The members live in four files: this class's state, construction, cells, clearing,
// scrollback and tab stops in Buffer.cpp; the prompt-mark queries and image bookkeeping in
// BufferPromptMarks.cpp; the print fast paths in BufferPrint.cpp; resize in BufferResize.cpp and
// the reflow of wrapped lines in BufferReflow.cpp. The buffer does no locking: every member runs
// under the owning terminal's lock.
#pragma once

#include "Kestrovan/Attribute.h"
#include "Kestrovan/BidiPresentationState.h"
#include "Kestrovan/BufferLine.h"
#include "Kestrovan/BufferRef.h"
#include "Kestrovan/CellArena.h"
#include "Kestrovan/CharData.h"
#include "Kestrovan/CircularBufferLineList.h"
#include "Kestrovan/PackedCell.h"
#include "Kestrovan/Position.h"
#include "Kestrovan/SemanticContent.h"
#include "Kestrovan/SemanticPromptState.h"
#include "Kestrovan/TerminalImage.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace kestrovan {

class BufferTerminal;
struct CharacterMap;

/// The terminal modes a buffer's print paths read, copied in by the terminal's mode set
/// (`TerminalModeSet`) whenever one of them changes. A buffer used on its own sets them itself.
struct BufferModeMirror
{
    /// IRM: printed characters push the rest of the line right.
    bool insertMode = false;
    /// DECSCA or SPA: printed cells are marked protected.
    bool characterProtection = false;
    /// DECLRMM: the left and right margins bound printing.
    bool marginMode = false;
    /// DECAWM: printing past the right edge wraps to the next line.
    bool wraparound = false;

    friend constexpr bool operator==(const BufferModeMirror&, const BufferModeMirror&) = default;
};

/// A prompt mark of a row given as a cell position (column, absolute row) and its kind.
/// The cursor state DECSC saves and DECRC restores, one per buffer.
struct SavedCursor
{
    int x = 0;
    int y = 0;
    bool wrapPending = false;
    bool originMode = false;
    bool marginMode = false;
    bool characterProtection = false;
    Attribute attr;
    /// The saved character set; the maps are static tables owned by the character-set code.
    const CharacterMap* charset = nullptr;
};

struct SemanticPromptAnchor
{
    Position position;
    SemanticPromptKind kind = SemanticPromptKind::initial;

    SemanticPromptAnchor() = default;
    SemanticPromptAnchor(Position at, SemanticPromptKind markKind) : position(at), kind(markKind) {}

    friend bool operator==(const SemanticPromptAnchor&, const SemanticPromptAnchor&) = default;
};

class Buffer final : public LineRingOwner, public PromptOriginProvider
{
public:
    /// The longest ring a buffer keeps, whatever the scrollback limit.
    static constexpr int maximumBufferLength = 0x7fffffff;

    /// A buffer of `cols` x `rows` with `scrollback` lines of history (absent: none, and no
    /// reflow), whose lines are packed against `arena`. The viewport is left empty: callers call
    /// `fillViewportRows`. Sizes below 1, or a ring length that overflows, stop the program.
    Buffer(int cols, int rows, int tabStopWidth, std::optional<int> scrollback,
           BidiPresentationState bidiState, std::shared_ptr<CellArena> arena);
    /// The same with an arena of its own.
    Buffer(int cols, int rows, int tabStopWidth, std::optional<int> scrollback,
           BidiPresentationState bidiState);
    /// Clears the back reference first, so lines that outlive the buffer see no owner.
    ~Buffer() override;

    // The ring and every line in it refer back to this object.
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    // --- State -------------------------------------------------------------------------------

    /// The screen and scrollback lines, oldest first.
    CircularBufferLineList& lines() { return lines_; }
    const CircularBufferLineList& lines() const { return lines_; }
    const std::shared_ptr<CellArena>& cellArena() const { return cellArena_; }
    /// The back reference every line of this buffer holds as its owner.
    const std::shared_ptr<BufferRef>& selfRef() const { return selfRef_; }

    int cols() const { return cols_; }
    int rows() const { return rows_; }
    std::optional<int> scrollback() const { return scrollback_; }
    /// Whether the buffer keeps scrollback; only such a buffer reflows.
    bool hasScrollback() const { return hasScrollback_; }
    bool isReflowEnabled() const { return hasScrollback_; }

    /// Cursor column: 0 ... cols - 1 (larger values are clamped). Negative assignments are
    /// ignored here and below. Setting the column ends a pending wrap.
    int x() const { return x_; }
    /// Moves the cursor to column `value`, kept on the screen, and ends a pending wrap. Negative
    /// values are ignored.
    void setX(int value)
    {
        if (value >= 0)
            x_ = std::min(value, cols_ - 1);
        wrapPending_ = false;
    }
    /// Whether the cursor waits to wrap: a character was printed into the last column (or the
    /// right margin) and the cursor stayed on it, so the next printable character starts the next
    /// line, while everything else sees the cursor on that column. Only printing sets it; cursor
    /// motion, the erases and ICH, DCH, IL and DL end it; the tab moves, DECFI, DECIC, DECDC, SU,
    /// SD, SGR and mode changes keep it, as xterm does; DECSC saves it for DECRC.
    bool wrapPending() const { return wrapPending_; }
    /// Whether `insertCharacter` drops a wide character at the cursor: one that does not fit
    /// before the print limit without auto-wrap, or one that would wrap into a region narrower
    /// than two columns.
    bool dropsWideCharacter() const
    {
        const bool fits = x_ + 1 <= printRightLimit();
        if (!modeMirror_.wraparound)
            return !fits;
        return (!fits || wrapPending_) && wrappedRightLimit() - printLeftEdge() + 1 < 2;
    }
    void setWrapPending(bool value) { wrapPending_ = value; }
    /// The column right after the last printed cell: `x()`, or one more while a wrap is pending.
    int columnAfterPrinted() const { return x_ + (wrapPending_ ? 1 : 0); }
    /// Leaves the cursor after printed cells that end before column `end`: at or past the print
    /// area's right limit it stays on the limit and waits to wrap. For callers that widen a cell
    /// already printed; the print paths below do the same.
    void placeCursorAfterPrint(int end) { placeCursorAfterPrint(end, printRightLimit()); }
    /// Cursor row, a screen row.
    int y() const { return y_; }
    void setY(int value)
    {
        if (value >= 0)
            y_ = value;
    }
    /// Moves the cursor to the screen's first row and column and ends a pending wrap: `setX(0)`
    /// and `setY(0)` in one step (a buffer has at least one column), for DECSTBM's homing.
    void homeCursor()
    {
        x_ = 0;
        y_ = 0;
        wrapPending_ = false;
    }
    /// Absolute row of screen row 0.
    int yBase() const { return yBase_; }
    void setYBase(int value) { yBase_ = value; }
    /// Absolute row at the top of the view; callers keep it within 0 ... `yBase()`.
    int yDisp() const { return yDisp_; }
    /// The same once a deferred scrollback reflow is made (`reflowPendingScrollback`): the row
    /// the terminal marks changed rows by, so that marks do not depend on when the reflow is.
    int settledYDisp() const { return yDisp_ + deferredRowShift_; }
    /// The screen's first row in the same terms: absolute rows kept elsewhere (image placements)
    /// count in the rows the reflow leaves, as they would after switches made one by one.
    int settledYBase() const { return yBase_ + deferredRowShift_; }
    void setYDisp(int value) { yDisp_ = value; }
    int scrollTop() const { return scrollTop_; }
    /// Negative values are ignored, as by `setScrollBottom`.
    void setScrollTop(int value)
    {
        if (value >= 0)
            scrollTop_ = value;
    }
    int scrollBottom() const { return scrollBottom_; }
    void setScrollBottom(int value)
    {
        if (value >= 0)
            scrollBottom_ = value;
    }
    int marginLeft() const { return marginLeft_; }
    void setMarginLeft(int value) { marginLeft_ = value; }
    int marginRight() const { return marginRight_; }
    void setMarginRight(int value) { marginRight_ = value; }

    /// Lines that fell off the top of a full ring since the last `clear()`.
    int64_t totalLinesTrimmed() const { return linesTop_; }
    bool hasAnyImages() const { return linesWithImagesCount_ > 0; }
    int linesWithImagesCount() const { return linesWithImagesCount_; }

    /// True at each column that is a tab stop; `cols()` entries.
    const std::vector<bool>& tabStops() const { return tabStops_; }

    /// The horizontal scroll of the view and the first column of the buffer: always 0 (lines are
    /// never wider than the screen), kept for hosts that read them.
    int xDisp() const { return 0; }
    int xBase() const { return 0; }
    /// Counts lines dropped from the top of the full ring; the terminal's scrolling adds 1 each
    /// time it recycles the oldest line.
    int64_t linesTop() const { return linesTop_; }
    /// Counts `count` more lines dropped from the top of the ring.
    void addLinesTrimmed(int64_t count) { linesTop_ += count; }
    /// Starts counting again from 0, when the scrollback is erased.
    void resetLinesTrimmed() { linesTop_ = 0; }

    /// The cursor state saved by DECSC and restored by DECRC.
    const SavedCursor& savedCursor() const { return saved_; }
    /// Replaces the saved cursor (DECSC; the terminal keeping the saved row on its line).
    void setSavedCursor(const SavedCursor& saved) { saved_ = saved; }

    // The terminal's modes the print paths read (see `BufferModeMirror`). Inside a terminal only
    // its mode set writes them, so they always equal the terminal's own values.
    bool insertMode() const { return modeMirror_.insertMode; }
    bool characterProtection() const { return modeMirror_.characterProtection; }
    bool marginMode() const { return modeMirror_.marginMode; }
    bool wraparound() const { return modeMirror_.wraparound; }
    /// `insertMode() || characterProtection()`: the bulk print paths step aside while either is on.
    bool bulkInsertBlocked() const { return bulkInsertBlocked_; }
    const BufferModeMirror& modeMirror() const { return modeMirror_; }
    void setModeMirror(const BufferModeMirror& mirror)
    {
        modeMirror_ = mirror;
        bulkInsertBlocked_ = mirror.insertMode || mirror.characterProtection;
    }

private:
    // Declared here rather than with the other private state: beside the prompt state the print
    // paths stamp into every cell, where the fields they replace were, which the cell-by-cell
    // print benchmark showed to matter.
    BufferModeMirror modeMirror_;
    bool bulkInsertBlocked_ = false;

    // Shell-integration state (OSC 133), beside the mode mirror for the same reason: the print
    // paths stamp its content code into every cell.
    SemanticPromptState semanticPrompt_;

public:
    /// The shell-integration (OSC 133) state; the terminal changes it through its own buffer.
    const SemanticPromptState& semanticPrompt() const { return semanticPrompt_; }
    SemanticPromptState& semanticPrompt() { return semanticPrompt_; }

    /// The bidi state every new blank line gets; inside a terminal, the terminal's current state.
    const BidiPresentationState& defaultBidiState() const { return defaultBidiState_; }
    void setDefaultBidiState(const BidiPresentationState& state) { defaultBidiState_ = state; }

    /// Makes `terminal` the one the print paths ask to scroll (null: none). The terminal that
    /// owns the buffer sets itself after building it, and clears itself before letting it go.
    void setTerminal(BufferTerminal* terminal) { terminal_ = terminal; }

private:
    BidiPresentationState defaultBidiState_;
    /// Not owned.
    BufferTerminal* terminal_ = nullptr;

public:
    // --- Lines and cells ---------------------------------------------------------------------

    /// The ring length for a screen of `rows`: rows plus the scrollback limit (capped at
    /// `maximumBufferLength`) with scrollback, else rows.
    int getCorrectBufferLength(int rows) const;

    /// A space (code 32, width 1) with `attribute`, or the default attribute.
    CharData getNullCell(const std::optional<Attribute>& attribute = std::nullopt) const;
    /// The cell an erase with `attribute` leaves: an inline blank for a plain palette or
    /// true-colour background, otherwise scalar 0 with the interned attribute (id 0 when the
    /// arena is full).
    PackedCell getPackedBlankCell(const Attribute& attribute);
    /// A new line of `cols()` cells of `packedBlank`, used length 0, owned by this buffer.
    std::shared_ptr<BufferLine> getBlankLine(PackedCell packedBlank, bool isWrapped);
    std::shared_ptr<BufferLine> getBlankLine(PackedCell packedBlank, bool isWrapped,
                                             const BidiPresentationState& bidiState);
    std::shared_ptr<BufferLine> getBlankLine(const Attribute& attribute, bool isWrapped);

    /// The cell at a column of a screen row counted from `yDisp()`; `CharData::Null()` for a
    /// column outside the line.
    CharData getCharAt(Position position) const;
    /// The same with the row taken as an absolute row.
    CharData getCharAtBufferRelative(Position position) const;

    // --- State changes -----------------------------------------------------------------------

    /// Empties the ring and resets the cursor, viewport, region, margins and prompt state; tab
    /// stops, the saved cursor and the mode mirrors are kept. The caller refills the viewport.
    void clear();
    /// DECSTR's part in the buffer: the saved cursor state and the margins.
    void softReset();
    /// Pushes `rows()` blank lines, only when the ring is empty.
    void fillViewportRows(const std::optional<Attribute>& attribute = std::nullopt);
    /// Drops every line above the screen.
    void clearScrollback();
    /// Changes the scrollback limit (absent: none, which also turns reflow off), dropping the
    /// oldest lines when the ring shrinks below its content.
    void changeHistorySize(std::optional<int> newSize);

    // --- Resize (BufferResize.cpp) -----------------------------------------------------------

    /// Resizes to `newCols` x `newRows` (both at least 1), keeping the cursor line in place; a
    /// buffer with scrollback also reflows its wrapped lines.
    void resize(int newCols, int newRows);

    // --- Column switches with the scrollback's reflow deferred (BufferColumnSwitch.cpp) -------

    /// Whether a switch to `newCols` columns that blanks the screen may leave the scrollback's
    /// reflow for later: the buffer keeps scrollback, the view follows the screen, the screen
    /// rows are not touched by a reflow (none is wrapped, none holds text past `newCols`), so the
    /// scrollback comes out of it as if reflowed on its own.
    bool canDeferScrollbackReflow(int newCols) const;
    /// Changes the width of the screen rows, the cursor column, margins, region and tab stop
    /// array as `resize` does, and leaves the scrollback rows at the width they were laid out at
    /// until `reflowPendingScrollback`. Only for a screen `canDeferScrollbackReflow` accepted and
    /// that the caller blanks right after. Until the reflow the scrollback is touched only by
    /// full-screen scrolls that call the two members below.
    void resizeScreenDeferringScrollback(int newCols);
    /// Whether a switch to `newCols` columns may leave the scrollback's reflow for later, the
    /// screen blanked or kept: as `canDeferScrollbackReflow`, or with screen rows that take part
    /// in the reflow, resized for real with the wrapped groups above them that a resize could
    /// bring back onto the screen, as long as those are few.
    bool canDeferColumnSwitch(int newCols) const
    {
        return canDeferScrollbackReflow(newCols) || canDeferScrollbackReflowWithScreen(newCols);
    }
    /// Makes such a switch: the screen and the cursor, saved cursor, margins and region come out
    /// as from `resize` with the same row count, and the scrollback waits for
    /// `reflowPendingScrollback`. Only for a buffer `canDeferColumnSwitch` accepted.
    void resizeDeferringScrollback(int newCols)
    {
        // The same width reflows nothing, whatever the screen holds.
        if (newCols == cols_ || canDeferScrollbackReflow(newCols))
            resizeScreenDeferringScrollback(newCols);
        else
            resizeScreenAndItsGroupsDeferringScrollback(newCols);
    }
    /// Whether scrollback rows still wait for `reflowPendingScrollback`.
    bool hasPendingScrollbackReflow() const { return deferred_ != nullptr; }
    /// Called before a scroll moves the top screen row into the scrollback while a reflow is
    /// deferred: makes room in the ring, so that the scroll pushes a line and drops none.
    void prepareScrollWithPendingReflow();
    /// Called after such a scroll: drops the rows a buffer reflowed at every switch would have
    /// dropped off its full ring, and keeps the view on the screen. Returns whether the scroll
    /// dropped the oldest row, as such a buffer's full ring would.
    bool finishScrollWithPendingReflow();
    /// Reflows the scrollback rows to the screen's width, as the switches since the first
    /// deferred one would have done one after the other, and keeps the screen as it is.
    void reflowPendingScrollback();

    // --- Tab stops ---------------------------------------------------------------------------

    /// Lays stops every `tabStopWidth` columns: from column 0 with `index` -1, else (after a
    /// resize, `index` the old column count) from the last stop at or before it. A width of 0
    /// stops the program; a negative width sets none.
    void setupTabStops(int index, int tabStopWidth);
    /// The nearest stop left of `index` (-1: the cursor column), or 0.
    int previousTabStop(int index = -1) const;
    /// The next stop right of `index` (-1: the cursor column), or the right margin (with
    /// `marginMode`) or last column when there is none.
    int nextTabStop(bool marginMode, int index = -1) const;
    /// Sets or clears the stop at `pos`; a position past the end is ignored.
    void tabSet(int pos);
    void tabClear(int pos);

    // --- Prompt marks and images (BufferPromptMarks.cpp) -------------------------------------

    /// Opens a new prompt group at an absolute row: a fresh group id (never 0), and that row's
    /// line becomes the start line. A row outside the ring changes nothing.
    void beginSemanticPromptGroup(int originRow);
    /// Stores a mark of the active group at a row, the column clamped into the line.
    void setSemanticMark(SemanticPromptKind kind, int row, int column);
    /// The row of the start line, found through the cached row, a search from it, or a rebind
    /// to a row holding an opening mark of the active group; absent when none is left. A rebind
    /// makes that row's line the start line, and finding none forgets the start line.
    std::optional<int> semanticPromptStartRow();
    /// The row `semanticPromptStartRow` would answer now, for readers: it neither re-binds nor
    /// forgets the start line.
    std::optional<int> findSemanticPromptStartRow() const;
    /// Whether a prompt starting at `row` may join the active group instead of opening one.
    bool canReuseSemanticGroup(int atRow);
    /// The marks of a row as positions, in the line's order.
    std::vector<SemanticPromptAnchor> semanticPromptMarks(int at) const;
    /// Where the active prompt starts: its start row and the column of its opening mark.
    std::optional<Position> activeSemanticPromptOrigin() const;
    /// `initial` for a row that opens a prompt, `continuation` for a row that continues one
    /// (by its marks, or by soft wraps and hard-continuation groups up to a prompt row).
    std::optional<SemanticPromptKind> semanticRowKind(int at) const;
    /// Whether a row belongs to the active group through its hard-continuation group or a
    /// joining mark.
    bool rowContinuesActiveGroupHard(int row) const;
    /// Drops the prompt and input content codes from a line's cells; output stays tagged.
    void clearStaleSemanticCells(BufferLine& line);
    /// The first row, searching outwards from `near`, whose line satisfies `where`.
    std::optional<int> findRow(int near, const std::function<bool(const BufferLine&)>& where) const;

    /// Anchors an image on the line at an absolute row.
    void attachImage(std::shared_ptr<TerminalImage> image, int row);
    /// Removes every image from the line at an absolute row.
    void clearImagesFromLine(int row);
    /// Recounts the lines that carry images (after lines were moved wholesale).
    void recalculateLinesWithImagesCount();

    // --- Print fast paths (BufferPrint.cpp) ---------------------------------------------------

    /// Writes printable ASCII bytes as single-width cells at the cursor, wrapping and scrolling
    /// as needed; returns how many were written (0 while insert mode or protection is on).
    size_t insertAsciiRun(std::span<const uint8_t> bytes, uint16_t styleID, uint16_t payloadCode);
    /// The common case of `insertAsciiRun`, inline (BufferAsciiRun.h): writes the run when it fits
    /// on the cursor's row from the cursor on, with no wrap pending, no images on the row and no
    /// wide character cut at either end, and answers whether it did; otherwise changes nothing.
    inline bool placeAsciiRunOnCursorRow(std::span<const uint8_t> bytes, uint16_t styleID,
                                         uint16_t payloadCode);
    /// Whether `storeAsciiField` may take fields at all: no insert mode, no protection and no
    /// left and right margins, none of which a field changes.
    bool asciiFieldsMayBeStored() const { return !bulkInsertBlocked_ && !modeMirror_.marginMode; }
    /// The cells of a field a full-screen program draws (BufferAsciiRun.h): the run written at
    /// screen column `col` of screen row `row` (both on the screen) as cells `cellTemplate` (see
    /// `asciiCellTemplate`) and, with `erase`, the line erased from the run's end with
    /// `eraseFill`, as EL 0 does. The caller has found `asciiFieldsMayBeStored`; taken when the
    /// run fits on the row before its last column (before or up to it without `erase`), the row
    /// has no images and no wide character is cut at either end; answers whether it did,
    /// otherwise changes nothing. Leaves the cursor where it was (`placeCursorAfterField` moves
    /// it) and marks no row changed, so that a run of fields settles both once.
    inline bool storeAsciiField(int col, int row, std::span<const uint8_t> bytes, uint64_t cellTemplate,
                                bool erase, PackedCell eraseFill);
    /// The cursor where a field stored by `storeAsciiField` on screen row `row` and ending at
    /// column `end` leaves it, as printing the run after moving there would.
    void placeCursorAfterField(int row, int end)
    {
        y_ = row;
        placeCursorAfterPrint(end, cols_ - 1);
    }
    /// The cell an ASCII run stores, its byte left out: the look, payload and semantic code.
    inline uint64_t asciiCellTemplate(uint16_t styleID, uint16_t payloadCode) const;
    /// Writes valid scalars that all have display width `width` (1 or 2; anything else stops
    /// the program); returns how many were written.
    size_t insertScalarRun(std::span<const char32_t> scalars, int width, uint16_t styleID,
                           uint16_t payloadCode);
    /// The same for cells given by their content bits (`PackedCell::kindMask` and
    /// `contentMask`): scalars, and clusters the caller interned in this buffer's arena, all
    /// `width` columns wide.
    size_t insertContentRun(std::span<const uint32_t> contents, int width, uint16_t styleID,
                            uint16_t payloadCode);
    /// Marks a width in `insertMixedRun` as that of a cell that must start where a one-column cell
    /// would: the writer stops before it rather than wrapping it to the next row.
    static constexpr uint8_t runCellStaysOnRow = 0x80;
    /// The same for cells of either width in one call: cell i has content bits `contents[i]` and
    /// is `widths[i]` columns wide (1 or 2, possibly with `runCellStaysOnRow`). Returns how many
    /// were written; the caller writes the rest one cell at a time.
    size_t insertMixedRun(std::span<const uint32_t> contents, std::span<const uint8_t> widths,
                          uint16_t styleID, uint16_t payloadCode);
    /// Writes one fully formed cell at the cursor, honouring insert mode, protection, margins
    /// and auto-wrap; a wide lead also gets its continuation cell.
    void insertCharacter(PackedCell cell);
    /// The plain case of printing one narrow character that has no grapheme properties and never
    /// joins despite its width (the caller checked `scalar`): written at the cursor when nothing
    /// before it can join it and the write needs no wrap, seam repair or image drop. Answers
    /// whether it wrote; when it did not, nothing changed and the caller takes the general way.
    /// Inline (BufferLoneCell.h): it runs once per cell of a picture.
    inline bool putPlainNarrowScalar(char32_t scalar, uint16_t styleID, uint16_t payloadCode);
    /// The cursor line as a run of such writes on it sees it: what stays the same from one write
    /// to the next as long as nothing else changes the buffer.
    struct LoneCellRow
    {
        BufferLine* line = nullptr;
        PackedCell* cells = nullptr;
        int right = 0;
        int width = 0;
    };
    /// Whether a run of `putLoneCell` writes may start at the cursor, and their row.
    inline bool beginLoneCells(LoneCellRow& row);
    /// `putPlainNarrowScalar` in a run begun by `beginLoneCells` with nothing else changing the
    /// buffer since.
    inline bool putLoneCell(const LoneCellRow& row, char32_t scalar, uint16_t styleID, uint16_t payloadCode);
    /// `placeAsciiRunOnCursorRow` for a run of printable ASCII in a run of writes begun by
    /// `beginLoneCells` with nothing but such writes and their looks changing the buffer since;
    /// `cellTemplate` is the cell of the look (`asciiCellTemplate`). Inline (BufferAsciiRun.h).
    inline bool putAsciiRun(const LoneCellRow& row, std::span<const uint8_t> bytes, uint64_t cellTemplate);

    // --- LineRingOwner and PromptOriginProvider ----------------------------------------------

    std::shared_ptr<BufferLine> makeBlankLine(PackedCell packedBlank, bool isWrapped) override;
    const std::shared_ptr<CellArena>& arena() const override { return cellArena_; }
    const std::shared_ptr<BufferRef>& bufferRef() const override { return selfRef_; }
    void adjustLinesWithImagesCount(int delta) override { linesWithImagesCount_ += delta; }
    bool isActivePromptOrigin(const BufferLine& line, SemanticPromptKind kind, int column) const override;
    void promptStartLineMoved(BufferLine& to) override;

private:
    /// What the start-row lookup found: the start line's row, a row to re-bind to, or nothing
    /// (the start line is then to be forgotten).
    struct SemanticPromptStartLookup
    {
        enum class Outcome : uint8_t
        {
            found,
            rebind,
            forget,
        };
        std::optional<int> row;
        Outcome outcome = Outcome::forget;
    };
    /// The start-row lookup without its consequences; `semanticPromptStartRow` applies them.
    SemanticPromptStartLookup lookUpSemanticPromptStart() const;

    bool isRowInRing(int row) const { return row >= 0 && row < lines_.count(); }

    // Reflow of wrapped lines during `resize` (BufferReflow.cpp): joins them when the width
    // grows, splits them when it shrinks. Called before `cols()` takes the new width.
    void reflowWider(int oldCols, int newCols, int newRows);
    void reflowNarrower(int oldCols, int newCols, int newRows);
    void dropOldestLines(int count);
    // Deferred reflow (BufferColumnSwitch.cpp): the scrollback's part of a deferred switch; an
    // epoch of the rows from `firstRow`; the rows an epoch starting at `firstRow` would have at
    // `width` (counted once per width); lines reflowed alone through an epoch's widths; rows
    // replaced by others; the rows a full ring drops; room in the ring for `extra` rows.
    struct DeferredEpoch;
    /// Everything `canDeferScrollbackReflow` asks but of the screen rows.
    bool canDeferAnyReflow(int newCols) const;
    /// The rows scrolled in since the last switch up to `scrollbackEnd` join the epochs, which
    /// take a switch to `newCols`.
    void deferScrollbackReflow(int newCols, int scrollbackEnd);
    /// The rows the epochs hold in the ring and would hold at the buffer's width, then the rows
    /// a full ring drops.
    void countDeferredRows();
    /// The lines an epoch's last `rows` rows from ring row `firstRow` (all of them, a cut
    /// group's rest included, when it is the epoch's first row) become at the buffer's width.
    std::vector<std::shared_ptr<BufferLine>> settledEpochLines(const DeferredEpoch& epoch, int firstRow,
                                                               int rows);
    // A switch whose screen takes part in the reflow (BufferDeferredScreen.cpp): the first row
    // resized for real, and the whole epochs and the groups of the epoch above them that are
    // taken for it, or not feasible when that is too many rows.
    struct ScreenReflowPlan
    {
        bool feasible = false;
        int start = 0;
        int epochsTaken = 0;
        int groupsTakenFromLast = 0;
    };
    ScreenReflowPlan planScreenReflow() const;
    bool canDeferScrollbackReflowWithScreen(int newCols) const;
    void takeGroupsFromEpochs(const ScreenReflowPlan& plan);
    void resizeScreenAndItsGroupsDeferringScrollback(int newCols);
    DeferredEpoch makeDeferredEpoch(int firstRow, int count, int laidOut);
    int deferredEpochRows(DeferredEpoch& epoch, int firstRow, int width);
    std::vector<std::shared_ptr<BufferLine>> reflowLinesAlone(std::vector<std::shared_ptr<BufferLine>> lines,
                                                              const DeferredEpoch& epoch, int width);
    void replaceRows(int first, int count, const std::vector<std::shared_ptr<BufferLine>>& lines);
    void dropRowsOffFullRing();
    void ensureRingRoom(int extra);
    // The rest of a wrapped group cut by the ring while its reflow waits (BufferDeferredCut.cpp):
    // cuts `rows` rows at the buffer's width off the top of the epoch's first group, which
    // starts the ring (false: the group cannot be kept so, and nothing changed); the rows the
    // rest takes at `width`; the rest laid out at the buffer's width.
    bool cutDeferredGroup(DeferredEpoch& epoch, int rows);
    static int cutGroupRows(DeferredEpoch& epoch, int width);
    std::vector<std::shared_ptr<BufferLine>> layOutCutGroup(const DeferredEpoch& epoch);
    /// The rows a wrapped group (lines laid out at `laidOut` columns, the last one's trimmed
    /// length `lastTrimmed`) takes once reflowed to `width`, and whether that count depends on
    /// the width alone whatever widths the group went through before (BufferReflow.cpp).
    static int reflowedRowCount(std::span<const std::shared_ptr<BufferLine>> group, int laidOut, int width,
                                int lastTrimmed);
    static bool keepsTextThroughReflow(int rows, int lastTrimmed);
    /// The cells line `index` of a wrapped group laid out at `cols` adds to the group's text:
    /// the last line's trimmed length, a full line otherwise, less the gap a wide character
    /// that moved on to the next line left (BufferReflow.cpp).
    static int wrappedLineLength(std::span<const std::shared_ptr<BufferLine>> group, size_t index, int cols);
    void fitCursorColumn(int newCols);
    void dropImages(BufferLine& line);

    // The print paths' shared steps. With the left and right margins on, text printed inside
    // them stops at the right margin; a cursor placed right of it prints on to the screen's edge.
    int printRightLimit() const
    {
        const int margin = modeMirror_.marginMode ? marginRight_ : cols_ - 1;
        return x_ > margin ? cols_ - 1 : margin;
    }
    /// The right limit once a print has wrapped to the left edge, inside the margins.
    int wrappedRightLimit() const { return modeMirror_.marginMode ? marginRight_ : cols_ - 1; }
    void placeCursorAfterPrint(int end, int right)
    {
        wrapPending_ = end > right;
        x_ = wrapPending_ ? right : end;
    }
    int printLeftEdge() const { return modeMirror_.marginMode ? marginLeft_ : 0; }
    BufferLine& cursorLine() { return *lines_[yBase_ + y_]; }
    void wrapForPrint(bool wide);
    /// The run writer behind `insertScalarRun` and `insertContentRun`: value i becomes the
    /// content bits `contents[i] << shift` of its cell.
    template <typename Content>
    size_t insertRun(std::span<const Content> contents, int shift, int width, uint16_t styleID,
                     uint16_t payloadCode);
    static void repairRunSeams(BufferLine& line, int start, int end);
    /// `insertAsciiRun` for every case but a run that fits on the cursor line in one segment.
    [[gnu::noinline]] size_t insertAsciiSegments(std::span<const uint8_t> bytes, uint64_t cellTemplate);

    CircularBufferLineList lines_;
    SavedCursor saved_;
    int64_t linesTop_ = 0;
    std::shared_ptr<CellArena> cellArena_;
    std::shared_ptr<BufferRef> selfRef_;
    int yDisp_ = 0;
    int x_ = 0;
    int y_ = 0;
    int yBase_ = 0;
    int linesWithImagesCount_ = 0;
    int scrollBottom_ = 0;
    int scrollTop_ = 0;
    std::vector<bool> tabStops_;
    int marginLeft_ = 0;
    int marginRight_ = 0;
    bool hasScrollback_ = false;
    // Beside the flag above, in what would be padding: the fields before it keep the places
    // the print benchmarks were tuned with.
    bool wrapPending_ = false;
    int cols_ = 0;
    int rows_ = 0;
    std::optional<int> scrollback_;
    /// The scrollback's layout while its reflow is deferred (BufferColumnSwitch.cpp); null when
    /// no reflow is deferred.
    struct DeferredScrollback;
    std::unique_ptr<DeferredScrollback> deferred_;
    /// The rows the deferred reflow will add above the screen (negative: remove).
    int deferredRowShift_ = 0;
};

} // namespace kestrovan
