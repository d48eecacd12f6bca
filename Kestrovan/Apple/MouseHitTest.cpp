#include "Kestrovan/Apple/MouseHitTest.h"

#include "Kestrovan/Apple/FrameValues.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrovan {

namespace {

/// `offset / cell` truncated toward zero and clamped to `lowest` ... `highest`, without ever
/// converting a value an integer cannot hold.
int64_t cellIndex(double offset, double cell, int64_t lowest, int64_t highest)
{
    if (highest < lowest)
        return lowest;
    const double index = std::trunc(offset / cell);
    if (!std::isfinite(index))
        return index > 0 ? highest : lowest;
    return static_cast<int64_t>(std::clamp(index, double(lowest), double(highest)));
}

} // namespace

int devicePixelExtent(int count, double cellPoints, double scale)
{
    const double devicePixels = std::round(cellPoints * scale);
    if (!(devicePixels >= 1))
        return std::max(count, 1);
    const double extent = devicePixels * double(std::max(count, 0));
    if (extent >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return std::max(static_cast<int>(extent), 1);
}

MouseHit mouseHitAt(platform::Point point, const MouseHitGeometry& geometry, int64_t yDisp, int64_t lineCount)
{
    const double x = std::isfinite(point.x) ? point.x : 0;
    // The frame is y-up: the distance from the top edge is the height less y.
    const double fromTop = std::isfinite(point.y) ? geometry.viewSize.height - point.y : 0;
    MouseHit hit;
    if (geometry.cell.width > 0 && geometry.cell.height > 0) {
        hit.grid.col = cellIndex(x, geometry.cell.width, 0, geometry.cols - 1);
        // Truncation puts a point less than a cell above the top on screen row 0.
        const int64_t screenRow =
            cellIndex(fromTop, geometry.cell.height, std::numeric_limits<int32_t>::min(),
                      std::numeric_limits<int32_t>::max());
        hit.grid.row = std::clamp<int64_t>(screenRow + yDisp, 0, std::max<int64_t>(lineCount - 1, 0));
    }
    hit.pixelX = terminalDevicePixelIndex(
        x, geometry.scale, devicePixelExtent(geometry.cols, geometry.cell.width, geometry.scale));
    hit.pixelY = terminalDevicePixelIndex(
        fromTop, geometry.scale, devicePixelExtent(geometry.rows, geometry.cell.height, geometry.scale));
    return hit;
}

} // namespace kestrovan
