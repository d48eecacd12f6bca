// The hand-over between the main thread, which captures the view's settings, and whichever thread
// prepares the next frame; and what a prepared frame asks the main thread to do.
//
// The main thread's frame tick stores the latest `FrameViewState` in the mailbox, the view stores
// a pending size and its scroller and accessibility requests; the render thread takes them as one
// `FramePreparationRequest`. The view state is copied, never consumed, so a frame can always be
// prepared from the last settings; the other requests are moved out and reset.
#pragma once

#include "Kestrovan/Apple/FrameValues.h"
#include "Kestrovan/Apple/SnapshotStyle.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"
#include "Kestrovan/Locked.h"

#include <optional>
#include <vector>

namespace kestrovan {

/// A grid size.
struct FrameTerminalSize
{
    int cols = 0;
    int rows = 0;

    friend bool operator==(FrameTerminalSize, FrameTerminalSize) = default;
};

/// The first and last changed screen rows.
struct FrameChangedRange
{
    int start = 0;
    int end = 0;

    friend bool operator==(FrameChangedRange, FrameChangedRange) = default;
};

/// The view's scroller as a frame sets it.
struct ScrollerState
{
    bool isEnabled = false;
    double doubleValue = 0;
    double knobProportion = 0;

    friend bool operator==(const ScrollerState&, const ScrollerState&) = default;
};

/// The part of a prepared frame only the main thread may apply.
struct MainFrameEffects
{
    /// The changed rows reported to the host when the view asks for update notifications.
    std::optional<FrameChangedRange> rangeChanged;
    bool notifyAccessibility = false;
    /// 0...1: where the viewport is in the scrollback.
    double scrollPosition = 0;
    /// Absolute rows of the frame that hold blinking text.
    std::vector<int64_t> blinkRows;
    /// The size this frame applied to the terminal.
    std::optional<FrameTerminalSize> resizedTo;
    std::optional<ScrollerState> scroller;
    SnapshotSelectionState selection;
};

/// A frame as preparation gives it back.
struct PreparedFrame
{
    MainFrameEffects mainEffects;
    /// The view rectangle the CPU path redraws; absent for none.
    std::optional<platform::Rect> region;
    /// A GPU renderer was attached when the frame was prepared.
    bool needsMetalDisplay = false;
    std::optional<SnapshotCursor> cursor;
    int cursorRowCount = 0;
};

/// One frame's inputs, taken from the mailbox (or given by the frame tick).
struct FramePreparationRequest
{
    FrameViewState viewState;
    std::optional<FrameTerminalSize> pendingSize;
    bool notifyAccessibility = true;
    bool updateScroller = false;
};

class TerminalRenderMailbox
{
public:
    struct State
    {
        std::optional<FrameViewState> latestViewState;
        std::optional<FrameTerminalSize> pendingSize;
        bool suppressAccessibility = false;
        /// Written by frame preparation, read by the view's text blink.
        std::vector<int64_t> blinkRows;
        bool updateScroller = false;
    };

    /// The next request: the latest view state copied, the other requests moved out and reset;
    /// absent before the first view state.
    std::optional<FramePreparationRequest> takeRequest();
    /// The same requests moved out and reset, with the view state a main-thread frame captured.
    FramePreparationRequest takeRequest(FrameViewState viewState);

    Locked<State> state;
};

} // namespace kestrovan
