// The view a frame benchmark draws or builds rows for: a screen of cells set in the bundled
// terminal font, light grey text on a near-black background, selection in blue; and the rows of
// coloured words the frame benchmarks fill it with.
#pragma once

#include "tests/Kestrovan/Apple/TerminalFrameFonts.h"

#include "Kestrovan/Apple/FrameValues.h"

#include <random>
#include <string>

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
    state.renderingScale = geometry.scale;
    state.appearance.effectiveForegroundColor = FrameColor{0.85, 0.85, 0.85, 1};
    state.appearance.effectiveBackgroundColor = FrameColor{0.05, 0.05, 0.08, 1};
    state.appearance.selectedTextBackgroundColor = FrameColor{0.2, 0.3, 0.9, 1};
    state.appearance.selectedTextForegroundColor = FrameColor{1, 1, 1, 1};
    return state;
}

/// A row of coloured words: palette, 256-colour and true-colour text, some of it bold or on a
/// background, as a syntax-highlighted listing or a busy prompt has it.
inline std::string colouredLine(std::mt19937& random, int columns)
{
    std::string line;
    for (int column = 0; column < columns;) {
        switch (random() % 5) {
        case 0:
            line += "\x1b[0;3" + std::to_string(random() % 8) + "m";
            break;
        case 1:
            line += "\x1b[0;1;38;5;" + std::to_string(random() % 256) + "m";
            break;
        case 2:
            line += "\x1b[0;38;2;" + std::to_string(random() % 256) + ";120;200m";
            break;
        case 3:
            line += "\x1b[0;30;4" + std::to_string(1 + random() % 7) + "m";
            break;
        default:
            line += "\x1b[0m";
        }
        const int length = 2 + int(random() % 9);
        for (int i = 0; i < length && column < columns; ++i, ++column)
            line.push_back(char('a' + random() % 26));
        if (column < columns) {
            line.push_back(' ');
            ++column;
        }
    }
    return line + "\x1b[0m";
}

} // namespace bench
