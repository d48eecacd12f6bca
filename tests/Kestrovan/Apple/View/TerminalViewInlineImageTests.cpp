// Inline pictures fed to a view: OSC 1337 files and Sixel images become strips on the lines under
// the cursor, sized by the view's own cell, and the cursor moves down a line per strip.
//
// Regression: fed to a view with 8x18-point cells, an OSC 1337 picture of 160x90 pixels 10 cells
// wide placed nothing and left the cursor where it was (3 strips and 3 lines expected), and a Sixel
// image showed nothing: the view left both to the delegate's empty defaults.
#include "TerminalViewTestSupport.h"

#include "Kestrovan/Apple/AppleImage.h"
#include "Kestrovan/Base64.h"
#include "Kestrovan/Buffer.h"
#include "Platform/Image/PngImage.h"
#include "Platform/Text/Font.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

namespace kestrovan {
namespace {

using testing::ViewFixture;

/// A view in the bundled terminal font at 13 points: cells of 8 x 18 points.
struct ImageViewFixture : ViewFixture
{
    ImageViewFixture()
        : ViewFixture(TerminalOptions::defaults(), {640, 480},
                      [](platform::Size size, TerminalView::Configuration configuration) {
                          configuration.font = platform::Font::fromFile(
                              std::string(VESK_BUNDLE_DIR) + "/Fonts/JetBrainsMono-Regular.ttf", 0, 13);
                          return TerminalView::create(size, std::move(configuration));
                      })
    {}

    /// The strips on the active buffer's lines, top first, with the line each is on.
    std::vector<std::pair<int, const AppleImage*>> strips()
    {
        return locked([](Terminal& terminal) {
            std::vector<std::pair<int, const AppleImage*>> found;
            const Buffer& buffer = terminal.buffer();
            for (int line = 0; line < buffer.lines().count(); ++line)
                if (const auto& images = buffer.lines().lineOrEmpty(line).images())
                    for (const auto& image : *images)
                        if (const auto* strip = dynamic_cast<const AppleImage*>(image.get()))
                            found.emplace_back(line, strip);
            return found;
        });
    }
    int cursorLine()
    {
        return locked([](Terminal& terminal) { return terminal.buffer().y() + terminal.buffer().yBase(); });
    }
};

std::string osc1337Png(int width, int height, std::string_view arguments)
{
    const std::vector<uint8_t> rgba(size_t(width) * size_t(height) * 4, 200);
    return "\x1b]1337;File=inline=1;" + std::string(arguments) + ":" +
           base64Encode(platform::encodePng(rgba, width, height)) + "\x07";
}

/// A picture of tests/data/images/ (64 x 32 pixels), cut to `keep` bytes when given.
std::string osc1337File(const std::string& name, std::string_view arguments, size_t keep = std::string::npos)
{
    std::ifstream file(std::string(KESTROVAN_TEST_DATA_DIR) + "/images/" + name, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    EXPECT_FALSE(bytes.empty()) << name;
    bytes.resize(std::min(keep, bytes.size()));
    return "\x1b]1337;File=inline=1;" + std::string(arguments) + ":" +
           base64Encode(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())) + "\x07";
}

/// A red Sixel image `width` pixels wide and 6 x `bands` pixels high.
std::string sixel(int width, int bands)
{
    std::string body =
        "\x1bPq\"1;1;" + std::to_string(width) + ";" + std::to_string(6 * bands) + "#1;2;100;0;0#1";
    for (int band = 0; band < bands; ++band)
        body += (band ? "-!" : "!") + std::to_string(width) + "~";
    return body + "\x1b\\";
}

TEST(TerminalViewInlineImageTests, PicturesBecomeStripsUnderTheCursorSizedByTheViewsCell)
{
    struct Case
    {
        const char* what;
        std::string output;
        double scale;
        /// The strips' width in points; their height is always one cell.
        int stripWidth;
        /// Strips, each a line the cursor moves down; a function of the screen's rows.
        std::function<int(int rows)> strips;
    };
    const Case cases[] = {
        // 10 cells of 8 points: 80 x 45 points, ceil(45 / 18) strips.
        {"OSC 1337, 10 cells wide, automatic height", osc1337Png(160, 90, "width=10;height=auto"), 1, 80,
         [](int) { return 3; }},
        // Half the screen's height in a box 10 cells wide: the box gives the strips.
        {"OSC 1337, 10 cells wide, half the screen high", osc1337Png(160, 90, "width=10;height=50%"), 1, 80,
         [](int rows) { return int(std::ceil(rows * 0.5)); }},
        {"OSC 1337, its own size", osc1337Png(40, 40, "width=auto;height=auto"), 1, 40,
         [](int) { return 3; }},
        // At two pixels a point, a picture's own size is half as many points.
        {"OSC 1337, its own size at scale 2", osc1337Png(40, 40, "width=auto;height=auto"), 2, 20,
         [](int) { return 2; }},
        // Formats other than PNG: 64 x 32 pixels, ceil(32 / 18) strips.
        {"OSC 1337 JPEG, its own size", osc1337File("blocks.jpg", "width=auto;height=auto"), 1, 64,
         [](int) { return 2; }},
        {"OSC 1337 GIF, 4 cells wide", osc1337File("blocks.gif", "width=4"), 1, 32, [](int) { return 1; }},
        {"Sixel narrower than the text area", sixel(16, 2), 1, 16, [](int) { return 1; }},
        {"Sixel of 7 bands", sixel(16, 7), 1, 16, [](int) { return 3; }},
        // 700 pixels against 80 columns of 8 points (640): shown across the text area.
        {"Sixel wider than the text area", sixel(700, 1), 1, 640, [](int) { return 1; }},
    };
    for (const Case& c : cases) {
        ImageViewFixture f;
        f.host->setScale(c.scale);
        f.settle();
        ASSERT_EQ(f.view->cellDimension(), (platform::Size{8, 18})) << "the bundled font's cell";
        const int rows = f.view->terminalDimensions().rows;
        f.feed("ab");
        const int before = f.cursorLine();
        f.feed(c.output);
        const int expected = c.strips(rows);
        const std::vector<std::pair<int, const AppleImage*>> strips = f.strips();
        ASSERT_EQ(int(strips.size()), expected) << c.what;
        EXPECT_EQ(f.cursorLine() - before, expected) << c.what << ": a line per strip";
        for (int i = 0; i < expected; ++i) {
            const auto& [line, strip] = strips[size_t(i)];
            EXPECT_EQ(line, before + i) << c.what << ": strip " << i << " on its own line, top first";
            EXPECT_EQ(strip->col(), 2) << c.what << ": at the cursor's column";
            EXPECT_EQ(strip->pixelWidth(), c.stripWidth) << c.what;
            EXPECT_EQ(strip->pixelHeight(), 18) << c.what;
        }
        // The strips reach the frame with their rows.
        f.tickUntilPaused();
        const std::shared_ptr<TerminalSnapshot> snapshot = f.view->renderOwner().snapshot();
        ASSERT_TRUE(snapshot) << c.what;
        int shown = 0;
        for (const auto& row : snapshot->rows)
            shown += int(row->images.size());
        EXPECT_EQ(shown, std::min(expected, rows)) << c.what;
    }
}

TEST(TerminalViewInlineImageTests, PicturesThatCannotBeShownLeaveTheScreenAsItWas)
{
    std::string damaged = osc1337Png(160, 90, "width=10;height=auto");
    damaged.replace(damaged.size() / 2, 8, "AAAAAAAA");
    const std::string text = "not a picture";
    const std::string cases[] = {
        "\x1b]1337;File=inline=1;width=10:" +
            base64Encode(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())) + "\x07",
        damaged,
        // A JPEG cut before its frame begins, and a GIF cut in its frames.
        osc1337File("blocks.jpg", "width=10", 150),
        osc1337File("blocks.gif", "width=10", 200),
        // Taller than the longest side a picture may have.
        osc1337Png(16, 17000, "width=auto;height=auto"),
        "\x1bPq\"1;1;1;1\x1b\\",
    };
    for (const std::string& output : cases) {
        ImageViewFixture f;
        f.feed("ab");
        const int before = f.cursorLine();
        f.feed(output);
        EXPECT_TRUE(f.strips().empty());
        EXPECT_EQ(f.cursorLine(), before);
    }
}

} // namespace
} // namespace kestrovan
