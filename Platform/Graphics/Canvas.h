// A y-up drawing context on a bitmap, backed by cairo: the stand-in for a CoreGraphics bitmap
// context.
//
// User space is measured in points with the origin at the bottom-left corner of the bitmap and y
// growing upwards, so geometry written for a y-up frame is drawn as written; the canvas turns it
// into cairo's y-down pixels at its edge. `scaleFactor` device pixels make one point. Device space
// here is y-up pixels from the bottom-left corner too.
//
// The graphics state (transform, clip, colours, line style, antialiasing, blend mode, text
// options) is saved and restored in pairs. A fill and a stroke colour are kept apart, as the
// drawing code expects; a colour without an sRGB form paints nothing. Misuse never puts the
// drawing library into an error state that would spoil the rest of a frame: an unmatched
// `restore` is ignored, a non-finite value is dropped, and a transform that collapses space (a
// scale of 0) makes everything drawn under it invisible until the state is restored.
//
// A canvas draws into a bitmap it does not own; the bitmap must outlive it. One thread at a time.
#pragma once

#include "Platform/Graphics/Bitmap.h"
#include "Platform/Graphics/Geometry.h"
#include "Platform/Graphics/ImageBitmapCache.h"
#include "Platform/Graphics/NativeColor.h"
#include "Platform/Graphics/NativeImage.h"
#include "Platform/Graphics/Path.h"
#include "Platform/Text/Font.h"

#include <memory>
#include <optional>
#include <span>
#include <vector>

typedef struct _cairo cairo_t;
typedef struct _cairo_font_face cairo_font_face_t;

namespace platform {

enum class FillRule
{
    /// Non-zero winding: a point is inside when the path winds around it at all.
    winding,
    /// Even-odd: a point is inside when a ray from it crosses the path an odd number of times.
    evenOdd,
};

enum class LineCap
{
    butt,
    round,
    square,
};

enum class LineJoin
{
    miter,
    round,
    bevel,
};

enum class BlendMode
{
    /// Source over destination.
    normal,
    /// The source replaces the destination where it is drawn, alpha included: a translucent
    /// colour leaves a translucent pixel rather than compounding with what was there.
    copy,
    /// Where drawn, the destination becomes transparent.
    clear,
    /// The source goes behind the destination: it shows only where the destination is not
    /// opaque, as a layer's background shows behind its contents.
    behind,
};

/// How smoothly image pixels are resampled when an image is drawn at another size.
enum class ImageInterpolation
{
    /// Nearest pixel: hard edges, for pixel art and exact copies.
    none,
    /// Bilinear.
    low,
    /// Filtered properly when shrinking; the best quality and the slowest.
    high,
};

/// How glyph edges are smoothed.
enum class TextAntialias
{
    /// Hard edges: each pixel is in or out.
    none,
    /// Coverage in shades of the colour.
    gray,
    /// Coverage per colour channel, for screens with horizontal RGB stripes.
    subpixel,
};

class Canvas
{
public:
    /// A canvas over `bitmap` at `scaleFactor` device pixels per point (a non-positive or
    /// non-finite factor counts as 1), drawing images through `images`.
    explicit Canvas(Bitmap& bitmap, double scaleFactor = 1.0,
                    ImageBitmapCache& images = ImageBitmapCache::shared());
    ~Canvas();
    Canvas(Canvas&& other) noexcept;
    Canvas& operator=(Canvas&&) = delete;
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    /// The bitmap's size in points.
    Size size() const;
    double scaleFactor() const { return scale_; }
    Bitmap& bitmap() { return *bitmap_; }

    /// Pushes a copy of the graphics state.
    void save();
    /// Pops the state saved last; ignored (and logged) when nothing is saved.
    void restore();
    /// How many states are saved.
    size_t saveDepth() const { return states_.size() - 1; }

    // Transforms, applied to user space before what is already there.
    void translate(double dx, double dy);
    void scaleBy(double sx, double sy);
    void concat(const AffineTransform& transform);

    /// A point of user space in y-up device pixels, and back.
    Point userToDevice(Point point) const;
    Point deviceToUser(Point point) const;
    /// The point moved to the nearest whole device pixel (halves away from zero) on each axis.
    Point roundToDevicePixels(Point point) const;

    /// Narrows the clip to the rectangle or the inside of the path. Clips are antialiased unless
    /// antialiasing is off.
    void clip(const Rect& rect);
    void clip(const Path& path, FillRule rule = FillRule::winding);
    /// The clip's bounding box in user space.
    Rect clipBounds() const;

    void setFillColor(const NativeColor& color);
    void setStrokeColor(const NativeColor& color);
    void setBlendMode(BlendMode mode);
    /// Antialiasing of shapes and of the clips made from now on; on by default.
    void setAntialias(bool on);

    /// Line width in user-space units as they are when stroking; 0 or less draws the thinnest
    /// line the device shows, one device pixel.
    void setLineWidth(double width);
    void setLineCap(LineCap cap);
    void setLineJoin(LineJoin join);
    /// Dash lengths, on and off in turn, starting `phase` into the pattern; empty for solid lines.
    void setLineDash(std::span<const double> lengths, double phase = 0);

    /// Fills with the fill colour.
    void fillRect(const Rect& rect);
    void fill(const Path& path, FillRule rule = FillRule::winding);
    /// Strokes with the stroke colour and the line style.
    void strokeRect(const Rect& rect);
    void stroke(const Path& path);
    void strokeLine(Point from, Point to);
    /// Makes the rectangle transparent, whatever the blend mode.
    void clearRect(const Rect& rect);

    /// How glyphs are smoothed; gray by default. Glyphs are drawn unhinted, with their outlines
    /// where the font puts them; cairo 1.16 places each glyph origin on a whole device pixel.
    void setTextAntialias(TextAntialias antialias);

    /// Draws `font`'s glyphs in the fill colour with their origins (on the baseline) at
    /// `positions`; colour glyphs (emoji) keep their own colours. Pairs beyond the shorter span
    /// and positions that are not finite are skipped.
    void drawGlyphs(const Font& font, std::span<const GlyphId> glyphs, std::span<const Point> positions);
    /// The same with the font at `pointSize` instead of its own size: glyphs scaled about their
    /// origins without making another font.
    void drawGlyphs(const Font& font, double pointSize, std::span<const GlyphId> glyphs,
                    std::span<const Point> positions);

    /// Draws the image scaled into `destination`, upright (its top row along the top edge).
    void drawImage(const std::shared_ptr<const NativeImage>& image, const Rect& destination,
                   ImageInterpolation interpolation = ImageInterpolation::low);
    /// Draws the `source` pixels of the image (rows counted from the top) into `destination`;
    /// nothing when `source` is empty or does not lie inside the image.
    void drawImage(const std::shared_ptr<const NativeImage>& image, const PixelRect& source,
                   const Rect& destination, ImageInterpolation interpolation = ImageInterpolation::low);

private:
    struct Color
    {
        double red, green, blue, alpha;
    };
    enum class Source
    {
        unset,
        fill,
        stroke,
    };
    /// What this layer keeps beside cairo's own graphics state; saved and restored with it.
    struct State
    {
        std::optional<Color> fill = Color{0, 0, 0, 1};
        std::optional<Color> stroke = Color{0, 0, 0, 1};
        double lineWidth = 1;
        /// Which of our colours cairo's source holds.
        Source source = Source::unset;
        /// A transform collapsed space: nothing drawn can show until the state is restored.
        bool collapsed = false;
        /// The font (by id) and size cairo's font face and matrix are set for; 0 for none.
        uint64_t fontId = 0;
        double fontSize = 0;
    };

    State& state() { return states_.back(); }
    const State& state() const { return states_.back(); }
    /// Sets cairo's source to the fill or stroke colour; false when that colour paints nothing.
    bool useColor(Source which);
    void appendPath(const Path& path);
    void appendRect(const Rect& rect);
    void drawSurface(const Bitmap& bitmap, const PixelRect& source, const Rect& destination,
                     ImageInterpolation interpolation);

    Bitmap* bitmap_;
    ImageBitmapCache* images_;
    cairo_t* cr_;
    double scale_;
    std::vector<State> states_;
    /// The cairo face of the font drawn last, so a run of one font looks its face up once.
    uint64_t lastFontId_ = 0;
    cairo_font_face_t* lastFace_ = nullptr;
    /// Reused for every glyph run, so drawing text does not allocate once it has warmed up.
    struct GlyphBuffer;
    std::unique_ptr<GlyphBuffer> glyphs_;
};

} // namespace platform
