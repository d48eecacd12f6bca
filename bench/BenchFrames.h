// The view a frame benchmark draws or builds rows for: a screen of cells set in the bundled
// terminal font, light grey text on a near-black background, selection in blue.
#pragma once

#include "tests/Kestrovan/Apple/TerminalFrameFonts.h"

#include "Kestrovan/Apple/FrameValues.h"

namespace bench {

struct FrameGeometry
{
    int cols = 0;
    int rows = 0;
    double cellWidth = 0;
    double cellHeight = 0;
    /// Pixels a point.
    double scale = 1;
    double fontSize = 0;
};

inline kestrovan::FrameViewState frameViewState(const FrameGeometry& geometry)
{
    using kestrovan::FrameColor;
    kestrovan::FrameViewState state;
    state.fonts = kestrovan::testing::terminalFrameFonts(geometry.fontSize);
    state.cellDimension = platform::Size{geometry.cellWidth, geometry.cellHeight};
    state.viewBounds =
        platform::Rect{0, 0, geometry.cellWidth * geometry.cols, geometry.cellHeight * geometry.rows};
    state.viewFrameHeight = geometry.cellHeight * geometry.rows;
    state.imageScale = geometry.scale;
    state.appearance.effectiveForegroundColor = FrameColor{0.85, 0.85, 0.85, 1};
    state.appearance.effectiveBackgroundColor = FrameColor{0.05, 0.05, 0.08, 1};
    state.appearance.selectedTextBackgroundColor = FrameColor{0.2, 0.3, 0.9, 1};
    state.appearance.selectedTextForegroundColor = FrameColor{1, 1, 1, 1};
    return state;
}

} // namespace bench
