#include "GoldenImage.h"

#include "Platform/Graphics/Canvas.h"
#include "Platform/Text/FontSet.h"
#include "Platform/Text/ShapedLine.h"
#include "Platform/Text/TextTestFonts.h"

#include <cmath>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;
using graphics_test::makeBitmap;

namespace {

/// The device-pixel box of everything drawn: {minX, minY, maxX + 1, maxY + 1}, y-up; all zero when
/// nothing is.
struct Ink
{
    int minX = INT32_MAX, minY = INT32_MAX, maxX = -1, maxY = -1;
    int pixels = 0;
};

Ink inkOf(const Bitmap& bitmap)
{
    Ink ink;
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x)
            if (bitmap.pixel(x, y).alpha > 0) {
                ink.minX = std::min(ink.minX, x);
                ink.minY = std::min(ink.minY, y);
                ink.maxX = std::max(ink.maxX, x + 1);
                ink.maxY = std::max(ink.maxY, y + 1);
                ++ink.pixels;
            }
    return ink;
}

/// Draws one glyph of `font` for `scalar` with its origin at `origin` on a canvas at `scale`.
Bitmap drawScalar(const Font& font, char32_t scalar, Point origin, double scale, int width, int height,
                  TextAntialias antialias = TextAntialias::gray)
{
    Bitmap bitmap = makeBitmap(width, height);
    Canvas canvas(bitmap, scale);
    canvas.setFillColor(NativeColor::sRGB(0.2, 0.4, 0.8));
    canvas.setTextAntialias(antialias);
    const GlyphId glyph = font.glyph(scalar).value_or(0);
    canvas.drawGlyphs(font, std::span(&glyph, 1), std::span(&origin, 1));
    return bitmap;
}

/// Draws every run of `line` with its pen starting at `baseline`.
void drawLine(Canvas& canvas, const ShapedLine& line, Point baseline)
{
    for (const ShapedRun& run : line.runs()) {
        std::vector<GlyphId> glyphs;
        std::vector<Point> positions;
        for (const ShapedGlyph& glyph : line.glyphs(run)) {
            glyphs.push_back(glyph.glyph);
            positions.push_back(Point{baseline.x + glyph.x, baseline.y + glyph.y});
        }
        canvas.drawGlyphs(*run.font, glyphs, positions);
    }
}

/// The alpha-weighted mean x of row `y`'s ink, in device pixels; NaN for a row without ink.
double inkCentre(const Bitmap& bitmap, int y)
{
    double sum = 0, weight = 0;
    for (int x = 0; x < bitmap.width(); ++x) {
        sum += (x + 0.5) * bitmap.pixel(x, y).alpha;
        weight += bitmap.pixel(x, y).alpha;
    }
    return weight > 0 ? sum / weight : NAN;
}

} // namespace

TEST(GlyphDrawingTests, GlyphsDrawUprightInsideTheirBounds)
{
    FontRef font = textfonts::terminalFont(12);
    ASSERT_TRUE(font);
    for (char32_t scalar : {U'H', U'g', U'T', U'j'}) {
        const Point origin{3, 6};
        const Bitmap bitmap = drawScalar(*font, scalar, origin, 2, 40, 48);
        const Ink ink = inkOf(bitmap);
        const GlyphBounds bounds = font->bounds(*font->glyph(scalar));
        ASSERT_GT(ink.pixels, 10) << char(scalar);
        // The outline's own box, at scale 2 and with a pixel of slack for antialiasing.
        EXPECT_GE(ink.minX, std::floor((origin.x + bounds.x) * 2) - 1) << char(scalar);
        EXPECT_LE(ink.maxX, std::ceil((origin.x + bounds.x + bounds.width) * 2) + 1) << char(scalar);
        EXPECT_GE(ink.minY, std::floor((origin.y + bounds.y) * 2) - 1) << char(scalar);
        EXPECT_LE(ink.maxY, std::ceil((origin.y + bounds.y + bounds.height) * 2) + 1) << char(scalar);
        EXPECT_NEAR(ink.maxY - ink.minY, bounds.height * 2, 2.5) << char(scalar);
    }

    // Upright, not mirrored: the bar of a T is at its top, and g hangs below the baseline.
    const Bitmap t = drawScalar(*font, U'T', Point{3, 6}, 2, 40, 48);
    const Ink tInk = inkOf(t);
    auto rowWidth = [&](int y) {
        int count = 0;
        for (int x = 0; x < t.width(); ++x)
            count += t.pixel(x, y).alpha > 127;
        return count;
    };
    EXPECT_GT(rowWidth(tInk.maxY - 2), 3 * rowWidth(tInk.minY + 1));
    EXPECT_LT(inkOf(drawScalar(*font, U'g', Point{3, 6}, 2, 40, 48)).minY, 12)
        << "descender below y 6 points";

    // The fill colour is the glyph's colour; without antialiasing every pixel is in or out.
    const Bitmap hard = drawScalar(*font, U'H', Point{3, 6}, 2, 40, 48, TextAntialias::none);
    for (int y = 0; y < hard.height(); ++y)
        for (int x = 0; x < hard.width(); ++x) {
            const PremultipliedPixel p = hard.pixel(x, y);
            ASSERT_TRUE(p.alpha == 0 || p == (PremultipliedPixel{51, 102, 204, 255})) << x << ", " << y;
        }
}

TEST(GlyphDrawingTests, SizesScalesAndMasks)
{
    FontRef font = textfonts::terminalFont(12);
    ASSERT_TRUE(font);
    const GlyphId h = *font->glyph(U'H');
    const Point origin{2, 2};

    // A run at twice the size is twice as tall, about its own origin.
    Bitmap bitmap = makeBitmap(60, 60);
    Canvas canvas(bitmap);
    canvas.drawGlyphs(*font, 24, std::span(&h, 1), std::span(&origin, 1));
    const Ink doubled = inkOf(bitmap);
    EXPECT_NEAR(doubled.maxY - doubled.minY, font->bounds(h).height * 2, 1.5);
    EXPECT_LE(doubled.minY, 3);

    // Scaled unevenly by the transform, as wide glyphs squeezed into their cells are.
    Bitmap squeezed = makeBitmap(60, 60);
    Canvas narrow(squeezed);
    narrow.translate(2, 2);
    narrow.scaleBy(0.5, 2);
    const Point zero{0, 0};
    narrow.drawGlyphs(*font, std::span(&h, 1), std::span(&zero, 1));
    const Ink squeezedInk = inkOf(squeezed);
    EXPECT_NEAR(squeezedInk.maxY - squeezedInk.minY, font->bounds(h).height * 2, 1.5);
    EXPECT_NEAR(squeezedInk.maxX - squeezedInk.minX, font->bounds(h).width / 2, 2);

    // An alpha-only bitmap takes the glyph's coverage, for glyph masks.
    Bitmap mask = makeBitmap(30, 30, PixelFormat::a8);
    Canvas masked(mask);
    masked.setFillColor(NativeColor::sRGB(1, 1, 1));
    masked.drawGlyphs(*font, std::span(&h, 1), std::span(&origin, 1));
    EXPECT_GT(inkOf(mask).pixels, 20);

    // Mismatched spans draw only the pairs, and bad sizes or positions nothing.
    Bitmap none = makeBitmap(30, 30);
    Canvas idle(none);
    const Point bad{NAN, 2};
    idle.drawGlyphs(*font, std::span(&h, 1), std::span<const Point>());
    idle.drawGlyphs(*font, -3, std::span(&h, 1), std::span(&origin, 1));
    idle.drawGlyphs(*font, std::span(&h, 1), std::span(&bad, 1));
    EXPECT_EQ(inkOf(none).pixels, 0);
}

TEST(GlyphDrawingTests, ShapedRunsWithFallbackAndColourGlyphs)
{
    FontRef font = textfonts::terminalFont(12);
    ASSERT_TRUE(font);
    const std::u16string text = u"Ag\u6f22\U0001F600";
    const FontRun runs[] = {{uint32_t(text.size()), font}};
    const ShapedLine line = ShapedLine::shape(text, runs);
    ASSERT_GE(line.runs().size(), 3u) << "the CJK and emoji come from fallback faces";

    Bitmap bitmap = makeBitmap(100, 40);
    Canvas canvas(bitmap, 2);
    canvas.setFillColor(NativeColor::sRGB(0.1, 0.1, 0.1));
    drawLine(canvas, line, Point{2, 5});
    // The emoji keeps its own colours: somewhere its pixels are far from grey.
    int coloured = 0;
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x) {
            const PremultipliedPixel p = bitmap.pixel(x, y);
            coloured += std::abs(p.red - p.blue) > 60;
        }
    EXPECT_GT(coloured, 20);
    graphics_test::expectMatchesGolden(bitmap, "glyphs-scale2", 8);
}

TEST(GlyphDrawingTests, SlantedFontsLeanTheirInkInsideTheirBounds)
{
    // DejaVu Sans Mono has no italic faces among the tests' fonts: its italics are slanted faces.
    const FontSet set = FontSet::fromNormal(Font::named("DejaVu Sans Mono", 16));
    ASSERT_TRUE(set.normal);
    const struct
    {
        const FontRef& font;
        const char* name;
        double lean;
    } fonts[] = {
        {set.normal, "upright", 0}, {set.italic, "italic", 0.2}, {set.boldItalic, "bold italic", 0.2}};
    for (const auto& f : fonts) {
        SCOPED_TRACE(f.name);
        // A vertical bar leans as the whole font does: its centre moves right by the shear for
        // every pixel it rises.
        const Point origin{4, 6};
        const Bitmap bar = drawScalar(*f.font, U'|', origin, 4, 80, 110);
        const Ink ink = inkOf(bar);
        ASSERT_GT(ink.maxY - ink.minY, 60);
        const int low = ink.minY + 4, high = ink.maxY - 5;
        EXPECT_NEAR((inkCentre(bar, high) - inkCentre(bar, low)) / (high - low), f.lean, 0.02);

        // All ink stays inside the glyph's bounds, which lean with it.
        for (char32_t scalar : {U'|', U'H', U'g', U'f', U'W'}) {
            const Ink drawn = inkOf(drawScalar(*f.font, scalar, origin, 4, 80, 110));
            const GlyphBounds bounds = f.font->bounds(*f.font->glyph(scalar));
            EXPECT_GE(drawn.minX, std::floor((origin.x + bounds.x) * 4) - 1) << char(scalar);
            EXPECT_LE(drawn.maxX, std::ceil((origin.x + bounds.x + bounds.width) * 4) + 1) << char(scalar);
            EXPECT_GE(drawn.minY, std::floor((origin.y + bounds.y) * 4) - 1) << char(scalar);
            EXPECT_LE(drawn.maxY, std::ceil((origin.y + bounds.y + bounds.height) * 4) + 1) << char(scalar);
        }
    }
}

TEST(GlyphDrawingTests, GoldenItalicsOfAFamilyWithoutItalicFaces)
{
    // The four styles of DejaVu Sans Mono, whose italics are its book and bold faces slanted, each
    // with an accent the shaper places along the slant.
    const FontSet set = FontSet::fromNormal(Font::named("DejaVu Sans Mono", 12));
    ASSERT_TRUE(set.normal);
    Bitmap bitmap = makeBitmap(240, 136);
    Canvas canvas(bitmap, 2);
    canvas.setFillColor(NativeColor::sRGB(1, 1, 1));
    canvas.fillRect(Rect{0, 0, 120, 68});
    canvas.setFillColor(NativeColor::sRGB(0.1, 0.1, 0.1));
    const FontRef* styles[] = {&set.normal, &set.bold, &set.italic, &set.boldItalic};
    for (int row = 0; row < 4; ++row) {
        const std::u16string text = u"Hellf|gy q\u0301 W_";
        const FontRun runs[] = {{uint32_t(text.size()), *styles[row]}};
        drawLine(canvas, ShapedLine::shape(text, runs), Point{4, 52 - 16.0 * row});
    }
    graphics_test::expectMatchesGolden(bitmap, "oblique-scale2", 8);
}

TEST(GlyphDrawingTests, CanvasesOnSeveralThreadsShareFacesAndImages)
{
    FontRef font = textfonts::terminalFont(11);
    ASSERT_TRUE(font);
    std::shared_ptr<const NativeImage> image =
        NativeImage::fromRGBA(2, 1, std::vector<uint8_t>{255, 0, 0, 255, 0, 0, 255, 128});
    ImageBitmapCache cache;
    std::vector<std::thread> threads;
    std::vector<int> inked(4);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            Bitmap bitmap = makeBitmap(80, 20);
            Canvas canvas(bitmap, 1, cache);
            for (int round = 0; round < 20; ++round) {
                canvas.drawImage(image, Rect{0, 0, 80, 20});
                const GlyphId glyph = *font->glyph(U'A' + char32_t(round));
                const Point origin{double(round * 4), 4};
                canvas.drawGlyphs(*font, 11 + t, std::span(&glyph, 1), std::span(&origin, 1));
            }
            inked[t] = inkOf(bitmap).pixels;
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int count : inked)
        EXPECT_EQ(count, 80 * 20);
    // Threads that miss at once may each convert; one bitmap is kept.
    EXPECT_LE(cache.conversions(), 4u);
    EXPECT_EQ(cache.count(), 1u);
}
