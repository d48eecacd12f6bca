// Sixel decoding. The payload is a stream of commands:
//   "#Pc" selects colour register Pc; "#Pc;Pu;Px;Py;Pz" also defines it (Pu 1 HLS, 2 RGB percent);
//   '"Pan;Pad;Ph;Pv' raster attributes (aspect ratio and extent; checked, but not the image size);
//   "!Pn" repeats the next sixel Pn times; "$" returns to column 0; "-" moves down one band;
//   0x3F-0x7E is a sixel: six vertical pixels of the current band, bit 0 on top.
// The image is as wide as the rightmost column reached and as tall as the lowest pixel painted.
//
// Both passes parse the payload the same way, so the sizing pass's bounds hold for every pixel the
// painting pass writes; the painting pass still checks each sixel against the bitmap, which costs
// two comparisons and turns a parsing mismatch into a stop instead of a stray write. When the
// payload opens with raster attributes, the sizing pass also paints into a bitmap of the announced
// size and the painting pass is skipped; every limit is checked exactly as in two passes.
#include "Kestrovan/SixelDcsHandler.h"

#include "Kestrovan/Fatal.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <algorithm>
#include <array>
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

/// What one sixel's six bits do: how many pixels they paint, and how far down they reach (one
/// past the lowest set bit, 0 for none). Indexed by byte - 0x3F.
struct SixelBits
{
    uint8_t writes;
    uint8_t reach;
};
constexpr std::array<SixelBits, 64> sixelBits = [] {
    std::array<SixelBits, 64> table{};
    for (unsigned bits = 0; bits < 64; ++bits)
        table[bits] = {uint8_t(std::popcount(bits)), uint8_t(std::bit_width(bits))};
    return table;
}();

bool isDigit(uint8_t byte)
{
    return byte >= '0' && byte <= '9';
}

/// The decimal number at `at`, absent when no digit stands there; `at` moves past the digits. A
/// number past the largest integer invalidates the image and moves `at` to the end, so nothing
/// after it is read.
inline std::optional<int64_t> nextInt(const uint8_t*& at, const uint8_t* end, bool& invalid)
{
    if (at == end || !isDigit(*at))
        return std::nullopt;
    int64_t value = *at++ - '0';
    while (at != end && isDigit(*at)) {
        if (__builtin_mul_overflow(value, 10, &value) || __builtin_add_overflow(value, *at - '0', &value))
            [[unlikely]] {
            invalid = true;
            at = end;
            return std::nullopt;
        }
        ++at;
    }
    return value;
}

/// 0xRRGGBBAA as the four bytes red, green, blue, alpha in memory.
uint32_t memoryOrder(uint32_t packed)
{
    const uint8_t bytes[4] = {uint8_t(packed >> 24), uint8_t(packed >> 16), uint8_t(packed >> 8),
                              uint8_t(packed)};
    uint32_t out;
    std::memcpy(&out, bytes, 4);
    return out;
}

/// A percentage 0-100 as a byte, rounding down.
uint32_t percentToByte(int64_t percent)
{
    return uint32_t(std::clamp<int64_t>(percent, 0, 100) * 255 / 100);
}

/// Writes `count` copies of one pixel. Runs of four or more go in 16- or 64-byte blocks, the last
/// block overlapping the one before it, so that a repeat is a few wide stores however long it is.
inline void fillPixels(uint8_t* at, int64_t count, uint32_t pixel)
{
    if (count < 4) {
        for (int64_t i = 0; i < count; ++i)
            std::memcpy(at + 4 * i, &pixel, 4);
        return;
    }
    uint32_t block[16];
    for (uint32_t& entry : block)
        entry = pixel;
    if (count < 16) {
        for (int64_t i = 0; i + 4 <= count; i += 4)
            std::memcpy(at + 4 * i, block, 16);
        std::memcpy(at + 4 * (count - 4), block, 16);
        return;
    }
    for (int64_t i = 0; i + 16 <= count; i += 16)
        std::memcpy(at + 4 * i, block, sizeof block);
    std::memcpy(at + 4 * (count - 16), block, sizeof block);
}

/// Paints one sixel `repeat` columns wide: its set bits are rows down from `column`.
inline void paintSixel(uint8_t* column, size_t rowBytes, unsigned bits, int64_t repeat, uint32_t pixel)
{
    if (repeat == 1) {
        for (unsigned rest = bits; rest != 0; rest &= rest - 1)
            std::memcpy(column + size_t(std::countr_zero(rest)) * rowBytes, &pixel, 4);
    } else {
        for (unsigned rest = bits; rest != 0; rest &= rest - 1)
            fillPixels(column + size_t(std::countr_zero(rest)) * rowBytes, repeat, pixel);
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
    directPalette_.clear();
    otherPalette_.clear();
    paletteCount_ = 0;
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
        // Nothing would receive the image without a host, so it is not decoded.
        const std::shared_ptr<Terminal> terminal = terminal_.lock();
        if (const std::shared_ptr<TerminalDelegate> host = terminal ? terminal->delegate() : nullptr)
            decodeAndDeliver(*terminal, *host);
    }
    // The payload and the palette go now; the bitmap stays with the handler for the host.
    std::vector<uint8_t>().swap(data_);
    directPalette_.clear();
    otherPalette_.clear();
    paletteCount_ = 0;
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

void SixelDcsHandler::decodeAndDeliver(Terminal& terminal, TerminalDelegate& host)
{
    // Most encoders announce the size first. Painting into a bitmap of that size while sizing
    // saves the second pass over the payload; a payload that paints outside it is decoded again
    // in two passes, so the result never depends on the announcement.
    const std::optional<std::pair<int64_t, int64_t>> announced = announcedSize();
    if (!announced || !decodeInOnePass(announced->first, announced->second, terminal))
        decodeInTwoPasses(terminal);
    if (invalid_ || pixels_.empty())
        return;
    host.createImageFromBitmap(terminal, pixels_, int(maxX_), int(maxY_));
}

std::optional<std::pair<int64_t, int64_t>> SixelDcsHandler::announcedSize()
{
    if (data_.size() < 2 || data_[0] != '"')
        return std::nullopt;
    const uint8_t* at = data_.data() + 1;
    nextIntArray(at, data_.data() + data_.size());
    if (invalid_) {
        // The passes read the same list and come to the same verdict.
        invalid_ = false;
        return std::nullopt;
    }
    if (list_.size() < 4 || !validDimensions(list_[2], list_[3]))
        return std::nullopt;
    // Clearing the bitmap costs its size, while the second pass costs the payload's. Trust the
    // announcement only where it saves time: a short payload claiming a large image would
    // otherwise make the terminal clear megabytes for a few bytes of input.
    constexpr int64_t pixelsPerPayloadByte = 64;
    if (list_[2] * list_[3] > pixelsPerPayloadByte * int64_t(data_.size()))
        return std::nullopt;
    return std::pair(list_[2], list_[3]);
}

void SixelDcsHandler::startPass()
{
    x_ = y_ = maxX_ = maxY_ = 0;
    pixelWrites_ = 0;
    directPalette_.clear();
    otherPalette_.clear();
    paletteCount_ = 0;
}

bool SixelDcsHandler::decodeInOnePass(int64_t width, int64_t height, const Terminal& terminal)
{
    pixels_.clear();
    pixels_.reserve(size_t(width * height * 4));
    Canvas canvas{pixels_.data(), width, height, 0, 0};
    startPass();
    leftCanvas_ = false;
    const uint8_t* const end = data_.data() + data_.size();
    const uint8_t* at = data_.data();
    int64_t color = 15;
    while (at != end && !invalid_) {
        if (*at == '#') {
            if (!selectColor(at, end, color))
                break;
            continue;
        }
        canvas.pixel = colorBytes(color, terminal);
        const bool moved = sizePixels<true>(at, end, canvas);
        if (leftCanvas_) {
            startPass();
            return false;
        }
        if (!moved)
            break;
    }
    maxX_ = std::max(x_, maxX_);
    if (invalid_ || maxX_ < 1 || maxY_ < 1) {
        std::vector<uint8_t>().swap(pixels_);
        return true;
    }
    // Every sixel fitted, so the image lies within the canvas; cut off what it did not reach.
    if (maxY_ > canvas.readyRows)
        growCanvas(canvas, maxY_);
    if (maxX_ < width) {
        for (int64_t row = 1; row < maxY_; ++row)
            std::memmove(&pixels_[size_t(row * maxX_ * 4)], &pixels_[size_t(row * width * 4)],
                         size_t(maxX_ * 4));
    }
    pixels_.resize(size_t(maxX_ * maxY_ * 4));
    return true;
}

void SixelDcsHandler::growCanvas(Canvas& canvas, int64_t bottom)
{
    const int64_t rows = std::min(std::max(bottom, (bottom + 5) / 6 * 6), canvas.height);
    pixels_.resize(size_t(rows * canvas.width * 4));
    canvas.readyRows = rows;
}

void SixelDcsHandler::decodeInTwoPasses(const Terminal& terminal)
{
    const uint8_t* const begin = data_.data();
    const uint8_t* const end = begin + data_.size();
    // No bitmap until the sizing pass allows one (a canvas left over keeps only its memory).
    pixels_.clear();

    // Sizing pass: where pixels would go, and how many writes they take.
    startPass();
    Canvas noCanvas;
    const uint8_t* at = begin;
    while (at != end && !invalid_) {
        if (*at == '#') {
            ++at;
            nextIntArray(at, end);
            if (list_.empty())
                break;
        } else if (!sizePixels<false>(at, end, noCanvas)) {
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
    at = begin;
    int64_t color = 15;
    while (at != end && !invalid_) {
        if (*at == '#') {
            if (!selectColor(at, end, color))
                break;
        } else if (!readPixels(at, end, color, terminal)) {
            break;
        }
    }
}

void SixelDcsHandler::nextIntArray(const uint8_t*& at, const uint8_t* end)
{
    list_.clear();
    for (;;) {
        // A ";" is stepped over unless it is the last byte, where it stays for the caller.
        if (end - at > 1 && *at == ';')
            ++at;
        const std::optional<int64_t> number = nextInt(at, end, invalid_);
        if (!number)
            return;
        if (list_.size() == maximumListNumbers) {
            invalid_ = true;
            return;
        }
        list_.push_back(*number);
    }
}

bool SixelDcsHandler::selectColor(const uint8_t*& at, const uint8_t* end, int64_t& color)
{
    ++at;
    nextIntArray(at, end);
    if (list_.empty())
        return false;
    color = list_[0];
    if (list_.size() > 1)
        updatePaletteEntry();
    return true;
}

bool SixelDcsHandler::validDimensions(int64_t width, int64_t height) const
{
    return width >= 1 && height >= 1 && width <= maximumPixels_ && height <= maximumPixels_ &&
           width <= maximumPixels_ / height;
}

// --- Sizing pass ---------------------------------------------------------------------------------

template <bool withCanvas>
bool SixelDcsHandler::sizePixels(const uint8_t*& position, const uint8_t* end, Canvas& canvas)
{
    const uint8_t* const start = position;
    // The working state lives in locals so that the compiler keeps it in registers.
    const uint8_t* at = position;
    int64_t x = x_;
    int64_t y = y_;
    int64_t maxX = maxX_;
    int64_t maxY = maxY_;
    int64_t writes = pixelWrites_;
    int64_t repeat = 1;
    const int64_t maximumPixels = maximumPixels_;
    const int64_t maximumPixelWrites = maximumPixelWrites_;
    bool invalid = false;
    while (at != end) {
        const uint8_t byte = *at;
        if (byte >= 0x3F && byte <= 0x7E) [[likely]] {
            // A sixel: `repeat` columns, each with the set bits painted.
            const SixelBits bits = sixelBits[byte - 0x3F];
            if (x + repeat > maximumPixels) {
                invalid = true;
                break;
            }
            if (bits.writes != 0) {
                writes += repeat * bits.writes;
                if (writes > maximumPixelWrites || y + bits.reach > maximumPixels) {
                    invalid = true;
                    break;
                }
                maxY = std::max(maxY, y + bits.reach);
            }
            // Both sides are at most maximumPixels here, so the product fits.
            if (std::max(x + repeat, maxX) * maxY > maximumPixels) {
                invalid = true;
                break;
            }
            if constexpr (withCanvas) {
                if (x + repeat > canvas.width || (bits.writes != 0 && y + bits.reach > canvas.height)) {
                    leftCanvas_ = true;
                    break;
                }
                if (bits.writes != 0 && y + bits.reach > canvas.readyRows)
                    growCanvas(canvas, y + bits.reach);
                if (bits.writes != 0)
                    paintSixel(canvas.bitmap + (size_t(y) * size_t(canvas.width) + size_t(x)) * 4,
                               size_t(canvas.width) * 4, byte - 0x3F, repeat, canvas.pixel);
            }
            x += repeat;
            repeat = 1;
            ++at;
            continue;
        }
        if (byte == '#')
            break;
        ++at;
        switch (byte) {
        case '$': // DECGCR: graphics carriage return
            maxX = std::max(maxX, x);
            x = 0;
            break;
        case '-': // DECGNL: graphics new line, six rows down
            if (y + 6 > maximumPixels)
                invalid = true;
            y += 6;
            maxX = std::max(maxX, x);
            x = 0;
            break;
        case '!': // DECGRI: repeat introducer
            if (const std::optional<int64_t> count = nextInt(at, end, invalid)) {
                if (*count > maximumPixels)
                    invalid = true;
                repeat = std::max<int64_t>(*count, 1);
            }
            break;
        case '"': // DECGRA: raster attributes; only their extent is checked
            nextIntArray(at, end);
            invalid = invalid_;
            if (list_.size() >= 4) {
                const int64_t horizontal = list_[2];
                const int64_t vertical = list_[3];
                if (horizontal > maximumPixels || vertical > maximumPixels ||
                    horizontal * vertical > maximumPixels)
                    invalid = true;
            }
            break;
        default: // anything else, line breaks included, is skipped and keeps the repeat count
            break;
        }
        if (invalid)
            break;
    }
    invalid_ = invalid_ || invalid;
    position = at;
    x_ = x;
    y_ = y;
    maxX_ = maxX;
    maxY_ = maxY;
    pixelWrites_ = writes;
    return at != start;
}

// --- Painting pass -------------------------------------------------------------------------------

uint32_t SixelDcsHandler::colorBytes(int64_t color, const Terminal& terminal) const
{
    if (color < directRegisters) {
        if (size_t(color) < directPalette_.size() && directPalette_[size_t(color)])
            return memoryOrder(*directPalette_[size_t(color)]);
    } else if (const auto found = otherPalette_.find(color); found != otherPalette_.end()) {
        return memoryOrder(found->second);
    }
    const std::vector<Color>& defaults = terminal.palette().defaultAnsiColors();
    if (color < int64_t(defaults.size())) {
        const Color& c = defaults[size_t(color)];
        return memoryOrder(uint32_t(c.red() >> 8) << 24 | uint32_t(c.green() >> 8) << 16 |
                           uint32_t(c.blue() >> 8) << 8 | 0xFF);
    }
    // A register past the default colours that the image never defined is transparent.
    return 0;
}

bool SixelDcsHandler::readPixels(const uint8_t*& position, const uint8_t* end, int64_t color,
                                 const Terminal& terminal)
{
    const uint32_t pixel = colorBytes(color, terminal);
    const uint8_t* const start = position;
    // Locals again: the pixel stores may alias any member, which would otherwise be reloaded.
    const uint8_t* at = position;
    uint8_t* const bitmap = pixels_.data();
    const int64_t width = width_;
    const int64_t height = int64_t(pixels_.size() / 4) / width;
    const size_t rowBytes = size_t(width) * 4;
    int64_t x = x_;
    int64_t y = y_;
    int64_t repeat = 1;
    bool invalid = false;
    while (at != end) {
        const uint8_t byte = *at;
        if (byte >= 0x40 && byte <= 0x7E) [[likely]] {
            const unsigned bits = byte - 0x3F;
            KESTROVAN_ASSERT(x + repeat <= width && y + sixelBits[bits].reach <= height,
                             "SixelDcsHandler: a sixel lies outside the sized bitmap");
            paintSixel(bitmap + size_t(y) * rowBytes + size_t(x) * 4, rowBytes, bits, repeat, pixel);
            x += repeat;
            repeat = 1;
            ++at;
            continue;
        }
        if (byte == '#')
            break;
        ++at;
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
        case '!':
            if (const std::optional<int64_t> count = nextInt(at, end, invalid))
                repeat = std::max<int64_t>(*count, 1);
            break;
        case '"':
            nextIntArray(at, end);
            invalid = invalid_;
            break;
        default:
            break;
        }
        if (invalid)
            break;
    }
    invalid_ = invalid_ || invalid;
    position = at;
    x_ = x;
    y_ = y;
    return at != start;
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
        packed = percentToByte(list_[2]) << 24 | percentToByte(list_[3]) << 16 |
                 percentToByte(list_[4]) << 8 | 0xFF;
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
    std::optional<PackedColor>* slot = nullptr;
    if (index < directRegisters) {
        if (directPalette_.empty())
            directPalette_.resize(size_t(directRegisters));
        slot = &directPalette_[size_t(index)];
    } else if (auto found = otherPalette_.find(index); found != otherPalette_.end()) {
        found->second = packed;
        return;
    }
    if (slot && slot->has_value()) {
        *slot = packed;
        return;
    }
    // A new register.
    if (paletteCount_ >= maximumColorRegisters) {
        invalid_ = true;
        return;
    }
    ++paletteCount_;
    if (slot)
        *slot = packed;
    else
        otherPalette_.emplace(index, packed);
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
