// The terminal's kitty graphics state: the images and placements of the primary and the alternate
// screen, and the transmission in progress.
//
// The emulator core only keeps these in step: it picks the current screen state when the active
// buffer changes and calls the placement operations when it scrolls, erases and resets. The
// images, placements, quotas and animation belong to the inline-image subsystem, which fills these
// records in; until it does, they hold nothing and every operation on them is a no-op.
#pragma once

#include <cstddef>

namespace kestrovan {

/// The images and placements of one screen.
struct KittyGraphicsScreenState
{
    /// Placements on this screen; always 0 until the inline-image subsystem stores some.
    size_t placementCount = 0;
};

struct KittyGraphicsState
{
    KittyGraphicsScreenState primary;
    KittyGraphicsScreenState alternate;
    /// True while the alternate screen's records are the current ones.
    bool isAlternateScreen = false;

    KittyGraphicsScreenState& current() { return isAlternateScreen ? alternate : primary; }
};

/// A kitty transmission still in progress (chunked data waiting for its last chunk).
struct KittyGraphicsPending
{};

} // namespace kestrovan
