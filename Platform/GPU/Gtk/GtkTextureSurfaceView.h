// The render-thread surface on GTK: a widget showing `GdkGLTexture`s that a render thread draws
// with a GL context of its own.
//
// The render context comes from the display (`gdk_display_create_gl_context`) and shares its
// objects with GTK's contexts, so a texture drawn on the render thread can be shown as it is.
// Frames go through a ring of three textures, each with a framebuffer. A texture drawn and
// presented is held until GTK releases its `GdkGLTexture` (every node and snapshot that used it is
// gone); only then may the render thread draw into it again. GTK 4.8's GL textures carry no sync
// object, so `present` waits for the GPU to finish the frame before the hand-off. The textures are
// handed to GTK with a second context used only on the main thread, so that GTK never makes the
// render context current on its thread while the render thread may hold it. While GTK draws the
// window with cairo (no hardware GL), a frame is handed over as its pixels instead, read back on
// the render thread (see `Presentation`). Either way the window shows a new frame in a frame of
// its own at once, rather than a refresh interval after the one that asked for it.
#pragma once

#include "Platform/GPU/GLDevice.h"
#include "Platform/GPU/TextureSurfaceView.h"

#include <gtk/gtk.h>
#include <memory>
#include <vector>

namespace platform::gtk {

class GtkTextureSurfaceView final : public gpu::TextureSurfaceView
{
public:
    /// Textures in the ring.
    static constexpr uint32_t ringSize = 3;
    /// Pixel rows in a band of a frame shown as pixels.
    static constexpr int bandRows = 60;
    /// Render contexts of surfaces that went, kept for new surfaces with their frame buffers.
    static constexpr size_t contextsKept = 2;

    /// How a finished frame reaches GTK.
    enum class Presentation : uint8_t
    {
        /// Its pixels while GTK draws the window with cairo, else its texture.
        followToolkit,
        /// The texture itself, held until GTK releases it.
        glTexture,
        /// Its pixels, read back on the render thread; the texture is free at once. They are shown
        /// as horizontal bands of `bandRows` rows, each a memory texture remade only when its rows
        /// changed, so GTK's cairo renderer repaints only those (one texture for the whole frame
        /// makes every typed character cost the whole view, as does reading a GL texture back on
        /// the main thread at every paint).
        pixels,
    };

    /// A new surface widget on the default display; null when the display gives no GL context.
    static std::shared_ptr<GtkTextureSurfaceView> make();
    ~GtkTextureSurfaceView() override;
    GtkTextureSurfaceView(const GtkTextureSurfaceView&) = delete;
    GtkTextureSurfaceView& operator=(const GtkTextureSurfaceView&) = delete;

    /// The widget, owned by this object.
    GtkWidget* widget() const;

    std::shared_ptr<gpu::Device> device() const override { return device_; }
    std::optional<Drawable> nextDrawable(gpu::PixelSize size) override;
    void present(const Drawable& drawable) override;
    Size size() const override;
    int scaleFactor() const override;
    void setGeometryHandler(std::function<void()> handler) override;

    /// Chooses how frames reach GTK from the next `present` on (main thread).
    void setPresentation(Presentation presentation);

    /// Distinct frames the widget has drawn so far (main thread).
    uint64_t framesShown() const;
    /// The GL texture the widget shows, or null (main thread; owned by the widget).
    GdkTexture* shownTexture() const;
    /// The bands of the frame the widget shows as pixels, top first; none while it shows a GL
    /// texture (main thread; owned by the widget).
    std::vector<GdkTexture*> shownBands() const;
    /// The GL name of the texture the widget shows; 0 when none or when it shows pixels (main thread).
    uint32_t shownTextureName() const;
    /// Frame-sized buffers the texture surfaces of the process have made so far: ring textures and
    /// read-back buffers grown (any thread). Surfaces hand theirs on, so a surface made again at
    /// the same size makes none.
    static uint64_t frameBuffersMade();

    struct State;
    /// What a surface that goes hands on to the next one: its render context, the textures of its
    /// ring that GTK no longer holds and its read-back buffers.
    struct Resources;

private:
    GtkTextureSurfaceView(std::shared_ptr<State> state, Resources resources);
    void presentPixels(const Drawable& drawable);

    /// The render thread's last frames read back, bottom row first, for finding changed bands.
    struct PixelReadback
    {
        std::vector<uint8_t> current, previous;
        gpu::PixelSize previousSize;
    };

    std::shared_ptr<State> state_;
    std::shared_ptr<gpu::GLDevice> device_;
    std::unique_ptr<PixelReadback> readback_;
};

} // namespace platform::gtk
