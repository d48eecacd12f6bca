// Resizing the grid, the pixel geometry and in-band size reports, full reset (RIS), the
// conformance level (DECSCL) and the scrollback size.
#include "Kestrovan/Terminal.h"

namespace kestrovan {

// The handlers below are filled in with the resize and reset family.

void Terminal::resize(int cols, int rows)
{
    resize(cols, rows, std::nullopt);
}

void Terminal::resize(int, int, std::optional<CellPixelSize>) {}

void Terminal::updatePixelGeometry(int, int) {}

void Terminal::reportInBandSizeIfAvailable() {}

void Terminal::resetToInitialState() {}

void Terminal::cmdSetConformanceLevel(const CsiParameters&, Collect) {}

void Terminal::clearScrollback() {}

void Terminal::changeScrollback(std::optional<int>) {}

} // namespace kestrovan
