#include "Kestrovan/Portable/RenderSnapshot.h"

#include <algorithm>

namespace kestrovan {

namespace {

constexpr RenderSnapshotWidthState widthStateOf(PackedCell cell)
{
    switch (cell.widthStateCode()) {
    case 1:
        return RenderSnapshotWidthState::wide;
    case 2:
        return RenderSnapshotWidthState::spacerTail;
    case 3:
        return RenderSnapshotWidthState::spacerHead;
    default:
        return RenderSnapshotWidthState::narrow;
    }
}

/// The text a host draws for a cell: nothing for blanks, scalar 0, continuation cells and
/// clusters the arena does not know, so that a host never draws a NUL or a stray space.
std::string textOf(PackedCell cell, const CellArena& arena)
{
    if (cell.isContinuation())
        return std::string();
    switch (cell.kind()) {
    case PackedCell::Kind::scalar:
        return cell.scalar() == 0 ? std::string() : arena.text(cell);
    case PackedCell::Kind::grapheme: {
        const std::u32string* scalars = arena.grapheme(cell.content());
        return scalars && !scalars->empty() ? arena.text(cell) : std::string();
    }
    case PackedCell::Kind::paletteBlank:
    case PackedCell::Kind::trueColorBlank:
        break;
    }
    return std::string();
}

} // namespace

RenderSnapshotCell decodeRenderSnapshotCell(PackedCell cell, const CellArena& arena)
{
    RenderSnapshotCell out;
    out.text = textOf(cell, arena);
    out.width = static_cast<uint8_t>(cell.width());
    out.widthState = widthStateOf(cell);
    // Inline blanks carry their background in the cell itself; the arena rebuilds it.
    out.attribute = arena.attribute(cell);
    out.isProtected = cell.isProtected();
    out.semanticContent = SemanticContent::fromCode(cell.semanticCode());
    if (const uint16_t code = cell.payloadCode(); code != 0)
        out.payloadID = code;
    return out;
}

RenderSnapshotCell blankRenderSnapshotCell()
{
    // The default-constructed cell is the blank: no text, narrow, the attribute of id 0.
    return RenderSnapshotCell();
}

std::vector<RenderSnapshotCell> decodeRenderSnapshotCells(const BufferLine* line, int cols)
{
    const int width = std::max(cols, 0);
    std::vector<RenderSnapshotCell> cells;
    cells.reserve(static_cast<size_t>(width));
    const int stored = line ? std::min(line->count(), width) : 0;
    if (stored > 0) {
        const CellArena& arena = *line->arena();
        const PackedCell* packed = line->cells();
        for (int col = 0; col < stored; ++col)
            cells.push_back(decodeRenderSnapshotCell(packed[col], arena));
    }
    cells.resize(static_cast<size_t>(width), blankRenderSnapshotCell());
    return cells;
}

} // namespace kestrovan
