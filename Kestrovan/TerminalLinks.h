// Link detection under a cell, for hover highlighting, command-click opening and the per-frame
// link underline, and the payload readers it shares with hosts.
//
// These only read a terminal's width, its OSC 8 option and a buffer, so they are free functions
// beside the terminal rather than members of it. Rows are absolute rows of the given buffer; the
// width of a row is the smaller of its cell count and the terminal's `cols()`. Everything reads the
// buffer under the terminal lock the caller holds. TerminalLinks.cpp explains the search and the
// bounds that keep every lookup short.
#pragma once

#include "Kestrovan/LinkMatch.h"
#include "Kestrovan/PackedCell.h"
#include "Kestrovan/Position.h"
#include "Kestrovan/Terminal.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace platform {
class Regex;
} // namespace platform

namespace kestrovan {

class Buffer;

/// The link target under a cell of the active buffer: the OSC 8 URI when the cell carries one, else
/// (in `explicitAndImplicit`) the URL or path the implicit-link rule finds around it. Never empty.
std::optional<std::string> link(const Terminal& terminal, const LinkLookupLocation& at, LinkLookupMode mode)
    REQUIRES(terminal.terminalLock());
/// The location as a position of `buffer`, row and column clamped into it; absent when the buffer
/// has no lines.
std::optional<Position> resolveLinkLocation(const Terminal& terminal, const LinkLookupLocation& location,
                                            const Buffer& buffer) REQUIRES(terminal.terminalLock());
/// The OSC 8 link whose run of cells holds the cell; absent with the option off, and for a link
/// whose URI is empty (there is nothing to open).
std::optional<LinkMatch> explicitLinkMatch(const Terminal& terminal, Position at, const Buffer& buffer)
    REQUIRES(terminal.terminalLock());
/// The URL or path around the cell, across soft-wrapped and heuristically joined rows.
std::optional<LinkMatch> implicitLinkMatch(const Terminal& terminal, Position at, const Buffer& buffer)
    REQUIRES(terminal.terminalLock());
/// The cell's payload code, or its wide lead cell's for an empty right half; absent for 0.
std::optional<uint16_t> payloadCode(const Terminal& terminal, Position at, const Buffer& buffer)
    REQUIRES(terminal.terminalLock());
/// The logical line around the cell with the cell each character came from.
std::optional<ImplicitLineMap> buildImplicitLineMap(const Terminal& terminal, Position at,
                                                    const Buffer& buffer) REQUIRES(terminal.terminalLock());
/// The first and last rows of the hard-broken rows joined around `around`; absent when no
/// neighbour joins.
std::optional<std::pair<int64_t, int64_t>> heuristicImplicitGroup(const Terminal& terminal, int64_t around,
                                                                  const Buffer& buffer)
    REQUIRES(terminal.terminalLock());
/// Whether a hard line end between two rows most likely broke a link in two.
bool canJoinImplicitRows(const Terminal& terminal, int64_t upper, int64_t lower, const Buffer& buffer)
    REQUIRES(terminal.terminalLock());
/// The first and last characters of a row that are not white space; absent for a blank row.
std::optional<LinkRowEdgeInfo> linkRowEdgeInfo(const Terminal& terminal, int64_t row, const Buffer& buffer)
    REQUIRES(terminal.terminalLock());
/// The implicit-link rule, compiled on first use; null when it does not compile.
const platform::Regex* implicitLinkRegex();

/// The URI of an OSC 8 payload ("params;URI"): everything after the first ";". Absent when there is
/// no ";". An empty URI ("id=1;") is the empty text, not absent: such a link exists on the cells
/// but names nothing to open, so link lookup must not offer it as a target.
std::optional<std::string> parseHyperlinkPayload(std::string_view payload);
/// The payload text of a cell: the text its payload code names, when it names one.
std::optional<std::string> stringPayload(PackedCell cell);

} // namespace kestrovan
