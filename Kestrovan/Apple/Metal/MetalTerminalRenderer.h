// The GPU renderer of one terminal view: its device, command queue, glyph atlases, shader library,
// seven pipelines and sampler, and the drawing of the frames the render owner prepares.
//
// Construction builds everything a frame needs, in a fixed order, with the device's context
// current; any failure is a `MetalError` and leaves no GL object behind. The owner stores each
// prepared frame (a `TerminalSnapshot` with its render context) in the renderer and calls `render`
// on the thread that owns the target's context: the main thread for the GL area (from its render
// signal, with the area's drawable), the render loop's thread for the texture surface (the frame's
// drawable then comes from the detached surface). A frame is built into draw data
// (MetalDrawDataBuild.cpp: rows reused from the row cache, prepared by MetalRowPreparation.cpp or
// MetalPlainRowPreparation.cpp and placed by MetalRowPlacement.cpp; the cursor in
// MetalCursorDrawData.cpp), encoded in thirteen layers and committed (MetalFrameRendering.cpp).
//
// One frame is in flight at a time: its slot is taken when it starts and given back when its
// fence signals. The completion then calls the frame-presented hook and serves a redraw asked
// for meanwhile, in that order, on the thread that polls it (at the start of each frame, from a
// main-loop timer for a main-thread context, and by waiting on the render thread). A frame that
// could not be drawn (no drawable, no usable context) asks for a redraw at once, so the owner
// prepares and draws again as soon as the target can give a frame.
//
// How a view binds it: `make` it for its target; give it to the render owner with
// `replaceMetalRenderer(renderer, target->needsExternalDrawCall())`; set the redraw callback to
// publish needs-frame on the view's frame signal. The texture surface is then drawn by the owner's
// render-loop step (`render()` takes a drawable from the detached surface); the GL area draws from
// its draw handler, on the main thread, with the area's drawable, under the owner's render-state
// lock: `owner.withRenderState([&] { renderer->render(area->acquireDrawableFrame()); })` (after
// refreshing the snapshot when none is prepared). Input restarts the cursor's blink phase
// (`cursorBlinkController()->resetAfterInput()`); teardown shuts the blink down and waits for the
// frame in flight (`acquireFrameSlot`).
#pragma once

#include "Kestrovan/Apple/FrameRenderer.h"
#include "Kestrovan/Apple/Metal/BufferPool.h"
#include "Kestrovan/Apple/Metal/DrawData.h"
#include "Kestrovan/Apple/Metal/GlyphAtlas.h"
#include "Kestrovan/Apple/Metal/MetalColorSIMDCache.h"
#include "Kestrovan/Apple/Metal/MetalCommandQueue.h"
#include "Kestrovan/Apple/Metal/MetalCursorBlinkController.h"
#include "Kestrovan/Apple/Metal/MetalError.h"
#include "Kestrovan/Apple/Metal/MetalGlyphStore.h"
#include "Kestrovan/Apple/Metal/MetalImageTextures.h"
#include "Kestrovan/Apple/Metal/MetalProfileCounters.h"
#include "Kestrovan/Apple/Metal/MetalRenderTarget.h"
#include "Kestrovan/Apple/Metal/MetalShaderLibrary.h"
#include "Kestrovan/Apple/Metal/MetalVertexTypes.h"
#include "Kestrovan/Apple/Metal/PlainTextFont.h"
#include "Kestrovan/Apple/Metal/PreparedRow.h"
#include "Kestrovan/Apple/Metal/RowCache.h"
#include "Kestrovan/Apple/Metal/ShaperCache.h"
#include "Kestrovan/Apple/SnapshotTextBuilder.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"
#include "Kestrovan/Locked.h"
#include "Platform/Sync/Mutex.h"

#include <memory>
#include <optional>
#include <semaphore>
#include <span>
#include <variant>
#include <vector>

namespace kestrovan {

/// A linked program with the blending it draws with.
struct MetalPipeline
{
    std::shared_ptr<platform::gpu::Program> program;
    platform::gpu::BlendState blend;
};

/// True when `KESTROVAN_PROFILE_STATS` is exactly "1" (read once).
bool metalProfileStatisticsEnabled();

/// Where the renderer's shader sources come from (the built-in sources and the development
/// directory of `KESTROVAN_SHADER_DIR` by default), whether it counts its work, and the timers of
/// its cursor blink.
struct MetalRendererOptions
{
    const MetalShaderSources* embeddedSources = nullptr;
    std::optional<std::string> shaderDirectory = environmentShaderDirectory();
    bool profileStatistics = metalProfileStatisticsEnabled();
    std::shared_ptr<platform::MainThreadTimers> blinkTimers;
};

/// A frame's pixels as read back once it completed: blue, green, red, alpha, bottom row first.
struct MetalRenderedImage
{
    platform::gpu::PixelSize size;
    std::vector<uint8_t> bgra;
};

/// The cursor's vertices: its shape, and the glyph under a block cursor from either atlas.
struct CursorDrawData
{
    std::vector<ColorVertex> colorVertices;
    std::vector<GlyphVertex> glyphVerticesGray;
    std::vector<GlyphVertex> glyphVerticesColor;
};

class MetalTerminalRenderer final : public FrameRenderer
{
public:
    /// Atlases start at this side.
    static constexpr int64_t initialAtlasSize = 1024;
    /// The text every failed pipeline reports.
    static constexpr const char* pipelineFailureText = "text/color/cell";
    /// A frame is built at most this many times more when atlases keep changing under it.
    static constexpr int maximumRebuildPasses = 5;

    /// Builds the renderer for `target` on the target's device, or on the system's default
    /// device (which the target is then given) when it names none.
    static std::variant<std::shared_ptr<MetalTerminalRenderer>, MetalError>
    make(std::shared_ptr<MetalRenderTarget> target, const MetalRendererOptions& options = {});
    ~MetalTerminalRenderer() override;
    MetalTerminalRenderer(const MetalTerminalRenderer&) = delete;
    MetalTerminalRenderer& operator=(const MetalTerminalRenderer&) = delete;

    // --- The render owner's interface ------------------------------------------------------------

    /// Waits up to `timeout` for the frame in flight (binding the context to look at its fence)
    /// and takes the frame slot.
    bool acquireFrameSlot(std::chrono::duration<double> timeout) override;
    void releaseFrameSlot() override;
    void setPreparedSnapshot(std::optional<PreparedSnapshot> prepared) override;
    bool hasPreparedSnapshot() const override;
    /// Draws the prepared snapshot into a drawable of the detached surface.
    void render() override { render(std::nullopt); }
    int completedRenderCount() const override EXCLUDES(redrawLock_);

    // --- Frames ----------------------------------------------------------------------------------

    /// Draws the prepared snapshot into `frame`, or into a frame from the detached surface when
    /// none is given, on the thread that owns the target's context. Returns nothing: a frame still
    /// in flight turns the call into a pending redraw; a frame that cannot be drawn asks for a
    /// redraw through the redraw callback.
    void render(std::optional<MetalDrawableFrame> frame);
    /// What asks the owner to prepare and draw a frame again (publishes needs-frame). Called on
    /// the rendering thread, possibly from inside `render`; it must only schedule.
    void setRedrawCallback(std::function<void()> callback);
    /// Completes the frames whose fences have signalled (binds the context).
    void pollCompletions();
    /// Looks for completion from main-loop timers while frames are pending: for a context that
    /// lives on the main thread.
    void setCompletionTimers(std::shared_ptr<platform::MainThreadTimers> timers);

    /// The draw data of a frame; at most six passes when atlases change under it.
    DrawData buildDrawData(const TerminalSnapshot& snapshot, const SnapshotRenderContext& context);
    /// A row's content resolved to atlas coordinates, pixels and colours (plain path first).
    metal::PreparedRow prepareRow(const TerminalSnapshotRow& row, int64_t absoluteRow,
                                  const SnapshotRenderContext& context, double cellWidth, double cellHeight,
                                  double yOffset, double scale);
    /// The cursor's shape and the glyph under a block cursor.
    CursorDrawData buildCursorDrawData(const TerminalSnapshot& snapshot, const SnapshotRenderContext& context,
                                       double scale, double cellWidth, double cellHeight, int64_t yDisp,
                                       int64_t firstRow, int64_t lastRow);

    /// Uploads `records` and draws them with `pipeline` (and `texture` on unit 0 with the
    /// sampler); nothing for no records or when no buffer can be had. Inside a frame only.
    template <GPURecord T>
    void drawRecords(const MetalPipeline& pipeline, const platform::gpu::Texture* texture,
                     std::span<const T> records, platform::gpu::PixelSize viewport)
    {
        if (auto buffer = bufferPool_->makeBuffer(records)) {
            setLayer(pipeline, texture, viewport);
            drawBuffer(*buffer, vertexLayout<T>(), uint32_t(records.size()));
        }
    }
    /// Draws the fixed pattern of the target tests into `frame`, or into a frame from the detached
    /// surface when none is given. False when nothing was drawn: a frame still in flight, no
    /// drawable, or a context that cannot be made current.
    bool renderDiagnosticPattern(std::optional<MetalDrawableFrame> frame = std::nullopt);

    // --- Parts ---------------------------------------------------------------------------------

    const std::shared_ptr<platform::gpu::Device>& device() const { return device_; }
    MetalCommandQueue& commandQueue() { return *commandQueue_; }
    const std::shared_ptr<MetalRenderSurface>& renderSurface() const { return renderSurface_; }
    BufferPool& bufferPool() { return *bufferPool_; }
    GlyphAtlas& grayscaleAtlas() { return *grayscaleAtlas_; }
    GlyphAtlas& colorAtlas() { return *colorAtlas_; }
    const platform::gpu::Sampler& sampler() const { return *sampler_; }
    MetalGlyphStore& glyphStore() { return *glyphStore_; }
    MetalImageTextures& imageTextures() { return *imageTextures_; }
    const ShaperCache& shaperCache() const { return shaperCache_; }
    const RowCache& rowCache() const { return rowCache_; }
    const std::shared_ptr<MetalRedrawState>& redrawState() const { return redrawState_; }
    const std::shared_ptr<MetalCursorBlinkController>& cursorBlinkController() const
    {
        return cursorBlinkController_;
    }
    /// The work counted since the last reset (profiling statistics on).
    MetalProfileCounters profileTotals() const { return profileTotals_.totals(); }
    /// Zeroes the totals and the render count; a build under way adds nothing to the new totals.
    void resetRenderCounter();

    MetalPipeline textPipeline;
    MetalPipeline textGrayPipeline;
    MetalPipeline cellTextPipeline;
    MetalPipeline cellTextGrayPipeline;
    MetalPipeline colorPipeline;
    MetalPipeline cellColorPipeline;
    MetalPipeline cellBackgroundReplacePipeline;

    /// When true, each frame waits for the GPU after it is committed.
    bool waitForCompletionAfterCommit = false;
    /// When true, each frame's pixels are read back into `lastRenderedTexture` once complete.
    bool capturesRenderedTexture = false;
    std::optional<MetalRenderedImage> lastRenderedTexture;
    /// When true, each frame's draw data is kept in `lastDrawData`.
    bool capturesDrawData = false;
    std::optional<DrawData> lastDrawData;
    /// Rows of printable ASCII in a plain font skip shaping.
    bool plainTextEnabled = true;

private:
    explicit MetalTerminalRenderer(std::shared_ptr<MetalRenderTarget> target,
                                   const MetalRendererOptions& options);

    /// Every construction step after the device is chosen, its context current.
    std::optional<MetalError> build(const MetalRendererOptions& options);

    // MetalFrameRendering.cpp
    /// Gives the slot back after a frame that could not be drawn and asks for a redraw: nothing is
    /// in flight, so no completion would ever ask for it.
    void skipFrame();
    /// The last frame is still on the GPU: waits for it on a render thread, else leaves a pending
    /// redraw for its completion. True when the slot was taken after all.
    bool waitForFrameInFlight(bool onRenderThread, bool contextCurrent);
    void updateCursorBlinkTimer(bool shouldBlink);
    void encodeFrame(const DrawData& data, const SnapshotRenderContext& context,
                     platform::gpu::PixelSize viewport);
    void commitFrame(std::shared_ptr<MetalCommandBuffer> commandBuffer, MetalDrawableFrame& frame);
    void setLayer(const MetalPipeline& pipeline, const platform::gpu::Texture* texture,
                  platform::gpu::PixelSize viewport);
    void drawBuffer(const platform::gpu::Buffer& buffer, const platform::gpu::VertexLayout& layout,
                    uint32_t count);
    void encodeDiagnosticPattern(const MetalDrawableFrame& frame);

    // MetalDrawDataBuild.cpp
    DrawData buildDrawDataPass(const TerminalSnapshot& snapshot, const SnapshotRenderContext& context);
    RowDrawBuffers makeRowBuffers(const RowDrawData& data, const RowDrawBuffers* reusing);
    std::vector<ImageDrawBuffer> makeImageDrawBuffers(const std::vector<ImageDraw>& draws);
    void drawFrameData(const FrameDrawData& data, const MetalPipeline& backgroundPipeline,
                       platform::gpu::PixelSize viewport);
    void drawImageRows(const std::vector<RowDrawBuffers>& rows,
                       std::vector<ImageDrawBuffer> RowDrawBuffers::*imageKey,
                       platform::gpu::PixelSize viewport);
    void drawImageBatches(const std::vector<ImageDraw>& draws, platform::gpu::PixelSize viewport);

    // MetalRowPreparation.cpp, MetalPlainRowPreparation.cpp
    std::optional<metal::PreparedRow> preparePlainRow(const TerminalSnapshotRow& row, int64_t absoluteRow,
                                                      const SnapshotRenderContext& context, double cellWidth,
                                                      double scale);
    Float4 color(const platform::NativeColor& color);

    std::shared_ptr<MetalRenderTarget> target_;
    std::shared_ptr<MetalRenderSurface> renderSurface_;
    std::shared_ptr<platform::gpu::Device> device_;
    std::shared_ptr<MetalCommandQueue> commandQueue_;
    std::unique_ptr<BufferPool> bufferPool_;
    std::shared_ptr<GlyphAtlas> grayscaleAtlas_;
    std::shared_ptr<GlyphAtlas> colorAtlas_;
    std::shared_ptr<platform::gpu::Sampler> sampler_;
    std::unique_ptr<MetalGlyphStore> glyphStore_;
    std::unique_ptr<MetalImageTextures> imageTextures_;
    ShaperCache shaperCache_;
    MetalColorSIMDCache colorSIMDCache_;
    SnapshotTextBuilder textBuilder_{4096};
    PlainTextFontCache plainTextFonts_;
    RowCache rowCache_;
    std::optional<CacheSignature> cacheSignature_;
    std::shared_ptr<MetalRedrawState> redrawState_;
    std::shared_ptr<MetalCursorBlinkController> cursorBlinkController_;
    /// One frame in flight: taken when a frame starts, given back when it completes. Shared with
    /// the completion handler, which does not hold the renderer.
    std::shared_ptr<std::binary_semaphore> frameSemaphore_;
    /// The frame committed last, whose fence a wait for the slot waits on.
    std::shared_ptr<MetalCommandBuffer> lastCommandBuffer_;
    mutable platform::Mutex redrawLock_;
    int completedRenderCount_ GUARDED_BY(redrawLock_) = 0;
    bool profileStatistics_ = false;
    MetalProfileCounters activeProfileCounters_;
    MetalProfileTotals profileTotals_;
    Locked<std::optional<PreparedSnapshot>> preparedSnapshot_;
    std::optional<AtlasRegion> patternGrayRegion_;
    std::optional<AtlasRegion> patternColorRegion_;
};

} // namespace kestrovan
