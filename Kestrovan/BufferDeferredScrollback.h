// The layout of a scrollback whose reflow column switches deferred (BufferColumnSwitch.cpp):
// the scrollback rows, top to bottom, in epochs, each laid out at the width its rows had when it
// began, then the rows scrolled in since the last switch, at the buffer's width; and what is
// left of a wrapped line the ring cut into (BufferDeferredCut.cpp).
#pragma once

#include "Kestrovan/Buffer.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace kestrovan {

/// The leads of the two-column characters in a cut group's text (see `Buffer::DeferredEpoch::
/// CutGroup`), as the rows of that text at one width meet them: a row ends on a lead only if it
/// starts `width - 1` cells before it, so the leads are grouped by their position modulo the
/// width. Each class is in order, `classStart` indexes the classes, and `rowsFrom` holds the rows
/// the text takes from a row that starts at each lead.
struct CutGroupLeads
{
    int width = 0;
    std::vector<uint32_t> classStart;
    std::vector<int64_t> leads;
    std::vector<int32_t> rowsFrom;
};

/// Scrollback rows that wait, together, for their reflow: the scrollback when the run of switches
/// began, the rows scrolled in between two switches, or what is left of a wrapped line part of
/// which fell off the ring. Its wrapped groups are reflowed as groups of their own, so the rows
/// each takes at a width, and what falls off the top, can be known without reflowing them.
struct Buffer::DeferredEpoch
{
    /// The width the rows are laid out at.
    int laidOut = 0;
    /// The widths the buffer took since: the narrowest, how often a switch went to it (the
    /// layout width counting as one visit), and the widest.
    int narrowest = 0;
    int narrowestVisits = 0;
    int widest = 0;
    /// Whether every group keeps its text through reflows (`keepsTextThroughReflow`), so that
    /// its rows at a width depend on the width alone.
    bool stable = true;
    /// Whether the rows wait at `laidOut`, or are kept at the buffer's width and reflowed at
    /// each switch: rows scrolled in lately, until there are enough of them, and rows that are
    /// not `stable` (new rows, or a scrollback that holds such lines, until a wider width makes
    /// them so).
    bool lazy = true;
    /// The rows of each wrapped group at `laidOut`; those before `firstGroup` fell off the ring.
    std::vector<int> groupRows;
    /// The trimmed length of each group's last line.
    std::vector<int> groupLastTrimmed;
    size_t firstGroup = 0;
    /// The rows the epoch holds in the ring: those of its groups from `firstGroup` on.
    int rows = 0;

    /// The rows each group takes at a width, and their sum over the groups left.
    struct RowsAtWidth
    {
        int width = 0;
        int64_t total = 0;
        std::vector<int> groupRows;
    };
    std::vector<RowsAtWidth> rowsAtWidths;

    /// The first group once rows of it fell off the ring: its text (the cells its rows hold at
    /// `laidOut`, one after the other) from `offset` on, laid out afresh at each width. Its rows
    /// in the ring are those that hold any of that text.
    struct CutGroup
    {
        /// The text position at which each of the group's rows starts, from the group's first
        /// row on, and then the text's length; `firstRow` indexes the first row still held.
        std::vector<int64_t> rowStarts;
        size_t firstRow = 0;
        /// The text positions of the leads of two-column characters, in order, and as the
        /// widths the rest was counted at meet them.
        std::vector<int64_t> leads;
        std::vector<CutGroupLeads> leadsAtWidths;
        /// The cells of text that fell off with the rows cut.
        int64_t offset = 0;

        int64_t length() const { return rowStarts.back(); }
    };
    std::optional<CutGroup> cut;

    /// Notes a switch to `width`.
    void visit(int width);
    /// Whether `other` comes out of the same switches reflowed the same way.
    bool reflowsAlike(const DeferredEpoch& other) const;
    /// Takes in the groups of the epoch right below.
    void merge(const DeferredEpoch& below);
};

struct Buffer::DeferredScrollback
{
    std::deque<DeferredEpoch> epochs;
    /// The ring length a buffer reflowed at every switch keeps; the ring itself may grow while
    /// the run lasts, since its epochs can hold more rows than they would at the buffer's width.
    int ringLength = 0;
    /// The width at which rows kept at the buffer's width start to wait (0: none has yet).
    int tailWidth = 0;
    /// The rows the epochs hold in the ring, and the rows they would hold at the buffer's width.
    int64_t physicalRows = 0;
    int64_t rowsAtWidth = 0;
};

} // namespace kestrovan
