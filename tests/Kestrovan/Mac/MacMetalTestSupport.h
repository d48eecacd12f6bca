// GPU surfaces for the view on the recording host: a provider whose surfaces are subviews of the
// recording host drawn on the recording GPU device, as the texture surface (drawn by whoever calls
// the renderer) or as a GL area (drawn when the test fires its render signal, with a context the
// test takes away and gives back), and whose renderers can be made to fail.
#pragma once

#include "Kestrovan/Apple/Metal/MetalOffscreenTarget.h"
#include "Kestrovan/Apple/Metal/RecordingFrameTestSupport.h"
#include "Kestrovan/Mac/MacViewTestSupport.h"
#include "Kestrovan/Mac/MetalSurfaceProvider.h"
#include "Platform/GPU/RecordingDevice.h"
#include "Platform/Log/Log.h"

#include <chrono>
#include <deque>
#include <thread>

namespace kestrovan::testing {

/// A GL area's stand-in: it draws only inside the render signal the test fires, and its device is
/// none while its context is away.
class AreaTarget final : public MetalRenderTarget
{
public:
    explicit AreaTarget(std::shared_ptr<platform::gpu::RecordingDevice> device) : device_(std::move(device))
    {}

    std::shared_ptr<platform::gpu::Device> renderDevice() const override { return device_; }
    void setRenderDevice(std::shared_ptr<platform::gpu::Device>) override {}
    platform::gpu::TextureFormat renderPixelFormat() const override
    {
        return platform::gpu::TextureFormat::rgba8;
    }
    void setRenderDrawableSize(platform::Size) override {}
    void setRenderContentsScale(double) override {}
    std::shared_ptr<MetalRenderSurface> detachedRenderSurface() const override { return nullptr; }
    std::optional<MetalDrawableFrame> acquireDrawableFrame() override
    {
        if (!inside_ || !device_)
            return std::nullopt;
        return MetalOffscreenTarget(device_, platform::Size{64, 32}).acquireDrawableFrame();
    }
    bool needsExternalDrawCall() const override { return false; }
    void requestDisplay() override { ++displayRequests; }

    /// The render signal: the draw handler runs with a drawable.
    void fireRender()
    {
        inside_ = true;
        if (drawHandler)
            drawHandler();
        inside_ = false;
    }
    /// The context goes (unrealize) and a new one comes (realize).
    void loseContext()
    {
        if (contextHandler)
            contextHandler(false);
        device_.reset();
    }
    void regainContext(std::shared_ptr<platform::gpu::RecordingDevice> device)
    {
        device_ = std::move(device);
        if (contextHandler)
            contextHandler(true);
    }

    std::function<void()> drawHandler;
    std::function<void(bool)> contextHandler;
    int displayRequests = 0;

private:
    std::shared_ptr<platform::gpu::RecordingDevice> device_;
    bool inside_ = false;
};

class RecordingSurfaceProvider final : public MetalSurfaceProvider
{
public:
    std::shared_ptr<platform::gpu::Device> systemDevice() override
    {
        return deviceAvailable ? device : nullptr;
    }
    std::optional<MetalSurface> makeSurface(platform::ViewHost& host, bool layerSurface,
                                            const platform::Rect& frame) override
    {
        MetalSurface surface;
        surface.view = host.addSubview(std::make_shared<platform::ViewCore>());
        surface.view->orderBelow(nullptr);
        surface.view->setFrame(frame);
        if (layerSurface) {
            auto target = std::make_shared<metaltest::SurfaceTarget>(
                std::make_shared<MetalOffscreenTarget>(device, platform::Size{64, 32}));
            layers.push_back(target);
            surface.setNeedsDisplayHandler = [](std::function<void()>) {};
            surface.target = target;
        } else {
            auto area = std::make_shared<AreaTarget>(device);
            areas.push_back(area);
            surface.setDrawHandler = [weak = std::weak_ptr<AreaTarget>(area)](std::function<void()> handler) {
                if (const auto target = weak.lock())
                    target->drawHandler = std::move(handler);
            };
            surface.setContextHandler =
                [weak = std::weak_ptr<AreaTarget>(area)](std::function<void(bool)> handler) {
                    if (const auto target = weak.lock())
                        target->contextHandler = std::move(handler);
                };
            surface.target = area;
        }
        ++surfacesMade;
        return surface;
    }
    std::variant<std::shared_ptr<MetalTerminalRenderer>, MetalError>
    makeRenderer(const std::shared_ptr<MetalRenderTarget>& target,
                 const MetalRendererOptions& options) override
    {
        if (!failures.empty()) {
            const MetalError error = failures.front();
            failures.pop_front();
            return error;
        }
        MetalRendererOptions own = options;
        own.shaderDirectory.reset();
        auto made = MetalTerminalRenderer::make(target, own);
        if (auto* renderer = std::get_if<std::shared_ptr<MetalTerminalRenderer>>(&made))
            renderers.push_back(*renderer);
        return made;
    }

    std::shared_ptr<platform::gpu::RecordingDevice> device =
        std::make_shared<platform::gpu::RecordingDevice>();
    bool deviceAvailable = true;
    /// The errors the next renderers fail with, in order.
    std::deque<MetalError> failures;
    int surfacesMade = 0;
    std::vector<std::weak_ptr<MetalTerminalRenderer>> renderers;
    std::vector<std::shared_ptr<metaltest::SurfaceTarget>> layers;
    std::vector<std::shared_ptr<AreaTarget>> areas;
};

/// The view on the recording host with the recording surfaces, and the log lines it writes.
struct MetalViewFixture : MacViewFixtureOf<MacTerminalView>
{
    explicit MetalViewFixture(bool layerSurface)
    {
        platform::setLogSink([this](const platform::LogRecord& record) { log.emplace_back(record.message); });
        mac().setMetalSurfaceProvider(provider);
        mac().setUsesMetalLayerSurface(layerSurface);
    }
    ~MetalViewFixture()
    {
        freeRenderer();
        mac().updateUiClosed();
        platform::setLogSink({});
    }

    /// The renderer drawing now, or null.
    std::shared_ptr<MetalTerminalRenderer> renderer() { return mac().metalRenderer(); }
    /// Completes every frame on the GPU.
    void completeFrames()
    {
        view->renderOwner().withRenderState([&] { provider->device->signalFences(); });
    }
    /// Holds the current renderer busy, as a frame that stays on the GPU would: its frame slot is
    /// taken until `freeRenderer`. The recording GPU finishes a frame whenever it is waited for,
    /// so only the slot can keep one in flight.
    /// A renderer change then waits a moment only, as the frame never completes on its own.
    void holdRenderer()
    {
        held = renderer();
        // Under the render-state lock, as the owner takes it, so no render-loop frame runs meanwhile.
        ASSERT_TRUE(held && view->renderOwner().withRenderState(
                                [&] { return held->acquireFrameSlot(std::chrono::seconds(5)); }));
        view->renderOwner().setRendererWait(std::chrono::milliseconds(100));
    }
    void freeRenderer()
    {
        if (held)
            view->renderOwner().withRenderState([&] { held->releaseFrameSlot(); });
        held.reset();
        view->renderOwner().setRendererWait(std::chrono::seconds(5));
    }
    /// Ticks and waits (with a deadline) until the current renderer has drawn `count` frames.
    bool waitForRenders(int count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            tickUntilPaused();
            settle();
            if (const auto current = renderer(); current && current->completedRenderCount() >= count)
                return true;
            // A GL area draws when its render signal comes.
            if (mac().metalView() && mac().metalView()->setDrawHandler && !provider->areas.empty())
                provider->areas.back()->fireRender();
            std::this_thread::yield();
        }
        return false;
    }
    /// The log lines that start with `prefix`.
    std::vector<std::string> logged(std::string_view prefix) const
    {
        std::vector<std::string> found;
        for (const std::string& line : log)
            if (line.rfind(prefix, 0) == 0)
                found.push_back(line);
        return found;
    }

    std::shared_ptr<RecordingSurfaceProvider> provider = std::make_shared<RecordingSurfaceProvider>();
    std::vector<std::string> log;
    std::shared_ptr<MetalTerminalRenderer> held;
};

} // namespace kestrovan::testing
