#include "Kestrovan/Mac/MetalSurfaceProvider.h"

#include "Kestrovan/Apple/Metal/MetalGLAreaTarget.h"
#include "Kestrovan/Apple/Metal/MetalSystemDevice.h"
#include "Kestrovan/Apple/Metal/TerminalMetalLayerView.h"
#include "Platform/GPU/Gtk/GtkGLAreaView.h"
#include "Platform/GPU/Gtk/GtkTextureSurfaceView.h"
#include "Platform/Log/Log.h"
#include "Platform/UI/CoreViewWidget.h"
#include "Platform/UI/GtkChildPlacement.h"

namespace kestrovan {

std::shared_ptr<platform::gpu::Device> MetalSurfaceProvider::systemDevice()
{
    return systemDefaultMetalDevice();
}

std::string MetalSurfaceProvider::systemDeviceAbsence()
{
    return kestrovan::systemDeviceAbsence().value_or("no GL device is available");
}

void MetalSurfaceProvider::reportNoDevice()
{
    if (reportedNoDevice_)
        return;
    reportedNoDevice_ = true;
    static const platform::Logger logger("org.morvane.Kestrovan", "GPU");
    logger.info("Kestrovan: " + systemDeviceAbsence() + "; drawing on the CPU");
}

std::variant<std::shared_ptr<MetalTerminalRenderer>, MetalError>
MetalSurfaceProvider::makeRenderer(const std::shared_ptr<MetalRenderTarget>& target,
                                   const MetalRendererOptions& options)
{
    return MetalTerminalRenderer::make(target, options);
}

namespace {

class GtkMetalSurfaceProvider final : public MetalSurfaceProvider
{
public:
    std::optional<MetalSurface> makeSurface(platform::ViewHost& host, bool layerSurface,
                                            const platform::Rect& frame) override
    {
        auto* parent = dynamic_cast<platform::gtk::CoreViewWidget*>(&host);
        if (!parent)
            return std::nullopt;
        MetalSurface surface;
        GtkWidget* child = nullptr;
        if (layerSurface) {
            std::shared_ptr<platform::gtk::GtkTextureSurfaceView> layer =
                platform::gtk::GtkTextureSurfaceView::make();
            if (!layer)
                return std::nullopt;
            child = layer->widget();
            auto target = std::make_shared<TerminalMetalLayerView>(layer);
            surface.setNeedsDisplayHandler =
                [weak = std::weak_ptr<TerminalMetalLayerView>(target)](std::function<void()> handler) {
                    if (const auto view = weak.lock())
                        view->onNeedsDisplay = std::move(handler);
                };
            surface.target = std::move(target);
        } else {
            auto area = std::make_shared<platform::gtk::GtkGLAreaView>();
            child = area->widget();
            auto target = std::make_shared<MetalGLAreaTarget>(area);
            surface.setDrawHandler =
                [weak = std::weak_ptr<MetalGLAreaTarget>(target)](std::function<void()> handler) {
                    if (const auto view = weak.lock())
                        view->setDrawHandler(std::move(handler));
                };
            surface.setContextHandler = [weak = std::weak_ptr<platform::gtk::GtkGLAreaView>(area)](
                                            std::function<void(bool)> handler) {
                if (const auto view = weak.lock())
                    view->setContextHandler(std::move(handler));
            };
            surface.target = std::move(target);
        }
        // The surface only shows frames: clicks, drags and the wheel go to the terminal view under it.
        gtk_widget_set_can_target(child, false);
        gtk_widget_set_focusable(child, false);
        auto view = std::make_shared<platform::gtk::GtkChildView>(child);
        gtk_widget_set_parent(child, parent->widget());
        platform::gtk::orderChild(child, nullptr, false);
        view->setFrame(frame);
        surface.view = std::move(view);
        return surface;
    }
};

} // namespace

std::shared_ptr<MetalSurfaceProvider> gtkMetalSurfaceProvider()
{
    static const std::shared_ptr<MetalSurfaceProvider> provider = std::make_shared<GtkMetalSurfaceProvider>();
    return provider;
}

} // namespace kestrovan
