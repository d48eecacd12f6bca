// Golden PNG comparison for drawing tests.
//
// A drawn bitmap is compared with tests/golden/graphics/<name>.png, pixel by pixel, allowing each
// premultiplied component to differ by `tolerance` (antialiasing may change in the last bit between
// library versions). On a mismatch the drawing is written next to the golden as
// <name>.actual.png for review. With VESK_UPDATE_GOLDEN=1 the golden is rewritten instead; look at
// the new picture before committing it.
#pragma once

#include "Platform/Graphics/Bitmap.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <stdexcept>
#include <string>

namespace graphics_test {

inline std::string goldenPath(const std::string& name, const std::string& suffix = ".png")
{
    return std::string(KESTROVAN_GOLDEN_DIR) + "/graphics/" + name + suffix;
}

inline void expectMatchesGolden(const platform::Bitmap& drawn, const std::string& name, int tolerance = 2)
{
    const char* update = std::getenv("VESK_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        ASSERT_TRUE(drawn.writePNG(goldenPath(name))) << "cannot write " << goldenPath(name);
        return;
    }
    std::optional<platform::Bitmap> golden = platform::Bitmap::readPNG(goldenPath(name));
    ASSERT_TRUE(golden) << "no golden image " << goldenPath(name);
    ASSERT_EQ(golden->width(), drawn.width()) << name;
    ASSERT_EQ(golden->height(), drawn.height()) << name;
    int differing = 0;
    std::string first;
    for (int y = 0; y < drawn.height(); ++y) {
        for (int x = 0; x < drawn.width(); ++x) {
            const platform::PremultipliedPixel a = drawn.pixel(x, y), b = golden->pixel(x, y);
            if (std::abs(a.red - b.red) > tolerance || std::abs(a.green - b.green) > tolerance ||
                std::abs(a.blue - b.blue) > tolerance || std::abs(a.alpha - b.alpha) > tolerance) {
                if (differing++ == 0)
                    first = "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
            }
        }
    }
    if (differing > 0) {
        drawn.writePNG(goldenPath(name, ".actual.png"));
        ADD_FAILURE() << name << ": " << differing << " pixels differ from the golden, the first at " << first
                      << " (y-up); the drawing is in " << goldenPath(name, ".actual.png");
    }
}

/// A new bitmap of the given size and format; a test cannot go on without it.
inline platform::Bitmap makeBitmap(int width, int height,
                                   platform::PixelFormat format = platform::PixelFormat::argb32)
{
    std::optional<platform::Bitmap> bitmap = platform::Bitmap::create(width, height, format);
    if (!bitmap)
        throw std::runtime_error("no bitmap");
    return std::move(*bitmap);
}

} // namespace graphics_test
