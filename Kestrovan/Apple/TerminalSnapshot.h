// The per-frame copy of what a terminal view shows, from which the renderers draw without the
// terminal lock.
//
// Once a frame, with the terminal lock held, `refresh` copies the visible rows of the active
// buffer into rows of its own, with the cursor, the selection and link-highlight style, each row's
// inline images, the kitty placements, the palette and the frame's resolved render context. Three
// decisions keep that cheap: a row is re-copied only when its source line's render identity or
// generation changed (an unchanged row costs a few comparisons and no allocation); copied cells are
// encoded against the snapshot's own copy of the buffer's arena, brought up to date by appending
// what the live arena gained; and bidi typesetting can be left pending and finished after the lock
// is released (`completePendingBidi`).
//
// The snapshot has no lock of its own: it belongs to one render session, whose owner lets one
// thread at a time refresh, complete or draw it.
#pragma once

#include "Kestrovan/Apple/FrameValues.h"
#include "Kestrovan/Apple/SnapshotKitty.h"
#include "Kestrovan/Apple/SnapshotRenderContext.h"
#include "Kestrovan/Apple/SnapshotStyle.h"
#include "Kestrovan/Apple/SnapshotTextAttributes.h"
#include "Kestrovan/Apple/TerminalBidi.h"
#include "Kestrovan/Apple/TerminalSnapshotRow.h"
#include "Kestrovan/BufferLine.h"
#include "Kestrovan/Character.h"
#include "Kestrovan/Color.h"
#include "Kestrovan/CursorStyle.h"
#include "Kestrovan/Terminal.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace kestrovan {

class Terminal;

/// What the caret needs to draw the character under a block cursor.
struct CaretRenderData
{
    /// The cell's scalar (a cluster's first), 0 for blanks.
    uint32_t code = 0;
    /// 1 narrow, 2 the lead of a wide character, 0 a continuation.
    uint8_t width = 1;
    Attribute cellAttribute;
    /// The character under the cursor; a space when there is none or the cell is concealed.
    Character character{U' '};
    SnapshotTextAttributes attributes;
    platform::NativeColor cursorColor;
    platform::NativeColor textColor;
    bool textBlinkVisible = true;
    bool customBlockGlyphs = true;
    platform::FontRef normalFont;
};

struct SnapshotCursor
{
    int64_t absoluteRow = 0;
    /// `absoluteRow` minus the display offset; outside the screen while scrolled back.
    int64_t screenRow = 0;
    int logicalCol = 0;
    /// The column after bidi reordering.
    int visualCol = 0;
    /// 2 on the lead of a wide character, else 1.
    int columnWidth = 1;
    BufferLine::RenderLineMode renderMode = BufferLine::RenderLineMode::single;
    bool hidden = false;
    CaretRenderData renderData;
};

class TerminalSnapshot
{
public:
    using Row = TerminalSnapshotRow;

    enum class RefreshResult : uint8_t
    {
        refreshed,
        /// The terminal is inside a synchronized-output block; nothing was touched.
        skippedForSynchronizedOutput,
    };

    /// A changed range of screen rows.
    struct ChangedRange
    {
        int start = 0;
        int end = 0;
        friend bool operator==(ChangedRange, ChangedRange) = default;
    };

    /// Work counters since the snapshot was made, for tests, benchmarks and diagnostics.
    struct Counters
    {
        uint64_t refreshes = 0;
        uint64_t skippedForSynchronizedOutput = 0;
        uint64_t rowsCopied = 0;
        uint64_t rowsLaidOut = 0;
        uint64_t arenaRebuilds = 0;
    };

    TerminalSnapshot() = default;
    TerminalSnapshot(const TerminalSnapshot&) = delete;
    TerminalSnapshot& operator=(const TerminalSnapshot&) = delete;

    /// Brings the snapshot up to date with the terminal; the calling thread must hold the
    /// terminal's lock (else the program stops). With `deferBidiTypesetting`, paragraphs that need
    /// typesetting are left for `completePendingBidi`.
    RefreshResult refresh(Terminal& terminal, const FrameViewState& viewState,
                          const SnapshotSelectionState& selection, bool deferBidiTypesetting);
    /// Typesets the pending bidi paragraphs and stores their layouts in the rows; runs without the
    /// terminal lock.
    void completePendingBidi();
    /// The appearance's colours and the snapshot's palette as platform colours, reused while
    /// neither changed.
    SnapshotNativeColors nativeColors(const FrameAppearance& appearance);
    /// The row showing an absolute line, or null when it is not visible.
    const Row* row(int64_t absoluteRow) const;

    const Counters& counters() const { return counters_; }

    /// The visible rows, top first.
    std::vector<std::shared_ptr<Row>> rows;
    int64_t firstRow = 0;
    int yDisp = 0;
    int yBase = 0;
    int x = 0;
    int y = 0;
    int cols = 0;
    int rowCount = 0;
    int linesCount = 0;
    int64_t linesTop = 0;
    int64_t totalLinesTrimmed = 0;
    bool hasAnyImages = false;
    bool isAltBuffer = false;
    bool cursorHidden = false;
    CursorStyle cursorStyle = CursorStyle::blinkBlock;
    int maximumBidiParagraphRows = 1;
    std::optional<SnapshotCursor> cursor;
    SnapshotStyle style;
    SnapshotKitty kitty;
    std::vector<Color> ansiColors;
    /// The view region to redraw and the changed rows, set by frame preparation after a refresh.
    std::optional<platform::Rect> cgRegion;
    std::optional<ChangedRange> rangeChanged;
    /// The style or the palette differs from the previous refresh.
    bool appearanceChanged = false;
    std::optional<SnapshotRenderContext> renderContext;

private:
    struct PendingBidi
    {
        size_t rowIndex = 0;
        int64_t absoluteRow = 0;
        std::shared_ptr<TerminalBidi::DeferredParagraph> deferred;
    };
    struct NativeColorCache
    {
        FrameAppearance appearance;
        std::vector<Color> ansiColors;
        SnapshotNativeColors nativeColors;
    };

    void synchronizeArena(const CellArena& source);
    std::optional<std::vector<LinkMatch::RowRange>> settleLinkHighlight(Terminal& terminal,
                                                                        const FrameViewState& viewState)
        REQUIRES(terminal.terminalLock());
    void sizeRows(const Buffer& buffer);
    void refreshRow(size_t index, Terminal& terminal, const Buffer& buffer, const FrameViewState& viewState,
                    bool bidiSettingsChanged);
    void buildCursor(Terminal& terminal, const Buffer& buffer, const FrameViewState& viewState);
    /// The visual column of a logical one in the row of the cursor's line.
    int visualColumn(int64_t absoluteRow, int logicalCol) const;

    std::vector<std::shared_ptr<Row>> rowPool_;
    std::vector<PendingBidi> pendingBidi_;
    std::shared_ptr<CellArena> cellArenaSnapshot_;
    std::optional<NativeColorCache> nativeColorCache_;
    std::optional<SnapshotStyle> previousStyle_;
    std::vector<Color> previousAnsiColors_;
    std::optional<BidiHostPolicy> previousBidiHostPolicy_;
    std::optional<uint64_t> previousBidiFont_;
    Counters counters_;
};

} // namespace kestrovan
