// Inline pictures are sized by program output (OSC 1337 width and height, a Sixel picture's own
// size) against the view's cell metrics: whatever the numbers, a plan that is made must stay
// inside the budget, and the strips cut for a small picture must be exactly the plan's.
//
// Input layout: byte 0 picks each request's kind (two bits each) and whether the aspect is kept;
// then two 4-byte request values, the picture's two sides (2 bytes each), the screen (cols, rows,
// line capacity: 2 bytes each), and three 8-byte doubles taken bit for bit (cell width, cell height,
// image scale), so NaN, infinities, denormals and negative numbers all come up.
#include "Kestrovan/Apple/InlineImageInsertion.h"
#include "Platform/Graphics/NativeImage.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace kestrovan;

namespace {

struct Reader
{
    const uint8_t* data;
    size_t size;
    template <typename T> T take()
    {
        T value{};
        const size_t n = std::min(sizeof(T), size);
        std::memcpy(&value, data, n);
        data += n;
        size -= n;
        return value;
    }
};

ImageSizeRequest request(unsigned kind, int32_t value)
{
    switch (kind & 3) {
    case 0:
        return ImageSizeRequest::cells(value);
    case 1:
        return ImageSizeRequest::pixels(value);
    case 2:
        return ImageSizeRequest::percent(value);
    default:
        return ImageSizeRequest::automatic();
    }
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in{data, size};
    const uint8_t kinds = in.take<uint8_t>();
    const ImageSizeRequest width = request(kinds, in.take<int32_t>());
    const ImageSizeRequest height = request(kinds >> 2, in.take<int32_t>());
    const bool aspect = kinds & 0x10;
    const platform::Size pixels{double(in.take<uint16_t>()), double(in.take<uint16_t>())};
    const InlineImageScreen screen{in.take<uint16_t>(), in.take<uint16_t>(), in.take<uint16_t>()};
    InlineImageMetrics metrics;
    metrics.cellSize.width = in.take<double>();
    metrics.cellSize.height = in.take<double>();
    metrics.imageScale = in.take<double>();

    const std::optional<InlineImagePlan> plan =
        planInlineImage(pixels, width, height, aspect, metrics, screen);
    if (!plan)
        return 0;
    const double cellHeight = metrics.cellSize.height;
    check(std::isfinite(plan->width) && plan->width > 0 && plan->width <= InlineImageLimits::maximumSide);
    check(std::isfinite(plan->height) && plan->height > 0 && plan->height <= InlineImageLimits::maximumSide);
    check(plan->width <= InlineImageLimits::widthFactor * metrics.cellSize.width * screen.cols);
    check(plan->strips >= 1 && plan->strips <= screen.lineCapacity);
    check(plan->strips == int(std::ceil(plan->height / cellHeight)));
    check(cellHeight <= InlineImageLimits::maximumSide);
    // Strips are rasterised at the plan's pixels per point, at least 1 and within the limits.
    const double scale = plan->rasterScale > 0 && std::isfinite(plan->rasterScale) ? plan->rasterScale : 1.0;
    check(scale >= 1);
    const double stripWidth = std::max(std::ceil(plan->width * scale), 1.0);
    const double stripHeight = std::max(std::ceil(cellHeight * scale), 1.0);
    const double stripPixels = stripWidth * stripHeight;
    check(stripPixels * plan->strips <= InlineImageLimits::maximumPixels);
    check(scale == 1 || std::max(stripWidth, stripHeight) <= InlineImageLimits::maximumSide);
    // The picture lies inside its box, to a millionth of a point (boxes of denormal size round by
    // more than any relative tolerance).
    const platform::Rect& picture = plan->picture;
    const double slack = 1e-6;
    check(picture.width > 0 && picture.height > 0);
    check(picture.x >= -slack && picture.y >= -slack);
    check(picture.x + picture.width <= plan->width + slack);
    check(picture.y + picture.height <= plan->height + slack);

    // Cutting is a pixel copy per strip; only small plans are cut, to keep each run quick.
    if (stripPixels * plan->strips <= 65'536 && pixels.width * pixels.height <= 4096) {
        std::vector<uint8_t> rgba(size_t(pixels.width * pixels.height) * 4, 0x80);
        const auto source =
            platform::NativeImage::fromRGBA(int(pixels.width), int(pixels.height), std::move(rgba));
        const auto strips = cutInlineImageStrips(source, *plan, cellHeight);
        check(strips.size() == size_t(plan->strips));
        for (const auto& strip : strips)
            check(strip && strip->width() == int(stripWidth) && strip->height() == int(stripHeight));
    }
    return 0;
}
