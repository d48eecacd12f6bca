// The persistent pixels of a view drawn on the CPU, for partial redraws.
//
// A `BackingStore` keeps one bitmap the size of the view from frame to frame. Changes are marked
// with `invalidate`; `beginFrame` then hands out a canvas clipped to the union of what was marked
// (grown to whole device pixels), so a frame redraws only that part and every other pixel stays as
// the last frame left it. The one trade-off: the dirty region is a single bounding rectangle, not
// a list, so two far-apart changes redraw what lies between them too; terminal frames change
// whole rows, mostly neighbouring ones, where a list would buy little.
// A frame's canvas draws into the store's bitmap: let it go before the store is resized.
#pragma once

#include "Platform/Graphics/Bitmap.h"
#include "Platform/Graphics/Canvas.h"
#include "Platform/Graphics/Geometry.h"

#include <optional>

namespace platform {

class BackingStore
{
public:
    /// Fits the store to a view of `size` points at `scale` device pixels per point (each side
    /// rounded up to whole pixels). Returns true when the pixels were kept: same pixel size and
    /// scale as before. Otherwise the store starts over with transparent pixels, all of it
    /// marked dirty, and returns false; also false when no bitmap of that size can be made, in
    /// which case the store has none until a later resize succeeds.
    bool resize(Size size, double scale);

    /// The view's size in points and the scale, as last resized.
    Size size() const { return size_; }
    double scaleFactor() const { return scale_; }

    /// The pixels, or null before the first successful resize.
    const Bitmap* bitmap() const { return bitmap_ ? &*bitmap_ : nullptr; }

    /// Marks a part of the view (y-up points) as needing to be drawn again.
    void invalidate(const Rect& rect);
    /// Marks the whole view.
    void invalidateAll();
    /// What the next frame must draw: the marked area grown to whole device pixels and limited to
    /// the view; empty when nothing is marked.
    Rect dirtyRect() const;

    /// A canvas on the pixels clipped to `dirtyRect`, which is then empty again. Nothing when the
    /// store has no bitmap; a canvas with an empty clip when nothing was marked.
    std::optional<Canvas> beginFrame();

private:
    std::optional<Bitmap> bitmap_;
    Size size_;
    double scale_ = 1;
    Rect dirty_;
};

} // namespace platform
