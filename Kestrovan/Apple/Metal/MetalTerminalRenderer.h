// The GPU renderer of one terminal view: its device, command queue, glyph atlases, shader library,
// seven pipelines and sampler, and the submission of frames.
//
// Construction builds everything a frame needs, in a fixed order, with the device's context
// current; any failure is a `MetalError` and leaves no GL object behind. A frame is one pass into
// a drawable: bind, clear, draw, flush and fence; it completes when its fence signals, and only
// then are its vertex buffers offered again and its frame slot freed (one frame in flight).
// Completion is looked for at the start of every frame and, for a context on the main thread,
// from a main-loop timer while frames are pending.
//
// Until terminal frames are drawn here, the renderer draws one fixed pattern of cell and vertex
// records through all seven pipelines (`renderDiagnosticPattern`), which the surface diagnostics
// compare between targets.
#pragma once

#include "Kestrovan/Apple/Metal/BufferPool.h"
#include "Kestrovan/Apple/Metal/GlyphAtlas.h"
#include "Kestrovan/Apple/Metal/MetalCommandQueue.h"
#include "Kestrovan/Apple/Metal/MetalError.h"
#include "Kestrovan/Apple/Metal/MetalRenderTarget.h"
#include "Kestrovan/Apple/Metal/MetalShaderLibrary.h"
#include "Kestrovan/Apple/Metal/MetalVertexTypes.h"
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

/// Where the renderer's shader sources come from; the defaults are the built-in sources and the
/// development directory of `KESTROVAN_SHADER_DIR`.
struct MetalRendererOptions
{
    const MetalShaderSources* embeddedSources = nullptr;
    std::optional<std::string> shaderDirectory = environmentShaderDirectory();
};

/// A frame's pixels as read back once it completed: blue, green, red, alpha, bottom row first.
struct MetalRenderedImage
{
    platform::gpu::PixelSize size;
    std::vector<uint8_t> bgra;
};

class MetalTerminalRenderer
{
public:
    /// Atlases start at this side.
    static constexpr int64_t initialAtlasSize = 1024;
    /// The text every failed pipeline reports.
    static constexpr const char* pipelineFailureText = "text/color/cell";

    /// Builds the renderer for `target` on the target's device, or on the system's default
    /// device (which the target is then given) when it names none.
    static std::variant<std::shared_ptr<MetalTerminalRenderer>, MetalError>
    make(std::shared_ptr<MetalRenderTarget> target, const MetalRendererOptions& options = {});
    ~MetalTerminalRenderer();
    MetalTerminalRenderer(const MetalTerminalRenderer&) = delete;
    MetalTerminalRenderer& operator=(const MetalTerminalRenderer&) = delete;

    /// Draws the fixed pattern into `frame`, or into a frame from the detached surface when none
    /// is given. False when nothing was drawn: a frame still in flight, no drawable, or a context
    /// that cannot be made current.
    bool renderDiagnosticPattern(std::optional<MetalDrawableFrame> frame = std::nullopt);
    /// Completes the frames whose fences have signalled (binds the context).
    void pollCompletions();
    /// Looks for completion from main-loop timers while frames are pending: for a context that
    /// lives on the main thread.
    void setCompletionTimers(std::shared_ptr<platform::MainThreadTimers> timers);

    /// Uploads `records` and draws them with `pipeline` (and `texture` on unit 0 with the
    /// sampler); nothing for no records or when no buffer can be had. Inside a frame only.
    template <GPURecord T>
    void drawRecords(const MetalPipeline& pipeline, const platform::gpu::Texture* texture,
                     std::span<const T> records, platform::gpu::PixelSize viewport)
    {
        if (auto buffer = bufferPool_->makeBuffer(records))
            encodeDraw(pipeline, texture, *buffer, vertexLayout<T>(), uint32_t(records.size()), viewport);
    }

    const std::shared_ptr<platform::gpu::Device>& device() const { return device_; }
    MetalCommandQueue& commandQueue() { return *commandQueue_; }
    const std::shared_ptr<MetalRenderSurface>& renderSurface() const { return renderSurface_; }
    BufferPool& bufferPool() { return *bufferPool_; }
    GlyphAtlas& grayscaleAtlas() { return *grayscaleAtlas_; }
    GlyphAtlas& colorAtlas() { return *colorAtlas_; }
    const platform::gpu::Sampler& sampler() const { return *sampler_; }

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
    /// Frames committed so far.
    int completedRenderCount() const EXCLUDES(redrawLock_);

private:
    explicit MetalTerminalRenderer(std::shared_ptr<MetalRenderTarget> target);

    /// Every construction step after the device is chosen, its context current.
    std::optional<MetalError> build(const MetalRendererOptions& options);
    void encodeDraw(const MetalPipeline& pipeline, const platform::gpu::Texture* texture,
                    const platform::gpu::Buffer& buffer, const platform::gpu::VertexLayout& layout,
                    uint32_t count, platform::gpu::PixelSize viewport);
    void encodeDiagnosticPattern(const MetalDrawableFrame& frame);

    std::shared_ptr<MetalRenderTarget> target_;
    std::shared_ptr<MetalRenderSurface> renderSurface_;
    std::shared_ptr<platform::gpu::Device> device_;
    std::shared_ptr<MetalCommandQueue> commandQueue_;
    std::unique_ptr<BufferPool> bufferPool_;
    std::shared_ptr<GlyphAtlas> grayscaleAtlas_;
    std::shared_ptr<GlyphAtlas> colorAtlas_;
    std::shared_ptr<platform::gpu::Sampler> sampler_;
    /// One frame in flight: taken when a frame starts, given back when it completes. Shared with
    /// the completion handler, which does not hold the renderer.
    std::shared_ptr<std::binary_semaphore> frameSemaphore_;
    mutable platform::Mutex redrawLock_;
    int completedRenderCount_ GUARDED_BY(redrawLock_) = 0;
    std::optional<AtlasRegion> patternGrayRegion_;
    std::optional<AtlasRegion> patternColorRegion_;
};

} // namespace kestrovan
