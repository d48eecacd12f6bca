// The terminal's kitty graphics state: the images and placements of the primary and the alternate
// screen, the chunked transfer in progress, and the clock and timer the animations run on.
//
// Each screen keeps its own images, image numbers, placements and byte total
// (`KittyGraphicsScreenState`), so a full-screen program on the alternate screen cannot disturb the
// shell's images. The rules that fill them (storage and quota, placement, deletion, scrolling,
// animation) are `KittyGraphicsEngine`'s, and everything here is touched only with the terminal
// lock held.
#pragma once

#include "Kestrovan/KittyGraphicsControl.h"
#include "Kestrovan/KittyGraphicsScreenState.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace kestrovan {

/// Where animation time comes from and how its timer is armed; tests inject both.
struct KittyAnimationClock
{
    /// Monotonic nanoseconds.
    std::function<uint64_t()> now;
    /// Runs `work` once at a monotonic deadline, on another thread.
    std::function<void(uint64_t deadlineNanoseconds, std::function<void()> work)> schedule;

    /// The uptime clock and the shared I/O timer queue.
    static KittyAnimationClock system();
};

/// The animation timer that is armed and has not run yet. Its work item runs only while its
/// ticket holds the terminal's current timer serial; re-arming for a deadline no earlier than this
/// one moves the ticket forward instead of queueing another item.
struct KittyArmedAnimationTimer
{
    uint64_t deadlineNanoseconds = 0;
    std::shared_ptr<uint64_t> ticket;
};

/// The kitty graphics state of one terminal.
struct KittyGraphicsState
{
    KittyGraphicsScreenState primary;
    KittyGraphicsScreenState alternate;
    /// True while the alternate screen's state is the one the operations work on.
    bool activeIsAlternate = false;
    /// The next storage generation handed out; never 0.
    uint64_t nextGeneration = 1;
    /// The chunked transfer in progress, shared by both screens.
    std::optional<KittyGraphicsPending> pending;
    KittyAnimationClock animationClock = KittyAnimationClock::system();
    std::optional<KittyArmedAnimationTimer> armedAnimationTimer;

    KittyGraphicsScreenState& active() { return activeIsAlternate ? alternate : primary; }
    const KittyGraphicsScreenState& active() const { return activeIsAlternate ? alternate : primary; }
};

} // namespace kestrovan
