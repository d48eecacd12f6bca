// The pointer's arithmetic without a view: where a point hits the grid at its edges, and how
// scroll distances become whole lines.
#include "Kestrovan/Apple/MouseHitTest.h"
#include "Kestrovan/Apple/WheelDistanceAccumulator.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace kestrovan {
namespace {

TEST(MouseHitTest, PointsOffTheGridClampOntoItsEdges)
{
    // A 80 x 24 grid of 8 x 17 point cells in a 640 x 408 view at scale 2, showing buffer rows
    // 100 ... 123 of 130 lines. Points are y-up.
    const MouseHitGeometry geometry{{640, 408}, {8, 17}, 2, 80, 24};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case
    {
        const char* name;
        platform::Point point;
        int64_t col, row;
        int pixelX, pixelY;
    };
    const Case cases[] = {
        {"top-left cell", {0, 408}, 0, 100, 0, 0},
        {"inside a cell", {12, 408 - 20}, 1, 101, 24, 40},
        {"left of the view", {-30, 300}, 0, 106, 0, 216},
        {"right of the view", {700, 300}, 79, 106, 1279, 216},
        {"less than a cell above the top", {5, 420}, 0, 100, 10, 0},
        {"two cells above the top", {5, 408 + 2.5 * 17}, 0, 98, 10, 0},
        {"far above the top", {5, 1e9}, 0, 0, 10, 0},
        {"below the bottom", {5, -30}, 0, 125, 10, 815},
        {"far below the last line", {5, -1e12}, 0, 129, 10, 815},
        {"not a number", {nan, nan}, 0, 100, 0, 0},
        {"infinitely far away: the origin too", {inf, -inf}, 0, 100, 0, 0},
    };
    for (const Case& c : cases) {
        const MouseHit hit = mouseHitAt(c.point, geometry, 100, 130);
        EXPECT_EQ(hit.grid, Position(c.col, c.row)) << c.name;
        EXPECT_EQ(hit.pixelX, c.pixelX) << c.name;
        EXPECT_EQ(hit.pixelY, c.pixelY) << c.name;
    }
    // Before the cell is known every point hits the origin.
    EXPECT_EQ(mouseHitAt({50, 50}, MouseHitGeometry{{640, 408}, {0, 0}, 1, 80, 24}, 0, 10).grid,
              Position(0, 0));

    EXPECT_EQ(devicePixelExtent(80, 8, 2), 1280);
    EXPECT_EQ(devicePixelExtent(80, 0.2, 1), 80) << "cells under a pixel: one pixel each";
    EXPECT_EQ(devicePixelExtent(0, 8, 1), 1) << "never empty";
    EXPECT_EQ(devicePixelExtent(1 << 30, 1e6, 4), std::numeric_limits<int>::max()) << "saturates";
}

TEST(WheelDistanceAccumulator, GathersFractionsPerRouteAndUnitAndClampsTheCount)
{
    using R = WheelRoute;
    struct Step
    {
        double distance;
        double unit;
        R route;
        int expectedLines;
        double expectedRemainder;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Step steps[] = {
        // A touchpad on a 17-point cell: four 5-point moves make one line, 3 points left over.
        {5, 17, R::localScrollback, 0, 5},
        {5, 17, R::localScrollback, 0, 10},
        {5, 17, R::localScrollback, 0, 15},
        {5, 17, R::localScrollback, 1, 3},
        // Back and forth cancels out on the same route.
        {-6, 17, R::localScrollback, 0, -3},
        {-14, 17, R::localScrollback, -1, 0},
        // Another route starts from nothing: the scrollback's remainder is no report.
        {10, 17, R::localScrollback, 0, 10},
        {10, 17, R::mouse, 0, 10},
        // So does another unit: a high-resolution wheel's eighths of a notch, one line a notch.
        {0.125, 1, R::mouse, 0, 0.125},
        {0.75, 1, R::mouse, 0, 0.875},
        {0.125, 1, R::mouse, 1, 0},
        {-2.5, 1, R::mouse, -2, -0.5},
        // Nothing that is not a number, and no unit of 0, changes anything.
        {nan, 1, R::mouse, 0, -0.5},
        {inf, 1, R::mouse, 0, -0.5},
        {3, 0, R::mouse, 0, -0.5},
        // A fling beyond the buffer is cut to its 500 lines and leaves nothing behind.
        {1e300, 1, R::mouse, 500, 0},
        {-1e300, 17, R::mouse, -500, 0},
    };
    WheelDistanceAccumulator accumulator;
    int index = 0;
    for (const Step& step : steps) {
        EXPECT_EQ(accumulator.takeWholeLines(step.distance, step.unit, step.route, 500), step.expectedLines)
            << "step " << index;
        EXPECT_DOUBLE_EQ(accumulator.remainder, step.expectedRemainder) << "step " << index;
        ++index;
    }
    accumulator.reset();
    EXPECT_EQ(accumulator, WheelDistanceAccumulator{});
    EXPECT_STREQ(wheelRouteName(R::cursorKeys), "cursorKeys");
}

} // namespace
} // namespace kestrovan
