// Shared set-up of the CPU drawing tests: bitmaps with a canvas, the bundled terminal font,
// pixel probes in device pixels, and golden pictures in tests/golden/drawing/.
#pragma once

#include "Platform/Graphics/Bitmap.h"
#include "Platform/Graphics/Canvas.h"
#include "Platform/Graphics/GoldenImage.h"
#include "Platform/Text/Font.h"
#include "Platform/Text/FontRegistry.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace drawing_test {

/// A transparent bitmap of `width` x `height` device pixels with a canvas at `scale`.
struct Surface
{
    platform::Bitmap bitmap;
    std::unique_ptr<platform::Canvas> canvas;

    Surface(int width, int height, double scale = 1.0)
        : bitmap(std::move(*platform::Bitmap::create(width, height))),
          canvas(std::make_unique<platform::Canvas>(bitmap, scale))
    {}

    /// Alpha of the device pixel at (x, y), y counted DOWN from the top row, as pictures are read.
    int alphaAt(int x, int yFromTop) const { return bitmap.pixel(x, bitmap.height() - 1 - yFromTop).alpha; }

    /// Paints the whole bitmap opaque white, so goldens read well in an image viewer.
    void fillWhite()
    {
        canvas->setFillColor(platform::NativeColor::sRGB(1, 1, 1));
        canvas->fillRect(platform::Rect{0, 0, canvas->size().width, canvas->size().height});
    }
};

/// The bundled terminal font at `pointSize`.
inline platform::FontRef terminalFont(double pointSize = 13)
{
    static const bool registered = platform::FontRegistry::registerFile(std::string(VESK_BUNDLE_DIR) +
                                                                        "/Fonts/JetBrainsMono-Regular.ttf");
    (void)registered;
    platform::FontRef font = platform::Font::named("JetBrainsMono-Regular", pointSize);
    EXPECT_TRUE(font) << "the bundled terminal font did not load";
    return font;
}

/// Compares with tests/golden/drawing/<name>.png (VESK_UPDATE_GOLDEN=1 rewrites it).
inline void expectMatchesGolden(const platform::Bitmap& drawn, const std::string& name)
{
    graphics_test::expectMatchesGolden(drawn, "../drawing/" + name);
}

} // namespace drawing_test
