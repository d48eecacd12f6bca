// Inline pictures: sizing with the budget, cutting into strips, and attaching them to lines.
#include "Kestrovan/Apple/InlineImageInsertion.h"

#include "Kestrovan/Apple/AppleImage.h"
#include "Kestrovan/Buffer.h"
#include "Kestrovan/KittyGraphicsPayload.h"
#include "Kestrovan/Terminal.h"
#include "Platform/Graphics/Bitmap.h"
#include "Platform/Graphics/Canvas.h"
#include "Platform/Graphics/ImageBitmapCache.h"
#include "Platform/Image/Pixbuf/ImageDecoding.h"

#include <cmath>

namespace kestrovan {

using platform::NativeImage;
using platform::Rect;

namespace {

bool isPositive(double value)
{
    return std::isfinite(value) && value > 0;
}

/// The size one request asks for, in points: `cell` per cell, `screen` for 100 percent, the
/// picture's own size (`natural`) when automatic.
double requestedSize(ImageSizeRequest request, double cell, double screen, double natural)
{
    switch (request.kind) {
    case ImageSizeRequest::Kind::cells:
        return cell * request.value;
    case ImageSizeRequest::Kind::pixels:
        return request.value;
    case ImageSizeRequest::Kind::percent:
        return request.value * 0.01 * screen;
    case ImageSizeRequest::Kind::auto_:
        break;
    }
    return natural;
}

/// Premultiplied pixels made straight in place; fully opaque and fully clear ones (all of a Sixel
/// picture) are left as they are.
void unpremultiply(std::vector<uint8_t>& rgba)
{
    for (size_t at = 0; at + 3 < rgba.size(); at += 4) {
        const unsigned alpha = rgba[at + 3];
        if (alpha == 0 || alpha == 255)
            continue;
        for (size_t c = 0; c < 3; ++c)
            rgba[at + c] = uint8_t(std::min(255u, (rgba[at + c] * 255u + alpha / 2) / alpha));
    }
}

/// The pixels of one strip `width` x `cellHeight` points at `scale` pixels a point.
double stripPixels(double width, double cellHeight, double scale)
{
    return std::max(std::ceil(width * scale), 1.0) * std::max(std::ceil(cellHeight * scale), 1.0);
}

/// The strips' pixels per point: the view's `imageScale` where the strips stay within the pixel and
/// side limits at it, else the most that does, and at least 1 (the limits hold at 1 already).
double rasterScale(double width, double cellHeight, double strips, double imageScale)
{
    if (imageScale <= 1)
        return 1;
    const double fitsPixels = std::sqrt(InlineImageLimits::maximumPixels / (width * cellHeight * strips));
    const double fitsSides = InlineImageLimits::maximumSide / std::max(width, cellHeight);
    double scale = std::min({imageScale, fitsPixels, fitsSides});
    // Rounding each side up may pass the limits by a pixel: step down until it does not.
    while (scale > 1 && (stripPixels(width, cellHeight, scale) * strips > InlineImageLimits::maximumPixels ||
                         std::ceil(std::max(width, cellHeight) * scale) > InlineImageLimits::maximumSide))
        scale = std::max(1.0, scale * 0.99);
    return std::max(scale, 1.0);
}

} // namespace

std::optional<InlineImagePlan> planInlineImage(platform::Size pixelSize, ImageSizeRequest width,
                                               ImageSizeRequest height, bool preserveAspectRatio,
                                               const InlineImageMetrics& metrics,
                                               const InlineImageScreen& screen)
{
    const double cellWidth = metrics.cellSize.width, cellHeight = metrics.cellSize.height;
    if (!isPositive(cellWidth) || !isPositive(cellHeight) || !isPositive(metrics.imageScale) ||
        !isPositive(pixelSize.width) || !isPositive(pixelSize.height))
        return std::nullopt;
    const double textWidth = cellWidth * screen.cols;
    double w = requestedSize(width, cellWidth, textWidth, pixelSize.width / metrics.imageScale);
    double h =
        requestedSize(height, cellHeight, cellHeight * screen.rows, pixelSize.height / metrics.imageScale);
    Rect picture{0, 0, w, h};
    if (preserveAspectRatio) {
        const bool widthAuto = width.kind == ImageSizeRequest::Kind::auto_;
        const bool heightAuto = height.kind == ImageSizeRequest::Kind::auto_;
        if (heightAuto && !widthAuto) {
            h = w * pixelSize.height / pixelSize.width;
            picture = Rect{0, 0, w, h};
        } else if (widthAuto && !heightAuto) {
            w = h * pixelSize.width / pixelSize.height;
            picture = Rect{0, 0, w, h};
        } else if (!widthAuto && !heightAuto) {
            // The box stays as asked; the picture fits inside it, centred on the other axis.
            const double s = std::min(w / pixelSize.width, h / pixelSize.height);
            const double fittedWidth = pixelSize.width * s, fittedHeight = pixelSize.height * s;
            picture = Rect{(w - fittedWidth) * 0.5, (h - fittedHeight) * 0.5, fittedWidth, fittedHeight};
        }
    }
    // A picture that is no size, or no finite one, makes no strips.
    if (!isPositive(w) || !isPositive(h) || !isPositive(picture.width) || !isPositive(picture.height))
        return std::nullopt;
    // Each strip is a bitmap one cell high: a cell taller than the longest side makes strips no
    // bitmap can hold, so the picture could only be cut in part.
    if (w > InlineImageLimits::maximumSide || h > InlineImageLimits::maximumSide ||
        cellHeight > InlineImageLimits::maximumSide || w > InlineImageLimits::widthFactor * textWidth)
        return std::nullopt;
    // Every strip is a line feed: more strips than lines would scroll the picture's own top away.
    const double strips = std::ceil(h / cellHeight);
    if (strips < 1 || strips > screen.lineCapacity)
        return std::nullopt;
    if (stripPixels(w, cellHeight, 1) * strips > InlineImageLimits::maximumPixels)
        return std::nullopt;
    return InlineImagePlan{w, h, picture, int(strips),
                           rasterScale(w, cellHeight, strips, metrics.imageScale)};
}

std::vector<std::shared_ptr<const NativeImage>>
cutInlineImageStrips(const std::shared_ptr<const NativeImage>& picture, const InlineImagePlan& plan,
                     double cellHeight)
{
    std::vector<std::shared_ptr<const NativeImage>> strips;
    if (!picture || plan.strips < 1 || !isPositive(cellHeight))
        return strips;
    // The picture's premultiplied form lives only while the strips are cut, not in the process's
    // cache, where it would stay until some later image pushed it out.
    platform::ImageBitmapCache conversions;
    const double scale = isPositive(plan.rasterScale) ? plan.rasterScale : 1.0;
    const int stripWidth = int(std::max(std::ceil(plan.width * scale), 1.0));
    const int stripHeight = int(std::max(std::ceil(cellHeight * scale), 1.0));
    const double sx = stripWidth / plan.width, sy = stripHeight / cellHeight;
    strips.reserve(size_t(plan.strips));
    for (int i = 0; i < plan.strips; ++i) {
        std::optional<platform::Bitmap> bitmap = platform::Bitmap::create(stripWidth, stripHeight);
        if (!bitmap)
            return {};
        {
            platform::Canvas canvas(*bitmap, 1.0, conversions);
            // The whole picture placed so that this strip's band of the box fills the bitmap;
            // the canvas keeps what falls outside it. The last strip's band reaches below the
            // picture and stays clear there: the picture keeps its scale to its bottom edge.
            const double bandTop = i * cellHeight;
            const Rect destination{plan.picture.x * sx,
                                   stripHeight - (plan.picture.y + plan.picture.height - bandTop) * sy,
                                   plan.picture.width * sx, plan.picture.height * sy};
            canvas.drawImage(picture, destination, platform::ImageInterpolation::high);
        }
        std::shared_ptr<const NativeImage> strip = bitmap->makeImage();
        if (!strip)
            return {};
        strips.push_back(std::move(strip));
    }
    return strips;
}

int insertImage(const std::shared_ptr<const NativeImage>& picture, Terminal& terminal, ImageSizeRequest width,
                ImageSizeRequest height, bool preserveAspectRatio,
                const std::optional<InlineImageMetrics>& metrics)
{
    if (!picture || !metrics)
        return 0;
    const Buffer& buffer = terminal.buffer();
    const InlineImageScreen screen{terminal.cols(), terminal.rows(), buffer.lines().maxLength()};
    const std::optional<InlineImagePlan> plan =
        planInlineImage(platform::Size{double(picture->width()), double(picture->height())}, width, height,
                        preserveAspectRatio, *metrics, screen);
    if (!plan)
        return 0;
    // All strips are made before any is attached: a picture is shown whole or not at all.
    const std::vector<std::shared_ptr<const NativeImage>> strips =
        cutInlineImageStrips(picture, *plan, metrics->cellSize.height);
    if (strips.size() != size_t(plan->strips))
        return 0;
    const int stripWidth = int(plan->width);
    const int stripHeight = int(metrics->cellSize.height);
    std::vector<std::shared_ptr<TerminalImage>> rows;
    for (const std::shared_ptr<const NativeImage>& strip : strips)
        rows.push_back(std::make_shared<AppleImage>(strip, stripWidth, stripHeight, buffer.x()));
    terminal.insertImageRows(rows);
    return plan->strips;
}

int createImage(Terminal& terminal, std::span<const uint8_t> data, ImageSizeRequest width,
                ImageSizeRequest height, bool preserveAspectRatio,
                const std::optional<InlineImageMetrics>& metrics)
{
    if (!metrics)
        return 0;
    // Any format the desktop reads; the decoder learns the picture's size from its header and
    // refuses an oversized one before it decodes a pixel.
    std::optional<platform::RgbaImage> decoded =
        platform::decodeImage(data, platform::ImageDecodingLimits{int(kittyMaximumImageSide),
                                                                  InlineImageLimits::maximumDecodedPixels});
    if (!decoded)
        return 0;
    const std::shared_ptr<const NativeImage> picture =
        NativeImage::fromRGBA(decoded->width, decoded->height, std::move(decoded->rgba));
    return insertImage(picture, terminal, width, height, preserveAspectRatio, metrics);
}

int createImageFromBitmap(Terminal& terminal, std::vector<uint8_t>& bytes, int width, int height,
                          const std::optional<InlineImageMetrics>& metrics)
{
    if (!metrics || width < 1 || height < 1 ||
        int64_t(width) * height > InlineImageLimits::maximumDecodedPixels ||
        bytes.size() != size_t(width) * size_t(height) * 4)
        return 0;
    unpremultiply(bytes);
    const std::shared_ptr<const NativeImage> picture = NativeImage::fromRGBA(width, height, std::move(bytes));
    // A picture wider, in pixels, than the text area is in points is shown across the text area.
    const double textWidth = metrics->cellSize.width * terminal.cols();
    const ImageSizeRequest across =
        textWidth < double(width) ? ImageSizeRequest::percent(100) : ImageSizeRequest::automatic();
    return insertImage(picture, terminal, across, ImageSizeRequest::automatic(), true, metrics);
}

} // namespace kestrovan
