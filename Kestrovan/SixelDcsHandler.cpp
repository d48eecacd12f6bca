// Sixel decoding. The payload is a stream of commands:
//   "#Pc" selects colour register Pc; "#Pc;Pu;Px;Py;Pz" also defines it (Pu 1 HLS, 2 RGB percent);
//   '"Pan;Pad;Ph;Pv' raster attributes (aspect ratio and extent; checked, but not the image size);
//   "!Pn" repeats the next sixel Pn times; "$" returns to column 0; "-" moves down one band;
//   0x3F-0x7E is a sixel: six vertical pixels of the current band, bit 0 on top.
// The image is as wide as the rightmost column reached and as tall as the lowest pixel painted.
//
// Both passes parse the payload the same way, so the sizing pass's bounds hold for every pixel the
// painting pass writes; the painting pass still checks each sixel against the bitmap, which costs
// two comparisons and turns a parsing mismatch into a stop instead of a stray write.
#include "Kestrovan/SixelDcsHandler.h"

#include "Kestrovan/Fatal.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace kestrovan {

namespace {

// Largest bitmap side and area the passes work with: a width or height must fit an int for the
// delegate, and the products of two such numbers must fit an int64.
constexpr int64_t pixelCeiling = std::numeric_limits<int32_t>::max();
// Largest write count: adding one sixel's writes (at most 6 x pixelCeiling) cannot overflow.
constexpr int64_t pixelWriteCeiling = int64_t(1) << 62;

bool isDigit(uint8_t byte)
{
    return byte >= '0' && byte <= '9';
}

/// 0xRRGGBBAA as the four bytes red, green, blue, alpha in memory.
uint32_t memoryOrder(uint32_t packed)
{
    const uint8_t bytes[4] = {uint8_t(packed >> 24), uint8_t(packed >> 16), uint8_t(packed >> 8), uint8_t(packed)};
    uint32_t out;
    std::memcpy(&out, bytes, 4);
    return out;
}

/// A percentage 0-100 as a byte, rounding down.
uint32_t percentToByte(int64_t percent)
{
    return uint32_t(std::clamp<int64_t>(percent, 0, 100) * 255 / 100);
}

/// Writes `count` copies of one pixel. Long runs double what is written with each copy, so a
/// repeat over a whole row costs a few block copies instead of a store per pixel.
inline void fillPixels(uint8_t* at, int64_t count, uint32_t pixel)
{
    if (count <= 8) {
        for (int64_t i = 0; i < count; ++i)
            std::memcpy(at + 4 * i, &pixel, 4);
        return;
    }
    std::memcpy(at, &pixel, 4);
    int64_t done = 1;
    while (done < count) {
        const int64_t step = std::min(done, count - done);
        std::memcpy(at + 4 * done, at, size_t(4 * step));
        done += step;
    }
}

} // namespace

SixelDcsHandler::SixelDcsHandler(std::weak_ptr<Terminal> terminal, Limits limits)
    : terminal_(std::move(terminal)), limits_(limits),
      maximumPixels_(int64_t(std::min<uint64_t>(limits.maximumPixels, pixelCeiling))),
      maximumPixelWrites_(int64_t(std::min<uint64_t>(limits.maximumPixelWrites, pixelWriteCeiling)))
{
    list_.reserve(maximumListNumbers);
}

void SixelDcsHandler::hook(std::span<const uint8_t>, const CsiParameters&, uint8_t)
{
    // The parameters (aspect ratio, background selector, grid size) are not used: every pixel
    // starts transparent and each sixel is one pixel wide and one high.
    std::vector<uint8_t>().swap(data_);
    std::vector<uint8_t>().swap(pixels_);
    palette_.clear();
    invalid_ = false;
    pixelWrites_ = 0;
}

void SixelDcsHandler::put(std::span<const uint8_t> data)
{
    if (invalid_)
        return;
    if (data.size() > limits_.maximumInputBytes - data_.size()) {
        invalidate();
        return;
    }
    data_.insert(data_.end(), data.begin(), data.end());
}

void SixelDcsHandler::unhook()
{
    if (!invalid_ && !data_.empty()) {
        if (const std::shared_ptr<Terminal> terminal = terminal_.lock())
            decodeAndDeliver(*terminal);
    }
    // The payload and the palette go now; the bitmap stays with the handler for the host.
    std::vector<uint8_t>().swap(data_);
    palette_.clear();
    if (invalid_)
        std::vector<uint8_t>().swap(pixels_);
}

void SixelDcsHandler::invalidate()
{
    // The buffers are released by the caller that is not in the middle of reading them: `put`
    // here, `unhook` at its end.
    invalid_ = true;
    if (!data_.empty())
        std::vector<uint8_t>().swap(data_);
}

void SixelDcsHandler::decodeAndDeliver(Terminal& terminal)
{
    // Nothing would receive the image, so it is not decoded.
    const std::shared_ptr<TerminalDelegate> host = terminal.delegate();
    if (!host)
        return;
    const size_t size = data_.size();

    // Sizing pass: where pixels would go, and how many writes they take.
    x_ = y_ = maxX_ = maxY_ = 0;
    pixelWrites_ = 0;
    size_t position = 0;
    while (position < size && !invalid_) {
        if (data_[position] == '#') {
            ++position;
            nextIntArray(position);
            if (list_.empty())
                break;
        } else if (!sizePixels(position)) {
            break;
        }
    }
    maxX_ = std::max(x_, maxX_);
    const int64_t width = maxX_;
    const int64_t height = maxY_;
    if (invalid_ || width < 1 || height < 1)
        return;
    if (!validDimensions(width, height)) {
        invalid_ = true;
        return;
    }

    // Painting pass, on a bitmap that starts fully transparent.
    pixels_.assign(size_t(width * height * 4), 0);
    width_ = width;
    x_ = y_ = 0;
    position = 0;
    int64_t color = 15;
    while (position < size && !invalid_) {
        if (data_[position] == '#') {
            ++position;
            nextIntArray(position);
            if (list_.empty())
                break;
            color = list_[0];
            if (list_.size() > 1)
                updatePaletteEntry();
        } else if (!readPixels(position, color, terminal)) {
            break;
        }
    }
    if (invalid_)
        return;
    host->createImageFromBitmap(terminal, pixels_, int(width), int(height));
}

// --- Numbers -------------------------------------------------------------------------------------

SixelDcsHandler::Number SixelDcsHandler::nextInt(size_t& position)
{
    const size_t size = data_.size();
    if (position >= size || !isDigit(data_[position]))
        return std::nullopt;
    int64_t value = 0;
    while (position < size && isDigit(data_[position])) {
        const int digit = data_[position] - '0';
        if (value > (std::numeric_limits<int64_t>::max() - digit) / 10) {
            // A number past the largest integer ends the image; nothing after it is read.
            invalid_ = true;
            position = size;
            return std::nullopt;
        }
        value = value * 10 + digit;
        ++position;
    }
    return value;
}

void SixelDcsHandler::nextIntArray(size_t& position)
{
    list_.clear();
    const size_t size = data_.size();
    for (;;) {
        // A ";" is stepped over unless it is the last byte, where it stays for the caller.
        if (position + 1 < size && data_[position] == ';')
            ++position;
        const Number number = nextInt(position);
        if (!number)
            return;
        if (list_.size() == maximumListNumbers) {
            invalid_ = true;
            return;
        }
        list_.push_back(*number);
    }
}

bool SixelDcsHandler::validDimensions(int64_t width, int64_t height) const
{
    return width >= 1 && height >= 1 && width <= maximumPixels_ && height <= maximumPixels_ &&
           width <= maximumPixels_ / height;
}

// --- Sizing pass ---------------------------------------------------------------------------------

bool SixelDcsHandler::sizePixels(size_t& position)
{
    const size_t start = position;
    const size_t size = data_.size();
    const uint8_t* data = data_.data();
    int64_t repeat = 1;
    // The working state lives in locals so that the compiler keeps it in registers.
    int64_t x = x_;
    int64_t maxX = maxX_;
    int64_t maxY = maxY_;
    int64_t writes = pixelWrites_;
    const int64_t y = y_;
    const int64_t maximumPixels = maximumPixels_;
    int64_t bandY = y;
    while (position < size) {
        const uint8_t byte = data[position];
        if (byte >= 0x3F && byte <= 0x7E) [[likely]] {
            // A sixel: `repeat` columns, each with the set bits painted.
            const unsigned bits = byte - 0x3F;
            if (x + repeat > maximumPixels) {
                invalid_ = true;
                break;
            }
            if (bits != 0) {
                const int64_t added = repeat * std::popcount(bits);
                if (writes + added > maximumPixelWrites_) {
                    invalid_ = true;
                    break;
                }
                writes += added;
                // The lowest set bit reaches row bandY + (index of the top bit) + 1.
                const int64_t bottom = bandY + std::bit_width(bits);
                if (bottom > maximumPixels) {
                    invalid_ = true;
                    break;
                }
                maxY = std::max(maxY, bottom);
            }
            x += repeat;
            // Both sides are at most maximumPixels here, so the product fits.
            if (std::max(x, maxX) * maxY > maximumPixels) {
                invalid_ = true;
                break;
            }
            repeat = 1;
            ++position;
            continue;
        }
        if (byte == '#')
            break;
        ++position;
        switch (byte) {
        case '$': // DECGCR: graphics carriage return
            maxX = std::max(maxX, x);
            x = 0;
            break;
        case '-': // DECGNL: graphics new line, six rows down
            if (bandY + 6 > maximumPixels) {
                invalid_ = true;
                break;
            }
            bandY += 6;
            maxX = std::max(maxX, x);
            x = 0;
            break;
        case '!': { // DECGRI: repeat introducer
            const Number count = nextInt(position);
            if (count) {
                if (*count > maximumPixels)
                    invalid_ = true;
                else
                    repeat = std::max<int64_t>(*count, 1);
            }
            break;
        }
        case '"': { // DECGRA: raster attributes; only their extent is checked
            nextIntArray(position);
            if (!invalid_ && list_.size() >= 4) {
                const int64_t horizontal = list_[2];
                const int64_t vertical = list_[3];
                if (horizontal > maximumPixels || vertical > maximumPixels ||
                    horizontal * vertical > maximumPixels)
                    invalid_ = true;
            }
            break;
        }
        default: // anything else, line breaks included, is skipped and keeps the repeat count
            break;
        }
        if (invalid_)
            break;
    }
    x_ = x;
    y_ = bandY;
    maxX_ = maxX;
    maxY_ = maxY;
    pixelWrites_ = writes;
    return position != start;
}

// --- Painting pass -------------------------------------------------------------------------------

uint32_t SixelDcsHandler::colorBytes(int64_t color, const Terminal& terminal) const
{
    if (const auto found = palette_.find(color); found != palette_.end())
        return memoryOrder(found->second);
    const std::vector<Color>& defaults = terminal.defaultAnsiColors;
    if (color >= 0 && color < int64_t(defaults.size())) {
        const Color& c = defaults[size_t(color)];
        return memoryOrder(uint32_t(c.red() >> 8) << 24 | uint32_t(c.green() >> 8) << 16 |
                           uint32_t(c.blue() >> 8) << 8 | 0xFF);
    }
    // A register past the default colours that the image never defined is transparent.
    return 0;
}

bool SixelDcsHandler::readPixels(size_t& position, int64_t color, const Terminal& terminal)
{
    const uint32_t pixel = colorBytes(color, terminal);
    const size_t start = position;
    const size_t size = data_.size();
    const uint8_t* data = data_.data();
    uint8_t* const bitmap = pixels_.data();
    const int64_t width = width_;
    const int64_t height = int64_t(pixels_.size() / 4) / width;
    const size_t rowBytes = size_t(width) * 4;
    int64_t x = x_;
    int64_t y = y_;
    int64_t repeat = 1;
    while (position < size) {
        const uint8_t byte = data[position];
        if (byte >= 0x40 && byte <= 0x7E) [[likely]] {
            const unsigned bits = byte - 0x3F;
            KESTROVAN_ASSERT(x + repeat <= width && y + std::bit_width(bits) <= height,
                             "SixelDcsHandler: a sixel lies outside the sized bitmap");
            uint8_t* column = bitmap + size_t(y) * rowBytes + size_t(x) * 4;
            if (repeat == 1) {
                for (unsigned rest = bits; rest != 0; rest &= rest - 1)
                    std::memcpy(column + size_t(std::countr_zero(rest)) * rowBytes, &pixel, 4);
            } else {
                for (unsigned rest = bits; rest != 0; rest &= rest - 1)
                    fillPixels(column + size_t(std::countr_zero(rest)) * rowBytes, repeat, pixel);
            }
            x += repeat;
            repeat = 1;
            ++position;
            continue;
        }
        if (byte == '#')
            break;
        ++position;
        switch (byte) {
        case '?': // a sixel with no bits: the columns are passed over
            x += repeat;
            repeat = 1;
            break;
        case '$':
            x = 0;
            break;
        case '-':
            x = 0;
            y += 6;
            break;
        case '!': {
            const Number count = nextInt(position);
            if (count)
                repeat = std::max<int64_t>(*count, 1);
            break;
        }
        case '"':
            nextIntArray(position);
            break;
        default:
            break;
        }
        if (invalid_)
            break;
    }
    x_ = x;
    y_ = y;
    return position != start;
}

// --- Colours -------------------------------------------------------------------------------------

void SixelDcsHandler::updatePaletteEntry()
{
    // Shorter lists only select the register.
    if (list_.size() < 5)
        return;
    const int64_t index = list_[0];
    uint32_t packed = 0;
    switch (list_[1]) {
    case 2: // RGB, each channel in percent
        packed = percentToByte(list_[2]) << 24 | percentToByte(list_[3]) << 16 | percentToByte(list_[4]) << 8 | 0xFF;
        break;
    case 1: { // HLS: hue in degrees, lightness and saturation in percent
        const int hue = int(std::clamp<int64_t>(list_[2], 0, 360));
        const int lum = int(std::clamp<int64_t>(list_[3], 0, 100));
        const int sat = int(std::clamp<int64_t>(list_[4], 0, 100));
        packed = hls_to_rgb(hue, lum, sat) << 8 | 0xFF;
        break;
    }
    default: // no other colour coordinate system
        return;
    }
    if (palette_.size() >= maximumColorRegisters && !palette_.contains(index)) {
        invalid_ = true;
        return;
    }
    palette_[index] = packed;
}

uint32_t SixelDcsHandler::hls_to_rgb(int hue, int lum, int sat)
{
    if (sat == 0) {
        const uint32_t grey = percentToByte(lum);
        return grey << 16 | grey << 8 | grey;
    }
    // Sixel's hue circle starts at blue: 0 is blue, 120 red, 240 green. Turning it by 240 degrees
    // gives the usual circle, red at 0.
    const int h = (hue + 240) % 360;
    const double l = lum;
    const double half = (1.0 - std::fabs(2.0 * l / 100.0 - 1.0)) * sat / 2.0;
    const double max = l + half;
    const double min = l - half;
    const double d = max - min;
    double red = 0;
    double green = 0;
    double blue = 0;
    switch (h / 60) {
    case 0:
        red = max, green = min + h / 60.0 * d, blue = min;
        break;
    case 1:
        red = min + (120 - h) / 60.0 * d, green = max, blue = min;
        break;
    case 2:
        red = min, green = max, blue = min + (h - 120) / 60.0 * d;
        break;
    case 3:
        red = min, green = min + (240 - h) / 60.0 * d, blue = max;
        break;
    case 4:
        red = min + (h - 240) / 60.0 * d, green = min, blue = max;
        break;
    default:
        red = max, green = min, blue = min + (360 - h) / 60.0 * d;
        break;
    }
    // Each channel is cut to a whole percentage before it becomes a byte.
    const auto channel = [](double value) { return percentToByte(int64_t(std::trunc(value))); };
    return channel(red) << 16 | channel(green) << 8 | channel(blue);
}

} // namespace kestrovan
