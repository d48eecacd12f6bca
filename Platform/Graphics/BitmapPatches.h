// Which pixels of a kept bitmap a toolkit is handed anew after each frame, so that it repaints only
// the pixels that changed.
//
// The bitmap is shown as horizontal bands of whole pixel rows, each a picture of its own, with
// small patches above them. A frame that changed a few pixels (a typed character, the caret's
// cell) adds a patch of just the pixels that differ and leaves every band as it was: a toolkit
// that compares a frame's pictures with the last frame's (GTK does) then repaints the patch alone,
// where a remade band would cost it a band's worth of pixels on every key. A large change (more
// than half a band's pixels), a change to pixels that are not opaque, or a patch beyond
// `maximumPatches` remakes bands instead; every
// patch is then dropped and every band under one is remade too, since a patch left above a remade
// band would show older pixels over newer ones. Coordinates are whole pixels, rows from the top.
#pragma once

#include "Platform/Graphics/Bitmap.h"
#include "Platform/Graphics/Geometry.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace platform {

/// Replaces `into` with the pixels of `area` in `bitmap` (an `argb32` bitmap), row after row, for
/// `changedPixels`; empties it when the area cannot be copied. A buffer kept from frame to frame
/// is filled without being allocated or cleared again.
void copyPixels(const Bitmap& bitmap, const PixelRect& area, std::vector<uint32_t>& into);
/// The smallest rectangle around the pixels of `area` that differ between `before` (made by
/// `copyPixels` for the same area) and `bitmap`; empty when none does.
PixelRect changedPixels(const Bitmap& bitmap, const std::vector<uint32_t>& before, const PixelRect& area);
/// Whether a frame that redraws `area` of a bitmap `width` pixels wide is worth comparing before and
/// after: up to two bands' worth of pixels (an echo's rows). A larger redraw (scrolling output) is
/// taken as changed throughout, sparing it two passes over many pixels that mostly did change.
bool isWorthComparing(const PixelRect& area, int width);
/// Whether every pixel of `area` in `bitmap` (an `argb32` bitmap) is opaque.
bool isOpaque(const Bitmap& bitmap, const PixelRect& area);

class BitmapPatches
{
public:
    /// Pixel rows per band: a multiple of every usual scale, so that bands start on whole points.
    static constexpr int bandRows = 60;
    /// How many patches may lie above the bands before they are folded into remade bands.
    static constexpr size_t maximumPatches = 48;

    /// What the pictures must become after a frame, applied in this order.
    struct Update
    {
        /// Drop every patch.
        bool dropPatches = false;
        /// Make these bands again from the bitmap, in increasing order.
        std::vector<size_t> bands;
        /// Then add a patch of these pixels above everything.
        std::optional<PixelRect> patch;

        bool operator==(const Update&) const = default;
    };

    /// Starts over for a bitmap of `width` x `height` pixels: every band is to be made.
    Update reset(int width, int height);
    /// A frame changed the pixels in `changed` (nothing when it is empty). A patch is drawn over
    /// the band below it, so only `opaque` pixels can be a patch: others would blend with the
    /// band's older ones, and remake their bands instead.
    Update frameChanged(const PixelRect& changed, bool opaque = true);

    size_t bandCount() const { return bandCount_; }
    /// The pixels band `index` shows.
    PixelRect bandRect(size_t index) const;
    /// The patches above the bands, oldest first.
    const std::vector<PixelRect>& patches() const { return patches_; }

private:
    /// Adds the bands that `rect` meets to `bands`.
    void addBandsMeeting(const PixelRect& rect, std::vector<bool>& bands) const;

    int width_ = 0;
    int height_ = 0;
    size_t bandCount_ = 0;
    std::vector<PixelRect> patches_;
};

} // namespace platform
