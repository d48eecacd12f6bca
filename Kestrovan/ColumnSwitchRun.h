// A run of column-mode switches (DECCOLM) within one feed, and the rules for when it must end.
//
// Each switch blanks the screen and homes the cursor; while the screen rows take no part in the
// reflow, the normal buffer's switch resizes only the screen and leaves its scrollback laid out as
// it was (`Buffer::resizeScreenDeferringScrollback`), so a switch costs the same whatever the
// scrollback holds. So does the normal screen's return from the alternate screen after a switch
// made there. Output between switches reaches the screen rows alone: lines scrolled into the
// scrollback meanwhile are counted and dropped as a full ring would drop them, and image
// placements count rows as the reflow will leave them. What reads or rewrites the scrollback rows
// (erasing the history, a resize, a full reset) ends the run first, as does the end of the feed:
// the scrollback is then reflowed once to the width the run ended at.
//
// A selection or a view scrolled back names absolute rows, which the rows the deferred reflow
// drops off the ring would have to move too. While either is there the run is watched: it ends
// before anything that could scroll a line into the scrollback (`keptByCsi`, `keptByPrint`,
// `keptByExecute` tell what cannot). Hosts read the buffers between feeds, when no run is open; a
// host callback made during a feed sees the scrollback rows as they were laid out before the run.
//
// The terminal owns one and does the reflow when the run ends; this type keeps whether a run is
// open and decides what keeps it going.
#pragma once

#include "Kestrovan/CsiParameters.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrovan {

class Buffer;

class ColumnSwitchRun
{
public:
    /// Whether the normal buffer's scrollback waits for its reflow.
    bool isOpen() const { return open_; }
    void open() { open_ = true; }
    void close() { open_ = false; }

    /// Whether a CSI keeps a watched run going: one that sets or resets nothing but DECCOLM
    /// (CSI ? 3 h, CSI ? 3 l), an SGR, or a cursor move.
    static bool keptByCsi(uint8_t code, const CsiParameters& pars, std::span<const uint8_t> collect);
    /// Whether printing `bytes` bytes into `active` keeps a watched run going: they cannot move a
    /// line of the normal buffer into its scrollback.
    static bool keptByPrint(const Buffer& active, bool activeIsNormal, size_t bytes);
    /// The same for executing the control `code`; `reverseWraps` says whether either reverse
    /// wraparound mode is on (a backspace may then step onto the row above).
    static bool keptByExecute(uint8_t code, const Buffer& active, bool activeIsNormal, bool reverseWraps);

private:
    bool open_ = false;
};

} // namespace kestrovan
