#include "Kestrovan/Portable/TerminalRasterImage.h"

#include "Kestrovan/Buffer.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalImage.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kestrovan {

namespace {

// The largest side of an image, and of an image inserted on screen (in points).
constexpr int maximumImageSide = 16'384;
constexpr int64_t maximumImagePixels = 16'777'216;
constexpr double maximumPlacedSide = 65'535;
// The most cell rows one image may cover.
constexpr double maximumSlices = 4'096;

/// One slice of a raster image, attached to the line it covers.
class RasterLineImage final : public TerminalImage
{
public:
    RasterLineImage(std::shared_ptr<TerminalRasterImage> image, double width, double height, double sourceY,
                    double sourceHeight, int column)
        : image(std::move(image)), width(width), height(height), sourceY(sourceY), sourceHeight(sourceHeight),
          column(column)
    {}

    int pixelWidth() const override { return int(std::ceil(width)); }
    int pixelHeight() const override { return int(std::ceil(height)); }
    int col() const override { return column; }
    void setCol(int value) override { column = value; }

    const std::shared_ptr<TerminalRasterImage> image;
    // On screen, in points: the image's width and this slice's height (at most one cell).
    const double width;
    const double height;
    // The slice in the image's pixels.
    const double sourceY;
    const double sourceHeight;

private:
    int column;
};

/// The size one request asks for in points: `cell` per cell, `screen` for 100 percent, `natural`
/// when automatic.
double requestedSize(ImageSizeRequest request, double cell, double screen, double natural)
{
    switch (request.kind) {
    case ImageSizeRequest::Kind::cells:
        return cell * request.value;
    case ImageSizeRequest::Kind::pixels:
        return request.value;
    case ImageSizeRequest::Kind::percent:
        return request.value * screen / 100.0;
    case ImageSizeRequest::Kind::auto_:
        break;
    }
    return natural;
}

} // namespace

// --- TerminalRasterImage ----------------------------------------------------------------------------

std::shared_ptr<TerminalRasterImage> TerminalRasterImage::create(uint32_t id, int width, int height,
                                                                 std::vector<uint8_t> rgba)
{
    if (width < 1 || height < 1 || width > maximumImageSide || height > maximumImageSide ||
        width > maximumImagePixels / height || rgba.size() != size_t(width) * size_t(height) * 4)
        return nullptr;
    return std::shared_ptr<TerminalRasterImage>(new TerminalRasterImage(id, width, height, std::move(rgba)));
}

TerminalRasterImage::TerminalRasterImage(uint32_t id, int width, int height, std::vector<uint8_t> rgba)
    : id_(id), width_(width), height_(height),
      rgba_(std::make_shared<const std::vector<uint8_t>>(std::move(rgba)))
{}

TerminalRasterImage::Pixels TerminalRasterImage::rgba() const
{
    return rgba_.withLock([](const Pixels& pixels) { return pixels; });
}

bool TerminalRasterImage::hasPixels() const
{
    return rgba_.withLock([](const Pixels& pixels) { return pixels != nullptr; });
}

void TerminalRasterImage::discardPixels()
{
    // The bytes go when the last reader holding them lets go, outside this lock.
    Pixels dropped = rgba_.withLock([](Pixels& pixels) { return std::exchange(pixels, nullptr); });
}

// --- Inserting and querying ------------------------------------------------------------------------

void insertRasterImage(Terminal& terminal, const std::shared_ptr<TerminalRasterImage>& image, int cellWidth,
                       int cellHeight, ImageSizeRequest width, ImageSizeRequest height,
                       bool preserveAspectRatio)
{
    if (cellWidth < 1 || cellHeight < 1 || !image || !image->hasPixels())
        return;
    const double imageWidth = image->width();
    const double imageHeight = image->height();
    // In floating point: a host's cell size times the screen size may not fit an int.
    double w = requestedSize(width, cellWidth, double(terminal.cols()) * cellWidth, imageWidth);
    double h = requestedSize(height, cellHeight, double(terminal.rows()) * cellHeight, imageHeight);
    if (preserveAspectRatio) {
        const bool widthGiven = width.kind != ImageSizeRequest::Kind::auto_;
        const bool heightGiven = height.kind != ImageSizeRequest::Kind::auto_;
        if (widthGiven && heightGiven) {
            // Fit inside the requested box.
            const double scale = std::min(w / imageWidth, h / imageHeight);
            w = scale * imageWidth;
            h = scale * imageHeight;
        } else if (widthGiven) {
            h = w * imageHeight / imageWidth;
        } else if (heightGiven) {
            w = h * imageWidth / imageHeight;
        }
    }
    if (!std::isfinite(w) || !std::isfinite(h) || w <= 0 || h <= 0 || w > maximumPlacedSide ||
        h > maximumPlacedSide)
        return;
    const double slices = std::ceil(h / cellHeight);
    if (slices > maximumSlices)
        return;

    // One slice per row, each on the cursor's line at the image's column (`insertImageRows`).
    const int column = terminal.buffer().x();
    std::vector<std::shared_ptr<TerminalImage>> strips;
    for (int i = 0; i < int(slices); ++i) {
        const double top = double(i) * cellHeight;
        const double sliceHeight = std::min(h - top, double(cellHeight));
        strips.push_back(std::make_shared<RasterLineImage>(image, w, sliceHeight, imageHeight * top / h,
                                                           sliceHeight * imageHeight / h, column));
    }
    terminal.insertImageRows(strips);
    terminal.updateFullScreen();
}

std::vector<TerminalRasterPlacement> rasterImagePlacements(const Terminal& terminal)
{
    std::vector<TerminalRasterPlacement> placements;
    const Buffer& buffer = terminal.buffer();
    for (int row = 0; row < terminal.rows(); ++row) {
        const int index = buffer.yDisp() + row;
        if (index < 0 || index >= buffer.lines().count())
            continue;
        const auto& images = buffer.lines().lineOrEmpty(index).images();
        if (!images)
            continue;
        for (const std::shared_ptr<TerminalImage>& attached : *images) {
            // Other kinds of line images (a view's own) are not this query's business.
            const auto* slice = dynamic_cast<const RasterLineImage*>(attached.get());
            if (!slice || !slice->image->hasPixels())
                continue;
            placements.push_back({slice->image, slice->col(), row, slice->width, slice->height,
                                  slice->sourceY, slice->sourceHeight});
        }
    }
    return placements;
}

} // namespace kestrovan
