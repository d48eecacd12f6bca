// The values of link detection under a cell: where a lookup is asked (`LinkLookupLocation`),
// which links it may report (`LinkLookupMode`), the link found (`LinkMatch`), and the working
// values the implicit search builds from the screen (`ImplicitCellRef`, `ImplicitLineMap`,
// `LinkRowEdgeInfo`). The search itself lives in TerminalLinks.cpp.
//
// Rows here are absolute rows of a buffer (0 is the oldest scrollback line) and columns are cell
// columns; text offsets inside `ImplicitLineMap` are UTF-16 code units, the unit the regular-
// expression engine reports matches in.
#pragma once

#include "Kestrovan/Position.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrovan {

/// `buffer(position)`: the row counts from the top of the scrollback; `screen(position)`: the row
/// counts from the top of the visible screen, and the buffer's display offset `yDisp` is added.
struct LinkLookupLocation
{
    enum class Case : uint8_t
    {
        buffer,
        screen,
    };

    Case kind = Case::buffer;
    Position position;

    static LinkLookupLocation buffer(Position at) { return {Case::buffer, at}; }
    static LinkLookupLocation screen(Position at) { return {Case::screen, at}; }

    friend bool operator==(const LinkLookupLocation&, const LinkLookupLocation&) = default;
};

/// Whether a lookup reports only OSC 8 links or also text that looks like a URL or a path.
enum class LinkLookupMode : uint8_t
{
    explicitOnly,
    explicitAndImplicit,
};

/// A link found under a cell.
struct LinkMatch
{
    /// A half-open range of columns of one row.
    struct ColumnRange
    {
        int start = 0;
        int end = 0;

        friend bool operator==(const ColumnRange&, const ColumnRange&) = default;
    };

    /// The columns a link covers on one row.
    struct RowRange
    {
        int64_t row = 0;
        ColumnRange range;

        friend bool operator==(const RowRange&, const RowRange&) = default;
    };

    /// The target: the OSC 8 URI, or the matched text of an implicit link. Never empty.
    std::string text;
    /// The absolute row that was asked about.
    int64_t row = 0;
    /// The link's columns on `row`.
    ColumnRange range;
    /// True for an OSC 8 link, false for one found by the implicit-link rule.
    bool isExplicit = false;
    /// Every row the link covers, ascending by row; one entry for an OSC 8 link.
    std::vector<RowRange> rowRanges;

    friend bool operator==(const LinkMatch&, const LinkMatch&) = default;
};

/// Where one character of an implicit line map's text came from.
struct ImplicitCellRef
{
    int64_t row = 0;
    int col = 0;
    /// 1, or 2 for the lead cell of a wide character.
    int width = 1;

    friend bool operator==(const ImplicitCellRef&, const ImplicitCellRef&) = default;
};

/// The logical line around an asked cell, joined across soft-wrapped rows and across hard-broken
/// rows the joining heuristic accepts, with the cell each character came from.
///
/// Only a window around the asked cell is kept (see TerminalLinks.cpp); `cutBefore` and
/// `cutAfter` say that the logical line went on past the window's start or end, so a match that
/// reaches that edge may be only part of a link.
struct ImplicitLineMap
{
    /// The joined text, in UTF-16 code units.
    std::u16string text;
    /// One entry per character of `text`, in order.
    std::vector<ImplicitCellRef> cells;
    /// The UTF-16 offset where each character starts, plus the text's length at the end, so a
    /// character's units are `characterOffsets[i]` ..< `characterOffsets[i + 1]`.
    std::vector<int32_t> characterOffsets;
    /// The asked row and column (moved onto the lead cell when a wide character's right half was
    /// asked).
    int64_t row = 0;
    int col = 0;
    bool cutBefore = false;
    bool cutAfter = false;
};

/// The first and last characters of one row that are not white space, and their columns. A
/// character is one cell's scalars: one scalar, or a grapheme cluster.
struct LinkRowEdgeInfo
{
    int firstColumn = 0;
    std::u32string firstCharacter;
    int lastColumn = 0;
    std::u32string lastCharacter;

    friend bool operator==(const LinkRowEdgeInfo&, const LinkRowEdgeInfo&) = default;
};

} // namespace kestrovan
