// The DCS handler for Sixel images (DCS ... q ... ST): collects the payload, decodes it into an RGBA
// bitmap and hands the bitmap to the host through `TerminalDelegate::createImageFromBitmap`.
//
// Decoding takes two passes over the collected bytes. The sizing pass finds the image's width and
// height and counts the pixel writes without touching memory; only when the size and the work are
// within `Limits` is the bitmap allocated and the painting pass run. (When the payload announces
// its size up front, one pass sizes and paints into a bitmap of that size, falling back to two
// passes if a sixel lands outside it; the result is the same either way.) Every limit is checked before
// the memory it guards is taken, so a hostile payload costs at most the input cap (64 MiB by
// default) plus one bitmap of `maximumPixels` pixels. Anything that breaks a limit, and an image in
// which no pixel was drawn, is dropped silently: Sixel has no error reply.
//
// One handler serves one DCS string on the parse thread, under the terminal lock.
#pragma once

#include "Kestrovan/DcsHandler.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kestrovan {

class Terminal;
class TerminalDelegate;

class SixelDcsHandler final : public DcsHandler
{
public:
    struct Limits
    {
        /// The most payload bytes collected for one image.
        size_t maximumInputBytes = 67'108'864;
        /// The largest bitmap, width times height (16,777,216 pixels are 64 MiB of RGBA).
        size_t maximumPixels = 16'777'216;
        /// The most pixels the painting pass may write, repeats and overdraw counted.
        size_t maximumPixelWrites = 67'108'864;
    };

    /// The most distinct colour registers one image may define. Programs use 256 (1,024 at most);
    /// without a cap a payload of nothing but definitions would grow the palette to several times
    /// its own size.
    static constexpr size_t maximumColorRegisters = 65'536;

    /// A handler for `terminal`, which supplies the default colours and the delegate; held weakly.
    SixelDcsHandler(std::weak_ptr<Terminal> terminal, Limits limits);

    void hook(std::span<const uint8_t> collect, const CsiParameters& parameters, uint8_t flag) override;
    void put(std::span<const uint8_t> data) override;
    void unhook() override;

    const Limits& limits() const { return limits_; }
    /// True once the current image broke a limit; the rest of its string is ignored.
    bool invalid() const { return invalid_; }

private:
    // A colour register's value, packed red, green, blue, alpha from the most significant byte.
    using PackedColor = uint32_t;
    // The longest parameter list a "#" or '"' command may carry.
    static constexpr size_t maximumListNumbers = 32;
    // Registers below this are kept in an array, the rest in a map: programs use 0-255.
    static constexpr int64_t directRegisters = 1024;

    // The bitmap the sizing pass paints as well when the image announced its size. Its memory
    // is reserved whole, but rows join the bitmap (zeroed) only as the bands reach them, so each
    // band is cleared just before it is painted, while it is in the cache.
    struct Canvas
    {
        uint8_t* bitmap = nullptr;
        int64_t width = 0;
        int64_t height = 0;
        // Rows already part of `pixels_`.
        int64_t readyRows = 0;
        // The current colour as RGBA bytes in memory order.
        uint32_t pixel = 0;
    };

    void invalidate();
    /// Decodes `data_` and delivers the bitmap.
    void decodeAndDeliver(Terminal& terminal, TerminalDelegate& host);
    /// The width and height the raster attributes at the start announce, when one pass may
    /// paint into a bitmap of that size.
    std::optional<std::pair<int64_t, int64_t>> announcedSize();
    /// Sizes and paints in one pass into a bitmap of the announced size. Answers false, with
    /// the state reset, when a sixel falls outside it and the two passes must run instead.
    bool decodeInOnePass(int64_t width, int64_t height, const Terminal& terminal);
    /// Sizes, then paints: the two passes.
    void decodeInTwoPasses(const Terminal& terminal);
    /// Resets the position, size and palette state before a pass over the whole payload.
    void startPass();

    /// Reads numbers separated by ";" into `list_`, which it clears first.
    void nextIntArray(const uint8_t*& at, const uint8_t* end);
    /// Reads the "#" at `at` and its numbers: selects register `color`, defining it first when
    /// the colour follows. False when no number follows, which ends the picture.
    bool selectColor(const uint8_t*& at, const uint8_t* end, int64_t& color);
    /// Sizing pass from `at` up to the next "#": tracks `x_`, `y_`, `maxX_`, `maxY_` and
    /// `pixelWrites_`, and with a canvas paints the sixels too (or sets `leftCanvas_` and stops
    /// at one that does not fit). Answers whether it moved.
    template <bool withCanvas> bool sizePixels(const uint8_t*& at, const uint8_t* end, Canvas& canvas);
    /// Makes the canvas rows above `bottom` and the rest of their band part of the bitmap.
    void growCanvas(Canvas& canvas, int64_t bottom);
    /// Painting pass from `at` up to the next "#" with colour register `color`.
    bool readPixels(const uint8_t*& at, const uint8_t* end, int64_t color, const Terminal& terminal);
    /// A colour definition "#Pc;Pu;Px;Py;Pz" in `list_`.
    void updatePaletteEntry();
    bool validDimensions(int64_t width, int64_t height) const;
    /// The register's colour as RGBA bytes in memory order.
    uint32_t colorBytes(int64_t color, const Terminal& terminal) const;
    /// HLS (hue 0-360 with 0 blue, lightness and saturation in percent) to 0xRRGGBB.
    static uint32_t hls_to_rgb(int hue, int lum, int sat);

    std::weak_ptr<Terminal> terminal_;
    Limits limits_;
    // The limits as the passes use them: small enough that no sum or product of two overflows and
    // that a width or height fits an int.
    int64_t maximumPixels_ = 0;
    int64_t maximumPixelWrites_ = 0;

    std::vector<uint8_t> data_;
    bool invalid_ = false;
    int64_t pixelWrites_ = 0;
    // The palette: registers below `directRegisters` by index, the others by number.
    std::vector<std::optional<PackedColor>> directPalette_;
    std::unordered_map<int64_t, PackedColor> otherPalette_;
    size_t paletteCount_ = 0;
    std::vector<uint8_t> pixels_;
    int64_t x_ = 0;
    int64_t y_ = 0;
    int64_t maxX_ = 0;
    int64_t maxY_ = 0;
    // The bitmap's width while painting.
    int64_t width_ = 0;
    // A sixel of the one-pass decoding fell outside the announced size.
    bool leftCanvas_ = false;
    // The last parameter list read, reused to avoid an allocation per command.
    std::vector<int64_t> list_;
};

} // namespace kestrovan
