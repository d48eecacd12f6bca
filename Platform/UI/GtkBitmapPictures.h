// A view's kept bitmap shown through GTK as render nodes that last from frame to frame: bands of
// rows and patches of changed pixels, as `BitmapPatches` decides. GTK compares each frame's nodes
// with the last frame's and repaints only where they differ, so a node kept as it was costs no
// repaint, and a typed character costs the patch of its pixels.
// Under GTK's cairo renderer (software drawing), the nodes are cairo nodes: it draws those only
// where it repaints, where a texture node is converted whole on every frame it is drawn in.
// Other renderers get texture nodes, which they keep on the GPU.
#pragma once

#include "Platform/Graphics/Bitmap.h"
#include "Platform/Graphics/BitmapPatches.h"

#include <gtk/gtk.h>
#include <vector>

namespace platform::gtk {

class GtkBitmapPictures
{
public:
    GtkBitmapPictures() = default;
    ~GtkBitmapPictures();
    GtkBitmapPictures(const GtkBitmapPictures&) = delete;
    GtkBitmapPictures& operator=(const GtkBitmapPictures&) = delete;

    /// Drops every node: the next `append` makes all of them again.
    void clear();
    /// A frame was drawn into `bitmap` (the one last appended) and changed the pixels in `changed`.
    void frameDrawn(const Bitmap& bitmap, const PixelRect& changed);
    /// Appends the bitmap's nodes to `snapshot`, making the missing ones; the bitmap is shown at
    /// `scale` pixels per point from the widget's origin. `cairoNodes` when GTK draws with cairo.
    void append(GtkSnapshot* snapshot, const Bitmap& bitmap, double scale, bool cairoNodes);

    /// How many patches lie above the bands (for tests).
    size_t patchCount() const { return patches_.size(); }

private:
    /// Applies an update of the plan; a new patch is made from `bitmap` at once.
    void apply(const BitmapPatches::Update& update, const Bitmap& bitmap);
    GskRenderNode* makeNode(const Bitmap& bitmap, const PixelRect& rect) const;

    BitmapPatches plan_;
    /// One node per band (null where it must be made again), and the patches, oldest first.
    std::vector<GskRenderNode*> bands_;
    std::vector<GskRenderNode*> patches_;
    int width_ = 0;
    int height_ = 0;
    double scale_ = 0;
    bool cairoNodes_ = false;
};

} // namespace platform::gtk
