// MetalTerminalRenderer: rendering a prepared frame, the frame slot and its completion, and the
// encoding of the thirteen layers.
#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"
#include "Kestrovan/Profiling.h"
#include "Platform/Dispatch/MainQueue.h"

#include <chrono>

namespace kestrovan {

namespace {

/// How long a frame asked to wait for the GPU waits at most.
constexpr std::chrono::seconds completionWait{5};
/// How long a render thread waits for the frame before it: longer than a software rasterizer takes
/// for a large frame, short enough not to hold the owner's frame lock for long when a GPU hangs.
constexpr std::chrono::milliseconds inFlightWait{100};

/// Ends a profiling interval however the scope is left.
struct IntervalScope
{
    ProfilingInterval interval;
    ~IntervalScope() { interval.end(); }
};

bool isBlinking(CursorStyle style)
{
    return style == CursorStyle::blinkBlock || style == CursorStyle::blinkUnderline ||
           style == CursorStyle::blinkBar;
}

} // namespace

bool MetalTerminalRenderer::acquireFrameSlot(std::chrono::duration<double> timeout)
{
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(timeout);
    while (!frameSemaphore_->try_acquire()) {
        // The slot comes back only when a completion is looked for, which needs the context.
        const platform::gpu::ContextScope scope = device_->bindCurrent();
        const auto now = std::chrono::steady_clock::now();
        if (!scope.isCurrent() || now >= deadline)
            return frameSemaphore_->try_acquire();
        if (lastCommandBuffer_)
            commandQueue_->waitUntilCompleted(lastCommandBuffer_, deadline - now);
        else
            commandQueue_->pollCompletions();
        if (frameSemaphore_->try_acquire())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
    }
    return true;
}

void MetalTerminalRenderer::releaseFrameSlot()
{
    frameSemaphore_->release();
}

void MetalTerminalRenderer::skipFrame()
{
    frameSemaphore_->release();
    redrawState_->state.withLock([](MetalRedrawState::Fields& fields) { fields.pendingRedraw = false; });
    redrawState_->requestRedraw();
}

bool MetalTerminalRenderer::waitForFrameInFlight(bool onRenderThread, bool contextCurrent)
{
    // A render thread has nothing else that would look for the completion: it waits, briefly,
    // and then draws the newest content itself.
    if (onRenderThread && contextCurrent && lastCommandBuffer_) {
        commandQueue_->waitUntilCompleted(lastCommandBuffer_, inFlightWait);
        if (frameSemaphore_->try_acquire())
            return true;
    }
    redrawState_->state.withLock([](MetalRedrawState::Fields& fields) { fields.pendingRedraw = true; });
    // Waited in vain on a render thread, or no context to look with: ask again rather than rely on
    // a completion no one polls.
    if (onRenderThread || !contextCurrent)
        redrawState_->requestRedraw();
    return false;
}

void MetalTerminalRenderer::updateCursorBlinkTimer(bool shouldBlink)
{
    if (const std::shared_ptr<platform::MainQueue> queue = platform::MainQueue::installed())
        MetalCursorBlinkController::updateCursorBlinkTimer(cursorBlinkController_, *redrawState_, shouldBlink,
                                                           *queue);
    else
        redrawState_->recordCursorBlinkWanted(shouldBlink);
}

void MetalTerminalRenderer::render(std::optional<MetalDrawableFrame> frame)
{
    const IntervalScope draw{ProfilingInterval::begin(ProfilingEvent::frameDraw)};
    const bool fromSurface = !frame.has_value();
    const platform::gpu::ContextScope scope = device_->bindCurrent();
    if (scope.isCurrent()) {
        // Completion first, so that a finished frame frees the slot; the buffers it lets go are
        // deleted right away.
        commandQueue_->pollCompletions();
        bufferPool_->beginFrame();
        device_->collectReleased();
    }
    // One frame in flight: a frame still on the GPU turns this one into a pending redraw.
    if (!frameSemaphore_->try_acquire() && !waitForFrameInFlight(fromSurface, scope.isCurrent()))
        return;
    std::optional<PreparedSnapshot> prepared = preparedSnapshot_.withLock(
        [](std::optional<PreparedSnapshot>& slot) { return std::exchange(slot, {}); });
    if (!prepared || !prepared->snapshot) {
        frameSemaphore_->release();
        return;
    }
    const TerminalSnapshot& snapshot = *prepared->snapshot;
    const SnapshotRenderContext& context = prepared->context;
    if (!scope.isCurrent()) {
        skipFrame();
        return;
    }
    glyphStore_->rasterizer().fontSmoothing = context.fontSmoothing;

    {
        const IntervalScope acquiring{ProfilingInterval::begin(ProfilingEvent::metalDrawable)};
        if (!frame && renderSurface_)
            frame = renderSurface_->acquireDrawableFrame();
    }
    if (!frame || frame->drawable.size.isEmpty()) {
        skipFrame();
        return;
    }
    const platform::gpu::PixelSize viewport = frame->drawable.size;

    const bool shouldBlink = isBlinking(snapshot.cursorStyle) && snapshot.cursor &&
                             !snapshot.cursor->hidden && context.cursorHasFocus;
    updateCursorBlinkTimer(shouldBlink);
    DrawData data;
    {
        const IntervalScope building{ProfilingInterval::begin(ProfilingEvent::metalBuildDrawData)};
        data = buildDrawData(snapshot, context);
    }
    if (capturesDrawData)
        lastDrawData = data;

    const IntervalScope encoding{ProfilingInterval::begin(ProfilingEvent::metalEncode)};
    std::shared_ptr<MetalCommandBuffer> commandBuffer = commandQueue_->makeCommandBuffer();
    if (!commandBuffer) {
        skipFrame();
        return;
    }
    // The completion holds the slot and the redraw state, not the renderer: slot, presented hook,
    // then the redraw asked for while the frame was on the GPU.
    commandBuffer->addCompletedHandler([semaphore = frameSemaphore_, redrawState = redrawState_] {
        semaphore->release();
        terminalFramePresentedHandler().call();
        const bool pending = redrawState->state.withLock(
            [](MetalRedrawState::Fields& fields) { return std::exchange(fields.pendingRedraw, false); });
        if (pending)
            redrawState->requestRedraw();
    });
    bufferPool_->beginFrame();

    // The clear colour premultiplied, as every pixel of the target is.
    const ColorSIMD background = colorSIMDCache_.lookup(context.effectiveBackgroundColor);
    platform::gpu::RenderPass pass = frame->renderPassDescriptor;
    pass.clear = platform::gpu::ClearColor{background[0] * background[3], background[1] * background[3],
                                           background[2] * background[3], background[3]};
    device_->beginPass(pass);
    encodeFrame(data, context, viewport);
    commitFrame(std::move(commandBuffer), *frame);
}

void MetalTerminalRenderer::commitFrame(std::shared_ptr<MetalCommandBuffer> commandBuffer,
                                        MetalDrawableFrame& frame)
{
    {
        platform::MutexLock guard(redrawLock_);
        ++completedRenderCount_;
    }
    profileTotals_.recordCompletedRender();
    // The frame's buffers return to the pool only once the GPU has finished with them.
    if (auto batch = bufferPool_->recycler().retainUntilCompletion(bufferPool_->frameBuffers())) {
        std::weak_ptr<MetalBufferRecycler> recycler = bufferPool_->sharedRecycler();
        commandBuffer->addCompletedHandler([recycler, id = *batch] {
            if (auto alive = recycler.lock())
                alive->complete(id);
        });
    }
    lastCommandBuffer_ = commandBuffer;
    commandQueue_->commit(commandBuffer);
    if (frame.drawable.present)
        frame.drawable.present();
    if (waitForCompletionAfterCommit)
        commandQueue_->waitUntilCompleted(commandBuffer, completionWait);
    if (capturesRenderedTexture) {
        MetalRenderedImage image{frame.drawable.size, {}};
        image.bgra.resize(size_t(image.size.width) * size_t(image.size.height) * 4);
        if (device_->readPixels(frame.drawable.framebuffer, {0, 0, image.size.width, image.size.height},
                                image.bgra.data()))
            lastRenderedTexture = std::move(image);
        else
            lastRenderedTexture.reset();
    }
}

void MetalTerminalRenderer::setLayer(const MetalPipeline& pipeline, const platform::gpu::Texture* texture,
                                     platform::gpu::PixelSize viewport)
{
    device_->setPipeline(*pipeline.program, pipeline.blend);
    device_->setViewportSize(*pipeline.program, float(viewport.width), float(viewport.height));
    if (texture)
        device_->bindTexture(*texture, *sampler_);
}

void MetalTerminalRenderer::drawBuffer(const platform::gpu::Buffer& buffer,
                                       const platform::gpu::VertexLayout& layout, uint32_t count)
{
    device_->draw(commandQueue_->vertexArray(), buffer, layout, count);
}

namespace {

/// One cell layer of the per-row mode: the layer is set up once, and only when some row has
/// records for it; each such row then draws its own buffer.
template <typename Record, typename Select>
void encodeRowLayer(const std::vector<RowDrawBuffers>& rows, Select select,
                    const std::function<void()>& setUp, platform::gpu::Device& device,
                    const platform::gpu::VertexArray& vertexArray)
{
    bool set = false;
    for (const RowDrawBuffers& row : rows) {
        const auto [buffer, count] = select(row);
        if (!buffer || count == 0)
            continue;
        if (!set) {
            setUp();
            set = true;
        }
        device.draw(vertexArray, *buffer, vertexLayout<Record>(), uint32_t(count));
    }
}

} // namespace

void MetalTerminalRenderer::encodeFrame(const DrawData& data, const SnapshotRenderContext& context,
                                        platform::gpu::PixelSize viewport)
{
    const MetalPipeline& backgroundPipeline =
        context.translucentCellBackgroundAlpha ? cellBackgroundReplacePipeline : cellColorPipeline;
    if (data.frame) {
        drawFrameData(*data.frame, backgroundPipeline, viewport);
    } else {
        const auto& rows = data.rows;
        const platform::gpu::VertexArray& vertexArray = commandQueue_->vertexArray();
        const auto layer = [&](const MetalPipeline& pipeline, const platform::gpu::Texture* texture) {
            return std::function<void()>([&, texture] { setLayer(pipeline, texture, viewport); });
        };
        using Row = const RowDrawBuffers&;
        drawImageRows(rows, &RowDrawBuffers::belowBackgroundImageBuffers, viewport);
        encodeRowLayer<ColorCell>(
            rows,
            [](Row r) {
                return std::pair{r.backgroundBuffer.get(), r.backgroundCount};
            },
            layer(backgroundPipeline, nullptr), *device_, vertexArray);
        drawImageRows(rows, &RowDrawBuffers::underImageBuffers, viewport);
        encodeRowLayer<ColorCell>(
            rows,
            [](Row r) {
                return std::pair{r.powerlineJoinBuffer.get(), r.powerlineJoinCount};
            },
            layer(cellColorPipeline, nullptr), *device_, vertexArray);
        encodeRowLayer<TextCell>(
            rows,
            [](Row r) {
                return std::pair{r.glyphGrayBuffer.get(), r.glyphGrayCount};
            },
            layer(cellTextGrayPipeline, grayscaleAtlas_->texture().get()), *device_, vertexArray);
        encodeRowLayer<TextCell>(
            rows,
            [](Row r) {
                return std::pair{r.glyphColorBuffer.get(), r.glyphColorCount};
            },
            layer(cellTextPipeline, colorAtlas_->texture().get()), *device_, vertexArray);
        encodeRowLayer<ColorCell>(
            rows,
            [](Row r) {
                return std::pair{r.decorationBuffer.get(), r.decorationCount};
            },
            layer(cellColorPipeline, nullptr), *device_, vertexArray);
        drawImageRows(rows, &RowDrawBuffers::placeholderImageBuffers, viewport);
        drawImageRows(rows, &RowDrawBuffers::overImageBuffers, viewport);
        drawImageRows(rows, &RowDrawBuffers::otherImageBuffers, viewport);
    }
    // The cursor over everything, from this frame's buffers in either mode.
    drawRecords<ColorVertex>(colorPipeline, nullptr, data.cursorColorVertices, viewport);
    drawRecords<GlyphVertex>(textGrayPipeline, grayscaleAtlas_->texture().get(), data.cursorGlyphVerticesGray,
                             viewport);
    drawRecords<GlyphVertex>(textPipeline, colorAtlas_->texture().get(), data.cursorGlyphVerticesColor,
                             viewport);
}

bool MetalTerminalRenderer::renderDiagnosticPattern(std::optional<MetalDrawableFrame> frame)
{
    const platform::gpu::ContextScope scope = device_->bindCurrent();
    if (!scope.isCurrent())
        return false;
    commandQueue_->pollCompletions();
    bufferPool_->beginFrame();
    device_->collectReleased();
    // One frame in flight: a frame still on the GPU makes this one wait for the next call.
    if (!frameSemaphore_->try_acquire())
        return false;
    if (!frame && renderSurface_)
        frame = renderSurface_->acquireDrawableFrame();
    if (!frame || frame->drawable.size.isEmpty()) {
        frameSemaphore_->release();
        return false;
    }
    auto commandBuffer = commandQueue_->makeCommandBuffer();
    commandBuffer->addCompletedHandler([semaphore = frameSemaphore_] { semaphore->release(); });
    encodeDiagnosticPattern(*frame);
    commitFrame(std::move(commandBuffer), *frame);
    return true;
}

} // namespace kestrovan
