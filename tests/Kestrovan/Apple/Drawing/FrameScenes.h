// The scenes of the reviewed frame pictures (tests/golden/drawing/frame-*.png): what each feeds
// its terminal and adds to its snapshot. The CPU drawing tests draw them and compare with the
// pictures; the GPU renderer's tests draw the same scenes and compare with the same pictures.
#pragma once

#include "FrameDrawingTestSupport.h"

#include "Kestrovan/Apple/InlineImageInsertion.h"
#include "Kestrovan/Base64.h"
#include "Platform/Image/PngImage.h"
#include "Platform/Text/FontSet.h"

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace drawing_test {

/// Decorations of every kind, a wide CJK pair with a curly underline, concealed, bold and italic
/// text, colours, true colours and reverse video (40 x 6 cells).
inline void feedTextDecorations(FrameScene& scene)
{
    scene.feed("\x1b[4msingle\x1b[0m \x1b[4:2mdouble\x1b[0m \x1b[4:3mcurly\x1b[0m \x1b[4:4mdotted\x1b[0m "
               "\x1b[4:5mdashed\x1b[0m\r\n");
    scene.feed("\x1b[9mstrike\x1b[0m \x1b[4:3;58;5;1m\xe4\xb8\xad\xe6\x96\x87\x1b[0m "
               "[\x1b[8mhidden\x1b[0m] \x1b[1mbold\x1b[0m \x1b[3mitalic\x1b[0m\r\n");
    scene.feed("\x1b[31mred \x1b[42mon green\x1b[0m \x1b[38;2;40;90;200;48;2;250;220;120mtrue\x1b[0m "
               "\x1b[7mreverse\x1b[0m\r\n");
}

/// A single line, a double-width line and the two halves of a double-height line, each with
/// text, a background, a Powerline arrow, box drawing and an underline (24 x 5 cells).
inline void feedDoubledLines(FrameScene& scene)
{
    const std::string_view line =
        "Ab\x1b[44;97m go \x1b[0;34m\xee\x82\xb0\x1b[0m\xe2\x94\x80\xe2\x94\xbc\xe2\x94\x80 \x1b[4mx\x1b[0m";
    for (const char* prefix : {"", "\x1b#6", "\x1b#3", "\x1b#4"}) {
        scene.feed(prefix);
        scene.feed(line);
        scene.feed("\r\n");
    }
}

/// A kitty image of `width` x `height` pixels whose rows are painted by `rowColour(y)`.
inline kestrovan::KittyGraphicsRenderImage
kittyImage(uint32_t id, int width, int height, const std::function<std::array<uint8_t, 4>(int)>& rowColour)
{
    std::vector<uint8_t> rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto colour = rowColour(y);
            rgba.insert(rgba.end(), colour.begin(), colour.end());
        }
    kestrovan::KittyGraphicsRenderImage image;
    image.imageId = id;
    image.width = width;
    image.height = height;
    image.rgba = std::make_shared<const std::vector<uint8_t>>(std::move(rgba));
    image.contentGeneration = id;
    return image;
}

inline kestrovan::KittyGraphicsRenderPlacement kittyPlacement(uint64_t token, uint32_t image,
                                                              kestrovan::KittyGraphicsCellGeometry cells,
                                                              int32_t z,
                                                              kestrovan::KittyGraphicsPixelRect source)
{
    kestrovan::KittyGraphicsRenderPlacement made;
    made.token = token;
    made.imageId = image;
    made.geometry = cells;
    made.zIndex = z;
    made.visibleSource = source;
    return made;
}

/// Text on an explicit background and plain text, for the kitty layers (32 x 4 cells).
inline void feedKittyLayersText(FrameScene& scene)
{
    scene.feed(
        "\x1b[43mAAAAAA\x1b[0m  \x1b[43mBBBBBB\x1b[0m  \x1b[43mCCCCCC\x1b[0m\r\nAAAAAA  BBBBBB  CCCCCC");
}

/// Red below the backgrounds, green below the text, translucent blue above it, and a picture of
/// three bands three rows high from `tallRow`.
inline void addKittyLayers(FrameScene& scene, int64_t tallRow)
{
    kestrovan::KittyGraphicsRenderSnapshot& kitty = scene.snapshot.kitty.renderSnapshot;
    kitty.imagesById[1] = kittyImage(1, 2, 2, [](int) { return std::array<uint8_t, 4>{220, 30, 30, 255}; });
    kitty.imagesById[2] = kittyImage(2, 2, 2, [](int) { return std::array<uint8_t, 4>{30, 180, 60, 255}; });
    kitty.imagesById[3] = kittyImage(3, 2, 2, [](int) { return std::array<uint8_t, 4>{40, 60, 230, 140}; });
    kitty.imagesById[4] = kittyImage(4, 6, 30, [](int y) {
        return y < 10   ? std::array<uint8_t, 4>{250, 160, 0, 255}
               : y < 20 ? std::array<uint8_t, 4>{0, 150, 160, 255}
                        : std::array<uint8_t, 4>{120, 0, 160, 255};
    });
    kitty.placements = {
        kittyPlacement(1, 1, {0, 0, 6, 2}, -1'073'741'825, {0, 0, 2, 2}),
        kittyPlacement(2, 2, {8, 0, 6, 2}, -1'073'741'824, {0, 0, 2, 2}),
        kittyPlacement(3, 3, {16, 0, 6, 2}, 0, {0, 0, 2, 2}),
        kittyPlacement(4, 4, {26, tallRow, 3, 3}, 5, {0, 0, 6, 30}),
    };
}

/// The default background at half alpha, with translucent cell backgrounds: cells of their own
/// colour and default cells (12 x 2 cells).
inline void setUpTranslucentBackgrounds(FrameScene& scene)
{
    scene.view.translucentCellBackgrounds = true;
    scene.view.appearance.effectiveBackgroundColor = kestrovan::FrameColor{0.1, 0.1, 0.2, 0.5};
    scene.feed("\x1b[41m    \x1b[0m    \x1b[44m    \x1b[0m");
}

/// A prompt of Powerline segments with the cursor, a steady block, on the second arrow
/// (24 x 2 cells).
inline void feedPowerlinePrompt(FrameScene& scene)
{
    scene.feed("\x1b[97;44m ~/src \x1b[34;42m\xee\x82\xb0\x1b[30m main \x1b[0;32m\xee\x82\xb0\x1b[0m $ ");
    scene.feed("\x1b[1;15H\x1b[2 q");
}

/// A host that makes inline pictures as the view does, with a measured 8 x 16 point cell.
class ImageHost : public kestrovan::testing::RecordingTerminalDelegate
{
public:
    std::optional<kestrovan::InlineImageMetrics> metrics =
        kestrovan::InlineImageMetrics{platform::Size{8, 16}, 1};
    int strips = 0;

    void createImage(kestrovan::Terminal& source, TerminalDelegate::Bytes data,
                     kestrovan::ImageSizeRequest width, kestrovan::ImageSizeRequest height,
                     bool preserveAspectRatio) override
    {
        strips += kestrovan::createImage(source, data, width, height, preserveAspectRatio, metrics);
    }
    void createImageFromBitmap(kestrovan::Terminal& source, std::vector<uint8_t>& bytes, int width,
                               int height) override
    {
        strips += kestrovan::createImageFromBitmap(source, bytes, width, height, metrics);
    }
};

/// A PNG of `width` x `height`: a red top half and a blue bottom half.
inline std::vector<uint8_t> twoBandPng(int width, int height)
{
    std::vector<uint8_t> rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            rgba.insert(rgba.end(),
                        {uint8_t(y < height / 2 ? 230 : 20), 40, uint8_t(y < height / 2 ? 30 : 220), 255});
    return platform::encodePng(rgba, width, height);
}

inline std::string osc1337(const std::vector<uint8_t>& file, std::string_view arguments)
{
    return "\x1b]1337;File=inline=1;" + std::string(arguments) + ":" + kestrovan::base64Encode(file) + "\x07";
}

/// A 160 x 90 picture 10 cells wide under a line of text, then the prompt after it: three strips
/// hang from their rows' top edges (24 x 6 cells).
inline void feedInlineImage(FrameScene& scene)
{
    auto host = std::make_shared<ImageHost>();
    kestrovan::TerminalOptions options = kestrovan::TerminalOptions::defaults();
    options.cols = scene.terminal.t().cols();
    options.rows = scene.terminal.t().rows();
    scene.terminal.terminal = kestrovan::Terminal::create(host, options);
    scene.feed("picture:\r\n  ");
    scene.feed(osc1337(twoBandPng(160, 90), "width=10"));
    scene.feed("\r$ ");
}

/// DejaVu Sans Mono, whose italics are its upright faces slanted: upright, italic, bold italic,
/// underlined italic and italic on a background (24 x 4 cells).
inline void feedItalicsWithoutItalicFaces(FrameScene& scene)
{
    const platform::FontSet fonts =
        platform::FontSet::fromNormal(platform::Font::named("DejaVu Sans Mono", 12));
    ASSERT_TRUE(fonts.italic && fonts.italic->obliqueShear() > 0);
    scene.view.fonts = kestrovan::FrameFontSet(fonts);
    scene.feed("upright \x1b[3mitalic |l\x1b[0m\r\n");
    scene.feed("\x1b[1mbold \x1b[3mbold italic\x1b[0m\r\n");
    scene.feed("\x1b[3;4mitalic underlined\x1b[0m\r\n");
    scene.feed("\x1b[3;44;97m on blue \x1b[0m\x1b[1;3;31m red\x1b[0m");
}

} // namespace drawing_test
