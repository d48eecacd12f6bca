#include "Kestrovan/Apple/SnapshotKitty.h"

namespace kestrovan {

SnapshotKittyHooks::RenderSnapshot SnapshotKittyHooks::renderSnapshot = nullptr;
SnapshotKittyHooks::DecodePlaceholder SnapshotKittyHooks::decodePlaceholder = nullptr;

} // namespace kestrovan
