#include "Platform/GPU/Gtk/GtkTextureSurfaceView.h"

#include "Platform/GPU/Gtk/FreedMemoryReturn.h"
#include "Platform/GPU/Gtk/GdkContextBinding.h"
#include "Platform/Graphics/OpaquePixels.h"
#include "Platform/Sync/Mutex.h"
#include "Platform/UI/FrameClockDisplayLink.h"
#include "Platform/UI/GtkWidgetSubclass.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

namespace platform::gtk {

namespace {

/// How long `present` waits for the GPU; a frame not finished by then is dropped.
constexpr std::chrono::seconds presentWait{5};

std::atomic<uint64_t> frameBuffersMadeSoFar{0};

} // namespace

/// What the surface object, its widget and GTK's release callbacks share.
struct GtkTextureSurfaceView::State
{
    enum class Use : uint8_t
    {
        free,
        drawing,
        held,
    };

    struct Slot
    {
        std::shared_ptr<gpu::Texture> texture;
        std::shared_ptr<gpu::Framebuffer> framebuffer;
        Use use = Use::free;
    };

    Mutex mutex;
    std::array<Slot, ringSize> slots GUARDED_BY(mutex);

    /// Set on the main thread, read by the render thread's `present`.
    std::atomic<Presentation> presentation{Presentation::followToolkit};
    /// The window draws with GTK's cairo renderer (main thread writes).
    std::atomic<bool> toolkitDrawsWithCairo{false};

    // Main thread only.
    GdkGLContext* presentContext = nullptr;
    GtkWidget* widget = nullptr;
    GdkTexture* shown = nullptr;
    uint32_t shownName = 0;
    /// The frame shown as pixels: its size and its bands, top first (see `Presentation::pixels`).
    gpu::PixelSize bandedSize;
    std::vector<GdkTexture*> bands;
    uint64_t shownSerial = 0;
    uint64_t drawnSerial = 0;
    uint64_t framesShown = 0;
    std::function<void()> geometryHandler;

    ~State()
    {
        if (shown)
            g_object_unref(shown);
        dropBands();
        if (presentContext)
            g_object_unref(presentContext);
    }

    void geometryChanged() const
    {
        if (geometryHandler)
            geometryHandler();
    }

    /// Whether `present` hands over the frame's pixels rather than its GL texture (any thread).
    bool presentsPixels() const
    {
        switch (presentation.load()) {
        case Presentation::glTexture:
            return false;
        case Presentation::pixels:
            return true;
        case Presentation::followToolkit:
            break;
        }
        return toolkitDrawsWithCairo.load();
    }

    void dropBands()
    {
        for (GdkTexture* band : bands)
            if (band)
                g_object_unref(band);
        bands.clear();
    }

    /// The window shows the new frame in a frame of its own at once, not a refresh interval after
    /// the frame whose tick asked for it.
    void frameArrived()
    {
        ++shownSerial;
        if (!widget)
            return;
        gtk_widget_queue_draw(widget);
        expeditePaint(widget);
    }
};

struct GtkTextureSurfaceView::Resources
{
    /// Declared first, so that it goes last: the textures go into its release queue.
    std::shared_ptr<gpu::GLDevice> device;
    /// Textures of the ring, each with its framebuffer, that nobody else holds.
    std::vector<std::shared_ptr<gpu::Framebuffer>> frames;
    std::unique_ptr<PixelReadback> readback;
};

namespace {

/// A presented frame: on its way to the main thread, then the release ticket GTK hands back when
/// it is done with the texture, which the ticket keeps alive until then. GTK may let go after the
/// surface has gone; the ticket keeps the device too, so that the texture is deleted then.
struct HandOff
{
    std::weak_ptr<GtkTextureSurfaceView::State> state;
    uint32_t slot = 0;
    std::shared_ptr<gpu::GLDevice> device;
    std::shared_ptr<gpu::Texture> texture;
};

/// A presented frame's pixels on their way to the main thread: its bands, top first, each the
/// band's rows top first, or null for a band unchanged since the frame before.
struct PixelHandOff
{
    struct Band
    {
        GBytes* pixels = nullptr;
        /// Three bytes a pixel (blue, green, red) for a band without transparency, else four.
        bool opaque = false;
    };

    std::weak_ptr<GtkTextureSurfaceView::State> state;
    gpu::PixelSize size;
    std::vector<Band> bands;

    ~PixelHandOff()
    {
        for (const Band& band : bands)
            if (band.pixels)
                g_bytes_unref(band.pixels);
    }
};

/// The band of `rows` rows of `width` pixels whose last row starts at `bottomRow` (GL rows run from
/// the bottom up, 4 bytes a pixel), top row first; packed to 3 bytes a pixel when it is opaque.
/// GTK's cairo renderer draws an opaque texture by copying it, where a translucent one is blended
/// into what the window shows.
PixelHandOff::Band topFirstBand(const uint8_t* bottomRow, int width, int rows)
{
    const size_t stride = size_t(width) * 4;
    const size_t packedStride = size_t(width) * 3;
    auto* packed = static_cast<uint8_t*>(g_malloc(packedStride * size_t(rows)));
    const bool opaque =
        packOpaqueRows(bottomRow + size_t(rows - 1) * stride, -ptrdiff_t(stride), width, rows, packed);
    if (opaque)
        return {g_bytes_new_take(packed, packedStride * size_t(rows)), true};
    g_free(packed);
    auto* pixels = static_cast<uint8_t*>(g_malloc(stride * size_t(rows)));
    for (int row = 0; row < rows; ++row)
        std::memcpy(pixels + size_t(row) * stride, bottomRow + size_t(rows - 1 - row) * stride, stride);
    return {g_bytes_new_take(pixels, stride * size_t(rows)), false};
}

/// Ends a ticket: its texture goes back into the ring or, once the surface has gone, to its
/// device's release queue, which the device empties when it draws again for a later surface or
/// when it is destroyed (its last holder may be this ticket).
void endTicket(std::unique_ptr<HandOff> ticket)
{
    if (auto state = ticket->state.lock()) {
        MutexLock guard(state->mutex);
        state->slots[ticket->slot].use = GtkTextureSurfaceView::State::Use::free;
    }
}

void releaseSlot(gpointer data)
{
    endTicket(std::unique_ptr<HandOff>(static_cast<HandOff*>(data)));
}

/// The widget: it draws the shown texture over its whole area, flipped, since a GL texture's
/// first row is its bottom one; or the bands of the frame shown as pixels, top first.
class TextureSurfaceWidget
{
public:
    static constexpr const char* typeName = "KestrovanTextureSurface";
    using Subclass = GtkWidgetSubclass<TextureSurfaceWidget>;

    TextureSurfaceWidget(GtkWidget* widget, std::weak_ptr<GtkTextureSurfaceView::State> state)
        : widget_(widget), state_(std::move(state))
    {
        g_signal_connect(widget, "notify::scale-factor", G_CALLBACK(scaleChanged), this);
    }

    static void classInit(GtkWidgetClass*) {}
    void dispose() { g_signal_handlers_disconnect_by_data(widget_, this); }
    void measure(GtkOrientation, int, int*, int*) {}
    void sizeAllocate(int, int)
    {
        if (auto state = state_.lock())
            state->geometryChanged();
    }
    void snapshot(GtkSnapshot* snapshot)
    {
        auto state = state_.lock();
        if (!state)
            return;
        noteRenderer(*state);
        if (!state->shown && state->bands.empty())
            return;
        const float width = float(gtk_widget_get_width(widget_));
        const float height = float(gtk_widget_get_height(widget_));
        if (state->shown) {
            gtk_snapshot_save(snapshot);
            graphene_point_t bottom = GRAPHENE_POINT_INIT(0, height);
            gtk_snapshot_translate(snapshot, &bottom);
            gtk_snapshot_scale(snapshot, 1, -1);
            graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, width, height);
            gtk_snapshot_append_texture(snapshot, state->shown, &bounds);
            gtk_snapshot_restore(snapshot);
        } else {
            // Each band over the points its rows stand for.
            const float pointsPerRow = height / float(std::max(state->bandedSize.height, 1));
            for (size_t index = 0; index < state->bands.size() && state->bands[index]; ++index) {
                const int top = int(index) * GtkTextureSurfaceView::bandRows;
                const int rows = std::min(GtkTextureSurfaceView::bandRows, state->bandedSize.height - top);
                const graphene_rect_t bounds =
                    GRAPHENE_RECT_INIT(0, float(top) * pointsPerRow, width, float(rows) * pointsPerRow);
                gtk_snapshot_append_texture(snapshot, state->bands[index], &bounds);
            }
        }
        if (state->drawnSerial != state->shownSerial) {
            state->drawnSerial = state->shownSerial;
            ++state->framesShown;
        }
    }
    void rooted() {}
    void unrooted() {}
    void realized()
    {
        if (auto state = state_.lock())
            noteRenderer(*state);
    }
    void unrealized() {}

private:
    /// GTK's cairo renderer reads a GL texture back on the main thread at every paint: slow on a
    /// software rasterizer. The render thread then hands over the pixels instead.
    void noteRenderer(GtkTextureSurfaceView::State& state) const
    {
        GtkNative* native = gtk_widget_get_native(widget_);
        GskRenderer* renderer = native ? gtk_native_get_renderer(native) : nullptr;
        if (renderer)
            state.toolkitDrawsWithCairo = GSK_IS_CAIRO_RENDERER(renderer);
    }

    static void scaleChanged(GObject*, GParamSpec*, gpointer self)
    {
        if (auto state = static_cast<TextureSurfaceWidget*>(self)->state_.lock())
            state->geometryChanged();
    }

    GtkWidget* widget_;
    std::weak_ptr<GtkTextureSurfaceView::State> state_;
};

gboolean showPresentation(gpointer data)
{
    std::unique_ptr<HandOff> presentation(static_cast<HandOff*>(data));
    auto state = presentation->state.lock();
    if (!state) {
        endTicket(std::move(presentation));
        return G_SOURCE_REMOVE;
    }
    const gpu::PixelSize size = presentation->texture->size();
    const uint32_t name = presentation->texture->glName();
    GdkTexture* texture = gdk_gl_texture_new(state->presentContext, name, size.width, size.height,
                                             releaseSlot, presentation.release());
    if (state->shown)
        g_object_unref(state->shown);
    state->shown = texture;
    state->shownName = name;
    state->dropBands();
    state->frameArrived();
    return G_SOURCE_REMOVE;
}

gboolean showPixels(gpointer data)
{
    std::unique_ptr<PixelHandOff> presentation(static_cast<PixelHandOff*>(data));
    auto state = presentation->state.lock();
    if (!state)
        return G_SOURCE_REMOVE;
    if (state->shown)
        g_object_unref(std::exchange(state->shown, nullptr));
    state->shownName = 0;
    const gpu::PixelSize size = presentation->size;
    if (state->bandedSize != size || state->bands.size() != presentation->bands.size()) {
        state->dropBands();
        state->bands.assign(presentation->bands.size(), nullptr);
        state->bandedSize = size;
    }
    // Only the bands that changed get new textures: GTK repaints just those.
    for (size_t index = 0; index < presentation->bands.size(); ++index) {
        const PixelHandOff::Band& changed = presentation->bands[index];
        if (!changed.pixels)
            continue;
        const size_t stride = size_t(size.width) * (changed.opaque ? 3 : 4);
        const int rows = int(g_bytes_get_size(changed.pixels) / stride);
        // Premultiplied, as every frame is drawn; blue, green, red (and alpha) as the read gives them.
        GdkTexture* band = gdk_memory_texture_new(
            size.width, rows, changed.opaque ? GDK_MEMORY_B8G8R8 : GDK_MEMORY_B8G8R8A8_PREMULTIPLIED,
            changed.pixels, stride);
        if (state->bands[index])
            g_object_unref(state->bands[index]);
        state->bands[index] = band;
    }
    state->frameArrived();
    return G_SOURCE_REMOVE;
}

GdkGLContext* makeRealizedContext(GdkDisplay* display)
{
    GError* error = nullptr;
    GdkGLContext* context = gdk_display_create_gl_context(display, &error);
    if (!context) {
        g_clear_error(&error);
        return nullptr;
    }
    gdk_gl_context_set_required_version(context, 3, 3);
    if (!gdk_gl_context_realize(context, &error)) {
        g_clear_error(&error);
        g_object_unref(context);
        return nullptr;
    }
    return context;
}

/// The contexts surfaces share or hand on. A GL context is costly to make (tens of milliseconds,
/// and on a software rasterizer threads of its own and memory that is not all given back), and a
/// tab switch drops one surface and makes another. So every surface of a display hands its frames
/// to GTK through one present context, and the render context of a surface that went is kept for
/// the next one with its frame-sized buffers: the ring's textures GTK no longer holds and the
/// read-back buffers. Remade at every switch, those are several megabytes allocated on the new
/// surface's render thread and freed on the main thread; the C library keeps such freed blocks in
/// the render threads' arenas, so the process grew with every switch although nothing was live.
/// Main thread only.
class ContextPool
{
public:
    static ContextPool& shared()
    {
        static ContextPool* const pool = new ContextPool;
        return *pool;
    }

    /// The display's present context (a new reference); null when none can be made.
    GdkGLContext* presentContext(GdkDisplay* display)
    {
        forgetOtherDisplays(display);
        if (!present_)
            present_ = makeRealizedContext(display);
        return present_ ? GDK_GL_CONTEXT(g_object_ref(present_)) : nullptr;
    }

    /// What a surface that went left, else a new render device with nothing else; no device when
    /// none can be made.
    GtkTextureSurfaceView::Resources renderResources(GdkDisplay* display)
    {
        forgetOtherDisplays(display);
        if (!idle_.empty()) {
            GtkTextureSurfaceView::Resources resources = std::move(idle_.back());
            idle_.pop_back();
            return resources;
        }
        GdkGLContext* context = makeRealizedContext(display);
        if (!context)
            return {};
        auto binding = std::make_shared<GdkContextBinding>(context);
        g_object_unref(context);
        return {gpu::GLDevice::make(std::move(binding)), {}, nullptr};
    }

    /// Takes back what a surface that went leaves, once no thread draws with its device; the
    /// objects dropped before are deleted now, on the device's context. Beyond the contexts kept,
    /// everything goes.
    void giveBack(GtkTextureSurfaceView::Resources resources)
    {
        const bool kept = idle_.size() < GtkTextureSurfaceView::contextsKept;
        if (!kept)
            resources.frames.clear();
        {
            const gpu::ContextScope scope = resources.device->bindCurrent();
            if (!scope.isCurrent())
                return;
            resources.device->collectReleased();
        }
        if (kept)
            idle_.push_back(std::move(resources));
    }

    /// Render contexts kept for new surfaces (main thread).
    size_t idleCount() const { return idle_.size(); }

private:
    void forgetOtherDisplays(GdkDisplay* display)
    {
        if (display == display_)
            return;
        display_ = display;
        idle_.clear();
        if (present_)
            g_object_unref(std::exchange(present_, nullptr));
    }

    GdkDisplay* display_ = nullptr;
    GdkGLContext* present_ = nullptr;
    std::vector<GtkTextureSurfaceView::Resources> idle_;
};

} // namespace

std::shared_ptr<GtkTextureSurfaceView> GtkTextureSurfaceView::make()
{
    GdkDisplay* display = gdk_display_get_default();
    if (!display)
        return nullptr;
    ContextPool& pool = ContextPool::shared();
    GdkGLContext* presentContext = pool.presentContext(display);
    if (!presentContext)
        return nullptr;
    Resources resources = pool.renderResources(display);
    if (!resources.device) {
        g_object_unref(presentContext);
        return nullptr;
    }
    auto state = std::make_shared<State>();
    state->presentContext = presentContext;
    state->widget =
        GTK_WIDGET(g_object_ref_sink(TextureSurfaceWidget::Subclass::create(std::weak_ptr<State>(state))));
    return std::shared_ptr<GtkTextureSurfaceView>(
        new GtkTextureSurfaceView(std::move(state), std::move(resources)));
}

GtkTextureSurfaceView::GtkTextureSurfaceView(std::shared_ptr<State> state, Resources resources)
    : state_(std::move(state)), device_(std::move(resources.device)),
      readback_(resources.readback ? std::move(resources.readback) : std::make_unique<PixelReadback>())
{
    // A new widget shows no bands yet: the first frame read back sends them all.
    readback_->previousSize = {};
    MutexLock guard(state_->mutex);
    for (size_t index = 0; index < resources.frames.size() && index < ringSize; ++index) {
        state_->slots[index].framebuffer = std::move(resources.frames[index]);
        state_->slots[index].texture = state_->slots[index].framebuffer->color();
    }
}

GtkTextureSurfaceView::~GtkTextureSurfaceView()
{
    GtkWidget* widget = std::exchange(state_->widget, nullptr);
    if (widget)
        g_object_unref(widget);
    // Whoever drew with the device has let it go (the surface outlives its renderer and its
    // render loop): the next surface can have it, with the ring's textures GTK no longer holds.
    // A texture GTK still shows goes when GTK lets it go. The pool deletes what it does not keep
    // on the render context: the textures are shared with GTK's contexts and would outlive it.
    std::array<State::Slot, ringSize> ring;
    {
        MutexLock guard(state_->mutex);
        ring.swap(state_->slots);
    }
    Resources resources{std::move(device_), {}, std::move(readback_)};
    for (State::Slot& slot : ring)
        if (slot.use == State::Use::free && slot.framebuffer)
            resources.frames.push_back(std::move(slot.framebuffer));
    for (State::Slot& slot : ring) {
        slot.framebuffer.reset();
        slot.texture.reset();
    }
    ContextPool::shared().giveBack(std::move(resources));
    returnFreedMemorySoon();
}

GtkWidget* GtkTextureSurfaceView::widget() const
{
    return state_->widget;
}

std::optional<gpu::TextureSurfaceView::Drawable> GtkTextureSurfaceView::nextDrawable(gpu::PixelSize size)
{
    if (size.isEmpty())
        return std::nullopt;
    std::shared_ptr<gpu::Framebuffer> framebuffer;
    uint32_t index = ringSize;
    {
        MutexLock guard(state_->mutex);
        for (uint32_t i = 0; i < ringSize && index == ringSize; ++i) {
            State::Slot& slot = state_->slots[i];
            if (slot.use == State::Use::free) {
                slot.use = State::Use::drawing;
                index = i;
                framebuffer = slot.framebuffer;
            }
        }
    }
    if (index == ringSize)
        return std::nullopt;
    // A free texture of another size is made again; it is no longer anyone else's.
    if (!framebuffer || framebuffer->size() != size) {
        auto texture = device_->makeTexture(gpu::TextureFormat::rgba8, size);
        framebuffer = texture ? device_->makeFramebuffer(texture) : nullptr;
        ++frameBuffersMadeSoFar;
    }
    MutexLock guard(state_->mutex);
    State::Slot& slot = state_->slots[index];
    if (!framebuffer) {
        slot.use = State::Use::free;
        return std::nullopt;
    }
    slot.framebuffer = framebuffer;
    slot.texture = framebuffer->color();
    return Drawable{framebuffer->glName(), size, index};
}

void GtkTextureSurfaceView::present(const Drawable& drawable)
{
    if (drawable.slot >= ringSize)
        return;
    if (state_->presentsPixels()) {
        presentPixels(drawable);
        return;
    }
    // The widget drops its bands when it shows a texture: a later frame of pixels sends them all.
    readback_->previousSize = {};
    auto fence = device_->insertFence();
    const bool finished = fence && device_->waitForFence(*fence, presentWait);
    std::shared_ptr<gpu::Texture> texture;
    {
        MutexLock guard(state_->mutex);
        State::Slot& slot = state_->slots[drawable.slot];
        slot.use = finished ? State::Use::held : State::Use::free;
        texture = slot.texture;
    }
    if (!finished || !texture)
        return;
    // Ahead of the window's layout and paint, so a frame about to be painted shows this texture.
    g_idle_add_full(G_PRIORITY_HIGH_IDLE, showPresentation,
                    new HandOff{state_, drawable.slot, device_, std::move(texture)}, nullptr);
}

void GtkTextureSurfaceView::presentPixels(const Drawable& drawable)
{
    // The read waits for the frame to be drawn; the texture is free again as soon as it is read.
    const gpu::PixelSize size = drawable.size;
    const size_t stride = size_t(size.width) * 4;
    PixelReadback& readback = *readback_;
    if (readback.current.capacity() < stride * size_t(size.height))
        ++frameBuffersMadeSoFar;
    readback.current.resize(stride * size_t(size.height));
    const bool read =
        device_->readPixels(drawable.framebuffer, {0, 0, size.width, size.height}, readback.current.data());
    {
        MutexLock guard(state_->mutex);
        state_->slots[drawable.slot].use = State::Use::free;
    }
    if (!read)
        return;
    // GL's rows run from the bottom up: the band of rows [top, top + rows) from the top is the
    // block of GL rows [height - top - rows, height - top). Only the bands that changed since the
    // frame before are handed over.
    const bool sameSize = readback.previousSize == size;
    auto handOff = std::make_unique<PixelHandOff>();
    handOff->state = state_;
    handOff->size = size;
    for (int top = 0; top < size.height; top += bandRows) {
        const int rows = std::min(bandRows, size.height - top);
        const size_t offset = size_t(size.height - top - rows) * stride;
        const size_t length = size_t(rows) * stride;
        const bool unchanged = sameSize && std::memcmp(readback.current.data() + offset,
                                                       readback.previous.data() + offset, length) == 0;
        handOff->bands.push_back(unchanged
                                     ? PixelHandOff::Band{}
                                     : topFirstBand(readback.current.data() + offset, size.width, rows));
    }
    std::swap(readback.current, readback.previous);
    readback.previousSize = size;
    g_idle_add_full(G_PRIORITY_HIGH_IDLE, showPixels, handOff.release(), nullptr);
}

void GtkTextureSurfaceView::setPresentation(Presentation presentation)
{
    state_->presentation = presentation;
}

Size GtkTextureSurfaceView::size() const
{
    return Size{double(gtk_widget_get_width(state_->widget)), double(gtk_widget_get_height(state_->widget))};
}

int GtkTextureSurfaceView::scaleFactor() const
{
    return gtk_widget_get_scale_factor(state_->widget);
}

void GtkTextureSurfaceView::setGeometryHandler(std::function<void()> handler)
{
    state_->geometryHandler = std::move(handler);
}

uint64_t GtkTextureSurfaceView::framesShown() const
{
    return state_->framesShown;
}

GdkTexture* GtkTextureSurfaceView::shownTexture() const
{
    return state_->shown;
}

std::vector<GdkTexture*> GtkTextureSurfaceView::shownBands() const
{
    return state_->bands;
}

uint32_t GtkTextureSurfaceView::shownTextureName() const
{
    return state_->shown ? state_->shownName : 0;
}

uint64_t GtkTextureSurfaceView::frameBuffersMade()
{
    return frameBuffersMadeSoFar.load();
}

} // namespace platform::gtk
