// Stand-ins for the frame values and the render mailbox until the render model's second part
// lands; replaced by Kestrovan/Apple/FrameValues.h and TerminalRenderMailbox.h then.
#pragma once

#include "Kestrovan/Color.h"
#include "Platform/Graphics/Geometry.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace kestrovan {

struct TerminalViewCrossThreadState
{
    bool reverseColorsActive = false;
    std::optional<platform::Size> cachedCellPointSize;
    std::optional<double> cachedImageScale;
    std::optional<std::pair<int, int>> cachedCellPixelSize;
    std::optional<std::pair<Color, Color>> cachedNativeColors;
    bool scrolledDirty = false;
};

struct FrameTerminalSize
{
    int cols = 0;
    int rows = 0;

    friend bool operator==(FrameTerminalSize, FrameTerminalSize) = default;
};

struct ScrollerState
{
    bool isEnabled = false;
    double doubleValue = 0;
    double knobProportion = 0;

    friend bool operator==(const ScrollerState&, const ScrollerState&) = default;
};

struct PendingMailboxState
{
    std::optional<FrameTerminalSize> pendingSize;
    bool suppressAccessibility = false;
    std::vector<int64_t> blinkRows;
    bool updateScroller = false;
};

} // namespace kestrovan
