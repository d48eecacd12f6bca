// The pre-edit and debug overlays: text on the cell grid, drawn glyph run by glyph run; and the
// status overlay, drawn by its owner.

#include "Kestrovan/Mac/MacOverlays.h"

#include "Platform/Graphics/Canvas.h"
#include "Platform/Text/ShapedLine.h"
#include "Platform/UI/Utf8.h"

#include <algorithm>
#include <cmath>
#include <unicode/uchar.h>

namespace kestrovan {

namespace {

std::u16string utf16(const std::u32string& text)
{
    std::u16string out;
    for (char32_t c : text) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

/// Cells a scalar takes: none for a combining mark, two for a wide character, else one.
int cellsOf(char32_t c)
{
    const auto category = static_cast<UCharCategory>(u_charType(static_cast<UChar32>(c)));
    if (category == U_NON_SPACING_MARK || category == U_ENCLOSING_MARK)
        return 0;
    const int width = u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_EAST_ASIAN_WIDTH);
    return width == U_EA_WIDE || width == U_EA_FULLWIDTH ? 2 : 1;
}

platform::ShapedLine shapeText(const platform::FontRef& font, const std::u32string& text)
{
    const std::u16string units = utf16(text);
    const platform::FontRun run{static_cast<uint32_t>(units.size()), font};
    return platform::ShapedLine::shape(units, std::span(&run, 1));
}

} // namespace

double drawPlainText(platform::Canvas& canvas, const platform::FontRef& font, const std::u32string& text,
                     platform::Point origin)
{
    const platform::ShapedLine line = shapeText(font, text);
    std::vector<platform::GlyphId> glyphs;
    std::vector<platform::Point> positions;
    for (const platform::ShapedRun& run : line.runs()) {
        glyphs.clear();
        positions.clear();
        for (const platform::ShapedGlyph& glyph : line.glyphs(run)) {
            glyphs.push_back(glyph.glyph);
            positions.push_back(platform::Point{origin.x + glyph.x, origin.y + glyph.y});
        }
        canvas.drawGlyphs(run.font ? *run.font : *font, glyphs, positions);
    }
    return line.width();
}

double plainTextWidth(const platform::FontRef& font, const std::u32string& text)
{
    return shapeText(font, text).width();
}

// --- Marked text -----------------------------------------------------------------------------------

void MarkedTextOverlay::setContent(const platform::MarkedText& text, const Style& style, double width,
                                   double indent)
{
    text_ = text;
    style_ = style;
    lines_.clear();
    const std::u32string scalars = platform::scalarsFromUtf8(text.text);
    const double cell = std::max(style.cell.width, 1.0);
    Line line{U"", indent, 0};
    double x = indent;
    for (size_t index = 0; index < scalars.size(); ++index) {
        const double advance = cell * cellsOf(scalars[index]);
        // A line that already holds text wraps when the next character would pass the edge.
        if (x + advance > width && !line.text.empty()) {
            lines_.push_back(line);
            line = Line{U"", 0, index};
            x = 0;
        }
        line.text.push_back(scalars[index]);
        x += advance;
    }
    lines_.push_back(line);
}

std::vector<std::string> MarkedTextOverlay::lines() const
{
    std::vector<std::string> out;
    for (const Line& line : lines_)
        out.push_back(platform::utf8FromScalars(line.text));
    return out;
}

void MarkedTextOverlay::draw(const platform::DrawRequest& request)
{
    if (!request.canvas || !style_.font)
        return;
    platform::Canvas& canvas = *request.canvas;
    canvas.clearRect(request.dirtyRect);
    const double h = style_.cell.height;
    const double w = std::max(style_.cell.width, 1.0);
    const platform::FontMetrics& metrics = style_.font->metrics();
    // The baseline sits as in a terminal cell: the descent above the cell's bottom edge.
    const double descent = std::max((h - metrics.ascent - metrics.descent) / 2, 0.0) + metrics.descent;
    for (size_t index = 0; index < lines_.size(); ++index) {
        const Line& line = lines_[index];
        const double bottom = request.size.height - h * double(index + 1);
        double x = line.x;
        double width = 0;
        for (char32_t c : line.text)
            width += w * cellsOf(c);
        canvas.setFillColor(style_.background);
        canvas.fillRect(platform::Rect{line.x, bottom, width, h});
        canvas.setFillColor(style_.foreground);
        for (size_t at = 0; at < line.text.size(); ++at) {
            const char32_t c = line.text[at];
            drawPlainText(canvas, style_.font, std::u32string(1, c), platform::Point{x, bottom + descent});
            const double advance = w * cellsOf(c);
            // The input method's clauses are underlined; the one being converted more thickly.
            const size_t scalar = line.start + at;
            double thickness = 1;
            for (const platform::MarkedText::Segment& segment : text_.segments)
                if (scalar >= segment.start && scalar < segment.end && segment.selected)
                    thickness = 2;
            canvas.fillRect(platform::Rect{x, bottom + 1, advance, thickness});
            x += advance;
        }
    }
}

// --- Debug text ------------------------------------------------------------------------------------

DebugTextOverlay::DebugTextOverlay(platform::FontRef font) : font_(std::move(font)) {}

void DebugTextOverlay::setLines(std::vector<std::string> lines)
{
    lines_ = std::move(lines);
}

double DebugTextOverlay::lineHeight() const
{
    if (!font_)
        return 10;
    return std::ceil(font_->metrics().ascent + font_->metrics().descent);
}

void DebugTextOverlay::draw(const platform::DrawRequest& request)
{
    if (!request.canvas)
        return;
    platform::Canvas& canvas = *request.canvas;
    canvas.setFillColor(platform::NativeColor::sRGB(1, 1, 1));
    canvas.fillRect(request.dirtyRect);
    if (!font_)
        return;
    canvas.setFillColor(platform::NativeColor::sRGB(0, 0, 0));
    const double h = lineHeight();
    // Row i is drawn two line heights and i more below the top; rows past the bottom are clipped.
    for (size_t index = 0; index < lines_.size(); ++index) {
        const double y = request.size.height - h * double(index + 2) + font_->metrics().descent;
        if (y + h < 0)
            break;
        drawPlainText(canvas, font_, platform::scalarsFromUtf8(lines_[index]), platform::Point{0, y});
    }
}

void StatusOverlay::draw(const platform::DrawRequest& request)
{
    if (!request.canvas)
        return;
    request.canvas->clearRect(request.dirtyRect);
    if (drawContent_)
        drawContent_(*request.canvas);
}

} // namespace kestrovan
