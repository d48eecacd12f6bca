// Pictures a program prints, in the GTK window: a Sixel image written by img2sixel and an OSC 1337
// PNG, both from the shell in the view, show in the window as the reviewed golden picture has them,
// and go up and off the screen with their lines as the program prints line feeds.
//
// Regression: the window showed neither picture (the view left both to its delegate's empty
// defaults), while the device attributes reply advertised Sixel.
#include "TerminalGuiFixture.h"

#include "Kestrovan/Base64.h"
#include "Kestrovan/Buffer.h"
#include "Platform/Image/PngImage.h"

#include <array>
#include <tuple>

namespace {

using namespace std::chrono_literals;
using guitest::spinUntil;

/// A picture of flat rectangles, `columns` x `rows` blocks of `block` pixels, each block one of
/// `colours` in turn: few colours, so a Sixel encoder's palette holds them exactly.
std::vector<uint8_t> blocksPng(int columns, int rows, int block, const std::vector<uint32_t>& colours)
{
    const int width = columns * block, height = rows * block;
    std::vector<uint8_t> rgba(size_t(width) * size_t(height) * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t colour = colours[size_t((y / block) * columns + x / block) % colours.size()];
            uint8_t* pixel = &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4];
            pixel[0] = uint8_t(colour >> 16);
            pixel[1] = uint8_t(colour >> 8);
            pixel[2] = uint8_t(colour);
            pixel[3] = 255;
        }
    return platform::encodePng(rgba, width, height);
}

void writeFile(const std::string& path, std::string_view bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

class InlinePictureGuiTests : public guitest::TerminalGuiTest
{
protected:
    /// Picture strips on the screen's rows (the viewport), by row.
    std::vector<int> stripsByRow()
    {
        return view->withTerminal(
            [](kestrovan::Terminal& terminal) {
                const kestrovan::Buffer& buffer = terminal.buffer();
                std::vector<int> counts(size_t(terminal.rows()), 0);
                for (int row = 0; row < terminal.rows(); ++row)
                    if (const auto& images = buffer.lines().lineOrEmpty(buffer.yDisp() + row).images())
                        counts[size_t(row)] = int(images->size());
                return counts;
            },
            "InlinePictureGuiTests");
    }
    int stripCount()
    {
        int total = 0;
        for (int count : stripsByRow())
            total += count;
        return total;
    }
    /// The first screen row with a strip, or -1.
    /// Prints both pictures from the shell, compares the window with the golden picture `golden`,
    /// and scrolls them away; the window is at `scale` device pixels a point.
    void showAndScrollAway(const std::string& golden, double scale);
    /// Takes screenshots of the window until one passes `test` or 10 s pass, and keeps the last
    /// as `name` (in `last` too when given); whether it passed.
    bool screenshotWhere(const std::function<bool(const guitest::Screenshot&)>& test, const std::string& name,
                         guitest::Screenshot* last = nullptr)
    {
        guitest::Screenshot shot;
        const bool passed = spinUntil(
            [&] {
                shot = guitest::screenshot(xid());
                return test(shot);
            },
            10s);
        keep(shot, name);
        if (last)
            *last = std::move(shot);
        return passed;
    }
    int firstStripRow()
    {
        const std::vector<int> rows = stripsByRow();
        for (size_t row = 0; row < rows.size(); ++row)
            if (rows[row] > 0)
                return int(row);
        return -1;
    }
};

void InlinePictureGuiTests::showAndScrollAway(const std::string& golden, double scale)
{
    if (std::system("command -v img2sixel >/dev/null 2>&1") != 0)
        FAIL() << "img2sixel is not installed (tools/setup installs libsixel-bin)";
    guitest::TemporaryDirectory folder;
    // The Sixel picture: 48 x 36 pixels in blocks of five colours, 36 pixels being six Sixel bands.
    const std::vector<uint8_t> sixelSource =
        blocksPng(4, 3, 12, {0xD02020, 0x20B040, 0x2040D0, 0xE0C020, 0xF0F0F0});
    writeFile(folder.path + "/sixel.png",
              std::string_view(reinterpret_cast<const char*>(sixelSource.data()), sixelSource.size()));
    // The OSC 1337 picture: 64 x 32 pixels in blocks of three colours, at its own size.
    const std::vector<uint8_t> png = blocksPng(8, 4, 8, {0xC030C0, 0x30C0C0, 0xF0F0F0});
    writeFile(folder.path + "/osc.txt",
              "\x1b]1337;File=inline=1;width=auto;height=auto:" + kestrovan::base64Encode(png) + "\x07");

    open(320, 240);
    ASSERT_TRUE(spinUntil([&] { return view->backingScale() == scale; }));
    // No echo and no caret, so only the pictures are drawn; then each line the program reads is a
    // count of line feeds to print.
    run("stty -echo; printf '\\033[?25l'; img2sixel '" + folder.path + "/sixel.png'; cat '" + folder.path +
        "/osc.txt'; while read n; do i=0; while [ $i -lt $n ]; do echo; i=$((i+1)); done; done");
    const double cellHeight = view->cellDimension()->height;
    const int rows = view->terminalDimensions().rows;
    // A strip per started cell row of each picture, from the top row down; a picture's pixel is a
    // device pixel.
    const int sixelStrips = int(std::ceil(36 / scale / cellHeight));
    const int pngStrips = int(std::ceil(32 / scale / cellHeight));
    ASSERT_TRUE(spinUntil([&] { return stripCount() == sixelStrips + pngStrips; }, 10s)) << stripCount();
    EXPECT_EQ(firstStripRow(), 0);
    guitest::Screenshot shown;
    screenshotWhere([&](const guitest::Screenshot& shot) { return guitest::matchesGolden(shot, golden); },
                    golden, &shown);
    guitest::expectMatchesGolden(shown, golden);
    const uint32_t background = shown.pixel(shown.width - 1, shown.height - 1);
    // The golden screenshot moved up by `pixels`, the background coming in below.
    auto movedUp = [&](int pixels) {
        return [&shown, background, pixels](const guitest::Screenshot& shot) {
            if (shot.width != shown.width || shot.height != shown.height)
                return false;
            for (int y = 0; y < shot.height; ++y)
                for (int x = 0; x < shot.width; ++x)
                    if (shot.pixel(x, y) !=
                        (y + pixels < shown.height ? shown.pixel(x, y + pixels) : background))
                        return false;
            return true;
        };
    };

    // Line feeds that scroll the screen by two lines: the pictures' pixels go up two cells, and
    // the strips of the top two lines leave the screen.
    const int shift = 2;
    const int cursorRow = view->withTerminal(
        [](kestrovan::Terminal& terminal) { return terminal.buffer().y(); }, "InlinePictureGuiTests");
    ASSERT_EQ(cursorRow, sixelStrips + pngStrips) << "the cursor on the line under the pictures";
    view->send(std::to_string(rows - 1 - cursorRow + shift) + "\n");
    EXPECT_TRUE(spinUntil([&] { return stripCount() == sixelStrips + pngStrips - shift; }, 10s))
        << stripCount();
    EXPECT_TRUE(screenshotWhere(movedUp(int(std::lround(shift * cellHeight * scale))), golden + "-scrolled"))
        << "the pictures did not move up with their lines";

    // A screenful more: the pictures are gone from the screen and the window.
    view->send(std::to_string(rows) + "\n");
    EXPECT_TRUE(spinUntil([&] { return stripCount() == 0; }, 10s)) << stripCount();
    EXPECT_TRUE(screenshotWhere(movedUp(shown.height), golden + "-gone"))
        << "the pictures stayed in the window";
}

TEST_F(InlinePictureGuiTests, AJpegAndAGifShowTheirPixelsAtTheirOwnSize)
{
    // The pictures of tests/data/images/: 64 x 32 pixels of 8 x 8 blocks in colours taken in turn,
    // the JPEG's kept by its compression within a few levels in each block's middle, the GIF's
    // first frame exactly (its second frame is black).
    const std::vector<uint32_t> jpegColours{0xC03030, 0x30A040, 0x3050D0, 0xE0C020, 0xF0F0F0};
    const std::vector<uint32_t> gifColours{0xD020A0, 0x20B0B0, 0xF08010};
    guitest::TemporaryDirectory folder;
    std::string output;
    for (const char* name : {"blocks.jpg", "blocks.gif"}) {
        const std::string bytes = guitest::fileText(std::string(KESTROVAN_TEST_DATA_DIR) + "/images/" + name);
        ASSERT_FALSE(bytes.empty()) << name;
        output +=
            "\x1b]1337;File=inline=1;width=auto;height=auto:" +
            kestrovan::base64Encode(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())) +
            "\x07";
    }
    writeFile(folder.path + "/osc.txt", output);

    open(320, 240);
    ASSERT_TRUE(spinUntil([&] { return view->backingScale() == 1; }));
    // No echo and no caret, so only the pictures are drawn; the program then waits for a line.
    run("stty -echo; printf '\\033[?25l'; cat '" + folder.path + "/osc.txt'; read line");
    const double cellHeight = view->cellDimension()->height;
    const int stripsEach = int(std::ceil(32 / cellHeight));
    ASSERT_TRUE(spinUntil([&] { return stripCount() == 2 * stripsEach; }, 10s)) << stripCount();
    EXPECT_EQ(firstStripRow(), 0);

    // Each block's middle pixel, the JPEG's from the top and the GIF's from the line under it.
    const int gifTop = int(std::lround(stripsEach * cellHeight));
    auto blocksShown = [&](const guitest::Screenshot& shot, std::string* wrong) {
        for (int by = 0; by < 4; ++by)
            for (int bx = 0; bx < 8; ++bx)
                for (const auto& [top, colours, tolerance] :
                     {std::tuple(0, &jpegColours, 8), std::tuple(gifTop, &gifColours, 0)}) {
                    const int x = bx * 8 + 4, y = top + by * 8 + 4;
                    const uint32_t expected = (*colours)[size_t(by * 8 + bx) % colours->size()];
                    const uint32_t shown = shot.pixel(x, y);
                    for (int shift : {16, 8, 0})
                        if (std::abs(int((shown >> shift) & 0xFF) - int((expected >> shift) & 0xFF)) >
                            tolerance) {
                            if (wrong)
                                *wrong = "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
                            return false;
                        }
                }
        return true;
    };
    guitest::Screenshot shown;
    EXPECT_TRUE(screenshotWhere([&](const guitest::Screenshot& shot) { return blocksShown(shot, nullptr); },
                                "inline-pictures-jpeg-gif", &shown));
    std::string wrong;
    EXPECT_TRUE(blocksShown(shown, &wrong)) << "the block at " << wrong << " shows another colour";
    // The whole window, the JPEG's pixels within a few levels.
    guitest::expectMatchesGolden(shown, "inline-pictures-jpeg-gif", 8);
}

TEST_F(InlinePictureGuiTests, ASixelAndAnOsc1337PictureShowAndScrollAwayWithTheirLines)
{
    showAndScrollAway("inline-pictures", 1);
}

TEST_F(InlinePictureGuiTests, Scale2ShowsEachPicturePixelAsOneDevicePixel)
{
    showAndScrollAway("inline-pictures-scale2", 2);
}

} // namespace
