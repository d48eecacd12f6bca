// The GPU renderer's glyph work off the frame's hot path: rasterizing a working set of 10,000
// distinct CJK glyphs (a terminal of 16 x 34-pixel cells, wide glyphs spanning two), alone and
// packed into the renderer's atlases on the process's EGL device (llvmpipe here; set
// LP_NUM_THREADS to pin its threads), with the atlases' sides and the peak memory reported; the
// plain-font analysis of the terminal font and of a generated plain font; and the GSUB reader on a
// table whose offsets share their parts. The rasterizer's peer draws the same glyphs with raw
// cairo into one reused surface: the cost of the drawing alone, without a context and a bitmap per
// glyph; main prints the ratio.
#include "BenchDrawing.h"
#include "BenchRatio.h"
#include "tests/Kestrovan/Apple/Metal/GsubTestTables.h"

#include "Kestrovan/Apple/Metal/CoreTextGlyphRasterizer.h"
#include "Kestrovan/Apple/Metal/GlyphAtlas.h"
#include "Kestrovan/Apple/Metal/OpenTypeSubstitutionCheck.h"
#include "Kestrovan/Apple/Metal/PlainTextFont.h"
#include "Platform/GPU/EglContext.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <sys/resource.h>

namespace {

using namespace kestrovan;
using platform::FontRef;

// A cell 34 pixels tall holds an ideograph drawn at 28 pixels, 28 to 30 pixels wide: within the
// two 16-pixel cells it spans.
constexpr double cjkPixelSize = 28;
constexpr int glyphCount = 10'000;

const FontRef& cjkFont()
{
    static const FontRef font =
        platform::Font::fromFile("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc", 0, cjkPixelSize);
    return font;
}

/// The glyphs of U+4E00 onwards: 10,000 distinct ideographs.
const std::vector<uint16_t>& cjkGlyphs()
{
    static const std::vector<uint16_t> glyphs = [] {
        std::vector<uint16_t> ids;
        for (char32_t c = 0x4E00; ids.size() < size_t(glyphCount); ++c) {
            if (const auto glyph = cjkFont()->glyph(c))
                ids.push_back(uint16_t(*glyph));
        }
        return ids;
    }();
    return glyphs;
}

long peakResidentKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void rasterizeCjkWorkingSet(benchmark::State& state)
{
    const FontRef& font = cjkFont();
    if (!font) {
        state.SkipWithError("Noto Sans CJK is not installed (fonts-noto-cjk)");
        return;
    }
    const std::vector<uint16_t>& glyphs = cjkGlyphs();
    std::vector<GlyphMetrics> metrics;
    for (uint16_t glyph : glyphs)
        metrics.push_back(GlyphMetricsCache::measure(*font, *font, 1, glyph));
    const CoreTextGlyphRasterizer rasterizer;
    size_t largestBitmap = 0, totalBytes = 0, drawn = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < glyphs.size(); ++i) {
            GlyphRasterizationResult result = rasterizer.rasterize(*font, glyphs[i], metrics[i]);
            if (result.kind != GlyphRasterizationResult::Kind::bitmap)
                continue;
            largestBitmap = std::max(largestBitmap, result.bitmap.pixels.size());
            totalBytes += result.bitmap.pixels.size();
            ++drawn;
            benchmark::DoNotOptimize(result.bitmap.pixels.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * int64_t(glyphs.size()));
    state.counters["largest_bitmap_bytes"] = double(largestBitmap);
    state.counters["bytes_per_glyph"] = drawn ? double(totalBytes) / double(drawn) : 0;
    state.counters["peak_rss_MB"] = double(peakResidentKilobytes()) / 1024;
}
BENCHMARK(rasterizeCjkWorkingSet)->Unit(benchmark::kMillisecond);

// The same glyphs rasterized and packed, as the renderer does on a miss, into a fresh pair of
// atlases each iteration: they start at 1024 texels and grow to fit.
void rasterizeAndPackCjkWorkingSet(benchmark::State& state)
{
    const FontRef& font = cjkFont();
    const std::shared_ptr<platform::gpu::GLDevice> device =
        platform::gpu::makeEglDevice(platform::gpu::GLApi::openGL);
    if (!font || !device) {
        state.SkipWithError("Noto Sans CJK or an EGL device is missing");
        return;
    }
    const platform::gpu::ContextScope scope = device->bindCurrent();
    const std::vector<uint16_t>& glyphs = cjkGlyphs();
    std::vector<GlyphMetrics> metrics;
    for (uint16_t glyph : glyphs)
        metrics.push_back(GlyphMetricsCache::measure(*font, *font, 1, glyph));
    const int64_t grayMax = GlyphAtlas::recommendedMaxSize(*device, GlyphAtlasFormat::grayscale);
    const int64_t colorMax = GlyphAtlas::recommendedMaxSize(*device, GlyphAtlasFormat::bgra);
    const CoreTextGlyphRasterizer rasterizer(grayMax, colorMax);
    int64_t largestSide = 0, resets = 0, packed = 0;
    bool aboveMaximum = false;
    for (auto _ : state) {
        std::shared_ptr<GlyphAtlas> gray =
            GlyphAtlas::make(device, 1024, grayMax, GlyphAtlasFormat::grayscale);
        std::shared_ptr<GlyphAtlas> color = GlyphAtlas::make(device, 1024, colorMax, GlyphAtlasFormat::bgra);
        if (!gray || !color) {
            state.SkipWithError("the atlases could not be made");
            return;
        }
        for (size_t i = 0; i < glyphs.size(); ++i) {
            const GlyphRasterizationResult result = rasterizer.rasterize(*font, glyphs[i], metrics[i]);
            if (result.kind != GlyphRasterizationResult::Kind::bitmap)
                continue;
            const GlyphBitmap& bitmap = result.bitmap;
            GlyphAtlas& atlas = bitmap.isColor ? *color : *gray;
            const std::optional<AtlasRegion> region = atlas.ensureRegion(bitmap.width, bitmap.height);
            resets += atlas.didReset();
            if (!region)
                continue;
            atlas.write(*region, bitmap.pixels, bitmap.width, bitmap.height);
            ++packed;
            aboveMaximum = aboveMaximum || atlas.size() > atlas.maxSize();
        }
        largestSide = std::max({largestSide, gray->size(), color->size()});
        device->flush();
    }
    if (aboveMaximum)
        state.SkipWithError("an atlas grew past its maximum");
    state.SetItemsProcessed(state.iterations() * int64_t(glyphs.size()));
    state.counters["atlas_side"] = double(largestSide);
    state.counters["atlas_max"] = double(grayMax);
    state.counters["resets"] = double(resets);
    state.counters["packed_per_iteration"] =
        double(packed) / double(std::max<int64_t>(state.iterations(), 1));
    state.counters["peak_rss_MB"] = double(peakResidentKilobytes()) / 1024;
}
BENCHMARK(rasterizeAndPackCjkWorkingSet)->Unit(benchmark::kMillisecond);

// The peer: cairo set up as the canvas is, drawing the same glyphs, each at the same place of one
// reused surface.
void rawCairoCjkWorkingSet(benchmark::State& state)
{
    const FontRef& font = cjkFont();
    if (!font) {
        state.SkipWithError("Noto Sans CJK is not installed (fonts-noto-cjk)");
        return;
    }
    const std::vector<uint16_t>& glyphs = cjkGlyphs();
    std::optional<platform::Bitmap> bitmap = platform::Bitmap::create(40, 40);
    cairo_t* cr = bench::rawCairoContext(*bitmap, 1);
    cairo_font_face_t* face = bench::rawCairoFace(*font);
    bench::setRawCairoFont(cr, face, cjkPixelSize);
    cairo_surface_t* surface = bitmap->cairoSurface();
    for (auto _ : state) {
        for (uint16_t glyph : glyphs) {
            cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
            cairo_paint(cr);
            cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
            cairo_set_source_rgb(cr, 1, 1, 1);
            const cairo_glyph_t one{glyph, 2, 6};
            cairo_show_glyphs(cr, &one, 1);
        }
        cairo_surface_flush(surface);
        benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
    }
    state.SetItemsProcessed(state.iterations() * int64_t(glyphs.size()));
    cairo_destroy(cr);
    cairo_font_face_destroy(face);
}
BENCHMARK(rawCairoCjkWorkingSet)->Unit(benchmark::kMillisecond);

void analyzePlainFont(benchmark::State& state, const FontRef& font, bool plain)
{
    if (!font) {
        state.SkipWithError("font missing");
        return;
    }
    for (auto _ : state) {
        const PlainFontAnalysis analysis = PlainTextFont::analyze(font);
        if ((analysis != nullptr) != plain)
            state.SkipWithError("unexpected analysis");
        benchmark::DoNotOptimize(analysis.get());
    }
}

void analyzeTerminalFont(benchmark::State& state)
{
    analyzePlainFont(
        state,
        platform::Font::fromFile(std::string(VESK_BUNDLE_DIR) + "/Fonts/JetBrainsMono-Regular.ttf", 0, 16),
        false);
}
BENCHMARK(analyzeTerminalFont)->Unit(benchmark::kMillisecond);

void analyzeGeneratedPlainFont(benchmark::State& state)
{
    analyzePlainFont(
        state, platform::Font::fromFile(std::string(KESTROVAN_TEST_DATA_DIR) + "/fonts/Plain.ttf", 0, 16),
        true);
}
BENCHMARK(analyzeGeneratedPlainFont)->Unit(benchmark::kMillisecond);

// 5,000 scripts on one script table of 5,000 language systems on one of 30,000 feature indices.
void examineSharedOffsetsTable(benchmark::State& state)
{
    const std::vector<uint8_t> table = metaltest::sharedOffsetsTable({500});
    const std::vector<uint16_t> glyphs = {10, 11, 12, 13, 14, 15};
    for (auto _ : state)
        benchmark::DoNotOptimize(OpenTypeSubstitutionCheck::examine(glyphs, table));
    state.SetBytesProcessed(state.iterations() * int64_t(table.size()));
}
BENCHMARK(examineSharedOffsetsTable)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& times = reporter.timePerIteration;
    if (times.count("rasterizeCjkWorkingSet") && times.count("rawCairoCjkWorkingSet") &&
        times["rawCairoCjkWorkingSet"] > 0)
        std::printf("10,000 CJK glyphs: %.2fx the time of raw cairo\n",
                    times["rasterizeCjkWorkingSet"] / times["rawCairoCjkWorkingSet"]);
    benchmark::Shutdown();
    return 0;
}
