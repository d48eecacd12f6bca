// How an inline picture from a program becomes strips on lines: OSC 1337 files (decoded here) and
// Sixel bitmaps (decoded by the engine) are sized in points by the program's request, cut into
// strips one cell row high, and each strip is attached to the line under the cursor, which then
// moves down a line.
//
// The request comes from program output, so every size is checked before any memory is taken.
// A picture is dropped whole, never inserted in part, when a side is not a finite number above 0,
// when it would be wider or taller than `InlineImageLimits::maximumSide` points, wider than
// `InlineImageLimits::widthFactor` text areas, larger than `InlineImageLimits::maximumPixels` in
// all its strips, or cut into more strips than the screen and its scrollback hold lines (each
// strip is a line feed: more would only scroll its own first strips away). The program's request
// is capped already (cells 1-199, pixels 1-4095, percent 1-100), but "auto" takes the picture's
// own size, which Sixel allows up to 16,777,216 pixels on one side.
//
// These run on the thread that feeds the terminal, with the terminal lock held, as the terminal's
// delegate calls them.
#pragma once

#include "Kestrovan/ImageSizeRequest.h"
#include "Kestrovan/Terminal.h"
#include "Platform/Graphics/Geometry.h"
#include "Platform/Graphics/NativeImage.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace kestrovan {

class Terminal;

namespace InlineImageLimits {
/// The longest side of a placed picture, in points, and of a strip's bitmap, in pixels.
inline constexpr double maximumSide = 16'384;
/// How many text areas wide a picture may be: a few, so a request in cells on a narrow screen still
/// shows, but not the width of a picture no screen could show.
inline constexpr double widthFactor = 4;
/// The most pixels of all a picture's strips together: 64 MiB of RGBA.
inline constexpr double maximumPixels = 16'777'216;
/// The most pixels of an OSC 1337 picture decoded before it is sized, the Sixel decoder's bound.
inline constexpr int64_t maximumDecodedPixels = 16'777'216;
} // namespace InlineImageLimits

/// What sizing reads of the view: its cell in points and its pixels per point, both known once
/// the view has measured its font.
struct InlineImageMetrics
{
    platform::Size cellSize;
    double imageScale = 1;
};

/// The screen a picture is placed on.
struct InlineImageScreen
{
    int cols = 0;
    int rows = 0;
    /// The lines the active buffer holds, screen and scrollback.
    int lineCapacity = 0;
};

/// How a picture is placed: its box in points and where the picture lies in it (the whole box,
/// unless a box given both ways keeps the picture's aspect, centred on the other axis).
struct InlineImagePlan
{
    double width = 0;
    double height = 0;
    /// The picture within the box, from its top-left corner, in points (y down).
    platform::Rect picture;
    int strips = 0;
    /// The strips' pixels per point: the view's image scale, so a picture is as sharp as the screen
    /// shows it, lowered (not below 1) where the strips would pass the pixel or side limit.
    double rasterScale = 1;

    friend bool operator==(const InlineImagePlan&, const InlineImagePlan&) = default;
};

/// Sizes a picture of `pixelSize` for the request; absent when it is dropped.
std::optional<InlineImagePlan> planInlineImage(platform::Size pixelSize, ImageSizeRequest width,
                                               ImageSizeRequest height, bool preserveAspectRatio,
                                               const InlineImageMetrics& metrics,
                                               const InlineImageScreen& screen);

/// Cuts the picture into the plan's strips, each one cell row tall (`cellHeight` points) and
/// rasterised at the plan's pixels per point; the last strip keeps the picture's scale and is clear
/// below it.
std::vector<std::shared_ptr<const platform::NativeImage>>
cutInlineImageStrips(const std::shared_ptr<const platform::NativeImage>& picture, const InlineImagePlan& plan,
                     double cellHeight);

/// Sizes, cuts and attaches `picture` at the cursor of the terminal's active buffer, one line feed
/// per strip. The terminal lock must be held. Nothing happens without metrics. Returns the number
/// of strips attached.
int insertImage(const std::shared_ptr<const platform::NativeImage>& picture, Terminal& terminal,
                ImageSizeRequest width, ImageSizeRequest height, bool preserveAspectRatio,
                const std::optional<InlineImageMetrics>& metrics) REQUIRES(terminal.terminalLock());

/// An OSC 1337 file: a picture of any format the desktop decodes (the first frame of an
/// animation), of at most `maximumDecodedPixels`, is decoded and inserted; anything else is
/// dropped. Returns the number of strips attached.
int createImage(Terminal& terminal, std::span<const uint8_t> data, ImageSizeRequest width,
                ImageSizeRequest height, bool preserveAspectRatio,
                const std::optional<InlineImageMetrics>& metrics) REQUIRES(terminal.terminalLock());

/// A Sixel bitmap (`width` x `height` RGBA pixels, alpha premultiplied), taken over: inserted at
/// the whole text area's width when it is wider (pixels against points) than the text area, else
/// at its own size, keeping its aspect. Returns the number of strips attached.
int createImageFromBitmap(Terminal& terminal, std::vector<uint8_t>& bytes, int width, int height,
                          const std::optional<InlineImageMetrics>& metrics) REQUIRES(terminal.terminalLock());

} // namespace kestrovan
