// Terminal frames drawn by the GPU renderer on the recording device: a terminal fed with output,
// its snapshot refreshed as frame preparation refreshes it, and the renderer's frames with what
// they issued (programs, textures, uploads, draws) and what its counters saw.
#pragma once

#include "Kestrovan/Apple/FrameTestSupport.h"
#include "Kestrovan/Apple/Metal/MetalOffscreenTarget.h"
#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"
#include "Kestrovan/Apple/TerminalRenderOwner.h"
#include "Kestrovan/RecordingTerminalDelegate.h"
#include "Platform/GPU/RecordingDevice.h"

#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

namespace metaltest {

/// A terminal of `cols` x `rows` cells of 8 x 16 points drawn by a renderer counting its work.
struct RecordingFrames
{
    RecordingFrames(int cols, int rows, int scrollback = 100)
        : device(std::make_shared<platform::gpu::RecordingDevice>()),
          target(std::make_shared<kestrovan::MetalOffscreenTarget>(device,
                                                                   platform::Size{8.0 * cols, 16.0 * rows})),
          terminal(cols, rows, scrollback), view(kestrovan::testing::viewState(cols, rows))
    {
        kestrovan::MetalRendererOptions options;
        options.shaderDirectory.reset();
        options.profileStatistics = true;
        auto made = kestrovan::MetalTerminalRenderer::make(target, options);
        renderer = std::get<std::shared_ptr<kestrovan::MetalTerminalRenderer>>(made);
        snapshot = std::make_shared<kestrovan::TerminalSnapshot>();
    }

    void feed(std::string_view text) { terminal.t().feed(text); }

    void refresh(const kestrovan::SnapshotSelectionState& selection = {})
    {
        kestrovan::testing::refresh(*snapshot, terminal.t(), view, selection);
    }

    /// Refreshes and draws a frame into the target, its completion looked for first.
    void render(const kestrovan::SnapshotSelectionState& selection = {})
    {
        refresh(selection);
        device->signalFences();
        renderer->pollCompletions();
        renderer->setPreparedSnapshot(kestrovan::PreparedSnapshot{snapshot, *snapshot->renderContext});
        renderer->render(target->acquireDrawableFrame());
    }

    /// The rows rebuilt by the frames since the counters were last reset.
    int64_t rowsRebuilt() const { return renderer->profileTotals().rowsRebuilt; }

    /// The device's events that start with `prefix`.
    std::vector<std::string> events(std::string_view prefix) const
    {
        std::vector<std::string> found;
        for (const std::string& event : device->events())
            if (event.rfind(prefix, 0) == 0)
                found.push_back(event);
        return found;
    }

    std::shared_ptr<platform::gpu::RecordingDevice> device;
    std::shared_ptr<kestrovan::MetalOffscreenTarget> target;
    kestrovan::testing::TerminalFixture terminal;
    kestrovan::FrameViewState view;
    std::shared_ptr<kestrovan::TerminalSnapshot> snapshot;
    std::shared_ptr<kestrovan::MetalTerminalRenderer> renderer;
};

/// The drawables of an offscreen target, refused while `refusals` lasts.
class RefusingSurface final : public kestrovan::MetalRenderSurface
{
public:
    explicit RefusingSurface(std::shared_ptr<kestrovan::MetalOffscreenTarget> target)
        : target_(std::move(target))
    {}
    std::optional<kestrovan::MetalDrawableFrame> acquireDrawableFrame() override
    {
        if (refusals > 0) {
            --refusals;
            return std::nullopt;
        }
        return target_->acquireDrawableFrame();
    }
    int refusals = 0;

private:
    std::shared_ptr<kestrovan::MetalOffscreenTarget> target_;
};

/// A target drawn by whoever calls the renderer (the render loop), through its detached surface:
/// the drawables of an offscreen target.
class SurfaceTarget final : public kestrovan::MetalRenderTarget
{
public:
    explicit SurfaceTarget(std::shared_ptr<kestrovan::MetalOffscreenTarget> offscreen)
        : offscreen_(offscreen), surface_(std::make_shared<RefusingSurface>(offscreen))
    {}
    std::shared_ptr<platform::gpu::Device> renderDevice() const override
    {
        return offscreen_->renderDevice();
    }
    void setRenderDevice(std::shared_ptr<platform::gpu::Device> device) override
    {
        offscreen_->setRenderDevice(std::move(device));
    }
    platform::gpu::TextureFormat renderPixelFormat() const override
    {
        return offscreen_->renderPixelFormat();
    }
    void setRenderDrawableSize(platform::Size size) override { offscreen_->setRenderDrawableSize(size); }
    void setRenderContentsScale(double scale) override { offscreen_->setRenderContentsScale(scale); }
    std::shared_ptr<kestrovan::MetalRenderSurface> detachedRenderSurface() const override { return surface_; }
    std::optional<kestrovan::MetalDrawableFrame> acquireDrawableFrame() override
    {
        return surface_->acquireDrawableFrame();
    }
    bool needsExternalDrawCall() const override { return true; }
    void requestDisplay() override {}

    const std::shared_ptr<RefusingSurface>& surface() const { return surface_; }

private:
    std::shared_ptr<kestrovan::MetalOffscreenTarget> offscreen_;
    std::shared_ptr<RefusingSurface> surface_;
};

/// A renderer of a surface target on the recording device, attached to `owner` as the render
/// loop's renderer, keeping its draw data, with the owner's mailbox holding a view of `cols` x
/// `rows` cells.
struct AttachedRenderer
{
    AttachedRenderer(kestrovan::TerminalRenderOwner& owner, int cols, int rows)
        : device(std::make_shared<platform::gpu::RecordingDevice>()),
          target(std::make_shared<SurfaceTarget>(std::make_shared<kestrovan::MetalOffscreenTarget>(
              device, platform::Size{8.0 * cols, 16.0 * rows})))
    {
        kestrovan::MetalRendererOptions options;
        options.shaderDirectory.reset();
        renderer = std::get<std::shared_ptr<kestrovan::MetalTerminalRenderer>>(
            kestrovan::MetalTerminalRenderer::make(target, options));
        renderer->capturesDrawData = true;
        EXPECT_TRUE(owner.replaceMetalRenderer(renderer, true));
        owner.mailbox().state.withLock([&](kestrovan::TerminalRenderMailbox::State& box) {
            box.latestViewState = kestrovan::testing::viewState(cols, rows);
        });
    }

    std::shared_ptr<platform::gpu::RecordingDevice> device;
    std::shared_ptr<SurfaceTarget> target;
    std::shared_ptr<kestrovan::MetalTerminalRenderer> renderer;
};

} // namespace metaltest
