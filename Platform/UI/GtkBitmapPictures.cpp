#include "Platform/UI/GtkBitmapPictures.h"

#include "Platform/Graphics/OpaquePixels.h"

#include <cstring>
#include <utility>

namespace platform::gtk {

namespace {

// A texture of `rows` rows of premultiplied ARGB32 words (rows from the top, GDK's default memory
// format), copied: the bitmap keeps changing in place while GTK may still hold the textures of the
// previous frame. A picture without transparency, as a view's frame mostly is, is packed into three
// bytes a pixel: GTK 4.8 turns premultiplied textures back into its drawing format pixel by pixel
// through floating point, where it copies opaque ones straight across.
GdkTexture* pixelTexture(const uint8_t* pixels, int width, int rows, size_t stride)
{
    const size_t packedStride = size_t(width) * 3;
    std::vector<uint8_t> packed(packedStride * size_t(rows));
    const bool opaque = packOpaqueRows(pixels, ptrdiff_t(stride), width, rows, packed.data());
    GBytes* bytes = opaque ? g_bytes_new(packed.data(), packed.size())
                           : g_bytes_new(pixels, stride * size_t(rows - 1) + size_t(width) * 4);
    GdkTexture* texture = opaque ? gdk_memory_texture_new(width, rows, GDK_MEMORY_B8G8R8, bytes, packedStride)
                                 : gdk_memory_texture_new(width, rows, GDK_MEMORY_DEFAULT, bytes, stride);
    g_bytes_unref(bytes);
    return texture;
}

// A cairo node of a copy of the pixels: GTK's cairo renderer replays it clipped to what it
// repaints, straight from cairo's own pixel format.
GskRenderNode* pixelCairoNode(const uint8_t* pixels, int width, int rows, size_t stride, double scale,
                              const graphene_rect_t& bounds)
{
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, rows);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(image);
        return nullptr;
    }
    cairo_surface_flush(image);
    uint8_t* to = cairo_image_surface_get_data(image);
    const size_t toStride = size_t(cairo_image_surface_get_stride(image));
    for (int row = 0; row < rows; ++row)
        std::memcpy(to + toStride * size_t(row), pixels + stride * size_t(row), size_t(width) * 4);
    cairo_surface_mark_dirty(image);
    cairo_surface_set_device_scale(image, scale, scale);
    GskRenderNode* node = gsk_cairo_node_new(&bounds);
    cairo_t* context = gsk_cairo_node_get_draw_context(node);
    cairo_set_source_surface(context, image, bounds.origin.x, bounds.origin.y);
    cairo_paint(context);
    cairo_destroy(context);
    cairo_surface_destroy(image);
    return node;
}

void unrefAll(std::vector<GskRenderNode*>& nodes)
{
    for (GskRenderNode*& node : nodes)
        if (node)
            gsk_render_node_unref(std::exchange(node, nullptr));
}

} // namespace

GtkBitmapPictures::~GtkBitmapPictures()
{
    clear();
}

void GtkBitmapPictures::clear()
{
    unrefAll(bands_);
    unrefAll(patches_);
    bands_.clear();
    patches_.clear();
    width_ = 0;
    height_ = 0;
}

GskRenderNode* GtkBitmapPictures::makeNode(const Bitmap& bitmap, const PixelRect& rect) const
{
    const size_t stride = size_t(bitmap.stride());
    const uint8_t* pixels = bitmap.data() + stride * size_t(rect.y) + size_t(rect.x) * 4;
    // Drawn over the points the pixels stand for, the bitmap is shown pixel for pixel.
    const graphene_rect_t bounds =
        GRAPHENE_RECT_INIT(float(rect.x / scale_), float(rect.y / scale_), float(rect.width / scale_),
                           float(rect.height / scale_));
    if (cairoNodes_)
        return pixelCairoNode(pixels, rect.width, rect.height, stride, scale_, bounds);
    GdkTexture* texture = pixelTexture(pixels, rect.width, rect.height, stride);
    GskRenderNode* node = gsk_texture_node_new(texture, &bounds);
    g_object_unref(texture);
    return node;
}

void GtkBitmapPictures::apply(const BitmapPatches::Update& update, const Bitmap& bitmap)
{
    if (update.dropPatches) {
        unrefAll(patches_);
        patches_.clear();
    }
    for (size_t band : update.bands)
        if (band < bands_.size() && bands_[band])
            gsk_render_node_unref(std::exchange(bands_[band], nullptr));
    if (!update.patch)
        return;
    if (GskRenderNode* node = makeNode(bitmap, *update.patch))
        patches_.push_back(node);
    else
        clear(); // No memory for the patch: everything is made again from the bitmap.
}

void GtkBitmapPictures::frameDrawn(const Bitmap& bitmap, const PixelRect& changed)
{
    // Before the first `append` for this bitmap, every node is made there anyway.
    if (bitmap.width() != width_ || bitmap.height() != height_)
        return;
    apply(plan_.frameChanged(changed, isOpaque(bitmap, changed)), bitmap);
}

void GtkBitmapPictures::append(GtkSnapshot* snapshot, const Bitmap& bitmap, double scale, bool cairoNodes)
{
    if (bitmap.width() != width_ || bitmap.height() != height_ || scale != scale_ ||
        cairoNodes != cairoNodes_) {
        clear();
        width_ = bitmap.width();
        height_ = bitmap.height();
        scale_ = scale;
        cairoNodes_ = cairoNodes;
        plan_.reset(width_, height_);
        bands_.assign(plan_.bandCount(), nullptr);
    }
    for (size_t index = 0; index < bands_.size(); ++index) {
        if (!bands_[index])
            bands_[index] = makeNode(bitmap, plan_.bandRect(index));
        if (bands_[index])
            gtk_snapshot_append_node(snapshot, bands_[index]);
    }
    for (GskRenderNode* patch : patches_)
        gtk_snapshot_append_node(snapshot, patch);
}

} // namespace platform::gtk
