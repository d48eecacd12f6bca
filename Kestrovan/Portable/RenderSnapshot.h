// The portable render snapshot: a self-contained picture of a terminal screen for hosts that draw
// it themselves, and the two records its builder keeps between snapshots to make them cheap.
//
// Everything here is a plain value. A `TerminalRenderSnapshot` holds no reference into the
// terminal's buffers, so the host may read it on any thread once
// `RenderSnapshotBuilder::makeRenderSnapshot` has returned. The builder fills the records; this
// file only defines them and decodes one line into snapshot cells. `PortableRenderMetadata` turns every
// screen-wide change (size, screen, scroll position, colours, line sizes) into one "repaint everything"
// decision, and `PortableRenderCellCache` lets a row whose line has not changed reuse its decoded cells.
#pragma once

#include "Kestrovan/Attribute.h"
#include "Kestrovan/BufferLine.h"
#include "Kestrovan/Color.h"
#include "Kestrovan/CursorStyle.h"
#include "Kestrovan/SemanticContent.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrovan {

/// Which rows a snapshot delivers.
enum class RenderSnapshotScope : uint8_t
{
    /// Only the rows the terminal marked as changed.
    dirty,
    /// Every screen row.
    full,
};

/// How much of the screen a snapshot's `lines` cover.
enum class RenderSnapshotDirtyKind : uint32_t
{
    clean = 0,
    partial = 1,
    full = 2,
};

/// The kind of a raw value; none for 3 and above.
constexpr std::optional<RenderSnapshotDirtyKind> renderSnapshotDirtyKindFromRaw(uint32_t rawValue)
{
    if (rawValue > 2)
        return std::nullopt;
    return static_cast<RenderSnapshotDirtyKind>(rawValue);
}

/// How a cell relates to a wide character; the cases follow the width states 0 to 3 of a packed
/// cell.
enum class RenderSnapshotWidthState : uint8_t
{
    narrow,
    /// The left cell of a wide character, which carries its text.
    wide,
    /// The right cell of a wide character.
    spacerTail,
    /// The other continuation state; it reads like `spacerTail`.
    spacerHead,
};

/// An inclusive range of rows.
struct RenderSnapshotRange
{
    int startY = 0;
    int endY = 0;

    friend bool operator==(const RenderSnapshotRange&, const RenderSnapshotRange&) = default;
};

struct RenderSnapshotCursor
{
    /// 0 ... cols: the column just past the last one is the pending-wrap position.
    int x = 0;
    /// A screen row, 0 ... rows - 1.
    int y = 0;
    /// Hidden by the program, or its row is outside the screen.
    bool hidden = false;
    CursorStyle style = CursorStyle::blinkBlock;
    bool blink = false;

    friend bool operator==(const RenderSnapshotCursor&, const RenderSnapshotCursor&) = default;
};

struct RenderSnapshotCell
{
    /// UTF-8; empty for blank cells, scalar 0, continuation cells and unknown clusters.
    std::string text;
    /// 1 narrow, 2 wide, 0 for both continuation states.
    uint8_t width = 1;
    RenderSnapshotWidthState widthState = RenderSnapshotWidthState::narrow;
    Attribute attribute;
    /// The DECSCA protection bit.
    bool isProtected = false;
    SemanticContent semanticContent;
    /// The cell's payload (`TinyAtom`) code; none for 0.
    std::optional<uint16_t> payloadID;

    friend bool operator==(const RenderSnapshotCell&, const RenderSnapshotCell&) = default;
};

struct RenderSnapshotRow
{
    /// The screen row.
    int y = 0;
    /// The line continues the line above.
    bool isWrapped = false;
    /// The line below continues this one.
    bool wrapsToNext = false;
    BufferLine::RenderLineMode renderMode = BufferLine::RenderLineMode::single;
    /// Exactly `cols` cells: a longer line is cut, a shorter one padded with blanks.
    std::vector<RenderSnapshotCell> cells;

    friend bool operator==(const RenderSnapshotRow&, const RenderSnapshotRow&) = default;
};

struct TerminalRenderSnapshot
{
    int cols = 0;
    int rows = 0;
    bool isAlternateScreen = false;
    RenderSnapshotDirtyKind dirtyKind = RenderSnapshotDirtyKind::clean;
    /// The first and last screen row delivered in `lines`; none when `clean`.
    std::optional<RenderSnapshotRange> dirtyRange;
    /// The terminal's changed rows in absolute line indexes (display offset + screen row at the
    /// time of each change); none when it has none.
    std::optional<RenderSnapshotRange> scrollDirtyRange;
    Color foregroundColor{0, 0, 0};
    Color backgroundColor{0, 0, 0};
    /// The cursor colour the program set; none for the default.
    std::optional<Color> cursorColor;
    /// The 256-colour palette.
    std::vector<Color> palette;
    /// DECSCNM.
    bool reverseVideo = false;
    bool synchronizedOutputActive = false;
    RenderSnapshotCursor cursor;
    /// The delivered rows, top to bottom, one per row of `dirtyRange`.
    std::vector<RenderSnapshotRow> lines;

    friend bool operator==(const TerminalRenderSnapshot&, const TerminalRenderSnapshot&) = default;
};

/// The screen-wide state of the last snapshot; any difference repaints the whole screen.
struct PortableRenderMetadata
{
    int cols = 0;
    int rows = 0;
    bool alternate = false;
    int yDisp = 0;
    int64_t linesTop = 0;
    Color foreground{0, 0, 0};
    Color background{0, 0, 0};
    std::optional<Color> cursorColor;
    std::vector<Color> palette;
    bool reverse = false;
    /// The line size of each screen row, `single` for rows with no line.
    std::vector<BufferLine::RenderLineMode> modes;

    friend bool operator==(const PortableRenderMetadata&, const PortableRenderMetadata&) = default;
};

/// The decoded cells of one screen row and the line state they were decoded from.
struct PortableRenderCellCache
{
    /// Held strongly, so that a new line can never be mistaken for the cached one.
    std::shared_ptr<const BufferLine::RenderIdentity> identity;
    uint64_t generation = 0;
    std::vector<RenderSnapshotCell> cells;

    /// Whether the cells still stand for `line` at `cols` columns.
    bool matches(const BufferLine& line, int cols) const
    {
        return identity == line.renderIdentity() && generation == line.generation() &&
               cells.size() == static_cast<size_t>(cols);
    }

    friend bool operator==(const PortableRenderCellCache&, const PortableRenderCellCache&) = default;
};

/// The snapshot cell of a packed cell, decoded against the arena it was packed with.
RenderSnapshotCell decodeRenderSnapshotCell(PackedCell cell, const CellArena& arena);
/// The cell that pads a row past its line's end or stands in for a missing line.
RenderSnapshotCell blankRenderSnapshotCell();
/// `cols` cells of `line`, padded with blanks; all blanks without a line.
std::vector<RenderSnapshotCell> decodeRenderSnapshotCells(const BufferLine* line, int cols);

} // namespace kestrovan
