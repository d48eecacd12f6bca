#include "Platform/Graphics/BitmapPatches.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

/// `area` limited to the bitmap.
PixelRect withinBitmap(const Bitmap& bitmap, const PixelRect& area)
{
    return area.intersection(PixelRect{0, 0, bitmap.width(), bitmap.height()});
}

const uint32_t* rowPixels(const Bitmap& bitmap, int row)
{
    return reinterpret_cast<const uint32_t*>(bitmap.data() + size_t(bitmap.stride()) * size_t(row));
}

/// Pixels compared at once while looking for a difference: memcmp compares a run of them far
/// faster than a loop compares them one by one.
constexpr int differenceRun = 16;

/// The first pixel at which two rows of `count` pixels differ; the rows are known to differ.
int firstDifference(const uint32_t* now, const uint32_t* then, int count)
{
    int first = 0;
    while (first + differenceRun <= count &&
           std::memcmp(now + first, then + first, differenceRun * sizeof(uint32_t)) == 0)
        first += differenceRun;
    while (now[first] == then[first])
        ++first;
    return first;
}

/// The last pixel at which two rows of `count` pixels differ; the rows are known to differ.
int lastDifference(const uint32_t* now, const uint32_t* then, int count)
{
    int end = count;
    while (end - differenceRun >= 0 && std::memcmp(now + end - differenceRun, then + end - differenceRun,
                                                   differenceRun * sizeof(uint32_t)) == 0)
        end -= differenceRun;
    int last = end - 1;
    while (now[last] == then[last])
        --last;
    return last;
}

} // namespace

void copyPixels(const Bitmap& bitmap, const PixelRect& area, std::vector<uint32_t>& into)
{
    into.clear();
    const PixelRect inside = withinBitmap(bitmap, area);
    if (bitmap.format() != PixelFormat::argb32 || inside != area || area.isEmpty())
        return;
    // Appended row by row into kept capacity: no pass that zeroes the pixels before they are copied.
    into.reserve(size_t(area.area()));
    for (int row = 0; row < area.height; ++row) {
        const uint32_t* from = rowPixels(bitmap, area.y + row) + area.x;
        into.insert(into.end(), from, from + area.width);
    }
}

PixelRect changedPixels(const Bitmap& bitmap, const std::vector<uint32_t>& before, const PixelRect& area)
{
    // A copy that does not match the area (it could not be made): all of it may have changed.
    if (before.size() != size_t(area.area()) || area.isEmpty())
        return withinBitmap(bitmap, area);
    int top = area.bottom(), bottom = area.y, left = area.right(), right = area.x;
    for (int row = 0; row < area.height; ++row) {
        const uint32_t* now = rowPixels(bitmap, area.y + row) + area.x;
        const uint32_t* then = before.data() + size_t(row) * size_t(area.width);
        if (std::memcmp(now, then, size_t(area.width) * sizeof(uint32_t)) == 0)
            continue;
        top = std::min(top, area.y + row);
        bottom = area.y + row + 1;
        int first = firstDifference(now, then, area.width);
        int last = lastDifference(now, then, area.width);
        left = std::min(left, area.x + first);
        right = std::max(right, area.x + last + 1);
    }
    if (bottom <= top)
        return PixelRect{};
    return PixelRect{left, top, right - left, bottom - top};
}

bool isWorthComparing(const PixelRect& area, int width)
{
    return area.area() <= int64_t(width) * BitmapPatches::bandRows * 2;
}

bool isOpaque(const Bitmap& bitmap, const PixelRect& area)
{
    if (bitmap.format() != PixelFormat::argb32)
        return false;
    const PixelRect inside = withinBitmap(bitmap, area);
    for (int row = inside.y; row < inside.bottom(); ++row) {
        const uint32_t* pixels = rowPixels(bitmap, row);
        for (int x = inside.x; x < inside.right(); ++x)
            if ((pixels[x] >> 24) != 0xFF)
                return false;
    }
    return true;
}

PixelRect BitmapPatches::bandRect(size_t index) const
{
    const int top = int(index) * bandRows;
    return PixelRect{0, top, width_, std::min(bandRows, height_ - top)};
}

BitmapPatches::Update BitmapPatches::reset(int width, int height)
{
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    bandCount_ = width_ > 0 ? size_t((height_ + bandRows - 1) / bandRows) : 0;
    patches_.clear();
    Update update;
    update.dropPatches = true;
    for (size_t index = 0; index < bandCount_; ++index)
        update.bands.push_back(index);
    return update;
}

void BitmapPatches::addBandsMeeting(const PixelRect& rect, std::vector<bool>& bands) const
{
    const PixelRect inside = rect.intersection(PixelRect{0, 0, width_, height_});
    if (inside.isEmpty())
        return;
    for (int band = inside.y / bandRows; band * bandRows < inside.bottom(); ++band)
        bands[size_t(band)] = true;
}

BitmapPatches::Update BitmapPatches::frameChanged(const PixelRect& changed, bool opaque)
{
    Update update;
    const PixelRect inside = changed.intersection(PixelRect{0, 0, width_, height_});
    if (inside.isEmpty())
        return update;
    // A small change becomes a patch while there is room for one.
    const bool small = inside.area() * 2 <= int64_t(width_) * bandRows;
    if (small && opaque && patches_.size() < maximumPatches) {
        patches_.push_back(inside);
        update.patch = inside;
        return update;
    }
    // Otherwise the bands it meets are remade, and with them every band under a patch.
    std::vector<bool> bands(bandCount_, false);
    addBandsMeeting(inside, bands);
    for (const PixelRect& patch : patches_)
        addBandsMeeting(patch, bands);
    update.dropPatches = !patches_.empty();
    patches_.clear();
    for (size_t index = 0; index < bandCount_; ++index)
        if (bands[index])
            update.bands.push_back(index);
    return update;
}

} // namespace platform
