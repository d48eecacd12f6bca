// Colours drawn after the terminal's style table was reclaimed, on both renderers.
//
// Output with more distinct looks than the style table holds makes the terminal give unused style
// ids back and give them again to new looks. Everything between the engine and the pixels (the
// render owner's snapshot, the row builders and their caches, the CPU frame and the GPU frame)
// must then read a given-again id as its new look. A stream of words in random true colours is fed
// through the render owner in pieces cut at random bytes, frames are prepared and drawn on both
// paths every few thousand words, and every drawn cell's colours are compared with the engine's
// own cell. Words are spaces (rows the plain path draws) or upper half blocks (rows the shaping
// path draws, with the foreground in the top half and the background in the bottom half), so the
// check needs no glyph outlines. Rows of spaces take the GPU's plain-row path in a plain font.
#include "GpuFrameTestSupport.h"

#include "Kestrovan/Apple/Drawing/DrawingTestSupport.h"
#include "Kestrovan/Apple/FrameTestSupport.h"
#include "Kestrovan/Apple/Metal/MetalTestFonts.h"
#include "Kestrovan/Apple/RenderTestSupport.h"
#include "Kestrovan/Apple/TerminalFrameDrawer.h"
#include "Kestrovan/Buffer.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <string>

namespace {

using namespace kestrovan;

constexpr int cols = 100;
constexpr int rows = 30;
constexpr int cellWidth = 8;
constexpr int cellHeight = 16;

/// Random words in random true colours, foreground and background, each reset after it; a line is
/// all spaces or all half blocks.
std::string colouredWords(std::mt19937& random, int words)
{
    std::string out;
    bool blocks = random() % 2 == 0;
    int column = 0;
    char sgr[64];
    for (int word = 0; word < words; ++word) {
        const int length = 1 + int(random() % 4);
        if (column + length + 1 > cols) {
            out += "\r\n";
            column = 0;
            blocks = random() % 2 == 0;
        }
        const uint32_t fg = random() & 0xFFFFFF;
        const uint32_t bg = random() & 0xFFFFFF;
        std::snprintf(sgr, sizeof sgr, "\x1b[38;2;%u;%u;%um\x1b[48;2;%u;%u;%um", fg >> 16, (fg >> 8) & 0xFF,
                      fg & 0xFF, bg >> 16, (bg >> 8) & 0xFF, bg & 0xFF);
        out += sgr;
        for (int i = 0; i < length; ++i)
            out += blocks ? "\xe2\x96\x80" : " ";
        out += "\x1b[0m ";
        column += length + 1;
    }
    return out;
}

/// What the engine says a visible cell shows: its top and bottom colours when both are true
/// colours, for the cells the check reads.
struct ExpectedCell
{
    int col = 0;
    int row = 0;
    uint32_t top = 0;
    uint32_t bottom = 0;
};

uint32_t rgbOf(Attribute::Color color)
{
    return uint32_t(color.red()) << 16 | uint32_t(color.green()) << 8 | color.blue();
}

std::vector<ExpectedCell> expectedCells(Terminal& terminal)
{
    std::vector<ExpectedCell> cells;
    TerminalLockGuard guard(terminal.terminalLock());
    const Buffer& buffer = terminal.buffer();
    for (int row = 0; row < rows; ++row) {
        const auto line = buffer.lines().lineIfPresent(buffer.yDisp() + row);
        if (!line)
            continue;
        for (int col = 0; col < std::min(cols, line->count()); ++col) {
            const PackedCell cell = line->packed(col);
            const Attribute attribute = line->arena()->attribute(cell);
            if (!attribute.fg.isTrueColor() || !attribute.bg.isTrueColor())
                continue;
            const bool block = cell.scalar() == 0x2580;
            cells.push_back(
                ExpectedCell{col, row, rgbOf(block ? attribute.fg : attribute.bg), rgbOf(attribute.bg)});
        }
    }
    return cells;
}

/// The first cell whose drawn colours are not the engine's, described; empty when all match.
std::string firstWrongCell(const gpu_frame_test::Pixels& pixels, const std::vector<ExpectedCell>& cells)
{
    const auto drawn = [&](int x, int yFromTop) {
        const platform::PremultipliedPixel pixel = pixels.at(x, pixels.height - 1 - yFromTop);
        return uint32_t(pixel.red) << 16 | uint32_t(pixel.green) << 8 | pixel.blue;
    };
    const auto near = [](uint32_t a, uint32_t b) {
        for (int shift : {0, 8, 16}) {
            if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 2)
                return false;
        }
        return true;
    };
    char text[160];
    for (const ExpectedCell& cell : cells) {
        const int x = cell.col * cellWidth + cellWidth / 2;
        const uint32_t top = drawn(x, cell.row * cellHeight + 3);
        const uint32_t bottom = drawn(x, cell.row * cellHeight + cellHeight - 4);
        if (!near(top, cell.top) || !near(bottom, cell.bottom)) {
            std::snprintf(text, sizeof text, "cell %d,%d drawn %06x/%06x, the engine has %06x/%06x", cell.col,
                          cell.row, top, bottom, cell.top, cell.bottom);
            return text;
        }
    }
    return {};
}

TEST(ReclaimedStyleColoursGPUTests, CellsDrawTheirOwnColoursAcrossStyleTableReclaims)
{
    // The terminal font, and a font plain enough for the GPU's plain-row path.
    const platform::FontRef plain = metaltest::testFont("Plain.ttf", 12);
    ASSERT_TRUE(plain);
    for (const uint32_t seed : {1u, 2u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        kestrovan::testing::RenderOwnerFixture f(cols, rows, 30);
        FramePreparationRequest request;
        request.viewState = kestrovan::testing::viewState(cols, rows);
        if (seed == 2)
            request.viewState.fonts = FrameFontSet(plain, plain, plain, plain);
        const platform::Rect bounds = request.viewState.viewBounds;
        gpu_frame_test::GpuRenderer gpu({int(bounds.width), int(bounds.height)});
        ASSERT_TRUE(gpu.renderer);
        ASSERT_TRUE(f.owner->replaceMetalRenderer(gpu.renderer, false));
        TerminalFrameDrawer drawer;
        f.feed("\x1b[?25l");

        int frames = 0;
        uint64_t reclaims = 0;
        uint64_t arenaIdentity = 0;
        {
            TerminalLockGuard guard(f.terminal->terminalLock());
            arenaIdentity = f.terminal->buffer().cellArena()->identity();
        }
        while (reclaims < 2 && frames < 100) {
            // A few thousand words, fed in pieces cut anywhere, sequences and characters included.
            const std::string output = colouredWords(random, 3000 + int(random() % 6000));
            for (size_t at = 0; at < output.size();) {
                const size_t piece = std::min(output.size() - at, size_t(1 + random() % 9000));
                f.feed(std::string_view(output).substr(at, piece));
                at += piece;
            }
            ASSERT_TRUE(f.owner->prepareFrame(request));
            ++frames;
            const std::shared_ptr<TerminalSnapshot> snapshot = f.owner->snapshot();
            {
                // A reclaim gives the terminal's arena a new identity.
                TerminalLockGuard guard(f.terminal->terminalLock());
                const uint64_t identity = f.terminal->buffer().cellArena()->identity();
                reclaims += identity != arenaIdentity;
                arenaIdentity = identity;
            }
            const std::vector<ExpectedCell> expected = expectedCells(*f.terminal);
            ASSERT_GT(expected.size(), size_t(cols * rows / 2));

            drawing_test::Surface cpu(int(bounds.width), int(bounds.height));
            f.owner->withRenderState([&] {
                drawer.drawFrame(*cpu.canvas, bounds, *snapshot, *snapshot->renderContext,
                                 FrameDrawGeometry::of(request.viewState));
            });
            gpu.renderer->render(gpu.target->acquireDrawableFrame());
            const gpu_frame_test::Pixels gpuPixels{int(bounds.width), int(bounds.height),
                                                   gpu.target->readPixels()};
            const std::string cpuWrong = firstWrongCell(gpu_frame_test::Pixels::of(cpu.bitmap), expected);
            const std::string gpuWrong = firstWrongCell(gpuPixels, expected);
            ASSERT_EQ(cpuWrong, "") << "CPU frame " << frames << " after " << reclaims << " reclaims";
            ASSERT_EQ(gpuWrong, "") << "GPU frame " << frames << " after " << reclaims << " reclaims";
        }
        EXPECT_GE(reclaims, 2u) << "the output reclaimed the style table";
    }
}

} // namespace
