// BoxDrawingRenderer: line characters, dashed lines, rounded corners and diagonals, each worked out
// on the cell's device-pixel grid.
#include "Kestrovan/Apple/BoxDrawingRenderer.h"

#include "Platform/Graphics/DevicePixels.h"
#include "Platform/Graphics/Path.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace kestrovan {

using platform::Canvas;
using platform::NativeColor;
using platform::Point;
using platform::Rect;
using platform::Size;

namespace {

/// The weight of one arm of a line character.
enum Weight : uint8_t
{
    none = 0,
    light = 1,
    heavy = 2,
    doubled = 3,
};

/// The four arms of a line character.
struct Lines
{
    Weight up = none;
    Weight right = none;
    Weight down = none;
    Weight left = none;
};

constexpr uint8_t arms(int up, int right, int down, int left)
{
    return uint8_t(up << 6 | right << 4 | down << 2 | left);
}
constexpr int _ = none, L = light, H = heavy, D = doubled;

/// The arms of every line character, two bits each (up, right, down, left), from the weights its
/// Unicode name gives; 0 for the characters drawn otherwise (dashes, arcs, diagonals).
constexpr std::array<uint8_t, 128> lineTable = {
    arms(_, L, _, L), // U+2500 light horizontal
    arms(_, H, _, H), // U+2501 heavy horizontal
    arms(L, _, L, _), // U+2502 light vertical
    arms(H, _, H, _), // U+2503 heavy vertical
    0,
    0,
    0,
    0, // U+2504...U+2507 triple dashes
    0,
    0,
    0,
    0,                // U+2508...U+250B quadruple dashes
    arms(_, L, L, _), // U+250C light down and right
    arms(_, H, L, _), // U+250D down light and right heavy
    arms(_, L, H, _), // U+250E down heavy and right light
    arms(_, H, H, _), // U+250F heavy down and right
    arms(_, _, L, L), // U+2510 light down and left
    arms(_, _, L, H), // U+2511 down light and left heavy
    arms(_, _, H, L), // U+2512 down heavy and left light
    arms(_, _, H, H), // U+2513 heavy down and left
    arms(L, L, _, _), // U+2514 light up and right
    arms(L, H, _, _), // U+2515 up light and right heavy
    arms(H, L, _, _), // U+2516 up heavy and right light
    arms(H, H, _, _), // U+2517 heavy up and right
    arms(L, _, _, L), // U+2518 light up and left
    arms(L, _, _, H), // U+2519 up light and left heavy
    arms(H, _, _, L), // U+251A up heavy and left light
    arms(H, _, _, H), // U+251B heavy up and left
    arms(L, L, L, _), // U+251C light vertical and right
    arms(L, H, L, _), // U+251D vertical light and right heavy
    arms(H, L, L, _), // U+251E up heavy and right down light
    arms(L, L, H, _), // U+251F down heavy and right up light
    arms(H, L, H, _), // U+2520 vertical heavy and right light
    arms(H, H, L, _), // U+2521 down light and right up heavy
    arms(L, H, H, _), // U+2522 up light and right down heavy
    arms(H, H, H, _), // U+2523 heavy vertical and right
    arms(L, _, L, L), // U+2524 light vertical and left
    arms(L, _, L, H), // U+2525 vertical light and left heavy
    arms(H, _, L, L), // U+2526 up heavy and left down light
    arms(L, _, H, L), // U+2527 down heavy and left up light
    arms(H, _, H, L), // U+2528 vertical heavy and left light
    arms(H, _, L, H), // U+2529 down light and left up heavy
    arms(L, _, H, H), // U+252A up light and left down heavy
    arms(H, _, H, H), // U+252B heavy vertical and left
    arms(_, L, L, L), // U+252C light down and horizontal
    arms(_, L, L, H), // U+252D left heavy and right down light
    arms(_, H, L, L), // U+252E right heavy and left down light
    arms(_, H, L, H), // U+252F down light and horizontal heavy
    arms(_, L, H, L), // U+2530 down heavy and horizontal light
    arms(_, L, H, H), // U+2531 right light and left down heavy
    arms(_, H, H, L), // U+2532 left light and right down heavy
    arms(_, H, H, H), // U+2533 heavy down and horizontal
    arms(L, L, _, L), // U+2534 light up and horizontal
    arms(L, L, _, H), // U+2535 left heavy and right up light
    arms(L, H, _, L), // U+2536 right heavy and left up light
    arms(L, H, _, H), // U+2537 up light and horizontal heavy
    arms(H, L, _, L), // U+2538 up heavy and horizontal light
    arms(H, L, _, H), // U+2539 right light and left up heavy
    arms(H, H, _, L), // U+253A left light and right up heavy
    arms(H, H, _, H), // U+253B heavy up and horizontal
    arms(L, L, L, L), // U+253C light vertical and horizontal
    arms(L, L, L, H), // U+253D left heavy and right vertical light
    arms(L, H, L, L), // U+253E right heavy and left vertical light
    arms(L, H, L, H), // U+253F vertical light and horizontal heavy
    arms(H, L, L, L), // U+2540 up heavy and down horizontal light
    arms(L, L, H, L), // U+2541 down heavy and up horizontal light
    arms(H, L, H, L), // U+2542 vertical heavy and horizontal light
    arms(H, L, L, H), // U+2543 left up heavy and right down light
    arms(H, H, L, L), // U+2544 right up heavy and left down light
    arms(L, L, H, H), // U+2545 left down heavy and right up light
    arms(L, H, H, L), // U+2546 right down heavy and left up light
    arms(H, H, L, H), // U+2547 down light and up horizontal heavy
    arms(L, H, H, H), // U+2548 up light and down horizontal heavy
    arms(H, L, H, H), // U+2549 right light and left vertical heavy
    arms(H, H, H, L), // U+254A left light and right vertical heavy
    arms(H, H, H, H), // U+254B heavy vertical and horizontal
    0,
    0,
    0,
    0,                // U+254C...U+254F double dashes
    arms(_, D, _, D), // U+2550 double horizontal
    arms(D, _, D, _), // U+2551 double vertical
    arms(_, D, L, _), // U+2552 down single and right double
    arms(_, L, D, _), // U+2553 down double and right single
    arms(_, D, D, _), // U+2554 double down and right
    arms(_, _, L, D), // U+2555 down single and left double
    arms(_, _, D, L), // U+2556 down double and left single
    arms(_, _, D, D), // U+2557 double down and left
    arms(L, D, _, _), // U+2558 up single and right double
    arms(D, L, _, _), // U+2559 up double and right single
    arms(D, D, _, _), // U+255A double up and right
    arms(L, _, _, D), // U+255B up single and left double
    arms(D, _, _, L), // U+255C up double and left single
    arms(D, _, _, D), // U+255D double up and left
    arms(L, D, L, _), // U+255E vertical single and right double
    arms(D, L, D, _), // U+255F vertical double and right single
    arms(D, D, D, _), // U+2560 double vertical and right
    arms(L, _, L, D), // U+2561 vertical single and left double
    arms(D, _, D, L), // U+2562 vertical double and left single
    arms(D, _, D, D), // U+2563 double vertical and left
    arms(_, D, L, D), // U+2564 down single and horizontal double
    arms(_, L, D, L), // U+2565 down double and horizontal single
    arms(_, D, D, D), // U+2566 double down and horizontal
    arms(L, D, _, D), // U+2567 up single and horizontal double
    arms(D, L, _, L), // U+2568 up double and horizontal single
    arms(D, D, _, D), // U+2569 double up and horizontal
    arms(L, D, L, D), // U+256A vertical single and horizontal double
    arms(D, L, D, L), // U+256B vertical double and horizontal single
    arms(D, D, D, D), // U+256C double vertical and horizontal
    0,
    0,
    0,
    0, // U+256D...U+2570 arcs
    0,
    0,
    0,                // U+2571...U+2573 diagonals
    arms(_, _, _, L), // U+2574 light left
    arms(L, _, _, _), // U+2575 light up
    arms(_, L, _, _), // U+2576 light right
    arms(_, _, L, _), // U+2577 light down
    arms(_, _, _, H), // U+2578 heavy left
    arms(H, _, _, _), // U+2579 heavy up
    arms(_, H, _, _), // U+257A heavy right
    arms(_, _, H, _), // U+257B heavy down
    arms(_, H, _, L), // U+257C light left and heavy right
    arms(L, _, H, _), // U+257D light up and heavy down
    arms(_, L, _, H), // U+257E heavy left and light right
    arms(H, _, L, _), // U+257F heavy up and light down
};

Lines linesOf(uint8_t packed)
{
    return Lines{Weight(packed >> 6 & 3), Weight(packed >> 4 & 3), Weight(packed >> 2 & 3),
                 Weight(packed & 3)};
}

/// No cell is anywhere near this many device pixels across; the bound keeps the pixel
/// arithmetic below (sums of sizes and thicknesses) far from overflow whatever a caller passes.
constexpr int largestPixelCount = 1 << 20;

/// The surface of one cell: whole device pixels measured from the cell's top-left corner, y down.
struct BoxDrawingCanvas
{
    Canvas& canvas;
    /// The cell's lower-left corner and its height, in points.
    double originX = 0;
    double originY = 0;
    double heightPoints = 0;
    /// The cell's size in whole device pixels.
    int width = 1;
    int height = 1;
    double scale = 1;

    /// A canvas pixel position in points.
    Point toPoints(double x, double y) const
    {
        return Point{originX + x / scale, originY + heightPoints - y / scale};
    }

    /// Fills the pixels from (x1, y1) to (x2, y2), clamped to the cell; nothing when that is empty.
    void box(double x1, double y1, double x2, double y2) const
    {
        x1 = std::clamp(x1, 0.0, double(width));
        x2 = std::clamp(x2, 0.0, double(width));
        y1 = std::clamp(y1, 0.0, double(height));
        y2 = std::clamp(y2, 0.0, double(height));
        if (!(x2 > x1 && y2 > y1))
            return;
        canvas.fillRect(Rect{originX + x1 / scale, originY + heightPoints - y2 / scale, (x2 - x1) / scale,
                             (y2 - y1) / scale});
    }
};

void hline(const BoxDrawingCanvas& c, int x1, int x2, int y, int thicknessPx)
{
    c.box(x1, y, x2, y + thicknessPx);
}

void vline(const BoxDrawingCanvas& c, int y1, int y2, int x, int thicknessPx)
{
    c.box(x, y1, x + thicknessPx, y2);
}

/// A half-open span of pixels across a line.
struct Band
{
    int lo = 0;
    int hi = 0;
};

/// Where lines of each weight lie across an axis `extent` pixels long, for light thickness t:
/// light and heavy lines centred, and the two lines of a double line on either side of the light
/// band, which is their gap.
struct Bands
{
    Band light;
    Band heavy;
    /// The upper (or left) and lower (or right) line of a double line.
    Band first;
    Band second;

    Bands(int extent, int t)
    {
        light.lo = std::max(extent - t, 0) / 2;
        light.hi = std::min(light.lo + t, extent);
        heavy.lo = std::max(extent - 2 * t, 0) / 2;
        heavy.hi = std::min(heavy.lo + 2 * t, extent);
        first = Band{std::max(light.lo - t, 0), light.lo};
        second = Band{light.hi, std::min(light.hi + t, extent)};
    }
};

/// Draws a line character: first how far the arms reach into the centre, so that crossings and
/// corners of mixed weights join cleanly, then each arm.
void linesChar(Lines lines, const BoxDrawingCanvas& c, int t)
{
    const Bands across(c.width, t); // bands of vertical lines, along x
    const Bands down(c.height, t);  // bands of horizontal lines, along y
    const int W = c.width, H = c.height;

    // The up arm runs from the top to `upEnd`, the down arm from `downStart` to the bottom.
    int downStart = down.light.lo, upEnd = down.light.hi;
    if (lines.left == heavy || lines.right == heavy) {
        downStart = down.heavy.lo;
        upEnd = down.heavy.hi;
    } else if (lines.left == lines.right && lines.up != lines.down) {
        if (lines.left != none) {
            // A vertical stub stops at the horizontal line it meets.
            downStart = down.light.hi;
            upEnd = down.light.lo;
        }
        // Otherwise a lone half line reaches the far side of the centre band (the defaults).
    } else if (lines.left == doubled || lines.right == doubled) {
        downStart = down.first.lo;
        upEnd = down.second.hi;
    }

    // The right arm runs from `rightStart` to the right edge, the left arm from the left edge to
    // `leftEnd`; chosen the same way with the axes exchanged.
    int rightStart = across.light.lo, leftEnd = across.light.hi;
    if (lines.up == heavy || lines.down == heavy) {
        rightStart = across.heavy.lo;
        leftEnd = across.heavy.hi;
    } else if (lines.up == lines.down && lines.left != lines.right) {
        if (lines.up != none) {
            rightStart = across.light.hi;
            leftEnd = across.light.lo;
        }
    } else if (lines.up == doubled || lines.down == doubled) {
        rightStart = across.first.lo;
        leftEnd = across.second.hi;
    }

    // Up arm. A double arm's two lines stop at the double line they meet (the outer one at the
    // outer corner, the inner one at the inner corner), or at the reach chosen above.
    switch (lines.up) {
    case light:
        c.box(across.light.lo, 0, across.light.hi, upEnd);
        break;
    case heavy:
        c.box(across.heavy.lo, 0, across.heavy.hi, upEnd);
        break;
    case doubled:
        c.box(across.first.lo, 0, across.first.hi, lines.left == doubled ? down.light.lo : upEnd);
        c.box(across.second.lo, 0, across.second.hi, lines.right == doubled ? down.light.lo : upEnd);
        break;
    case none:
        break;
    }
    // Right arm.
    switch (lines.right) {
    case light:
        c.box(rightStart, down.light.lo, W, down.light.hi);
        break;
    case heavy:
        c.box(rightStart, down.heavy.lo, W, down.heavy.hi);
        break;
    case doubled:
        c.box(lines.up == doubled ? across.light.hi : rightStart, down.first.lo, W, down.first.hi);
        c.box(lines.down == doubled ? across.light.hi : rightStart, down.second.lo, W, down.second.hi);
        break;
    case none:
        break;
    }
    // Down arm.
    switch (lines.down) {
    case light:
        c.box(across.light.lo, downStart, across.light.hi, H);
        break;
    case heavy:
        c.box(across.heavy.lo, downStart, across.heavy.hi, H);
        break;
    case doubled:
        c.box(across.first.lo, lines.left == doubled ? down.light.hi : downStart, across.first.hi, H);
        c.box(across.second.lo, lines.right == doubled ? down.light.hi : downStart, across.second.hi, H);
        break;
    case none:
        break;
    }
    // Left arm.
    switch (lines.left) {
    case light:
        c.box(0, down.light.lo, leftEnd, down.light.hi);
        break;
    case heavy:
        c.box(0, down.heavy.lo, leftEnd, down.heavy.hi);
        break;
    case doubled:
        c.box(0, down.first.lo, lines.up == doubled ? across.light.lo : leftEnd, down.first.hi);
        c.box(0, down.second.lo, lines.down == doubled ? across.light.lo : leftEnd, down.second.hi);
        break;
    case none:
        break;
    }
}

/// `count` dashes across the cell, `thicknessPx` thick, with gaps of at most `desiredGap` that
/// shrink in narrow cells; the leftover pixels lengthen the first dashes by one each, so the
/// pattern fills the cell exactly and repeats without a seam from cell to cell. A cell too narrow
/// for dashes gets a solid line.
void dashHorizontal(const BoxDrawingCanvas& c, int count, int thicknessPx, int desiredGap, int baseThickness)
{
    if (c.width < 2 * count) {
        const int solid = std::max(baseThickness, 1);
        hline(c, 0, c.width, std::max(c.height - solid, 0) / 2, solid);
        return;
    }
    const int gap = std::min(c.width / (2 * count), desiredGap);
    const int dashTotal = c.width - count * gap;
    const int dash = dashTotal / count;
    const int remainder = dashTotal - count * dash;
    const int y = std::max(c.height - thicknessPx, 0) / 2;
    // Half a gap before the first dash and half after the last, so neighbouring cells keep the
    // full gap between them.
    int x = gap / 2;
    for (int i = 0; i < count; ++i) {
        const int length = dash + (i < remainder ? 1 : 0);
        hline(c, x, x + length, y, thicknessPx);
        x += length + gap;
    }
}

/// The vertical form of `dashHorizontal`.
void dashVertical(const BoxDrawingCanvas& c, int count, int thicknessPx, int desiredGap, int baseThickness)
{
    if (c.height < 2 * count) {
        const int solid = std::max(baseThickness, 1);
        vline(c, 0, c.height, std::max(c.width - solid, 0) / 2, solid);
        return;
    }
    const int gap = std::min(c.height / (2 * count), desiredGap);
    const int dashTotal = c.height - count * gap;
    const int dash = dashTotal / count;
    const int remainder = dashTotal - count * dash;
    const int x = std::max(c.width - thicknessPx, 0) / 2;
    int y = gap / 2;
    for (int i = 0; i < count; ++i) {
        const int length = dash + (i < remainder ? 1 : 0);
        vline(c, y, y + length, x, thicknessPx);
        y += length + gap;
    }
}

/// The rounded corners, named by their two arms.
enum class Corner
{
    upAndLeft,    // U+256F
    upAndRight,   // U+2570
    downAndLeft,  // U+256E
    downAndRight, // U+256D
};

/// A rounded corner: two straight light arms from the cell's edges and a quarter ring joining
/// them, the ring's radius at most 0.3 of the cell's shorter side so it stays a corner.
void arc(Corner corner, int t, const BoxDrawingCanvas& c)
{
    t = std::max(t, 1);
    const bool up = corner == Corner::upAndLeft || corner == Corner::upAndRight;
    const bool left = corner == Corner::upAndLeft || corner == Corner::downAndLeft;
    const Bands across(c.width, t);
    const Bands down(c.height, t);
    const double cx = across.light.lo + t / 2.0;
    const double cy = down.light.lo + t / 2.0;
    const double shorter = std::min(c.width, c.height);
    const double radius = std::min(std::max(shorter / 2 - t / 2.0, 0.0), 0.3 * shorter);

    // The straight arms run from the cell's edges to where the ring takes over.
    if (up)
        c.box(across.light.lo, 0, across.light.hi,
              std::clamp(std::trunc(cy - radius), 0.0, double(c.height)));
    else
        c.box(across.light.lo, std::clamp(std::trunc(cy + radius), 0.0, double(c.height)), across.light.hi,
              c.height);
    if (left)
        c.box(0, down.light.lo, std::clamp(std::trunc(cx - radius), 0.0, double(c.width)), down.light.hi);
    else
        c.box(std::clamp(std::trunc(cx + radius), 0.0, double(c.width)), down.light.lo, c.width,
              down.light.hi);

    // The ring's centre lies on the arms' side of the band centres; only its quarter that faces
    // away from the arms (towards the opposite cell corner) is kept.
    const double ringX = left ? cx - radius : cx + radius;
    const double ringY = up ? cy - radius : cy + radius;
    const double outer = radius + t / 2.0;
    const double inner = std::max(radius - t / 2.0, 0.0);
    const double clipX1 = left ? ringX : 0, clipX2 = left ? c.width : ringX;
    const double clipY1 = up ? ringY : 0, clipY2 = up ? c.height : ringY;
    if (!(clipX2 > clipX1 && clipY2 > clipY1))
        return;

    Canvas& canvas = c.canvas;
    canvas.save();
    canvas.setAntialias(true);
    const Point clipLow = c.toPoints(clipX1, clipY2), clipHigh = c.toPoints(clipX2, clipY1);
    canvas.clip(Rect{clipLow.x, clipLow.y, clipHigh.x - clipLow.x, clipHigh.y - clipLow.y});
    const Point centre = c.toPoints(ringX, ringY);
    platform::Path ring;
    ring.moveTo(Point{centre.x + outer / c.scale, centre.y});
    ring.addArc(centre, outer / c.scale, 0, 2 * std::numbers::pi);
    ring.close();
    if (inner > 0) {
        ring.moveTo(Point{centre.x + inner / c.scale, centre.y});
        ring.addArc(centre, inner / c.scale, 0, 2 * std::numbers::pi);
        ring.close();
    }
    canvas.fill(ring, inner > 0 ? platform::FillRule::evenOdd : platform::FillRule::winding);
    canvas.restore();
}

/// A diagonal through the cell's corners, continued half a pixel past them (along the slope) so
/// that diagonals in neighbouring cells meet without a gap.
void diagonal(bool rising, bool falling, int t, const BoxDrawingCanvas& c)
{
    const double W = c.width, H = c.height;
    const double ex = std::min(W / H, 1.0), ey = std::min(H / W, 1.0);
    Canvas& canvas = c.canvas;
    canvas.save();
    canvas.setAntialias(true);
    canvas.setLineCap(platform::LineCap::butt);
    canvas.setLineWidth((t > 1 ? t + 1 : 1) / c.scale);
    if (rising) // U+2571: upper right to lower left
        canvas.strokeLine(c.toPoints(W + ex / 2, -ey / 2), c.toPoints(-ex / 2, H + ey / 2));
    if (falling) // U+2572: upper left to lower right
        canvas.strokeLine(c.toPoints(-ex / 2, -ey / 2), c.toPoints(W + ex / 2, H + ey / 2));
    canvas.restore();
}

/// A dashed line: its direction, number of dashes, thickness and gap, each in light thicknesses.
struct DashStyle
{
    bool horizontal;
    int count;
    bool heavy;
    /// The desired gap: 0 for max(t, 4), else this many light thicknesses.
    int gapInThicknesses;
};

/// U+2504...U+250B, then U+254C...U+254F.
constexpr DashStyle tripleAndQuadrupleDashes[8] = {
    {true, 3, false, 0}, {true, 3, true, 0}, {false, 3, false, 0}, {false, 3, true, 0},
    {true, 4, false, 0}, {true, 4, true, 0}, {false, 4, false, 0}, {false, 4, true, 0},
};
constexpr DashStyle doubleDashes[4] = {
    {true, 2, false, 1},
    {true, 2, true, 2},
    {false, 2, false, 2},
    {false, 2, true, 2},
};

void dashed(const DashStyle& style, int t, int baseThickness, const BoxDrawingCanvas& c)
{
    const int thickness = style.heavy ? 2 * t : t;
    const int gap = style.gapInThicknesses == 0 ? std::max(t, 4) : style.gapInThicknesses * t;
    if (style.horizontal)
        dashHorizontal(c, style.count, thickness, gap, baseThickness);
    else
        dashVertical(c, style.count, thickness, gap, baseThickness);
}

int roundedToInt(double value)
{
    const double rounded = std::round(value);
    if (!(rounded > 0))
        return 0;
    return rounded >= largestPixelCount ? largestPixelCount : int(rounded);
}

} // namespace

int BoxDrawingRenderer::baseThicknessPx(double scale, double underlineThickness)
{
    if (!platform::isUsableScale(scale))
        scale = 1;
    const double thickness = std::isfinite(underlineThickness) ? underlineThickness : 0;
    return std::max({roundedToInt(scale * thickness * 1.35), roundedToInt(scale), 1});
}

void BoxDrawingRenderer::draw(uint32_t codePoint, Canvas& canvas, Point cellOrigin, Size cellSize,
                              double scale, const NativeColor& color, int baseThicknessPx)
{
    if (!handles(codePoint) || !platform::isUsableScale(scale) || !std::isfinite(cellOrigin.x) ||
        !std::isfinite(cellOrigin.y) || !std::isfinite(cellSize.width) || !std::isfinite(cellSize.height))
        return;
    canvas.setFillColor(color);
    canvas.setStrokeColor(color);

    const BoxDrawingCanvas c{canvas,
                             cellOrigin.x,
                             cellOrigin.y,
                             cellSize.height,
                             std::min(platform::devicePixelCount(cellSize.width, scale), largestPixelCount),
                             std::min(platform::devicePixelCount(cellSize.height, scale), largestPixelCount),
                             scale};
    // Never thinner than one device pixel, nor than one point on a high-density screen.
    const int minimumThickness = std::max(roundedToInt(scale), 1);
    const int base = std::clamp(baseThicknessPx, 1, largestPixelCount);
    const int t = std::max(base, minimumThickness);

    if (const uint8_t packed = lineTable[codePoint - 0x2500]; packed != 0) {
        linesChar(linesOf(packed), c, t);
        return;
    }
    switch (codePoint) {
    case 0x2504:
    case 0x2505:
    case 0x2506:
    case 0x2507:
    case 0x2508:
    case 0x2509:
    case 0x250A:
    case 0x250B:
        dashed(tripleAndQuadrupleDashes[codePoint - 0x2504], t, base, c);
        return;
    case 0x254C:
    case 0x254D:
    case 0x254E:
    case 0x254F:
        dashed(doubleDashes[codePoint - 0x254C], t, base, c);
        return;
    case 0x256D:
        arc(Corner::downAndRight, t, c);
        return;
    case 0x256E:
        arc(Corner::downAndLeft, t, c);
        return;
    case 0x256F:
        arc(Corner::upAndLeft, t, c);
        return;
    case 0x2570:
        arc(Corner::upAndRight, t, c);
        return;
    case 0x2571:
        diagonal(true, false, t, c);
        return;
    case 0x2572:
        diagonal(false, true, t, c);
        return;
    case 0x2573:
        diagonal(true, true, t, c);
        return;
    default:
        return;
    }
}

} // namespace kestrovan
