#include "Platform/GPU/Gtk/GtkTextureSurfaceView.h"

#include "Platform/GPU/Gtk/GdkContextBinding.h"
#include "Platform/Sync/Mutex.h"
#include "Platform/UI/GtkWidgetSubclass.h"

#include <array>
#include <chrono>

namespace platform::gtk {

namespace {

/// How long `present` waits for the GPU; a frame not finished by then is dropped.
constexpr std::chrono::seconds presentWait{5};

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

    // Main thread only.
    GdkGLContext* presentContext = nullptr;
    GtkWidget* widget = nullptr;
    GdkTexture* shown = nullptr;
    uint32_t shownName = 0;
    uint64_t shownSerial = 0;
    uint64_t drawnSerial = 0;
    uint64_t framesShown = 0;
    std::function<void()> geometryHandler;

    ~State()
    {
        if (shown)
            g_object_unref(shown);
        if (presentContext)
            g_object_unref(presentContext);
    }

    void geometryChanged() const
    {
        if (geometryHandler)
            geometryHandler();
    }
};

namespace {

/// A presented frame: on its way to the main thread, then the release ticket GTK hands back when
/// it is done with the texture, which the ticket keeps alive until then.
struct HandOff
{
    std::weak_ptr<GtkTextureSurfaceView::State> state;
    uint32_t slot = 0;
    std::shared_ptr<gpu::Texture> texture;
};

void releaseSlot(gpointer data)
{
    std::unique_ptr<HandOff> ticket(static_cast<HandOff*>(data));
    if (auto state = ticket->state.lock()) {
        MutexLock guard(state->mutex);
        state->slots[ticket->slot].use = GtkTextureSurfaceView::State::Use::free;
    }
}

/// The widget: it draws the shown texture over its whole area, flipped, since a GL texture's
/// first row is its bottom one.
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
        if (!state || !state->shown)
            return;
        const float width = float(gtk_widget_get_width(widget_));
        const float height = float(gtk_widget_get_height(widget_));
        gtk_snapshot_save(snapshot);
        graphene_point_t bottom = GRAPHENE_POINT_INIT(0, height);
        gtk_snapshot_translate(snapshot, &bottom);
        gtk_snapshot_scale(snapshot, 1, -1);
        graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, width, height);
        gtk_snapshot_append_texture(snapshot, state->shown, &bounds);
        gtk_snapshot_restore(snapshot);
        if (state->drawnSerial != state->shownSerial) {
            state->drawnSerial = state->shownSerial;
            ++state->framesShown;
        }
    }
    void rooted() {}
    void unrooted() {}
    void realized() {}
    void unrealized() {}

private:
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
    if (!state)
        return G_SOURCE_REMOVE;
    const gpu::PixelSize size = presentation->texture->size();
    const uint32_t name = presentation->texture->glName();
    GdkTexture* texture = gdk_gl_texture_new(state->presentContext, name, size.width, size.height,
                                             releaseSlot, presentation.release());
    if (state->shown)
        g_object_unref(state->shown);
    state->shown = texture;
    state->shownName = name;
    ++state->shownSerial;
    if (state->widget)
        gtk_widget_queue_draw(state->widget);
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

} // namespace

std::shared_ptr<GtkTextureSurfaceView> GtkTextureSurfaceView::make()
{
    GdkDisplay* display = gdk_display_get_default();
    if (!display)
        return nullptr;
    GdkGLContext* renderContext = makeRealizedContext(display);
    if (!renderContext)
        return nullptr;
    auto binding = std::make_shared<GdkContextBinding>(renderContext);
    g_object_unref(renderContext);
    auto device = gpu::GLDevice::make(std::move(binding));
    GdkGLContext* presentContext = makeRealizedContext(display);
    if (!device || !presentContext) {
        if (presentContext)
            g_object_unref(presentContext);
        return nullptr;
    }
    auto state = std::make_shared<State>();
    state->presentContext = presentContext;
    state->widget =
        GTK_WIDGET(g_object_ref_sink(TextureSurfaceWidget::Subclass::create(std::weak_ptr<State>(state))));
    return std::shared_ptr<GtkTextureSurfaceView>(
        new GtkTextureSurfaceView(std::move(state), std::move(device)));
}

GtkTextureSurfaceView::GtkTextureSurfaceView(std::shared_ptr<State> state,
                                             std::shared_ptr<gpu::GLDevice> device)
    : state_(std::move(state)), device_(std::move(device))
{}

GtkTextureSurfaceView::~GtkTextureSurfaceView()
{
    GtkWidget* widget = std::exchange(state_->widget, nullptr);
    if (widget)
        g_object_unref(widget);
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
    g_idle_add(showPresentation, new HandOff{state_, drawable.slot, std::move(texture)});
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

uint32_t GtkTextureSurfaceView::shownTextureName() const
{
    return state_->shown ? state_->shownName : 0;
}

} // namespace platform::gtk
