#include "GoldenImage.h"

#include "Platform/Graphics/Canvas.h"
#include "Platform/Graphics/DevicePixels.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>

using namespace platform;
using graphics_test::makeBitmap;

namespace {

constexpr NativeColor red = NativeColor::sRGB(1, 0, 0);
constexpr NativeColor blue = NativeColor::sRGB(0, 0, 1);
constexpr PremultipliedPixel opaqueRed{255, 0, 0, 255};
constexpr PremultipliedPixel opaqueBlue{0, 0, 255, 255};
constexpr PremultipliedPixel clear{};

/// The bitmap as rows of '#' (alpha above half), '+' (some alpha) and '.', top row first.
std::string coverage(const Bitmap& bitmap)
{
    std::string text;
    for (int y = bitmap.height() - 1; y >= 0; --y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            const uint8_t alpha = bitmap.pixel(x, y).alpha;
            text += alpha > 127 ? '#' : alpha > 0 ? '+' : '.';
        }
        text += '\n';
    }
    return text;
}

std::string describe(PremultipliedPixel p)
{
    return "(" + std::to_string(p.red) + ", " + std::to_string(p.green) + ", " + std::to_string(p.blue) +
           ", " + std::to_string(p.alpha) + ")";
}

} // namespace

namespace platform {
void PrintTo(const PremultipliedPixel& p, std::ostream* os)
{
    *os << describe(p);
}
} // namespace platform

TEST(CanvasTests, YUpGeometryLandsOnTheRightPixelRows)
{
    Bitmap bitmap = makeBitmap(4, 3);
    Canvas canvas(bitmap);
    EXPECT_EQ(canvas.size(), (Size{4, 3}));
    canvas.setFillColor(red);
    canvas.fillRect(Rect{0, 0, 1, 1});
    canvas.setFillColor(blue);
    canvas.fillRect(Rect{3, 2, 1, 1});
    EXPECT_EQ(coverage(bitmap), "...#\n"
                                "....\n"
                                "#...\n");
    EXPECT_EQ(bitmap.pixel(0, 0), opaqueRed) << "y 0 is the bottom row";
    EXPECT_EQ(bitmap.pixel(3, 2), opaqueBlue);
    // In memory the rows are top first: the red pixel is at the start of the last stored row.
    EXPECT_EQ(bitmap.data()[2 * bitmap.stride() + 2], 255) << "red byte of a B, G, R, A pixel";

    // Transforms compose as the drawing code expects: translate, then scale about the new origin.
    Bitmap moved = makeBitmap(6, 4);
    Canvas transformed(moved);
    transformed.setFillColor(red);
    transformed.translate(2, 1);
    transformed.scaleBy(2, -1);
    transformed.fillRect(Rect{0, 0, 1, 1});
    EXPECT_EQ(coverage(moved), "......\n"
                               "......\n"
                               "......\n"
                               "..##..\n");
}

TEST(CanvasTests, DeviceScaleTwoAndPixelHelpers)
{
    Bitmap bitmap = makeBitmap(8, 8);
    Canvas canvas(bitmap, 2);
    EXPECT_EQ(canvas.size(), (Size{4, 4}));
    canvas.setFillColor(red);
    canvas.fillRect(Rect{0, 0, 1, 0.5});
    EXPECT_EQ(bitmap.pixel(1, 0), opaqueRed);
    EXPECT_EQ(bitmap.pixel(2, 0), clear);
    EXPECT_EQ(bitmap.pixel(0, 1), clear) << "half a point is one device pixel high";

    EXPECT_EQ(canvas.userToDevice(Point{1.25, 3}), (Point{2.5, 6}));
    EXPECT_EQ(canvas.deviceToUser(Point{3, 5}), (Point{1.5, 2.5}));
    EXPECT_EQ(canvas.roundToDevicePixels(Point{1.25, 0.3}), (Point{1.5, 0.5})) << "halves away from zero";
    canvas.translate(0.1, 0);
    EXPECT_NEAR(canvas.roundToDevicePixels(Point{1, 1}).x, 0.9, 1e-9)
        << "rounded in device space, given back in user space";

    // A hairline (width 0) is one device pixel across at any scale.
    Bitmap hair = makeBitmap(8, 8);
    Canvas thin(hair, 2);
    thin.setAntialias(false);
    thin.setStrokeColor(blue);
    thin.setLineWidth(0);
    thin.strokeLine(Point{0, 2.25}, Point{4, 2.25});
    int rows = 0;
    for (int y = 0; y < 8; ++y)
        rows += hair.pixel(3, y).alpha > 0;
    EXPECT_EQ(rows, 1);

    EXPECT_EQ(snapOutward(Rect{10.3, 0, 8.4, 17}, 2), (Rect{10, 0, 9, 17}));
    EXPECT_DOUBLE_EQ(roundToDevicePixels(2.125, 2), 2.0);
    EXPECT_DOUBLE_EQ(ceilToDevicePixels(2.125, 2), 2.5);
    EXPECT_DOUBLE_EQ(floorToDevicePixels(-0.1, 2), -0.5);
    EXPECT_EQ(devicePixelCount(8.4, 2), 17);
    EXPECT_EQ(devicePixelCount(0.1, 2), 1) << "a cell never collapses to nothing";
    EXPECT_EQ(devicePixelCount(std::numeric_limits<double>::quiet_NaN(), 2), 1);
    EXPECT_DOUBLE_EQ(roundToDevicePixels(2.3, 0), 2.3) << "an unusable scale changes nothing";
}

TEST(CanvasTests, ClipsNarrowAndRestore)
{
    Bitmap bitmap = makeBitmap(6, 4);
    Canvas canvas(bitmap);
    canvas.setAntialias(false);
    canvas.setFillColor(red);
    canvas.save();
    canvas.clip(Rect{1, 1, 4, 2});
    canvas.clip(Rect{0, 0, 3, 4});
    EXPECT_EQ(canvas.clipBounds(), (Rect{1, 1, 2, 2}));
    canvas.fillRect(Rect{0, 0, 6, 4});
    canvas.restore();
    EXPECT_EQ(canvas.clipBounds(), (Rect{0, 0, 6, 4}));
    canvas.setFillColor(blue);
    canvas.fillRect(Rect{5, 0, 1, 1});
    EXPECT_EQ(coverage(bitmap), "......\n"
                                ".##...\n"
                                ".##...\n"
                                ".....#\n");

    // A path clip with the even-odd rule leaves the inner square out.
    Bitmap ring = makeBitmap(5, 5);
    Canvas clipped(ring);
    clipped.setAntialias(false);
    Path frame;
    frame.addRect(Rect{0, 0, 5, 5});
    frame.addRect(Rect{1, 1, 3, 3});
    clipped.clip(frame, FillRule::evenOdd);
    clipped.setFillColor(red);
    clipped.fillRect(Rect{0, 0, 5, 5});
    EXPECT_EQ(coverage(ring), "#####\n"
                              "#...#\n"
                              "#...#\n"
                              "#...#\n"
                              "#####\n");
}

TEST(CanvasTests, FillRulesAndPaths)
{
    // Two squares wound the same way: winding fills the inner one, even-odd cuts it out.
    Path nested;
    nested.addRect(Rect{0, 0, 6, 6});
    nested.addRect(Rect{2, 2, 2, 2});
    for (auto [rule, middle] : {std::pair{FillRule::winding, '#'}, std::pair{FillRule::evenOdd, '.'}}) {
        Bitmap bitmap = makeBitmap(6, 6);
        Canvas canvas(bitmap);
        canvas.setFillColor(red);
        canvas.fill(nested, rule);
        EXPECT_EQ(coverage(bitmap)[2 * 7 + 2], middle) << "rule " << int(rule);
        EXPECT_EQ(coverage(bitmap)[0], '#');
    }

    // A counter-clockwise half circle above its diameter stays in the upper half of the canvas.
    Bitmap bitmap = makeBitmap(8, 8);
    Canvas canvas(bitmap);
    canvas.setFillColor(red);
    Path half;
    half.addArc(Point{4, 4}, 4, 0, M_PI);
    half.close();
    canvas.fill(half);
    EXPECT_GT(bitmap.pixel(4, 6).alpha, 200);
    EXPECT_EQ(bitmap.pixel(4, 2).alpha, 0);

    // Non-finite coordinates are dropped instead of reaching cairo.
    Path broken;
    broken.moveTo(Point{0, 0});
    broken.lineTo(Point{std::nan(""), 1});
    broken.curveTo(Point{1, 1}, Point{INFINITY, 0}, Point{2, 2});
    EXPECT_EQ(broken.elements().size(), 1u);
}

TEST(CanvasTests, StrokesWithDashesCapsAndWidths)
{
    // An on-off pattern of 2 and 1 along a line one pixel thick.
    Bitmap bitmap = makeBitmap(10, 3);
    Canvas canvas(bitmap);
    canvas.setAntialias(false);
    canvas.setStrokeColor(red);
    const double dash[] = {2, 1};
    canvas.setLineDash(dash);
    canvas.strokeLine(Point{0, 1.5}, Point{10, 1.5});
    EXPECT_EQ(coverage(bitmap), "..........\n"
                                "##.##.##.#\n"
                                "..........\n");

    // A pattern of zeros or negative lengths would break cairo's state: it draws solid instead.
    const double zeros[] = {0, 0};
    const double negative[] = {2, -1};
    for (std::span<const double> pattern :
         {std::span<const double>(zeros), std::span<const double>(negative)}) {
        Bitmap solid = makeBitmap(10, 3);
        Canvas plain(solid);
        plain.setAntialias(false);
        plain.setStrokeColor(red);
        plain.setLineDash(pattern);
        plain.strokeLine(Point{0, 1.5}, Point{10, 1.5});
        EXPECT_EQ(coverage(solid), "..........\n"
                                   "##########\n"
                                   "..........\n");
    }

    // Square caps reach half the width past each end; butt caps stop at the ends.
    for (auto [cap, expected] :
         {std::pair{LineCap::butt, "..##..\n"}, std::pair{LineCap::square, ".####.\n"}}) {
        Bitmap capped = makeBitmap(6, 1);
        Canvas line(capped);
        line.setAntialias(false);
        line.setStrokeColor(red);
        line.setLineWidth(2);
        line.setLineCap(cap);
        line.strokeLine(Point{2, 0.5}, Point{4, 0.5});
        EXPECT_EQ(coverage(capped), expected) << "cap " << int(cap);
    }
}

TEST(CanvasTests, BlendModesAndColours)
{
    // Translucent fills compound in normal mode and replace in copy mode.
    for (auto [mode, alpha] : {std::pair{BlendMode::normal, 191}, std::pair{BlendMode::copy, 128}}) {
        Bitmap bitmap = makeBitmap(2, 2);
        Canvas canvas(bitmap);
        canvas.setBlendMode(mode);
        canvas.setFillColor(NativeColor::sRGB(0, 0, 1, 0.5));
        canvas.fillRect(Rect{0, 0, 2, 2});
        canvas.fillRect(Rect{0, 0, 2, 2});
        EXPECT_NEAR(bitmap.pixel(0, 0).alpha, alpha, 1) << "mode " << int(mode);
    }

    // Copy mode replaces only inside the shape; clear mode and clearRect make pixels transparent.
    Bitmap bitmap = makeBitmap(3, 1);
    Canvas canvas(bitmap);
    canvas.setFillColor(red);
    canvas.fillRect(Rect{0, 0, 3, 1});
    canvas.setBlendMode(BlendMode::copy);
    canvas.setFillColor(NativeColor::sRGB(0, 0, 1, 0));
    canvas.fillRect(Rect{0, 0, 1, 1});
    canvas.setBlendMode(BlendMode::clear);
    canvas.fillRect(Rect{1, 0, 1, 1});
    canvas.setBlendMode(BlendMode::normal);
    EXPECT_EQ(bitmap.pixel(0, 0), clear);
    EXPECT_EQ(bitmap.pixel(1, 0), clear);
    EXPECT_EQ(bitmap.pixel(2, 0), opaqueRed);
    canvas.clearRect(Rect{2, 0, 1, 1});
    EXPECT_EQ(bitmap.pixel(2, 0), clear);

    // Extended-range and non-numeric components are limited; a pattern colour paints nothing.
    canvas.setFillColor(NativeColor::sRGB(2, -1, std::nan(""), 1));
    canvas.fillRect(Rect{0, 0, 1, 1});
    EXPECT_EQ(bitmap.pixel(0, 0), opaqueRed);
    canvas.setFillColor(NativeColor::pattern());
    canvas.fillRect(Rect{0, 0, 3, 1});
    EXPECT_EQ(bitmap.pixel(1, 0), clear);

    // Fill and stroke colours are kept apart, and a restore brings both back.
    Bitmap pair = makeBitmap(2, 1);
    Canvas two(pair);
    two.setAntialias(false);
    two.setFillColor(red);
    two.setStrokeColor(blue);
    two.save();
    two.setFillColor(blue);
    two.restore();
    two.fillRect(Rect{0, 0, 1, 1});
    two.strokeLine(Point{1, 0.5}, Point{2, 0.5});
    EXPECT_EQ(pair.pixel(0, 0), opaqueRed);
    EXPECT_EQ(pair.pixel(1, 0), opaqueBlue);
}

TEST(CanvasTests, MisuseDoesNotSpoilTheFrame)
{
    Bitmap bitmap = makeBitmap(4, 4);
    Canvas canvas(bitmap);
    canvas.setFillColor(red);
    canvas.restore();
    EXPECT_EQ(canvas.saveDepth(), 0u);

    // A collapsed space shows nothing until restored; a non-finite transform is ignored.
    canvas.save();
    canvas.scaleBy(0, 1);
    canvas.fillRect(Rect{0, 0, 4, 4});
    EXPECT_EQ(bitmap.pixel(1, 1), clear);
    canvas.restore();
    canvas.save();
    canvas.translate(INFINITY, 0);
    canvas.concat(AffineTransform{std::nan(""), 0, 0, 1, 0, 0});
    canvas.fillRect(Rect{0, 0, 1, 1});
    canvas.fillRect(Rect{1, 1, std::nan(""), 1});
    canvas.clip(Rect{0, 0, INFINITY, 1});
    canvas.restore();
    canvas.fillRect(Rect{3, 3, 1, 1});
    EXPECT_EQ(bitmap.pixel(0, 0), opaqueRed);
    EXPECT_EQ(bitmap.pixel(3, 3), opaqueRed) << "drawing goes on after every mistake";
}

TEST(CanvasTests, AlphaBitmapsTakeCoverageOnly)
{
    Bitmap mask = makeBitmap(3, 2, PixelFormat::a8);
    Canvas canvas(mask);
    canvas.setFillColor(NativeColor::sRGB(1, 1, 1, 0.5));
    canvas.fillRect(Rect{1, 0, 1, 1});
    EXPECT_EQ(mask.pixel(1, 0), (PremultipliedPixel{0, 0, 0, 128}));
    EXPECT_EQ(mask.row(0).size(), 3u);
    EXPECT_EQ(mask.row(0)[1], 128);
    EXPECT_TRUE(mask.row(2).empty());
    EXPECT_FALSE(Bitmap::create(0, 1));
    EXPECT_FALSE(Bitmap::create(Bitmap::maximumSide + 1, 1));
}

TEST(CanvasTests, GoldenShapes)
{
    // Strokes at scale 2: a curve with round caps, a mitred zigzag, a dashed rectangle, and a
    // quarter ring filled even-odd, each in its own colour.
    Bitmap bitmap = makeBitmap(96, 40);
    Canvas canvas(bitmap, 2);
    canvas.setStrokeColor(NativeColor::sRGB(0.9, 0.2, 0.1));
    canvas.setLineWidth(2);
    canvas.setLineCap(LineCap::round);
    Path curve;
    curve.moveTo(Point{3, 3});
    curve.curveTo(Point{6, 18}, Point{10, -4}, Point{13, 15});
    canvas.stroke(curve);

    canvas.setStrokeColor(NativeColor::sRGB(0.1, 0.5, 0.9));
    canvas.setLineCap(LineCap::butt);
    canvas.setLineJoin(LineJoin::miter);
    Path zigzag;
    zigzag.moveTo(Point{17, 4});
    zigzag.lineTo(Point{21, 16});
    zigzag.lineTo(Point{25, 4});
    zigzag.lineTo(Point{29, 16});
    canvas.stroke(zigzag);

    canvas.setStrokeColor(NativeColor::sRGB(0.2, 0.7, 0.3));
    canvas.setLineWidth(1);
    const double dots[] = {1, 2};
    canvas.setLineDash(dots);
    canvas.strokeRect(Rect{1, 1, 30, 18});
    canvas.setLineDash({});

    canvas.setFillColor(NativeColor::sRGB(0.6, 0.2, 0.8, 0.8));
    Path ring;
    ring.addArc(Point{46, 18}, 10, M_PI, 1.5 * M_PI);
    ring.addArc(Point{46, 18}, 5, 1.5 * M_PI, M_PI, ArcDirection::clockwise);
    ring.close();
    canvas.fill(ring, FillRule::evenOdd);
    graphics_test::expectMatchesGolden(bitmap, "shapes-scale2");
}
