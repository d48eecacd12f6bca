// The kitty graphics of one frame: the images and placements of the active screen, taken under
// the terminal lock with the snapshot and handed through to the renderers.
#pragma once

#include "Kestrovan/KittyGraphicsRenderSnapshot.h"

namespace kestrovan {

struct SnapshotKitty
{
    KittyGraphicsRenderSnapshot renderSnapshot;
};

} // namespace kestrovan
