// Canvas: the y-up graphics state over cairo, shapes, clips and images.
#include "Platform/Graphics/Canvas.h"

#include "Platform/Graphics/CairoFontFaces.h"
#include "Platform/Graphics/DevicePixels.h"
#include "Platform/Log/Log.h"

#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <utility>

namespace platform {

namespace {

const Logger& logger()
{
    static const Logger log("Platform", "Graphics");
    return log;
}

/// A component limited to 0...1, with a value that is not a number read as 0. cairo clamps too, but
/// lets a NaN through.
double unit(double value)
{
    return value > 0 ? std::min(value, 1.0) : 0.0;
}

cairo_filter_t cairoFilter(ImageInterpolation interpolation)
{
    switch (interpolation) {
    case ImageInterpolation::none:
        return CAIRO_FILTER_NEAREST;
    case ImageInterpolation::low:
        return CAIRO_FILTER_BILINEAR;
    case ImageInterpolation::high:
        return CAIRO_FILTER_GOOD;
    }
    return CAIRO_FILTER_BILINEAR;
}

void applyTextAntialias(cairo_t* cr, TextAntialias antialias)
{
    cairo_font_options_t* options = cairo_font_options_create();
    switch (antialias) {
    case TextAntialias::none:
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_NONE);
        break;
    case TextAntialias::gray:
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
        break;
    case TextAntialias::subpixel:
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_SUBPIXEL);
        cairo_font_options_set_subpixel_order(options, CAIRO_SUBPIXEL_ORDER_RGB);
        break;
    }
    // Outlines stay where the font puts them and advances stay unrounded, so glyphs land where the
    // shaper measured them and scale smoothly with the cell.
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
}

} // namespace

struct Canvas::GlyphBuffer
{
    std::vector<cairo_glyph_t> glyphs;
};

Canvas::Canvas(Bitmap& bitmap, double scaleFactor, ImageBitmapCache& images)
    : bitmap_(&bitmap), images_(&images), cr_(cairo_create(bitmap.cairoSurface())),
      scale_(isUsableScale(scaleFactor) ? scaleFactor : 1.0), states_(1),
      glyphs_(std::make_unique<GlyphBuffer>())
{
    // Points up from the bottom-left corner become pixels down from the top-left corner.
    cairo_matrix_t base;
    cairo_matrix_init(&base, scale_, 0, 0, -scale_, 0, bitmap.height());
    cairo_set_matrix(cr_, &base);
    applyTextAntialias(cr_, TextAntialias::gray);
}

Canvas::~Canvas()
{
    if (cr_)
        cairo_destroy(cr_);
}

Canvas::Canvas(Canvas&& other) noexcept
    : bitmap_(other.bitmap_), images_(other.images_), cr_(std::exchange(other.cr_, nullptr)),
      scale_(other.scale_), states_(std::move(other.states_)), lastFontId_(other.lastFontId_),
      lastFace_(other.lastFace_), glyphs_(std::move(other.glyphs_))
{}

Size Canvas::size() const
{
    return Size{bitmap_->width() / scale_, bitmap_->height() / scale_};
}

void Canvas::save()
{
    cairo_save(cr_);
    states_.push_back(states_.back());
}

void Canvas::restore()
{
    if (states_.size() < 2) {
        // cairo would stop drawing for good after an unmatched restore; one stray call must not
        // blank the rest of the frame.
        logger().error("canvas restore without a matching save ignored");
        return;
    }
    cairo_restore(cr_);
    states_.pop_back();
}

void Canvas::translate(double dx, double dy)
{
    concat(AffineTransform::translation(dx, dy));
}

void Canvas::scaleBy(double sx, double sy)
{
    concat(AffineTransform::scaling(sx, sy));
}

void Canvas::concat(const AffineTransform& transform)
{
    if (state().collapsed)
        return;
    cairo_matrix_t applied;
    cairo_matrix_init(&applied, transform.a, transform.b, transform.c, transform.d, transform.tx,
                      transform.ty);
    cairo_matrix_t current;
    cairo_get_matrix(cr_, &current);
    cairo_matrix_t result;
    cairo_matrix_multiply(&result, &applied, &current);
    const AffineTransform combined{result.xx, result.yx, result.xy, result.yy, result.x0, result.y0};
    if (combined.isInvertible()) {
        cairo_set_matrix(cr_, &result);
        return;
    }
    // cairo refuses a matrix it cannot invert and then draws nothing more at all. A collapsed
    // space shows nothing either, but only until the state is restored.
    if (!std::isfinite(combined.a * combined.d - combined.b * combined.c) || !std::isfinite(combined.tx) ||
        !std::isfinite(combined.ty))
        logger().error("canvas transform with a value that is not a finite number ignored");
    else
        state().collapsed = true;
}

Point Canvas::userToDevice(Point point) const
{
    double x = point.x, y = point.y;
    cairo_user_to_device(cr_, &x, &y);
    return Point{x, bitmap_->height() - y};
}

Point Canvas::deviceToUser(Point point) const
{
    double x = point.x, y = bitmap_->height() - point.y;
    cairo_device_to_user(cr_, &x, &y);
    return Point{x, y};
}

Point Canvas::roundToDevicePixels(Point point) const
{
    const Point device = userToDevice(point);
    return deviceToUser(Point{std::round(device.x), std::round(device.y)});
}

void Canvas::clip(const Rect& rect)
{
    if (state().collapsed || !rect.isFinite())
        return;
    appendRect(rect);
    cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
    cairo_clip(cr_);
}

void Canvas::clip(const Path& path, FillRule rule)
{
    if (state().collapsed)
        return;
    cairo_new_path(cr_);
    appendPath(path);
    cairo_set_fill_rule(cr_, rule == FillRule::evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    cairo_clip(cr_);
}

Rect Canvas::clipBounds() const
{
    if (state().collapsed)
        return Rect{};
    double x1, y1, x2, y2;
    cairo_clip_extents(cr_, &x1, &y1, &x2, &y2);
    return Rect{x1, y1, x2 - x1, y2 - y1}.standardized();
}

void Canvas::setFillColor(const NativeColor& color)
{
    const std::optional<NativeColor> rgb = color.usingSRGB();
    state().fill =
        rgb ? std::optional<Color>(Color{unit(rgb->red), unit(rgb->green), unit(rgb->blue), unit(rgb->alpha)})
            : std::nullopt;
    if (state().source == Source::fill)
        state().source = Source::unset;
}

void Canvas::setStrokeColor(const NativeColor& color)
{
    const std::optional<NativeColor> rgb = color.usingSRGB();
    state().stroke =
        rgb ? std::optional<Color>(Color{unit(rgb->red), unit(rgb->green), unit(rgb->blue), unit(rgb->alpha)})
            : std::nullopt;
    if (state().source == Source::stroke)
        state().source = Source::unset;
}

void Canvas::setBlendMode(BlendMode mode)
{
    switch (mode) {
    case BlendMode::normal:
        cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
        break;
    case BlendMode::copy:
        // SOURCE is bounded by the shape: inside it the source replaces the destination, and
        // outside it nothing changes.
        cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
        break;
    case BlendMode::clear:
        cairo_set_operator(cr_, CAIRO_OPERATOR_CLEAR);
        break;
    case BlendMode::behind:
        cairo_set_operator(cr_, CAIRO_OPERATOR_DEST_OVER);
        break;
    }
}

void Canvas::setAntialias(bool on)
{
    cairo_set_antialias(cr_, on ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
}

void Canvas::setLineWidth(double width)
{
    if (std::isfinite(width))
        state().lineWidth = width;
}

void Canvas::setLineCap(LineCap cap)
{
    switch (cap) {
    case LineCap::butt:
        cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
        break;
    case LineCap::round:
        cairo_set_line_cap(cr_, CAIRO_LINE_CAP_ROUND);
        break;
    case LineCap::square:
        cairo_set_line_cap(cr_, CAIRO_LINE_CAP_SQUARE);
        break;
    }
}

void Canvas::setLineJoin(LineJoin join)
{
    switch (join) {
    case LineJoin::miter:
        cairo_set_line_join(cr_, CAIRO_LINE_JOIN_MITER);
        break;
    case LineJoin::round:
        cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
        break;
    case LineJoin::bevel:
        cairo_set_line_join(cr_, CAIRO_LINE_JOIN_BEVEL);
        break;
    }
}

void Canvas::setLineDash(std::span<const double> lengths, double phase)
{
    // cairo puts itself in an error state for a negative length or a pattern of only zeros; such a
    // pattern draws solid lines instead.
    bool usable = !lengths.empty();
    bool anyPositive = false;
    for (double length : lengths) {
        usable = usable && std::isfinite(length) && length >= 0;
        anyPositive = anyPositive || length > 0;
    }
    if (!usable || !anyPositive) {
        cairo_set_dash(cr_, nullptr, 0, 0);
        return;
    }
    cairo_set_dash(cr_, lengths.data(), int(lengths.size()), std::isfinite(phase) ? phase : 0);
}

bool Canvas::useColor(Source which)
{
    State& current = state();
    if (current.collapsed)
        return false;
    const std::optional<Color>& color = which == Source::fill ? current.fill : current.stroke;
    if (!color)
        return false;
    // Setting a source makes a pattern; skip it while the same colour is in place.
    if (current.source != which) {
        cairo_set_source_rgba(cr_, color->red, color->green, color->blue, color->alpha);
        current.source = which;
    }
    return true;
}

void Canvas::appendRect(const Rect& rect)
{
    cairo_new_path(cr_);
    cairo_rectangle(cr_, rect.x, rect.y, rect.width, rect.height);
}

void Canvas::appendPath(const Path& path)
{
    using Kind = Path::Element::Kind;
    for (const Path::Element& element : path.elements()) {
        const Point* p = element.points;
        switch (element.kind) {
        case Kind::moveTo:
            cairo_move_to(cr_, p[0].x, p[0].y);
            break;
        case Kind::lineTo:
            cairo_line_to(cr_, p[0].x, p[0].y);
            break;
        case Kind::curveTo:
            cairo_curve_to(cr_, p[0].x, p[0].y, p[1].x, p[1].y, p[2].x, p[2].y);
            break;
        case Kind::arc:
            // User space is y-up, so cairo's increasing angles already turn counter-clockwise on
            // the canvas.
            if (element.direction == ArcDirection::counterClockwise)
                cairo_arc(cr_, p[0].x, p[0].y, element.radius, element.startAngle, element.endAngle);
            else
                cairo_arc_negative(cr_, p[0].x, p[0].y, element.radius, element.startAngle, element.endAngle);
            break;
        case Kind::close:
            cairo_close_path(cr_);
            break;
        }
    }
}

void Canvas::fillRect(const Rect& rect)
{
    if (!rect.isFinite() || !useColor(Source::fill))
        return;
    appendRect(rect);
    cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
    cairo_fill(cr_);
}

void Canvas::fill(const Path& path, FillRule rule)
{
    if (!useColor(Source::fill))
        return;
    cairo_new_path(cr_);
    appendPath(path);
    cairo_set_fill_rule(cr_, rule == FillRule::evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    cairo_fill(cr_);
}

void Canvas::strokeRect(const Rect& rect)
{
    Path path;
    path.addRect(rect);
    stroke(path);
}

void Canvas::strokeLine(Point from, Point to)
{
    Path path;
    path.moveTo(from);
    path.lineTo(to);
    stroke(path);
}

void Canvas::stroke(const Path& path)
{
    if (!useColor(Source::stroke))
        return;
    double width = state().lineWidth;
    if (width <= 0) {
        // The thinnest line the device shows: one device pixel across, whatever the transform.
        double dx = 1, dy = 0, ex = 0, ey = 1;
        cairo_device_to_user_distance(cr_, &dx, &dy);
        cairo_device_to_user_distance(cr_, &ex, &ey);
        width = std::max(std::hypot(dx, dy), std::hypot(ex, ey));
    }
    cairo_set_line_width(cr_, width);
    cairo_new_path(cr_);
    appendPath(path);
    cairo_stroke(cr_);
}

void Canvas::clearRect(const Rect& rect)
{
    if (state().collapsed || !rect.isFinite())
        return;
    cairo_save(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_CLEAR);
    appendRect(rect);
    cairo_fill(cr_);
    cairo_restore(cr_);
}

void Canvas::setTextAntialias(TextAntialias antialias)
{
    applyTextAntialias(cr_, antialias);
}

void Canvas::drawGlyphs(const Font& font, std::span<const GlyphId> glyphs, std::span<const Point> positions)
{
    drawGlyphs(font, font.pointSize(), glyphs, positions);
}

void Canvas::drawGlyphs(const Font& font, double pointSize, std::span<const GlyphId> glyphs,
                        std::span<const Point> positions)
{
    const size_t count = std::min(glyphs.size(), positions.size());
    if (count == 0 || !std::isfinite(pointSize) || pointSize <= 0 || !useColor(Source::fill))
        return;
    State& current = state();
    if (current.fontId != font.id() || current.fontSize != pointSize) {
        if (font.id() != lastFontId_) {
            lastFace_ = CairoFontFaces::shared().face(font);
            lastFontId_ = font.id();
        }
        if (!lastFace_)
            return;
        cairo_set_font_face(cr_, lastFace_);
        // User space here is y-up; the matrix flips font space back so glyphs stand upright, and
        // leans a font that stands in for a missing italic.
        const cairo_matrix_t fontMatrix = CairoFontFaces::fontMatrix(font, pointSize);
        cairo_set_font_matrix(cr_, &fontMatrix);
        current.fontId = font.id();
        current.fontSize = pointSize;
    }
    std::vector<cairo_glyph_t>& run = glyphs_->glyphs;
    run.clear();
    for (size_t i = 0; i < count; ++i) {
        if (std::isfinite(positions[i].x) && std::isfinite(positions[i].y))
            run.push_back(cairo_glyph_t{glyphs[i], positions[i].x, positions[i].y});
    }
    if (!run.empty())
        cairo_show_glyphs(cr_, run.data(), int(run.size()));
}

void Canvas::drawImage(const std::shared_ptr<const NativeImage>& image, const Rect& destination,
                       ImageInterpolation interpolation)
{
    if (!image)
        return;
    drawImage(image, PixelRect{0, 0, image->width(), image->height()}, destination, interpolation);
}

void Canvas::drawImage(const std::shared_ptr<const NativeImage>& image, const PixelRect& source,
                       const Rect& destination, ImageInterpolation interpolation)
{
    if (!image || state().collapsed || !destination.isFinite() || destination.isEmpty())
        return;
    // A source that does not lie wholly inside the image shows nothing rather than a guess.
    if (source.width < 1 || source.height < 1 || source.x < 0 || source.y < 0 ||
        source.x > image->width() - source.width || source.y > image->height() - source.height)
        return;
    std::shared_ptr<const Bitmap> bitmap = images_->bitmap(image);
    if (bitmap)
        drawSurface(*bitmap, source, destination, interpolation);
}

void Canvas::drawSurface(const Bitmap& bitmap, const PixelRect& source, const Rect& destination,
                         ImageInterpolation interpolation)
{
    const Rect target = destination.standardized();
    cairo_surface_t* surface = bitmap.cairoSurface();
    const bool whole = source == PixelRect{0, 0, bitmap.width(), bitmap.height()};
    cairo_surface_t* piece =
        whole ? cairo_surface_reference(surface)
              : cairo_surface_create_for_rectangle(surface, source.x, source.y, source.width, source.height);
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(piece);

    // User space to the piece's pixels: the target's top edge (its larger y) is the piece's row 0.
    const double sx = source.width / target.width;
    const double sy = source.height / target.height;
    cairo_matrix_t toPiece;
    cairo_matrix_init(&toPiece, sx, 0, 0, -sy, -target.x * sx, (target.y + target.height) * sy);
    cairo_pattern_set_matrix(pattern, &toPiece);
    cairo_pattern_set_filter(pattern, cairoFilter(interpolation));
    // Edge pixels continue outwards, so resampling does not fade the picture's border into the
    // transparency around it.
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);

    cairo_save(cr_);
    cairo_set_source(cr_, pattern);
    appendRect(target);
    cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
    cairo_fill(cr_);
    cairo_restore(cr_);

    cairo_pattern_destroy(pattern);
    cairo_surface_destroy(piece);
}

} // namespace platform
