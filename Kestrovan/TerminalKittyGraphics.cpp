// The terminal's kitty graphics entry points: the APC G dispatcher and the emulator core call these
// when they receive a command, scroll, erase, reset and switch screens. Each forwards to a
// `KittyGraphicsEngine` over this terminal, which holds the rules.
#include "Kestrovan/KittyGraphicsEngine.h"
#include "Kestrovan/Terminal.h"

namespace kestrovan {

void Terminal::handleKittyGraphics(Bytes content)
{
    KittyGraphicsEngine(*this).handleKittyGraphics(content);
}

void Terminal::removePlacementRecords()
{
    KittyGraphicsEngine(*this).removePlacementRecords(
        [](const KittyPlacementKey&, const KittyPlacementRecord&) { return true; });
}

void Terminal::removeOrphanedKittyPlacements()
{
    KittyGraphicsEngine(*this).removeOrphanedKittyPlacements();
}

void Terminal::cleanupUnusedKittyImages()
{
    KittyGraphicsEngine(*this).cleanupUnusedKittyImages();
}

void Terminal::clearAllKittyImages()
{
    KittyGraphicsEngine(*this).clearAllKittyImages();
}

void Terminal::clearKittyImagesOnScreen()
{
    KittyGraphicsEngine(*this).clearKittyImagesOnScreen();
}

void Terminal::trimKittyPlacementRows()
{
    KittyGraphicsEngine(*this).trimKittyPlacementRows();
}

void Terminal::scrollKittyPlacementsInMargins(int top, int bottom, int left, int right, int delta)
{
    KittyGraphicsEngine(*this).scrollKittyPlacementsInMargins(top, bottom, left, right, delta);
}

void Terminal::scheduleKittyAnimationTimer()
{
    KittyGraphicsEngine(*this).scheduleKittyAnimationTimer();
}

KittyGraphicsRenderSnapshot Terminal::kittyGraphicsRenderSnapshot() const
{
    return KittyGraphicsEngine::renderSnapshot(kittyGraphicsState_, isCurrentBufferAlternate(),
                                               _buffer->yDisp());
}

const KittyGraphicsState& Terminal::kittyGraphicsState() const
{
    // Rows of placements trail the lines a full scrollback dropped until they are looked at (the
    // engine reads them through `rowOf`). Whoever reads the records themselves sees exact rows;
    // writing them changes how the state is kept, not what it says.
    auto& state = const_cast<KittyGraphicsState&>(kittyGraphicsState_);
    state.primary.settleRows();
    state.alternate.settleRows();
    return kittyGraphicsState_;
}

} // namespace kestrovan
