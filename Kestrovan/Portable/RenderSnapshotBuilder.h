// The producer of the portable render snapshot: one per terminal a host draws, keeping between
// snapshots the records that make the next one cheap.
//
// The builder reads the terminal through its const accessors and takes the changed rows through
// its own `TerminalChangeReader`, so views and other builders of the same terminal still see every
// change. Its own reasons to redraw (a screen-wide change marks the whole screen, a moved or
// restyled cursor its old and new rows) go into that record only.
#pragma once

#include "Kestrovan/Portable/RenderSnapshot.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalChangeReader.h"

#include <memory>
#include <optional>
#include <vector>

namespace kestrovan {

class RenderSnapshotBuilder
{
public:
    /// A builder for `terminal`, which it keeps alive; nothing is kept yet, so the first snapshot
    /// repaints the whole screen.
    explicit RenderSnapshotBuilder(std::shared_ptr<Terminal> terminal);

    const std::shared_ptr<Terminal>& terminal() const { return terminal_; }

    /// A value picture of the screen for hosts that draw it themselves: the changed rows
    /// (`dirty`) or every row (`full`), decoded; the changed rows are those since the last
    /// snapshot. Takes the terminal lock itself, so the caller must not hold it.
    TerminalRenderSnapshot makeRenderSnapshot(RenderSnapshotScope scope);

    // The records kept between snapshots, readable by hosts and tests; only the builder writes
    // them, except that emptying `portableRenderCells` makes the next snapshot decode every row.

    /// The screen-wide state of the last snapshot.
    std::optional<PortableRenderMetadata> portableRenderMetadata;
    /// The cursor the last snapshot delivered.
    std::optional<RenderSnapshotCursor> portableRenderCursor;
    /// The decoded cells of each screen row, one entry per row.
    std::vector<std::optional<PortableRenderCellCache>> portableRenderCells;

private:
    std::shared_ptr<Terminal> terminal_;
    TerminalChangeReader changes_;
};

} // namespace kestrovan
