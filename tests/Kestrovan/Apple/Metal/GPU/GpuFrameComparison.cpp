// Classing a frame's cells and comparing a GPU frame with a CPU picture class by class.
#include "GpuFrameTestSupport.h"

#include "Kestrovan/Apple/CustomGlyphTables.h"
#include "Kestrovan/CellArena.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <system_error>

namespace gpu_frame_test {

using kestrovan::BufferLine;
using kestrovan::PackedCell;

namespace {

bool isCustomDrawn(uint32_t scalar)
{
    return (scalar >= 0x2500 && scalar <= 0x259F) || kestrovan::PowerlineRenderer::glyph(scalar).has_value();
}

int channelDifference(platform::PremultipliedPixel a, platform::PremultipliedPixel b)
{
    return std::max({std::abs(a.red - b.red), std::abs(a.green - b.green), std::abs(a.blue - b.blue),
                     std::abs(a.alpha - b.alpha)});
}

/// The pixels of one cell.
struct CellBox
{
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

/// The most frequent pixel of a cell: its background.
platform::PremultipliedPixel mode(const Pixels& pixels, const CellBox& box)
{
    std::map<uint32_t, int> counts;
    for (int y = box.y0; y < box.y1; ++y)
        for (int x = box.x0; x < box.x1; ++x) {
            const auto p = pixels.at(x, y);
            ++counts[uint32_t(p.red) | uint32_t(p.green) << 8 | uint32_t(p.blue) << 16 |
                     uint32_t(p.alpha) << 24];
        }
    const auto best = std::max_element(counts.begin(), counts.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    const uint32_t v = best->first;
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

/// The ink of a cell (its pixels' distance from its background, added up) and the box of its
/// strongly inked pixels (empty when none).
struct Ink
{
    double amount = 0;
    CellBox box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    bool any() const { return box.x1 >= box.x0; }
};

Ink inkOf(const Pixels& pixels, const CellBox& cell, platform::PremultipliedPixel background)
{
    Ink ink;
    for (int y = cell.y0; y < cell.y1; ++y)
        for (int x = cell.x0; x < cell.x1; ++x) {
            // Within 2 of the background is background: the two paths may round it apart.
            const int distance = channelDifference(pixels.at(x, y), background);
            if (distance > 2)
                ink.amount += distance;
            if (distance > 96) {
                ink.box.x0 = std::min(ink.box.x0, x);
                ink.box.y0 = std::min(ink.box.y0, y);
                ink.box.x1 = std::max(ink.box.x1, x);
                ink.box.y1 = std::max(ink.box.y1, y);
            }
        }
    return ink;
}

} // namespace

CellClasses classify(const kestrovan::TerminalSnapshot& snapshot, double cellWidthPx, double cellHeightPx)
{
    CellClasses classes;
    classes.cols = snapshot.cols;
    classes.rows = snapshot.rowCount;
    classes.cellWidthPx = cellWidthPx;
    classes.cellHeightPx = cellHeightPx;
    classes.classes.assign(size_t(classes.cols) * size_t(classes.rows), CellClass::exact);
    const kestrovan::FrameFontSet* fonts = snapshot.renderContext ? &snapshot.renderContext->fonts : nullptr;
    for (size_t index = 0; index < snapshot.rows.size(); ++index) {
        const int row = int(snapshot.firstRow + int64_t(index) - snapshot.yDisp);
        const auto& snapshotRow = snapshot.rows[index];
        if (!snapshotRow || !snapshotRow->line || row < 0 || row >= classes.rows)
            continue;
        const BufferLine& line = *snapshotRow->line;
        const kestrovan::CellArena& arena = *line.arena();
        const bool doubled = line.renderMode() != BufferLine::RenderLineMode::single;
        for (int col = 0; col < classes.cols && col < line.count(); ++col) {
            if (doubled) {
                classes.raise(col, row, CellClass::stretched);
                continue;
            }
            const PackedCell cell = line.packed(col);
            const kestrovan::Attribute attribute = arena.attribute(cell);
            using kestrovan::UnderlineStyle;
            if (attribute.underlineStyle == UnderlineStyle::curly ||
                attribute.underlineStyle == UnderlineStyle::dotted ||
                attribute.underlineStyle == UnderlineStyle::dashed)
                classes.raise(col, row, CellClass::scaled);
            if (cell.widthState() != PackedCell::WidthState::single) {
                for (int near = col - 1; near <= col + 1; ++near)
                    classes.raise(near, row, CellClass::scaled);
                continue;
            }
            const uint32_t scalar = cell.kind() == PackedCell::Kind::grapheme ? 0xFFFF : cell.scalar();
            if (scalar == 0 || scalar == 0x20 || isCustomDrawn(scalar) ||
                attribute.style.contains(kestrovan::CharacterStyle::invisible))
                continue;
            // Text the terminal's fonts lack is fitted from a fallback font.
            const bool fallback = fonts && fonts->normal() && !fonts->normal()->hasGlyph(scalar);
            for (int near = col - 1; near <= col + 1; ++near)
                classes.raise(near, row, near == col && fallback ? CellClass::scaled : CellClass::glyph);
        }
    }
    // Kitty placements are pictures scaled into their cells.
    for (const auto& placement : snapshot.kitty.renderSnapshot.placements)
        for (int64_t r = placement.geometry.row; r < placement.geometry.row + placement.geometry.rows; ++r)
            for (int64_t c = placement.geometry.column;
                 c < placement.geometry.column + placement.geometry.columns; ++c)
                classes.raise(int(c), int(r), CellClass::scaled);
    // The cursor's cell shows its glyph redrawn.
    if (snapshot.cursor)
        classes.raise(snapshot.cursor->visualCol, int(snapshot.cursor->screenRow), CellClass::glyph);
    return classes;
}

FrameDifference compare(const Pixels& gpu, const Pixels& cpu, const CellClasses& classes, bool measureCells)
{
    FrameDifference difference;
    EXPECT_EQ(gpu.width, cpu.width);
    EXPECT_EQ(gpu.height, cpu.height);
    if (gpu.width != cpu.width || gpu.height != cpu.height)
        return difference;
    for (int y = 0; y < gpu.height; ++y)
        for (int x = 0; x < gpu.width; ++x) {
            const int d = channelDifference(gpu.at(x, y), cpu.at(x, y));
            switch (classes.ofPixel(x, y, gpu.height)) {
            case CellClass::exact:
                if (d > 2 && difference.exactMismatches++ == 0) {
                    std::ostringstream first;
                    first << "(" << x << ", " << y << ") from the bottom";
                    difference.firstExactMismatch = first.str();
                }
                break;
            case CellClass::glyph:
                ++difference.glyphPixels;
                difference.glyphBeyond2 += d > 2;
                difference.glyphBeyond24 += d > 24;
                break;
            case CellClass::scaled:
            case CellClass::stretched:
                break;
            }
        }
    for (int row = 0; measureCells && row < classes.rows; ++row)
        for (int col = 0; col < classes.cols; ++col) {
            const CellClass cellClass = classes.at(col, row);
            if (cellClass == CellClass::exact)
                continue;
            const int x0 = int(std::lround(col * classes.cellWidthPx));
            const int x1 = std::min(gpu.width, int(std::lround((col + 1) * classes.cellWidthPx)));
            const int y1 = gpu.height - int(std::lround(row * classes.cellHeightPx));
            const int y0 = std::max(0, gpu.height - int(std::lround((row + 1) * classes.cellHeightPx)));
            const CellBox box{x0, y0, x1, y1};
            if (x1 <= x0 || y1 <= y0)
                continue;
            const platform::PremultipliedPixel background = mode(cpu, box);
            const Ink gpuInk = inkOf(gpu, box, background);
            const Ink cpuInk = inkOf(cpu, box, background);
            if (cellClass == CellClass::glyph) {
                const double floor = 255.0 * 4;
                const double ratio =
                    std::abs(gpuInk.amount - cpuInk.amount) / std::max({gpuInk.amount, cpuInk.amount, floor});
                difference.worstInkRatio = std::max(difference.worstInkRatio, ratio);
                continue;
            }
            double sum = 0;
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x)
                    sum += channelDifference(gpu.at(x, y), cpu.at(x, y));
            double& worst =
                cellClass == CellClass::scaled ? difference.worstScaledMean : difference.worstStretchedMean;
            worst = std::max(worst, sum / double((x1 - x0) * (y1 - y0)));
            int move = 0;
            if (gpuInk.any() != cpuInk.any())
                move = 99;
            else if (gpuInk.any())
                move = std::max(
                    {std::abs(gpuInk.box.x0 - cpuInk.box.x0), std::abs(gpuInk.box.x1 - cpuInk.box.x1),
                     std::abs(gpuInk.box.y0 - cpuInk.box.y0), std::abs(gpuInk.box.y1 - cpuInk.box.y1)});
            difference.worstScaledBoxMove = std::max(difference.worstScaledBoxMove, move);
        }
    return difference;
}

void expectWithinThresholds(const FrameDifference& difference, const Pixels& gpu, const Pixels& cpu,
                            const std::string& name)
{
    const double beyond2 =
        difference.glyphPixels ? double(difference.glyphBeyond2) / difference.glyphPixels : 0;
    const double beyond24 =
        difference.glyphPixels ? double(difference.glyphBeyond24) / difference.glyphPixels : 0;
    // The thresholds are those the frames have met since they were first drawn, with little room.
    const bool within = difference.exactMismatches == 0 && beyond2 <= 0.001 &&
                        difference.glyphBeyond24 == 0 && difference.worstInkRatio <= 0.005 &&
                        difference.worstScaledMean <= 1.5 && difference.worstStretchedMean <= 16 &&
                        difference.worstScaledBoxMove <= 1;
    if (std::getenv("KESTROVAN_GPU_FRAME_REPORT"))
        std::cerr << name << ": exact " << difference.exactMismatches << ", glyph beyond 2 " << beyond2 * 100
                  << "%, beyond 24 " << beyond24 * 100 << "%, ink " << difference.worstInkRatio * 100
                  << "%, scaled mean " << difference.worstScaledMean << ", stretched mean "
                  << difference.worstStretchedMean << ", box move " << difference.worstScaledBoxMove << "\n";
    if (within)
        return;
    // The pictures of a failure go to the build tree, never beside the goldens in the sources.
    const std::string pathWithoutSuffix = std::string(KESTROVAN_FAILED_GOLDEN_DIR) + "/" + name;
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(pathWithoutSuffix).parent_path(), error);
    gpu.bitmap().writePNG(pathWithoutSuffix + ".gpu.png");
    // The differences: dark where the frames agree, brighter red the more they differ.
    Pixels map{gpu.width, gpu.height, std::vector<uint8_t>(gpu.bgra.size())};
    for (int y = 0; y < gpu.height; ++y)
        for (int x = 0; x < gpu.width; ++x) {
            const int d = channelDifference(gpu.at(x, y), cpu.at(x, y));
            uint8_t* p = &map.bgra[(size_t(y) * size_t(gpu.width) + size_t(x)) * 4];
            p[0] = p[1] = uint8_t(d > 2 ? 0 : 40);
            p[2] = uint8_t(d > 2 ? std::min(255, 96 + 4 * d) : 40);
            p[3] = 255;
        }
    map.bitmap().writePNG(pathWithoutSuffix + ".diff.png");
    ADD_FAILURE() << name << ": exact cells differ in " << difference.exactMismatches << " pixels (first at "
                  << difference.firstExactMismatch << "); glyph cells " << beyond2 * 100 << "% beyond 2, "
                  << beyond24 * 100 << "% beyond 24, worst ink difference " << difference.worstInkRatio * 100
                  << "%; scaled cells worst mean " << difference.worstScaledMean
                  << ", stretched cells worst mean " << difference.worstStretchedMean
                  << ", worst ink box move " << difference.worstScaledBoxMove << " px. The GPU picture is in "
                  << pathWithoutSuffix << ".gpu.png, the differences in " << pathWithoutSuffix << ".diff.png";
}

void expectMatchesDrawingGolden(const Pixels& gpu, const std::string& name, const CellClasses& classes)
{
    const std::string path = std::string(KESTROVAN_GOLDEN_DIR) + "/drawing/" + name;
    std::optional<platform::Bitmap> golden = platform::Bitmap::readPNG(path + ".png");
    ASSERT_TRUE(golden) << "no golden image " << path << ".png";
    const Pixels cpu = Pixels::of(*golden);
    expectWithinThresholds(compare(gpu, cpu, classes), gpu, cpu, "drawing/" + name);
}

} // namespace gpu_frame_test
