// How the text builder's two row paths read a packed cell: the key its attribute is cached by,
// the attribute itself, and whether it shows as a link. Shared by the attributed walk and the
// plain path, and inline because both call it for every column.
#pragma once

#include "Kestrovan/Apple/SnapshotRenderContext.h"
#include "Kestrovan/CellArena.h"
#include "Kestrovan/Fatal.h"
#include "Kestrovan/PackedCell.h"

namespace kestrovan::detail {

/// The attribute key of a packed cell: the attribute id for cells with one, else the inline
/// blank's colour field tagged by kind.
inline PackedAttributeKey attributeKey(PackedCell cell)
{
    switch (cell.kind()) {
    case PackedCell::Kind::paletteBlank:
        return PackedAttributeKey{0x1000000u | cell.content()};
    case PackedCell::Kind::trueColorBlank:
        return PackedAttributeKey{0x2000000u | cell.content()};
    case PackedCell::Kind::scalar:
    case PackedCell::Kind::grapheme:
        break;
    }
    return PackedAttributeKey{cell.attributeID()};
}

/// The attribute a packed cell stands for; a palette blank whose field is no palette index is a
/// cell no arena makes.
inline Attribute decodeAttribute(PackedCell cell, const CellArena& arena)
{
    if (cell.kind() == PackedCell::Kind::paletteBlank && cell.content() > 0xFF)
        fatal("SnapshotTextBuilder: a palette blank cell holds no palette index");
    return arena.attribute(cell);
}

/// Whether the cell spanning `column` ..< `column + width` carries the link the context asks to
/// show.
inline bool linkState(const SnapshotRenderContext& context, PackedCell cell, int64_t absoluteRow, int column,
                      int width)
{
    switch (context.linkHighlightMode) {
    case LinkHighlightMode::hoverWithModifier:
        if (!context.commandActive)
            return false;
        [[fallthrough]];
    case LinkHighlightMode::hover: {
        if (!context.linkHighlightRange)
            return false;
        for (const LinkMatch::RowRange& range : *context.linkHighlightRange) {
            if (range.row != absoluteRow)
                continue;
            // The first entry of the row decides.
            return range.range.start < range.range.end && range.range.start < column + width &&
                   column < range.range.end;
        }
        return false;
    }
    case LinkHighlightMode::alwaysWithModifier:
        if (!context.commandActive)
            return false;
        [[fallthrough]];
    case LinkHighlightMode::always:
        return context.enableOsc8Hyperlinks && cell.payloadCode() != 0;
    }
    return false;
}

} // namespace kestrovan::detail
