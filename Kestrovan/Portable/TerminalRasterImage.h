// Raster images on lines, for hosts that draw the terminal themselves: a decoded RGBA image is put
// into the terminal at the cursor, cut into slices one cell row high, and each slice is attached
// to the buffer line it covers, so the image scrolls, moves into the scrollback and goes away with
// its lines like any other line content. The host later asks which slices are visible and where.
//
// The pixels are shared by all slices of an image and can be dropped early with `discardPixels`;
// the slices stay on their lines but are no longer reported. Inserting and querying run under the
// terminal lock; the pixels themselves sit behind a lock of their own, so a renderer may keep and
// read them after the terminal lock is released while another thread discards them.
#pragma once

#include "Kestrovan/ImageSizeRequest.h"
#include "Kestrovan/Locked.h"
#include "Kestrovan/Terminal.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kestrovan {

class Terminal;

class TerminalRasterImage
{
public:
    using Pixels = std::shared_ptr<const std::vector<uint8_t>>;

    /// An image of `width` x `height` pixels, `rgba` holding red, green, blue and alpha per pixel,
    /// rows top first. Null unless each side is 1 to 16384, the area is at most 16,777,216 pixels
    /// and `rgba` holds exactly width x height x 4 bytes.
    static std::shared_ptr<TerminalRasterImage> create(uint32_t id, int width, int height,
                                                       std::vector<uint8_t> rgba);

    TerminalRasterImage(const TerminalRasterImage&) = delete;
    TerminalRasterImage& operator=(const TerminalRasterImage&) = delete;

    /// The host's number for the image.
    uint32_t id() const { return id_; }
    int width() const { return width_; }
    int height() const { return height_; }
    /// The pixels, or null once they were discarded. The bytes stay valid for as long as the
    /// caller holds the pointer.
    Pixels rgba() const;
    bool hasPixels() const;
    /// Drops the pixels; the image's slices are no longer reported.
    void discardPixels();

private:
    TerminalRasterImage(uint32_t id, int width, int height, std::vector<uint8_t> rgba);

    uint32_t id_;
    int width_;
    int height_;
    Locked<Pixels> rgba_;
};

/// One visible slice of a raster image.
struct TerminalRasterPlacement
{
    std::shared_ptr<TerminalRasterImage> image;
    /// The column of the image's left edge.
    int column = 0;
    /// The screen row, 0 at the top of the viewport.
    int row = 0;
    /// The slice's size on screen in points: the image's width, and at most one cell high.
    double width = 0;
    double height = 0;
    /// The slice's top and height in the image's pixels.
    double sourceY = 0;
    double sourceHeight = 0;

    friend bool operator==(const TerminalRasterPlacement&, const TerminalRasterPlacement&) = default;
};

/// Puts `image` into the terminal's active buffer at the cursor, sized by the requests against
/// cells of `cellWidth` x `cellHeight` pixels, one slice per cell row. The cursor ends on the line
/// below the image in the column where the image started. Requests that come to nothing, to more
/// than 65535 points or to more than 4096 rows are ignored.
void insertRasterImage(Terminal& terminal, const std::shared_ptr<TerminalRasterImage>& image, int cellWidth,
                       int cellHeight, ImageSizeRequest width, ImageSizeRequest height,
                       bool preserveAspectRatio) REQUIRES(terminal.terminalLock());

/// The raster slices on the visible rows, top row first, each row's in the order they were attached.
std::vector<TerminalRasterPlacement> rasterImagePlacements(const Terminal& terminal);

} // namespace kestrovan
