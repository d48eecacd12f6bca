// Frames on the recording device: what one frame issues, one frame in flight, completion by fence
// (polled at the start of the next frame or from a main-loop timer), and buffers that return to
// the pool only once their frame is complete.

#include "Kestrovan/Apple/Metal/MetalGLAreaTarget.h"
#include "Kestrovan/Apple/Metal/MetalOffscreenTarget.h"
#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"
#include "Platform/Dispatch/MainThreadTimers.h"
#include "Platform/Dispatch/ManualMainLoop.h"
#include "Platform/GPU/RecordingDevice.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>

namespace kestrovan {
namespace {

using platform::gpu::RecordingDevice;

struct Frames
{
    Frames()
        : device(std::make_shared<RecordingDevice>()),
          target(std::make_shared<MetalOffscreenTarget>(device, platform::Size{64, 32}))
    {
        MetalRendererOptions options;
        options.shaderDirectory.reset();
        auto made = MetalTerminalRenderer::make(target, options);
        renderer = std::get<std::shared_ptr<MetalTerminalRenderer>>(made);
        device->clearEvents();
    }

    /// Draws the pattern into the target's next drawable.
    bool draw() { return renderer->renderDiagnosticPattern(target->acquireDrawableFrame()); }

    /// The events of one kind, in order.
    std::vector<std::string> events(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const auto& event : device->events())
            if (event.rfind(prefix, 0) == 0)
                found.push_back(event);
        return found;
    }

    std::shared_ptr<RecordingDevice> device;
    std::shared_ptr<MetalOffscreenTarget> target;
    std::shared_ptr<MetalTerminalRenderer> renderer;
};

std::string pipelineLine(const MetalPipeline& pipeline, const char* blend)
{
    return "pipeline " + std::to_string(pipeline.program->name()) + " blend " + blend;
}

TEST(MetalFrameSubmissionTests, AFrameClearsDrawsThroughEveryPipelineThenFlushesAndFences)
{
    Frames f;
    ASSERT_TRUE(f.draw());
    const char* premultiplied = "one,oneMinusSourceAlpha;one,oneMinusSourceAlpha";
    const char* straight = "sourceAlpha,oneMinusSourceAlpha;one,oneMinusSourceAlpha";
    MetalTerminalRenderer& r = *f.renderer;
    EXPECT_EQ(f.events("pipeline"), (std::vector<std::string>{
                                        pipelineLine(r.cellBackgroundReplacePipeline, "off"),
                                        pipelineLine(r.cellColorPipeline, straight),
                                        pipelineLine(r.cellTextGrayPipeline, premultiplied),
                                        pipelineLine(r.cellTextPipeline, premultiplied),
                                        pipelineLine(r.cellColorPipeline, straight),
                                        pipelineLine(r.colorPipeline, straight),
                                        pipelineLine(r.textGrayPipeline, premultiplied),
                                        pipelineLine(r.textPipeline, premultiplied),
                                    }));
    const auto& events = f.device->events();
    const auto pass = std::find_if(events.begin(), events.end(),
                                   [](const std::string& e) { return e.rfind("pass", 0) == 0; });
    ASSERT_NE(pass, events.end());
    EXPECT_EQ(pass->substr(pass->size() - 11), "64x32 clear");
    // Cell records are drawn as instances, vertex records as vertices; every draw has the viewport.
    const auto draws = f.events("draw");
    EXPECT_EQ(draws.size(), 8u);
    EXPECT_EQ(std::count_if(draws.begin(), draws.end(),
                            [](const std::string& d) { return d.rfind("draw vertices 6 ", 0) == 0; }),
              3);
    EXPECT_EQ(f.events("viewport"), std::vector<std::string>(8, "viewport 64x32"));
    // The grey and colour atlases, each with the renderer's sampler.
    const auto textures = f.events("texture");
    EXPECT_EQ(textures.size(), 4u);
    EXPECT_EQ(f.events("texture " + std::to_string(r.grayscaleAtlas().texture()->name())).size(), 2u);
    // Flushed and fenced last.
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], "flush");
    EXPECT_EQ(events.back().rfind("fence ", 0), 0u);
    EXPECT_EQ(r.completedRenderCount(), 1);
}

TEST(MetalFrameSubmissionTests, OneFrameInFlightUntilItsFenceSignals)
{
    Frames f;
    ASSERT_TRUE(f.draw());
    std::set<uint64_t> frameBuffers;
    for (const auto& buffer : f.renderer->bufferPool().frameBuffers())
        frameBuffers.insert(buffer->name());
    auto& recycler = f.renderer->bufferPool().recycler();
    EXPECT_EQ(recycler.pendingBatchCount(), 1u);
    // Still on the GPU: the next frame draws nothing, and the buffers stay with the frame.
    EXPECT_FALSE(f.draw());
    EXPECT_EQ(f.renderer->completedRenderCount(), 1);
    EXPECT_EQ(recycler.pendingBatchCount(), 1u);
    // Signalled: the next frame finds the completion first, then draws with the same buffers.
    f.device->signalFences();
    ASSERT_TRUE(f.draw());
    EXPECT_EQ(f.renderer->completedRenderCount(), 2);
    // All of one small bucket: four came back idle, the rest were let go and made anew.
    const auto& again = f.renderer->bufferPool().frameBuffers();
    ASSERT_EQ(again.size(), frameBuffers.size());
    EXPECT_EQ(std::count_if(again.begin(), again.end(),
                            [&](const auto& b) { return frameBuffers.count(b->name()) == 1; }),
              std::min<long>(4, long(frameBuffers.size())));
    EXPECT_EQ(f.device->liveObjectCount(platform::gpu::ObjectKind::buffer), frameBuffers.size());
}

TEST(MetalFrameSubmissionTests, CompletionRunsFromTheMainLoopTimerWhileFramesArePending)
{
    Frames f;
    auto timers = std::make_shared<platform::ManualMainThreadTimers>();
    f.renderer->setCompletionTimers(timers);
    EXPECT_EQ(timers->activeCount(), 0u);
    ASSERT_TRUE(f.draw());
    EXPECT_EQ(timers->activeCount(), 1u);
    // The timer looks without waiting: nothing completes before the fence signals.
    timers->advance(MetalCommandQueue::pollInterval * 5);
    EXPECT_EQ(f.renderer->commandQueue().pendingCount(), 1u);
    f.device->signalFences();
    timers->advance(MetalCommandQueue::pollInterval);
    EXPECT_EQ(f.renderer->commandQueue().pendingCount(), 0u);
    EXPECT_EQ(f.renderer->bufferPool().recycler().pendingBatchCount(), 0u);
    // Nothing pending: the timer stops.
    EXPECT_EQ(timers->activeCount(), 0u);
    EXPECT_TRUE(f.draw());
    // A renderer let go with a frame pending takes its timer with it.
    EXPECT_EQ(timers->activeCount(), 1u);
    f.renderer.reset();
    EXPECT_EQ(timers->activeCount(), 0u);
}

/// A GL area on the recording device whose render signal a test fires.
class RecordingArea final : public platform::gpu::GLAreaView
{
public:
    explicit RecordingArea(std::shared_ptr<RecordingDevice> device) : device_(std::move(device)) {}
    std::shared_ptr<platform::gpu::Device> device() const override { return device_; }
    void setRenderHandler(std::function<void(const Drawable&)> handler) override
    {
        render = std::move(handler);
    }
    void queueRender() override {}
    platform::Size size() const override { return {32, 16}; }
    int scaleFactor() const override { return 1; }

    std::function<void(const Drawable&)> render;

private:
    std::shared_ptr<RecordingDevice> device_;
};

TEST(MetalFrameSubmissionTests, AMainThreadTargetsFramesCompleteFromTheMainLoop)
{
    // The GL area draws on the main thread, inside its render signal; no later frame may come to
    // find the completion, so the main loop looks for it.
    auto loop = std::make_shared<platform::ManualMainLoop>();
    platform::MainQueue::install(loop);
    auto device = std::make_shared<RecordingDevice>();
    auto area = std::make_shared<RecordingArea>(device);
    auto target = std::make_shared<MetalGLAreaTarget>(area);
    MetalRendererOptions options;
    options.shaderDirectory.reset();
    auto renderer =
        std::get<std::shared_ptr<MetalTerminalRenderer>>(MetalTerminalRenderer::make(target, options));
    bool drawn = false;
    target->setDrawHandler(
        [&] { drawn = renderer->renderDiagnosticPattern(target->acquireDrawableFrame()); });
    area->render({0, {32, 16}});
    ASSERT_TRUE(drawn);
    device->signalFences();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (renderer->commandQueue().pendingCount() > 0 && std::chrono::steady_clock::now() < deadline)
        if (loop->waitForWork(std::chrono::milliseconds(100)))
            loop->runUntilIdle();
    EXPECT_EQ(renderer->commandQueue().pendingCount(), 0u);
    EXPECT_EQ(renderer->bufferPool().recycler().pendingBatchCount(), 0u);
    renderer.reset();
    platform::MainQueue::install(nullptr);
}

TEST(MetalFrameSubmissionTests, HandlersRunInCommitOrderAfterTheirFences)
{
    auto device = std::make_shared<RecordingDevice>();
    auto queue = MetalCommandQueue::make(device);
    ASSERT_TRUE(queue);
    std::vector<std::string> ran;
    auto first = queue->makeCommandBuffer();
    first->addCompletedHandler([&] { ran.push_back("first: slot"); });
    first->addCompletedHandler([&] { ran.push_back("first: buffers"); });
    queue->commit(first);
    device->signalFences();
    auto second = queue->makeCommandBuffer();
    second->addCompletedHandler([&] { ran.push_back("second"); });
    queue->commit(second);
    // A frame without a fence completes right behind the one before it.
    device->failAt(RecordingDevice::Operation::insertFence);
    auto third = queue->makeCommandBuffer();
    third->addCompletedHandler([&] { ran.push_back("third"); });
    queue->commit(third);
    EXPECT_EQ(ran, (std::vector<std::string>{"first: slot", "first: buffers"}));
    EXPECT_EQ(queue->pendingCount(), 2u);
    // Waiting for a frame completes it and every frame before it.
    EXPECT_TRUE(queue->waitUntilCompleted(second, std::chrono::seconds(1)));
    EXPECT_EQ(ran, (std::vector<std::string>{"first: slot", "first: buffers", "second"}));
    EXPECT_EQ(queue->pollCompletions(), 1u);
    EXPECT_EQ(ran.back(), "third");
    EXPECT_EQ(queue->pollCompletions(), 0u);
}

TEST(MetalFrameSubmissionTests, WaitingAfterCommitAndCapturingGiveTheFinishedFrame)
{
    Frames f;
    f.renderer->waitForCompletionAfterCommit = true;
    f.renderer->capturesRenderedTexture = true;
    for (int frame = 0; frame < 3; ++frame)
        ASSERT_TRUE(f.draw()) << frame;
    ASSERT_TRUE(f.renderer->lastRenderedTexture);
    EXPECT_EQ(f.renderer->lastRenderedTexture->size, (platform::gpu::PixelSize{64, 32}));
    EXPECT_EQ(f.renderer->lastRenderedTexture->bgra.size(), 64u * 32u * 4u);
    EXPECT_EQ(f.renderer->commandQueue().pendingCount(), 0u);
    // No drawable (an empty target): nothing drawn, and the slot stays free.
    auto empty = std::make_shared<MetalOffscreenTarget>(f.device, platform::Size{});
    MetalRendererOptions options;
    options.shaderDirectory.reset();
    auto other =
        std::get<std::shared_ptr<MetalTerminalRenderer>>(MetalTerminalRenderer::make(empty, options));
    EXPECT_FALSE(other->renderDiagnosticPattern(empty->acquireDrawableFrame()));
    empty->setRenderDrawableSize({8, 8});
    EXPECT_TRUE(other->renderDiagnosticPattern(empty->acquireDrawableFrame()));
}

} // namespace
} // namespace kestrovan
