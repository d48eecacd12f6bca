// What the CPU drawing benchmarks share: the frame they draw, and the raw-cairo peer they are measured
// against: a context set up as the platform canvas sets itself up, a cairo face for a platform font, and rows
// of glyphs shown with them.
#pragma once

#include "Platform/Graphics/Bitmap.h"
#include "Platform/Graphics/NativeColor.h"
#include "Platform/Text/Font.h"
#include "Platform/Text/FontRegistry.h"

#include <benchmark/benchmark.h>
#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <span>
#include <string>
#include <vector>

namespace bench {

/// The frame every CPU drawing benchmark draws: 200 x 50 cells of 8 x 17 points at scale 2
/// (3200 x 1700 pixels), text in the bundled terminal font at 13 points.
namespace drawingFrame {

constexpr int columns = 200, rows = 50;
constexpr double cellWidth = 8, cellHeight = 17, scale = 2, fontSize = 13;

/// The bundled regular face, or the system's monospace face when it did not load.
inline platform::FontRef terminalFont()
{
    platform::FontRegistry::registerFile(std::string(VESK_BUNDLE_DIR) + "/Fonts/JetBrainsMono-Regular.ttf");
    platform::FontRef font = platform::Font::named("JetBrainsMono-Regular", fontSize);
    return font ? font : platform::Font::monospace(fontSize);
}

inline platform::Bitmap frameBitmap()
{
    return std::move(
        *platform::Bitmap::create(int(columns * cellWidth * scale), int(rows * cellHeight * scale)));
}

} // namespace drawingFrame

/// cairo on `bitmap` as the canvas sets itself up: y-up points at `scale`, unhinted grey text.
inline cairo_t* rawCairoContext(const platform::Bitmap& bitmap, double scale)
{
    cairo_t* cr = cairo_create(bitmap.cairoSurface());
    cairo_matrix_t base;
    cairo_matrix_init(&base, scale, 0, 0, -scale, 0, bitmap.height());
    cairo_set_matrix(cr, &base);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
    return cr;
}

/// A cairo face for the font's file and face index; the caller destroys it.
inline cairo_font_face_t* rawCairoFace(const platform::Font& font)
{
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FILE, reinterpret_cast<const FcChar8*>(font.filePath().c_str()));
    FcPatternAddInteger(pattern, FC_INDEX, int(font.faceIndex()));
    cairo_font_face_t* face = cairo_ft_font_face_create_for_pattern(pattern);
    FcPatternDestroy(pattern);
    return face;
}

/// Selects `face` at `size` points, upright in the y-up context.
inline void setRawCairoFont(cairo_t* cr, cairo_font_face_t* face, double size)
{
    cairo_set_font_face(cr, face);
    cairo_matrix_t fontMatrix;
    cairo_matrix_init(&fontMatrix, size, 0, 0, -size, 0, 0);
    cairo_set_font_matrix(cr, &fontMatrix);
}

/// The peer loop of the glyph benchmarks: every iteration shows each row's glyphs in one call, in
/// `font` at `size`, the row in colour `colours[row % colours.size()]`.
inline void showRawCairoGlyphRows(benchmark::State& state, platform::Bitmap& bitmap, double scale,
                                  const platform::Font& font, double size,
                                  const std::vector<std::vector<cairo_glyph_t>>& rows,
                                  std::span<const platform::NativeColor> colours)
{
    cairo_t* cr = rawCairoContext(bitmap, scale);
    cairo_font_face_t* face = rawCairoFace(font);
    setRawCairoFont(cr, face, size);
    for (auto _ : state) {
        for (size_t row = 0; row < rows.size(); ++row) {
            const platform::NativeColor& color = colours[row % colours.size()];
            cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
            cairo_show_glyphs(cr, rows[row].data(), int(rows[row].size()));
        }
        cairo_surface_flush(bitmap.cairoSurface());
        benchmark::DoNotOptimize(bitmap.data());
    }
    cairo_destroy(cr);
    cairo_font_face_destroy(face);
}

} // namespace bench
