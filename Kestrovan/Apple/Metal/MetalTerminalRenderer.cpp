#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"

#include "Kestrovan/Apple/Metal/MetalSystemDevice.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Log/Log.h"

#include <cstdlib>
#include <string_view>

namespace kestrovan {

namespace {

using platform::gpu::BlendFactor;
using platform::gpu::BlendState;

const platform::Logger& rendererLog()
{
    static const platform::Logger logger("org.morvane.Kestrovan", "GPU");
    return logger;
}

/// Textured output is premultiplied.
constexpr BlendState premultipliedBlend{true, BlendFactor::one, BlendFactor::oneMinusSourceAlpha,
                                        BlendFactor::one, BlendFactor::oneMinusSourceAlpha};
/// Flat colours are straight.
constexpr BlendState straightBlend{true, BlendFactor::sourceAlpha, BlendFactor::oneMinusSourceAlpha,
                                   BlendFactor::one, BlendFactor::oneMinusSourceAlpha};
/// The cell colour, alpha included, replaces the pixel.
constexpr BlendState replaceBlend{};

struct PipelineRecipe
{
    MetalPipeline MetalTerminalRenderer::*pipeline;
    const char* vertexFunction;
    const char* fragmentFunction;
    BlendState blend;
};

/// The seven pipelines in the order they are built.
const PipelineRecipe pipelineRecipes[] = {
    {&MetalTerminalRenderer::textPipeline, "terminal_text_vertex", "terminal_text_fragment",
     premultipliedBlend},
    {&MetalTerminalRenderer::textGrayPipeline, "terminal_text_vertex", "terminal_text_fragment_gray",
     premultipliedBlend},
    {&MetalTerminalRenderer::cellTextPipeline, "terminal_cell_text_vertex", "terminal_text_fragment",
     premultipliedBlend},
    {&MetalTerminalRenderer::cellTextGrayPipeline, "terminal_cell_text_vertex", "terminal_text_fragment_gray",
     premultipliedBlend},
    {&MetalTerminalRenderer::colorPipeline, "terminal_color_vertex", "terminal_color_fragment",
     straightBlend},
    {&MetalTerminalRenderer::cellColorPipeline, "terminal_cell_color_vertex", "terminal_color_fragment",
     straightBlend},
    {&MetalTerminalRenderer::cellBackgroundReplacePipeline, "terminal_cell_color_vertex",
     "terminal_color_fragment", replaceBlend},
};

} // namespace

std::variant<std::shared_ptr<MetalTerminalRenderer>, MetalError>
MetalTerminalRenderer::make(std::shared_ptr<MetalRenderTarget> target, const MetalRendererOptions& options)
{
    std::shared_ptr<MetalTerminalRenderer> renderer(new MetalTerminalRenderer(target, options));
    // The target's device, else the system's default one.
    std::shared_ptr<platform::gpu::Device> device = target->renderDevice();
    if (!device)
        device = systemDefaultMetalDevice();
    if (!device)
        return MetalError::deviceUnavailable;
    const platform::gpu::ContextScope scope = device->bindCurrent();
    if (!scope.isCurrent())
        return MetalError::deviceUnavailable;
    renderer->device_ = device;
    target->setRenderDevice(device);
    renderer->renderSurface_ = target->detachedRenderSurface();
    if (auto error = renderer->build(options)) {
        // Everything made so far goes, and the context deletes it now.
        renderer.reset();
        device->collectReleased();
        return *error;
    }
    // The library's shaders are no longer needed once linked.
    device->collectReleased();
    // A target that draws by itself draws on the main thread: there its frames also complete
    // from a main-loop timer, so that a frame's completion does not wait for the next frame.
    if (!target->needsExternalDrawCall() && platform::MainQueue::installed())
        renderer->setCompletionTimers(platform::MainThreadTimers::system());
    return renderer;
}

MetalTerminalRenderer::MetalTerminalRenderer(std::shared_ptr<MetalRenderTarget> target,
                                             const MetalRendererOptions& options)
    : target_(std::move(target)), redrawState_(std::make_shared<MetalRedrawState>()),
      frameSemaphore_(std::make_shared<std::binary_semaphore>(1)),
      profileStatistics_(options.profileStatistics), profileTotals_(options.profileStatistics)
{
    cursorBlinkController_ = std::make_shared<MetalCursorBlinkController>(
        redrawState_, MetalCursorBlinkController::rendererInterval,
        options.blinkTimers ? options.blinkTimers : platform::MainThreadTimers::system());
}

MetalTerminalRenderer::~MetalTerminalRenderer()
{
    // The blink timer lives on the main thread; it stops itself once the controller is gone.
    redrawState_->state.withLock([](MetalRedrawState::Fields& fields) {
        fields.callback = nullptr;
        fields.callbackConfigured = false;
    });
}

bool metalProfileStatisticsEnabled()
{
    static const bool enabled = [] {
        const char* value = std::getenv("KESTROVAN_PROFILE_STATS");
        return value && std::string_view(value) == "1";
    }();
    return enabled;
}

std::optional<MetalError> MetalTerminalRenderer::build(const MetalRendererOptions& options)
{
    bufferPool_ = std::make_unique<BufferPool>(device_);
    commandQueue_ = MetalCommandQueue::make(device_);
    if (!commandQueue_)
        return MetalError::commandQueueUnavailable;
    grayscaleAtlas_ = GlyphAtlas::make(device_, initialAtlasSize,
                                       GlyphAtlas::recommendedMaxSize(*device_, GlyphAtlasFormat::grayscale),
                                       GlyphAtlasFormat::grayscale);
    if (!grayscaleAtlas_)
        return MetalError::atlasUnavailable;
    colorAtlas_ = GlyphAtlas::make(device_, initialAtlasSize,
                                   GlyphAtlas::recommendedMaxSize(*device_, GlyphAtlasFormat::bgra),
                                   GlyphAtlasFormat::bgra);
    if (!colorAtlas_)
        return MetalError::atlasUnavailable;
    glyphStore_ = std::make_unique<MetalGlyphStore>(grayscaleAtlas_, colorAtlas_);
    imageTextures_ = std::make_unique<MetalImageTextures>(device_);

    auto made = makeShaderLibrary(*device_,
                                  options.embeddedSources ? *options.embeddedSources : builtInShaderSources(),
                                  options.shaderDirectory);
    if (auto* error = std::get_if<MetalError>(&made))
        return *error;
    const MetalShaderLibrary& library = std::get<MetalShaderLibrary>(made);
    // All drawables are RGBA8; GL programs do not depend on the target's format.
    (void)target_->renderPixelFormat();

    for (const PipelineRecipe& recipe : pipelineRecipes) {
        auto vertex = library.function(recipe.vertexFunction);
        auto fragment = library.function(recipe.fragmentFunction);
        if (!vertex || !fragment)
            return MetalError::pipelineCreationFailed(pipelineFailureText);
        std::string log;
        auto program = device_->linkProgram(*vertex, *fragment, log);
        if (!program) {
            rendererLog().logf(platform::LogLevel::error, "linking %s with %s failed: %s",
                               recipe.vertexFunction, recipe.fragmentFunction, log.c_str());
            return MetalError::pipelineCreationFailed(pipelineFailureText);
        }
        this->*recipe.pipeline = MetalPipeline{std::move(program), recipe.blend};
    }

    sampler_ = device_->makeSampler();
    if (!sampler_)
        return MetalError::samplerUnavailable;
    return std::nullopt;
}

int MetalTerminalRenderer::completedRenderCount() const
{
    platform::MutexLock guard(redrawLock_);
    return completedRenderCount_;
}

void MetalTerminalRenderer::pollCompletions()
{
    const platform::gpu::ContextScope scope = device_->bindCurrent();
    if (scope.isCurrent())
        commandQueue_->pollCompletions();
}

void MetalTerminalRenderer::setCompletionTimers(std::shared_ptr<platform::MainThreadTimers> timers)
{
    commandQueue_->setMainLoopPolling(std::move(timers));
}

void MetalTerminalRenderer::setRedrawCallback(std::function<void()> callback)
{
    redrawState_->state.withLock([&](MetalRedrawState::Fields& fields) {
        fields.callbackConfigured = callback != nullptr;
        fields.callback = std::move(callback);
    });
}

void MetalTerminalRenderer::resetRenderCounter()
{
    {
        platform::MutexLock guard(redrawLock_);
        completedRenderCount_ = 0;
    }
    profileTotals_.resetRenderCounter();
}

void MetalTerminalRenderer::setPreparedSnapshot(std::optional<PreparedSnapshot> prepared)
{
    preparedSnapshot_.withLock([&](std::optional<PreparedSnapshot>& slot) { slot = std::move(prepared); });
}

bool MetalTerminalRenderer::hasPreparedSnapshot() const
{
    return preparedSnapshot_.withLock(
        [](const std::optional<PreparedSnapshot>& slot) { return slot.has_value(); });
}

} // namespace kestrovan
