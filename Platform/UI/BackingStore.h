// The persistent surface a view's frame is drawn into, and the part of it that needs redrawing.
//
// A cairo image surface (premultiplied ARGB32) with as many pixels as the view covers at its
// device scale, so a scale of 2 has four pixels for every point. Its pixels stay from frame to
// frame: a redraw touches only the dirty rectangle, the union of everything invalidated since the
// last draw. Changing the size or the scale makes a new surface, which is dirty as a whole. This
// class needs cairo but no display.
#pragma once

#include "Platform/UI/UIGeometry.h"
#include "Platform/UI/ViewCore.h"

#include <functional>

namespace platform {

class BackingStore
{
public:
    /// cairo's own limit on an image surface's side.
    static constexpr int maximumSide = 32767;

    BackingStore() = default;
    ~BackingStore();
    BackingStore(const BackingStore&) = delete;
    BackingStore& operator=(const BackingStore&) = delete;

    /// Makes the surface fit a view of `size` points at `scale`; true when a new surface was made
    /// (or the old one dropped because the view covers no pixel). Sides are capped at
    /// `maximumSide` pixels; a scale that is not a positive number counts as 1.
    bool update(UISize size, double scale);

    /// Marks the whole view for redrawing.
    void invalidate();
    /// Marks `rect` (y-up) for redrawing; the part outside the view is ignored.
    void invalidate(const UIRect& rect);
    bool isDirty() const { return !dirty_.isEmpty(); }
    /// The part waiting to be redrawn (y-up).
    UIRect dirtyRect() const { return dirty_; }

    /// Runs `draw` on the dirty part (with a context clipped to it) and marks the surface clean;
    /// false, with nothing drawn, when nothing is dirty or there is no surface.
    bool drawDirty(const std::function<void(const DrawRequest&)>& draw);

    /// The surface; null while the view covers no pixel.
    cairo_surface_t* surface() const { return surface_; }
    int pixelWidth() const { return pixelWidth_; }
    int pixelHeight() const { return pixelHeight_; }
    UISize size() const { return size_; }
    double scale() const { return scale_; }

private:
    cairo_surface_t* surface_ = nullptr;
    int pixelWidth_ = 0;
    int pixelHeight_ = 0;
    UISize size_;
    double scale_ = 1;
    UIRect dirty_;
};

} // namespace platform
