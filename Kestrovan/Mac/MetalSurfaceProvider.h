// Where a terminal view's GPU surfaces and renderers come from.
//
// The view decides when to make, bind, replace and drop a surface; the provider only makes them.
// The GTK provider places a GL area (drawn on the main thread inside its render signal) or a
// render-thread texture surface inside the view's widget, as a child that lets pointer events
// through to the view; tests give the view a provider of their own, on the recording GPU device
// and the recording host, or one whose renderers fail.
#pragma once

#include "Kestrovan/Apple/Metal/MetalError.h"
#include "Kestrovan/Apple/Metal/MetalRenderTarget.h"
#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"
#include "Platform/UI/View.h"
#include "Platform/UI/ViewHost.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace kestrovan {

/// A GPU surface inside a view: the target a renderer draws into, the subview that shows it, and
/// the hooks the view binds to it.
struct MetalSurface
{
    std::shared_ptr<MetalRenderTarget> target;
    /// The subview showing the surface, for its frame, its order among siblings and its removal.
    std::shared_ptr<platform::View> view;
    /// A surface that draws on its own schedule (the GL area): installs what draws its frames, run
    /// on the main thread where `target->acquireDrawableFrame()` gives the drawable. Null for a
    /// surface the view draws by calling the renderer.
    std::function<void(std::function<void()>)> setDrawHandler;
    /// A surface whose context comes and goes (the GL area): installs what hears of it, with false
    /// before the context is lost and true once a new one came. Null when the context stays.
    std::function<void(std::function<void(bool available)>)> setContextHandler;
    /// A surface the view draws (the texture surface): installs what it calls when it wants a
    /// frame (a new size or scale). Null for the others.
    std::function<void(std::function<void()>)> setNeedsDisplayHandler;
};

class MetalSurfaceProvider
{
public:
    virtual ~MetalSurfaceProvider() = default;

    /// The system's default device, or none (a software-only GL counts only when allowed).
    virtual std::shared_ptr<platform::gpu::Device> systemDevice();
    /// Why there is no system device, for the log.
    virtual std::string systemDeviceAbsence();
    /// Says why there is no device, at the informational level (a machine without a GPU is an
    /// expected condition), the first time only: every view of the provider asks again.
    void reportNoDevice();
    /// A new surface of the kind asked for (`layerSurface`: the render-thread texture surface;
    /// else the GL area) inside `host` at `frame`, below every other subview; none when the host
    /// cannot show one.
    virtual std::optional<MetalSurface> makeSurface(platform::ViewHost& host, bool layerSurface,
                                                    const platform::Rect& frame) = 0;
    /// A renderer for `target`.
    virtual std::variant<std::shared_ptr<MetalTerminalRenderer>, MetalError>
    makeRenderer(const std::shared_ptr<MetalRenderTarget>& target, const MetalRendererOptions& options);

private:
    bool reportedNoDevice_ = false;
};

/// The provider of GTK surfaces for views shown by `platform::gtk::CoreViewWidget`.
std::shared_ptr<MetalSurfaceProvider> gtkMetalSurfaceProvider();

} // namespace kestrovan
