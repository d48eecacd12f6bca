// Whole frames drawn on the CPU: a 200 x 50 screen of coloured text, the same screen with one
// changed row redrawn, and a screen of box-drawing frames around CJK text; against a reference loop
// that draws the same glyph runs (and backgrounds) straight with cairo and no terminal logic.
//
// Cells of 8 x 17 points at scale 2 (a 3200 x 1700 pixel frame), JetBrains Mono 13. Each screen is
// two terminals of different content, each with its refreshed snapshot. "changed" draws them in
// turn, so every row of every frame is new to the drawer and is built, shaped and placed again
// (the cost of output that rewrote the screen); "unchanged" redraws one snapshot in full (a window
// uncovered: only painting); "oneRow" draws them in turn with only one row marked, as a frame after
// output changed a single line. The reference draws, for the same snapshot, the glyph runs the
// drawer shaped (box-drawing cells as the font's own glyphs), taken before the timed loop. main
// prints the ratios.
#include "BenchDrawing.h"
#include "BenchFrames.h"
#include "BenchRatio.h"
#include "BenchTerminal.h"

#include "Kestrovan/Apple/CoreGraphicsRenderCache.h"
#include "Kestrovan/Apple/RowDrawing.h"
#include "Kestrovan/Apple/SnapshotTextBuilder.h"
#include "Kestrovan/Apple/TerminalFrameDrawer.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalLock.h"
#include "Platform/Graphics/Bitmap.h"
#include "Platform/Graphics/Canvas.h"

#include <benchmark/benchmark.h>
#include <cairo.h>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace kestrovan;
using namespace bench::drawingFrame;

FrameViewState benchViewState()
{
    return bench::frameViewState({columns, rows, cellWidth, cellHeight, scale, fontSize});
}

/// A row of a table drawn with box-drawing characters, its cells holding CJK words.
std::string boxLine(int row, std::mt19937& random)
{
    static const char* words[] = {"漢字", "表示", "端末", "文字", "画面", "行列", "設定", "検索"};
    const int kind = row % 4;
    std::string line = "\x1b[0;3" + std::to_string(1 + row % 6) + "m";
    for (int column = 0; column + 20 <= columns; column += 20) {
        if (kind == 0) {
            line += "┌──────────────────┐";
        } else if (kind == 3) {
            line += "└──────────────────┘";
        } else {
            line += "│ \x1b[0m";
            for (int i = 0; i < 4; ++i)
                line += words[random() % 8];
            line += "\x1b[0;3" + std::to_string(1 + row % 6) + "m │";
        }
    }
    return line + "\x1b[0m";
}

enum class Screen
{
    colouredText,
    boxAndCJK,
};

/// A terminal showing one screen of a kind, and its snapshot refreshed as a frame would refresh it.
struct ScreenFrame
{
    std::shared_ptr<Terminal> terminal;
    TerminalSnapshot snapshot;

    ScreenFrame(Screen kind, unsigned seed)
    {
        terminal = bench::makeTerminal(columns, rows);
        std::mt19937 random(seed);
        std::string text;
        for (int row = 0; row < rows; ++row) {
            text +=
                kind == Screen::colouredText ? bench::colouredLine(random, columns) : boxLine(row, random);
            if (row + 1 < rows)
                text += "\r\n";
        }
        terminal->feed(std::string_view(text));
        TerminalLockGuard guard(terminal->terminalLock());
        snapshot.refresh(*terminal, benchViewState(), SnapshotSelectionState(), false);
    }
};

const platform::Rect wholeView{0, 0, cellWidth* columns, cellHeight* rows};

void drawFrames(benchmark::State& state, Screen kind, bool changed, bool oneRow)
{
    ScreenFrame first(kind, 16), second(kind, 17);
    const FrameViewState view = benchViewState();
    platform::Bitmap bitmap = frameBitmap();
    platform::Canvas canvas(bitmap, scale);
    TerminalFrameDrawer drawer;
    const platform::Rect dirty =
        oneRow ? platform::Rect{0, cellHeight * 24, cellWidth * columns, cellHeight} : wholeView;
    bool flip = false;
    for (auto _ : state) {
        TerminalSnapshot& snapshot = changed && flip ? second.snapshot : first.snapshot;
        flip = !flip;
        drawer.drawFrame(canvas, dirty, snapshot, *snapshot.renderContext, FrameDrawGeometry::of(view));
        benchmark::DoNotOptimize(bitmap.data());
    }
    state.counters["rowsPreparedPerFrame"] =
        double(drawer.counters().rowsPrepared) / double(std::max<int64_t>(state.iterations(), 1));
}

/// The glyph runs and backgrounds of a snapshot as plain cairo values, for the reference loop.
struct ReferenceFrame
{
    struct Run
    {
        cairo_font_face_t* face = nullptr;
        double size = 0;
        platform::NativeColor color;
        std::vector<cairo_glyph_t> glyphs;
    };
    struct Fill
    {
        platform::Rect rect;
        platform::NativeColor color;
    };
    std::vector<Fill> fills;
    std::vector<Run> runs;
};

class FaceCache
{
public:
    ~FaceCache()
    {
        for (auto& [path, face] : faces_)
            cairo_font_face_destroy(face);
    }
    cairo_font_face_t* face(const platform::Font& font)
    {
        const std::string key = font.filePath() + "#" + std::to_string(font.faceIndex());
        auto found = faces_.find(key);
        if (found != faces_.end())
            return found->second;
        cairo_font_face_t* made = bench::rawCairoFace(font);
        faces_[key] = made;
        return made;
    }

private:
    std::map<std::string, cairo_font_face_t*> faces_;
};

ReferenceFrame referenceFrame(const TerminalSnapshot& snapshot, FaceCache& faces)
{
    ReferenceFrame frame;
    SnapshotTextBuilder builder;
    CoreGraphicsRenderCache cache;
    const SnapshotRenderContext& context = *snapshot.renderContext;
    const RowDrawingContext drawing = RowDrawingContext::make(context, {cellWidth, cellHeight}, scale);
    const platform::Font& normal = *context.fonts.normal();
    for (size_t index = 0; index < snapshot.rows.size(); ++index) {
        const double rowY = cellHeight * (rows - 1 - double(index));
        const double baseline = rowY + drawing.baselineOffset;
        const PreparedRow row = prepareRow(
            builder.buildAttributedString(*snapshot.rows[index], snapshot.firstRow + int64_t(index), context),
            cache, drawing);
        for (const PreparedRun& run : row.runs) {
            if (run.hasExplicitBackground && run.backgroundColor)
                frame.fills.push_back(
                    {{run.left, rowY, run.right - run.left, cellHeight}, *run.backgroundColor});
            ReferenceFrame::Run glyphs{faces.face(*run.font), run.font->pointSize(), run.foregroundColor, {}};
            for (size_t i = 0; i < run.glyphs.size(); ++i)
                glyphs.glyphs.push_back({run.glyphs[i], run.positions[i].x, baseline + run.positions[i].y});
            frame.runs.push_back(std::move(glyphs));
        }
        // The cells the drawer paints itself are the font's own glyphs here.
        for (const BoxDrawingRenderItem& item : row.info.boxDrawings) {
            ReferenceFrame::Run glyph{faces.face(normal), normal.pointSize(), item.foregroundColor, {}};
            glyph.glyphs.push_back(
                {normal.glyph(char32_t(item.codePoint)).value_or(0), cellWidth * item.column, baseline});
            frame.runs.push_back(std::move(glyph));
        }
    }
    return frame;
}

void rawCairo(benchmark::State& state, Screen kind)
{
    ScreenFrame screen(kind, 16);
    FaceCache faces;
    const ReferenceFrame frame = referenceFrame(screen.snapshot, faces);
    platform::Bitmap bitmap = frameBitmap();
    cairo_t* cr = bench::rawCairoContext(bitmap, scale);
    for (auto _ : state) {
        cairo_save(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        cairo_paint(cr);
        cairo_restore(cr);
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
        for (const ReferenceFrame::Fill& fill : frame.fills) {
            cairo_set_source_rgba(cr, fill.color.red, fill.color.green, fill.color.blue, fill.color.alpha);
            cairo_rectangle(cr, fill.rect.x, fill.rect.y, fill.rect.width, fill.rect.height);
            cairo_fill(cr);
        }
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
        for (const ReferenceFrame::Run& run : frame.runs) {
            bench::setRawCairoFont(cr, run.face, run.size);
            cairo_set_source_rgba(cr, run.color.red, run.color.green, run.color.blue, run.color.alpha);
            cairo_show_glyphs(cr, run.glyphs.data(), int(run.glyphs.size()));
        }
        cairo_surface_flush(bitmap.cairoSurface());
        benchmark::DoNotOptimize(bitmap.data());
    }
    cairo_destroy(cr);
}

BENCHMARK_CAPTURE(drawFrames, colouredText_changed, Screen::colouredText, true, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(drawFrames, colouredText_unchanged, Screen::colouredText, false, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(drawFrames, colouredText_oneRow, Screen::colouredText, true, true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(rawCairo, colouredText, Screen::colouredText)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(drawFrames, boxAndCJK_changed, Screen::boxAndCJK, true, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(drawFrames, boxAndCJK_unchanged, Screen::boxAndCJK, false, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(rawCairo, boxAndCJK, Screen::boxAndCJK)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& times = reporter.timePerIteration;
    auto ratio = [&](const char* ours, const char* peer, const char* what, const char* unit) {
        if (times.count(ours) && times.count(peer) && times[peer] > 0)
            std::printf("%s: %.2fx %s\n", what, times[ours] / times[peer], unit);
    };
    const char* reference = "the time of the same glyph runs drawn with raw cairo";
    ratio("drawFrames/colouredText_changed", "rawCairo/colouredText", "coloured text, every row new",
          reference);
    ratio("drawFrames/colouredText_unchanged", "rawCairo/colouredText", "coloured text, repainted",
          reference);
    ratio("drawFrames/boxAndCJK_changed", "rawCairo/boxAndCJK", "box drawing and CJK, every row new",
          reference);
    ratio("drawFrames/boxAndCJK_unchanged", "rawCairo/boxAndCJK", "box drawing and CJK, repainted",
          reference);
    ratio("drawFrames/colouredText_oneRow", "drawFrames/colouredText_changed", "one changed row",
          "the time of a full frame of new rows");
    benchmark::Shutdown();
    return 0;
}
