// The kitty graphics operations the emulator core calls when it scrolls, erases, resets and
// switches screens.
//
// The protocol itself (APC G commands, image storage, placements, animation) belongs to the
// inline-image subsystem. Until it is built, commands are accepted and ignored and no placement
// ever exists, so `hasKittyPlacements` stays false and the operations below have nothing to move.
#include "Kestrovan/Terminal.h"

namespace kestrovan {

void Terminal::handleKittyGraphics(Bytes) {}

void Terminal::removePlacementRecords() {}

void Terminal::removePlacementRecords(int, int) {}

void Terminal::removeOrphanedKittyPlacements() {}

void Terminal::cleanupUnusedKittyImages() {}

void Terminal::clearAllKittyImages()
{
    kittyGraphicsState = KittyGraphicsState();
    kittyGraphicsState.isAlternateScreen = isCurrentBufferAlternate();
    kittyGraphicsPending = KittyGraphicsPending();
    hasKittyPlacements = false;
    updateRange(_buffer->scrollTop());
    updateRange(_buffer->scrollBottom());
}

void Terminal::trimKittyPlacementRows() {}

void Terminal::scrollKittyPlacementsInMargins(int, int, int, int, int) {}

void Terminal::scheduleKittyAnimationTimer()
{
    // Each call supersedes the timers made before it.
    ++kittyAnimationTimerSerial;
}

} // namespace kestrovan
