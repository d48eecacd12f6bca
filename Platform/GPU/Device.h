// A GPU device: one GL context and the operations the renderer performs on it.
//
// Two backends implement it: `GLDevice` calls OpenGL 3.3 core (or OpenGL ES 3.0) through
// libepoxy on a real context, and `RecordingDevice` draws nothing and writes down what it was
// asked, for tests that need no pixels. Every operation except `bindCurrent` and `info` needs the
// device's context current on the calling thread, which `bindCurrent` arranges for a scope; GL
// contexts are not thread-safe, so one thread at a time works with a device.
//
// Coordinates follow GL: a framebuffer's row 0 is its bottom row, and pixels read back come bottom
// row first. Colours are written unchanged (no sRGB conversion anywhere).
#pragma once

#include "Platform/GPU/GpuObjects.h"
#include "Platform/GPU/GpuTypes.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform::gpu {

/// The context made current for a scope; the destructor restores what was current before.
class ContextScope
{
public:
    ContextScope() = default;
    ContextScope(bool current, std::function<void()> restore)
        : current_(current), restore_(std::move(restore))
    {}
    ContextScope(ContextScope&& other) noexcept
        : current_(std::exchange(other.current_, false)), restore_(std::exchange(other.restore_, {}))
    {}
    ContextScope& operator=(ContextScope&&) = delete;
    ~ContextScope()
    {
        if (restore_)
            restore_();
    }

    /// False when the context could not be made current; nothing may be drawn then.
    bool isCurrent() const { return current_; }

private:
    bool current_ = false;
    std::function<void()> restore_;
};

/// One render pass: the framebuffer drawn into (a GL name; 0 is the context's default) with its
/// size, cleared first when `clear` is given.
struct RenderPass
{
    uint32_t framebuffer = 0;
    PixelSize size;
    std::optional<ClearColor> clear;
};

class Device
{
public:
    struct Info
    {
        /// `GL_RENDERER`.
        std::string renderer;
        /// `GL_MAX_TEXTURE_SIZE`.
        int maxTextureSize = 0;
        /// True for an OpenGL ES context.
        bool isES = false;
    };

    Device();
    virtual ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    virtual const Info& info() const = 0;
    /// Makes the context current on this thread until the scope ends.
    virtual ContextScope bindCurrent() = 0;

    // --- Objects ---------------------------------------------------------------------------------

    /// A buffer of `length` bytes (contents undefined); null when it cannot be made.
    virtual std::shared_ptr<Buffer> makeBuffer(size_t length) = 0;
    /// Copies `length` bytes into the buffer at `offset` (both within its length).
    virtual void writeBuffer(const Buffer& buffer, size_t offset, const void* bytes, size_t length) = 0;
    /// A zero-filled texture; null when GL reports an error (a size above the maximum, no memory),
    /// since GL would otherwise hand back a texture that samples as opaque black.
    virtual std::shared_ptr<Texture> makeTexture(TextureFormat format, PixelSize size) = 0;
    /// Uploads `region` of the texture from `bytes`, rows `bytesPerRow` apart, first row to row
    /// `region.y`; false when GL reports an error.
    virtual bool replaceRegion(const Texture& texture, PixelRect region, const uint8_t* bytes,
                               size_t bytesPerRow) = 0;
    /// Compiles one stage; null with the compiler's log in `log` on failure.
    virtual std::shared_ptr<Shader> compileShader(ShaderStage stage, std::string_view source,
                                                  std::string& log) = 0;
    /// Links a program whose attributes are read by location, whose `viewport` uniform is found
    /// and whose sampler reads texture unit 0; null with the linker's log in `log` on failure.
    virtual std::shared_ptr<Program> linkProgram(const Shader& vertex, const Shader& fragment,
                                                 std::string& log) = 0;
    /// A sampler with linear filtering and clamp-to-edge addressing; null when it cannot be made.
    virtual std::shared_ptr<Sampler> makeSampler() = 0;
    /// The vertex array every draw reads its records through; null when it cannot be made.
    virtual std::shared_ptr<VertexArray> makeVertexArray() = 0;
    /// A framebuffer drawing into `color`; null when it is incomplete.
    virtual std::shared_ptr<Framebuffer> makeFramebuffer(std::shared_ptr<Texture> color) = 0;

    // --- Drawing ---------------------------------------------------------------------------------

    /// Binds the pass's framebuffer, sets the GL viewport to its size and clears it.
    virtual void beginPass(const RenderPass& pass) = 0;
    /// Uses `program` with `blend` for the draws that follow.
    virtual void setPipeline(const Program& program, const BlendState& blend) = 0;
    /// Sets the current program's `viewport` uniform.
    virtual void setViewportSize(const Program& program, float width, float height) = 0;
    /// Binds `texture` with `sampler` to texture unit 0.
    virtual void bindTexture(const Texture& texture, const Sampler& sampler) = 0;
    /// Draws `recordCount` records of `layout` from the start of `buffer`: six vertices per record
    /// (as instances) when the layout is per instance, one vertex per record otherwise.
    virtual void draw(const VertexArray& vertexArray, const Buffer& buffer, const VertexLayout& layout,
                      uint32_t recordCount) = 0;
    /// Sends what was drawn to the GPU without waiting.
    virtual void flush() = 0;
    /// A fence after everything submitted so far; null when it cannot be made.
    virtual std::shared_ptr<Fence> insertFence() = 0;
    /// Whether the GPU has passed the fence, without waiting.
    virtual bool isSignalled(const Fence& fence) = 0;
    /// Waits up to `timeout` for the fence; true once it is signalled.
    virtual bool waitForFence(const Fence& fence, std::chrono::nanoseconds timeout) = 0;
    /// Reads `rect` of a framebuffer into `bgra` (4 bytes a pixel, blue, green, red, alpha; rows
    /// from the bottom up, tightly packed); false on failure.
    virtual bool readPixels(uint32_t framebuffer, PixelRect rect, uint8_t* bgra) = 0;

    /// Deletes the objects whose handles were dropped. Needs the context current.
    void collectReleased();
    /// Where dropped handles leave their names.
    const std::shared_ptr<ReleaseQueue>& releaseQueue() const { return releaseQueue_; }

protected:
    virtual void deleteObject(ObjectKind kind, uint64_t name) = 0;

private:
    std::shared_ptr<ReleaseQueue> releaseQueue_;
};

} // namespace platform::gpu
