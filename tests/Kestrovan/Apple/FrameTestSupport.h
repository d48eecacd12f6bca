// Frame values for the row builder, snapshot and frame preparation tests: the bundled terminal
// font as a frame font set, a view state with known colours and geometry, and a snapshot of a
// terminal's screen.
#pragma once

#include "Kestrovan/Apple/FrameValues.h"
#include "Kestrovan/Apple/SnapshotRenderContext.h"
#include "Kestrovan/Apple/TerminalFrameFonts.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalLock.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrovan::testing {

/// The four bundled JetBrains Mono faces at 12 points, registered once.
inline const FrameFontSet& terminalFonts()
{
    return terminalFrameFonts(12);
}

inline const FrameColor foregroundGrey{0.5, 0.5, 0.5, 1};
inline const FrameColor backgroundBlack{0, 0, 0, 1};
inline const FrameColor selectionBlue{0.2, 0.3, 0.9, 1};
inline const FrameColor selectedTextWhite{1, 1, 1, 1};

/// A view of `cols` x `rows` cells of 8 x 16 points, its colours the four above.
inline FrameViewState viewState(int cols = 10, int rows = 3)
{
    FrameViewState state;
    state.fonts = terminalFonts();
    state.cellDimension = platform::Size{8, 16};
    state.viewBounds = platform::Rect{0, 0, 8.0 * cols, 16.0 * rows};
    state.viewFrameHeight = 16.0 * rows;
    state.cellPixelWidth = 8;
    state.cellPixelHeight = 16;
    state.appearance.effectiveForegroundColor = foregroundGrey;
    state.appearance.effectiveBackgroundColor = backgroundBlack;
    state.appearance.selectedTextBackgroundColor = selectionBlue;
    state.appearance.selectedTextForegroundColor = selectedTextWhite;
    state.appearance.caretColor = FrameColor{0, 1, 0, 1};
    state.appearance.caretTextColor = backgroundBlack;
    return state;
}

/// Refreshes `snapshot` from the terminal under its lock, bidi typeset at once.
inline TerminalSnapshot::RefreshResult refresh(TerminalSnapshot& snapshot, Terminal& terminal,
                                               const FrameViewState& state = viewState(),
                                               const SnapshotSelectionState& selection = {})
{
    TerminalLockGuard guard(terminal.terminalLock());
    return snapshot.refresh(terminal, state, selection, false);
}

/// The platform colour of a frame colour.
inline platform::NativeColor native(const FrameColor& color)
{
    return color.nativeColor();
}

} // namespace kestrovan::testing
